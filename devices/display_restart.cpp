// Placeholder so the tree links until this area is implemented.
#include "devices/display_restart.h"

namespace orv {
LONG RestartDisplayDevices(WindowsApi&) { return 1; }
}  // namespace orv
