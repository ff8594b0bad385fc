// What differs between two registries, key by key and value by value, in the terms regedit
// shows, for `winsim diff`.
#pragma once

#include <functional>
#include <string_view>

#include "winsim/registry.h"

namespace winsim {

// Hands the differences from `before` to `after` to `sink`, in pieces, and tells whether there
// are any (identical registries give no text at all). Keys are compared in tree order, names
// without regard to case, as Windows compares them:
//
//   [HKEY_LOCAL_MACHINE\path]             a key in both whose values differ
//   - Name  REG_SZ  text                  a value as it was (or a value removed)
//   + Name  REG_SZ  text                  a value as it is (or a value added)
//     (values in another order: a, b -> b, a)
//   -[HKEY_LOCAL_MACHINE\path]            a key removed, then its values and subkeys
//   +[HKEY_LOCAL_MACHINE\path]            a key added, then its values and subkeys
//
// A value shows as regedit lists it: its name ("(Default)" for the unnamed one), its type, and
// its data: text as text (a list joined by "; "), a REG_DWORD or REG_QWORD as "0x... (decimal)",
// other data as hex bytes; its size in bytes follows the type when the data is not exactly what
// the type holds (a padded text, binary data, a short DWORD). A link (CurrentControlSet) that
// names the same control set on both sides is not compared a second time. Takes time in
// proportion to the size of the two registries.
bool DiffRegistries(const Registry& before, const Registry& after,
                    const std::function<void(std::string_view)>& sink);

}  // namespace winsim
