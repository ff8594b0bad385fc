// Shared by the hardening tests: the representative machine the operations run on, and the
// checks every run must pass whatever failed inside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/programs/program_runner.h"

#include "platform/win_types.h"
#include "tests/support/sim_fixture.h"

namespace hardening {

// The operation codes the engine defines, and 0, which it does not.
inline constexpr orv::DWORD kOperationCodes[] = {0x1,    0x2,     0x4,     0x8,     0x2000, 0x4000,
                                                 0x8000, 0x10000, 0x20000, 0x40000, 0x0};

// What the machine holds before the operation runs.
enum class Start {
  kSample,     // the sample machine, with the sample packages in the current directory C:\work
  kInstalled,  // the same after the install operation (packages stored and recorded)
};

// A new in-memory machine in that state, its trace empty.
std::unique_ptr<testing_support::SimMachine> RepresentativeMachine(Start start);

// Runs `code` with the argument vector {"orvcard-op", "-f2result.ini"}.
orv::DWORD RunCode(testing_support::SimMachine& sim, orv::DWORD code);

// Every handle closed (all but at most `mayStayOpen`), and the registry written out reads back to
// the same image. Returns the problems found, empty when there are none.
std::string MachineProblems(testing_support::SimMachine& sim, std::size_t mayStayOpen = 0);

// Everything below `dir` as it is, links not followed: each entry's path with its mode and
// content (the target of a link, the bytes of a file).
std::map<std::string, std::string> FolderSnapshot(const std::filesystem::path& dir);
// The snapshot of the sandbox's machine folder without its lock file, the one entry a run may add.
std::map<std::string, std::string> MachineSnapshot(const testing_support::ProgramSandbox& box);

// The sandbox's machine folder as it is now, kept aside; each call of the returned function puts
// that copy back in its place (for runs that each start from the same machine).
std::function<void()> KeepMachine(const testing_support::ProgramSandbox& box);

// Runs `argv` in `folder` on the sandbox's machine, with `environment` ("NAME=value" each) added,
// with the size of the files it writes limited to `fileSizeLimit` bytes (0: no limit; a write past
// it fails as on a full disk), and kills it after 20 s, so that a run that blocks fails the test
// instead of hanging it. A run ended by a signal has the status 128 + the signal.
testing_support::ProgramResult RunIn(const testing_support::ProgramSandbox& box,
                                     const std::filesystem::path& folder,
                                     const std::vector<std::string>& argv,
                                     std::uint64_t fileSizeLimit = 0,
                                     const std::vector<std::string>& environment = {});

// A sample machine, with the sample packages in the working folder.
void SampleWithPackages(const testing_support::ProgramSandbox& box);

}  // namespace hardening
