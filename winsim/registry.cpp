#include "winsim/registry.h"

#include <algorithm>
#include <iterator>
#include <string>

namespace winsim {

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

const std::shared_ptr<RegKey>* RegKey::Entry(std::u16string_view name) const {
  bool found = false;
  const std::size_t position = SubkeyPosition(name, &found);
  return found && !Gone(*subkeys_[position]) ? &subkeys_[position] : nullptr;
}

const std::shared_ptr<RegKey>* RegKey::Lookup(std::u16string_view name) const {
  const std::shared_ptr<RegKey>* entry = Entry(name);
  return entry == nullptr || (*entry)->link_ == nullptr ? entry : &(*entry)->link_;
}

const RegKey* RegKey::ListedSubkey(std::u16string_view name) const {
  const std::shared_ptr<RegKey>* entry = Entry(name);
  return entry == nullptr ? nullptr : entry->get();
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
  return PutSubkey(position, found, std::make_shared<RegKey>(std::u16string(name)));
}

RegKey& RegKey::LinkSubkey(std::u16string_view name, std::shared_ptr<RegKey> target, bool written) {
  bool found = false;
  const std::size_t position = SubkeyPosition(name, &found);
  auto link = std::make_shared<RegKey>(std::u16string(name));
  link->link_ = std::move(target);
  link->linkWritten_ = written;
  return PutSubkey(position, found, std::move(link));
}

RegKey& RegKey::PutSubkey(std::size_t position, bool found, std::shared_ptr<RegKey> key) {
  std::vector<std::shared_ptr<RegKey>>& subkeys = ChangingSubkeys();
  key->parent_ = this;
  key->mark_ = mark_.ForNewSubkey();
  links_ += key->link_ != nullptr ? 1 : 0;
  if (!found) {
    subkeys.insert(subkeys.begin() + static_cast<std::ptrdiff_t>(position), std::move(key));
    return *subkeys[position];
  }
  RegKey& before = *subkeys[position];
  if (Gone(before)) {
    --deletedSubkeys_;  // the new key takes the place of the deleted one
  } else {
    links_ -= before.link_ != nullptr ? 1 : 0;
    before.MarkDeleted();
  }
  subkeys[position] = std::move(key);
  return *subkeys[position];
}

bool RegKey::DeleteSubkeyTree(std::u16string_view name) {
  bool found = false;
  const std::size_t position = SubkeyPosition(name, &found);
  if (!found || Gone(*subkeys_[position])) {
    return false;
  }
  std::vector<std::shared_ptr<RegKey>>& subkeys = ChangingSubkeys();
  const std::shared_ptr<RegKey> removed = subkeys[position];
  links_ -= removed->link_ != nullptr ? 1 : 0;
  if (deleted_) {
    // A deleted tree has no placeholders: it just lets go of the key.
    subkeys.erase(subkeys.begin() + static_cast<std::ptrdiff_t>(position));
  } else {
    removed->MarkDeleted();
    if (++deletedSubkeys_ * 2 > subkeys.size()) {
      std::erase_if(subkeys, [](const std::shared_ptr<RegKey>& key) { return key->deleted_; });
      deletedSubkeys_ = 0;
    }
  }
  // A link never outlives its target.
  while (links_ != 0) {
    const auto link = std::find_if(
        subkeys.begin(), subkeys.end(),
        [&](const std::shared_ptr<RegKey>& key) { return key->link_ == removed && !Gone(*key); });
    if (link == subkeys.end()) {
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
    // The placeholders go first, so that the deleted tree holds just the keys it had (not a
    // change to track: the tree has left the registry, and its parent noted that).
    if (key->deletedSubkeys_ != 0) {
      std::erase_if(key->subkeys_,
                    [](const std::shared_ptr<RegKey>& child) { return child->deleted_; });
      key->deletedSubkeys_ = 0;
    }
    key->deleted_ = true;
    key->parent_ = nullptr;
    key->mark_.Leave();
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

Registry::Registry() : watch_(std::make_unique<ChangeWatch>()) {
  for (const char16_t* hive : kHiveNames) {
    roots_.push_back(std::make_shared<RegKey>(hive));
    roots_.back()->mark_ = ChangeMark(watch_.get());
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
