// Renumbering of the card's parallel ports.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Gives the card's present parallel ports the lowest LPT numbers the system's other parallel
// ports leave free, renames and restarts them, removes the devices attached to them, and
// rewrites the system parallel-port map. Does nothing on Windows 2000.
void RemapParallelPorts(WindowsApi& api, const WCHAR* hardwareId, const WCHAR* namePrefix);

}  // namespace orv
