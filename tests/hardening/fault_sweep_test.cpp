// The fault sweep: every operation runs on a representative machine, then once more for each
// platform call of that run's trace with exactly that call made to fail (first with
// ERROR_ACCESS_DENIED, then with the failure the call most naturally has). Whatever fails, the
// run ends, closes every handle it opened and leaves a registry that still reads back. Then the
// save of each of those runs fails too: the machine's folder (drive C: and the response file in
// it) must be exactly as it was before the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "winsim/machine.h"
#include "winsim/sim_windows.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;
using orv::DWORD;

// The failure each call most naturally reports besides ERROR_ACCESS_DENIED: a missing item, a
// short buffer or the end of an enumeration, which an operation may take for success.
const std::map<std::string, DWORD> kNaturalFailures = {
    {"RegOpenKeyExW", orv::ERROR_FILE_NOT_FOUND},
    {"RegQueryValueExW", orv::ERROR_MORE_DATA},
    {"RegEnumValueW", orv::ERROR_MORE_DATA},
    {"SetupDiEnumDeviceInfo", orv::ERROR_NO_MORE_ITEMS},
    {"SetupDiGetDeviceRegistryPropertyW", orv::ERROR_INSUFFICIENT_BUFFER},
    {"SetupDiOpenDevRegKey", orv::ERROR_FILE_NOT_FOUND},
    {"FindFirstFileW", orv::ERROR_FILE_NOT_FOUND},
    {"FindNextFileW", orv::ERROR_NO_MORE_ITEMS},
    {"CreateFileW", orv::ERROR_FILE_NOT_FOUND},
    {"DriverPackageGetPathW", orv::ERROR_INSUFFICIENT_BUFFER},
    {"DriverPackageInstallW", 0x800B0100},  // TRUST_E_NOSIGNATURE
    {"DriverPackageUninstallW", orv::ERROR_DRIVER_PACKAGE_NOT_IN_STORE},
    {"GetEnvironmentVariableW", 203},  // ERROR_ENVVAR_NOT_FOUND
    {"CreateProcessW", orv::ERROR_FILE_NOT_FOUND},
};

// The calls that close a handle: when one of them is made to fail, the simulated machine may keep
// that handle open (RegCloseKey does, FindClose and CloseHandle do not), and the run may leave
// that one behind, but no other.
const std::set<std::string> kClosingCalls = {"RegCloseKey", "SetupDiDestroyDeviceInfoList",
                                             "ComDBClose",  "FindClose",
                                             "CloseHandle", "CrtClose"};

// The platform calls of a trace, without the lines the simulated programs (the command
// interpreter, the package installer) write when they end: those are not calls of the tool and
// cannot be made to fail.
std::vector<winsim::TraceEntry> Calls(const std::vector<winsim::TraceEntry>& trace) {
  std::vector<winsim::TraceEntry> calls;
  for (const winsim::TraceEntry& entry : trace) {
    if (entry.api != "cmd" && entry.api != "DPInst") {
      calls.push_back(entry);
    }
  }
  return calls;
}

struct SweepCase {
  DWORD code;
  Start start;
};

std::string CaseName(const SweepCase& sweep) {
  char name[32];
  std::snprintf(name, sizeof name, "Op%X%s", sweep.code,
                sweep.start == Start::kInstalled ? "Installed" : "");
  return name;
}

std::string ParamName(const testing::TestParamInfo<SweepCase>& info) {
  return CaseName(info.param);
}

// How the test names a case in its output.
void PrintTo(const SweepCase& sweep, std::ostream* out) {
  *out << CaseName(sweep);
}

std::vector<SweepCase> AllCases() {
  std::vector<SweepCase> cases;
  for (DWORD code : kOperationCodes) {
    cases.push_back({code, Start::kSample});
  }
  // An invalid code that asks for the response file, whose calls can fail.
  cases.push_back({0x10, Start::kSample});
  // The package operations again with packages in the store and the record written.
  for (DWORD code : {0x1u, 0x2u, 0x4u, 0x8u, 0x2000u}) {
    cases.push_back({code, Start::kInstalled});
  }
  return cases;
}

class FaultSweep : public testing::TestWithParam<SweepCase> {};

TEST_P(FaultSweep, EveryCallFailingOnceLeavesASoundMachine) {
  const SweepCase& sweep = GetParam();
  auto baseline = RepresentativeMachine(sweep.start);
  const fs::path folder = baseline->driveC().parent_path();
  const std::map<std::string, std::string> untouched = FolderSnapshot(folder);
  RunCode(*baseline, sweep.code);
  ASSERT_EQ(MachineProblems(*baseline), "");
  // What a run that saves leaves: a failed save must take all of it back.
  ASSERT_NO_THROW(baseline->machine().Save());
  const bool changesFiles = FolderSnapshot(folder) != untouched;
  const std::vector<winsim::TraceEntry> trace = Calls(baseline->api().trace());
  ASSERT_FALSE(trace.empty());

  int runs = 0;
  int effective = 0;    // runs whose armed call did fail
  int failedSaves = 0;  // failed saves of runs that change files, each taken back
  std::map<std::string, int> seen;
  for (std::size_t k = 0; k < trace.size(); ++k) {
    const std::string& api = trace[k].api;
    const int nth = ++seen[api];
    std::vector<DWORD> statuses = {orv::ERROR_ACCESS_DENIED};
    if (auto natural = kNaturalFailures.find(api); natural != kNaturalFailures.end()) {
      statuses.push_back(natural->second);
    }
    for (DWORD status : statuses) {
      const std::string context = "call " + std::to_string(k) + " " + trace[k].Line() +
                                  " failing with " + winsim::Hex(status);
      auto sim = RepresentativeMachine(sweep.start);
      const std::map<std::string, std::string> before = FolderSnapshot(sim->driveC().parent_path());
      sim->api().ArmFault(winsim::Fault{.api = api, .nth = nth, .status = status});
      RunCode(*sim, sweep.code);
      ++runs;

      // The run is the baseline up to the armed call, which then fails.
      const std::vector<winsim::TraceEntry> faulted = Calls(sim->api().trace());
      ASSERT_GT(faulted.size(), k) << context;
      for (std::size_t i = 0; i < k; ++i) {
        ASSERT_EQ(faulted[i].Line(), trace[i].Line()) << context;
      }
      ASSERT_EQ(faulted[k].api, api) << context;
      const bool failed = faulted[k].Line() != trace[k].Line();
      effective += failed ? 1 : 0;
      EXPECT_EQ(MachineProblems(*sim, failed && kClosingCalls.count(api) != 0 ? 1 : 0), "")
          << context;

      sim->machine().FailNextSave("No space left on device");
      EXPECT_THROW(sim->machine().Save(), winsim::MachineError) << context;
      EXPECT_EQ(FolderSnapshot(sim->driveC().parent_path()), before) << context;
      failedSaves += changesFiles ? 1 : 0;
    }
  }
  // Only the console output cannot fail; every other call can.
  const bool consoleOnly = std::all_of(
      trace.begin(), trace.end(), [](const auto& entry) { return entry.api == "CrtWriteStdout"; });
  EXPECT_EQ(effective > 0, !consoleOnly);
  std::printf(
      "[ sweep    ] %s: %zu calls traced, %d faulted runs, %d faults took effect, %d failed "
      "saves of runs that change files\n",
      CaseName(sweep).c_str(), trace.size(), runs, effective, failedSaves);
}

INSTANTIATE_TEST_SUITE_P(AllOperations, FaultSweep, testing::ValuesIn(AllCases()), ParamName);

}  // namespace
}  // namespace hardening
