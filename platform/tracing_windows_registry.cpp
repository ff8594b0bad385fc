// TracingWindows: the registry calls.
#include "platform/tracing_windows.h"

#include "platform/trace_text.h"

namespace orv {

namespace {

// The size a caller passed in: null when the buffer or the size is missing.
std::string SizeText(const void* buffer, const DWORD* size) {
  return buffer == nullptr || size == nullptr ? "null" : std::to_string(*size);
}

}  // namespace

LONG TracingWindows::RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam,
                                   HKEY* result) {
  const std::string args =
      Handle("key", key) + ", " + Quoted(subKey) + ", " + Hex(options) + ", " + Hex(sam);
  const std::string device = DeviceOfKey(key);
  const LONG status = inner_.RegOpenKeyExW(key, subKey, options, sam, result);
  std::string outputs;
  if (status == ERROR_SUCCESS) {
    KeyOpened(key, *result, {});
    outputs = Handle("key", *result);
  }
  Write("RegOpenKeyExW", args, StatusResult(static_cast<DWORD>(status), outputs), device);
  return status;
}

LONG TracingWindows::RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass,
                                     DWORD options, REGSAM sam, const void* security, HKEY* result,
                                     DWORD* disposition) {
  const std::string args =
      Handle("key", key) + ", " + Quoted(subKey) + ", " + Hex(options) + ", " + Hex(sam);
  const std::string device = DeviceOfKey(key);
  DWORD created = 0;
  const LONG status =
      inner_.RegCreateKeyExW(key, subKey, reserved, keyClass, options, sam, security, result,
                             disposition != nullptr ? disposition : &created);
  std::string outputs;
  if (status == ERROR_SUCCESS) {
    KeyOpened(key, *result, {});
    const DWORD how = disposition != nullptr ? *disposition : created;
    outputs = Handle("key", *result) + (how == REG_CREATED_NEW_KEY ? ", created" : ", opened");
  }
  Write("RegCreateKeyExW", args, StatusResult(static_cast<DWORD>(status), outputs), device);
  return status;
}

LONG TracingWindows::RegCloseKey(HKEY key) {
  const std::string args = Handle("key", key);
  const std::string device = DeviceOfKey(key);
  const LONG status = inner_.RegCloseKey(key);
  if (status == ERROR_SUCCESS) {
    KeyClosed(key);
  }
  Write("RegCloseKey", args, StatusResult(static_cast<DWORD>(status)), device);
  return status;
}

LONG TracingWindows::RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved,
                                      DWORD* type, BYTE* data, DWORD* dataSize) {
  const std::string args =
      Handle("key", key) + ", " + Quoted(valueName) + ", " + SizeText(data, dataSize);
  // The type and the size are shown even when the caller does not ask for them.
  DWORD localType = 0;
  DWORD localSize = 0;
  DWORD* sizeOut = data == nullptr && dataSize == nullptr ? &localSize : dataSize;
  const LONG status = inner_.RegQueryValueExW(key, valueName, reserved,
                                              type != nullptr ? type : &localType, data, sizeOut);
  std::string outputs;
  if ((status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && sizeOut != nullptr) {
    const DWORD shownType = type != nullptr ? *type : localType;
    outputs = Hex(shownType) + ", " +
              (data != nullptr && status == ERROR_SUCCESS ? DataText(shownType, data, *sizeOut)
                                                          : std::to_string(*sizeOut));
  }
  Write("RegQueryValueExW", args, StatusResult(static_cast<DWORD>(status), outputs),
        DeviceOfKey(key));
  return status;
}

LONG TracingWindows::RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                                    const BYTE* data, DWORD dataSize) {
  const std::string args = Handle("key", key) + ", " + Quoted(valueName) + ", " + Hex(reserved) +
                           ", " + Hex(type) + ", " + DataText(type, data, dataSize);
  const LONG status = inner_.RegSetValueExW(key, valueName, reserved, type, data, dataSize);
  Write("RegSetValueExW", args, StatusResult(static_cast<DWORD>(status)), DeviceOfKey(key));
  return status;
}

LONG TracingWindows::RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                                   DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
  const std::string args = Handle("key", key) + ", " + std::to_string(index) + ", " +
                           SizeText(valueName, valueNameChars) + ", " + SizeText(data, dataSize);
  const DWORD nameCapacity = valueNameChars != nullptr ? *valueNameChars : 0;
  DWORD localType = 0;
  const LONG status = inner_.RegEnumValueW(key, index, valueName, valueNameChars, reserved,
                                           type != nullptr ? type : &localType, data, dataSize);
  // The name is delivered when it fits, even if the data does not.
  const bool named =
      status == ERROR_SUCCESS || (status == ERROR_MORE_DATA && valueName != nullptr &&
                                  valueNameChars != nullptr && *valueNameChars < nameCapacity);
  std::string outputs;
  if (named) {
    const DWORD shownType = type != nullptr ? *type : localType;
    outputs = Quoted(std::u16string_view(valueName, *valueNameChars)) + ", " + Hex(shownType);
    if (data != nullptr && status == ERROR_SUCCESS) {
      outputs += ", " + DataText(shownType, data, *dataSize);
    } else if (dataSize != nullptr) {
      outputs += ", " + std::to_string(*dataSize);
    }
  }
  Write("RegEnumValueW", args, StatusResult(static_cast<DWORD>(status), outputs), DeviceOfKey(key));
  return status;
}

LONG TracingWindows::RegDeleteValueW(HKEY key, const WCHAR* valueName) {
  const std::string args = Handle("key", key) + ", " + Quoted(valueName);
  const LONG status = inner_.RegDeleteValueW(key, valueName);
  Write("RegDeleteValueW", args, StatusResult(static_cast<DWORD>(status)), DeviceOfKey(key));
  return status;
}

LONG TracingWindows::RegDeleteKeyW(HKEY key, const WCHAR* subKey) {
  const std::string args = Handle("key", key) + ", " + Quoted(subKey);
  const LONG status = inner_.RegDeleteKeyW(key, subKey);
  Write("RegDeleteKeyW", args, StatusResult(static_cast<DWORD>(status)), DeviceOfKey(key));
  return status;
}

}  // namespace orv
