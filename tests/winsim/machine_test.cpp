#include "winsim/machine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/text.h"
#include "platform/win_types.h"
#include "tests/support/sim_fixture.h"
#include "winsim/reg_codec.h"
#include "winsim/show.h"

namespace winsim {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<std::uint8_t>;

class MachineTest : public ::testing::Test {
 protected:
  fs::path Dir() const { return root_ / "machine"; }
  fs::path Image() const { return Dir() / "registry.reg"; }

  void WriteImage(const std::string& bytes) const {
    fs::create_directories(Dir());
    std::ofstream(Image(), std::ios::binary) << bytes;
  }

  static std::string Read(const fs::path& file) { return testing_support::ReadFileBytes(file); }

  static ino_t Inode(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
  }

  testing_support::TempFolder temp_{"orvcard-machine-"};
  const fs::path root_ = temp_.path();
};

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";

std::string Utf8Of(std::span<const std::uint8_t> data) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return orv::Utf16ToUtf8(text);
}

// The data of HKLM\key\value as UTF-8 text with its terminators; "(missing)" when absent.
std::string Text(const Registry& registry, std::u16string_view key, std::u16string_view value,
                 std::uint32_t* type = nullptr) {
  const RegKey* found = Registry::Open(registry.HKLM(), key);
  const RegValue* data = found == nullptr ? nullptr : found->FindValue(value);
  if (data == nullptr) {
    return "(missing)";
  }
  if (type != nullptr) {
    *type = data->type();
  }
  return Utf8Of(data->data());
}

TEST_F(MachineTest, LoadReportsWhatIsWrongWithTheMachine) {
  struct Case {
    const char* what;
    std::optional<std::string> image;  // nullopt: no registry.reg
    bool makeDir;
    std::string file;  // relative to the machine directory ("" for the directory itself)
    int line;
    std::string problem;
  };
  const Case cases[] = {
      {"no directory", std::nullopt, false, "", 0, "no such machine directory"},
      {"no image", std::nullopt, true, "", 0, "holds no registry.reg"},
      {"malformed line", kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"a\"=dword:xyz\n", true,
       "registry.reg", 4, "expected 1 to 8 hex digits"},
      {"not an image", std::string("hello\n"), true, "registry.reg", 1, ""},
  };
  for (const Case& c : cases) {
    fs::remove_all(Dir());
    if (c.makeDir) {
      fs::create_directories(Dir());
    }
    if (c.image) {
      WriteImage(*c.image);
    }
    try {
      Machine::Load(Dir());
      ADD_FAILURE() << c.what << ": loaded";
    } catch (const MachineError& error) {
      const fs::path file = c.file.empty() ? Dir() : Dir() / c.file;
      EXPECT_EQ(error.file(), file) << c.what;
      EXPECT_EQ(error.line(), c.line) << c.what;
      const std::string where =
          file.string() + (c.line > 0 ? ":" + std::to_string(c.line) : "") + ": ";
      EXPECT_EQ(std::string(error.what()).substr(0, where.size()), where) << c.what;
      EXPECT_NE(std::string(error.what()).find(c.problem), std::string::npos) << error.what();
    }
    if (c.image) {
      EXPECT_EQ(Read(Image()), *c.image) << c.what;
    }
  }
}

TEST_F(MachineTest, SaveLeavesAnUnchangedImageByteForByte) {
  const std::string body =
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\K]\n\"v\"=\"text\"\n\"b\"=hex:01,\\\n  02\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : orv::Utf8ToUtf16(kHeader + body)) {
    if (c == u'\n') {
      utf16 += std::string("\r\0", 2);
    }
    utf16 += std::string{static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
  }
  const std::string images[] = {
      WriteRegImage(ParseRegImage(kHeader + body)),            // canonical
      utf16,                                                   // as regedit writes it
      "\xEF\xBB\xBF" + kHeader + "; edited by hand\n" + body,  // UTF-8 with a BOM and a comment
  };
  for (const std::string& image : images) {
    WriteImage(image);
    const ino_t before = Inode(Image());
    std::unique_ptr<Machine> machine = Machine::Load(Dir());
    Registry::Create(machine->registry().HKLM(), u"SYSTEM\\K")
        .SetValue(u"v", orv::REG_SZ, Bytes{0x74, 0, 0, 0});
    Registry::Create(machine->registry().HKLM(), u"SYSTEM\\K")
        .SetValue(u"v", orv::REG_SZ,
                  Bytes{0x74, 0, 0x65, 0, 0x78, 0, 0x74, 0, 0, 0});  // back as it was
    machine->Save();
    EXPECT_EQ(Read(Image()), image);
    EXPECT_EQ(Inode(Image()), before);
    EXPECT_FALSE(fs::exists(Dir() / "registry.reg.tmp"));
  }
}

TEST_F(MachineTest, SaveReplacesTheImageAtomicallyWithTheCanonicalForm) {
  WriteImage(kHeader + "[HKEY_LOCAL_MACHINE\\SYSTEM\\K]\n\"v\"=\"1\"\n");
  std::unique_ptr<Machine> machine = Machine::Load(Dir());
  RegKey& key = Registry::Create(machine->registry().HKLM(), u"SYSTEM\\K");
  key.SetValue(u"w", orv::REG_DWORD, Bytes{5, 0, 0, 0});
  machine->Save();
  const std::string saved = Read(Image());
  EXPECT_EQ(saved, kHeader +
                       "[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n\n"
                       "[HKEY_LOCAL_MACHINE\\SYSTEM\\K]\n\"v\"=\"1\"\n\"w\"=dword:00000005\n\n");
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(Dir()), fs::directory_iterator()),
            std::vector<fs::path>{Image()});

  // A second save with nothing new writes nothing.
  const ino_t inode = Inode(Image());
  machine->Save();
  EXPECT_EQ(Inode(Image()), inode);

  // A save that cannot write its temporary file fails and leaves the image as it was, and no
  // temporary file; a later save still writes the change.
  key.DeleteValue(u"w");
  {
    testing_support::FileSizeLimit full(16);
    EXPECT_THROW(machine->Save(), MachineError);
  }
  EXPECT_EQ(Read(Image()), saved);
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(Dir()), fs::directory_iterator()),
            std::vector<fs::path>{Image()});
  machine->Save();
  EXPECT_EQ(Read(Image()).find("\"w\""), std::string::npos);
}

TEST_F(MachineTest, LockIsExclusive) {
  EXPECT_THROW(MachineLock{Dir()}, MachineError);  // no directory yet
  fs::create_directories(Dir());
  WriteImage(kHeader);
  {
    MachineLock first(Dir());
    try {
      MachineLock second(Dir());
      ADD_FAILURE() << "locked twice";
    } catch (const MachineError& error) {
      EXPECT_EQ(error.file(), Dir() / ".lock");
      EXPECT_EQ(error.line(), 0);
      EXPECT_EQ(std::string(error.what()),
                (Dir() / ".lock").string() + ": machine is locked by another run");
    }
  }
  MachineLock again(Dir());  // released with the first
}

TEST_F(MachineTest, InMemoryMachineNeverWrites) {
  const fs::path driveC = root_ / "mem" / "drive_c";
  std::unique_ptr<Machine> machine =
      Machine::FromImage(kHeader + "[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"1\"\n", driveC);
  EXPECT_TRUE(fs::is_directory(driveC));
  EXPECT_EQ(machine->driveC(), driveC);
  EXPECT_EQ(Text(machine->registry(), u"K", u"v"), std::string("1\0", 2));
  machine->registry().HKLM().CreateSubkey(u"New");
  machine->Save();
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(root_ / "mem"), fs::directory_iterator()),
            std::vector<fs::path>{driveC});

  try {
    Machine::FromImage(kHeader + "[HKEY_LOCAL_MACHINE\\K]\nbad\n", driveC);
    ADD_FAILURE() << "malformed image accepted";
  } catch (const MachineError& error) {
    EXPECT_EQ(error.line(), 4);
  }
}

TEST_F(MachineTest, SampleMachineHasTheCardAndItsSurroundings) {
  const std::string sample = SampleMachineImage();
  EXPECT_EQ(WriteRegImage(ParseRegImage(sample)), sample);  // canonical as it stands

  Machine::CreateSample(Dir());
  EXPECT_EQ(Read(Image()), sample);
  EXPECT_EQ(Read(Dir() / "drive_c/Windows/System32/cmd.exe"), "#winsim-program cmd\n");
  EXPECT_EQ(Read(Dir() / "drive_c/Program Files/ORVEK/DPInst.exe"), "#winsim-program dpinst\n");
  EXPECT_TRUE(fs::is_directory(Dir() / "drive_c/Windows/inf"));
  EXPECT_TRUE(fs::is_directory(Dir() / "drive_c/Windows/System32/DriverStore/FileRepository"));

  std::unique_ptr<Machine> machine = Machine::Load(Dir());
  const Registry& registry = machine->registry();
  const std::u16string environment =
      u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
  struct Expected {
    std::u16string key;
    std::u16string value;
    std::string text;  // with its terminators
    std::uint32_t type;
  };
  const Expected values[] = {
      {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentVersion",
       std::string("6.1\0", 4), orv::REG_SZ},
      {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentBuildNumber",
       std::string("7601\0", 5), orv::REG_SZ},
      {u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions", u"ProductType",
       std::string("WinNT\0", 6), orv::REG_SZ},
      {environment, u"PROCESSOR_ARCHITECTURE", std::string("AMD64\0", 6), orv::REG_SZ},
      {environment, u"SystemDrive", std::string("C:\0", 3), orv::REG_SZ},
      {environment, u"SystemRoot", std::string("C:\\Windows\0", 11), orv::REG_SZ},
      {environment, u"ComSpec", std::string("%SystemRoot%\\system32\\cmd.exe\0", 30),
       orv::REG_EXPAND_SZ},
      {environment, u"Path", std::string("%SystemRoot%\\system32;%SystemRoot%\0", 35),
       orv::REG_EXPAND_SZ},
  };
  for (const Expected& e : values) {
    std::uint32_t type = 0;
    EXPECT_EQ(Text(registry, e.key, e.value, &type), e.text) << orv::Utf16ToUtf8(e.value);
    EXPECT_EQ(type, e.type) << orv::Utf16ToUtf8(e.value);
  }
  EXPECT_EQ(Text(registry, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                 u"CurrentMajorVersionNumber"),
            "(missing)");

  struct Device {
    std::u16string instance;
    std::string location, portName, friendlyName;
    bool present;
  };
  const Device devices[] = {
      {u"ACPI\\PNP0401\\1", "ISA bus", "LPT1", "ECP Printer Port (LPT1)", true},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0000", "ORVEK COM Port 1", "COM5", "ORVEK COM Port (COM5)",
       true},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0001", "ORVEK COM Port 2", "COM3", "ORVEK COM Port (COM3)",
       true},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0002", "ORVEK COM Port 3", "COM6", "ORVEK COM Port (COM6)",
       true},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0003", "ORVEK COM Port 4", "COM4", "ORVEK COM Port (COM4)",
       true},
      {u"ORVPCARD_ENUM\\ORVPCARD_PARPECP\\0000", "ORVEK LPT Port 1", "LPT3",
       "ORVEK LPT Port (LPT3)", true},
      {u"ORVPCARD_ENUM\\ORVPCARD_PARPECP\\0001", "ORVEK LPT Port 2", "LPT4",
       "ORVEK LPT Port (LPT4)", true},
      {u"LPTENUM\\OrvekTestPrinter\\5&2a1b3c4d&0&LPT3", "LPT3", "(missing)", "ORVEK Test Printer",
       true},
      {u"DISPLAY\\Default_Monitor\\4&1f2e3d4c&0&UID0", "(missing)", "(missing)",
       "Generic PnP Monitor", true},
      {u"DISPLAY\\Default_Monitor\\4&1f2e3d4c&0&UID1", "(missing)", "(missing)",
       "Generic PnP Monitor (not connected)", false},
  };
  const auto withNul = [](const std::string& text) {
    return text == "(missing)" ? text : text + std::string(1, '\0');
  };
  RegKey* enumKey = Registry::Open(registry.HKLM(), u"SYSTEM\\CurrentControlSet\\Enum");
  for (const Device& d : devices) {
    const std::u16string path = u"SYSTEM\\CurrentControlSet\\Enum\\" + d.instance;
    const RegKey* instance = Registry::Open(*enumKey, d.instance);
    ASSERT_NE(instance, nullptr) << orv::Utf16ToUtf8(d.instance);
    EXPECT_EQ(Text(registry, path, u"LocationInformation"), withNul(d.location));
    EXPECT_EQ(Text(registry, path + u"\\Device Parameters", u"PortName"), withNul(d.portName));
    EXPECT_EQ(Text(registry, path, u"FriendlyName"), withNul(d.friendlyName));
    EXPECT_EQ(instance->FindSubkey(u"Control") != nullptr, d.present);
    EXPECT_NE(instance->FindSubkey(u"Device Parameters"), nullptr);
    // The software key that the Driver value names exists.
    std::string driver = Text(registry, path, u"Driver");
    driver.pop_back();
    EXPECT_NE(Registry::Open(registry.HKLM(), u"SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                                                  orv::Utf8ToUtf16(driver)),
              nullptr)
        << driver;
  }
  EXPECT_EQ(Registry::Open(*enumKey, u"ORVPCARD_ENUM\\ORVPCARD_SERP")->SubkeyCount(), 4u);

  const RegValue* comDb =
      Registry::Open(registry.HKLM(), u"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter")
          ->FindValue(u"ComDB");
  ASSERT_NE(comDb, nullptr);
  Bytes expectedComDb(32, 0);
  expectedComDb[0] = 0x3d;  // COM1, COM3, COM4, COM5, COM6
  EXPECT_EQ(comDb->type(), orv::REG_BINARY);
  EXPECT_EQ(testing_support::BytesOf(comDb->data()), expectedComDb);

  const RegKey* map = Registry::Open(registry.HKLM(), u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS");
  ASSERT_NE(map, nullptr);
  std::vector<std::string> mapLines;
  for (const RegValue& value : map->values()) {
    mapLines.push_back(orv::Utf16ToUtf8(value.name()) + "=" + Utf8Of(value.data()));
  }
  EXPECT_EQ(mapLines, (std::vector<std::string>{
                          std::string("\\Device\\Parallel0=\\DosDevices\\LPT1\0", 35),
                          std::string("\\Device\\Parallel1=\\DosDevices\\LPT3\0", 35),
                          std::string("\\Device\\Parallel2=\\DosDevices\\LPT4\0", 35)}));
  EXPECT_NE(
      Registry::Open(registry.HKLM(), u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"),
      nullptr);
}

TEST_F(MachineTest, CreatingNeverOverwritesAMachine) {
  WriteImage("precious");
  EXPECT_THROW(Machine::CreateSample(Dir()), MachineError);
  EXPECT_EQ(Read(Image()), "precious");
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(Dir()), fs::directory_iterator()),
            std::vector<fs::path>{Image()});
}

TEST_F(MachineTest, CreateFromImageWritesTheCanonicalForm) {
  const std::string text = kHeader + "[HKEY_LOCAL_MACHINE\\SYSTEM\\K]\n\"v\"=\"1\"\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    utf16 += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{c, '\0'};
  }
  std::ofstream(root_ / "export.reg", std::ios::binary) << utf16;
  Machine::CreateFromImage(Dir(), root_ / "export.reg");
  EXPECT_EQ(Read(Image()), WriteRegImage(ParseRegImage(text)));
  EXPECT_EQ(Read(Dir() / "drive_c/Windows/System32/cmd.exe"), "#winsim-program cmd\n");

  std::ofstream(root_ / "bad.reg", std::ios::binary) << kHeader << "[HKEY_LOCAL_MACHINE\\K\n";
  try {
    Machine::CreateFromImage(root_ / "other", root_ / "bad.reg");
    ADD_FAILURE() << "malformed image accepted";
  } catch (const MachineError& error) {
    EXPECT_EQ(error.file(), root_ / "bad.reg");
    EXPECT_EQ(error.line(), 3);
  }
  EXPECT_FALSE(fs::exists(root_ / "other"));
  EXPECT_THROW(Machine::CreateFromImage(root_ / "other", root_ / "missing.reg"), MachineError);
}

TEST(DefaultMachineDirTest, FollowsTheEnvironment) {
  struct Case {
    const char* machine;  // null: unset
    const char* state;
    const char* home;
    std::string expected;
    bool fromEnvironment;
  };
  const Case cases[] = {
      {"/m/one", "/state", "/home/u", "/m/one", true},
      {"", "/state", "/home/u", "/state/orvcard/machine", false},
      {nullptr, "/state", "/home/u", "/state/orvcard/machine", false},
      {nullptr, nullptr, "/home/u", "/home/u/.local/state/orvcard/machine", false},
      {nullptr, "relative", "/home/u", "/home/u/.local/state/orvcard/machine", false},
  };
  const char* names[] = {"ORVCARD_MACHINE", "XDG_STATE_HOME", "HOME"};
  std::optional<std::string> saved[3];
  for (int i = 0; i < 3; ++i) {
    if (const char* value = std::getenv(names[i])) {
      saved[i] = value;
    }
  }
  const auto set = [](const char* name, const char* value) {
    value == nullptr ? ::unsetenv(name) : ::setenv(name, value, 1);
  };
  for (const Case& c : cases) {
    set(names[0], c.machine);
    set(names[1], c.state);
    set(names[2], c.home);
    bool fromEnvironment = !c.fromEnvironment;
    EXPECT_EQ(DefaultMachineDir(&fromEnvironment), fs::path(c.expected));
    EXPECT_EQ(fromEnvironment, c.fromEnvironment) << c.expected;
  }
  set(names[0], nullptr);
  set(names[1], nullptr);
  set(names[2], nullptr);
  EXPECT_THROW(DefaultMachineDir(nullptr), MachineError);
  for (int i = 0; i < 3; ++i) {
    set(names[i], saved[i] ? saved[i]->c_str() : nullptr);
  }
}

TEST_F(MachineTest, ShowSummarisesTheMachine) {
  Machine::CreateSample(Dir());
  std::unique_ptr<Machine> machine = Machine::Load(Dir());
  const std::string before = ShowMachine(*machine);
  EXPECT_EQ(ShowMachine(*machine), before);  // stable
  for (const char* line : {
           "  version:      6.1\n",
           "  product type: WinNT (workstation)\n",
           "  processor:    AMD64\n",
           "  ORVPCARD_ENUM\n"
           "    ORVPCARD_ENUM\\ORVPCARD_PARPECP\\0000  present\n"
           "      location:      ORVEK LPT Port 1\n"
           "      PortName:      LPT3\n"
           "      friendly name: ORVEK LPT Port (LPT3)\n"
           "      restarts:      (none)\n",
           "    DISPLAY\\Default_Monitor\\4&1f2e3d4c&0&UID1  not present\n",
           "  \\Device\\Parallel1 = \\DosDevices\\LPT3\n",
           "  reserved: COM1, COM3, COM4, COM5, COM6\n",
           "Multi-I/O Card Driver)\n  (none)\n",
       }) {
    EXPECT_NE(before.find(line), std::string::npos) << line << "\n---\n" << before;
  }

  // What the tool changes shows up.
  Registry& registry = machine->registry();
  RegKey& hklm = registry.HKLM();
  Registry::Create(
      hklm, u"SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_PARPECP\\0000\\Control")
      .SetValue(u"RestartCount", orv::REG_DWORD, Bytes{2, 0, 0, 0});
  Bytes mapValue(260, 0);
  for (std::size_t i = 0; i < 16; ++i) {
    mapValue[i * 2] = static_cast<std::uint8_t>("\\DosDevices\\LPT2"[i]);
  }
  Registry::Create(hklm, u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS")
      .SetValue(u"\\Device\\Parallel1", orv::REG_SZ, mapValue);
  Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter")
      .SetValue(u"ComDB", orv::REG_BINARY, Bytes{0x01, 0x00, 0x80});
  Registry::Create(
      hklm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEK Multi-I/O Card Driver")
      .SetValue(u"DriverStorePath0", orv::REG_SZ, Bytes{0x43, 0, 0x3a, 0, 0, 0});
  fs::create_directories(Dir() / "drive_c/Windows/System32/DriverStore/FileRepository/a.inf_1");
  std::ofstream(Dir() / "drive_c/Windows/System32/DriverStore/FileRepository/a.inf_1/a.inf");
  std::ofstream(Dir() / "drive_c/Windows/inf/OEM3.INF");
  std::ofstream(Dir() / "drive_c/Windows/inf/other.inf");
  const std::string after = ShowMachine(*machine);
  for (const char* line : {
           "      friendly name: ORVEK LPT Port (LPT3)\n      restarts:      2\n",
           "  \\Device\\Parallel1 = \\DosDevices\\LPT2 (REG_SZ, 260 bytes)\n",
           "  reserved: COM1, COM24\n  size:     3 bytes (COM1 to COM24)\n",
           "  DriverStorePath0 = C:\n",
           "  a.inf_1: a.inf\n",
           "  OEM3.INF\n",
       }) {
    EXPECT_NE(after.find(line), std::string::npos) << line << "\n---\n" << after;
  }
  EXPECT_EQ(after.find("other.inf"), std::string::npos);
  EXPECT_EQ(Read(Image()), SampleMachineImage());  // showing changed nothing on disk
}

}  // namespace
}  // namespace winsim
