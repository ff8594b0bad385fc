// The statuses the driver-package procedures make up themselves, apart from the platform's
// (Win32 errors, trust and certificate statuses, DIFx statuses, exit statuses). They travel in
// the same 32-bit status as those, are folded into it by OR and mapped to a result code like any
// other value, so they are taken out with StatusOf() at the point where they enter it.
#pragma once

#include "platform/win_types.h"

namespace orv {

enum class ToolStatus : DWORD {
  kNoInfFiles = 2,   // the current directory holds no INF file
  kCannotOpen = 13,  // a key, folder or file cannot be opened; no "oem*.inf" file is listed
};

constexpr DWORD StatusOf(ToolStatus status) {
  return static_cast<DWORD>(status);
}

}  // namespace orv
