// The data of registry values as the registry holds it, and the few text forms of it that the
// simulated machine reads and writes: UTF-16LE text, REG_MULTI_SZ lists, DWORDs, hex digits, and
// the Windows-1252 code page of older .reg files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// The UTF-16 unit at `index` of UTF-16LE bytes (two bytes from 2 * index).
inline char16_t Utf16UnitAt(const std::uint8_t* bytes, std::size_t index) {
  return static_cast<char16_t>(bytes[2 * index] | (bytes[2 * index + 1] << 8));
}
inline char16_t Utf16UnitAt(std::string_view bytes, std::size_t index) {
  return Utf16UnitAt(reinterpret_cast<const std::uint8_t*>(bytes.data()), index);
}

// Every UTF-16 unit of `size` bytes of UTF-16LE data (a trailing odd byte is left out).
std::u16string Utf16Units(const std::uint8_t* data, std::size_t size);
// The text of UTF-16LE data up to its first NUL, or all of it when it holds none.
std::u16string TextOfData(const std::uint8_t* data, std::size_t size);
inline std::u16string TextOfData(std::span<const std::uint8_t> data) {
  return TextOfData(data.data(), data.size());
}
// The texts of UTF-16LE data split at each NUL: "a\0b\0\0" gives "a", "b", "", "" (a
// REG_MULTI_SZ's strings, then what its terminators leave).
std::vector<std::u16string> SplitAtNul(std::span<const std::uint8_t> data);
// `text` as the data of a REG_SZ: UTF-16LE with its terminating NUL (appended to `data`, or on
// its own); without the NUL when not `terminated`.
void AppendStringData(std::vector<std::uint8_t>& data, std::u16string_view text,
                      bool terminated = true);
std::vector<std::uint8_t> StringData(std::u16string_view text);
// `texts` as the data of a REG_MULTI_SZ: each with its NUL, then the empty text that ends the list.
std::vector<std::uint8_t> MultiStringData(const std::vector<std::u16string>& texts);
// Windows-1252 text (the string data of a REGEDIT4 file) as UTF-16LE data, byte for character.
std::vector<std::uint8_t> StringDataFromWindows1252(std::span<const std::uint8_t> bytes);

// A REG_DWORD's four bytes (little-endian), and the number that four such bytes hold; the
// number that a REG_QWORD's eight bytes hold.
std::vector<std::uint8_t> DwordData(std::uint32_t number);
std::uint32_t DwordOf(const std::uint8_t* fourBytes);
std::uint64_t QwordOf(const std::uint8_t* eightBytes);

// The value of a hex digit (either case), or -1.
int HexDigit(char16_t c);
// A value type as regedit names it (REG_SZ, ...), or "type 0xN" for a number it has no name for.
std::string RegTypeName(std::uint32_t type);

// `text` in UTF-8 on one line, safe for a terminal: line breaks as \n and \r, every other
// control character (below U+0020, DEL and U+0080 to U+009F, among them ESC and CSI, which start
// terminal sequences) as \xNN. For names and data shown to people (winsim show, winsim diff).
std::string Printable(std::u16string_view text);

// Lower-case hex digits by value.
inline constexpr char kHexDigits[] = "0123456789abcdef";

// A byte of Windows-1252 text as its character, as Windows converts it.
char16_t FromWindows1252(unsigned char byte);

}  // namespace winsim
