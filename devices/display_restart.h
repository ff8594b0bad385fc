// Restart of the display devices.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Restarts the present devices under "DISPLAY", one after the other, stopping at the first whose
// restart does not fully succeed. Always returns 1.
LONG RestartDisplayDevices(WindowsApi& api);

}  // namespace orv
