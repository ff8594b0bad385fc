// The simulated machine's registry: a tree of keys with ordered values, as a hive keeps them.
// Key and value names compare without regard to case. Values keep their insertion order (their
// enumeration index); subkeys enumerate in case-insensitive name order.
//
// This is the key tree. Its parts have units of their own: the names (name_table.h), the values
// of a key (reg_values.h), change tracking (reg_changes.h) and the control-set link
// (control_set.h); this header brings them all.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/control_set.h"
#include "winsim/name_table.h"
#include "winsim/reg_changes.h"
#include "winsim/reg_values.h"

namespace winsim {

// Windows keeps at most this many levels of keys below a root key.
inline constexpr std::size_t kMaxKeyDepth = 512;

// Calls `visit` with each non-empty backslash-separated name of a key path, until it returns
// false.
template <typename Visit>
void ForEachKeyName(std::u16string_view path, Visit visit) {
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

// A key: its place in the tree, its subkeys, and its values (the ValueStore it is). Every change
// to the subkey list goes through ChangingSubkeys() and every change to the values through
// ValueStore::Changing(); both tell the key's ChangeMark first.
class RegKey final : public ValueStore {
 public:
  explicit RegKey(std::u16string name) : name_(std::move(name)) {}
  ~RegKey();
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;

  const std::u16string& name() const { return name_; }
  RegKey* parent() const { return parent_; }
  // True once the key has been deleted; open handles to it then fail with ERROR_KEY_DELETED.
  bool deleted() const { return deleted_; }
  // For a link (SYSTEM\CurrentControlSet), the key it names, else null. Every use of a link by
  // name (finding, creating, opening a path through it) reaches its target; enumerating the
  // parent lists the link itself, by its own name, without values or subkeys of its own.
  RegKey* LinkTarget() const { return link_.get(); }
  // Whether an image holds the link's tree a second time, under the link's name.
  bool LinkWritten() const { return linkWritten_; }

  // Subkeys.
  RegKey* FindSubkey(std::u16string_view name) const;
  RegKey& CreateSubkey(std::u16string_view name);  // the existing one, or a new one
  // Deletes the subkey with its whole tree (links to it go with it; deleting a link deletes just
  // the link); false when there is none.
  bool DeleteSubkeyTree(std::u16string_view name);
  // Makes the subkey `name` a link to `target`; `written`: an image holds the link's tree too
  // (LinkWritten). A subkey of that name already there is deleted with its tree (links to it
  // stay), and the link takes its place.
  RegKey& LinkSubkey(std::u16string_view name, std::shared_ptr<RegKey> target, bool written);
  std::size_t SubkeyCount() const { return subkeys_.size() - deletedSubkeys_; }
  // Subkeys in case-insensitive name order.
  std::vector<RegKey*> Subkeys() const;
  // The subkey `name` as Subkeys() lists it: a link itself rather than its target; null if none.
  const RegKey* ListedSubkey(std::u16string_view name) const;
  // Calls visit(const RegKey&) for each subkey, in the same order, without making a list.
  template <typename Visit>
  void ForEachSubkey(Visit visit) const {
    std::size_t position = 0;
    while (const RegKey* child = NextSubkey(position)) {
      visit(*child);
    }
  }
  // The subkey at `position` or after it, in the same order, with `position` moved past it; null
  // after the last. From position 0 on, a walk that keeps its own place at every level (so that
  // no walk needs to recurse on the depth of the tree).
  const RegKey* NextSubkey(std::size_t& position) const {
    while (position < subkeys_.size()) {
      const RegKey& child = *subkeys_[position++];
      if (!Gone(child)) {
        return &child;
      }
    }
    return nullptr;
  }
  // Shared ownership, so that a handle can keep a deleted key alive.
  std::shared_ptr<RegKey> SharedSubkey(std::u16string_view name) const;

  // Full path below the root hive, e.g. HKEY_LOCAL_MACHINE\SYSTEM\Select.
  std::u16string Path() const;

 private:
  friend class ChangeWatch;  // keeps the live subkeys
  friend class Registry;     // marks its root hives

  void BeforeValuesChange() override { mark_.BeforeChange(*this, false); }
  // The subkey list, to be changed now: the one way to it for a change of a key in a registry.
  std::vector<std::shared_ptr<RegKey>>& ChangingSubkeys() {
    mark_.BeforeChange(*this, true);
    return subkeys_;
  }
  // Puts the new subkey `key` at `position` (from SubkeyPosition), in place of the one there
  // when `found`: a deleted one, or a live one, whose tree is then marked deleted.
  RegKey& PutSubkey(std::size_t position, bool found, std::shared_ptr<RegKey> key);
  // The key and its tree leave the registry: each key is marked deleted.
  void MarkDeleted();
  // In a live key a deleted subkey is only a placeholder; a deleted tree keeps its keys.
  bool Gone(const RegKey& child) const { return child.deleted_ && !deleted_; }
  // The position of the subkey `name` in subkeys_ (deleted ones included), or of where it goes.
  std::size_t SubkeyPosition(std::u16string_view name, bool* found) const;
  // The entry of the subkey `name` as listed (ListedSubkey), or null.
  const std::shared_ptr<RegKey>* Entry(std::u16string_view name) const;
  // The entry of the key that the name `name` reaches, or null (FindSubkey without copying a
  // shared pointer).
  const std::shared_ptr<RegKey>* Lookup(std::u16string_view name) const;
  std::vector<std::shared_ptr<RegKey>> LiveSubkeys() const;

  std::u16string name_;
  RegKey* parent_ = nullptr;
  ChangeMark mark_;
  bool deleted_ = false;
  bool linkWritten_ = false;
  // Subkeys in case-insensitive name order. A deleted subkey stays in place (it still orders by
  // its name) until deleted ones outnumber the others, so that deleting many siblings one by
  // one costs no more than deleting them together.
  std::vector<std::shared_ptr<RegKey>> subkeys_;
  std::uint32_t deletedSubkeys_ = 0;
  std::uint32_t links_ = 0;  // subkeys that are links
  std::shared_ptr<RegKey> link_;
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
  RegKey& HKLM() const { return *roots_.front(); }
  // Root hives in the order in which they are written to an image.
  std::vector<RegKey*> Roots() const;

  // A path of backslash-separated names below a key; empty components are ignored.
  static RegKey* Open(RegKey& from, std::u16string_view path);
  static RegKey& Create(RegKey& from, std::u16string_view path);
  // A full path beginning with a hive name (HKEY_LOCAL_MACHINE\...).
  RegKey* OpenFull(std::u16string_view fullPath) const;

  // Change tracking (ChangeWatch, reg_changes.h).
  void TakeBaseline() { watch_->TakeBaseline(); }
  bool ChangedSinceBaseline() const { return watch_->ChangedSinceBaseline(); }

  // Control sets (control_set.cpp): when HKEY_LOCAL_MACHINE\SYSTEM holds Select with Current (a
  // REG_DWORD N) and the key ControlSet00N, SYSTEM\CurrentControlSet becomes a link to that key.
  // A CurrentControlSet tree already there (the copy that exports of a running system hold) is
  // read into the target first, as an import through the link would write it, and the link is
  // then written out as a copy again. Does nothing when there is no such set or the link exists.
  void LinkControlSet();

 private:
  std::vector<std::shared_ptr<RegKey>> roots_;
  std::unique_ptr<ChangeWatch> watch_;
};

// The device instances under HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum, in enumeration
// order: visit(enumerator, device, instance) for each, the keys of the three levels of an
// instance path <enumerator>\<device>\<instance>. `names` (up to three) keeps to the keys of
// those names at the first levels ("ORVPCARD_ENUM", "ORVPCARD_SERP"), without visiting the rest.
void ForEachDeviceInstance(RegKey& hklm, const std::vector<std::u16string_view>& names,
                           const std::function<void(RegKey&, RegKey&, RegKey&)>& visit);

}  // namespace winsim
