// The CODE argument of orvcard-op.
#pragma once

#include <optional>
#include <string_view>

#include "platform/win_types.h"

namespace orv {

// A hexadecimal ("0x4000") or decimal ("16384") 32-bit number; nothing else.
std::optional<DWORD> ParseOperationCode(std::string_view text);

}  // namespace orv
