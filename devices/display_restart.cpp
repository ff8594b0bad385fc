#include "devices/display_restart.h"

#include "devices/device_walk.h"
#include "platform/device_calls.h"
#include "platform/guards.h"

namespace orv {

LONG RestartDisplayDevices(WindowsApi& api) {
  DevInfoGuard set(api, BuildDeviceSet(api, u"DISPLAY", DIGCF_ALLCLASSES | DIGCF_PRESENT));
  // Both calls are made for each member; the first member whose restart fails ends the walk.
  ForEachDevice(api, set.get(), [&](SP_DEVINFO_DATA& device, DWORD) {
    return RestartDevice(api, set.get(), device);
  });
  return 1;
}

}  // namespace orv
