// The registry record of installed driver packages, its clean-up, and the package installer
// launch.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Where the installed packages are recorded: a product key under the uninstall key of
// HKEY_LOCAL_MACHINE.
inline constexpr const WCHAR* kUninstallKeyPath =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr const WCHAR* kProductKeyName = u"ORVEK Multi-I/O Card Driver";

// Writes DriverStorePath0, 1, ... under HKLM\uninstallKeyPath\productKeyName for the INF files
// of the current directory. Returns ToolStatus::kNoInfFiles, ToolStatus::kCannotOpen (a key
// not opened) or the OR of the look-ups.
DWORD RecordDriverStorePaths(WindowsApi& api, const WCHAR* uninstallKeyPath,
                             const WCHAR* productKeyName);

// Uninstalls the recorded packages through the package installer, newest first, deleting each
// value and then the empty product key. Returns ToolStatus::kCannotOpen when a key cannot be
// opened, else 0.
DWORD UninstallRecordedPackages(WindowsApi& api, const WCHAR* uninstallKeyPath,
                                const WCHAR* productKeyName);

// Runs DPInst32.exe or DPInst64.exe by processor architecture, maps its exit status, then
// records the driver-store paths. Returns the mapped result code.
DWORD LaunchPackageInstaller(WindowsApi& api);

}  // namespace orv
