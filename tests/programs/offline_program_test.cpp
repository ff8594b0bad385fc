// The programs against an offline installation (hive files made through hivex), compared with the
// same runs against the same registry as a .reg image.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>

#include "platform/win_types.h"
#include "tests/programs/program_runner.h"
#include "tests/support/hive_files.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Dump;
using testing_support::ProgramResult;
using testing_support::ProgramSandbox;
using winsim::Registry;

// The sample machine as its hives hold it, with ControlSet00N current. With N = 2, ControlSet001
// is an older set with a card port of its own.
std::string OfflineImage(int current) {
  std::string image =
      testing_support::OfflineImage(winsim::ParseRegImage(winsim::SampleMachineImage()), current);
  if (current != 1) {
    image +=
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0009\\"
        "Device Parameters]\n\"PortName\"=\"COM9\"\n\n";
  }
  return image;
}

class OfflineProgramTest : public ::testing::Test {
 protected:
  // The .reg machine in `image_` (in the canonical form), the offline installation in
  // `offline_`, with one registry.
  void MakeMachines(const std::string& image) {
    std::filesystem::create_directories(image_.machine() / "drive_c" / "Windows" / "inf");
    const Registry registry = winsim::ParseRegImage(image);
    std::ofstream(image_.machine() / "registry.reg", std::ios::binary)
        << winsim::WriteRegImage(registry);
    testing_support::MakeOfflineInstallation(offline_.machine(), registry);
  }
  fs::path Hive(const char* name) const {
    return offline_.machine() / "Windows" / "System32" / "config" / name;
  }
  // HKLM\SYSTEM and \SOFTWARE of the .reg machine, and as read back from the hives.
  std::string ImageTrees() const {
    const Registry registry =
        winsim::ParseRegImage(image_.ReadFile(image_.machine() / "registry.reg"));
    return Dump(*registry.HKLM().FindSubkey(u"SYSTEM")) +
           Dump(*registry.HKLM().FindSubkey(u"SOFTWARE"));
  }
  std::string HiveTrees() const {
    winsim::RegKey system(u"SYSTEM");
    winsim::RegKey software(u"SOFTWARE");
    testing_support::ReadHive(Hive("SYSTEM"), system);
    testing_support::ReadHive(Hive("SOFTWARE"), software);
    return Dump(system) + Dump(software);
  }
  std::string Quoted(const ProgramSandbox& sandbox) const {
    return "'" + sandbox.machine().string() + "'";
  }

  ProgramSandbox image_;
  ProgramSandbox offline_;
};

TEST_F(OfflineProgramTest, EachRunLeavesTheHivesAsTheSameRunLeavesTheImage) {
  struct Case {
    const char* arguments;
    int controlSet;
    bool changes;
  };
  const Case kCases[] = {
      {"-RemoveDeviceNode", 1, true}, {"-RemoveCOMdb", 1, true}, {"", 1, false},
      {"-RemoveDeviceNode", 2, true}, {"-RemoveCOMdb", 2, true},
  };
  for (const Case& row : kCases) {
    SCOPED_TRACE(std::string(row.arguments) + " on ControlSet00" + std::to_string(row.controlSet));
    fs::remove_all(image_.machine());
    fs::remove_all(offline_.machine());
    MakeMachines(OfflineImage(row.controlSet));
    const std::string before = HiveTrees();
    const std::string system = image_.ReadFile(Hive("SYSTEM"));
    ASSERT_EQ(before, ImageTrees());

    const ProgramResult onImage = image_.Run(ORVCARD_BIN, row.arguments);
    const ProgramResult offline = offline_.Run(ORVCARD_BIN, row.arguments);
    EXPECT_EQ(offline.status, 0) << offline.err;
    EXPECT_EQ(offline.out, onImage.out);
    EXPECT_EQ(offline.err, "");
    EXPECT_EQ(HiveTrees(), ImageTrees());
    EXPECT_EQ(HiveTrees() != before, row.changes);
    // The first original is kept; a run that changes nothing writes nothing, not even a lock.
    EXPECT_EQ(fs::exists(Hive("SYSTEM.orvcard-backup")), row.changes);
    EXPECT_EQ(offline_.ReadFile(row.changes ? Hive("SYSTEM.orvcard-backup") : Hive("SYSTEM")),
              system);
    EXPECT_FALSE(fs::exists(Hive("SOFTWARE.orvcard-backup")));
    EXPECT_FALSE(fs::exists(offline_.machine() / ".lock"));
  }
  // The older control set is not the current one: it stays as it was.
  EXPECT_NE(HiveTrees().find("[\\ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0009\\"
                             "Device Parameters]\n  \"PortName\" type 1, 10 bytes"),
            std::string::npos);

  // A second run keeps the first original as the backup, never the hive it replaces.
  const std::string backup = offline_.ReadFile(Hive("SYSTEM.orvcard-backup"));
  ASSERT_EQ(offline_.Run(ORVCARD_BIN, "-RemoveDeviceNode").status, 0);
  EXPECT_EQ(offline_.ReadFile(Hive("SYSTEM.orvcard-backup")), backup);
  EXPECT_NE(offline_.ReadFile(Hive("SYSTEM")), backup);
}

TEST_F(OfflineProgramTest, WinsimReadsAnOfflineInstallationAsTheSameImage) {
  MakeMachines(OfflineImage(2));
  // A hive not closed cleanly is read as it is, with one line saying so, by what only reads.
  testing_support::MakeHiveDirty(Hive("SYSTEM"));
  const std::string dirty = "winsim: " + Hive("SYSTEM").string() +
                            ": was not closed cleanly (sequence numbers 2 and 3 differ): changes "
                            "still in its logs are not shown\n";
  const std::string winsim = WINSIM_BIN;
  for (const char* command : {"show", "export --utf8", "export"}) {
    const ProgramResult offline =
        offline_.Run(winsim, std::string(command) + " " + Quoted(offline_));
    EXPECT_EQ(offline.status, 0) << command << offline.err;
    EXPECT_EQ(offline.err, dirty);
    EXPECT_EQ(offline.out, image_.Run(winsim, std::string(command) + " " + Quoted(image_)).out)
        << command;
  }
  const ProgramResult diff =
      offline_.Run(winsim, "diff " + Quoted(offline_) + " " + Quoted(image_));
  EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
  EXPECT_EQ(diff.out, "");
  EXPECT_EQ(diff.err, dirty);

  const fs::path copy = offline_.root() / "copy";
  const ProgramResult init =
      offline_.Run(winsim, "init '" + copy.string() + "' --from " + Quoted(offline_));
  ASSERT_EQ(init.status, 0) << init.err;
  EXPECT_TRUE(init.err.starts_with(dirty)) << init.err;
  EXPECT_EQ(offline_.ReadFile(copy / "registry.reg"),
            image_.ReadFile(image_.machine() / "registry.reg"));
  EXPECT_FALSE(fs::exists(Hive("SYSTEM.orvcard-backup")));

  // An installation is a machine as it is: no machine is created in it.
  const ProgramResult again = offline_.Run(winsim, "init " + Quoted(offline_));
  EXPECT_EQ(again.status, 125);
  EXPECT_EQ(again.err,
            "winsim: " + offline_.machine().string() +
                ": is an offline Windows installation, which the programs use as it is\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(offline_.machine()), fs::directory_iterator()), 1);

  // A key name that a .reg file cannot hold never reaches an export (as a line it would delete
  // HKEY_LOCAL_MACHINE\SOFTWARE on import): nothing is written, not even the file.
  winsim::RegKey software(u"SOFTWARE");
  software.CreateSubkey(
      u"evil]\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\x");
  testing_support::WriteHive(Hive("SOFTWARE"), software);
  const fs::path out = offline_.root() / "out.reg";
  const ProgramResult evil =
      offline_.Run(winsim, "export " + Quoted(offline_) + " -o " + out.string());
  EXPECT_EQ(evil.status, 125);
  EXPECT_TRUE(evil.err.starts_with(dirty)) << evil.err;  // and one line more, naming the key:
  EXPECT_NE(evil.err.find("evil]\\r\\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\\r\\n"), std::string::npos)
      << evil.err;
  EXPECT_EQ(std::count(evil.err.begin(), evil.err.end(), '\n'), 2) << evil.err;
  EXPECT_FALSE(fs::exists(out));
}

// Writes the SYSTEM hive of the sample installation with `extra` (.reg text) read over it and
// SYSTEM\Select\Current as `current` says (none when null), as it is: nothing is linked.
void WriteSystemHive(const fs::path& hive, const std::string& extra,
                     const winsim::RegValue* current) {
  Registry registry = winsim::ParseRegImage(
      OfflineImage(1) + "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=-\n\n" + extra);
  winsim::RegKey& select = Registry::Create(registry.HKLM(), u"SYSTEM\\Select");
  if (current != nullptr) {
    select.SetValue(u"Current", current->type(), current->data());
  }
  testing_support::WriteHive(hive, *registry.HKLM().FindSubkey(u"SYSTEM"));
}

// A spoiler that writes the SYSTEM hive with Current of `type` and `data`.
std::function<void(const fs::path&)> Current(std::uint32_t type, std::vector<std::uint8_t> data) {
  return [=](const fs::path& hive) {
    const winsim::RegValue current(u"Current", type, data);
    WriteSystemHive(hive, "", &current);
  };
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(OfflineProgramTest, ABadHiveStopsTheRunWithStatus125AndNothingWritten) {
  struct Case {
    const char* name;
    const char* hive;  // the file the message names; null: the installation as a whole
    std::function<void(const fs::path&)> spoil;
    const char* problem;
    std::string environment = {};  // of the run
  };
  std::unique_ptr<winsim::MachineLock> lock;  // the other run's, which takes no lock file
  const auto fifo = [](const fs::path& file) {
    fs::remove(file);
    ASSERT_EQ(::mkfifo(file.c_str(), 0644), 0);
  };
  const Case kCases[] = {
      {"dirty", "SYSTEM", testing_support::MakeHiveDirty,
       "was not closed cleanly (sequence numbers 2 and 3 differ)"},
      {"truncated", "SYSTEM", [](const fs::path& hive) { fs::resize_file(hive, 0x1800); },
       "is truncated"},
      {"not a hive", "SOFTWARE",
       [](const fs::path& hive) { std::ofstream(hive, std::ios::binary) << "not a hive"; },
       "is not a hive file"},
      {"a key 600 levels deep", "SOFTWARE",
       [](const fs::path& hive) {
         winsim::RegKey root(u"SOFTWARE");
         winsim::RegKey* key = &root;
         for (int level = 0; level < 600; ++level) {
           key = &key->CreateSubkey(u"Deeper");
         }
         testing_support::WriteCompactHive(hive, root);
       },
       "the hive holds a key nested deeper than 512 levels below a root key\n"},
      {"locked by another run", nullptr,
       [&](const fs::path&) { lock = std::make_unique<winsim::MachineLock>(offline_.machine()); },
       "machine is locked by another run"},
      {"no Current", "SYSTEM", [](const fs::path& hive) { WriteSystemHive(hive, "", nullptr); },
       "SYSTEM\\Select holds no Current value: no current control set"},
      {"Current 0", "SYSTEM", Current(orv::REG_DWORD, winsim::DwordData(0)),
       "SYSTEM\\Select\\Current is 0, which names no control set"},
      {"Current 999", "SYSTEM", Current(orv::REG_DWORD, winsim::DwordData(999)),
       "SYSTEM\\Select names ControlSet999, which this image does not hold"},
      {"Current a string", "SYSTEM", Current(orv::REG_SZ, winsim::StringData(u"1")),
       "SYSTEM\\Select\\Current is REG_SZ (4 bytes), not a 4-byte REG_DWORD"},
      {"Current a QWORD", "SYSTEM", Current(orv::REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}),
       "SYSTEM\\Select\\Current is REG_QWORD (8 bytes), not a 4-byte REG_DWORD"},
      {"Current of two bytes", "SYSTEM", Current(orv::REG_DWORD, {1, 0}),
       "SYSTEM\\Select\\Current is REG_DWORD (2 bytes), not a 4-byte REG_DWORD"},

      {"a stored CurrentControlSet", "SYSTEM",
       [](const fs::path& hive) {
         const winsim::RegValue one(u"Current", orv::REG_DWORD, winsim::DwordData(1));
         WriteSystemHive(hive,
                         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\"
                         "COM Name Arbiter]\n\"ComDB\"=hex:ff\n\n",
                         &one);
       },
       "holds a stored CurrentControlSet key"},
      {"the backup a dangling link", "SYSTEM.orvcard-backup",
       [](const fs::path& backup) { fs::create_symlink("nowhere", backup); },
       "is not a regular file (a link, a folder or a device)"},
      {"the backup a folder", "SYSTEM.orvcard-backup",
       [](const fs::path& backup) { fs::create_directory(backup); }, "is not a regular file"},
      {"a FIFO hive", "SYSTEM", fifo, "is not a regular file"},
      {"the trace a hive", "SOFTWARE", [](const fs::path&) {},
       "the trace file (ORVCARD_TRACE) lies in the machine folder",
       "ORVCARD_TRACE='" + Hive("SOFTWARE").string() + "'"},
  };
  for (const Case& row : kCases) {
    SCOPED_TRACE(row.name);
    fs::remove_all(offline_.machine());
    MakeMachines(OfflineImage(1));
    const fs::path file = row.hive == nullptr ? offline_.machine() : Hive(row.hive);
    row.spoil(file);
    const auto bytes = [&](const char* hive) {  // a FIFO is never opened
      return fs::is_regular_file(Hive(hive)) ? offline_.ReadFile(Hive(hive)) : "(no file)";
    };
    const std::string system = bytes("SYSTEM");
    const std::string software = bytes("SOFTWARE");
    const std::vector<std::string> entries = Entries(Hive(""));

    const auto start = std::chrono::steady_clock::now();
    const ProgramResult run = offline_.Run(ORVCARD_BIN, "-RemoveDeviceNode", true, row.environment);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(run.status, 125);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(run.err.starts_with("orvcard: " + file.string() + ": ")) << run.err;
    EXPECT_NE(run.err.find(row.problem), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(bytes("SYSTEM"), system);
    EXPECT_EQ(bytes("SOFTWARE"), software);
    EXPECT_EQ(Entries(Hive("")), entries);  // no backup, no hive written beside
    EXPECT_EQ(Entries(offline_.machine()), std::vector<std::string>{"Windows"});
  }
}

}  // namespace
