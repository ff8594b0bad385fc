// The driver-package interface (DIFx) of the simulated machine, over the driver store that the
// file space holds (winsim/difx_store.h gives the store's layout and statuses).
#include <cstring>

#include "winsim/difx_store.h"
#include "winsim/sim_windows.h"

namespace winsim {

DWORD SimWindows::DriverPackageInstallW(const WCHAR* infPath, DWORD flags,
                                        const INSTALLERINFO_W* /*installer*/, BOOL* needReboot) {
  const std::string args = Quoted(infPath) + ", " + Hex(flags);
  if (infPath == nullptr || needReboot == nullptr) {
    return static_cast<DWORD>(
        sim_.tracer.TraceStatus("DriverPackageInstallW", args, ERROR_INVALID_PARAMETER));
  }
  *needReboot = FALSE;  // nothing the simulated machine does needs a restart
  if (std::optional<DWORD> fault = sim_.faults.For("DriverPackageInstallW", args, {})) {
    return static_cast<DWORD>(sim_.tracer.TraceStatus("DriverPackageInstallW", args, *fault));
  }
  if (Wow64()) {
    return static_cast<DWORD>(
        sim_.tracer.TraceStatus("DriverPackageInstallW", args, ERROR_IN_WOW64));
  }
  const DWORD status =
      DifxStore(sim_.files, sim_.machine.changes(), WindowsDirectory(), StoreArchitecture())
          .Install(infPath, flags);
  return static_cast<DWORD>(sim_.tracer.TraceStatus("DriverPackageInstallW", args, status));
}

DWORD SimWindows::DriverPackageUninstallW(const WCHAR* infPath, DWORD flags,
                                          const INSTALLERINFO_W* /*installer*/, BOOL* needReboot) {
  const std::string args = Quoted(infPath) + ", " + Hex(flags);
  if (infPath == nullptr || needReboot == nullptr) {
    return static_cast<DWORD>(
        sim_.tracer.TraceStatus("DriverPackageUninstallW", args, ERROR_INVALID_PARAMETER));
  }
  *needReboot = FALSE;  // nothing the simulated machine does needs a restart
  if (std::optional<DWORD> fault = sim_.faults.For("DriverPackageUninstallW", args, {})) {
    return static_cast<DWORD>(sim_.tracer.TraceStatus("DriverPackageUninstallW", args, *fault));
  }
  if (Wow64()) {
    return static_cast<DWORD>(
        sim_.tracer.TraceStatus("DriverPackageUninstallW", args, ERROR_IN_WOW64));
  }
  const DWORD status =
      DifxStore(sim_.files, sim_.machine.changes(), WindowsDirectory(), StoreArchitecture())
          .Uninstall(infPath, flags);
  return static_cast<DWORD>(sim_.tracer.TraceStatus("DriverPackageUninstallW", args, status));
}

DWORD SimWindows::DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                                        DWORD* storePathChars) {
  const std::string args = Quoted(infPath) + ", " +
                           (storePathChars == nullptr ? "null" : std::to_string(*storePathChars));
  auto traced = [&](DWORD status, std::string outputs = {}) {
    return static_cast<DWORD>(
        sim_.tracer.TraceStatus("DriverPackageGetPathW", args, status, {}, outputs));
  };
  if (infPath == nullptr || storePathChars == nullptr) {
    return traced(ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For("DriverPackageGetPathW", args, {})) {
    return traced(*fault);
  }
  std::u16string found;
  if (DWORD status =
          DifxStore(sim_.files, sim_.machine.changes(), WindowsDirectory(), StoreArchitecture())
              .StorePath(infPath, &found);
      status != ERROR_SUCCESS) {
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
