#include "winsim/name_table.h"

namespace winsim {

namespace {

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

}  // namespace winsim
