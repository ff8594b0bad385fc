// The registry functions over the machine's registry. HKEY_LOCAL_MACHINE is the one predefined
// key; every other HKEY is a handle of this area, which shares ownership of its key so that a
// handle to a deleted key stays valid and fails with ERROR_KEY_DELETED. The device calls open
// their keys (SetupDiOpenDevRegKey) as handles of this area too.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "winsim/sim_context.h"
#include "winsim/sim_system_info.h"

namespace winsim {

class SimRegistry {
 public:
  SimRegistry(SimContext& sim, const SimSystemInfo& system) : sim_(sim), system_(system) {}

  orv::LONG RegOpenKeyExW(orv::HKEY key, const orv::WCHAR* subKey, orv::DWORD options,
                          orv::REGSAM sam, orv::HKEY* result);
  orv::LONG RegCreateKeyExW(orv::HKEY key, const orv::WCHAR* subKey, orv::DWORD reserved,
                            orv::DWORD options, orv::REGSAM sam, orv::HKEY* result,
                            orv::DWORD* disposition);
  orv::LONG RegCloseKey(orv::HKEY key);
  orv::LONG RegQueryValueExW(orv::HKEY key, const orv::WCHAR* valueName, orv::DWORD* reserved,
                             orv::DWORD* type, orv::BYTE* data, orv::DWORD* dataSize);
  orv::LONG RegSetValueExW(orv::HKEY key, const orv::WCHAR* valueName, orv::DWORD reserved,
                           orv::DWORD type, const orv::BYTE* data, orv::DWORD dataSize);
  orv::LONG RegEnumValueW(orv::HKEY key, orv::DWORD index, orv::WCHAR* valueName,
                          orv::DWORD* valueNameChars, orv::DWORD* reserved, orv::DWORD* type,
                          orv::BYTE* data, orv::DWORD* dataSize);
  orv::LONG RegDeleteValueW(orv::HKEY key, const orv::WCHAR* valueName);
  orv::LONG RegDeleteKeyW(orv::HKEY key, const orv::WCHAR* subKey);

  // The key at `path` below HKEY_LOCAL_MACHINE, shared as a handle shares it; null when missing.
  std::shared_ptr<RegKey> OpenShared(std::u16string_view path) const;
  // A new handle to `key`.
  orv::HKEY NewKeyHandle(std::shared_ptr<RegKey> key);
  std::size_t OpenHandleCount() const { return keys_.size(); }

 private:
  struct KeyCall {
    std::shared_ptr<RegKey> key;  // null for an invalid handle
    orv::DWORD status = orv::ERROR_SUCCESS;
  };
  // The key an HKEY names: a predefined root or an open handle; null when invalid.
  std::shared_ptr<RegKey> KeyOf(orv::HKEY key) const;
  // Starts `call` on an open key: resolves the handle and names the device the key lies in, then
  // checks faults and deletion.
  KeyCall BeginKeyCall(orv::HKEY handle, Call& call);
  // The key path a registry call below `key` reaches: under WOW64, a path below HKLM\SOFTWARE
  // goes to the 32-bit view, SOFTWARE\WOW6432Node.
  std::u16string RegistryViewPath(orv::HKEY key, std::u16string_view subKey) const;

  SimContext& sim_;
  const SimSystemInfo& system_;
  std::map<std::uintptr_t, std::shared_ptr<RegKey>> keys_;
};

}  // namespace winsim
