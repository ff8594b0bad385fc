// Names without regard to case, as the registry and INF files compare them: folding (ASCII and
// Latin-1 letters), comparing and hashing folded names without building them, and NameTable,
// the table that finds an entry of a list by its name.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// Case-folded form of a name, for comparisons and ordering (ASCII and Latin-1 letters fold).
std::u16string FoldCase(std::u16string_view name);

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

}  // namespace winsim
