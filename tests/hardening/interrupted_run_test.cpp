// Interrupted and concurrent runs. A run killed at any moment, saving included, leaves the
// machine image as it was before the run or as the run leaves it, never anything in between,
// and the next run works. Two runs on one machine at once are serialised by the machine's lock:
// the second fails with exit status 125 and a message naming the lock, and neither loses what
// the other did.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win_types.h"
#include "tests/hardening/hardening_support.h"
#include "tests/programs/program_runner.h"
#include "tests/support/sim_fixture.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"

extern char** environ;

namespace hardening {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing_support::ProgramSandbox;
using testing_support::ReadFileBytes;

// Replaces a file's content the way a run does (so that no reader sees half of it).
void WriteFileAtomically(const fs::path& path, const std::string& bytes) {
  const fs::path temporary = path.string() + ".test";
  std::ofstream(temporary, std::ios::binary) << bytes;
  fs::rename(temporary, path);
}

// A program started with ORVCARD_MACHINE set (in `folder`, if given), its output in files.
class Process {
 public:
  Process(const std::vector<std::string>& command, const fs::path& machine,
          const fs::path& outputPrefix, std::map<std::string, std::string> environment = {},
          const fs::path& folder = {})
      : out_(outputPrefix.string() + ".out"), err_(outputPrefix.string() + ".err") {
    if (!machine.empty()) {
      environment["ORVCARD_MACHINE"] = machine.string();
    }
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string variable = *entry;
      if (environment.count(variable.substr(0, variable.find('='))) == 0) {
        variables.push_back(variable);
      }
    }
    for (const auto& [name, value] : environment) {
      if (!value.empty()) {
        variables.push_back(name + "=" + value);
      }
    }
    std::vector<char*> argv;
    for (const std::string& argument : command) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : variables) {
      envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!folder.empty()) {
      posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0) {
      Kill();
    }
  }

  // The exit status, or -signal when a signal ended it.
  int Wait() {
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
  }
  int Kill() {
    kill(pid_, SIGKILL);
    return Wait();
  }
  bool started() const { return pid_ > 0; }
  std::string err() const { return ReadFileBytes(err_); }

 private:
  pid_t pid_ = -1;
  fs::path out_;
  fs::path err_;
};

// ---------------------------------------------------------------------------------------------
// Killed runs

// A value large enough that writing the image takes a while, so that kills land inside saves.
std::string BulkValue() {
  std::string line = "\"Bulk\"=hex:";
  for (int i = 0; i < 50000; ++i) {
    line += i == 0 ? "5a" : ",5a";
  }
  return line + "\n";
}

TEST(InterruptedRuns, ASaveKilledAtAnyMomentLeavesTheImageBeforeOrAfter) {
  ProgramSandbox box;
  const fs::path dir = box.machine();
  box.WriteMachine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hardening]\n" + BulkValue());
  const fs::path image = dir / "registry.reg";
  // The two images the child goes back and forth between: with and without a "Flip" value.
  std::unique_ptr<winsim::Machine> machine = winsim::Machine::Load(dir);
  winsim::RegKey* key = winsim::Registry::Open(machine->registry().HKLM(), u"SOFTWARE\\Hardening");
  ASSERT_NE(key, nullptr);
  const std::string without = winsim::WriteRegImage(machine->registry());
  key->SetValue(u"Flip", orv::REG_DWORD, winsim::DwordData(1));
  const std::string with = winsim::WriteRegImage(machine->registry());
  WriteFileAtomically(image, without);

  // A save records its temporary image in the machine's journal before it writes it.
  const fs::path journal = dir / ".orvcard-journal";
  std::mt19937 random(20261207);
  constexpr int kKills = 60;
  int duringSave = 0;  // kills that left the journal behind: inside a save
  for (int i = 0; i < kKills; ++i) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // One run after another: lock, recover, load, flip the value, save.
      try {
        for (;;) {
          winsim::MachineLock lock(dir);
          winsim::RecoverInterruptedRun(dir);
          std::unique_ptr<winsim::Machine> run = winsim::Machine::Load(dir);
          winsim::RegKey* flip =
              winsim::Registry::Open(run->registry().HKLM(), u"SOFTWARE\\Hardening");
          if (!flip->DeleteValue(u"Flip")) {
            flip->SetValue(u"Flip", orv::REG_DWORD, winsim::DwordData(1));
          }
          run->Save();
        }
      } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        _exit(1);
      }
    }
    // Every other kill at a random moment; the rest as soon as a save has begun.
    if (i % 2 == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 100000));
    } else {
      const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(5);
      while (!fs::exists(journal) && Clock::now() < giveUp) {
      }
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the save loop stopped by itself";

    const std::string after = ReadFileBytes(image);
    ASSERT_TRUE(after == with || after == without)
        << "kill " << i << ": the image is torn (" << after.size() << " bytes)";
    duringSave += fs::exists(journal) ? 1 : 0;
    // The next run takes the lock, recovers and loads, whatever the kill left behind: nothing
    // but the image and the lock.
    EXPECT_NO_THROW({
      winsim::MachineLock lock(dir);
      winsim::RecoverInterruptedRun(dir);
      winsim::Machine::Load(dir);
    });
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 3)
        << "kill " << i;  // registry.reg, drive_c, .lock
  }
  EXPECT_GE(duringSave, kKills / 6) << "too few kills landed inside a save";
  std::printf("[ killed   ] %d saves killed, %d of them inside a save\n", kKills, duringSave);
}

TEST(InterruptedRuns, AProgramKilledAtAnyMomentLeavesTheMachineBeforeOrAfter) {
  // The serial renumbering changes the registry only; the install of 43 packages stores and
  // publishes files too.
  const struct {
    const char* code;
    int copies;  // INF files written besides the sample packages
  } kRuns[] = {{"0x4000", 0}, {"0x11", 40}};
  for (const auto& row : kRuns) {
    SCOPED_TRACE(row.code);
    ProgramSandbox box;
    SampleWithPackages(box);
    for (int i = 0; i < row.copies; ++i) {
      std::ofstream(box.work() / ("copy" + std::to_string(i) + ".inf"))
          << box.ReadFile(box.work() / "orvser.inf") << "; copy " << i << "\n";
    }
    const std::function<void()> restart = KeepMachine(box);
    restart();
    const auto before = MachineSnapshot(box);
    const Clock::time_point began = Clock::now();
    Process full({ORVCARD_OP_BIN, row.code}, box.machine(), box.root() / "full", {}, box.work());
    ASSERT_EQ(full.Wait(), 0) << full.err();
    const auto duration =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - began).count();
    const auto after = MachineSnapshot(box);
    ASSERT_NE(after, before) << "the operation changes nothing on the sample machine";

    std::mt19937 random(7);
    int killed = 0;
    int finished = 0;
    for (int i = 0; i < 16; ++i) {
      restart();
      Process run({ORVCARD_OP_BIN, row.code}, box.machine(), box.root() / "run", {}, box.work());
      ASSERT_TRUE(run.started());
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (duration * 3 / 2 + 1)));
      const int status = run.Kill();
      (status == -SIGKILL ? killed : finished) += 1;
      // The next program that opens the machine finishes the job: the machine before or after.
      Process show({WINSIM_BIN, "show", box.machine().string()}, {}, box.root() / "show");
      ASSERT_EQ(show.Wait(), 0) << show.err();
      const auto now = MachineSnapshot(box);
      ASSERT_TRUE(now == before || now == after)
          << "run " << i << " (status " << status << ") left a machine in between";
    }
    std::printf("[ killed   ] orvcard-op %s: %d runs killed, %d finished first\n", row.code, killed,
                finished);
  }
}

// ---------------------------------------------------------------------------------------------
// Concurrent runs

TEST(ConcurrentRuns, ARunFindingTheMachineLockedStopsWith125AndChangesNothing) {
  ProgramSandbox box;
  winsim::Machine::CreateSample(box.machine());
  const std::string before = ReadFileBytes(box.machine() / "registry.reg");
  {
    winsim::MachineLock held(box.machine());
    const auto result = box.Run(ORVCARD_OP_BIN, "0x4000");
    EXPECT_EQ(result.status, 125);
    EXPECT_EQ(result.err, "orvcard: " + (box.machine() / ".lock").string() +
                              ": machine is locked by another run\n");
    EXPECT_EQ(ReadFileBytes(box.machine() / "registry.reg"), before);
  }
  EXPECT_EQ(box.Run(ORVCARD_OP_BIN, "0x4000").status, 0);
  EXPECT_NE(ReadFileBytes(box.machine() / "registry.reg"), before);
}

TEST(ConcurrentRuns, TwoRunsAtOnceNeverLoseEitherOnesChanges) {
  ProgramSandbox box;
  winsim::Machine::CreateSample(box.machine());
  const fs::path image = box.machine() / "registry.reg";
  const std::string before = ReadFileBytes(image);
  // The serial and the parallel renumbering change different devices; the machine after both,
  // in either order, holds the changes of both.
  const std::vector<std::string> codes = {"0x4000", "0x40000"};
  auto runInTurn = [&](const std::vector<std::string>& order) {
    WriteFileAtomically(image, before);
    for (const std::string& code : order) {
      Process run({ORVCARD_OP_BIN, code}, box.machine(), box.root() / "turn");
      EXPECT_EQ(run.Wait(), 0);
    }
    return ReadFileBytes(image);
  };
  const std::string serialOnly = runInTurn({codes[0]});
  const std::string parallelOnly = runInTurn({codes[1]});
  const std::set<std::string> both = {runInTurn(codes), runInTurn({codes[1], codes[0]})};
  ASSERT_NE(serialOnly, parallelOnly);

  int locked = 0;
  for (int round = 0; round < 12; ++round) {
    WriteFileAtomically(image, before);
    Process serial({ORVCARD_OP_BIN, codes[0]}, box.machine(), box.root() / "serial");
    Process parallel({ORVCARD_OP_BIN, codes[1]}, box.machine(), box.root() / "parallel");
    const int serialStatus = serial.Wait();
    const int parallelStatus = parallel.Wait();
    SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(serialStatus) + ", " +
                 std::to_string(parallelStatus));
    const std::pair<int, Process*> results[] = {{serialStatus, &serial},
                                                {parallelStatus, &parallel}};
    for (const auto& [status, run] : results) {
      EXPECT_TRUE(status == 0 || status == 125);
      if (status == 125) {
        ++locked;
        EXPECT_NE(run->err().find("machine is locked by another run"), std::string::npos)
            << run->err();
      }
    }
    const std::string now = ReadFileBytes(image);
    if (serialStatus == 0 && parallelStatus == 0) {
      EXPECT_EQ(both.count(now), 1u) << "a change was lost";
    } else if (serialStatus == 0) {
      EXPECT_EQ(now, serialOnly);
    } else if (parallelStatus == 0) {
      EXPECT_EQ(now, parallelOnly);
    } else {
      ADD_FAILURE() << "both runs were refused";
    }
  }
  std::printf("[ parallel ] 12 rounds of two runs at once, %d run(s) found the machine locked\n",
              locked);
}

TEST(ConcurrentRuns, FirstRunsAtOnceShareTheNewDefaultMachine) {
  for (int round = 0; round < 8; ++round) {
    ProgramSandbox box;
    const fs::path state = box.root() / "state";
    std::vector<std::unique_ptr<Process>> runs;
    for (int i = 0; i < 3; ++i) {
      runs.push_back(std::make_unique<Process>(
          std::vector<std::string>{ORVCARD_BIN, "-x"}, fs::path(),
          box.root() / ("first" + std::to_string(i)),
          std::map<std::string, std::string>{{"ORVCARD_MACHINE", ""},
                                             {"XDG_STATE_HOME", state.string()}}));
    }
    for (auto& run : runs) {
      const int status = run->Wait();
      // Each run either made the machine or found it made; a run that meets the lock says so.
      EXPECT_TRUE(status == 10 || (status == 125 && run->err().find("locked") != std::string::npos))
          << "round " << round << ": status " << status << ": " << run->err();
    }
    EXPECT_NO_THROW(winsim::Machine::Load(state / "orvcard" / "machine"));
  }
}

}  // namespace
}  // namespace hardening
