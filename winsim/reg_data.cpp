#include "winsim/reg_data.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "platform/text.h"

namespace winsim {

std::u16string Utf16Units(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = Utf16UnitAt(data, i);
  }
  return text;
}

std::u16string TextOfData(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i < size / 2; ++i) {
    const char16_t c = Utf16UnitAt(data, i);
    if (c == 0) {
      break;
    }
    text.push_back(c);
  }
  return text;
}

std::string RegTypeName(std::uint32_t type) {
  static constexpr const char* kNames[] = {"REG_NONE",
                                           "REG_SZ",
                                           "REG_EXPAND_SZ",
                                           "REG_BINARY",
                                           "REG_DWORD",
                                           "REG_DWORD_BIG_ENDIAN",
                                           "REG_LINK",
                                           "REG_MULTI_SZ",
                                           "REG_RESOURCE_LIST",
                                           "REG_FULL_RESOURCE_DESCRIPTOR",
                                           "REG_RESOURCE_REQUIREMENTS_LIST",
                                           "REG_QWORD"};
  if (type < std::size(kNames)) {
    return kNames[type];
  }
  char text[32];
  std::snprintf(text, sizeof text, "type 0x%x", type);
  return text;
}

std::string Printable(std::u16string_view text) {
  const auto control = [](char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); };
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !control(text[i])) {
      continue;
    }
    out += orv::Utf16ToUtf8(text.substr(start, i - start));
    if (i < text.size()) {
      const char16_t c = text[i];
      const char escape[] = {'\\', 'x', kHexDigits[c >> 4], kHexDigits[c & 0xF], 0};
      out += c == u'\n' ? "\\n" : c == u'\r' ? "\\r" : escape;
    }
    start = i + 1;
  }
  return out;
}

std::vector<std::u16string> SplitAtNul(std::span<const std::uint8_t> data) {
  std::vector<std::u16string> texts(1);
  for (std::size_t i = 0; i < data.size() / 2; ++i) {
    const char16_t c = Utf16UnitAt(data.data(), i);
    if (c == 0) {
      texts.emplace_back();
    } else {
      texts.back().push_back(c);
    }
  }
  return texts;
}

void AppendStringData(std::vector<std::uint8_t>& data, std::u16string_view text, bool terminated) {
  for (char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  if (terminated) {
    data.insert(data.end(), 2, 0);
  }
}

std::vector<std::uint8_t> StringData(std::u16string_view text) {
  std::vector<std::uint8_t> data;
  AppendStringData(data, text);
  return data;
}

std::vector<std::uint8_t> MultiStringData(const std::vector<std::u16string>& texts) {
  std::vector<std::uint8_t> data;
  for (const std::u16string& text : texts) {
    AppendStringData(data, text);
  }
  AppendStringData(data, {});
  return data;
}

std::vector<std::uint8_t> StringDataFromWindows1252(std::span<const std::uint8_t> bytes) {
  std::u16string text(bytes.size(), u'\0');
  std::transform(bytes.begin(), bytes.end(), text.begin(), FromWindows1252);
  std::vector<std::uint8_t> data;
  AppendStringData(data, text, false);
  return data;
}

std::vector<std::uint8_t> DwordData(std::uint32_t number) {
  return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

std::uint32_t DwordOf(const std::uint8_t* fourBytes) {
  return static_cast<std::uint32_t>(fourBytes[0]) |
         (static_cast<std::uint32_t>(fourBytes[1]) << 8) |
         (static_cast<std::uint32_t>(fourBytes[2]) << 16) |
         (static_cast<std::uint32_t>(fourBytes[3]) << 24);
}

std::uint64_t QwordOf(const std::uint8_t* eightBytes) {
  return DwordOf(eightBytes) | (static_cast<std::uint64_t>(DwordOf(eightBytes + 4)) << 32);
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c >= u'a' && c <= u'f') {
    return c - u'a' + 10;
  }
  if (c >= u'A' && c <= u'F') {
    return c - u'A' + 10;
  }
  return -1;
}

// 0x80 to 0x9F are mostly typographic characters; the five bytes that the code page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters of the same number, as
// every other byte does.
char16_t FromWindows1252(unsigned char byte) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

}  // namespace winsim
