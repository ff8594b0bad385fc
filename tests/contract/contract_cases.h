// The contract suite of the seam: for every WindowsApi call, cases that state what Windows
// documents it to do (return value, last error, output buffers, sizes written back), run
// against the simulated machine (tests/contract/contract_sim_test.cpp, in ctest) and against
// the Win32 backend under Wine (tests/wine/contract_check.cpp, from run_wine_e2e.sh), both from
// the starting state of tests/contract/contract_fixture.reg. The cases are our own, from the
// Win32 documentation and from what Wine's conformance tests of the same calls check.
#pragma once

#include <string>
#include <vector>

#include "platform/windows_api.h"

namespace contract {

enum class Target { kSimulatedMachine, kWine };

// The outcome of one case: empty `failure` when it held, else what came instead.
struct CaseResult {
  std::string area;
  std::string name;
  std::string failure;
  // Under Wine, the listed reason why Wine differs (the case is then expected to fail there).
  std::string listedDifference;
};

// Runs every case in order; the registry cases leave the fixture as they found it. The current
// directory must be writable (the file cases create their files there).
std::vector<CaseResult> RunContract(orv::WindowsApi& api, Target target);

// The number of failures that count: a case that fails where it is not listed, or a listed case
// that agrees after all (the list must stay true).
int CountFailures(const std::vector<CaseResult>& results);

// One line per case: "ok", "FAIL" or "differs as listed", area, name, and why.
std::string Report(const std::vector<CaseResult>& results);

}  // namespace contract
