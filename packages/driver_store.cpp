// Placeholder so the tree links until this area is implemented.
#include "packages/driver_store.h"

namespace orv {
DWORD RecordDriverStorePaths(WindowsApi&, const WCHAR*, const WCHAR*) { return 2; }
DWORD UninstallRecordedPackages(WindowsApi&, const WCHAR*, const WCHAR*) { return 13; }
LONG RunCommandLine(WindowsApi&, const WCHAR*) { return -1; }
DWORD LaunchPackageInstaller(WindowsApi&) { return 11; }
}  // namespace orv
