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

SimRegistry::KeyCall SimRegistry::BeginKeyCall(HKEY handle, Call& call) {
  KeyCall keyCall;
  keyCall.key = KeyOf(handle);
  if (keyCall.key == nullptr) {
    keyCall.status = ERROR_INVALID_HANDLE;
    return keyCall;
  }
  call.instance = DeviceInstanceOf(sim_.machine.registry(), *keyCall.key, &call.device);
  keyCall.status = sim_.faults.For(call).value_or(ERROR_SUCCESS);
  if (keyCall.status == ERROR_SUCCESS && keyCall.key->deleted()) {
    keyCall.status = ERROR_KEY_DELETED;
  }
  return keyCall;
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
  Call call{"RegOpenKeyExW",
            {sim_.tracer.HandleArg("key", key), TextArg(subKey), HexArg(options), HexArg(sam)}};
  KeyCall keyCall = BeginKeyCall(key, call);
  if (keyCall.status == ERROR_SUCCESS && result == nullptr) {
    keyCall.status = ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<RegKey> opened;
  if (keyCall.status == ERROR_SUCCESS) {
    opened = OpenBelow(keyCall.key, RegistryViewPath(key, TextOrEmpty(subKey)));
    keyCall.status = opened == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }
  if (keyCall.status != ERROR_SUCCESS) {
    if (result != nullptr) {
      *result = nullptr;
    }
    return sim_.tracer.EndStatus(call, keyCall.status);
  }
  *result = NewKeyHandle(std::move(opened));
  return sim_.tracer.EndStatus(call, ERROR_SUCCESS, sim_.tracer.HandleText("key", *result));
}

LONG SimRegistry::RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, DWORD options,
                                  REGSAM sam, HKEY* result, DWORD* disposition) {
  Call call{"RegCreateKeyExW",
            {sim_.tracer.HandleArg("key", key), TextArg(subKey), HexArg(options), HexArg(sam)}};
  KeyCall keyCall = BeginKeyCall(key, call);
  if (keyCall.status == ERROR_SUCCESS &&
      (subKey == nullptr || reserved != 0 || result == nullptr)) {
    keyCall.status = ERROR_INVALID_PARAMETER;
  }
  if (keyCall.status != ERROR_SUCCESS) {
    if (result != nullptr) {
      *result = nullptr;
    }
    return sim_.tracer.EndStatus(call, keyCall.status);
  }
  std::shared_ptr<RegKey> created = keyCall.key;
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
  return sim_.tracer.EndStatus(
      call, ERROR_SUCCESS,
      sim_.tracer.HandleText("key", *result) + (isNew ? ", created" : ", opened"));
}

LONG SimRegistry::RegCloseKey(HKEY key) {
  Call call{"RegCloseKey", {sim_.tracer.HandleArg("key", key)}};
  const bool open = keys_.count(reinterpret_cast<std::uintptr_t>(key)) != 0;
  DWORD status = open || key == HKEY_LOCAL_MACHINE ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  if (open) {
    // The device is named in the trace; an image's SimulateFailure does not fail a close.
    DeviceInstanceOf(sim_.machine.registry(), *KeyOf(key), &call.device);
  }
  if (status == ERROR_SUCCESS) {
    status = sim_.faults.For(call).value_or(ERROR_SUCCESS);
  }
  if (status == ERROR_SUCCESS && open) {
    keys_.erase(reinterpret_cast<std::uintptr_t>(key));
  }
  return sim_.tracer.EndStatus(call, status);
}

LONG SimRegistry::RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                   BYTE* data, DWORD* dataSize) {
  Call call{
      "RegQueryValueExW",
      {sim_.tracer.HandleArg("key", key), TextArg(valueName), ShownArg(SizeText(data, dataSize))}};
  KeyCall keyCall = BeginKeyCall(key, call);
  if (keyCall.status == ERROR_SUCCESS &&
      (reserved != nullptr || (data != nullptr && dataSize == nullptr))) {
    keyCall.status = ERROR_INVALID_PARAMETER;
  }
  const RegValue* value = nullptr;
  if (keyCall.status == ERROR_SUCCESS) {
    value = keyCall.key->FindValue(TextOrEmpty(valueName));
    keyCall.status = value == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }
  if (keyCall.status != ERROR_SUCCESS) {
    return sim_.tracer.EndStatus(call, keyCall.status);
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
  return sim_.tracer.EndStatus(call, fits ? ERROR_SUCCESS : ERROR_MORE_DATA, outputs);
}

LONG SimRegistry::RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD dataSize) {
  Call call{"RegSetValueExW",
            {sim_.tracer.HandleArg("key", key), TextArg(valueName), HexArg(reserved), HexArg(type),
             ShownArg(DataText(type, data, dataSize))}};
  KeyCall keyCall = BeginKeyCall(key, call);
  if (keyCall.status == ERROR_SUCCESS && reserved != 0) {
    keyCall.status = ERROR_INVALID_PARAMETER;
  }
  if (keyCall.status == ERROR_SUCCESS && data == nullptr && dataSize != 0) {
    keyCall.status = ERROR_NOACCESS;
  }
  if (keyCall.status == ERROR_SUCCESS) {
    keyCall.key->SetValue(TextOrEmpty(valueName), type,
                          std::span<const BYTE>(data, data == nullptr ? 0 : dataSize));
  }
  return sim_.tracer.EndStatus(call, keyCall.status);
}

LONG SimRegistry::RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                                DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
  Call call{"RegEnumValueW",
            {sim_.tracer.HandleArg("key", key), DecimalArg(index),
             ShownArg(SizeText(valueName, valueNameChars)), ShownArg(SizeText(data, dataSize))}};
  KeyCall keyCall = BeginKeyCall(key, call);
  if (keyCall.status == ERROR_SUCCESS &&
      (valueName == nullptr || valueNameChars == nullptr || reserved != nullptr ||
       (data != nullptr && dataSize == nullptr))) {
    keyCall.status = ERROR_INVALID_PARAMETER;
  }
  if (keyCall.status == ERROR_SUCCESS && index >= keyCall.key->values().size()) {
    keyCall.status = ERROR_NO_MORE_ITEMS;
  }
  // The name must fit with its terminator; otherwise nothing is delivered.
  const RegValue* value = keyCall.status == ERROR_SUCCESS ? &keyCall.key->values()[index] : nullptr;
  if (value != nullptr && *valueNameChars <= value->name().size()) {
    keyCall.status = ERROR_MORE_DATA;
  }
  if (keyCall.status != ERROR_SUCCESS) {
    return sim_.tracer.EndStatus(call, keyCall.status);
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
  return sim_.tracer.EndStatus(call, fits ? ERROR_SUCCESS : ERROR_MORE_DATA, outputs);
}

LONG SimRegistry::RegDeleteValueW(HKEY key, const WCHAR* valueName) {
  Call call{"RegDeleteValueW", {sim_.tracer.HandleArg("key", key), TextArg(valueName)}};
  KeyCall keyCall = BeginKeyCall(key, call);
  if (keyCall.status == ERROR_SUCCESS && !keyCall.key->DeleteValue(TextOrEmpty(valueName))) {
    keyCall.status = ERROR_FILE_NOT_FOUND;
  }
  return sim_.tracer.EndStatus(call, keyCall.status);
}

LONG SimRegistry::RegDeleteKeyW(HKEY key, const WCHAR* subKey) {
  Call call{"RegDeleteKeyW", {sim_.tracer.HandleArg("key", key), TextArg(subKey)}};
  KeyCall keyCall = BeginKeyCall(key, call);
  if (keyCall.status == ERROR_SUCCESS && subKey == nullptr) {
    keyCall.status = ERROR_INVALID_PARAMETER;
  }
  std::shared_ptr<RegKey> target;
  if (keyCall.status == ERROR_SUCCESS) {
    // An empty name deletes the key of the handle itself.
    target = OpenBelow(keyCall.key, RegistryViewPath(key, subKey));
    keyCall.status = target == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
  }
  // A root cannot go, nor a key that still has subkeys.
  if (keyCall.status == ERROR_SUCCESS &&
      (target->parent() == nullptr || target->SubkeyCount() != 0)) {
    keyCall.status = ERROR_ACCESS_DENIED;
  }
  if (keyCall.status == ERROR_SUCCESS) {
    target->parent()->DeleteSubkeyTree(target->name());
  }
  return sim_.tracer.EndStatus(call, keyCall.status);
}

}  // namespace winsim
