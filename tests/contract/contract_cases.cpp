#include "tests/contract/contract_cases.h"

#include "tests/contract/contract_check.h"

namespace contract {

namespace {

// Where Wine's Win32 backend does not do what Windows documents, and why. A case listed here
// must fail under Wine (else the list is out of date); it must hold on the simulated machine.
struct WineDifference {
  const char* name;
  const char* reason;
};
constexpr WineDifference kWineDifferences[] = {
    {"SetupDiSetClassInstallParamsW, SetupDiCallClassInstaller: a property-change restart",
     "Wine's SetupDiSetClassInstallParamsW is a stub that returns FALSE, so no restart follows"},
    {"SetupDiSetClassInstallParamsW wrong header size: ERROR_INVALID_USER_BUFFER",
     "Wine's SetupDiSetClassInstallParamsW is a stub: FALSE without a last error"},
    {"SetupDiSetDeviceRegistryPropertyW location of a device without one",
     "Wine stores an empty value where Windows clears the property for a null buffer of size 0 "
     "(documented: the property is deleted), so a later read needs a buffer instead of finding "
     "no property"},
    {"SetupDiGetDeviceRegistryPropertyW class GUID",
     "Wine writes the class GUID from its device record in upper case; the property is the "
     "ClassGUID value as stored, lower case here"},
    {"SetupDiGetDeviceRegistryPropertyW unknown property code: ERROR_INVALID_REG_PROPERTY",
     "Wine returns FALSE without a last error for a property code it does not know"},
    {"GetVersionExW record size 0: ERROR_INSUFFICIENT_BUFFER",
     "Wine's GetVersionExW returns FALSE without setting the last error; Windows sets "
     "ERROR_INSUFFICIENT_BUFFER, as Wine's own conformance test of GetVersionEx expects"},
};

std::vector<CaseResult> Run(Check& base, const char* area, const std::vector<Case>& cases) {
  std::vector<CaseResult> results;
  for (const Case& c : cases) {
    Check check(base.api, base.target);
    c.run(check);
    CaseResult result{area, c.name, check.failure, {}};
    if (base.target == Target::kWine) {
      for (const WineDifference& difference : kWineDifferences) {
        if (result.name == difference.name) {
          result.listedDifference = difference.reason;
        }
      }
    }
    results.push_back(std::move(result));
  }
  return results;
}

}  // namespace

std::vector<CaseResult> RunContract(WindowsApi& api, Target target) {
  Check base(api, target);
  std::vector<CaseResult> results;
  auto add = [&](const char* area, const std::vector<Case>& cases) {
    std::vector<CaseResult> more = Run(base, area, cases);
    results.insert(results.end(), more.begin(), more.end());
  };
  std::vector<Case> registry = RegistryCases();
  std::vector<Case> tables = RegistryTableCases();
  registry.insert(registry.end(), tables.begin(), tables.end());
  add("registry", registry);
  add("devices", DeviceCases());
  add("files", FileCases());
  add("environment and processes", ProcessCases());
  add("system information", SystemCases());
  if (target == Target::kSimulatedMachine) {
    add("COM port database and driver packages", SimulatedOnlyCases());
  }
  return results;
}

int CountFailures(const std::vector<CaseResult>& results) {
  int failures = 0;
  for (const CaseResult& result : results) {
    const bool listed = !result.listedDifference.empty();
    failures += (result.failure.empty() == listed) ? 1 : 0;
  }
  return failures;
}

std::string Report(const std::vector<CaseResult>& results) {
  std::string text;
  for (const CaseResult& result : results) {
    const bool listed = !result.listedDifference.empty();
    if (listed) {
      text += result.failure.empty() ? "FAIL (listed as differing, but agrees): "
                                     : "differs as listed: ";
    } else {
      text += result.failure.empty() ? "ok: " : "FAIL: ";
    }
    text += result.area + ": " + result.name;
    if (!result.failure.empty()) {
      text += ": " + result.failure;
    }
    if (listed) {
      text += " [" + result.listedDifference + "]";
    }
    text += "\n";
  }
  return text;
}

}  // namespace contract
