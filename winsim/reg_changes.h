// Change tracking: whether a registry differs from its baseline, at the cost of what changed
// rather than of the whole registry. A key's values and its subkey list tell their ChangeMark
// before every change (ValueStore::Changing, RegKey::ChangingSubkeys); the mark hands the key,
// the first time it changes since the baseline, to its registry's ChangeWatch, which keeps what
// the key held then.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "winsim/reg_values.h"

namespace winsim {

class RegKey;

// The baseline of a registry. TakeBaseline remembers the present content: from then on every key
// keeps, before its first change, what it held, so that ChangedSinceBaseline can tell whether
// anything differs now (values, their order, subkeys). A key deleted and created again counts as
// changed.
class ChangeWatch {
 public:
  void TakeBaseline();
  bool ChangedSinceBaseline() const;
  std::uint32_t generation() const { return generation_; }  // 0: no baseline taken
  // Keeps what `key`, a key of the baseline, holds: its values, or with `subkeys` its subkeys,
  // unless it kept them already.
  void Keep(const RegKey& key, bool subkeys);

 private:
  struct Before {
    std::shared_ptr<RegKey> key;  // keeps the key alive (null for a root hive)
    std::optional<std::vector<RegValue>> values;
    std::optional<std::vector<std::shared_ptr<RegKey>>> subkeys;
  };

  std::uint32_t generation_ = 0;
  std::unordered_map<const RegKey*, Before> before_;
};

// What a key carries for change tracking: the watch of its registry (none for a key outside a
// registry, among them every key of a deleted tree) and the generation of the baseline in which
// the key was created. A key created since the baseline shows as new in its parent, so its own
// changes need not be kept.
class ChangeMark {
 public:
  ChangeMark() = default;
  explicit ChangeMark(ChangeWatch* watch) : watch_(watch) {}  // a root hive's

  // The mark of a key created now below a key of this mark.
  ChangeMark ForNewSubkey() const {
    ChangeMark mark(watch_);
    mark.born_ = watch_ == nullptr ? 0 : watch_->generation();
    return mark;
  }
  // Called before every change to `key`'s values or (with `subkeys`) its subkeys.
  void BeforeChange(const RegKey& key, bool subkeys) const {
    if (watch_ != nullptr && born_ < watch_->generation()) {
      watch_->Keep(key, subkeys);
    }
  }
  // The key leaves its registry (its tree is deleted).
  void Leave() { watch_ = nullptr; }

 private:
  ChangeWatch* watch_ = nullptr;
  std::uint32_t born_ = 0;
};

}  // namespace winsim
