// UTF-16 text helpers over fixed buffers, and the small formatter the operations use.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace orv {

// Length of a NUL-terminated text, never reading past `capacity` units: a text that fills its
// buffer without a terminator has the buffer's length.
std::size_t TextLength(const WCHAR* text, std::size_t capacity);
std::size_t TextLength(const WCHAR* text);

// The decimal conversion of port numbers: leading white space and one sign accepted, reading
// stops at the first non-digit, no digit reads as 0. Reads at most `capacity` units; values
// beyond the 32-bit range saturate.
int TextToInt(const WCHAR* text, std::size_t capacity);

// True when `needle` occurs in `haystack` as a contiguous, exact run of units. The empty needle
// occurs everywhere.
bool TextContains(const WCHAR* haystack, std::size_t haystackCapacity, const WCHAR* needle);

// Equality over the whole texts, terminators included.
bool TextEquals(const WCHAR* a, const WCHAR* b);

// One argument of Format: an int for %d or a text for %s.
struct FormatArg {
  FormatArg(int v) : number(v), text(nullptr) {}
  FormatArg(const WCHAR* t) : number(0), text(t) {}
  int number;
  const WCHAR* text;
};

// Formats `format` (%d, %s and %%) into `buffer`, which holds `capacity` units. Returns the
// length written, or -1 when the text does not fit; the buffer is always NUL-terminated (and
// holds the truncated text in that case).
int FormatText(WCHAR* buffer, std::size_t capacity, const WCHAR* format,
               std::initializer_list<FormatArg> args);

// Conversions for the programs, the simulated machine and the tests. Malformed UTF-8 becomes
// U+FFFD; an unpaired surrogate is encoded as it stands.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// The pieces of those conversions, for readers and writers with rules of their own.
// The length of the UTF-8 sequence that `lead` starts: 1 to 4, or 0 for a byte that starts none.
std::size_t Utf8SequenceLength(unsigned char lead);
// The code point that a sequence of `length` bytes holds, its form not checked.
char32_t DecodeUtf8Sequence(const char* bytes, std::size_t length);
// The code point at text[i]: a surrogate pair as one (i then moves to its second half), an
// unpaired surrogate as it stands.
char32_t CodePointAt(std::u16string_view text, std::size_t& i);
// `cp` as UTF-8 into `out` (room for 4 bytes); returns the number of bytes.
std::size_t EncodeUtf8(char32_t cp, char* out);
// Appends `cp` (at most U+10FFFF) as one unit or a surrogate pair.
void AppendUtf16(std::u16string& out, char32_t cp);

// Copies `text` into `buffer` of `capacity` units with its terminator; returns false (and
// leaves an empty text) when it does not fit.
bool CopyText(WCHAR* buffer, std::size_t capacity, const WCHAR* text);

}  // namespace orv
