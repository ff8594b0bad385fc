// The simulated machine's registry: a tree of keys with ordered values, as a hive keeps them.
// Key and value names compare without regard to case. Values keep their insertion order (their
// enumeration index); subkeys enumerate in case-insensitive name order.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace winsim {

// Windows keeps at most this many levels of keys below a root key.
inline constexpr std::size_t kMaxKeyDepth = 512;

// Case-folded form of a name, for comparisons and ordering (ASCII and Latin-1 letters fold).
std::u16string FoldCase(std::u16string_view name);

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
// The order of FoldCase(a) and FoldCase(b) (<0, 0, >0), without building either.
int CompareFolded(std::u16string_view a, std::u16string_view b);
// Whether FoldCase(a) == FoldCase(b), and a hash of FoldCase(name), without building either.
bool EqualFolded(std::u16string_view a, std::u16string_view b);
std::size_t FoldedHash(std::u16string_view name);

// A table of names without regard to case, by open addressing: each slot holds an entry (a
// position in a list of the caller's) + 1, 0 when free, beside the hash of the entry's folded
// name, in a power of two of slots at least twice the entries. With the hash at hand a look-up
// reads no name but the one it seeks, and the table costs 16 to 32 bytes per name.
class NameTable {
 public:
  struct Slot {
    std::uint32_t entry = 0;  // + 1; 0 for a free slot
    std::uint32_t hash = 0;
  };

  bool empty() const { return slots_.empty(); }
  std::size_t size() const { return slots_.size(); }
  // Empties the table and sizes it for `entries` names.
  void Reset(std::size_t entries);
  const Slot& operator[](std::size_t slot) const { return slots_[slot]; }

  // The slot holding the entry named `name` (nameOf(entry) names an entry), or the free slot
  // where it goes.
  template <typename NameOf>
  std::size_t Find(std::u16string_view name, NameOf nameOf) const {
    return Find(name, Hash(name), nameOf);
  }
  template <typename NameOf>
  std::size_t Find(std::u16string_view name, std::uint32_t hash, NameOf nameOf) const {
    std::size_t slot = hash & Mask();
    while (slots_[slot].entry != 0 &&
           (slots_[slot].hash != hash || !EqualFolded(nameOf(slots_[slot].entry - 1), name))) {
      slot = (slot + 1) & Mask();
    }
    return slot;
  }
  // The slot holding `entry` + 1, whose name is `name`.
  std::size_t Holding(std::u16string_view name, std::uint32_t entry) const;
  // Puts `entry` + 1, named `name`, at `slot` (from Find); or, for a name the table does not
  // hold yet, whose hash is `hash`, at the first free slot from the name's own.
  void Put(std::size_t slot, std::uint32_t entry, std::u16string_view name);
  void Put(std::uint32_t entry, std::uint32_t hash);
  static std::uint32_t Hash(std::u16string_view name) {
    return static_cast<std::uint32_t>(FoldedHash(name));
  }
  // Calls each(entry, hash) for the entries 0 to count - 1 in order, with the hash of
  // nameOf(entry), having asked for the slots where the look-ups of a group of them begin all
  // at once: in a table much larger than the caches a group of look-ups then waits for memory
  // about once rather than once each. `each` may change the table.
  template <typename NameOf, typename Each>
  void InGroups(std::size_t count, NameOf nameOf, Each each) const {
    constexpr std::size_t kGroup = 32;
    std::uint32_t hashes[kGroup];
    for (std::size_t first = 0; first < count; first += kGroup) {
      const std::size_t size = std::min(kGroup, count - first);
      for (std::size_t i = 0; i < size; ++i) {
        hashes[i] = Hash(nameOf(first + i));
        if (!slots_.empty()) {
          __builtin_prefetch(&slots_[hashes[i] & Mask()]);
        }
      }
      for (std::size_t i = 0; i < size; ++i) {
        each(first + i, hashes[i]);
      }
    }
  }
  // Changes the entry at `slot` (its name stays).
  void Renumber(std::size_t slot, std::uint32_t entry) { slots_[slot].entry = entry; }
  // Frees `slot`; the entries behind it in its run move back where their hash allows, so that
  // every look-up still finds its entry.
  void Free(std::size_t slot);

 private:
  std::size_t Mask() const { return slots_.size() - 1; }
  std::vector<Slot> slots_;
};

// A value: its name (empty for the default value), type and data. The name and the data share
// one block, so that a small value costs its text and 24 bytes (a key may hold a million).
class RegValue {
 public:
  RegValue() = default;
  RegValue(std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data);
  RegValue(const RegValue& other) : RegValue(other.name(), other.type_, other.data()) {}
  RegValue& operator=(const RegValue& other) { return *this = RegValue(other); }
  RegValue(RegValue&&) noexcept = default;
  RegValue& operator=(RegValue&&) noexcept = default;

  std::u16string_view name() const { return {block_.get(), nameLength_}; }
  std::uint32_t type() const { return type_; }
  std::span<const std::uint8_t> data() const { return {DataStart(), size_}; }
  // The data, to be changed where it lies (its size stays).
  std::span<std::uint8_t> data() { return {DataStart(), size_}; }
  // New type and data; the name stays.
  void Set(std::uint32_t type, std::span<const std::uint8_t> data);

  friend bool operator==(const RegValue& a, const RegValue& b);

 private:
  std::uint8_t* DataStart() const {
    return reinterpret_cast<std::uint8_t*>(block_.get() + nameLength_);
  }

  std::unique_ptr<char16_t[]> block_;  // the name's units, then the data's bytes
  std::uint32_t nameLength_ = 0;
  std::uint32_t size_ = 0;
  std::uint32_t type_ = 0;
};

// Data bytes that compare equal.
bool SameBytes(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

class RegKey {
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
  std::size_t SubkeyCount() const { return subkeys_.size() - deletedSubkeys_; }
  // Subkeys in case-insensitive name order.
  std::vector<RegKey*> Subkeys() const;
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

  // Values, in enumeration order.
  const std::vector<RegValue>& values() const { return values_; }
  const RegValue* FindValue(std::u16string_view name) const;
  std::size_t ValueIndex(std::u16string_view name) const;  // values().size() when missing
  // Replaces the data of an existing value in place (keeping its index), or appends a new one.
  void SetValue(std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data);
  bool DeleteValue(std::u16string_view name);
  // Changes the data of the value `name` where it lies, through edit(data), keeping its type,
  // size and index; false when there is no such value. For a large value changed a little at a
  // time (the COM port database), where SetValue would copy and compare the whole of it.
  bool EditValueData(std::u16string_view name,
                     const std::function<void(std::span<std::uint8_t>)>& edit);
  // Sets `values` in order, as SetValue does one by one, and empties the list. A key without
  // values takes a few values of distinct names whole, without growing its list step by step.
  void SetValues(std::vector<RegValue>& values);
  // Gives back the room that appending values left spare (for a key that is complete), when it
  // is worth the copy: moving a long list costs, for a moment, the list twice.
  void ShrinkToFit() {
    if (values_.capacity() - values_.size() > values_.size() / 4) {
      values_.shrink_to_fit();
    }
  }

  // Full path below the root hive, e.g. HKEY_LOCAL_MACHINE\SYSTEM\Select.
  std::u16string Path() const;

 private:
  friend class Registry;
  // What a key held before its first change since the registry's baseline.
  struct Before {
    std::shared_ptr<RegKey> key;  // keeps the key alive (null for a root hive)
    std::optional<std::vector<RegValue>> values;
    std::optional<std::vector<std::shared_ptr<RegKey>>> subkeys;
  };
  // The baseline of a registry; its root hives point to it.
  struct ChangeWatch {
    std::uint32_t generation = 0;  // 0: no baseline taken
    std::unordered_map<const RegKey*, Before> before;
  };

  void MarkDeleted();
  // In a live key a deleted subkey is only a placeholder; a deleted tree keeps its keys.
  bool Gone(const RegKey& child) const { return child.deleted_ && !deleted_; }
  // The position of the subkey `name` in subkeys_ (deleted ones included), or of where it goes.
  std::size_t SubkeyPosition(std::u16string_view name, bool* found) const;
  // The entry of the subkey `name`, or null (FindSubkey without copying a shared pointer).
  const std::shared_ptr<RegKey>* Lookup(std::u16string_view name) const;
  // Called before a change to the key's values or (with `subkeys`) its subkeys: a key that
  // belongs to the baseline keeps what it held. Returns the registry's watch, if any.
  ChangeWatch* NoteChange(bool subkeys);
  std::vector<std::shared_ptr<RegKey>> LiveSubkeys() const;

  std::u16string name_;
  RegKey* parent_ = nullptr;
  ChangeWatch* watch_ = nullptr;  // on the root hives of a registry
  bool deleted_ = false;
  std::uint32_t born_ = 0;  // the generation of the baseline in which the key was created
  // Subkeys in case-insensitive name order. A deleted subkey stays in place (it still orders by
  // its name) until deleted ones outnumber the others, so that deleting many siblings one by
  // one costs no more than deleting them together.
  std::vector<std::shared_ptr<RegKey>> subkeys_;
  std::size_t deletedSubkeys_ = 0;
  std::size_t links_ = 0;  // subkeys that are links
  std::shared_ptr<RegKey> link_;
  bool linkWritten_ = false;
  std::vector<RegValue> values_;
  // Index of the values by folded name, kept only for keys with many values.
  NameTable valueIndex_;
  // Sets the value `name` as SetValue does; a new one is make().
  template <typename Make>
  void StoreValue(std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data,
                  Make make);
  // The slot of the value `name` in valueIndex_, or the free slot where it would go.
  std::size_t SlotOf(std::u16string_view name) const;
  void IndexValues();  // builds the table anew for values_
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

  // Change tracking. TakeBaseline remembers the present content: from then on every key keeps,
  // before its first change, what it held, so that ChangedSinceBaseline can tell, at the cost
  // of what changed rather than of the whole registry, whether anything differs now (values,
  // their order, subkeys). A key deleted and created again counts as changed.
  void TakeBaseline();
  bool ChangedSinceBaseline() const;

  // Control sets: when HKEY_LOCAL_MACHINE\SYSTEM holds Select with Current (a REG_DWORD N) and
  // the key ControlSet00N, SYSTEM\CurrentControlSet becomes a link to that key. A
  // CurrentControlSet tree already there (the copy that exports of a running system hold) is
  // read into the target first, as an import through the link would write it, and the link is
  // then written out as a copy again. Does nothing when there is no such set or the link exists.
  void LinkControlSet();

 private:
  std::vector<std::shared_ptr<RegKey>> roots_;
  std::unique_ptr<RegKey::ChangeWatch> watch_;
};

// The name of the control set that SYSTEM\Select names (Current, a REG_DWORD N from 1:
// ControlSet00N), or empty when there is no such value.
std::u16string SelectedControlSet(const Registry& registry);
// What is wrong with SYSTEM\Select, in a few words ("no SYSTEM\Select", "SYSTEM\Select\Current
// is REG_SZ (4 bytes), not a 4-byte REG_DWORD", ...), or empty when Current names a control set
// that SYSTEM holds.
std::string ControlSetSelectProblem(const Registry& registry);

// The device instances under HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum, in enumeration
// order: visit(enumerator, device, instance) for each, the keys of the three levels of an
// instance path <enumerator>\<device>\<instance>. `names` (up to three) keeps to the keys of
// those names at the first levels ("ORVPCARD_ENUM", "ORVPCARD_SERP"), without visiting the rest.
void ForEachDeviceInstance(RegKey& hklm, const std::vector<std::u16string_view>& names,
                           const std::function<void(RegKey&, RegKey&, RegKey&)>& visit);

}  // namespace winsim
