// Shared by the hardening tests: the representative machine the operations run on, and the
// checks every run must pass whatever failed inside it.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

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

}  // namespace hardening
