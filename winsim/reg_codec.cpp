#include "winsim/reg_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <istream>
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

// A byte of Windows-1252 text as its character, as Windows converts it: 0x80 to 0x9F are mostly
// typographic characters; the five bytes that the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to the control characters of the same number, as every other byte does.
char16_t FromWindows1252(unsigned char byte) {
  static constexpr char16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

// Tells whether bytes fed in pieces are well-formed UTF-8 in structure: every lead byte is
// followed by the right number of continuation bytes. Encoded surrogates are accepted, because
// the canonical writer produces them for texts that hold an unpaired surrogate.
class Utf8Check {
 public:
  void Feed(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size() && valid_; ++i) {
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      if (continuations_ > 0) {
        valid_ = (c & 0xC0) == 0x80;
        --continuations_;
      } else if (c >= 0x80) {
        continuations_ = c >= 0xC2 && c <= 0xDF   ? 1
                         : (c & 0xF0) == 0xE0     ? 2
                         : c >= 0xF0 && c <= 0xF4 ? 3
                                                  : 0;
        valid_ = continuations_ != 0;
      }
    }
  }
  bool Valid() const { return valid_ && continuations_ == 0; }

 private:
  bool valid_ = true;
  int continuations_ = 0;
};

// The lines of an image, decoded one at a time, from bytes in memory or from a stream read a
// piece at a time: UTF-16LE after its BOM; otherwise UTF-8 (a BOM is dropped) when the bytes
// are UTF-8, else single-byte text in the Windows-1252 code page, as Windows reads an ANSI file
// on a western system (UseAnsi decides that at once, for a REGEDIT4 file). Lines end at LF; the
// blanks and CRs that end a line are dropped. A text that ends with LF has an empty last line
// after it.
class ImageLines {
 public:
  explicit ImageLines(std::string_view bytes) : data_(bytes) {
    if (IsUtf16() && bytes.size() % 2 != 0) {
      throw RegFormatError(0, "UTF-16 image with an odd number of bytes");
    }
    Start();
  }

  explicit ImageLines(std::istream& in) : in_(&in) {
    while (data_.size() < 3 && Refill()) {
    }
    Start();
  }

  // The next line into `line`; false after the last one.
  bool Next(std::u16string& line) {
    if (finished_) {
      return false;
    }
    ++number_;
    line.clear();
    const std::size_t unit = encoding_ == Encoding::kUtf16 ? 2 : 1;
    std::size_t end = position_;
    bool lineEnd = false;
    for (;;) {
      end = FindLineEnd(end);
      lineEnd = end + unit <= data_.size();
      const std::size_t scanned = end - position_;
      if (lineEnd || !Refill()) {
        break;
      }
      end = position_ + scanned;
    }
    if (!lineEnd) {
      if ((data_.size() - position_) % unit != 0) {
        throw RegFormatError(0, "UTF-16 image with an odd number of bytes");
      }
      end = data_.size();
      finished_ = true;
    }
    const std::string_view bytes = data_.substr(position_, end - position_);
    position_ = end + unit;
    switch (encoding_) {
      case Encoding::kUtf16:
        line.resize(bytes.size() / 2);
        if constexpr (std::endian::native == std::endian::little) {
          std::memcpy(line.data(), bytes.data(), line.size() * 2);
        } else {
          for (std::size_t i = 0; i < line.size(); ++i) {
            line[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                            (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
          }
        }
        break;
      case Encoding::kAscii:
      case Encoding::kUtf8:
      case Encoding::kAnsi: {
        // Widen every byte (most lines are ASCII); in UTF-8 a line with a byte above 0x7F is
        // decoded from there on.
        line.resize(bytes.size());
        unsigned char any = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
          const auto c = static_cast<unsigned char>(bytes[i]);
          any |= c;
          line[i] = c;
        }
        if (any >= 0x80) {
          if (encoding_ == Encoding::kAscii) {
            DecideEncoding(bytes);
          }
          if (encoding_ == Encoding::kAnsi) {
            for (std::size_t i = 0; i < bytes.size(); ++i) {
              line[i] = FromWindows1252(static_cast<unsigned char>(bytes[i]));
            }
          } else if (encoding_ == Encoding::kUtf8) {
            std::size_t ascii = 0;
            while (static_cast<unsigned char>(bytes[ascii]) < 0x80) {
              ++ascii;
            }
            line.resize(ascii);
            DecodeUtf8(bytes.substr(ascii), line);
          }
        }
        break;
      }
    }
    while (!line.empty() && IsBlankOrCr(line.back())) {
      line.pop_back();
    }
    return true;
  }

  int number() const { return number_; }  // of the line read last, from 1

  // The rest is single-byte text in Windows-1252 (what Windows reads a REGEDIT4 file as), unless
  // a BOM has named the encoding.
  void UseAnsi() {
    if (encoding_ == Encoding::kAscii && !utf8Bom_) {
      encoding_ = Encoding::kAnsi;
    }
  }

 private:
  // kAscii: no byte above 0x7F seen yet, so UTF-8 and Windows-1252 read alike so far.
  enum class Encoding { kUtf16, kAscii, kUtf8, kAnsi };
  static constexpr std::size_t kPieceBytes = 1 << 20;

  // Where the LF at or after `from` is, or where the search stopped for want of bytes.
  std::size_t FindLineEnd(std::size_t from) const {
    if (encoding_ != Encoding::kUtf16) {
      const void* found = std::memchr(data_.data() + from, '\n', data_.size() - from);
      return found == nullptr
                 ? data_.size()
                 : static_cast<std::size_t>(static_cast<const char*>(found) - data_.data());
    }
    // An LF byte found at an even distance from `from` (units are aligned with it) and followed
    // by a zero byte is the character LF.
    while (from + 2 <= data_.size()) {
      const void* found = std::memchr(data_.data() + from, '\n', data_.size() - from - 1);
      if (found == nullptr) {
        break;
      }
      const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - data_.data());
      if ((at - from) % 2 == 0 && data_[at + 1] == 0) {
        return at;
      }
      from = at + 2 - (at - from) % 2;  // the unit after the one that holds the byte
    }
    return from + (data_.size() - from) / 2 * 2;
  }

  bool IsUtf16() const {
    return data_.size() >= 2 && static_cast<unsigned char>(data_[0]) == 0xFF &&
           static_cast<unsigned char>(data_[1]) == 0xFE;
  }

  void Start() {
    if (IsUtf16()) {
      encoding_ = Encoding::kUtf16;
      position_ = 2;
    } else if (data_.starts_with("\xEF\xBB\xBF")) {
      position_ = 3;
      utf8Bom_ = true;
    }
  }

  // Reads another piece of the stream behind the unread bytes; false at its end.
  bool Refill() {
    if (in_ == nullptr || inputEnded_) {
      return false;
    }
    buffer_.erase(0, position_);
    position_ = 0;
    const std::size_t kept = buffer_.size();
    buffer_.resize(kept + kPieceBytes);
    in_->read(buffer_.data() + kept, kPieceBytes);
    const auto got = static_cast<std::size_t>(in_->gcount());
    buffer_.resize(kept + got);
    data_ = buffer_;
    if (in_->bad()) {
      throw RegFormatError(0, "cannot read the image");
    }
    inputEnded_ = got < kPieceBytes;  // a stream reads short only at its end
    return got != 0;
  }

  // At the first byte above 0x7F, in the line `bytes`: everything before it was ASCII, so the
  // rest of the image from that line on decides between UTF-8 and Windows-1252.
  void DecideEncoding(std::string_view bytes) {
    Utf8Check check;
    check.Feed(data_.substr(static_cast<std::size_t>(bytes.data() - data_.data())));
    if (in_ != nullptr && !inputEnded_ && check.Valid()) {
      const std::istream::pos_type resume = in_->tellg();
      std::string piece(kPieceBytes, '\0');
      while (check.Valid() && in_->read(piece.data(), kPieceBytes).gcount() > 0) {
        check.Feed(std::string_view(piece.data(), static_cast<std::size_t>(in_->gcount())));
      }
      in_->clear();
      if (resume == std::istream::pos_type(-1) || !in_->seekg(resume)) {
        throw RegFormatError(0, "cannot go back in the image after reading ahead");
      }
    }
    encoding_ = check.Valid() ? Encoding::kUtf8 : Encoding::kAnsi;
  }

  static bool IsBlankOrCr(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

  // Decodes UTF-8 that Utf8Check accepted, as orv::Utf8ToUtf16 does.
  static void DecodeUtf8(std::string_view bytes, std::u16string& out) {
    for (std::size_t i = 0; i < bytes.size();) {
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      if (c < 0x80) {
        out.push_back(c);
        ++i;
        continue;
      }
      const std::size_t length = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      char32_t cp = c & (0x7F >> length);
      for (std::size_t k = 1; k < length; ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
      }
      i += length;
      if (cp > 0x10FFFF) {
        out.push_back(0xFFFD);
      } else if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(cp));
      }
    }
  }

  std::istream* in_ = nullptr;
  std::string buffer_;     // the pieces of the stream not yet consumed
  std::string_view data_;  // the bytes at hand: the whole image, or buffer_
  std::size_t position_ = 0;
  bool inputEnded_ = false;
  bool finished_ = false;
  bool utf8Bom_ = false;
  Encoding encoding_ = Encoding::kAscii;
  int number_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Reading

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
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
  return text.size() >= prefix.size() && CompareFolded(text.substr(0, prefix.size()), prefix) == 0;
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

  void Read(ImageLines& lines) {
    if (!lines.Next(line_.text) ||
        (line_.text != kHeaderVersion5 && line_.text != kHeaderRegedit4)) {
      throw RegFormatError(1,
                           "the first line is not \"Windows Registry Editor Version 5.00\" "
                           "or \"REGEDIT4\"");
    }
    unicode_ = line_.text == kHeaderVersion5;
    if (!unicode_) {
      lines.UseAnsi();
    }
    std::u16string next;
    while (lines.Next(line_.text)) {
      line_.parts.assign(1, {0, lines.number()});
      while (!line_.text.empty() && line_.text.back() == u'\\' && IsContinued()) {
        line_.text.pop_back();
        if (!lines.Next(next)) {
          Fail(line_.text.size(), "the last line ends with a continuation backslash");
        }
        std::size_t blanks = 0;
        while (blanks < next.size() && IsBlank(next[blanks])) {
          ++blanks;
        }
        line_.parts.emplace_back(line_.text.size(), lines.number());
        line_.text.append(next, blanks);
      }
      ReadEntry();
    }
    EnterKey(nullptr);
    registry_.LinkControlSet();
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

  // Makes `key` the key that value lines go to. The key before it is complete: the room that
  // appending its values left spare goes back.
  void EnterKey(RegKey* key) {
    if (key_ != nullptr) {
      FlushValues();
      key_->ShrinkToFit();
    }
    key_ = key;
  }

  // The values read for key_ go to it together, so that it takes them in one piece.
  void SetValue(std::uint32_t type, std::vector<std::uint8_t> data) {
    pending_.push_back(RegValue{name_, type, std::move(data)});
  }
  void FlushValues() { key_->SetValues(pending_); }

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
    std::vector<std::u16string_view>& names = names_;
    names.clear();
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
      // The key being read may be in the tree that goes: it takes its values first, and no
      // key of the last path is kept.
      EnterKey(nullptr);
      lastPath_.clear();
      lastKeys_.clear();
      for (std::size_t i = 1; i + 1 < names.size() && key != nullptr; ++i) {
        key = key->FindSubkey(names[i]);
      }
      if (key != nullptr) {
        key->DeleteSubkeyTree(names.back());
      }
      return;
    }
    // An image lists a key's subkeys right after it: the keys of the names this path shares
    // with the one before are known already.
    const std::size_t common = static_cast<std::size_t>(
        std::mismatch(path.begin(), path.end(), lastPath_.begin(), lastPath_.end()).first -
        path.begin());
    std::size_t known = 0;
    while (known < names.size() && known < lastKeys_.size() && lastKeys_[known].first <= common &&
           lastKeys_[known].first == EndOf(path, names[known])) {
      key = lastKeys_[known++].second;
    }
    lastKeys_.resize(known);
    for (std::size_t i = known; i < names.size(); ++i) {
      if (i > 0) {
        key = &key->CreateSubkey(names[i]);
      }
      lastKeys_.emplace_back(EndOf(path, names[i]), key);
    }
    lastPath_.assign(path);
    EnterKey(key);
  }

  // Where `name`, a part of `path`, ends in it.
  static std::size_t EndOf(std::u16string_view path, std::u16string_view name) {
    return static_cast<std::size_t>(name.data() - path.data()) + name.size();
  }

  // A quoted text starting at `pos` (which holds the opening quote) into `text`; `pos` ends after
  // the closing quote. Escapes: \\ \" and, as Wine writes them, \n \r \0.
  void ReadQuoted(std::size_t& pos, std::u16string& text) const {
    const std::u16string& line = line_.text;
    text.clear();
    const std::size_t open = pos++;
    for (;;) {
      std::size_t run = pos;
      while (run < line.size() && line[run] != u'"' && line[run] != u'\\') {
        ++run;
      }
      text.append(line, pos, run - pos);
      pos = run;
      if (pos == line.size() || line[pos] == u'"' || ++pos == line.size()) {
        break;
      }
      switch (line[pos]) {
        case u'\\':
        case u'"':
          text.push_back(line[pos]);
          break;
        case u'n':
          text.push_back(u'\n');
          break;
        case u'r':
          text.push_back(u'\r');
          break;
        case u'0':
          text.push_back(0);
          break;
        default:
          Fail(pos - 1,
               "unknown escape '\\" + orv::Utf16ToUtf8(line.substr(pos, 1)) + "' in a quoted text");
      }
      ++pos;
    }
    if (pos == line.size()) {
      Fail(open, "quoted text without its closing quote");
    }
    ++pos;
  }

  // "name"=data or @=data.
  void ReadValueLine(std::size_t pos) {
    std::u16string& name = name_;
    name.clear();
    if (line_.text[pos] == u'@') {
      ++pos;
    } else if (line_.text[pos] == u'"') {
      ReadQuoted(pos, name);
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
      ReadQuoted(pos, text_);
      ExpectEnd(pos);
      text_.push_back(0);
      std::vector<std::uint8_t> data(text_.size() * 2);
      for (std::size_t i = 0; i < text_.size(); ++i) {
        data[2 * i] = static_cast<std::uint8_t>(text_[i] & 0xFF);
        data[2 * i + 1] = static_cast<std::uint8_t>(text_[i] >> 8);
      }
      SetValue(orv::REG_SZ, std::move(data));
    } else if (rest.starts_with(u"-")) {
      ExpectEnd(pos + 1);
      FlushValues();
      key_->DeleteValue(name);
    } else if (StartsWithNoCase(rest, u"dword:")) {
      const std::uint32_t number = ReadHexNumber(pos + 6, 8, u'\0');
      SetValue(orv::REG_DWORD,
               {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)});
    } else if (StartsWithNoCase(rest, u"hex:")) {
      SetValue(orv::REG_BINARY, ReadHexBytes(pos + 4, orv::REG_BINARY));
    } else if (StartsWithNoCase(rest, u"hex(")) {
      std::size_t close = line_.text.find(u')', pos);
      if (close == std::u16string::npos || close + 1 >= line_.text.size() ||
          line_.text[close + 1] != u':') {
        Fail(pos, "expected hex(N): with the type number N in hex");
      }
      const std::uint32_t type = ReadHexNumber(pos + 4, 8, u')');
      SetValue(type, ReadHexBytes(close + 2, type));
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
  std::vector<std::uint8_t> ReadHexBytes(std::size_t pos, std::uint32_t type) {
    std::vector<std::uint8_t>& data = bytes_;
    data.clear();
    if (SkipBlanks(pos) == line_.text.size()) {
      return {};
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
      std::vector<std::uint8_t> wide(data.size() * 2);
      for (std::size_t i = 0; i < data.size(); ++i) {
        const char16_t c = FromWindows1252(data[i]);
        wide[2 * i] = static_cast<std::uint8_t>(c & 0xFF);
        wide[2 * i + 1] = static_cast<std::uint8_t>(c >> 8);
      }
      return wide;
    }
    return std::vector<std::uint8_t>(data.begin(), data.end());  // no room to spare
  }

  Registry& registry_;
  bool unicode_ = true;  // version 5 image (false: REGEDIT4)
  RegKey* key_ = nullptr;
  LogicalLine line_;
  // The path of the last key line, and the key reached at the end of each of its names.
  std::u16string lastPath_;
  std::vector<std::pair<std::size_t, RegKey*>> lastKeys_;
  // Room reused from entry to entry.
  std::vector<std::u16string_view> names_;
  std::u16string name_;  // of the value being read
  std::u16string text_;
  std::vector<RegValue> pending_;  // values read for key_, not yet set
  std::vector<std::uint8_t> bytes_;
};

// ---------------------------------------------------------------------------------------------
// Writing

// The size from which the canonical text goes to a sink: after the key that reaches it.
constexpr std::size_t kPieceBytes = 1 << 20;

// Writes the canonical text, in UTF-8, into `out_`; with a sink, hands it over in pieces.
class ImageWriter {
 public:
  ImageWriter(std::string& out, const std::function<void(std::string_view)>* sink)
      : out_(out), sink_(sink) {}

  void Write(const Registry& registry) {
    out_ += "Windows Registry Editor Version 5.00\n\n";
    for (const RegKey* root : registry.Roots()) {
      if (root->SubkeyCount() != 0 || !root->values().empty()) {
        path_.clear();
        AppendUtf8(path_, root->name());
        WriteKey(*root);
      }
    }
    if (sink_ != nullptr && !out_.empty()) {
      (*sink_)(out_);
      out_.clear();
    }
  }

 private:
  // The key's line, its values, a blank line, then its subkeys. path_ holds the key's path.
  void WriteKey(const RegKey& key) {
    out_ += '[';
    out_ += path_;
    out_ += "]\n";
    for (const RegValue& value : key.values()) {
      WriteValue(value);
    }
    out_ += '\n';
    if (sink_ != nullptr && out_.size() >= kPieceBytes) {
      (*sink_)(out_);
      out_.clear();
    }
    const std::size_t length = path_.size();
    key.ForEachSubkey([&](const RegKey& subkey) {
      // A link is written as a copy of its target's tree when the image held one.
      const RegKey* content = subkey.LinkTarget() == nullptr ? &subkey
                              : subkey.LinkWritten()         ? subkey.LinkTarget()
                                                             : nullptr;
      if (content == nullptr) {
        return;
      }
      path_ += '\\';
      AppendUtf8(path_, subkey.name());
      WriteKey(*content);
      path_.resize(length);
    });
  }

  void WriteValue(const RegValue& value) {
    // Hex data is wrapped by the width of the line in UTF-16 units, as regedit counts.
    std::size_t column = 1;
    if (value.name.empty()) {
      out_ += '@';
    } else {
      column = AppendQuoted(value.name);
    }
    out_ += '=';
    ++column;
    if (IsPlainText(value)) {
      text_.resize(value.data.size() / 2 - 1);
      for (std::size_t i = 0; i < text_.size(); ++i) {
        text_[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
      }
      AppendQuoted(text_);
    } else if (value.type == orv::REG_DWORD && value.data.size() == 4) {
      out_ += "dword:";
      AppendHex(static_cast<std::uint32_t>(value.data[0]) | (value.data[1] << 8) |
                    (value.data[2] << 16) | (static_cast<std::uint32_t>(value.data[3]) << 24),
                8);
    } else {
      const std::size_t start = out_.size();
      if (value.type == orv::REG_BINARY) {
        out_ += "hex:";
      } else {
        out_ += "hex(";
        AppendHex(value.type, 1);
        out_ += "):";
      }
      AppendHexBytes(value.data, column + out_.size() - start);
    }
    out_ += '\n';
  }

  // A REG_SZ that can be written as "text": data of the text and exactly one terminator, with no
  // NUL, no line break and no unpaired surrogate inside.
  static bool IsPlainText(const RegValue& value) {
    const std::vector<std::uint8_t>& data = value.data;
    if (value.type != orv::REG_SZ || data.size() < 2 || data.size() % 2 != 0 ||
        data[data.size() - 2] != 0 || data.back() != 0) {
      return false;
    }
    const std::size_t length = data.size() / 2 - 1;
    const auto at = [&](std::size_t i) {
      return static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    };
    for (std::size_t i = 0; i < length; ++i) {
      const char16_t c = at(i);
      if (c == 0 || c == u'\n' || c == u'\r' || (c >= 0xDC00 && c <= 0xDFFF)) {
        return false;
      }
      if (c >= 0xD800 && c <= 0xDBFF) {
        if (i + 1 == length || at(i + 1) < 0xDC00 || at(i + 1) > 0xDFFF) {
          return false;
        }
        ++i;
      }
    }
    return true;
  }

  // Puts the character at text[i] into `to` as UTF-8, as orv::Utf16ToUtf8 writes it: a pair of
  // surrogates as one character (i then moves to its second half), an unpaired one as itself.
  // Returns the number of bytes, at most 4.
  static std::size_t PutUtf8(char* to, std::u16string_view text, std::size_t& i) {
    char32_t cp = text[i];
    if (cp < 0x80) {
      to[0] = static_cast<char>(cp);
      return 1;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    std::size_t n = 0;
    if (cp < 0x800) {
      to[n++] = static_cast<char>(0xC0 | (cp >> 6));
    } else if (cp < 0x10000) {
      to[n++] = static_cast<char>(0xE0 | (cp >> 12));
      to[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    } else {
      to[n++] = static_cast<char>(0xF0 | (cp >> 18));
      to[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      to[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    to[n++] = static_cast<char>(0x80 | (cp & 0x3F));
    return n;
  }

  // Text as UTF-8. Characters gather in a small buffer that goes to `out` whole.
  static void AppendUtf8(std::string& out, std::u16string_view text) {
    char buffer[256];
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (used + 4 > sizeof buffer) {
        out.append(buffer, used);
        used = 0;
      }
      used += PutUtf8(buffer + used, text, i);
    }
    out.append(buffer, used);
  }

  // "text" with \\ \" \n \r \0 escaped; returns its length in UTF-16 units.
  std::size_t AppendQuoted(std::u16string_view text) {
    char buffer[256];
    std::size_t used = 0;
    std::size_t escapes = 0;
    buffer[used++] = '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (used + 4 > sizeof buffer) {
        out_.append(buffer, used);
        used = 0;
      }
      char escaped = 0;
      switch (text[i]) {
        case u'\\':
        case u'"':
          escaped = static_cast<char>(text[i]);
          break;
        case u'\n':
          escaped = 'n';
          break;
        case u'\r':
          escaped = 'r';
          break;
        case 0:
          escaped = '0';
          break;
        default:
          used += PutUtf8(buffer + used, text, i);
          continue;
      }
      buffer[used++] = '\\';
      buffer[used++] = escaped;
      ++escapes;
    }
    buffer[used++] = '"';
    out_.append(buffer, used);
    return text.size() + escapes + 2;
  }

  void AppendHex(std::uint32_t number, int minDigits) {
    char digits[8];
    int count = 0;
    do {
      digits[count++] = kHexDigits[number & 0xF];
      number >>= 4;
    } while (number != 0);
    for (; count < minDigits; ++count) {
      digits[count] = '0';
    }
    while (count > 0) {
      out_ += digits[--count];
    }
  }

  // Bytes as regedit lays them out: "xx" separated by commas, lines continued with a backslash
  // and indented by two blanks so that no line passes 80 columns.
  void AppendHexBytes(const std::vector<std::uint8_t>& data, std::size_t column) {
    char buffer[256];
    std::size_t used = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
      if (used + 8 > sizeof buffer) {
        out_.append(buffer, used);
        used = 0;
      }
      if (i > 0) {
        buffer[used++] = ',';
        if (++column > 76) {
          std::memcpy(buffer + used, "\\\n  ", 4);
          used += 4;
          column = 2;
        }
      }
      buffer[used++] = kHexDigits[data[i] >> 4];
      buffer[used++] = kHexDigits[data[i] & 0xF];
      column += 2;
    }
    out_.append(buffer, used);
  }

  static constexpr char kHexDigits[] = "0123456789abcdef";

  std::string& out_;
  const std::function<void(std::string_view)>* sink_;
  std::string path_;     // of the key being written, in UTF-8
  std::u16string text_;  // room for the text of a value
};

}  // namespace

void ReadRegImage(std::string_view bytes, Registry& into) {
  ImageLines lines(bytes);
  ImageReader(into).Read(lines);
}

void ReadRegImage(std::istream& in, Registry& into) {
  ImageLines lines(in);
  ImageReader(into).Read(lines);
}

Registry ParseRegImage(std::string_view bytes) {
  Registry registry;
  ReadRegImage(bytes, registry);
  return registry;
}

std::string WriteRegImage(const Registry& registry) {
  std::string out;
  ImageWriter(out, nullptr).Write(registry);
  return out;
}

void WriteRegImage(const Registry& registry, const std::function<void(std::string_view)>& sink) {
  std::string piece;
  piece.reserve(kPieceBytes + kPieceBytes / 4);
  ImageWriter(piece, &sink).Write(registry);
}

void WriteRegImageUtf16(const Registry& registry,
                        const std::function<void(std::string_view)>& sink) {
  sink("\xFF\xFE");
  std::string bytes;
  // The canonical text comes in whole lines, so each piece converts on its own.
  WriteRegImage(registry, [&](std::string_view piece) {
    const std::u16string text = orv::Utf8ToUtf16(piece);
    bytes.clear();
    bytes.reserve(text.size() * 2 + text.size() / 8);
    for (char16_t c : text) {
      if (c == u'\n') {
        bytes += std::string_view("\r\0", 2);
      }
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    sink(bytes);
  });
}

std::string WriteRegImageUtf16(const Registry& registry) {
  std::string bytes;
  WriteRegImageUtf16(registry, [&](std::string_view piece) { bytes += piece; });
  return bytes;
}

}  // namespace winsim
