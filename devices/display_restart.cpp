#include "devices/display_restart.h"

#include "platform/device_calls.h"
#include "platform/guards.h"

namespace orv {

LONG RestartDisplayDevices(WindowsApi& api) {
  DevInfoGuard set(api, BuildDeviceSet(api, u"DISPLAY", DIGCF_ALLCLASSES | DIGCF_PRESENT));
  SP_DEVINFO_DATA device;
  for (DWORD index = 0; set.valid() && EnumerateDevice(api, set.get(), index, device); ++index) {
    // Both calls are made for the member; the first one that fails ends the restarts.
    if (!RestartDevice(api, set.get(), device)) {
      break;
    }
  }
  return 1;
}

}  // namespace orv
