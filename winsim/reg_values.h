// The values of a key: each value (its name, type and data in one block), and the store that
// keeps a key's values in their enumeration order, found by name without regard to case.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "winsim/name_table.h"

namespace winsim {

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

// The values of a key, in enumeration order: a new value is appended, a replaced one keeps its
// index, a deleted one closes up the list. Keys with many values find them through a NameTable.
//
// Every change goes through Changing(), which calls BeforeValuesChange() first: the key that
// holds the store tells change tracking there (reg_changes.h), so that no change can skip it.
class ValueStore {
 public:
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
  // is worth the copy: moving a long list costs, for a moment, the list twice. The values stay
  // as they are, so this is no change.
  void ShrinkToFit() {
    if (values_.capacity() - values_.size() > values_.size() / 4) {
      values_.shrink_to_fit();
    }
  }

 protected:
  ValueStore() = default;
  ValueStore(const ValueStore&) = delete;
  ValueStore& operator=(const ValueStore&) = delete;
  ~ValueStore() = default;
  // Called before each change, while the values are still as they were.
  virtual void BeforeValuesChange() = 0;

 private:
  // The list, to be changed now: the one way to it for a change.
  std::vector<RegValue>& Changing() {
    BeforeValuesChange();
    return values_;
  }
  // Sets the value `name` as SetValue does; a new one is make().
  template <typename Make>
  void StoreValue(std::u16string_view name, std::uint32_t type, std::span<const std::uint8_t> data,
                  Make make);
  // The slot of the value `name` in index_, or the free slot where it would go.
  std::size_t SlotOf(std::u16string_view name) const;
  void IndexValues();  // builds the index anew for values_

  std::vector<RegValue> values_;
  NameTable index_;  // the values by folded name, kept only for keys with many values
};

}  // namespace winsim
