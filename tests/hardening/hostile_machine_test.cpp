// Hostile machine folders and careless callers, through the programs. Links planted in the
// machine folder are never followed; a private image stays private; a run whose save fails
// leaves nothing that the machine or the caller can see later (stdout stays as printed, exit
// status 125); a response file that is no regular file is never opened for writing and never
// blocks the run; a current folder whose name holds a backslash is refused.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/programs/program_runner.h"
#include "winsim/machine.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;
using testing_support::ProgramResult;
using testing_support::ProgramSandbox;

// ---------------------------------------------------------------------------------------------
// Links and modes in the machine folder

struct FolderCase {
  const char* name;
  std::function<void(const ProgramSandbox&)> plant;  // prepares the machine folder
  std::vector<std::string> argv;                     // the run (program path first)
  int status;                                        // its exit status (-1: any but 125)
  const char* err;                                   // a part of stderr ("" for none)
  std::function<void(const ProgramSandbox&)> check;  // what must hold afterwards
};

fs::path Outside(const ProgramSandbox& box) {
  return box.root() / "outside";
}

std::vector<FolderCase> FolderCases() {
  const auto planted = [](const ProgramSandbox& box) {
    // The file the link points to is untouched, and the link is gone or still a link.
    EXPECT_EQ(box.ReadFile(Outside(box) / "target"), "precious\n");
  };
  const auto plantTarget = [](const ProgramSandbox& box) {
    fs::create_directories(Outside(box));
    std::ofstream(Outside(box) / "target") << "precious\n";
  };
  return {
      {"a link named like the temporary image",
       [=](const ProgramSandbox& box) {
         winsim::Machine::CreateSample(box.machine());
         plantTarget(box);
         fs::create_symlink(Outside(box) / "target", box.machine() / "registry.reg.tmp");
       },
       {ORVCARD_OP_BIN, "0x4000"},
       0,
       "",
       [=](const ProgramSandbox& box) {
         planted(box);
         EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(box.machine() / "registry.reg")));
         EXPECT_FALSE(fs::exists(fs::symlink_status(box.machine() / "registry.reg.tmp")));
       }},
      {"a dangling link as the lock file",
       [=](const ProgramSandbox& box) {
         winsim::Machine::CreateSample(box.machine());
         fs::create_directories(Outside(box));
         fs::create_symlink(Outside(box) / "created", box.machine() / ".lock");
       },
       {ORVCARD_OP_BIN, "0x4000"},
       125,
       "/.lock: the lock file is a symbolic link",
       [](const ProgramSandbox& box) { EXPECT_FALSE(fs::exists(Outside(box) / "created")); }},
      {"a dangling link as a program of drive C: when the machine is made",
       [](const ProgramSandbox& box) {
         fs::create_directories(box.machine() / "drive_c" / "Windows" / "System32");
         fs::create_directories(Outside(box));
         fs::create_symlink(Outside(box) / "created",
                            box.machine() / "drive_c" / "Windows" / "System32" / "cmd.exe");
       },
       {WINSIM_BIN, "init", "../machine"},
       0,
       "",
       [](const ProgramSandbox& box) { EXPECT_FALSE(fs::exists(Outside(box) / "created")); }},
      {"the published INF folder a link to a folder outside",
       [=](const ProgramSandbox& box) {
         SampleWithPackages(box);
         fs::create_directories(Outside(box));
         fs::remove_all(box.machine() / "drive_c" / "Windows" / "inf");
         fs::create_directory_symlink(Outside(box), box.machine() / "drive_c" / "Windows" / "inf");
       },
       {ORVCARD_OP_BIN, "0x11", "-f2result.ini"},
       -1,
       "",
       [](const ProgramSandbox& box) { EXPECT_TRUE(fs::is_empty(Outside(box))); }},
      {"a private image",
       [](const ProgramSandbox& box) {
         winsim::Machine::CreateSample(box.machine());
         fs::permissions(box.machine() / "registry.reg",
                         fs::perms::owner_read | fs::perms::owner_write);
       },
       {ORVCARD_OP_BIN, "0x4000"},
       0,
       "",
       [](const ProgramSandbox& box) {
         EXPECT_EQ(fs::status(box.machine() / "registry.reg").permissions(),
                   fs::perms::owner_read | fs::perms::owner_write);
       }},
  };
}

TEST(HostileMachines, LinksInTheMachineFolderAreNeverFollowed) {
  for (const FolderCase& hostile : FolderCases()) {
    SCOPED_TRACE(hostile.name);
    ProgramSandbox box;
    hostile.plant(box);
    const ProgramResult result = RunIn(box, box.work(), hostile.argv);
    if (hostile.status < 0) {
      EXPECT_NE(result.status, 125) << result.err;
    } else {
      EXPECT_EQ(result.status, hostile.status) << result.err;
    }
    EXPECT_NE(result.err.find(hostile.err), std::string::npos) << result.err;
    hostile.check(box);
  }
}

// ---------------------------------------------------------------------------------------------
// Failed saves

struct FailedSaveCase {
  const char* code;
  bool installedFirst;  // the sample packages installed (and recorded) before the run
  // Every case changes the registry: a run that changes none writes no image, so its save
  // cannot fail.
  const char* out;  // what the run prints before its save fails
};

TEST(FailedSaves, ARunWhoseSaveFailsLeavesNothingBehind) {
  const FailedSaveCase cases[] = {
      {"0x11", false, "\n  Installing driver package...\n\n  Install driver success.\n"},
      {"0x4", false, ""},
      {"0x8", true, ""},
      {"0x4000", false, ""},
  };
  for (const FailedSaveCase& failed : cases) {
    SCOPED_TRACE(failed.code);
    ProgramSandbox box;
    SampleWithPackages(box);
    if (failed.installedFirst) {
      ASSERT_EQ(RunIn(box, box.work(), {ORVCARD_OP_BIN, "0x1"}).status, 0);
    }
    const std::map<std::string, std::string> machine = FolderSnapshot(box.machine());
    const std::map<std::string, std::string> work = FolderSnapshot(box.work());
    // The image (14 KB) cannot be written; the packages (1 KB each) and the response file can.
    const ProgramResult result =
        RunIn(box, box.work(), {ORVCARD_OP_BIN, failed.code, "-f2result.ini"}, 4096);
    EXPECT_EQ(result.status, 125);
    EXPECT_EQ(result.out, failed.out);
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find("File too large"), std::string::npos) << result.err;
    // The lock file is the one entry a run may add.
    const std::map<std::string, std::string> after = MachineSnapshot(box);
    std::map<std::string, std::string> expected = machine;
    expected.erase(".lock");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(FolderSnapshot(box.work()), work);
    // The same run with room to save does change the machine.
    EXPECT_LT(RunIn(box, box.work(), {ORVCARD_OP_BIN, failed.code}).status, 125);
    EXPECT_NE(FolderSnapshot(box.machine()), machine);
  }
}

// ---------------------------------------------------------------------------------------------
// Response files that are no files, folders that are no Windows folders

TEST(HostileCallers, NoRunBlocksOrGuessesAtItsFiles) {
  ProgramSandbox box;
  SampleWithPackages(box);
  ASSERT_EQ(::mkfifo((box.work() / "fifo").c_str(), 0644), 0);
  fs::create_directories(box.work() / "folder");
  fs::create_symlink("target.log", box.work() / "link");
  const std::string image = (box.machine() / "registry.reg").string();
  constexpr const char* kNotRegular = "is not a regular file (a FIFO or a device), not read";
  const fs::path backslash = box.work() / "a\\..";
  fs::create_directories(backslash);
  fs::copy(box.work() / "orvser.inf", backslash / "orvser.inf");
  struct Case {
    const char* name;
    fs::path folder;
    std::vector<std::string> argv;
    int status;
    const char* err;  // a part of the one line on stderr
  };
  // Code 0x10 takes the invalid-option branch (result 10), then writes the response file.
  const Case cases[] = {
      {"a FIFO nobody reads",
       box.work(),
       {ORVCARD_OP_BIN, "0x10", "-f2fifo"},
       10,
       "/work/fifo: not a regular file; no response written"},
      {"the full device",
       box.work(),
       {ORVCARD_OP_BIN, "0x10", "-f2/dev/full"},
       10,
       "/dev/full: not a regular file"},
      {"a folder",
       box.work(),
       {ORVCARD_OP_BIN, "0x10", "-f2folder"},
       10,
       "/work/folder: not a regular file"},
      {"a current folder named with a backslash",
       backslash,
       {ORVCARD_OP_BIN, "0x11", "-f2result.ini"},
       125,
       "backslash"},
      // Inputs that are no regular files are never read; the trace file is opened as the
      // response file is, and never one the machine holds.
      {"the trace a FIFO",
       box.work(),
       {"/usr/bin/env", "ORVCARD_TRACE=fifo", ORVCARD_OP_BIN, "0x10"},
       125,
       "fifo: the trace file (ORVCARD_TRACE) is not a regular file"},
      {"the trace a link",
       box.work(),
       {"/usr/bin/env", "ORVCARD_TRACE=link", ORVCARD_OP_BIN, "0x10"},
       125,
       "link: the trace file (ORVCARD_TRACE) is not a regular file"},
      {"the trace the registry image",
       box.work(),
       {"/usr/bin/env", "ORVCARD_TRACE=" + image, ORVCARD_OP_BIN, "0x10"},
       125,
       "registry.reg: the trace file (ORVCARD_TRACE) lies in the machine folder"},
      {"diff of a FIFO", box.work(), {WINSIM_BIN, "diff", "fifo", image}, 125, kNotRegular},
      {"diff of a folder", box.work(), {WINSIM_BIN, "diff", image, "folder"}, 125, "no such file"},
      {"diff of /dev/zero", box.work(), {WINSIM_BIN, "diff", "/dev/zero", image}, 125, kNotRegular},
      {"init from a FIFO",
       box.work(),
       {WINSIM_BIN, "init", "copy", "--from", "fifo"},
       125,
       kNotRegular},
      {"init from a folder",
       box.work(),
       {WINSIM_BIN, "init", "copy", "--from", "folder"},
       125,
       "no such file"},
  };
  const std::map<std::string, std::string> machine = FolderSnapshot(box.machine());
  for (const Case& hostile : cases) {
    SCOPED_TRACE(hostile.name);
    const auto start = std::chrono::steady_clock::now();
    const ProgramResult result = RunIn(box, hostile.folder, hostile.argv);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(result.status, hostile.status) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find(hostile.err), std::string::npos) << result.err;
  }
  EXPECT_TRUE(fs::is_empty(box.work() / "folder"));
  EXPECT_FALSE(fs::exists(box.work() / "result.ini"));
  EXPECT_FALSE(fs::exists(box.work() / "target.log"));  // the link's target
  EXPECT_FALSE(fs::exists(box.work() / "copy"));
  EXPECT_FALSE(fs::exists(backslash / "result.ini"));
  // Nothing was installed from the folder with the backslash (and the uninstall found nothing).
  const std::map<std::string, std::string> after = MachineSnapshot(box);
  EXPECT_EQ(after, machine);
}

}  // namespace
}  // namespace hardening
