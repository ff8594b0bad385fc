// Placeholder so the tree links until this area is implemented.
#include "packages/vendor_cleanup.h"

namespace orv {
DWORD RemoveVendorPackages(WindowsApi&) { return 13; }
DWORD InfNamesVendor(WindowsApi&, const WCHAR*, const WCHAR*, const WCHAR*) { return 13; }
}  // namespace orv
