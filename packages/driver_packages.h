// Install and uninstall of the driver packages in the current directory.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Status the package procedures give when the current directory holds no INF file.
inline constexpr DWORD kNoInfFiles = 2;
// Status they give when a key, folder or file cannot be opened.
inline constexpr DWORD kCannotOpen = 13;

// Installs the package of every "*.inf" entry of the current directory; returns the OR of the
// packages' statuses, or 2 when there is none.
DWORD InstallDriverPackages(WindowsApi& api);

// Uninstalls the package of every "*.inf" entry of the current directory; same statuses.
DWORD UninstallDriverPackages(WindowsApi& api);

}  // namespace orv
