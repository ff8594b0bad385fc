// Renaming of a port device, as the parallel and serial port renumbering do it.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Gives a port the name `kind` and `number` ("LPT3") and the friendly name "namePrefix (LPT3)",
// then restarts it: PortName is written when the device key opens, the friendly name when the
// key opens once more (it is opened and closed again to check), and the restart comes whatever
// happened before.
void RenamePort(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device, const WCHAR* kind,
                int number, const WCHAR* namePrefix);

}  // namespace orv
