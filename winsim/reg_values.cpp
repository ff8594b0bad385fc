#include "winsim/reg_values.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

namespace winsim {

namespace {

// Keys with more values than this keep an index of them by name; smaller ones are searched.
constexpr std::size_t kIndexedValues = 32;

}  // namespace

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

const RegValue* ValueStore::FindValue(std::u16string_view name) const {
  std::size_t index = ValueIndex(name);
  return index == values_.size() ? nullptr : &values_[index];
}

std::size_t ValueStore::SlotOf(std::u16string_view name) const {
  return index_.Find(name, [this](std::size_t entry) { return values_[entry].name(); });
}

void ValueStore::IndexValues() {
  index_.Reset(values_.size());
  // The names differ, so each goes to the first free slot from its own without comparing.
  index_.InGroups(
      values_.size(), [this](std::size_t i) { return values_[i].name(); },
      [this](std::size_t i, std::uint32_t hash) {
        index_.Put(static_cast<std::uint32_t>(i + 1), hash);
      });
}

std::size_t ValueStore::ValueIndex(std::u16string_view name) const {
  if (!index_.empty()) {
    const std::uint32_t entry = index_[SlotOf(name)].entry;
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
void ValueStore::StoreValue(std::u16string_view name, std::uint32_t type,
                            std::span<const std::uint8_t> data, Make make) {
  // With an index, the slot found for the name is where a new value goes.
  const std::size_t slot = index_.empty() ? 0 : SlotOf(name);
  const std::size_t index = index_.empty()            ? ValueIndex(name)
                            : index_[slot].entry == 0 ? values_.size()
                                                      : index_[slot].entry - 1;
  if (index < values_.size()) {
    const RegValue& value = values_[index];
    if (value.type() != type || !SameBytes(value.data(), data)) {
      Changing()[index].Set(type, data);
    }
    return;
  }
  Changing().push_back(make());
  if (values_.size() * 2 > index_.size() && values_.size() > kIndexedValues) {
    IndexValues();
  } else if (!index_.empty()) {
    index_.Put(slot, static_cast<std::uint32_t>(values_.size()), name);
  }
}

void ValueStore::SetValue(std::u16string_view name, std::uint32_t type,
                          std::span<const std::uint8_t> data) {
  StoreValue(name, type, data, [&] { return RegValue(name, type, data); });
}

bool ValueStore::EditValueData(std::u16string_view name,
                               const std::function<void(std::span<std::uint8_t>)>& edit) {
  const std::size_t index = ValueIndex(name);
  if (index == values_.size()) {
    return false;
  }
  edit(Changing()[index].data());
  return true;
}

void ValueStore::SetValues(std::vector<RegValue>& values) {
  bool whole = values_.empty() && index_.empty() && values.size() <= kIndexedValues;
  for (std::size_t i = 0; whole && i < values.size(); ++i) {
    for (std::size_t j = 0; whole && j < i; ++j) {
      whole = !EqualFolded(values[i].name(), values[j].name());
    }
  }
  if (!whole) {
    // A new value is moved in (its name and data stay where they are).
    index_.InGroups(
        values.size(), [&](std::size_t i) { return values[i].name(); },
        [&](std::size_t i, std::uint32_t) {
          RegValue& value = values[i];
          StoreValue(value.name(), value.type(), value.data(), [&] { return std::move(value); });
        });
  } else if (!values.empty()) {
    std::vector<RegValue>& list = Changing();
    list.reserve(values.size());
    std::move(values.begin(), values.end(), std::back_inserter(list));
  }
  values.clear();
}

bool ValueStore::DeleteValue(std::u16string_view name) {
  const std::size_t removed = ValueIndex(name);
  if (removed == values_.size()) {
    return false;
  }
  std::vector<RegValue>& list = Changing();
  if (!index_.empty()) {
    index_.Free(SlotOf(name));
  }
  list.erase(list.begin() + static_cast<std::ptrdiff_t>(removed));
  // Only the values behind it move down: the last value goes at no cost beyond its own.
  for (std::size_t i = removed; i < values_.size() && !index_.empty(); ++i) {
    index_.Renumber(index_.Holding(values_[i].name(), static_cast<std::uint32_t>(i + 2)),
                    static_cast<std::uint32_t>(i + 1));
  }
  return true;
}

}  // namespace winsim
