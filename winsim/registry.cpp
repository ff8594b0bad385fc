#include "winsim/registry.h"

#include <algorithm>

namespace winsim {

std::u16string FoldCase(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& c : folded) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
      c = static_cast<char16_t>(c - 0x20);
    }
  }
  return folded;
}

RegKey* RegKey::FindSubkey(std::u16string_view name) const {
  auto it = subkeys_.find(FoldCase(name));
  return it == subkeys_.end() ? nullptr : it->second.get();
}

std::shared_ptr<RegKey> RegKey::SharedSubkey(std::u16string_view name) const {
  auto it = subkeys_.find(FoldCase(name));
  return it == subkeys_.end() ? nullptr : it->second;
}

RegKey& RegKey::CreateSubkey(std::u16string_view name) {
  auto [it, inserted] = subkeys_.try_emplace(FoldCase(name));
  if (inserted) {
    it->second = std::make_shared<RegKey>(std::u16string(name));
    it->second->parent_ = this;
  }
  return *it->second;
}

bool RegKey::DeleteSubkeyTree(std::u16string_view name) {
  auto it = subkeys_.find(FoldCase(name));
  if (it == subkeys_.end()) {
    return false;
  }
  it->second->MarkDeleted();
  subkeys_.erase(it);
  return true;
}

void RegKey::MarkDeleted() {
  deleted_ = true;
  parent_ = nullptr;
  for (auto& [folded, child] : subkeys_) {
    child->MarkDeleted();
  }
}

std::vector<RegKey*> RegKey::Subkeys() const {
  std::vector<RegKey*> keys;
  keys.reserve(subkeys_.size());
  for (const auto& [folded, child] : subkeys_) {
    keys.push_back(child.get());
  }
  return keys;
}

const RegValue* RegKey::FindValue(std::u16string_view name) const {
  std::size_t index = ValueIndex(name);
  return index == values_.size() ? nullptr : &values_[index];
}

std::size_t RegKey::ValueIndex(std::u16string_view name) const {
  auto it = valueIndex_.find(FoldCase(name));
  return it == valueIndex_.end() ? values_.size() : it->second;
}

void RegKey::SetValue(std::u16string_view name, std::uint32_t type,
                      std::vector<std::uint8_t> data) {
  auto [it, inserted] = valueIndex_.try_emplace(FoldCase(name), values_.size());
  if (inserted) {
    values_.push_back(RegValue{std::u16string(name), type, std::move(data)});
  } else {
    values_[it->second].type = type;
    values_[it->second].data = std::move(data);
  }
}

bool RegKey::DeleteValue(std::u16string_view name) {
  auto it = valueIndex_.find(FoldCase(name));
  if (it == valueIndex_.end()) {
    return false;
  }
  const std::size_t removed = it->second;
  valueIndex_.erase(it);
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(removed));
  for (auto& [folded, index] : valueIndex_) {
    if (index > removed) {
      --index;
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

Registry::Registry() {
  for (const char16_t* hive : kHiveNames) {
    roots_.push_back(std::make_shared<RegKey>(hive));
  }
}

RegKey* Registry::Root(std::u16string_view hiveName) const {
  const std::u16string folded = FoldCase(hiveName);
  for (const auto& root : roots_) {
    if (FoldCase(root->name()) == folded) {
      return root.get();
    }
  }
  // The short forms that reg.exe accepts.
  static constexpr std::pair<const char16_t*, int> kShort[] = {
      {u"HKLM", 0}, {u"HKCU", 1}, {u"HKCR", 2}, {u"HKU", 3}, {u"HKCC", 4}};
  for (const auto& [name, index] : kShort) {
    if (folded == name) {
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

namespace {

template <typename Visit>
void ForEachComponent(std::u16string_view path, Visit visit) {
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(u'\\', start);
    if (end == std::u16string_view::npos) {
      end = path.size();
    }
    if (end > start && !visit(path.substr(start, end - start))) {
      return;
    }
    start = end + 1;
  }
}

}  // namespace

RegKey* Registry::Open(RegKey& from, std::u16string_view path) {
  RegKey* key = &from;
  ForEachComponent(path, [&](std::u16string_view name) {
    key = key->FindSubkey(name);
    return key != nullptr;
  });
  return key;
}

RegKey& Registry::Create(RegKey& from, std::u16string_view path) {
  RegKey* key = &from;
  ForEachComponent(path, [&](std::u16string_view name) {
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

}  // namespace winsim
