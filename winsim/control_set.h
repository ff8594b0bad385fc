// Control sets: SYSTEM\Select names the current one (Current, a REG_DWORD N: ControlSet00N), and
// SYSTEM\CurrentControlSet is a link to it (Registry::LinkControlSet, defined in
// control_set.cpp with these).
#pragma once

#include <string>

namespace winsim {

class Registry;

// The name of the control set that SYSTEM\Select names (Current, a REG_DWORD N from 1:
// ControlSet00N), or empty when there is no such value.
std::u16string SelectedControlSet(const Registry& registry);
// What is wrong with SYSTEM\Select, in a few words ("no SYSTEM\Select", "SYSTEM\Select\Current
// is REG_SZ (4 bytes), not a 4-byte REG_DWORD", ...), or empty when Current names a control set
// that SYSTEM holds.
std::string ControlSetSelectProblem(const Registry& registry);

}  // namespace winsim
