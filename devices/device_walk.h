// The one walk over the members of a device set that every device operation makes.
#pragma once

#include <type_traits>

#include "platform/device_calls.h"

namespace orv {

// No bound on the members a walk visits.
inline constexpr DWORD kEveryMember = 0xFFFFFFFF;

// What a walk calls for each member: (device, index) -> whether the walk goes on.
template <typename Visit>
concept DeviceVisitor = std::is_invocable_r_v<bool, Visit&, SP_DEVINFO_DATA&, DWORD>;

// Calls `visit(device, index)` for members 0, 1, 2, ... of `set`, each read by EnumerateDevice
// into one record, until the set has no more members, `visit` returns false, or `room` members
// have been visited; in the last two cases the next member is not asked for. An invalid set has
// no members. Returns false when `visit` stopped the walk.
template <DeviceVisitor Visit>
bool ForEachDevice(WindowsApi& api, HDEVINFO set, Visit&& visit, DWORD room = kEveryMember) {
  if (set == INVALID_HANDLE_VALUE) {
    return true;
  }
  SP_DEVINFO_DATA device;
  for (DWORD index = 0; index < room && EnumerateDevice(api, set, index, device); ++index) {
    if (!visit(device, index)) {
      return false;
    }
  }
  return true;
}

}  // namespace orv
