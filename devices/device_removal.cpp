#include "devices/device_removal.h"

#include "devices/device_walk.h"
#include "platform/device_calls.h"
#include "platform/guards.h"
#include "platform/text.h"

namespace orv {

LONG RemoveDevicesByEnumerator(WindowsApi& api, const WCHAR* enumerator,
                               const WCHAR* locationText) {
  DevInfoGuard set(api, BuildDeviceSet(api, enumerator, DIGCF_ALLCLASSES));
  constexpr DWORD kLocationChars = 260;
  ForEachDevice(api, set.get(), [&](SP_DEVINFO_DATA& device, DWORD) {
    ProbeDeviceKey(api, set.get(),
                   device);  // opened and closed; what follows does not depend on it
    WCHAR location[kLocationChars];
    // A location the platform does not deliver stays empty.
    ReadLocation(api, set.get(), device, location, sizeof location);
    if (locationText == nullptr || TextContains(location, kLocationChars, locationText)) {
      DeleteDevice(api, set.get(), device);
    }
    return true;
  });
  return 0;
}

}  // namespace orv
