#include "winsim/diff.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win_types.h"
#include "winsim/show.h"

namespace winsim {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

// A name or text on one line: line breaks and other control characters as escapes.
std::string Printable(std::u16string_view text) {
  std::string out;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] >= 0x20) {
      continue;
    }
    out += orv::Utf16ToUtf8(text.substr(start, i - start));
    if (i < text.size()) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(text[i]));
      out += text[i] == u'\n' ? "\\n" : text[i] == u'\r' ? "\\r" : escape;
    }
    start = i + 1;
  }
  return out;
}

std::u16string_view TextAt(const std::vector<std::uint8_t>& data, std::u16string& room) {
  room.resize(data.size() / 2);
  for (std::size_t i = 0; i < room.size(); ++i) {
    room[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  return room;
}

std::string HexBytes(const std::vector<std::uint8_t>& data) {
  if (data.empty()) {
    return "(zero-length binary value)";
  }
  std::string text;
  text.reserve(data.size() * 3);
  for (std::uint8_t byte : data) {
    char digits[4];
    std::snprintf(digits, sizeof digits, text.empty() ? "%02x" : " %02x", byte);
    text += digits;
  }
  return text;
}

// The type and data columns of a value as regedit lists it; with `asHex`, the data as bytes.
std::string TypeAndData(const RegValue& value, bool asHex) {
  const std::vector<std::uint8_t>& data = value.data;
  std::string shown;
  bool exact = false;  // the data is just what the type holds, so its size goes without saying
  bool rendered = false;
  std::u16string room;
  const std::u16string_view all = TextAt(data, room);
  if (!asHex) {
    switch (value.type) {
      case orv::REG_SZ:
      case orv::REG_EXPAND_SZ: {
        const std::u16string_view text = all.substr(0, all.find(u'\0'));
        shown = Printable(text);
        exact = data.size() == (text.size() + 1) * 2;
        rendered = true;
        break;
      }
      case orv::REG_MULTI_SZ: {
        // Texts up to the empty one that ends the list; exact when nothing follows it.
        std::size_t start = 0;
        while (start < all.size() && all[start] != 0) {
          const std::size_t end = std::min(all.find(u'\0', start), all.size());
          shown += (start == 0 ? "" : "; ") + Printable(all.substr(start, end - start));
          start = end + 1;
        }
        exact = start < all.size() && data.size() == (start + 1) * 2;
        rendered = true;
        break;
      }
      case orv::REG_DWORD:
      case orv::REG_QWORD:
        if (data.size() == (value.type == orv::REG_DWORD ? 4u : 8u)) {
          std::uint64_t number = 0;
          for (std::size_t i = data.size(); i-- > 0;) {
            number = (number << 8) | data[i];
          }
          char text[64];
          std::snprintf(text, sizeof text, "0x%0*" PRIx64 " (%" PRIu64 ")",
                        static_cast<int>(data.size() * 2), number, number);
          shown = text;
          exact = rendered = true;
        }
        break;
      default:
        break;
    }
  }
  if (!rendered) {
    shown = HexBytes(data);
  }
  std::string type = RegTypeName(value.type);
  if (!exact) {
    type += " (" + std::to_string(data.size()) + " bytes)";
  }
  return type + "  " + shown;
}

bool SameValue(const RegValue& a, const RegValue& b) {
  return a.type == b.type && a.data == b.data;
}

class Differ {
 public:
  explicit Differ(const std::function<void(std::string_view)>& sink) : sink_(sink) {}

  bool Run(const Registry& before, const Registry& after) {
    const std::vector<RegKey*> rootsBefore = before.Roots();
    const std::vector<RegKey*> rootsAfter = after.Roots();
    for (std::size_t i = 0; i < rootsBefore.size(); ++i) {
      path_ = rootsBefore[i]->name();
      CompareKeys(*rootsBefore[i], *rootsAfter[i]);
    }
    if (!out_.empty()) {
      sink_(out_);
    }
    return differs_;
  }

 private:
  // Opens the block of the key at path_ the first time it has something to show.
  void KeyLine(const char* sign) {
    if (!headed_) {
      out_ += differs_ ? "\n" : "";
      out_ += sign;
      out_ += '[' + Printable(path_) + "]\n";
      headed_ = true;
      differs_ = true;
    }
  }

  void ValueLine(char sign, const RegValue& value, bool asHex) {
    out_ += sign;
    out_ += ' ';
    out_ += value.name.empty() ? "(Default)" : Printable(value.name);
    out_ += "  " + TypeAndData(value, asHex) + "\n";
  }

  void EndKey() {
    headed_ = false;
    if (out_.size() >= kPieceBytes) {
      sink_(out_);
      out_.clear();
    }
  }

  void CompareValues(const RegKey& before, const RegKey& after) {
    const std::vector<RegValue>& a = before.values();
    const std::vector<RegValue>& b = after.values();
    bool same = a.size() == b.size();
    for (std::size_t i = 0; same && i < a.size(); ++i) {
      same = SameValue(a[i], b[i]) && CompareFolded(a[i].name, b[i].name) == 0;
    }
    if (same) {
      return;
    }
    std::vector<const RegValue*> commonBefore;  // in the order of `before`
    for (const RegValue& value : a) {
      const std::size_t index = after.ValueIndex(value.name);
      if (index == b.size()) {
        KeyLine("");
        ValueLine('-', value, false);
        continue;
      }
      commonBefore.push_back(&value);
      if (!SameValue(value, b[index])) {
        // Data that differs where the text shown does not is shown as bytes.
        const bool asHex = TypeAndData(value, false) == TypeAndData(b[index], false);
        KeyLine("");
        ValueLine('-', value, asHex);
        ValueLine('+', b[index], asHex);
      }
    }
    std::vector<const RegValue*> commonAfter;
    for (const RegValue& value : b) {
      if (before.ValueIndex(value.name) == a.size()) {
        KeyLine("");
        ValueLine('+', value, false);
      } else {
        commonAfter.push_back(&value);
      }
    }
    for (std::size_t i = 0; i < commonBefore.size(); ++i) {
      if (CompareFolded(commonBefore[i]->name, commonAfter[i]->name) != 0) {
        KeyLine("");
        out_ += "  (values in another order: " + Names(commonBefore) + " -> " + Names(commonAfter) +
                ")\n";
        break;
      }
    }
  }

  static std::string Names(const std::vector<const RegValue*>& values) {
    std::string names;
    for (const RegValue* value : values) {
      names += (names.empty() ? "" : ", ") +
               (value->name.empty() ? std::string("(Default)") : Printable(value->name));
    }
    return names;
  }

  // Both keys exist: their values, then their subkeys, matched by name in their common order.
  void CompareKeys(const RegKey& before, const RegKey& after) {
    CompareValues(before, after);
    EndKey();
    const std::vector<RegKey*> a = before.Subkeys();
    const std::vector<RegKey*> b = after.Subkeys();
    const std::size_t length = path_.size();
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
      const int order = i == a.size()   ? 1
                        : j == b.size() ? -1
                                        : CompareFolded(a[i]->name(), b[j]->name());
      path_ += u'\\';
      path_ += order <= 0 ? a[i]->name() : b[j]->name();
      if (order < 0) {
        WholeKey(*a[i++], '-');
      } else if (order > 0) {
        WholeKey(*b[j++], '+');
      } else {
        const RegKey* x = a[i++];
        const RegKey* y = b[j++];
        const RegKey* targetX = x->LinkTarget();
        const RegKey* targetY = y->LinkTarget();
        // The same control set behind both links is compared under its own name.
        if (targetX == nullptr || targetY == nullptr ||
            CompareFolded(targetX->name(), targetY->name()) != 0) {
          CompareKeys(targetX != nullptr ? *targetX : *x, targetY != nullptr ? *targetY : *y);
        }
      }
      path_.resize(length);
    }
  }

  // A key on one side only, with all it holds; a link just by what it names.
  void WholeKey(const RegKey& key, char sign) {
    const char signText[2] = {sign, 0};
    KeyLine(signText);
    if (key.LinkTarget() != nullptr) {
      out_ += "  (a link to " + Printable(key.LinkTarget()->name()) + ")\n";
      EndKey();
      return;
    }
    for (const RegValue& value : key.values()) {
      ValueLine(sign, value, false);
    }
    EndKey();
    const std::size_t length = path_.size();
    key.ForEachSubkey([&](const RegKey& subkey) {
      path_ += u'\\';
      path_ += subkey.name();
      WholeKey(subkey, sign);
      path_.resize(length);
    });
  }

  const std::function<void(std::string_view)>& sink_;
  std::string out_;
  std::u16string path_;
  bool headed_ = false;
  bool differs_ = false;
};

}  // namespace

bool DiffRegistries(const Registry& before, const Registry& after,
                    const std::function<void(std::string_view)>& sink) {
  return Differ(sink).Run(before, after);
}

}  // namespace winsim
