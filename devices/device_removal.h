// Removal of the device nodes an enumerator lists.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Deletes every device, present or not, that the enumerator lists, or, when `locationText` is
// not null, those whose location information contains it. Always returns 0.
LONG RemoveDevicesByEnumerator(WindowsApi& api, const WCHAR* enumerator, const WCHAR* locationText);

}  // namespace orv
