#include "winsim/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>

#include "platform/text.h"
#include "platform/win_types.h"
#include "winsim/reg_data.h"

namespace winsim {

namespace {

// Keys with more values than this keep an index of them by name; smaller ones are searched.
constexpr std::size_t kIndexedValues = 32;

char16_t Fold(char16_t c) {
  if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
    return static_cast<char16_t>(c - 0x20);
  }
  return c;
}

}  // namespace

bool EqualFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && Fold(a[i]) != Fold(b[i])) {
      return false;
    }
  }
  return true;
}

std::size_t FoldedHash(std::u16string_view name) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (char16_t c : name) {
    hash = (hash ^ Fold(c)) * 0x100000001B3ULL;
  }
  return static_cast<std::size_t>(hash ^ (hash >> 29));
}

void NameTable::Reset(std::size_t entries) {
  std::size_t size = 64;
  while (size < entries * 2) {
    size *= 2;
  }
  slots_.assign(size, Slot{});
}

std::size_t NameTable::Holding(std::u16string_view name, std::uint32_t entry) const {
  std::size_t slot = Hash(name) & Mask();
  while (slots_[slot].entry != entry) {
    slot = (slot + 1) & Mask();
  }
  return slot;
}

void NameTable::Put(std::size_t slot, std::uint32_t entry, std::u16string_view name) {
  slots_[slot] = {entry, Hash(name)};
}

void NameTable::Put(std::uint32_t entry, std::uint32_t hash) {
  std::size_t slot = hash & Mask();
  while (slots_[slot].entry != 0) {
    slot = (slot + 1) & Mask();
  }
  slots_[slot] = {entry, hash};
}

void NameTable::Free(std::size_t free) {
  for (std::size_t next = (free + 1) & Mask(); slots_[next].entry != 0;
       next = (next + 1) & Mask()) {
    const std::size_t home = slots_[next].hash & Mask();
    const bool stays = free <= next ? (home > free && home <= next) : (home > free || home <= next);
    if (!stays) {
      slots_[free] = slots_[next];
      free = next;
    }
  }
  slots_[free] = Slot{};
}

std::u16string FoldCase(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    c = Fold(c);
  }
  return folded;
}

int CompareFolded(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = Fold(a[i]);
    const char16_t y = Fold(b[i]);
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

RegKey::ChangeWatch* RegKey::NoteChange(bool subkeys) {
  RegKey* top = this;
  while (top->parent_ != nullptr) {
    top = top->parent_;
  }
  // A key of a deleted tree belongs to no registry any more; a key created since the baseline
  // shows as new in its parent.
  ChangeWatch* watch = top->watch_;
  if (watch == nullptr || watch->generation == 0 || born_ >= watch->generation) {
    return watch;
  }
  Before& before = watch->before[this];
  if (before.key == nullptr && parent_ != nullptr) {
    before.key = parent_->SharedSubkey(name_);
  }
  if (subkeys && !before.subkeys) {
    before.subkeys = LiveSubkeys();
  } else if (!subkeys && !before.values) {
    before.values = values_;
  }
  return watch;
}

std::vector<std::shared_ptr<RegKey>> RegKey::LiveSubkeys() const {
  std::vector<std::shared_ptr<RegKey>> keys;
  keys.reserve(SubkeyCount());
  for (const std::shared_ptr<RegKey>& child : subkeys_) {
    if (!Gone(*child)) {
      keys.push_back(child);
    }
  }
  return keys;
}

std::size_t RegKey::SubkeyPosition(std::u16string_view name, bool* found) const {
  *found = false;
  if (subkeys_.empty()) {
    return 0;
  }
  // Keys mostly arrive in order (an image lists them so): try the end first.
  const int last = CompareFolded(subkeys_.back()->name(), name);
  if (last <= 0) {
    *found = last == 0;
    return subkeys_.size() - (last == 0 ? 1 : 0);
  }
  const auto it = std::lower_bound(subkeys_.begin(), subkeys_.end() - 1, name,
                                   [](const std::shared_ptr<RegKey>& key, std::u16string_view n) {
                                     return CompareFolded(key->name(), n) < 0;
                                   });
  *found = CompareFolded((*it)->name(), name) == 0;
  return static_cast<std::size_t>(it - subkeys_.begin());
}

const std::shared_ptr<RegKey>* RegKey::Lookup(std::u16string_view name) const {
  bool found = false;
  const std::size_t position = SubkeyPosition(name, &found);
  if (!found || Gone(*subkeys_[position])) {
    return nullptr;
  }
  const std::shared_ptr<RegKey>& key = subkeys_[position];
  return key->link_ != nullptr ? &key->link_ : &key;
}

std::shared_ptr<RegKey> RegKey::SharedSubkey(std::u16string_view name) const {
  const std::shared_ptr<RegKey>* key = Lookup(name);
  return key == nullptr ? nullptr : *key;
}

RegKey* RegKey::FindSubkey(std::u16string_view name) const {
  const std::shared_ptr<RegKey>* key = Lookup(name);
  return key == nullptr ? nullptr : key->get();
}

RegKey& RegKey::CreateSubkey(std::u16string_view name) {
  bool found = false;
  const std::size_t position = SubkeyPosition(name, &found);
  if (found && !Gone(*subkeys_[position])) {
    RegKey& key = *subkeys_[position];
    return key.link_ != nullptr ? *key.link_ : key;
  }
  const ChangeWatch* watch = NoteChange(true);
  auto key = std::make_shared<RegKey>(std::u16string(name));
  key->parent_ = this;
  key->born_ = watch == nullptr ? 0 : watch->generation;
  if (found) {
    subkeys_[position] = std::move(key);  // takes the place of the deleted one
    --deletedSubkeys_;
  } else {
    subkeys_.insert(subkeys_.begin() + static_cast<std::ptrdiff_t>(position), std::move(key));
  }
  return *subkeys_[position];
}

bool RegKey::DeleteSubkeyTree(std::u16string_view name) {
  bool found = false;
  const std::size_t position = SubkeyPosition(name, &found);
  if (!found || Gone(*subkeys_[position])) {
    return false;
  }
  NoteChange(true);
  const std::shared_ptr<RegKey> removed = subkeys_[position];
  if (removed->link_ != nullptr) {
    --links_;
  }
  if (deleted_) {
    // A deleted tree has no placeholders: it just lets go of the key.
    subkeys_.erase(subkeys_.begin() + static_cast<std::ptrdiff_t>(position));
  } else {
    removed->MarkDeleted();
    if (++deletedSubkeys_ * 2 > subkeys_.size()) {
      std::erase_if(subkeys_, [](const std::shared_ptr<RegKey>& key) { return key->deleted_; });
      deletedSubkeys_ = 0;
    }
  }
  // A link never outlives its target.
  while (links_ != 0) {
    const auto link = std::find_if(
        subkeys_.begin(), subkeys_.end(),
        [&](const std::shared_ptr<RegKey>& key) { return key->link_ == removed && !Gone(*key); });
    if (link == subkeys_.end()) {
      break;
    }
    DeleteSubkeyTree(std::u16string((*link)->name_));
  }
  return true;
}

void RegKey::MarkDeleted() {
  // Level by level rather than by recursion, so that the depth of the tree does not matter.
  std::vector<RegKey*> pending = {this};
  while (!pending.empty()) {
    RegKey* key = pending.back();
    pending.pop_back();
    // The placeholders go first, so that the deleted tree holds just the keys it had.
    if (key->deletedSubkeys_ != 0) {
      std::erase_if(key->subkeys_,
                    [](const std::shared_ptr<RegKey>& child) { return child->deleted_; });
      key->deletedSubkeys_ = 0;
    }
    key->deleted_ = true;
    key->parent_ = nullptr;
    for (const std::shared_ptr<RegKey>& child : key->subkeys_) {
      pending.push_back(child.get());
    }
  }
}

RegKey::~RegKey() {
  // The subkeys that nothing else holds are taken apart here, one at a time, instead of each in
  // its own nested destructor: a tree of any depth goes without weighing on the stack.
  std::vector<std::shared_ptr<RegKey>> orphans = std::move(subkeys_);
  while (!orphans.empty()) {
    std::shared_ptr<RegKey> key = std::move(orphans.back());
    orphans.pop_back();
    if (key.use_count() == 1) {
      std::move(key->subkeys_.begin(), key->subkeys_.end(), std::back_inserter(orphans));
      key->subkeys_.clear();
    }
  }
}

std::vector<RegKey*> RegKey::Subkeys() const {
  std::vector<RegKey*> keys;
  keys.reserve(SubkeyCount());
  for (const std::shared_ptr<RegKey>& child : subkeys_) {
    if (!Gone(*child)) {
      keys.push_back(child.get());
    }
  }
  return keys;
}

RegValue::RegValue(std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data)
    : type_(type) {
  if (name.size() > UINT32_MAX || data.size() > UINT32_MAX) {
    throw std::length_error("a registry value larger than 4 GB");
  }
  nameLength_ = static_cast<std::uint32_t>(name.size());
  size_ = static_cast<std::uint32_t>(data.size());
  const std::size_t units = name.size() + (data.size() + 1) / 2;
  if (units != 0) {
    block_ = std::make_unique_for_overwrite<char16_t[]>(units);
    std::copy(name.begin(), name.end(), block_.get());
    std::copy(data.begin(), data.end(), DataStart());
  }
}

void RegValue::Set(std::uint32_t type, std::span<const std::uint8_t> data) {
  if (data.size() == size_) {
    std::copy(data.begin(), data.end(), DataStart());
    type_ = type;
  } else {
    *this = RegValue(name(), type, data);
  }
}

bool operator==(const RegValue& a, const RegValue& b) {
  return a.name() == b.name() && a.type_ == b.type_ && SameBytes(a.data(), b.data());
}

bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

const RegValue* RegKey::FindValue(std::u16string_view name) const {
  std::size_t index = ValueIndex(name);
  return index == values_.size() ? nullptr : &values_[index];
}

std::size_t RegKey::SlotOf(std::u16string_view name) const {
  return valueIndex_.Find(name, [this](std::size_t entry) { return values_[entry].name(); });
}

void RegKey::IndexValues() {
  valueIndex_.Reset(values_.size());
  // The names differ, so each goes to the first free slot from its own without comparing.
  valueIndex_.InGroups(
      values_.size(), [this](std::size_t i) { return values_[i].name(); },
      [this](std::size_t i, std::uint32_t hash) {
        valueIndex_.Put(static_cast<std::uint32_t>(i + 1), hash);
      });
}

std::size_t RegKey::ValueIndex(std::u16string_view name) const {
  if (!valueIndex_.empty()) {
    const std::uint32_t entry = valueIndex_[SlotOf(name)].entry;
    return entry == 0 ? values_.size() : entry - 1;
  }
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (EqualFolded(values_[i].name(), name)) {
      return i;
    }
  }
  return values_.size();
}

template <typename Make>
void RegKey::StoreValue(std::u16string_view name, std::uint32_t type,
                        std::span<const std::uint8_t> data, Make make) {
  // With an index, the slot found for the name is where a new value goes.
  const std::size_t slot = valueIndex_.empty() ? 0 : SlotOf(name);
  const std::size_t index = valueIndex_.empty()            ? ValueIndex(name)
                            : valueIndex_[slot].entry == 0 ? values_.size()
                                                           : valueIndex_[slot].entry - 1;
  if (index < values_.size()) {
    RegValue& value = values_[index];
    if (value.type() != type || !SameBytes(value.data(), data)) {
      NoteChange(false);
      value.Set(type, data);
    }
    return;
  }
  NoteChange(false);
  values_.push_back(make());
  if (values_.size() * 2 > valueIndex_.size() && values_.size() > kIndexedValues) {
    IndexValues();
  } else if (!valueIndex_.empty()) {
    valueIndex_.Put(slot, static_cast<std::uint32_t>(values_.size()), name);
  }
}

void RegKey::SetValue(std::u16string_view name, std::uint32_t type,
                      std::span<const std::uint8_t> data) {
  StoreValue(name, type, data, [&] { return RegValue(name, type, data); });
}

bool RegKey::EditValueData(std::u16string_view name,
                           const std::function<void(std::span<std::uint8_t>)>& edit) {
  const std::size_t index = ValueIndex(name);
  if (index == values_.size()) {
    return false;
  }
  NoteChange(false);
  edit(values_[index].data());
  return true;
}

void RegKey::SetValues(std::vector<RegValue>& values) {
  bool whole = values_.empty() && valueIndex_.empty() && values.size() <= kIndexedValues;
  for (std::size_t i = 0; whole && i < values.size(); ++i) {
    for (std::size_t j = 0; whole && j < i; ++j) {
      whole = !EqualFolded(values[i].name(), values[j].name());
    }
  }
  if (!whole) {
    // A new value is moved in (its name and data stay where they are).
    valueIndex_.InGroups(
        values.size(), [&](std::size_t i) { return values[i].name(); },
        [&](std::size_t i, std::uint32_t) {
          RegValue& value = values[i];
          StoreValue(value.name(), value.type(), value.data(), [&] { return std::move(value); });
        });
  } else if (!values.empty()) {
    NoteChange(false);
    values_.reserve(values.size());
    std::move(values.begin(), values.end(), std::back_inserter(values_));
  }
  values.clear();
}

bool RegKey::DeleteValue(std::u16string_view name) {
  const std::size_t removed = ValueIndex(name);
  if (removed == values_.size()) {
    return false;
  }
  NoteChange(false);
  if (!valueIndex_.empty()) {
    valueIndex_.Free(SlotOf(name));
  }
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(removed));
  // Only the values behind it move down: the last value goes at no cost beyond its own.
  for (std::size_t i = removed; i < values_.size() && !valueIndex_.empty(); ++i) {
    valueIndex_.Renumber(valueIndex_.Holding(values_[i].name(), static_cast<std::uint32_t>(i + 2)),
                         static_cast<std::uint32_t>(i + 1));
  }
  return true;
}

std::u16string RegKey::Path() const {
  std::vector<const std::u16string*> names;
  for (const RegKey* key = this; key != nullptr; key = key->parent_) {
    names.push_back(&key->name_);
  }
  std::u16string path = *names.back();
  for (auto name = names.rbegin() + 1; name != names.rend(); ++name) {
    path += u'\\';
    path += **name;
  }
  return path;
}

namespace {
constexpr const char16_t* kHiveNames[] = {u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER",
                                          u"HKEY_CLASSES_ROOT", u"HKEY_USERS",
                                          u"HKEY_CURRENT_CONFIG"};
}  // namespace

Registry::Registry() : watch_(std::make_unique<RegKey::ChangeWatch>()) {
  for (const char16_t* hive : kHiveNames) {
    roots_.push_back(std::make_shared<RegKey>(hive));
    roots_.back()->watch_ = watch_.get();
  }
}

RegKey* Registry::Root(std::u16string_view hiveName) const {
  for (const auto& root : roots_) {
    if (EqualFolded(root->name(), hiveName)) {
      return root.get();
    }
  }
  // The short forms that reg.exe accepts.
  static constexpr std::pair<const char16_t*, int> kShort[] = {
      {u"HKLM", 0}, {u"HKCU", 1}, {u"HKCR", 2}, {u"HKU", 3}, {u"HKCC", 4}};
  for (const auto& [name, index] : kShort) {
    if (EqualFolded(hiveName, name)) {
      return roots_[static_cast<std::size_t>(index)].get();
    }
  }
  return nullptr;
}

void Registry::TakeBaseline() {
  watch_->before.clear();
  ++watch_->generation;
}

bool Registry::ChangedSinceBaseline() const {
  for (const auto& [key, before] : watch_->before) {
    if (before.values && key->values_ != *before.values) {
      return true;
    }
    if (before.subkeys && key->LiveSubkeys() != *before.subkeys) {
      return true;
    }
  }
  return false;
}

namespace {

// Writes the values and subkeys of `from` into `into`, as an import of `from` there would, level
// by level rather than by recursion.
void MergeTree(const RegKey& from, RegKey& into) {
  std::vector<std::pair<const RegKey*, RegKey*>> pending = {{&from, &into}};
  while (!pending.empty()) {
    const auto [source, target] = pending.back();
    pending.pop_back();
    for (const RegValue& value : source->values()) {
      target->SetValue(value.name(), value.type(), value.data());
    }
    source->ForEachSubkey([&, target = target](const RegKey& subkey) {
      pending.emplace_back(&subkey, &target->CreateSubkey(subkey.name()));
    });
  }
}

}  // namespace

std::u16string SelectedControlSet(const Registry& registry) {
  const RegKey* select = Registry::Open(registry.HKLM(), u"SYSTEM\\Select");
  const RegValue* current = select == nullptr ? nullptr : select->FindValue(u"Current");
  if (current == nullptr || current->type() != orv::REG_DWORD || current->data().size() != 4) {
    return {};
  }
  const std::uint32_t number = DwordOf(current->data().data());
  if (number == 0) {
    return {};
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03u", static_cast<unsigned>(number));
  std::u16string name = u"ControlSet";
  name.append(digits, digits + std::strlen(digits));
  return name;
}

std::string ControlSetSelectProblem(const Registry& registry) {
  const RegKey* select = Registry::Open(registry.HKLM(), u"SYSTEM\\Select");
  const RegValue* current = select == nullptr ? nullptr : select->FindValue(u"Current");
  if (current == nullptr) {
    return select == nullptr ? "no SYSTEM\\Select" : "SYSTEM\\Select holds no Current value";
  }
  if (current->type() != orv::REG_DWORD || current->data().size() != 4) {
    return "SYSTEM\\Select\\Current is " + RegTypeName(current->type()) + " (" +
           std::to_string(current->data().size()) + " bytes), not a 4-byte REG_DWORD";
  }
  const std::u16string name = SelectedControlSet(registry);
  if (name.empty()) {
    return "SYSTEM\\Select\\Current is 0, which names no control set";
  }
  if (Registry::Open(registry.HKLM(), u"SYSTEM\\" + name) == nullptr) {
    return "SYSTEM\\Select names " + orv::Utf16ToUtf8(name) + ", which this image does not hold";
  }
  return {};
}

void Registry::LinkControlSet() {
  constexpr std::u16string_view kCurrent = u"CurrentControlSet";
  const std::u16string name = SelectedControlSet(*this);
  if (name.empty()) {
    return;
  }
  RegKey* system = HKLM().FindSubkey(u"SYSTEM");  // holds Select
  std::shared_ptr<RegKey> target = system->SharedSubkey(name);
  bool found = false;
  const std::size_t position = system->SubkeyPosition(kCurrent, &found);
  const bool live = found && !system->Gone(*system->subkeys_[position]);
  if (target == nullptr || (live && system->subkeys_[position]->link_ != nullptr)) {
    return;
  }
  const RegKey::ChangeWatch* watch = system->NoteChange(true);
  auto link = std::make_shared<RegKey>(std::u16string(kCurrent));
  link->parent_ = system;
  link->born_ = watch == nullptr ? 0 : watch->generation;
  link->link_ = std::move(target);
  ++system->links_;
  if (live) {
    const std::shared_ptr<RegKey> copy = system->subkeys_[position];
    MergeTree(*copy, *link->link_);
    link->name_ = copy->name_;
    link->linkWritten_ = true;
    copy->MarkDeleted();
    system->subkeys_[position] = std::move(link);
  } else if (found) {
    system->subkeys_[position] = std::move(link);  // takes the place of the deleted one
    --system->deletedSubkeys_;
  } else {
    system->subkeys_.insert(system->subkeys_.begin() + static_cast<std::ptrdiff_t>(position),
                            std::move(link));
  }
}

std::vector<RegKey*> Registry::Roots() const {
  std::vector<RegKey*> roots;
  for (const auto& root : roots_) {
    roots.push_back(root.get());
  }
  return roots;
}

RegKey* Registry::Open(RegKey& from, std::u16string_view path) {
  RegKey* key = &from;
  ForEachKeyName(path, [&](std::u16string_view name) {
    key = key->FindSubkey(name);
    return key != nullptr;
  });
  return key;
}

RegKey& Registry::Create(RegKey& from, std::u16string_view path) {
  RegKey* key = &from;
  ForEachKeyName(path, [&](std::u16string_view name) {
    key = &key->CreateSubkey(name);
    return true;
  });
  return *key;
}

RegKey* Registry::OpenFull(std::u16string_view fullPath) const {
  std::size_t slash = fullPath.find(u'\\');
  RegKey* root = Root(fullPath.substr(0, slash));
  if (root == nullptr || slash == std::u16string_view::npos) {
    return root;
  }
  return Open(*root, fullPath.substr(slash + 1));
}

void ForEachDeviceInstance(RegKey& hklm, const std::vector<std::u16string_view>& names,
                           const std::function<void(RegKey&, RegKey&, RegKey&)>& visit) {
  // The keys of one level: the one of its name when `names` gives one, else every subkey.
  const auto pick = [&](const RegKey& parent, std::size_t level) {
    if (level >= names.size()) {
      return parent.Subkeys();
    }
    RegKey* named = parent.FindSubkey(names[level]);
    return named == nullptr ? std::vector<RegKey*>{} : std::vector<RegKey*>{named};
  };
  RegKey* enumKey = Registry::Open(hklm, u"SYSTEM\\CurrentControlSet\\Enum");
  if (enumKey == nullptr) {
    return;
  }
  for (RegKey* enumerator : pick(*enumKey, 0)) {
    for (RegKey* device : pick(*enumerator, 1)) {
      for (RegKey* instance : pick(*device, 2)) {
        visit(*enumerator, *device, *instance);
      }
    }
  }
}

}  // namespace winsim
