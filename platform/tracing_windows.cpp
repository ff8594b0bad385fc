#include "platform/tracing_windows.h"

#include <cstring>
#include <utility>

#include "platform/trace_text.h"

namespace orv {

namespace {

// The size a caller passed in: null when the buffer or the size is missing.
std::string SizeText(const void* buffer, const DWORD* size) {
  return buffer == nullptr || size == nullptr ? "null" : std::to_string(*size);
}

// The type a write of a device registry property stores.
DWORD PropertyType(DWORD property) {
  switch (property) {
    case 1:  // hardware IDs
    case 2:  // compatible IDs
      return REG_MULTI_SZ;
    case 0:
    case 4:
    case 7:
    case 8:
    case 9:
    case 11:
    case SPDRP_FRIENDLYNAME:
    case SPDRP_LOCATION_INFORMATION:
      return REG_SZ;
    default:
      return REG_BINARY;
  }
}

std::uintptr_t Value(const void* handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

TracingWindows::TracingWindows(WindowsApi& inner, Sink sink, DeviceNamer deviceNamer)
    : inner_(inner), sink_(std::move(sink)), deviceNamer_(std::move(deviceNamer)) {}

void TracingWindows::Write(std::string_view api, std::string_view args, std::string_view result,
                           std::string_view device) {
  sink_(TraceLine(api, args, result, device));
}

std::string TracingWindows::BoolResult(BOOL ok, const std::string& outputs) {
  if (ok == FALSE) {
    return "FALSE (" + Hex(inner_.GetLastError()) + ")";
  }
  return outputs.empty() ? "TRUE" : "TRUE -> " + outputs;
}

std::string TracingWindows::StatusResult(DWORD status, const std::string& outputs) {
  return outputs.empty() ? Hex(status) : Hex(status) + " -> " + outputs;
}

void TracingWindows::Created(const void* handle, const char* kind) {
  handles_[Value(handle)] = Named{nextRank_++, kind};
}

std::string TracingWindows::Handle(const char* kind, const void* handle) const {
  auto found = handles_.find(Value(handle));
  return HandleText(kind, handle, found == handles_.end() ? 0 : found->second.rank);
}

const char* TracingWindows::KindOf(const void* handle, const char* otherwise) const {
  auto found = handles_.find(Value(handle));
  return found == handles_.end() ? otherwise : found->second.kind;
}

std::string TracingWindows::Member(HDEVINFO set, const SP_DEVINFO_DATA* device) const {
  std::string text = Handle("set", set);
  if (device == nullptr) {
    return text + ", null";
  }
  auto found = members_.find({Value(set), device->DevInst});
  return text + "[" + (found == members_.end() ? "?" : std::to_string(found->second.index)) + "]";
}

std::string TracingWindows::DeviceOf(HDEVINFO set, const SP_DEVINFO_DATA* device) const {
  if (device == nullptr) {
    return {};
  }
  auto found = members_.find({Value(set), device->DevInst});
  return found == members_.end() ? std::string() : found->second.device;
}

std::string TracingWindows::DeviceOfKey(HKEY key) const {
  auto found = keyDevices_.find(Value(key));
  return found == keyDevices_.end() ? std::string() : found->second;
}

void TracingWindows::KeyOpened(HKEY parent, HKEY opened, const std::string& device) {
  Created(opened, "key");
  keyDevices_.erase(Value(opened));
  const std::string inherited = device.empty() ? DeviceOfKey(parent) : device;
  if (!inherited.empty()) {
    keyDevices_[Value(opened)] = inherited;
  }
}

// Registry.

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
    keyDevices_.erase(Value(key));
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

// Device installation functions.

HDEVINFO TracingWindows::SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator,
                                              HWND parent, DWORD flags) {
  const std::string args = GuidText(classGuid) + ", " + Quoted(enumerator) + ", " + Hex(flags);
  HDEVINFO set = inner_.SetupDiGetClassDevsW(classGuid, enumerator, parent, flags);
  if (set == INVALID_HANDLE_VALUE) {
    Write("SetupDiGetClassDevsW", args,
          "INVALID_HANDLE_VALUE (" + Hex(inner_.GetLastError()) + ")");
    return set;
  }
  Created(set, "set");
  DWORD count = 0;
  SP_DEVINFO_DATA member{};
  member.cbSize = sizeof member;
  while (inner_.SetupDiEnumDeviceInfo(set, count, &member) != FALSE) {
    ++count;
  }
  Write(
      "SetupDiGetClassDevsW", args,
      Handle("set", set) + " -> " + std::to_string(count) + (count == 1 ? " member" : " members"));
  return set;
}

BOOL TracingWindows::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
  const std::string args = Handle("set", set) + ", " + std::to_string(index);
  const BOOL ok = inner_.SetupDiEnumDeviceInfo(set, index, device);
  std::string path;
  if (ok != FALSE) {
    path = deviceNamer_ ? deviceNamer_(set, device) : std::string();
    members_[{Value(set), device->DevInst}] = SetMember{index, path};
  }
  Write("SetupDiEnumDeviceInfo", args, BoolResult(ok), path);
  return ok;
}

HKEY TracingWindows::SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                          DWORD hwProfile, DWORD keyType, REGSAM sam) {
  const std::string args = Member(set, device) + ", " + Hex(scope) + ", " + Hex(hwProfile) + ", " +
                           Hex(keyType) + ", " + Hex(sam);
  const std::string path = DeviceOf(set, device);
  HKEY key = inner_.SetupDiOpenDevRegKey(set, device, scope, hwProfile, keyType, sam);
  if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) {
    Write("SetupDiOpenDevRegKey", args, "INVALID_HANDLE_VALUE (" + Hex(inner_.GetLastError()) + ")",
          path);
    return key;
  }
  // The hardware key lies in the device's instance, the software key elsewhere.
  KeyOpened(nullptr, key, keyType == DIREG_DEV ? path : std::string());
  Write("SetupDiOpenDevRegKey", args, Handle("key", key), path);
  return key;
}

BOOL TracingWindows::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                       DWORD property, DWORD* type, BYTE* buffer,
                                                       DWORD bufferSize, DWORD* requiredSize) {
  const std::string args = Member(set, device) + ", " + std::to_string(property) + ", " +
                           (buffer == nullptr ? "null" : std::to_string(bufferSize));
  DWORD localType = 0;
  DWORD localSize = 0;
  DWORD* typeOut = type != nullptr ? type : &localType;
  DWORD* sizeOut = requiredSize != nullptr ? requiredSize : &localSize;
  const BOOL ok = inner_.SetupDiGetDeviceRegistryPropertyW(set, device, property, typeOut, buffer,
                                                           bufferSize, sizeOut);
  std::string result;
  if (ok != FALSE) {
    result = BoolResult(ok, Hex(*typeOut) + ", " + DataText(*typeOut, buffer, *sizeOut));
  } else {
    result = BoolResult(ok);
    if (inner_.GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
      result += " -> " + std::to_string(*sizeOut);
    }
  }
  Write("SetupDiGetDeviceRegistryPropertyW", args, result, DeviceOf(set, device));
  return ok;
}

BOOL TracingWindows::SetupDiSetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                       DWORD property, const BYTE* buffer,
                                                       DWORD bufferSize) {
  const std::string args = Member(set, device) + ", " + std::to_string(property) + ", " +
                           DataText(PropertyType(property), buffer, bufferSize);
  const BOOL ok =
      inner_.SetupDiSetDeviceRegistryPropertyW(set, device, property, buffer, bufferSize);
  Write("SetupDiSetDeviceRegistryPropertyW", args, BoolResult(ok), DeviceOf(set, device));
  return ok;
}

BOOL TracingWindows::SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                   const SP_CLASSINSTALL_HEADER* params,
                                                   DWORD paramsSize) {
  std::string args = Member(set, device) + ", ";
  if (params == nullptr) {
    args += "null";
  } else {
    args += Hex(params->InstallFunction);
    SP_PROPCHANGE_PARAMS change{};
    if (params->InstallFunction == DIF_PROPERTYCHANGE && paramsSize == sizeof change) {
      std::memcpy(&change, params, sizeof change);
      args +=
          ", " + Hex(change.StateChange) + ", " + Hex(change.Scope) + ", " + Hex(change.HwProfile);
    }
  }
  args += ", " + std::to_string(paramsSize);
  const BOOL ok = inner_.SetupDiSetClassInstallParamsW(set, device, params, paramsSize);
  Write("SetupDiSetClassInstallParamsW", args, BoolResult(ok), DeviceOf(set, device));
  return ok;
}

BOOL TracingWindows::SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set,
                                               SP_DEVINFO_DATA* device) {
  const std::string args = Hex(function) + ", " + Member(set, device);
  const BOOL ok = inner_.SetupDiCallClassInstaller(function, set, device);
  Write("SetupDiCallClassInstaller", args, BoolResult(ok), DeviceOf(set, device));
  return ok;
}

BOOL TracingWindows::SetupDiRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device) {
  const std::string args = Member(set, device);
  const BOOL ok = inner_.SetupDiRemoveDevice(set, device);
  Write("SetupDiRemoveDevice", args, BoolResult(ok), DeviceOf(set, device));
  return ok;
}

BOOL TracingWindows::SetupDiDeleteDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                            DWORD hwProfile, DWORD keyType) {
  const std::string args =
      Member(set, device) + ", " + Hex(scope) + ", " + Hex(hwProfile) + ", " + Hex(keyType);
  const BOOL ok = inner_.SetupDiDeleteDevRegKey(set, device, scope, hwProfile, keyType);
  Write("SetupDiDeleteDevRegKey", args, BoolResult(ok), DeviceOf(set, device));
  return ok;
}

BOOL TracingWindows::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  const std::string args = Handle("set", set);
  const BOOL ok = inner_.SetupDiDestroyDeviceInfoList(set);
  if (ok != FALSE) {
    std::erase_if(members_, [&](const auto& entry) { return entry.first.first == Value(set); });
  }
  Write("SetupDiDestroyDeviceInfoList", args, BoolResult(ok));
  return ok;
}

// COM port database.

LONG TracingWindows::ComDBOpen(HCOMDB* database) {
  const LONG status = inner_.ComDBOpen(database);
  std::string outputs;
  if (status == ERROR_SUCCESS) {
    Created(*database, "comdb");
    outputs = Handle("comdb", *database);
  }
  Write("ComDBOpen", {}, StatusResult(static_cast<DWORD>(status), outputs));
  return status;
}

LONG TracingWindows::ComDBReleasePort(HCOMDB database, DWORD comNumber) {
  const std::string args = Handle("comdb", database) + ", " + std::to_string(comNumber);
  const LONG status = inner_.ComDBReleasePort(database, comNumber);
  Write("ComDBReleasePort", args, StatusResult(static_cast<DWORD>(status)));
  return status;
}

LONG TracingWindows::ComDBClose(HCOMDB database) {
  const std::string args = Handle("comdb", database);
  const LONG status = inner_.ComDBClose(database);
  Write("ComDBClose", args, StatusResult(static_cast<DWORD>(status)));
  return status;
}

// Version and system information.

BOOL TracingWindows::GetVersionExW(OSVERSIONINFOEXW* info) {
  const std::string args = info == nullptr ? "null" : std::to_string(info->dwOSVersionInfoSize);
  const BOOL ok = inner_.GetVersionExW(info);
  std::string outputs;
  if (ok != FALSE) {
    outputs = std::to_string(info->dwMajorVersion) + "." + std::to_string(info->dwMinorVersion);
    if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXW)) {
      outputs += ", " + Hex(info->wProductType);
    }
  }
  Write("GetVersionExW", args, BoolResult(ok, outputs));
  return ok;
}

BOOL TracingWindows::GetNativeSystemInfo(SYSTEM_INFO* info) {
  const BOOL ok = inner_.GetNativeSystemInfo(info);
  Write("GetNativeSystemInfo", info == nullptr ? "null" : "",
        BoolResult(ok, ok != FALSE ? std::to_string(info->wProcessorArchitecture) : ""));
  return ok;
}

void TracingWindows::GetSystemInfo(SYSTEM_INFO* info) {
  inner_.GetSystemInfo(info);
  if (info == nullptr) {
    Write("GetSystemInfo", "null", "void");
  } else {
    Write("GetSystemInfo", {}, "void -> " + std::to_string(info->wProcessorArchitecture));
  }
}

BOOL TracingWindows::IsWow64Process(HANDLE process, BOOL* wow64) {
  const std::string args =
      process == kCurrentProcess ? "GetCurrentProcess()" : Handle("process", process);
  const BOOL ok = inner_.IsWow64Process(process, wow64);
  Write("IsWow64Process", args,
        BoolResult(ok, ok != FALSE ? (*wow64 != FALSE ? "TRUE" : "FALSE") : ""));
  return ok;
}

// Files.

namespace {

// The result of a call that returns a length: "0 (error)" on failure, "n -> too small" when
// the buffer was too small (n is then the size needed), else "n -> text".
template <typename Count>
std::string LengthResult(Count length, Count capacity, const WCHAR* buffer, DWORD lastError) {
  if (length == 0) {
    return "0 (" + Hex(lastError) + ")";
  }
  if (length >= capacity) {
    return std::to_string(length) + " -> too small";
  }
  return std::to_string(length) + " -> " + Quoted(buffer);
}

}  // namespace

DWORD TracingWindows::GetFullPathNameW(const WCHAR* fileName, DWORD bufferChars, WCHAR* buffer,
                                       WCHAR** filePart) {
  const std::string args = Quoted(fileName) + ", " + std::to_string(bufferChars);
  const DWORD length = inner_.GetFullPathNameW(fileName, bufferChars, buffer, filePart);
  Write("GetFullPathNameW", args,
        LengthResult(length, bufferChars, buffer, length == 0 ? inner_.GetLastError() : 0));
  return length;
}

HANDLE TracingWindows::FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) {
  const std::string args = Quoted(pattern);
  HANDLE search = inner_.FindFirstFileW(pattern, findData);
  if (search == INVALID_HANDLE_VALUE) {
    Write("FindFirstFileW", args, "INVALID_HANDLE_VALUE (" + Hex(inner_.GetLastError()) + ")");
    return search;
  }
  Created(search, "find");
  Write("FindFirstFileW", args, Handle("find", search) + " -> " + Quoted(findData->cFileName));
  return search;
}

BOOL TracingWindows::FindNextFileW(HANDLE search, WIN32_FIND_DATAW* findData) {
  const std::string args = Handle("find", search);
  const BOOL ok = inner_.FindNextFileW(search, findData);
  Write("FindNextFileW", args, BoolResult(ok, ok != FALSE ? Quoted(findData->cFileName) : ""));
  return ok;
}

BOOL TracingWindows::FindClose(HANDLE search) {
  const std::string args = Handle("find", search);
  const BOOL ok = inner_.FindClose(search);
  Write("FindClose", args, BoolResult(ok));
  return ok;
}

UINT TracingWindows::GetWindowsDirectoryW(WCHAR* buffer, UINT bufferChars) {
  const UINT length = inner_.GetWindowsDirectoryW(buffer, bufferChars);
  Write("GetWindowsDirectoryW", std::to_string(bufferChars),
        LengthResult(length, bufferChars, buffer, length == 0 ? inner_.GetLastError() : 0));
  return length;
}

UINT TracingWindows::GetSystemDirectoryW(WCHAR* buffer, UINT bufferChars) {
  const UINT length = inner_.GetSystemDirectoryW(buffer, bufferChars);
  Write("GetSystemDirectoryW", std::to_string(bufferChars),
        LengthResult(length, bufferChars, buffer, length == 0 ? inner_.GetLastError() : 0));
  return length;
}

HANDLE TracingWindows::CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode,
                                   const void* security, DWORD disposition, DWORD flags,
                                   HANDLE templateFile) {
  const std::string args = Quoted(fileName) + ", " + Hex(access) + ", " + Hex(shareMode) + ", " +
                           std::to_string(disposition) + ", " + Hex(flags);
  HANDLE file =
      inner_.CreateFileW(fileName, access, shareMode, security, disposition, flags, templateFile);
  if (file == INVALID_HANDLE_VALUE) {
    Write("CreateFileW", args, "INVALID_HANDLE_VALUE (" + Hex(inner_.GetLastError()) + ")");
    return file;
  }
  Created(file, "file");
  Write("CreateFileW", args, Handle("file", file));
  return file;
}

BOOL TracingWindows::ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                              void* overlapped) {
  const std::string args = Handle("file", file) + ", " + std::to_string(bytesToRead);
  const BOOL ok = inner_.ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
  Write("ReadFile", args,
        BoolResult(ok, ok != FALSE && bytesRead != nullptr ? std::to_string(*bytesRead) : ""));
  return ok;
}

BOOL TracingWindows::CloseHandle(HANDLE handle) {
  const std::string args = Handle(KindOf(handle, "handle"), handle);
  const BOOL ok = inner_.CloseHandle(handle);
  Write("CloseHandle", args, BoolResult(ok));
  return ok;
}

// Driver-package interface.

DWORD TracingWindows::DriverPackageInstallW(const WCHAR* infPath, DWORD flags,
                                            const INSTALLERINFO_W* installer, BOOL* needReboot) {
  const std::string args = Quoted(infPath) + ", " + Hex(flags);
  const DWORD status = inner_.DriverPackageInstallW(infPath, flags, installer, needReboot);
  Write("DriverPackageInstallW", args, StatusResult(status));
  return status;
}

DWORD TracingWindows::DriverPackageUninstallW(const WCHAR* infPath, DWORD flags,
                                              const INSTALLERINFO_W* installer, BOOL* needReboot) {
  const std::string args = Quoted(infPath) + ", " + Hex(flags);
  const DWORD status = inner_.DriverPackageUninstallW(infPath, flags, installer, needReboot);
  Write("DriverPackageUninstallW", args, StatusResult(status));
  return status;
}

DWORD TracingWindows::DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                                            DWORD* storePathChars) {
  const std::string args = Quoted(infPath) + ", " +
                           (storePathChars == nullptr ? "null" : std::to_string(*storePathChars));
  const DWORD status = inner_.DriverPackageGetPathW(infPath, storePath, storePathChars);
  std::string outputs;
  if (status == ERROR_SUCCESS) {
    outputs = Quoted(storePath) + ", " + std::to_string(*storePathChars);
  } else if (status == ERROR_INSUFFICIENT_BUFFER && storePathChars != nullptr) {
    outputs = std::to_string(*storePathChars);
  }
  Write("DriverPackageGetPathW", args, StatusResult(status, outputs));
  return status;
}

// Processes.

DWORD TracingWindows::GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) {
  const std::string args = Quoted(name) + ", " + std::to_string(bufferChars);
  const DWORD length = inner_.GetEnvironmentVariableW(name, buffer, bufferChars);
  const DWORD error = length == 0 ? inner_.GetLastError() : 0;
  // An empty value gives 0 with no error.
  Write("GetEnvironmentVariableW", args,
        length == 0 && error == ERROR_SUCCESS && bufferChars != 0
            ? std::string("0 -> \"\"")
            : LengthResult(length, bufferChars, buffer, error));
  return length;
}

BOOL TracingWindows::CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine,
                                    PROCESS_INFORMATION* info) {
  const std::string args = Quoted(applicationName) + ", " + Quoted(commandLine);
  const BOOL ok = inner_.CreateProcessW(applicationName, commandLine, info);
  std::string outputs;
  if (ok != FALSE) {
    Created(info->hProcess, "process");
    Created(info->hThread, "thread");
    outputs = Handle("process", info->hProcess) + ", " + Handle("thread", info->hThread);
  }
  Write("CreateProcessW", args, BoolResult(ok, outputs));
  return ok;
}

DWORD TracingWindows::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const std::string args = Handle(KindOf(handle, "process"), handle) + ", " + Hex(milliseconds);
  const DWORD result = inner_.WaitForSingleObject(handle, milliseconds);
  Write("WaitForSingleObject", args,
        result == WAIT_OBJECT_0 ? std::string("WAIT_OBJECT_0")
        : result == WAIT_FAILED ? "WAIT_FAILED (" + Hex(inner_.GetLastError()) + ")"
                                : Hex(result));
  return result;
}

BOOL TracingWindows::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  const std::string args = Handle("process", process);
  const BOOL ok = inner_.GetExitCodeProcess(process, exitCode);
  Write("GetExitCodeProcess", args, BoolResult(ok, ok != FALSE ? Hex(*exitCode) : ""));
  return ok;
}

DWORD TracingWindows::GetLastError() {
  return inner_.GetLastError();
}

// C runtime.

void TracingWindows::CrtWriteStdout(const WCHAR* text) {
  inner_.CrtWriteStdout(text);
  Write("CrtWriteStdout", Quoted(text), "void");
}

void* TracingWindows::CrtOpenAppend(const WCHAR* path) {
  void* file = inner_.CrtOpenAppend(path);
  if (file != nullptr) {
    Created(file, "crt");
  }
  Write("CrtOpenAppend", Quoted(path), Handle("crt", file));
  return file;
}

int TracingWindows::CrtWriteText(void* file, const WCHAR* text) {
  const std::string args = Handle("crt", file) + ", " + Quoted(text);
  const int written = inner_.CrtWriteText(file, text);
  Write("CrtWriteText", args, std::to_string(written));
  return written;
}

int TracingWindows::CrtClose(void* file) {
  const std::string args = Handle("crt", file);
  const int result = inner_.CrtClose(file);
  Write("CrtClose", args, std::to_string(result));
  return result;
}

}  // namespace orv
