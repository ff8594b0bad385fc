// The text of the platform trace: one line per seam call, "api(args) = result [device]", with
// arguments and results written by the helpers below. The simulated machine and the tracing
// wrapper of the Windows builds (tracing_windows.h) both write it, so a trace taken on a
// customer's machine and a replay of that machine's export read alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace orv {

// api(args) = result, then " [device]" when the call is about one device instance.
std::string TraceLine(std::string_view api, std::string_view args, std::string_view result,
                      std::string_view device);
std::string Narrow(const WCHAR* text);  // UTF-8 of a NUL-terminated text ("null" for null)
std::string Hex(DWORD value);           // 0x12, and 0 for zero
// A text argument: the UTF-8 text in double quotes (control characters and quotes escaped), or
// null.
std::string Quoted(const WCHAR* text);
std::string Quoted(std::u16string_view text);
// Registry data: the text up to its first NUL for the string types, the number for a 4-byte
// REG_DWORD, else hex bytes (the first 16); then ", " and the byte count.
std::string DataText(DWORD type, const BYTE* data, DWORD size);
// A handle: kind#rank for a handle the seam handed out (`rank` counts from 1 in order of
// creation, over every kind of handle), HKLM, null, INVALID_HANDLE_VALUE, or, when `rank` is 0,
// the raw value in hex.
std::string HandleText(const char* kind, const void* handle, std::uintptr_t rank);
// A GUID as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, or null.
std::string GuidText(const GUID* guid);

}  // namespace orv
