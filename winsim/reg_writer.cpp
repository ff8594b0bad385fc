// Writing a registry image: the one canonical form (UTF-8, the version 5 header, keys in tree
// order, values in their order, hex data wrapped as regedit wraps it), and the UTF-16LE form
// that reg import and regedit read.
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/text.h"
#include "platform/win_types.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"

namespace winsim {

namespace {

// The size from which the canonical text goes to a sink, at the next whole character (a key or
// value of any size is handed over in pieces of about this size).
constexpr std::size_t kPieceBytes = 1 << 20;

// A small buffer in front of a string: characters gather in it and go to the string in blocks,
// which keeps the string's growth checks out of the loops that write a character at a time.
class Gather {
 public:
  explicit Gather(std::string& out) : out_(out) {}

  // Makes room for `bytes` more; true when that handed the characters so far to the string.
  bool MakeRoom(std::size_t bytes) {
    if (used_ + bytes <= sizeof buffer_) {
      return false;
    }
    Finish();
    return true;
  }
  void Put(char c) { buffer_[used_++] = c; }
  void Put(const char* text, std::size_t length) {
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
  }
  // Where the next characters go, and how many were put there.
  char* End() { return buffer_ + used_; }
  void Added(std::size_t bytes) { used_ += bytes; }
  // Hands what is left to the string.
  void Finish() {
    out_.append(buffer_, used_);
    used_ = 0;
  }

 private:
  std::string& out_;
  char buffer_[256];
  std::size_t used_ = 0;
};

// Writes the canonical text, in UTF-8, into `out_`; with a sink, hands it over in pieces.
class ImageWriter {
 public:
  ImageWriter(std::string& out, const std::function<void(std::string_view)>* sink)
      : out_(out), sink_(sink) {}

  void Write(const Registry& registry) {
    CheckNames(registry);
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
  // Refuses, before anything is written, a registry holding a name that the image cannot hold:
  // written, it would read back as something else (a key name with a line break can even read
  // as a line that deletes a tree). The walk keeps its place at every level in a list of its own.
  static void CheckNames(const Registry& registry) {
    std::vector<std::pair<const RegKey*, std::size_t>> levels;
    for (const RegKey* root : registry.Roots()) {
      CheckValueNames(*root);
      levels.emplace_back(root, 0);
    }
    while (!levels.empty()) {
      const RegKey* subkey = levels.back().first->NextSubkey(levels.back().second);
      if (subkey == nullptr) {
        levels.pop_back();
      } else if (const char* problem = RegNameProblem(subkey->name(), false)) {
        throw RegFormatError(0,
                             "cannot write the key " + Printable(subkey->Path()) + ": " + problem);
      } else if (subkey->LinkTarget() == nullptr) {  // a link's target is checked as itself
        CheckValueNames(*subkey);
        levels.emplace_back(subkey, 0);
      }
    }
  }

  static void CheckValueNames(const RegKey& key) {
    for (const RegValue& value : key.values()) {
      if (const char* problem = RegNameProblem(value.name(), true)) {
        throw RegFormatError(0, "cannot write the value \"" + Printable(value.name()) + "\" of " +
                                    Printable(key.Path()) + ": " + problem);
      }
    }
  }

  // The key's line, its values and a blank line, then the same for each key below it, in tree
  // order. The walk keeps its place at every level in a list of its own, not on the stack.
  void WriteKey(const RegKey& top) {
    struct Level {
      const RegKey* key;
      std::size_t next;        // the position of the next subkey to write
      std::size_t pathLength;  // of path_ for this key
    };
    std::vector<Level> levels;
    WriteKeyEntry(top);
    levels.push_back({&top, 0, path_.size()});
    while (!levels.empty()) {
      Level& level = levels.back();
      const RegKey* subkey = level.key->NextSubkey(level.next);
      if (subkey == nullptr) {
        levels.pop_back();
        continue;
      }
      // A link is written as a copy of its target's tree when the image held one.
      const RegKey* content = subkey->LinkTarget() == nullptr ? subkey
                              : subkey->LinkWritten()         ? subkey->LinkTarget()
                                                              : nullptr;
      if (content == nullptr) {
        continue;
      }
      path_.resize(level.pathLength);
      path_ += '\\';
      AppendUtf8(path_, subkey->name());
      WriteKeyEntry(*content);
      levels.push_back({content, 0, path_.size()});
    }
  }

  // The key line and the values of one key, whose path path_ holds.
  void WriteKeyEntry(const RegKey& key) {
    out_ += '[';
    out_ += path_;
    out_ += "]\n";
    for (const RegValue& value : key.values()) {
      WriteValue(value);
      Spill();
    }
    out_ += '\n';
  }

  // Hands the text so far to the sink once it reaches a piece; called between characters.
  void Spill() {
    if (sink_ != nullptr && out_.size() >= kPieceBytes) {
      (*sink_)(out_);
      out_.clear();
    }
  }

  void WriteValue(const RegValue& value) {
    // Hex data is wrapped by the width of the line in UTF-16 units, as regedit counts.
    std::size_t column = 1;
    if (value.name().empty()) {
      out_ += '@';
    } else {
      column = AppendQuoted(value.name());
    }
    out_ += '=';
    ++column;
    if (IsPlainText(value)) {
      text_.resize(value.data().size() / 2 - 1);
      for (std::size_t i = 0; i < text_.size(); ++i) {
        text_[i] = Utf16UnitAt(value.data().data(), i);
      }
      AppendQuoted(text_);
    } else if (value.type() == orv::REG_DWORD && value.data().size() == 4) {
      out_ += "dword:";
      AppendHex(DwordOf(value.data().data()), 8);
    } else {
      const std::size_t start = out_.size();
      if (value.type() == orv::REG_BINARY) {
        out_ += "hex:";
      } else {
        out_ += "hex(";
        AppendHex(value.type(), 1);
        out_ += "):";
      }
      AppendHexBytes(value.data(), column + out_.size() - start);
    }
    out_ += '\n';
  }

  // A REG_SZ that can be written as "text": data of the text and exactly one terminator, with no
  // NUL, no line break and no unpaired surrogate inside.
  static bool IsPlainText(const RegValue& value) {
    const std::span<const std::uint8_t> data = value.data();
    if (value.type() != orv::REG_SZ || data.size() < 2 || data.size() % 2 != 0 ||
        data[data.size() - 2] != 0 || data.back() != 0) {
      return false;
    }
    const std::size_t length = data.size() / 2 - 1;
    const auto at = [&](std::size_t i) { return Utf16UnitAt(data.data(), i); };
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

  // Puts the character at text[i] into `to` as UTF-8: a pair of surrogates as one character (i
  // then moves to its second half). An unpaired surrogate has no UTF-8 form: the reader keeps
  // them out of names and plain texts never hold one, so meeting one is a fault, never a guess.
  // Returns the number of bytes, at most 4.
  static std::size_t PutUtf8(char* to, std::u16string_view text, std::size_t& i) {
    const char32_t cp = orv::CodePointAt(text, i);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      throw std::invalid_argument("a name holds an unpaired surrogate, which UTF-8 cannot hold");
    }
    return orv::EncodeUtf8(cp, to);
  }

  // Text as UTF-8. Characters gather in a small buffer that goes to `out` whole.
  static void AppendUtf8(std::string& out, std::u16string_view text) {
    Gather gather(out);
    for (std::size_t i = 0; i < text.size(); ++i) {
      gather.MakeRoom(4);
      gather.Added(PutUtf8(gather.End(), text, i));
    }
    gather.Finish();
  }

  // "text" with \\ \" \n \r \0 escaped; returns its length in UTF-16 units.
  std::size_t AppendQuoted(std::u16string_view text) {
    Gather gather(out_);
    std::size_t escapes = 0;
    gather.Put('"');
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (gather.MakeRoom(4)) {
        Spill();
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
          gather.Added(PutUtf8(gather.End(), text, i));
          continue;
      }
      gather.Put('\\');
      gather.Put(escaped);
      ++escapes;
    }
    gather.MakeRoom(1);  // the last character may have filled the buffer
    gather.Put('"');
    gather.Finish();
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
  void AppendHexBytes(std::span<const std::uint8_t> data, std::size_t column) {
    Gather gather(out_);
    for (std::size_t i = 0; i < data.size(); ++i) {
      if (gather.MakeRoom(8)) {
        Spill();
      }
      if (i > 0) {
        gather.Put(',');
        if (++column > 76) {
          gather.Put("\\\n  ", 4);
          column = 2;
        }
      }
      gather.Put(kHexDigits[data[i] >> 4]);
      gather.Put(kHexDigits[data[i] & 0xF]);
      column += 2;
    }
    gather.Finish();
  }

  std::string& out_;
  const std::function<void(std::string_view)>* sink_;
  std::string path_;     // of the key being written, in UTF-8
  std::u16string text_;  // room for the text of a value
};

}  // namespace

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
  std::string bytes = "\xFF\xFE";  // the byte-order mark goes with the first piece
  // The canonical text comes in whole characters, so each piece converts on its own.
  WriteRegImage(registry, [&](std::string_view piece) {
    const std::u16string text = orv::Utf8ToUtf16(piece);
    bytes.reserve(bytes.size() + text.size() * 2 + text.size() / 8);
    for (char16_t c : text) {
      if (c == u'\n') {
        bytes += std::string_view("\r\0", 2);
      }
      bytes.push_back(static_cast<char>(c & 0xFF));
      bytes.push_back(static_cast<char>(c >> 8));
    }
    sink(bytes);
    bytes.clear();
  });
}

std::string WriteRegImageUtf16(const Registry& registry) {
  std::string bytes;
  WriteRegImageUtf16(registry, [&](std::string_view piece) { bytes += piece; });
  return bytes;
}

}  // namespace winsim
