// The map from platform statuses to the tool's result codes.
#pragma once

#include "platform/win_types.h"

namespace orv {

DWORD MapResultCode(DWORD status);

}  // namespace orv
