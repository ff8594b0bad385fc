// Classification of the running Windows version, product type and processor architecture.
#pragma once

#include "platform/windows_api.h"

namespace orv {

inline constexpr DWORD kPlatformWindows2000 = 0x50000003;
inline constexpr DWORD kPlatformX86Bits = 0x03;
inline constexpr DWORD kPlatformX64Bits = 0x60;

DWORD GetPlatformCode(WindowsApi& api);

}  // namespace orv
