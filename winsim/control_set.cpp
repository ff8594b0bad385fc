// The control-set link: SYSTEM\CurrentControlSet as a link to the control set that
// SYSTEM\Select names.
#include "winsim/control_set.h"

#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "platform/win_types.h"
#include "winsim/reg_data.h"
#include "winsim/registry.h"

namespace winsim {

namespace {

// Writes the values and subkeys of `from` into `into`, as an import of `from` there would, level
// by level rather than by recursion.
void MergeTree(const RegKey& from, RegKey& into) {
  std::vector<std::pair<const RegKey*, RegKey*>> pending = {{&from, &into}};
  while (!pending.empty()) {
    const auto [source, target] = pending.back();
    pending.pop_back();
    for (const RegValue& value : source->values()) {
      target->SetValue(value.name(), value.type(), value.data());
    }
    source->ForEachSubkey([&, target = target](const RegKey& subkey) {
      pending.emplace_back(&subkey, &target->CreateSubkey(subkey.name()));
    });
  }
}

}  // namespace

std::u16string SelectedControlSet(const Registry& registry) {
  const RegKey* select = Registry::Open(registry.HKLM(), u"SYSTEM\\Select");
  const RegValue* current = select == nullptr ? nullptr : select->FindValue(u"Current");
  if (current == nullptr || current->type() != orv::REG_DWORD || current->data().size() != 4) {
    return {};
  }
  const std::uint32_t number = DwordOf(current->data().data());
  if (number == 0) {
    return {};
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03u", static_cast<unsigned>(number));
  std::u16string name = u"ControlSet";
  name.append(digits, digits + std::strlen(digits));
  return name;
}

std::string ControlSetSelectProblem(const Registry& registry) {
  const RegKey* select = Registry::Open(registry.HKLM(), u"SYSTEM\\Select");
  const RegValue* current = select == nullptr ? nullptr : select->FindValue(u"Current");
  if (current == nullptr) {
    return select == nullptr ? "no SYSTEM\\Select" : "SYSTEM\\Select holds no Current value";
  }
  if (current->type() != orv::REG_DWORD || current->data().size() != 4) {
    return "SYSTEM\\Select\\Current is " + RegTypeName(current->type()) + " (" +
           std::to_string(current->data().size()) + " bytes), not a 4-byte REG_DWORD";
  }
  const std::u16string name = SelectedControlSet(registry);
  if (name.empty()) {
    return "SYSTEM\\Select\\Current is 0, which names no control set";
  }
  if (Registry::Open(registry.HKLM(), u"SYSTEM\\" + name) == nullptr) {
    return "SYSTEM\\Select names " + orv::Utf16ToUtf8(name) + ", which this image does not hold";
  }
  return {};
}

void Registry::LinkControlSet() {
  constexpr std::u16string_view kCurrent = u"CurrentControlSet";
  const std::u16string name = SelectedControlSet(*this);
  RegKey* system = name.empty() ? nullptr : HKLM().FindSubkey(u"SYSTEM");  // holds Select
  std::shared_ptr<RegKey> target = system == nullptr ? nullptr : system->SharedSubkey(name);
  const RegKey* copy = system == nullptr ? nullptr : system->ListedSubkey(kCurrent);
  if (target == nullptr || (copy != nullptr && copy->LinkTarget() != nullptr)) {
    return;
  }
  if (copy == nullptr) {
    system->LinkSubkey(kCurrent, std::move(target), false);
    return;
  }
  // The copy an export holds goes into the set, and the link takes its place and its name.
  MergeTree(*copy, *target);
  system->LinkSubkey(std::u16string(copy->name()), std::move(target), true);
}

}  // namespace winsim
