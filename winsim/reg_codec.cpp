#include "winsim/reg_codec.h"

#include <optional>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/win_types.h"

namespace winsim {

namespace {

constexpr std::u16string_view kHeaderVersion5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeaderRegedit4 = u"REGEDIT4";

// ---------------------------------------------------------------------------------------------
// Bytes to text

// True when `bytes` is well-formed UTF-8 in structure: every lead byte is followed by the right
// number of continuation bytes. Encoded surrogates are accepted, because the canonical writer
// produces them for texts that hold an unpaired surrogate.
bool LooksLikeUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    if (c < 0x80) {
      length = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
    } else {
      return false;
    }
    if (i + length > bytes.size()) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

// The text of an image file: UTF-16LE after its BOM; otherwise UTF-8 (a BOM is dropped) when the
// bytes are UTF-8, else single-byte text read as Latin-1 (what an ANSI REGEDIT4 file written on
// a western code page mostly is).
std::u16string DecodeImage(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      throw RegFormatError(0, "UTF-16 image with an odd number of bytes");
    }
    std::u16string text;
    text.reserve(bytes.size() / 2 - 1);
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
  }
  if (LooksLikeUtf8(bytes)) {
    return orv::Utf8ToUtf16(bytes);
  }
  std::u16string text;
  text.reserve(bytes.size());
  for (char c : bytes) {
    text.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// Reading

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view TrimEnd(std::u16string_view text) {
  while (!text.empty() && (IsBlank(text.back()) || text.back() == u'\r')) {
    text.remove_suffix(1);
  }
  return text;
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

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() &&
         FoldCase(text.substr(0, prefix.size())) == FoldCase(prefix);
}

void AppendUtf16Le(std::vector<std::uint8_t>& data, std::u16string_view text) {
  for (char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
}

// One entry of the image: a physical line, or several joined by backslash continuations. Each
// part remembers the physical line it came from, so that a problem is reported where it is.
struct LogicalLine {
  std::u16string text;
  std::vector<std::pair<std::size_t, int>> parts;  // offset in text -> physical line number

  int LineAt(std::size_t offset) const {
    int line = parts.front().second;
    for (const auto& [start, number] : parts) {
      if (start <= offset) {
        line = number;
      }
    }
    return line;
  }
};

class ImageReader {
 public:
  explicit ImageReader(Registry& registry) : registry_(registry) {}

  void Read(std::string_view bytes) {
    const std::u16string text = DecodeImage(bytes);
    std::vector<std::u16string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
      std::size_t end = text.find(u'\n', start);
      if (end == std::u16string::npos) {
        end = text.size();
      }
      lines.push_back(TrimEnd(std::u16string_view(text).substr(start, end - start)));
      start = end + 1;
    }
    if (lines.empty() || (lines[0] != kHeaderVersion5 && lines[0] != kHeaderRegedit4)) {
      throw RegFormatError(1,
                           "the first line is not \"Windows Registry Editor Version 5.00\" "
                           "or \"REGEDIT4\"");
    }
    unicode_ = lines[0] == kHeaderVersion5;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      line_ = LogicalLine{};
      line_.parts.emplace_back(0, static_cast<int>(i + 1));
      line_.text = lines[i];
      while (!line_.text.empty() && line_.text.back() == u'\\' && IsContinued()) {
        line_.text.pop_back();
        if (++i == lines.size()) {
          Fail(line_.text.size(), "the last line ends with a continuation backslash");
        }
        std::u16string_view next = lines[i];
        while (!next.empty() && IsBlank(next.front())) {
          next.remove_prefix(1);
        }
        line_.parts.emplace_back(line_.text.size(), static_cast<int>(i + 1));
        line_.text += next;
      }
      ReadEntry();
    }
  }

 private:
  [[noreturn]] void Fail(std::size_t offset, const std::string& problem) const {
    throw RegFormatError(line_.LineAt(offset), problem);
  }

  // A trailing backslash continues a value line (regedit splits long hex data so); key lines end
  // with ']' and comments are taken as they stand.
  bool IsContinued() const {
    const std::size_t pos = SkipBlanks(0);
    return pos < line_.text.size() && line_.text[pos] != u'[' && line_.text[pos] != u';';
  }

  std::size_t SkipBlanks(std::size_t pos) const {
    while (pos < line_.text.size() && IsBlank(line_.text[pos])) {
      ++pos;
    }
    return pos;
  }

  void ExpectEnd(std::size_t pos) const {
    pos = SkipBlanks(pos);
    if (pos != line_.text.size()) {
      Fail(pos, "unexpected text after the entry");
    }
  }

  void ReadEntry() {
    const std::size_t pos = SkipBlanks(0);
    if (pos == line_.text.size() || line_.text[pos] == u';') {
      return;  // blank line or comment
    }
    if (line_.text[pos] == u'[') {
      ReadKeyLine(pos);
    } else {
      ReadValueLine(pos);
    }
  }

  // [HKEY_...\path] opens (creating) a key; [-HKEY_...\path] deletes it with its tree.
  void ReadKeyLine(std::size_t pos) {
    const std::size_t close = line_.text.rfind(u']');
    if (close == std::u16string::npos || close < pos) {
      Fail(pos, "key line without a closing ']'");
    }
    ExpectEnd(close + 1);
    std::u16string_view path = std::u16string_view(line_.text).substr(pos + 1, close - pos - 1);
    const bool remove = !path.empty() && path.front() == u'-';
    if (remove) {
      path.remove_prefix(1);
    }
    std::vector<std::u16string_view> names;
    for (std::size_t start = 0;;) {
      const std::size_t slash = path.find(u'\\', start);
      names.push_back(
          path.substr(start, slash == std::u16string_view::npos ? slash : slash - start));
      if (names.back().empty()) {
        Fail(pos, "empty key name in the key path");
      }
      if (slash == std::u16string_view::npos) {
        break;
      }
      start = slash + 1;
    }
    RegKey* key = registry_.Root(names.front());
    if (key == nullptr) {
      Fail(pos, "unknown root key \"" + orv::Utf16ToUtf8(names.front()) + "\"");
    }
    if (remove) {
      if (names.size() == 1) {
        Fail(pos, "a root key cannot be deleted");
      }
      for (std::size_t i = 1; i + 1 < names.size() && key != nullptr; ++i) {
        key = key->FindSubkey(names[i]);
      }
      if (key != nullptr) {
        key->DeleteSubkeyTree(names.back());
      }
      key_ = nullptr;
      return;
    }
    for (std::size_t i = 1; i < names.size(); ++i) {
      key = &key->CreateSubkey(names[i]);
    }
    key_ = key;
  }

  // A quoted text starting at `pos` (which holds the opening quote); `pos` ends after the closing
  // quote. Escapes: \\ \" and, as Wine writes them, \n \r \0.
  std::u16string ReadQuoted(std::size_t& pos) const {
    std::u16string text;
    const std::size_t open = pos++;
    while (pos < line_.text.size() && line_.text[pos] != u'"') {
      char16_t c = line_.text[pos++];
      if (c == u'\\') {
        if (pos == line_.text.size()) {
          break;
        }
        switch (line_.text[pos]) {
          case u'\\':
          case u'"':
            c = line_.text[pos];
            break;
          case u'n':
            c = u'\n';
            break;
          case u'r':
            c = u'\r';
            break;
          case u'0':
            c = 0;
            break;
          default:
            Fail(pos - 1, "unknown escape '\\" + orv::Utf16ToUtf8(line_.text.substr(pos, 1)) +
                              "' in a quoted text");
        }
        ++pos;
      }
      text.push_back(c);
    }
    if (pos == line_.text.size()) {
      Fail(open, "quoted text without its closing quote");
    }
    ++pos;
    return text;
  }

  // "name"=data or @=data.
  void ReadValueLine(std::size_t pos) {
    std::u16string name;
    if (line_.text[pos] == u'@') {
      ++pos;
    } else if (line_.text[pos] == u'"') {
      name = ReadQuoted(pos);
    } else {
      Fail(pos, "expected a key line, a value line or a comment");
    }
    pos = SkipBlanks(pos);
    if (pos == line_.text.size() || line_.text[pos] != u'=') {
      Fail(pos, "expected '=' after the value name");
    }
    pos = SkipBlanks(pos + 1);
    if (key_ == nullptr) {
      Fail(pos, "value line outside a key");
    }
    const std::u16string_view rest = std::u16string_view(line_.text).substr(pos);
    if (rest.starts_with(u"\"")) {
      std::vector<std::uint8_t> data;
      AppendUtf16Le(data, ReadQuoted(pos));
      AppendUtf16Le(data, std::u16string_view(u"\0", 1));
      ExpectEnd(pos);
      key_->SetValue(name, orv::REG_SZ, std::move(data));
    } else if (rest.starts_with(u"-")) {
      ExpectEnd(pos + 1);
      key_->DeleteValue(name);
    } else if (StartsWithNoCase(rest, u"dword:")) {
      const std::uint32_t number = ReadHexNumber(pos + 6, 8, u'\0');
      key_->SetValue(
          name, orv::REG_DWORD,
          {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
           static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)});
    } else if (StartsWithNoCase(rest, u"hex:")) {
      key_->SetValue(name, orv::REG_BINARY, ReadHexBytes(pos + 4, orv::REG_BINARY));
    } else if (StartsWithNoCase(rest, u"hex(")) {
      std::size_t close = line_.text.find(u')', pos);
      if (close == std::u16string::npos || close + 1 >= line_.text.size() ||
          line_.text[close + 1] != u':') {
        Fail(pos, "expected hex(N): with the type number N in hex");
      }
      const std::uint32_t type = ReadHexNumber(pos + 4, 8, u')');
      key_->SetValue(name, type, ReadHexBytes(close + 2, type));
    } else {
      Fail(pos, "unknown value data (expected \"text\", dword:, hex:, hex(N): or -)");
    }
  }

  // 1 to `maxDigits` hex digits from `pos`, up to `terminator` (or, for '\0', the end of the line
  // after optional blanks).
  std::uint32_t ReadHexNumber(std::size_t pos, std::size_t maxDigits, char16_t terminator) const {
    std::uint32_t number = 0;
    std::size_t digits = 0;
    for (; pos < line_.text.size() && HexDigit(line_.text[pos]) >= 0; ++pos, ++digits) {
      number = (number << 4) | static_cast<std::uint32_t>(HexDigit(line_.text[pos]));
    }
    if (digits == 0 || digits > maxDigits) {
      Fail(pos, "expected 1 to " + std::to_string(maxDigits) + " hex digits");
    }
    if (terminator == u'\0') {
      ExpectEnd(pos);
    } else if (pos == line_.text.size() || line_.text[pos] != terminator) {
      Fail(pos, "unexpected character in a hex number");
    }
    return number;
  }

  // Comma-separated bytes of 1 or 2 hex digits, blanks allowed around them; no bytes at all is
  // empty data. In REGEDIT4 the string types hold single-byte text, which becomes UTF-16LE.
  std::vector<std::uint8_t> ReadHexBytes(std::size_t pos, std::uint32_t type) const {
    std::vector<std::uint8_t> data;
    if (SkipBlanks(pos) == line_.text.size()) {
      return data;
    }
    for (;;) {
      pos = SkipBlanks(pos);
      const std::size_t start = pos;
      unsigned byte = 0;
      for (; pos < line_.text.size() && HexDigit(line_.text[pos]) >= 0; ++pos) {
        byte = byte * 16 + static_cast<unsigned>(HexDigit(line_.text[pos]));
      }
      if (pos == start || pos - start > 2) {
        Fail(start, "expected a byte of two hex digits");
      }
      data.push_back(static_cast<std::uint8_t>(byte));
      pos = SkipBlanks(pos);
      if (pos == line_.text.size()) {
        break;
      }
      if (line_.text[pos] != u',') {
        Fail(pos, "expected ',' between hex bytes");
      }
      ++pos;
    }
    if (!unicode_ &&
        (type == orv::REG_SZ || type == orv::REG_EXPAND_SZ || type == orv::REG_MULTI_SZ)) {
      std::vector<std::uint8_t> wide;
      for (std::uint8_t b : data) {
        wide.push_back(b);
        wide.push_back(0);
      }
      data = std::move(wide);
    }
    return data;
  }

  Registry& registry_;
  bool unicode_ = true;  // version 5 image (false: REGEDIT4)
  RegKey* key_ = nullptr;
  LogicalLine line_;
};

// ---------------------------------------------------------------------------------------------
// Writing

// The text of a REG_SZ that can be written as "text": data of the text and exactly one
// terminator, with no NUL, no line break and no unpaired surrogate inside.
std::optional<std::u16string> PlainText(const RegValue& value) {
  const std::vector<std::uint8_t>& data = value.data;
  if (value.type != orv::REG_SZ || data.size() < 2 || data.size() % 2 != 0 ||
      data[data.size() - 2] != 0 || data.back() != 0) {
    return std::nullopt;
  }
  std::u16string text;
  for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == 0 || c == u'\n' || c == u'\r' || (c >= 0xDC00 && c <= 0xDFFF)) {
      return std::nullopt;
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
        return std::nullopt;
      }
      ++i;
    }
  }
  return text;
}

void AppendQuoted(std::u16string& out, std::u16string_view text) {
  out += u'"';
  for (char16_t c : text) {
    switch (c) {
      case u'\\':
        out += u"\\\\";
        break;
      case u'"':
        out += u"\\\"";
        break;
      case u'\n':
        out += u"\\n";
        break;
      case u'\r':
        out += u"\\r";
        break;
      case 0:
        out += u"\\0";
        break;
      default:
        out += c;
    }
  }
  out += u'"';
}

void AppendHex(std::u16string& out, std::uint32_t number, int minDigits) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string digits;
  do {
    digits.insert(digits.begin(), kDigits[number & 0xF]);
    number >>= 4;
  } while (number != 0);
  while (static_cast<int>(digits.size()) < minDigits) {
    digits.insert(digits.begin(), u'0');
  }
  out += digits;
}

// Bytes as regedit lays them out: "xx" separated by commas, lines continued with a backslash
// and indented by two blanks so that no line passes 80 columns.
void AppendHexBytes(std::u16string& out, const std::vector<std::uint8_t>& data,
                    std::size_t column) {
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i > 0) {
      out += u',';
      if (++column > 76) {
        out += u"\\\n  ";
        column = 2;
      }
    }
    AppendHex(out, data[i], 2);
    column += 2;
  }
}

void AppendValue(std::u16string& out, const RegValue& value) {
  const std::size_t lineStart = out.size();
  if (value.name.empty()) {
    out += u'@';
  } else {
    AppendQuoted(out, value.name);
  }
  out += u'=';
  if (std::optional<std::u16string> text = PlainText(value)) {
    AppendQuoted(out, *text);
  } else if (value.type == orv::REG_DWORD && value.data.size() == 4) {
    out += u"dword:";
    AppendHex(out,
              static_cast<std::uint32_t>(value.data[0]) | (value.data[1] << 8) |
                  (value.data[2] << 16) | (static_cast<std::uint32_t>(value.data[3]) << 24),
              8);
  } else {
    if (value.type == orv::REG_BINARY) {
      out += u"hex:";
    } else {
      out += u"hex(";
      AppendHex(out, value.type, 1);
      out += u"):";
    }
    AppendHexBytes(out, value.data, out.size() - lineStart);
  }
  out += u'\n';
}

void AppendKey(std::u16string& out, const RegKey& key) {
  out += u'[';
  out += key.Path();
  out += u"]\n";
  for (const RegValue& value : key.values()) {
    AppendValue(out, value);
  }
  out += u'\n';
  for (const RegKey* subkey : key.Subkeys()) {
    AppendKey(out, *subkey);
  }
}

std::u16string CanonicalText(const Registry& registry) {
  std::u16string out(kHeaderVersion5);
  out += u"\n\n";
  for (const RegKey* root : registry.Roots()) {
    if (root->SubkeyCount() != 0 || !root->values().empty()) {
      AppendKey(out, *root);
    }
  }
  return out;
}

}  // namespace

void ReadRegImage(std::string_view bytes, Registry& into) {
  ImageReader(into).Read(bytes);
}

Registry ParseRegImage(std::string_view bytes) {
  Registry registry;
  ReadRegImage(bytes, registry);
  return registry;
}

std::string WriteRegImage(const Registry& registry) {
  return orv::Utf16ToUtf8(CanonicalText(registry));
}

std::string WriteRegImageUtf16(const Registry& registry) {
  const std::u16string text = CanonicalText(registry);
  std::string bytes = "\xFF\xFE";
  bytes.reserve(text.size() * 2 + 16);
  for (char16_t c : text) {
    if (c == u'\n') {
      bytes += std::string_view("\r\0", 2);
    }
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

}  // namespace winsim
