// Placeholder so the tree links until this area is implemented.
#include "packages/driver_packages.h"

namespace orv {
DWORD InstallDriverPackages(WindowsApi&) { return 2; }
DWORD UninstallDriverPackages(WindowsApi&) { return 2; }
}  // namespace orv
