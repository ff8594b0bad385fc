#include "winsim/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/win_types.h"

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

}  // namespace

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
  // The placeholders go first, so that the deleted tree holds just the keys it had.
  if (deletedSubkeys_ != 0) {
    std::erase_if(subkeys_, [](const std::shared_ptr<RegKey>& key) { return key->deleted_; });
    deletedSubkeys_ = 0;
  }
  deleted_ = true;
  parent_ = nullptr;
  for (const std::shared_ptr<RegKey>& child : subkeys_) {
    child->MarkDeleted();
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

const RegValue* RegKey::FindValue(std::u16string_view name) const {
  std::size_t index = ValueIndex(name);
  return index == values_.size() ? nullptr : &values_[index];
}

std::size_t RegKey::ValueIndex(std::u16string_view name) const {
  if (valueIndex_ != nullptr) {
    auto it = valueIndex_->find(FoldCase(name));
    return it == valueIndex_->end() ? values_.size() : it->second;
  }
  for (std::size_t i = 0; i < values_.size(); ++i) {
    if (EqualFolded(values_[i].name, name)) {
      return i;
    }
  }
  return values_.size();
}

void RegKey::SetValue(std::u16string_view name, std::uint32_t type,
                      std::vector<std::uint8_t> data) {
  const std::size_t index = ValueIndex(name);
  if (index < values_.size()) {
    RegValue& value = values_[index];
    if (value.type != type || value.data != data) {
      NoteChange(false);
      value.type = type;
      value.data = std::move(data);
    }
    return;
  }
  NoteChange(false);
  values_.push_back(RegValue{std::u16string(name), type, std::move(data)});
  if (valueIndex_ != nullptr) {
    valueIndex_->emplace(FoldCase(name), index);
  } else if (values_.size() > kIndexedValues) {
    valueIndex_ = std::make_unique<std::unordered_map<std::u16string, std::size_t>>();
    for (std::size_t i = 0; i < values_.size(); ++i) {
      valueIndex_->emplace(FoldCase(values_[i].name), i);
    }
  }
}

bool RegKey::EditValueData(std::u16string_view name,
                           const std::function<void(std::vector<std::uint8_t>&)>& edit) {
  const std::size_t index = ValueIndex(name);
  if (index == values_.size()) {
    return false;
  }
  NoteChange(false);
  edit(values_[index].data);
  return true;
}

void RegKey::SetValues(std::vector<RegValue>& values) {
  bool whole = values_.empty() && valueIndex_ == nullptr && values.size() <= kIndexedValues;
  for (std::size_t i = 0; whole && i < values.size(); ++i) {
    for (std::size_t j = 0; whole && j < i; ++j) {
      whole = !EqualFolded(values[i].name, values[j].name);
    }
  }
  if (!whole) {
    for (RegValue& value : values) {
      SetValue(value.name, value.type, std::move(value.data));
    }
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
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(removed));
  if (valueIndex_ != nullptr) {
    valueIndex_->erase(FoldCase(name));
    for (auto& [folded, index] : *valueIndex_) {
      if (index > removed) {
        --index;
      }
    }
  }
  return true;
}

std::u16string RegKey::Path() const {
  if (parent_ == nullptr) {
    return name_;
  }
  return parent_->Path() + u"\\" + name_;
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
  const auto sameValue = [](const RegValue& a, const RegValue& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
  };
  for (const auto& [key, before] : watch_->before) {
    if (before.values && !std::equal(key->values_.begin(), key->values_.end(),
                                     before.values->begin(), before.values->end(), sameValue)) {
      return true;
    }
    if (before.subkeys && key->LiveSubkeys() != *before.subkeys) {
      return true;
    }
  }
  return false;
}

namespace {

// Writes the values and subkeys of `from` into `into`, as an import of `from` there would.
void MergeTree(const RegKey& from, RegKey& into) {
  for (const RegValue& value : from.values()) {
    into.SetValue(value.name, value.type, value.data);
  }
  from.ForEachSubkey(
      [&](const RegKey& subkey) { MergeTree(subkey, into.CreateSubkey(subkey.name())); });
}

}  // namespace

std::u16string SelectedControlSet(const Registry& registry) {
  const RegKey* select = Registry::Open(registry.HKLM(), u"SYSTEM\\Select");
  const RegValue* current = select == nullptr ? nullptr : select->FindValue(u"Current");
  if (current == nullptr || current->type != orv::REG_DWORD || current->data.size() != 4) {
    return {};
  }
  const std::uint32_t number = static_cast<std::uint32_t>(current->data[0]) |
                               (current->data[1] << 8) | (current->data[2] << 16) |
                               (static_cast<std::uint32_t>(current->data[3]) << 24);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03u", static_cast<unsigned>(number));
  std::u16string name = u"ControlSet";
  name.append(digits, digits + std::strlen(digits));
  return name;
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

void AppendStringData(std::vector<std::uint8_t>& data, std::u16string_view text) {
  for (char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  data.push_back(0);
  data.push_back(0);
}

std::vector<std::uint8_t> StringData(std::u16string_view text) {
  std::vector<std::uint8_t> data;
  AppendStringData(data, text);
  return data;
}

std::vector<std::uint8_t> DwordData(std::uint32_t number) {
  return {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
          static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
}

}  // namespace winsim
