// TracingWindows: the device installation functions and the COM port database.
#include "platform/tracing_windows.h"

#include <cstring>

#include "platform/trace_text.h"

namespace orv {

namespace {

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

}  // namespace

HDEVINFO TracingWindows::SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator,
                                              HWND parent, DWORD flags) {
  const std::string args = GuidText(classGuid) + ", " + Quoted(enumerator) + ", " + Hex(flags);
  HDEVINFO set = inner_.SetupDiGetClassDevsW(classGuid, enumerator, parent, flags);
  if (set == INVALID_HANDLE_VALUE) {
    Write("SetupDiGetClassDevsW", args, InvalidHandleResult());
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
    MemberFound(set, *device, index, path);
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
    Write("SetupDiOpenDevRegKey", args, InvalidHandleResult(), path);
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
    SetDestroyed(set);
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

}  // namespace orv
