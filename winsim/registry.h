// The simulated machine's registry: a tree of keys with ordered values, as a hive keeps them.
// Key and value names compare without regard to case. Values keep their insertion order (their
// enumeration index); subkeys enumerate in case-insensitive name order.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// Case-folded form of a name, for comparisons and ordering (ASCII and Latin-1 letters fold).
std::u16string FoldCase(std::u16string_view name);

struct RegValue {
  std::u16string name;  // empty for the default value
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

class RegKey {
 public:
  explicit RegKey(std::u16string name) : name_(std::move(name)) {}

  const std::u16string& name() const { return name_; }
  RegKey* parent() const { return parent_; }
  // True once the key has been deleted; open handles to it then fail with ERROR_KEY_DELETED.
  bool deleted() const { return deleted_; }

  // Subkeys.
  RegKey* FindSubkey(std::u16string_view name) const;
  RegKey& CreateSubkey(std::u16string_view name);  // the existing one, or a new one
  // Deletes the subkey with its whole tree; false when there is none.
  bool DeleteSubkeyTree(std::u16string_view name);
  std::size_t SubkeyCount() const { return subkeys_.size(); }
  // Subkeys in case-insensitive name order.
  std::vector<RegKey*> Subkeys() const;
  // Shared ownership, so that a handle can keep a deleted key alive.
  std::shared_ptr<RegKey> SharedSubkey(std::u16string_view name) const;

  // Values, in enumeration order.
  const std::vector<RegValue>& values() const { return values_; }
  const RegValue* FindValue(std::u16string_view name) const;
  std::size_t ValueIndex(std::u16string_view name) const;  // values().size() when missing
  // Replaces the data of an existing value in place (keeping its index), or appends a new one.
  void SetValue(std::u16string_view name, std::uint32_t type, std::vector<std::uint8_t> data);
  bool DeleteValue(std::u16string_view name);

  // Full path below the root hive, e.g. HKEY_LOCAL_MACHINE\SYSTEM\Select.
  std::u16string Path() const;

 private:
  void MarkDeleted();

  std::u16string name_;
  RegKey* parent_ = nullptr;
  bool deleted_ = false;
  std::map<std::u16string, std::shared_ptr<RegKey>> subkeys_;  // by folded name
  std::vector<RegValue> values_;
  std::map<std::u16string, std::size_t> valueIndex_;  // folded name -> index in values_
};

// The registry: the root hives by their full names (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
// HKEY_CLASSES_ROOT, HKEY_USERS, HKEY_CURRENT_CONFIG).
class Registry {
 public:
  Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;
  Registry(Registry&&) = default;
  Registry& operator=(Registry&&) = default;

  RegKey* Root(std::u16string_view hiveName) const;  // null for an unknown hive name
  RegKey& HKLM() const { return *Root(u"HKEY_LOCAL_MACHINE"); }
  // Root hives in the order in which they are written to an image.
  std::vector<RegKey*> Roots() const;

  // A path of backslash-separated names below a key; empty components are ignored.
  static RegKey* Open(RegKey& from, std::u16string_view path);
  static RegKey& Create(RegKey& from, std::u16string_view path);
  // A full path beginning with a hive name (HKEY_LOCAL_MACHINE\...).
  RegKey* OpenFull(std::u16string_view fullPath) const;

 private:
  std::vector<std::shared_ptr<RegKey>> roots_;
};

}  // namespace winsim
