// Reading a registry image: the header, key lines, value lines of every type, continuation
// lines, comments; a malformed line is an error with its line number.
#include <algorithm>
#include <istream>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "platform/win_types.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"
#include "winsim/reg_lines.h"

namespace winsim {

namespace {

constexpr std::u16string_view kHeaderVersion5 = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeaderRegedit4 = u"REGEDIT4";

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
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
    lines_ = &lines;
    if (!unicode_) {
      lines.UseAnsi();
    }
    while (lines.Next(line_.text)) {
      line_.parts.assign(1, {0, lines.number()});
      more_ = false;
      if (EndsContinued()) {
        if (IsHexValueLine()) {
          // Hex data of any length is read a physical line at a time (ReadHexBytes), never
          // joined into one text.
          line_.text.pop_back();
          more_ = true;
        } else {
          while (EndsContinued()) {
            line_.text.pop_back();
            AppendNextLine();
          }
        }
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
  bool EndsContinued() const {
    const std::size_t pos = SkipBlanks(0);
    return !line_.text.empty() && line_.text.back() == u'\\' && pos < line_.text.size() &&
           line_.text[pos] != u'[' && line_.text[pos] != u';';
  }

  // Appends the next physical line, without its leading blanks, to line_.
  void AppendNextLine() {
    if (!lines_->Next(next_)) {
      Fail(line_.text.size(), "the last line ends with a continuation backslash");
    }
    std::size_t blanks = 0;
    while (blanks < next_.size() && IsBlank(next_[blanks])) {
      ++blanks;
    }
    line_.parts.emplace_back(line_.text.size(), lines_->number());
    line_.text.append(next_, blanks);
  }

  // True when the physical line in line_ holds a whole value name, '=' and the start of hex
  // data: "name"=hex: or "name"=hex(N): (or @= for the default value).
  bool IsHexValueLine() const {
    const std::u16string& text = line_.text;
    std::size_t pos = SkipBlanks(0);
    if (text[pos] == u'@') {
      ++pos;
    } else {
      // The closing quote, past escapes, as ReadQuoted finds it.
      for (++pos; pos < text.size() && text[pos] != u'"'; ++pos) {
        pos += text[pos] == u'\\' ? 1 : 0;
      }
      if (pos >= text.size()) {
        return false;
      }
      ++pos;
    }
    pos = SkipBlanks(pos);
    if (pos == text.size() || text[pos] != u'=') {
      return false;
    }
    const std::u16string_view rest = std::u16string_view(text).substr(SkipBlanks(pos + 1));
    return StartsWithNoCase(rest, u"hex:") ||
           (StartsWithNoCase(rest, u"hex(") && rest.find(u"):") != std::u16string_view::npos);
  }

  // For hex data read a line at a time: while the text after `pos` holds no ',' and the data
  // goes on in the next line, the text read so far is dropped and that line comes in behind the
  // rest. `pos` moves with the text.
  void BringInData(std::size_t& pos) {
    while (more_ && line_.text.find(u',', pos) == std::u16string::npos) {
      const int line = line_.LineAt(pos);
      std::vector<std::pair<std::size_t, int>> parts = {{0, line}};
      for (const auto& [start, number] : line_.parts) {
        if (start > pos) {
          parts.emplace_back(start - pos, number);
        }
      }
      line_.text.erase(0, pos);
      line_.parts = std::move(parts);
      pos = 0;
      AppendNextLine();
      more_ = !line_.text.empty() && line_.text.back() == u'\\';
      if (more_) {
        line_.text.pop_back();
      }
    }
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

  // A key or value name must be one that the image can hold as it is (RegNameProblem).
  void CheckName(std::size_t pos, std::u16string_view name, bool valueName) const {
    if (const char* problem = RegNameProblem(name, valueName)) {
      Fail(pos, problem);
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

  // The values read for key_ go to it together, so that a key of a few values takes them in one
  // piece; a key of many takes them a few at a time, so that they are never held twice.
  void SetValue(std::uint32_t type, std::vector<std::uint8_t> data) {
    pending_.push_back(RegValue{name_, type, std::move(data)});
    if (pending_.size() == kPendingValues) {
      FlushValues();
    }
  }
  static constexpr std::size_t kPendingValues = 32;
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
    SplitKeyPath(pos, path);
    RegKey* root = registry_.Root(names_.front());
    if (root == nullptr) {
      Fail(pos, "unknown root key \"" + orv::Utf16ToUtf8(names_.front()) + "\"");
    }
    if (remove) {
      DeleteKeyTree(pos, root);
    } else {
      EnterKey(OpenKeyPath(root, path));
    }
  }

  // The names of a key path into names_, each checked, the depth too.
  void SplitKeyPath(std::size_t pos, std::u16string_view path) {
    names_.clear();
    for (std::size_t start = 0;;) {
      const std::size_t slash = path.find(u'\\', start);
      names_.push_back(
          path.substr(start, slash == std::u16string_view::npos ? slash : slash - start));
      if (names_.back().empty()) {
        Fail(pos, "empty key name in the key path");
      }
      CheckName(pos, names_.back(), false);
      if (slash == std::u16string_view::npos) {
        break;
      }
      start = slash + 1;
    }
    // Deeper trees are no Windows registry (and would be deeper than any walk needs to go).
    if (names_.size() - 1 > kMaxKeyDepth) {
      Fail(pos, "key nested deeper than " + std::to_string(kMaxKeyDepth) + " levels");
    }
  }

  // [-path]: the key of names_ below `key` (a root) goes with its tree.
  void DeleteKeyTree(std::size_t pos, RegKey* key) {
    if (names_.size() == 1) {
      Fail(pos, "a root key cannot be deleted");
    }
    // The key being read may be in the tree that goes: it takes its values first, and no key of
    // the last path is kept.
    EnterKey(nullptr);
    lastPath_.clear();
    lastKeys_.clear();
    for (std::size_t i = 1; i + 1 < names_.size() && key != nullptr; ++i) {
      key = key->FindSubkey(names_[i]);
    }
    if (key != nullptr) {
      key->DeleteSubkeyTree(names_.back());
    }
  }

  // The key of names_ below `key` (a root), created where missing. An image lists a key's
  // subkeys right after it: the keys of the names this path shares with the one before are
  // known already.
  RegKey* OpenKeyPath(RegKey* key, std::u16string_view path) {
    const std::size_t common = static_cast<std::size_t>(
        std::mismatch(path.begin(), path.end(), lastPath_.begin(), lastPath_.end()).first -
        path.begin());
    std::size_t known = 0;
    while (known < names_.size() && known < lastKeys_.size() && lastKeys_[known].first <= common &&
           lastKeys_[known].first == EndOf(path, names_[known])) {
      key = lastKeys_[known++].second;
    }
    lastKeys_.resize(known);
    for (std::size_t i = known; i < names_.size(); ++i) {
      if (i > 0) {
        key = &key->CreateSubkey(names_[i]);
      }
      lastKeys_.emplace_back(EndOf(path, names_[i]), key);
    }
    lastPath_.assign(path);
    return key;
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
    CheckName(pos, name, true);
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
      SetValue(orv::REG_SZ, StringData(text_));
    } else if (rest.starts_with(u"-")) {
      ExpectEnd(pos + 1);
      FlushValues();
      key_->DeleteValue(name);
    } else if (StartsWithNoCase(rest, u"dword:")) {
      const std::uint32_t number = ReadHexNumber(pos + 6, 8, u'\0');
      SetValue(orv::REG_DWORD, DwordData(number));
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
    BringInData(pos);
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
      BringInData(pos);
    }
    if (!unicode_ &&
        (type == orv::REG_SZ || type == orv::REG_EXPAND_SZ || type == orv::REG_MULTI_SZ)) {
      return StringDataFromWindows1252(data);
    }
    std::vector<std::uint8_t> exact(data.begin(), data.end());  // no room to spare
    if (data.capacity() > kKeptRoom) {
      std::vector<std::uint8_t>().swap(data);  // the room of one large value is not kept
    }
    return exact;
  }

  static constexpr std::size_t kKeptRoom = 1 << 20;

  Registry& registry_;
  ImageLines* lines_ = nullptr;
  std::u16string next_;  // a continuation line
  bool more_ = false;    // line_ is hex data that goes on in the next physical line
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

}  // namespace winsim
