#include "winsim/sim_registry.h"

#include <algorithm>
#include <cstring>

#include "winsim/sim_setupapi.h"

namespace winsim {

using namespace orv;

namespace {

constexpr DWORD ERROR_NOACCESS = 998;

std::u16string_view TextOrEmpty(const WCHAR* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

std::string SizeText(const void* buffer, const DWORD* size) {
  if (buffer == nullptr || size == nullptr) {
    return "null";
  }
  return std::to_string(*size);
}

// The key at `path` below `from`, sharing ownership as a handle does; null when missing.
std::shared_ptr<RegKey> OpenBelow(std::shared_ptr<RegKey> from, std::u16string_view path) {
  ForEachKeyName(path, [&](std::u16string_view name) {
    from = from->SharedSubkey(name);
    return from != nullptr;
  });
  return from;
}

}  // namespace

std::shared_ptr<RegKey> SimRegistry::OpenShared(std::u16string_view path) const {
  return OpenBelow(KeyOf(HKEY_LOCAL_MACHINE), path);
}

std::shared_ptr<RegKey> SimRegistry::KeyOf(HKEY key) const {
  if (key == HKEY_LOCAL_MACHINE) {
    // The root lives as long as the registry; the handle does not own it.
    return std::shared_ptr<RegKey>(std::shared_ptr<RegKey>(), &sim_.machine.registry().HKLM());
  }
  auto it = keys_.find(reinterpret_cast<std::uintptr_t>(key));
  return it == keys_.end() ? nullptr : it->second;
}

HKEY SimRegistry::NewKeyHandle(std::shared_ptr<RegKey> key) {
  const std::uintptr_t value = sim_.handles.New();
  keys_.emplace(value, std::move(key));
  return reinterpret_cast<HKEY>(value);
}

SimRegistry::KeyCall SimRegistry::BeginKeyCall(HKEY handle, std::string_view api,
                                               std::string_view args) {
  KeyCall call;
  call.key = KeyOf(handle);
  if (call.key == nullptr) {
    call.status = ERROR_INVALID_HANDLE;
    return call;
  }
  const RegKey* instance = DeviceInstanceOf(sim_.machine.registry(), *call.key, &call.device);
  call.status = sim_.faults.For(api, args, call.device, instance).value_or(ERROR_SUCCESS);
  if (call.status == ERROR_SUCCESS && call.key->deleted()) {
    call.status = ERROR_KEY_DELETED;
  }
  return call;
}

std::u16string SimRegistry::RegistryViewPath(HKEY key, std::u16string_view subKey) const {
  static constexpr std::u16string_view kSoftware = u"SOFTWARE";
  static constexpr std::u16string_view kView = u"WOW6432Node";
  std::vector<std::u16string_view> names;
  ForEachKeyName(subKey, [&](std::u16string_view name) {
    names.push_back(name);
    return names.size() < 2;
  });
  // Every key below SOFTWARE is redirected here: the few that Windows shares between the two
  // views are not ones the tool opens.
  if (!system_.Wow64() || key != HKEY_LOCAL_MACHINE || names.empty() ||
      !SameName(names[0], kSoftware) || (names.size() > 1 && SameName(names[1], kView))) {
    return std::u16string(subKey);
  }
  const std::u16string_view rest = subKey.substr(names[0].data() + names[0].size() - subKey.data());
  return std::u16string(names[0]) + u"\\" + std::u16string(kView) + std::u16string(rest);
}

LONG SimRegistry::RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam,
                                HKEY* result) {
  const std::string args = sim_.tracer.HandleText("key", key) + ", " + Quoted(subKey) + ", " +
                           Hex(options) + ", " + Hex(sam);
  KeyCall call = BeginKeyCall(key, "RegOpenKeyExW", args);
  if (call.status == ERROR_SUCCESS && result == nullptr) {
    call.status = ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<RegKey> opened;
  if (call.status == ERROR_SUCCESS) {
    opened = OpenBelow(call.key, RegistryViewPath(key, TextOrEmpty(subKey)));
    call.status = opened == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }
  if (call.status != ERROR_SUCCESS) {
    if (result != nullptr) {
      *result = nullptr;
    }
    return sim_.tracer.TraceStatus("RegOpenKeyExW", args, call.status, call.device);
  }
  *result = NewKeyHandle(std::move(opened));
  return sim_.tracer.TraceStatus("RegOpenKeyExW", args, ERROR_SUCCESS, call.device,
                                 sim_.tracer.HandleText("key", *result));
}

LONG SimRegistry::RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, DWORD options,
                                  REGSAM sam, HKEY* result, DWORD* disposition) {
  const std::string args = sim_.tracer.HandleText("key", key) + ", " + Quoted(subKey) + ", " +
                           Hex(options) + ", " + Hex(sam);
  KeyCall call = BeginKeyCall(key, "RegCreateKeyExW", args);
  if (call.status == ERROR_SUCCESS && (subKey == nullptr || reserved != 0 || result == nullptr)) {
    call.status = ERROR_INVALID_PARAMETER;
  }
  if (call.status != ERROR_SUCCESS) {
    if (result != nullptr) {
      *result = nullptr;
    }
    return sim_.tracer.TraceStatus("RegCreateKeyExW", args, call.status, call.device);
  }
  std::shared_ptr<RegKey> created = call.key;
  bool isNew = false;
  ForEachKeyName(RegistryViewPath(key, subKey), [&](std::u16string_view name) {
    if (std::shared_ptr<RegKey> existing = created->SharedSubkey(name)) {
      created = std::move(existing);
    } else {
      created->CreateSubkey(name);
      created = created->SharedSubkey(name);
      isNew = true;
    }
    return true;
  });
  *result = NewKeyHandle(std::move(created));
  if (disposition != nullptr) {
    *disposition = isNew ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return sim_.tracer.TraceStatus(
      "RegCreateKeyExW", args, ERROR_SUCCESS, call.device,
      sim_.tracer.HandleText("key", *result) + (isNew ? ", created" : ", opened"));
}

LONG SimRegistry::RegCloseKey(HKEY key) {
  const std::string args = sim_.tracer.HandleText("key", key);
  const bool open = keys_.count(reinterpret_cast<std::uintptr_t>(key)) != 0;
  DWORD status = open || key == HKEY_LOCAL_MACHINE ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  std::string device;
  if (open) {
    DeviceInstanceOf(sim_.machine.registry(), *KeyOf(key), &device);
  }
  if (status == ERROR_SUCCESS) {
    status = sim_.faults.For("RegCloseKey", args, device).value_or(ERROR_SUCCESS);
  }
  if (status == ERROR_SUCCESS && open) {
    keys_.erase(reinterpret_cast<std::uintptr_t>(key));
  }
  return sim_.tracer.TraceStatus("RegCloseKey", args, status, device);
}

LONG SimRegistry::RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                   BYTE* data, DWORD* dataSize) {
  const std::string args = sim_.tracer.HandleText("key", key) + ", " + Quoted(valueName) + ", " +
                           SizeText(data, dataSize);
  KeyCall call = BeginKeyCall(key, "RegQueryValueExW", args);
  if (call.status == ERROR_SUCCESS &&
      (reserved != nullptr || (data != nullptr && dataSize == nullptr))) {
    call.status = ERROR_INVALID_PARAMETER;
  }
  const RegValue* value = nullptr;
  if (call.status == ERROR_SUCCESS) {
    value = call.key->FindValue(TextOrEmpty(valueName));
    call.status = value == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }
  if (call.status != ERROR_SUCCESS) {
    return sim_.tracer.TraceStatus("RegQueryValueExW", args, call.status, call.device);
  }
  const auto needed = static_cast<DWORD>(value->data().size());
  const bool fits = data == nullptr || *dataSize >= needed;
  if (type != nullptr) {
    *type = value->type();
  }
  std::string outputs = Hex(value->type()) + ", ";
  if (data != nullptr && fits) {
    std::ranges::copy(value->data(), data);
    outputs += DataText(value->type(), data, needed);
  } else {
    outputs += std::to_string(needed);
  }
  if (dataSize != nullptr) {
    *dataSize = needed;
  }
  return sim_.tracer.TraceStatus("RegQueryValueExW", args, fits ? ERROR_SUCCESS : ERROR_MORE_DATA,
                                 call.device, outputs);
}

LONG SimRegistry::RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD dataSize) {
  const std::string args = sim_.tracer.HandleText("key", key) + ", " + Quoted(valueName) + ", " +
                           Hex(reserved) + ", " + Hex(type) + ", " + DataText(type, data, dataSize);
  KeyCall call = BeginKeyCall(key, "RegSetValueExW", args);
  if (call.status == ERROR_SUCCESS && reserved != 0) {
    call.status = ERROR_INVALID_PARAMETER;
  }
  if (call.status == ERROR_SUCCESS && data == nullptr && dataSize != 0) {
    call.status = ERROR_NOACCESS;
  }
  if (call.status == ERROR_SUCCESS) {
    call.key->SetValue(TextOrEmpty(valueName), type,
                       std::span<const BYTE>(data, data == nullptr ? 0 : dataSize));
  }
  return sim_.tracer.TraceStatus("RegSetValueExW", args, call.status, call.device);
}

LONG SimRegistry::RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                                DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
  const std::string args = sim_.tracer.HandleText("key", key) + ", " + std::to_string(index) +
                           ", " + SizeText(valueName, valueNameChars) + ", " +
                           SizeText(data, dataSize);
  KeyCall call = BeginKeyCall(key, "RegEnumValueW", args);
  if (call.status == ERROR_SUCCESS &&
      (valueName == nullptr || valueNameChars == nullptr || reserved != nullptr ||
       (data != nullptr && dataSize == nullptr))) {
    call.status = ERROR_INVALID_PARAMETER;
  }
  if (call.status == ERROR_SUCCESS && index >= call.key->values().size()) {
    call.status = ERROR_NO_MORE_ITEMS;
  }
  // The name must fit with its terminator; otherwise nothing is delivered.
  const RegValue* value = call.status == ERROR_SUCCESS ? &call.key->values()[index] : nullptr;
  if (value != nullptr && *valueNameChars <= value->name().size()) {
    call.status = ERROR_MORE_DATA;
  }
  if (call.status != ERROR_SUCCESS) {
    return sim_.tracer.TraceStatus("RegEnumValueW", args, call.status, call.device);
  }
  // The name, its length and the type are delivered even when the data does not fit.
  const std::u16string_view name = value->name();
  std::copy(name.begin(), name.end(), valueName);
  valueName[name.size()] = 0;
  *valueNameChars = static_cast<DWORD>(name.size());
  if (type != nullptr) {
    *type = value->type();
  }
  const auto needed = static_cast<DWORD>(value->data().size());
  const bool fits = data == nullptr || *dataSize >= needed;
  std::string outputs = Quoted(name) + ", " + Hex(value->type());
  if (data != nullptr && fits) {
    std::ranges::copy(value->data(), data);
    outputs += ", " + DataText(value->type(), data, needed);
  } else if (dataSize != nullptr) {
    outputs += ", " + std::to_string(needed);
  }
  if (dataSize != nullptr) {
    *dataSize = needed;
  }
  return sim_.tracer.TraceStatus("RegEnumValueW", args, fits ? ERROR_SUCCESS : ERROR_MORE_DATA,
                                 call.device, outputs);
}

LONG SimRegistry::RegDeleteValueW(HKEY key, const WCHAR* valueName) {
  const std::string args = sim_.tracer.HandleText("key", key) + ", " + Quoted(valueName);
  KeyCall call = BeginKeyCall(key, "RegDeleteValueW", args);
  if (call.status == ERROR_SUCCESS && !call.key->DeleteValue(TextOrEmpty(valueName))) {
    call.status = ERROR_FILE_NOT_FOUND;
  }
  return sim_.tracer.TraceStatus("RegDeleteValueW", args, call.status, call.device);
}

LONG SimRegistry::RegDeleteKeyW(HKEY key, const WCHAR* subKey) {
  const std::string args = sim_.tracer.HandleText("key", key) + ", " + Quoted(subKey);
  KeyCall call = BeginKeyCall(key, "RegDeleteKeyW", args);
  if (call.status == ERROR_SUCCESS && subKey == nullptr) {
    call.status = ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<RegKey> target;
  if (call.status == ERROR_SUCCESS) {
    // An empty name deletes the key of the handle itself.
    target = OpenBelow(call.key, RegistryViewPath(key, subKey));
    call.status = target == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }
  // A root cannot go, nor a key that still has subkeys.
  if (call.status == ERROR_SUCCESS && (target->parent() == nullptr || target->SubkeyCount() != 0)) {
    call.status = ERROR_ACCESS_DENIED;
  }
  if (call.status == ERROR_SUCCESS) {
    target->parent()->DeleteSubkeyTree(target->name());
  }
  return sim_.tracer.TraceStatus("RegDeleteKeyW", args, call.status, call.device);
}

}  // namespace winsim
