#include "winsim/diff.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win_types.h"
#include "winsim/reg_data.h"

namespace winsim {

namespace {

constexpr std::size_t kPieceBytes = 1 << 20;

std::string HexBytes(std::span<const std::uint8_t> data) {
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

// The data as its type shows it, and whether it is just what the type holds (so that its size
// goes without saying).
struct Shown {
  std::string text;
  bool exact = false;
};

// Texts up to the empty one that ends the list; exact when nothing follows it.
Shown StringList(std::u16string_view all, std::size_t bytes) {
  Shown shown;
  std::size_t start = 0;
  while (start < all.size() && all[start] != 0) {
    const std::size_t end = std::min(all.find(u'\0', start), all.size());
    shown.text += (start == 0 ? "" : "; ") + Printable(all.substr(start, end - start));
    start = end + 1;
  }
  shown.exact = start < all.size() && bytes == (start + 1) * 2;
  return shown;
}

// A little-endian number as hex digits of its size and in decimal.
Shown Number(std::span<const std::uint8_t> data) {
  const std::uint64_t number = data.size() == 4 ? DwordOf(data.data()) : QwordOf(data.data());
  char text[64];
  std::snprintf(text, sizeof text, "0x%0*" PRIx64 " (%" PRIu64 ")",
                static_cast<int>(data.size() * 2), number, number);
  return {text, true};
}

// Text, a list of texts or a number; none for the other types, and for a number of the wrong
// size.
std::optional<Shown> AsTyped(const RegValue& value) {
  const std::span<const std::uint8_t> data = value.data();
  const std::u16string units = Utf16Units(data.data(), data.size());
  const std::u16string_view all = units;
  switch (value.type()) {
    case orv::REG_SZ:
    case orv::REG_EXPAND_SZ: {
      const std::u16string_view text = all.substr(0, all.find(u'\0'));
      return Shown{Printable(text), data.size() == (text.size() + 1) * 2};
    }
    case orv::REG_MULTI_SZ:
      return StringList(all, data.size());
    case orv::REG_DWORD:
    case orv::REG_QWORD:
      if (data.size() == (value.type() == orv::REG_DWORD ? 4u : 8u)) {
        return Number(data);
      }
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

// The type and data columns of a value as regedit lists it; with `asHex`, the data as bytes.
std::string TypeAndData(const RegValue& value, bool asHex) {
  std::optional<Shown> shown = asHex ? std::nullopt : AsTyped(value);
  if (!shown) {
    shown = Shown{HexBytes(value.data()), false};
  }
  std::string type = RegTypeName(value.type());
  if (!shown->exact) {
    type += " (" + std::to_string(value.data().size()) + " bytes)";
  }
  return type + "  " + shown->text;
}

bool SameValue(const RegValue& a, const RegValue& b) {
  return a.type() == b.type() && SameBytes(a.data(), b.data());
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
    out_ += value.name().empty() ? "(Default)" : Printable(value.name());
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
      same = SameValue(a[i], b[i]) && CompareFolded(a[i].name(), b[i].name()) == 0;
    }
    if (same) {
      return;
    }
    std::vector<const RegValue*> commonBefore;  // in the order of `before`
    for (const RegValue& value : a) {
      const std::size_t index = after.ValueIndex(value.name());
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
      if (before.ValueIndex(value.name()) == a.size()) {
        KeyLine("");
        ValueLine('+', value, false);
      } else {
        commonAfter.push_back(&value);
      }
    }
    for (std::size_t i = 0; i < commonBefore.size(); ++i) {
      if (CompareFolded(commonBefore[i]->name(), commonAfter[i]->name()) != 0) {
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
               (value->name().empty() ? std::string("(Default)") : Printable(value->name()));
    }
    return names;
  }

  // Both keys exist: their values, then their subkeys, matched by name in their common order;
  // a key on one side only with all it holds. The walk keeps its place at every level in a list
  // of its own, so that the depth of the trees does not weigh on the stack.
  void CompareKeys(const RegKey& before, const RegKey& after) {
    std::vector<Level> levels;
    EnterCompared(before, after, levels);
    while (!levels.empty()) {
      Level& level = levels.back();
      path_.resize(level.length);
      const std::vector<RegKey*>& a = level.before;
      const std::vector<RegKey*>& b = level.after;
      if (level.i == a.size() && level.j == b.size()) {
        levels.pop_back();
        continue;
      }
      const int order = level.sign != 0       ? -1
                        : level.i == a.size() ? 1
                        : level.j == b.size()
                            ? -1
                            : CompareFolded(a[level.i]->name(), b[level.j]->name());
      path_ += u'\\';
      path_ += order <= 0 ? a[level.i]->name() : b[level.j]->name();
      if (order < 0) {
        const RegKey* key = a[level.i++];
        EnterWhole(*key, level.sign != 0 ? level.sign : '-', levels);
      } else if (order > 0) {
        const RegKey* key = b[level.j++];
        EnterWhole(*key, '+', levels);
      } else {
        const RegKey* x = a[level.i++];
        const RegKey* y = b[level.j++];
        const RegKey* targetX = x->LinkTarget();
        const RegKey* targetY = y->LinkTarget();
        // The same control set behind both links is compared under its own name.
        if (targetX == nullptr || targetY == nullptr ||
            CompareFolded(targetX->name(), targetY->name()) != 0) {
          EnterCompared(targetX != nullptr ? *targetX : *x, targetY != nullptr ? *targetY : *y,
                        levels);
        }
      }
    }
  }

  // A key being walked: the subkeys of both sides (only `before` for a key on one side), how far
  // each has gone, the length of path_ for the key, and for a key on one side its sign.
  struct Level {
    std::vector<RegKey*> before;
    std::vector<RegKey*> after;
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t length = 0;
    char sign = 0;
  };

  void EnterCompared(const RegKey& before, const RegKey& after, std::vector<Level>& levels) {
    CompareValues(before, after);
    EndKey();
    levels.push_back(Level{before.Subkeys(), after.Subkeys(), 0, 0, path_.size(), 0});
  }

  // A key on one side only: its line and values now, its subkeys as the walk comes to them; a
  // link just by what it names.
  void EnterWhole(const RegKey& key, char sign, std::vector<Level>& levels) {
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
    levels.push_back(Level{key.Subkeys(), {}, 0, 0, path_.size(), sign});
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
