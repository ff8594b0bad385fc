#include "packages/driver_packages.h"

#include "packages/inf_listing.h"
#include "packages/tool_status.h"
#include "platform/guards.h"

namespace orv {

namespace {

constexpr DWORD kInstallFlags = DRIVER_PACKAGE_SILENT;
constexpr DWORD kRetryFlags = DRIVER_PACKAGE_FORCE | DRIVER_PACKAGE_LEGACY_MODE;
constexpr DWORD kUninstallFlags = DRIVER_PACKAGE_SILENT | DRIVER_PACKAGE_DELETE_FILES;

// Signature and catalog statuses after which a package is installed once more, forced and in
// legacy mode.
constexpr DWORD kRetryStatuses[] = {
    TRUST_E_NOSIGNATURE,           CERT_E_EXPIRED,
    CERT_E_UNTRUSTEDROOT,          CERT_E_WRONG_USAGE,
    ERROR_NO_AUTHENTICODE_CATALOG, ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH,
    ERROR_INVALID_CATALOG_DATA,
};

bool IsRetryStatus(DWORD status) {
  for (DWORD retry : kRetryStatuses) {
    if (retry == status) {
      return true;
    }
  }
  return false;
}

DWORD InstallPackage(WindowsApi& api, const WCHAR* infPath) {
  BOOL needReboot = FALSE;
  DWORD status = api.DriverPackageInstallW(infPath, kInstallFlags, nullptr, &needReboot);
  if (IsRetryStatus(status)) {
    status = api.DriverPackageInstallW(infPath, kRetryFlags, nullptr, &needReboot);
  }
  return status;
}

DWORD UninstallPackage(WindowsApi& api, const WCHAR* infPath) {
  BOOL needReboot = FALSE;
  return api.DriverPackageUninstallW(infPath, kUninstallFlags, nullptr, &needReboot);
}

// Runs `packageStep` on the full path of every listed INF entry and ORs the statuses;
// ToolStatus::kNoInfFiles when nothing is listed.
DWORD ForEachInfPackage(WindowsApi& api, DWORD (*packageStep)(WindowsApi&, const WCHAR*)) {
  WCHAR path[kInfPathChars] = {};
  WIN32_FIND_DATAW findData;
  FindGuard search(api, StartInfListing(api, path, findData));
  if (!search.valid()) {
    return StatusOf(ToolStatus::kNoInfFiles);
  }
  DWORD combined = 0;
  do {
    const DWORD resolved = ResolveInfEntry(api, findData, path);
    combined |= resolved == ERROR_SUCCESS ? packageStep(api, path) : resolved;
  } while (api.FindNextFileW(search.get(), &findData));
  return combined;
}

}  // namespace

DWORD InstallDriverPackages(WindowsApi& api) {
  return ForEachInfPackage(api, InstallPackage);
}

DWORD UninstallDriverPackages(WindowsApi& api) {
  return ForEachInfPackage(api, UninstallPackage);
}

}  // namespace orv
