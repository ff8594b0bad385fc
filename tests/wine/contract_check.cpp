// The contract suite (tests/contract/) against the Win32 backend, run under Wine by
// run_wine_e2e.sh after the suite's fixture is imported. Prints one line per case and exits
// with the number of failures that count (see CountFailures).
#include <cstdio>

#include "platform/win32/win32_windows.h"
#include "tests/contract/contract_cases.h"

int wmain() {
  orv::Win32Windows api;
  const std::vector<contract::CaseResult> results =
      contract::RunContract(api, contract::Target::kWine);
  std::fputs(contract::Report(results).c_str(), stdout);
  return contract::CountFailures(results);
}
