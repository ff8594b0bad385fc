// Placeholder so the tree links until this area is implemented.
#include "packages/result_codes.h"

namespace orv {
DWORD MapResultCode(DWORD) { return 11; }
}  // namespace orv
