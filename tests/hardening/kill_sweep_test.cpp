// Runs killed at every step of their journal. The simulated machine stops its process at the
// N-th step (WINSIM_STOP_AT_STEP: a record about to be written, a change about to be made or taken
// back); each operation that changes files runs once for every N up to its last step, and the next
// program that opens the machine (here `winsim show`, itself killed once part way) must leave it
// byte for byte as it was before the run or as the whole run leaves it, with nothing left behind.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/support/hive_files.h"
#include "winsim/journal.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;
using testing_support::ProgramSandbox;

constexpr int kKilled = 128 + SIGKILL;

// Changes both hives of an offline installation and drive C: in one run, in a process of its
// own stopped at journal step `stopAt`; its exit status.
int RunOnBothHives(const fs::path& machine, long stopAt) {
  const pid_t child = ::fork();
  if (child == 0) {
    winsim::StopAtJournalStep(stopAt);
    try {
      winsim::MachineLock lock(machine);
      winsim::RecoverInterruptedRun(machine);
      const std::unique_ptr<winsim::Machine> run = winsim::Machine::Load(machine);
      for (const char16_t* hive : {u"SYSTEM\\Select", u"SOFTWARE\\Microsoft"}) {
        winsim::Registry::Open(run->registry().HKLM(), hive)
            ->SetValue(u"Sweep", orv::REG_DWORD, winsim::DwordData(7));
      }
      const int error = run->changes().WriteFile(machine / "Windows" / "inf" / "oem9.inf", "x");
      run->Save();
      ::_exit(error == 0 ? 0 : 1);
    } catch (const std::exception&) {
      ::_exit(125);
    }
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct SweepCase {
  const char* name;
  bool offline;
  std::vector<std::string> first;   // orvcard-op arguments of a run that makes the start
  std::vector<std::string> argv;    // the run swept (empty: RunOnBothHives)
  std::uint64_t fileSizeLimit = 0;  // makes its save fail
};

TEST(KillSweep, EveryKillPointEndsBeforeOrAfterTheRunWithNothingLeft) {
  const SweepCase kCases[] = {
      {"install", false, {}, {ORVCARD_OP_BIN, "0x11"}},
      {"clean-up 0x8", false, {"0x11"}, {ORVCARD_OP_BIN, "0x8"}},
      {"clean-up 0x2000", false, {"0x11"}, {ORVCARD_OP_BIN, "0x2000"}},
      {"install with a failing save", false, {}, {ORVCARD_OP_BIN, "0x11"}, 4096},
      {"offline -RemoveDeviceNode", true, {}, {ORVCARD_BIN, "-RemoveDeviceNode"}},
      {"offline -RemoveCOMdb", true, {}, {ORVCARD_BIN, "-RemoveCOMdb"}},
      {"offline install", true, {}, {ORVCARD_OP_BIN, "0x11"}},
      {"offline, both hives", true, {}, {}},
  };
  for (const SweepCase& row : kCases) {
    SCOPED_TRACE(row.name);
    ProgramSandbox box;
    SampleWithPackages(box);
    if (row.offline) {
      fs::remove_all(box.machine());
      testing_support::MakeOfflineInstallation(
          box.machine(), winsim::ParseRegImage(testing_support::OfflineImage(
                             winsim::ParseRegImage(winsim::SampleMachineImage()), 1)));
    }
    for (const std::string& code : row.first) {
      ASSERT_EQ(RunIn(box, box.work(), {ORVCARD_OP_BIN, code}).status, 0);
    }
    const std::function<void()> restart = KeepMachine(box);
    const auto run = [&](long stopAt) {
      const std::string stop = "WINSIM_STOP_AT_STEP=" + std::to_string(stopAt);
      return row.argv.empty() ? RunOnBothHives(box.machine(), stopAt)
                              : RunIn(box, box.work(), row.argv, row.fileSizeLimit, {stop}).status;
    };
    restart();
    const auto before = MachineSnapshot(box);
    const int status = run(0);
    const auto after = MachineSnapshot(box);
    // A run whose save fails changes nothing; the others change the machine.
    ASSERT_EQ(before == after, row.fileSizeLimit != 0) << status;
    ASSERT_EQ(after.count(".orvcard-journal"), 0);

    int rolledBack = 0;
    int completed = 0;
    long step = 1;
    for (;; ++step) {
      restart();
      if (const int killed = run(step); killed != kKilled) {
        EXPECT_EQ(killed, status);  // past its last step: the whole run
        EXPECT_EQ(MachineSnapshot(box), after);
        break;
      }
      // The recovery is killed at its first, second or third step, then done again.
      const std::vector<std::string> show = {WINSIM_BIN, "show", box.machine().string()};
      RunIn(box, box.work(), show, 0, {"WINSIM_STOP_AT_STEP=" + std::to_string(step % 3 + 1)});
      const testing_support::ProgramResult recovery = RunIn(box, box.work(), show);
      EXPECT_EQ(recovery.status, 0) << "step " << step << ": " << recovery.err;
      const auto recovered = MachineSnapshot(box);
      rolledBack += recovered == before ? 1 : 0;
      completed += recovered == after && after != before ? 1 : 0;
      EXPECT_TRUE(recovered == before || recovered == after) << "step " << step;
    }
    EXPECT_EQ(rolledBack + completed, step - 1);
    EXPECT_GT(rolledBack, 0);
    EXPECT_EQ(completed > 0, row.fileSizeLimit == 0);
    std::printf("[ sweep    ] %s: %ld kill points, %d rolled back, %d completed\n", row.name,
                step - 1, rolledBack, completed);
  }
}

// The journal's checksum of a record (FNV-1a, 64 bits, in hex).
std::string Record(const std::string& text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return text + " " + hex + "\n";
}

// A journal found in a machine is followed only as far as it names what a run of ours changes:
// anything else stops the program with 125 and one line, and nothing is touched.
TEST(KillSweep, AJournalNamingWhatNoRunChangesIsRefused) {
  const std::string header = "orvcard journal 1\n";
  const std::string created = Record("create drive_c/new.txt");
  const struct {
    const char* name;
    std::string journal;
    const char* err;  // a part of the one line on stderr; empty: recovered
  } kCases[] = {
      {"outside the machine", header + Record("create ../outside.txt"),
       ":2: a record names what no run"},
      {"the image", header + Record("create registry.reg"), ":2: a record names what no run"},
      {"a backup", header + Record("create drive_c/../registry.reg"),
       ":2: a record names what no run"},
      {"aside without its folder", header + Record("aside drive_c/keep.txt .orvcard-removed-x/0"),
       ":2: a record names what no run"},
      {"a replacement of no registry file",
       header + Record("create drive_c/new.txt") +
           Record("replace drive_c/new.txt drive_c/keep.txt"),
       ":3: a record names what no run"},
      {"a damaged record", header + "create drive_c/keep.txt 0000000000000000\n" + created,
       ":2: a record is damaged"},
      {"no journal", "#!/bin/sh\nrm -rf /\n", ":1: is not a journal"},
      {"a torn last record", header + created + "create drive_c/keep", ""},
  };
  for (const auto& row : kCases) {
    SCOPED_TRACE(row.name);
    ProgramSandbox box;
    SampleWithPackages(box);
    for (const char* file : {"drive_c/keep.txt", "drive_c/new.txt", "../outside.txt"}) {
      std::ofstream(box.machine() / file) << "kept";
    }
    std::ofstream(box.machine() / ".orvcard-journal", std::ios::binary) << row.journal;
    const auto before = FolderSnapshot(box.root());
    const testing_support::ProgramResult result =
        RunIn(box, box.work(), {ORVCARD_OP_BIN, "0x4000"});
    if (*row.err == 0) {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_NE(result.err.find("an interrupted run was rolled back"), std::string::npos);
      EXPECT_FALSE(fs::exists(box.machine() / "drive_c/new.txt"));
      EXPECT_TRUE(fs::exists(box.machine() / "drive_c/keep.txt"));
      continue;
    }
    EXPECT_EQ(result.status, 125);
    EXPECT_NE(result.err.find(".orvcard-journal" + std::string(row.err)), std::string::npos)
        << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    auto after = FolderSnapshot(box.root());
    after.erase("machine/.lock");
    after.erase("out.txt");
    after.erase("err.txt");
    EXPECT_EQ(after, before);
  }
}

}  // namespace
}  // namespace hardening
