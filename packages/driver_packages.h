// Install and uninstall of the driver packages in the current directory.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Installs the package of every "*.inf" entry of the current directory; returns the OR of the
// packages' statuses, or ToolStatus::kNoInfFiles when there is none.
DWORD InstallDriverPackages(WindowsApi& api);

// Uninstalls the package of every "*.inf" entry of the current directory; same statuses.
DWORD UninstallDriverPackages(WindowsApi& api);

}  // namespace orv
