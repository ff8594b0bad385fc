#include "winsim/sim_difx.h"

#include <cstring>

namespace winsim {

using namespace orv;

DifxStore SimDifx::Store() const {
  // The processor architecture decorates the store's folders (AMD64, x86).
  return DifxStore(sim_.files, sim_.machine.changes(), index_, system_.WindowsDirectory(),
                   system_.Environment(u"PROCESSOR_ARCHITECTURE").value_or(u"x86"));
}

DWORD SimDifx::ChangeStore(const char* api, Change change, const WCHAR* infPath, DWORD flags,
                           BOOL* needReboot) {
  const Call call{api, {TextArg(infPath), HexArg(flags)}};
  auto traced = [&](DWORD status) {
    return static_cast<DWORD>(sim_.tracer.EndStatus(call, status));
  };
  if (infPath == nullptr || needReboot == nullptr) {
    return traced(ERROR_INVALID_PARAMETER);
  }
  *needReboot = FALSE;  // nothing the simulated machine does needs a restart
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return traced(*fault);
  }
  if (system_.Wow64()) {
    return traced(ERROR_IN_WOW64);
  }
  DifxStore store = Store();
  return traced((store.*change)(infPath, flags));
}

DWORD SimDifx::DriverPackageInstallW(const WCHAR* infPath, DWORD flags, BOOL* needReboot) {
  return ChangeStore("DriverPackageInstallW", &DifxStore::Install, infPath, flags, needReboot);
}

DWORD SimDifx::DriverPackageUninstallW(const WCHAR* infPath, DWORD flags, BOOL* needReboot) {
  return ChangeStore("DriverPackageUninstallW", &DifxStore::Uninstall, infPath, flags, needReboot);
}

DWORD SimDifx::DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                                     DWORD* storePathChars) {
  const Call call{"DriverPackageGetPathW",
                  {TextArg(infPath),
                   storePathChars == nullptr ? ShownArg("null") : DecimalArg(*storePathChars)}};
  auto traced = [&](DWORD status, const std::string& outputs = {}) {
    return static_cast<DWORD>(sim_.tracer.EndStatus(call, status, outputs));
  };
  if (infPath == nullptr || storePathChars == nullptr) {
    return traced(ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return traced(*fault);
  }
  std::u16string found;
  if (DWORD status = Store().StorePath(infPath, &found); status != ERROR_SUCCESS) {
    return traced(status);
  }
  // Too small: the count needed, terminator included, and nothing written.
  const auto needed = static_cast<DWORD>(found.size() + 1);
  if (storePath == nullptr || *storePathChars < needed) {
    *storePathChars = needed;
    return traced(ERROR_INSUFFICIENT_BUFFER, std::to_string(needed));
  }
  std::memcpy(storePath, found.c_str(), needed * sizeof(WCHAR));
  *storePathChars = needed;
  return traced(ERROR_SUCCESS, Quoted(found) + ", " + std::to_string(needed));
}

}  // namespace winsim
