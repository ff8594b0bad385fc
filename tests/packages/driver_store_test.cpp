#include "packages/driver_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "packages/driver_packages.h"
#include "platform/text.h"
#include "tests/packages/package_test_support.h"

namespace orv {
namespace {

using namespace package_tests;
using Bytes = std::vector<std::uint8_t>;

constexpr const WCHAR* kUninstallKeyPath =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const WCHAR* kProductKeyName = u"ORVEK Multi-I/O Card Driver";
// The fixed start of every clean-up command line: 55 characters.
const std::string kUninstallCommand =
    "\"\"%SystemDrive%\\Program Files\\ORVEK\\DPInst.exe\"\" /s /u ";

DWORD Record(SimMachine& sim) {
  return RecordDriverStorePaths(sim.api(), kUninstallKeyPath, kProductKeyName);
}
DWORD UninstallRecorded(SimMachine& sim) {
  return UninstallRecordedPackages(sim.api(), kUninstallKeyPath, kProductKeyName);
}

std::u16string ValueName(int index) {
  return u"DriverStorePath" + Utf8ToUtf16(std::to_string(index));
}

// The driver-store path of an installed INF of C:\work, asked of the platform directly.
std::string StorePathOf(SimMachine& sim, const std::string& infName) {
  WCHAR path[300] = {};
  DWORD chars = 300;
  const std::u16string inf = u"C:\\work\\" + Utf8ToUtf16(infName);
  EXPECT_EQ(sim.api().DriverPackageGetPathW(inf.c_str(), path, &chars), 0u) << infName;
  return Utf16ToUtf8(path);
}

// The product key of an image, holding the given REG_SZ values (raw UTF-16LE data, as .reg
// writes it with hex(1):).
std::string ProductKeyImage(const std::vector<std::pair<std::string, Bytes>>& values) {
  std::string image = std::string(kUninstallKeyImage) + kProductKeyImage;
  for (const auto& [name, data] : values) {
    image += "\"" + name + "\"=hex(1):";
    for (std::size_t i = 0; i < data.size(); ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, i == 0 ? "%02x" : ",%02x", data[i]);
      image += byte;
    }
    image += "\n";
  }
  return image + "\n";
}

// UTF-16LE bytes of a text, with a terminator when asked.
Bytes Utf16Bytes(const std::string& text, bool terminator = true) {
  Bytes bytes;
  for (char16_t c : Utf8ToUtf16(text)) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (terminator) {
    bytes.insert(bytes.end(), {0, 0});
  }
  return bytes;
}

// The handle the first traced call of `api` returned ("key#2", "find#1").
std::string HandleReturnedBy(SimMachine& sim, const std::string& api) {
  static const std::regex kHandle("[a-z]+#[0-9]+");
  for (const winsim::TraceEntry& entry : sim.api().trace()) {
    std::smatch match;
    if (entry.api == api && std::regex_search(entry.result, match, kHandle)) {
      return match.str();
    }
  }
  return "none";
}

// The closing calls, in this order, of the handles that the first call of each of `opens`
// returned (keys from RegCreateKeyExW or RegOpenKeyExW, the search from FindFirstFileW).
Calls ClosesOf(SimMachine& sim, const Strings& opens) {
  Calls closes;
  for (const std::string& open : opens) {
    const bool search = open == "FindFirstFileW";
    closes.push_back(
        {search ? "FindClose" : "RegCloseKey", HandleReturnedBy(sim, open), search ? "TRUE" : "0"});
  }
  return closes;
}

// The command line the clean-up should start for a recorded path.
std::string ProcessArgs(const std::string& storePath) {
  return InterpreterArgs(kUninstallCommand + storePath);
}

// --- RecordDriverStorePaths ---

TEST(RecordDriverStorePaths, WritesOneValueOf522BytesPerPackageInListingOrder) {
  SimMachine sim(MachineImage());
  AddPackages(sim, {"orvlongname", "orvpar", "orvser"});
  ASSERT_EQ(InstallDriverPackages(sim.api()), 0u);
  sim.api().ClearTrace();

  EXPECT_EQ(Record(sim), 0u);
  EXPECT_EQ(ArgsOf(sim, "DriverPackageGetPathW"),
            (Strings{"\"C:\\work\\orvlongname.inf\", 261", "\"C:\\work\\orvpar.inf\", 261",
                     "\"C:\\work\\orvser.inf\", 261"}));
  // The path buffer is not cleared between packages: behind the terminator of a shorter path
  // the rest of the longer one before it remains, and every value carries all 522 bytes.
  Bytes buffer(522, 0);
  int index = 0;
  for (const char* inf : {"orvlongname.inf", "orvpar.inf", "orvser.inf"}) {
    const Bytes path = Utf16Bytes(StorePathOf(sim, inf));
    std::memcpy(buffer.data(), path.data(), path.size());
    EXPECT_EQ(sim.Bytes(kProductKey, ValueName(index)), buffer) << inf;
    EXPECT_EQ(sim.Key(kProductKey)->FindValue(ValueName(index))->type(), REG_SZ);
    ++index;
  }
  EXPECT_EQ(sim.Key(kProductKey)->values().size(), 3u);
  EXPECT_TRUE(
      sim.Text(kProductKey, u"DriverStorePath1")
          .starts_with(u"C:\\Windows\\System32\\DriverStore\\FileRepository\\orvpar.inf_x86_"));
  // The product key, then the parent key, then the search.
  EXPECT_EQ(sim.CallsTo({"RegCloseKey", "FindClose"}),
            ClosesOf(sim, {"RegCreateKeyExW", "RegOpenKeyExW", "FindFirstFileW"}));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(RecordDriverStorePaths, WritesNothingMoreAfterTheFirstFailedLookUp) {
  SimMachine sim(MachineImage());
  AddPackages(sim, {"alpha", "beta", "gamma"});
  ASSERT_EQ(InstallDriverPackages(sim.api()), 0u);
  sim.api().ArmFault(winsim::Fault{
      .api = "DriverPackageGetPathW", .text = "beta", .status = ERROR_DRIVER_PACKAGE_NOT_IN_STORE});
  EXPECT_EQ(Record(sim), ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
  // The look-ups go on to the end of the listing; only the value before the failure exists.
  EXPECT_EQ(ArgsOf(sim, "DriverPackageGetPathW").size(), 3u);
  EXPECT_EQ(ArgsOf(sim, "RegSetValueExW").size(), 1u);
  EXPECT_TRUE(sim.HasValue(kProductKey, u"DriverStorePath0"));
  EXPECT_EQ(sim.Key(kProductKey)->values().size(), 1u);
}

TEST(RecordDriverStorePaths, OverwritesFromIndexZeroAndKeepsHigherIndices) {
  std::vector<std::pair<std::string, Bytes>> old;
  for (int i = 0; i < 5; ++i) {
    old.push_back({"DriverStorePath" + std::to_string(i), Utf16Bytes("old" + std::to_string(i))});
  }
  SimMachine sim(ProductKeyImage(old) + MachineImage());
  AddPackages(sim, {"alpha", "beta", "gamma"});
  ASSERT_EQ(InstallDriverPackages(sim.api()), 0u);
  EXPECT_EQ(Record(sim), 0u);
  EXPECT_EQ(sim.Key(kProductKey)->values().size(), 5u);
  EXPECT_EQ(Utf16ToUtf8(sim.Text(kProductKey, u"DriverStorePath0")), StorePathOf(sim, "alpha.inf"));
  EXPECT_EQ(Utf16ToUtf8(sim.Text(kProductKey, u"DriverStorePath1")), StorePathOf(sim, "beta.inf"));
  EXPECT_EQ(Utf16ToUtf8(sim.Text(kProductKey, u"DriverStorePath2")), StorePathOf(sim, "gamma.inf"));
  EXPECT_EQ(sim.Bytes(kProductKey, u"DriverStorePath3"), Utf16Bytes("old3"));
  EXPECT_EQ(sim.Bytes(kProductKey, u"DriverStorePath4"), Utf16Bytes("old4"));
}

TEST(RecordDriverStorePaths, WithoutInfFilesLeavesTheRegistryAlone) {
  SimMachine sim(MachineImage());
  EXPECT_EQ(Record(sim), kNoInfFiles);
  EXPECT_EQ(sim.Key(kProductKey), nullptr);
  EXPECT_TRUE(sim.CallsTo({"RegOpenKeyExW", "RegCreateKeyExW"}).empty());
}

TEST(RecordDriverStorePaths, GivesCannotOpenWhenAKeyCannotBeOpenedAndClosesWhatItOpened) {
  {
    SimMachine sim("");  // no uninstall key: it is opened, never created
    AddPackage(sim, "alpha");
    EXPECT_EQ(Record(sim), kCannotOpen);
    EXPECT_EQ(sim.Key(kUninstallKey), nullptr);
    EXPECT_TRUE(sim.CallsTo({"DriverPackageGetPathW", "RegCreateKeyExW"}).empty());
    EXPECT_EQ(sim.CallsTo({"FindClose"}).size(), 1u);
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
  {
    SimMachine sim(MachineImage());
    AddPackage(sim, "alpha");
    sim.api().ArmFault(winsim::Fault{.api = "RegCreateKeyExW", .status = ERROR_ACCESS_DENIED});
    EXPECT_EQ(Record(sim), kCannotOpen);
    EXPECT_TRUE(sim.CallsTo({"DriverPackageGetPathW"}).empty());
    EXPECT_EQ(sim.CallsTo({"RegCloseKey", "FindClose"}),
              ClosesOf(sim, {"RegOpenKeyExW", "FindFirstFileW"}));
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(RecordDriverStorePaths, AFailedWriteStillUsesUpItsIndex) {
  SimMachine sim(MachineImage());
  AddPackages(sim, {"alpha", "beta"});
  ASSERT_EQ(InstallDriverPackages(sim.api()), 0u);
  sim.api().ArmFault(winsim::Fault{
      .api = "RegSetValueExW", .text = "DriverStorePath0", .status = ERROR_ACCESS_DENIED});
  EXPECT_EQ(Record(sim), 0u);
  EXPECT_FALSE(sim.HasValue(kProductKey, u"DriverStorePath0"));
  EXPECT_EQ(Utf16ToUtf8(sim.Text(kProductKey, u"DriverStorePath1")), StorePathOf(sim, "beta.inf"));
}

// --- UninstallRecordedPackages ---

TEST(UninstallRecordedPackages, CountsEveryValueAndRunsTheInstallerNewestFirst) {
  SimMachine sim(ProductKeyImage({{"DriverStorePath0", Utf16Bytes("C:\\store\\a.inf")},
                                  {"DriverStorePath1", Utf16Bytes("C:\\store\\b.inf")},
                                  {"DisplayName", Utf16Bytes("ORVEK card")}}) +
                 MachineImage());
  AddPrograms(sim);
  EXPECT_EQ(UninstallRecorded(sim), 0u);
  // Three values counted; index 2 names no value and is skipped.
  EXPECT_EQ(ArgsOf(sim, "RegEnumValueW"),
            (Strings{"key#2, 0, 522, null", "key#2, 1, 522, null", "key#2, 2, 522, null",
                     "key#2, 3, 522, null", "key#2, 0, 522, null"}));
  EXPECT_EQ(ArgsOf(sim, "RegQueryValueExW"),
            (Strings{"key#2, \"DriverStorePath2\", 522", "key#2, \"DriverStorePath1\", 522",
                     "key#2, \"DriverStorePath0\", 522"}));
  EXPECT_EQ(ArgsOf(sim, "CreateProcessW"),
            (Strings{ProcessArgs("C:\\store\\b.inf"), ProcessArgs("C:\\store\\a.inf")}));
  EXPECT_EQ(ArgsOf(sim, "RegDeleteValueW"),
            (Strings{"key#2, \"DriverStorePath1\"", "key#2, \"DriverStorePath0\""}));
  // The other value keeps the key.
  EXPECT_TRUE(sim.CallsTo({"RegDeleteKeyW"}).empty());
  ASSERT_NE(sim.Key(kProductKey), nullptr);
  EXPECT_EQ(sim.Key(kProductKey)->values().size(), 1u);
  EXPECT_TRUE(sim.HasValue(kProductKey, u"DisplayName"));
  EXPECT_EQ(sim.CallsTo({"RegCloseKey"}),
            (Calls{{"RegCloseKey", "key#2", "0"}, {"RegCloseKey", "key#1", "0"}}));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(UninstallRecordedPackages, TheCommandLineIsTheFixedTextAndThePathUnquoted) {
  ASSERT_EQ(kUninstallCommand.size(), 55u);
  for (const std::string path :
       {"C:\\Windows\\System32\\DriverStore\\FileRepository\\orvser.inf_x86_0123\\orvser.inf",
        "C:\\Users\\Some One\\Driver Files\\orvser.inf", "D:\\x (1)\\a.inf", ""}) {
    SimMachine sim(ProductKeyImage({{"DriverStorePath0", Utf16Bytes(path)}}) + MachineImage());
    AddPrograms(sim);
    EXPECT_EQ(UninstallRecorded(sim), 0u);
    EXPECT_EQ(ArgsOf(sim, "CreateProcessW"), Strings{ProcessArgs(path)}) << path;
    EXPECT_EQ(sim.Key(kProductKey), nullptr) << path;
  }
}

TEST(UninstallRecordedPackages, AKeyWithoutValuesIsDeletedAtOnce) {
  SimMachine sim(ProductKeyImage({}) + MachineImage());
  AddPrograms(sim);
  EXPECT_EQ(UninstallRecorded(sim), 0u);
  EXPECT_TRUE(sim.CallsTo({"RegQueryValueExW", "CreateProcessW"}).empty());
  EXPECT_EQ(sim.CallsTo({"RegDeleteKeyW"}),
            (Calls{{"RegDeleteKeyW", "key#1, \"ORVEK Multi-I/O Card Driver\"", "0"}}));
  EXPECT_EQ(sim.Key(kProductKey), nullptr);
  EXPECT_NE(sim.Key(kUninstallKey), nullptr);
}

TEST(UninstallRecordedPackages, AGapInTheNumberingLeavesTheHigherValues) {
  SimMachine sim(ProductKeyImage({{"DriverStorePath0", Utf16Bytes("C:\\store\\a.inf")},
                                  {"DriverStorePath5", Utf16Bytes("C:\\store\\f.inf")}}) +
                 MachineImage());
  AddPrograms(sim);
  EXPECT_EQ(UninstallRecorded(sim), 0u);
  EXPECT_EQ(ArgsOf(sim, "RegQueryValueExW"),
            (Strings{"key#2, \"DriverStorePath1\", 522", "key#2, \"DriverStorePath0\", 522"}));
  EXPECT_EQ(ArgsOf(sim, "CreateProcessW"), Strings{ProcessArgs("C:\\store\\a.inf")});
  EXPECT_FALSE(sim.HasValue(kProductKey, u"DriverStorePath0"));
  EXPECT_TRUE(sim.HasValue(kProductKey, u"DriverStorePath5"));
}

TEST(UninstallRecordedPackages, GivesCannotOpenWithoutTheKeysAndRunsNothing) {
  {
    SimMachine sim(MachineImage());
    AddPrograms(sim);
    EXPECT_EQ(UninstallRecorded(sim), kCannotOpen);
    EXPECT_TRUE(sim.CallsTo({"CreateProcessW", "RegDeleteKeyW"}).empty());
    EXPECT_EQ(sim.CallsTo({"RegCloseKey"}), (Calls{{"RegCloseKey", "key#1", "0"}}));
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
  {
    SimMachine sim("");
    EXPECT_EQ(UninstallRecorded(sim), kCannotOpen);
    EXPECT_EQ(sim.CallsTo({"RegOpenKeyExW"}).size(), 1u);
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(UninstallRecordedPackages, RunsNothingForAValueThatTheInterpreterWouldParseAsCommands) {
  const char* unsafe[] = {
      "C:\\store\\a.inf & del /q C:\\Windows\\inf\\*",
      "C:\\store\\a.inf | more",
      "C:\\store\\a.inf > C:\\out.txt",
      "C:\\store\\a.inf < C:\\in.txt",
      "C:\\store\\a^.inf",
      "C:\\store\\a.inf\" \"b",
      "%SystemRoot%\\inf\\oem1.inf",
      "C:\\store\\a.inf\r\ncalc.exe",
      "C:\\store\\a.inf\ncalc.exe",
  };
  for (const char* path : unsafe) {
    SimMachine sim(ProductKeyImage({{"DriverStorePath0", Utf16Bytes("C:\\store\\a.inf")},
                                    {"DriverStorePath1", Utf16Bytes(path)}}) +
                   MachineImage());
    AddPrograms(sim);
    EXPECT_EQ(UninstallRecorded(sim), 0u) << path;
    // The ordinary value is still handled; the other one is neither run nor lost.
    EXPECT_EQ(ArgsOf(sim, "CreateProcessW"), Strings{ProcessArgs("C:\\store\\a.inf")}) << path;
    EXPECT_EQ(sim.Bytes(kProductKey, u"DriverStorePath1"), Utf16Bytes(path)) << path;
    EXPECT_FALSE(sim.HasValue(kProductKey, u"DriverStorePath0")) << path;
    EXPECT_TRUE(sim.CallsTo({"RegDeleteKeyW"}).empty()) << path;
  }
}

TEST(UninstallRecordedPackages, RunsNothingWhileSystemDriveIsNotAPlainDrive) {
  struct Case {
    const char* systemDrive;  // null: not set
    bool runs;
  } cases[] = {
      {.systemDrive = "D:", .runs = true},     {.systemDrive = "c:", .runs = true},
      {.systemDrive = nullptr, .runs = false}, {.systemDrive = "C: & calc", .runs = false},
      {.systemDrive = "", .runs = false},      {.systemDrive = "C:\\\\", .runs = false},
      {.systemDrive = "1:", .runs = false},    {.systemDrive = "C", .runs = false},
      {.systemDrive = "CD:", .runs = false},
  };
  for (const Case& c : cases) {
    std::string image = ProductKeyImage({{"DriverStorePath0", Utf16Bytes("C:\\store\\a.inf")}}) +
                        MachineImage() +
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                        "Manager\\Environment]\n";
    image += c.systemDrive == nullptr ? std::string("\"SystemDrive\"=-\n")
                                      : "\"SystemDrive\"=\"" + std::string(c.systemDrive) + "\"\n";
    SimMachine sim(image);
    AddPrograms(sim);
    EXPECT_EQ(UninstallRecorded(sim), 0u);
    const char* shown = c.systemDrive == nullptr ? "(unset)" : c.systemDrive;
    EXPECT_EQ(ArgsOf(sim, "CreateProcessW").size(), c.runs ? 1u : 0u) << shown;
    EXPECT_EQ(sim.HasValue(kProductKey, u"DriverStorePath0"), !c.runs) << shown;
    EXPECT_EQ(sim.Key(kProductKey) != nullptr, !c.runs) << shown;
  }
}

TEST(UninstallRecordedPackages, AValueThatCannotBeReadStaysAndKeepsTheKey) {
  SimMachine sim(ProductKeyImage({{"DriverStorePath0", Utf16Bytes(std::string(300, 'x'))},
                                  {"DriverStorePath1", Utf16Bytes("C:\\store\\b.inf")}}) +
                 MachineImage());
  AddPrograms(sim);
  EXPECT_EQ(UninstallRecorded(sim), 0u);
  EXPECT_EQ(ArgsOf(sim, "CreateProcessW"), Strings{ProcessArgs("C:\\store\\b.inf")});
  EXPECT_TRUE(sim.HasValue(kProductKey, u"DriverStorePath0"));  // 602 bytes: more than 522
  EXPECT_FALSE(sim.HasValue(kProductKey, u"DriverStorePath1"));
}

TEST(UninstallRecordedPackages, TakesThePathOnlyFromTheBytesRead) {
  // Index 1 is read first and fills the buffer; index 0 holds two characters and no
  // terminator, and a value of 261 characters has none either.
  const std::string full(261, 'p');
  SimMachine sim(ProductKeyImage({{"DriverStorePath0", Utf16Bytes("AB", false)},
                                  {"DriverStorePath1", Utf16Bytes("C:\\store\\long\\b.inf")},
                                  {"DriverStorePath2", Utf16Bytes(full, false)}}) +
                 MachineImage());
  AddPrograms(sim);
  EXPECT_EQ(UninstallRecorded(sim), 0u);
  EXPECT_EQ(ArgsOf(sim, "CreateProcessW"),
            (Strings{ProcessArgs(full), ProcessArgs("C:\\store\\long\\b.inf"), ProcessArgs("AB")}));
  EXPECT_EQ(sim.Key(kProductKey), nullptr);
}

TEST(UninstallRecordedPackages, DeletesTheValueWhateverTheInstallerDid) {
  SimMachine sim(ProductKeyImage({{"DriverStorePath0", Utf16Bytes("C:\\store\\a.inf")}}) +
                 MachineImage());
  sim.WriteFile("Windows/System32/cmd.exe", "#winsim-program cmd\n");  // no installer
  EXPECT_EQ(UninstallRecorded(sim), 0u);
  EXPECT_EQ(sim.CallsTo({"cmd"}).size(), 1u);
  EXPECT_EQ(sim.Key(kProductKey), nullptr);
}

TEST(UninstallRecordedPackages, RemovesTheRecordedPackagesFromTheStore) {
  SimMachine sim(MachineImage());
  AddPrograms(sim);
  AddPackages(sim, {"orvpar", "orvser"});
  ASSERT_EQ(InstallDriverPackages(sim.api()), 0u);
  ASSERT_EQ(Record(sim), 0u);
  const std::string stored = StorePathOf(sim, "orvser.inf");
  sim.api().ClearTrace();
  EXPECT_EQ(UninstallRecorded(sim), 0u);
  const Calls installerRuns = sim.CallsTo({"DPInst"});
  ASSERT_EQ(installerRuns.size(), 2u);
  EXPECT_EQ(installerRuns[0], (Call{"DPInst", TraceQuoted("/s /u " + stored), "0"}));
  EXPECT_FALSE(std::filesystem::exists(sim.driveC() / "Windows" / "inf" / "oem0.inf"));
  EXPECT_FALSE(std::filesystem::exists(sim.driveC() / "Windows" / "inf" / "oem1.inf"));
  EXPECT_EQ(sim.Key(kProductKey), nullptr);
}

// --- LaunchPackageInstaller ---

TEST(LaunchPackageInstaller, ChoosesTheInstallerByProcessor) {
  struct Case {
    const char* version;
    const char* product;
    const char* processor;
    const char* program;  // null: nothing runs
  } cases[] = {
      {.version = "6.1", .product = "WinNT", .processor = "x86", .program = "DPInst32.exe"},
      {.version = "6.1", .product = "WinNT", .processor = "AMD64", .program = "DPInst64.exe"},
      {.version = "6.1", .product = "ServerNT", .processor = "AMD64", .program = "DPInst64.exe"},
      {.version = "6.2", .product = "WinNT", .processor = "x86", .program = "DPInst32.exe"},
      {.version = "5.0", .product = "WinNT", .processor = "IA64", .program = "DPInst32.exe"},
      {.version = "5.2", .product = "WinNT", .processor = "AMD64", .program = "DPInst64.exe"},
      {.version = "6.2", .product = "WinNT", .processor = "IA64", .program = nullptr},
      // Told 6.2, like Windows 8.
      {.version = "10.0", .product = "WinNT", .processor = "AMD64", .program = "DPInst64.exe"},
  };
  for (const Case& c : cases) {
    SimMachine sim(MachineImage(c.version, c.product, c.processor));
    AddPrograms(sim);
    sim.WriteFile("work/DPInst32.exe", "#winsim-program dpinst\n");
    sim.WriteFile("work/DPInst64.exe", "#winsim-program dpinst\n");
    const DWORD result = LaunchPackageInstaller(sim.api());
    const Strings started = ArgsOf(sim, "CreateProcessW");
    if (c.program == nullptr) {
      EXPECT_EQ(result, 11u) << c.version << " " << c.processor;  // kCannotOpen
      EXPECT_TRUE(started.empty()) << c.version << " " << c.processor;
    } else {
      // Nothing to install in C:\work: the installer ends with 0.
      EXPECT_EQ(result, 0u) << c.version << " " << c.processor;
      EXPECT_EQ(started, Strings{InterpreterArgs(c.program)}) << c.version << " " << c.processor;
    }
  }
}

TEST(LaunchPackageInstaller, MapsTheInstallerExitStatus) {
  const std::pair<DWORD, DWORD> cases[] = {
      {0, 0}, {1, 10}, {2, 3}, {0x80000000, 11}, {0x00000100, 11}, {ERROR_CANCELLED, 3}};
  for (const auto& [exitStatus, result] : cases) {
    SimMachine sim(MachineImage());
    AddPrograms(sim);
    sim.WriteFile("work/DPInst32.exe", "#winsim-program dpinst\n");
    sim.api().ArmFault(winsim::Fault{.api = "DPInst", .status = exitStatus});
    EXPECT_EQ(LaunchPackageInstaller(sim.api()), result) << exitStatus;
  }
  {
    // No interpreter: -1, which maps to 11.
    SimMachine sim(MachineImage("6.1", "WinNT", "x86", false));
    EXPECT_EQ(LaunchPackageInstaller(sim.api()), 11u);
  }
}

TEST(LaunchPackageInstaller, RecordsTheDriverStorePathsWhateverTheOutcome) {
  for (const char* processor : {"AMD64", "IA64"}) {
    SimMachine sim(MachineImage("6.1", "WinNT", processor));
    AddPrograms(sim);
    sim.WriteFile("work/DPInst64.exe", "#winsim-program dpinst\n");
    AddPackage(sim, "orvser");
    // x64: the installer copies the package into the store (no device uses it): 0x100, mapped
    // to 11. Itanium: nothing runs, 13 maps to 11. Either way the record follows.
    EXPECT_EQ(LaunchPackageInstaller(sim.api()), 11u) << processor;
    if (std::string(processor) == "AMD64") {
      EXPECT_EQ(sim.CallsTo({"DPInst"}), (Calls{{"DPInst", "\"\"", "0x100"}}));
      EXPECT_EQ(Utf16ToUtf8(sim.Text(kProductKey, u"DriverStorePath0")),
                StorePathOf(sim, "orvser.inf"));
    } else {
      EXPECT_EQ(sim.Key(kProductKey)->values().size(), 0u);
      EXPECT_EQ(sim.CallsTo({"DriverPackageGetPathW"}).size(), 1u);
    }
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

}  // namespace
}  // namespace orv
