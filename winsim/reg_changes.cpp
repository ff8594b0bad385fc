#include "winsim/reg_changes.h"

#include "winsim/registry.h"

namespace winsim {

void ChangeWatch::TakeBaseline() {
  before_.clear();
  ++generation_;
}

bool ChangeWatch::ChangedSinceBaseline() const {
  for (const auto& [key, before] : before_) {
    if (before.values && key->values() != *before.values) {
      return true;
    }
    if (before.subkeys && key->LiveSubkeys() != *before.subkeys) {
      return true;
    }
  }
  return false;
}

void ChangeWatch::Keep(const RegKey& key, bool subkeys) {
  Before& before = before_[&key];
  if (before.key == nullptr && key.parent() != nullptr) {
    before.key = key.parent()->SharedSubkey(key.name());
  }
  if (subkeys && !before.subkeys) {
    before.subkeys = key.LiveSubkeys();
  } else if (!subkeys && !before.values) {
    before.values = key.values();
  }
}

}  // namespace winsim
