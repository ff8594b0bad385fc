#include "platform/device_calls.h"

#include <cstring>

#include "platform/guards.h"
#include "platform/text.h"

namespace orv {

int NumberFromIndex(const WCHAR* text, std::size_t capacity, std::size_t index) {
  const std::size_t length = TextLength(text, capacity);
  return length > index ? TextToInt(text + index, length - index) : 0;
}

HDEVINFO BuildDeviceSet(WindowsApi& api, const WCHAR* enumeratorOrId, DWORD flags) {
  return api.SetupDiGetClassDevsW(nullptr, enumeratorOrId, nullptr, flags);
}

bool EnumerateDevice(WindowsApi& api, HDEVINFO set, DWORD index, SP_DEVINFO_DATA& device) {
  std::memset(&device, 0, sizeof device);
  // The record's own size: 32 bytes in a 64-bit process, 28 in a 32-bit one.
  device.cbSize = sizeof(SP_DEVINFO_DATA);
  return api.SetupDiEnumDeviceInfo(set, index, &device) != FALSE;
}

HKEY OpenDeviceKey(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
  return api.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
}

bool DeviceKeyOpened(HKEY key) {
  return key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE) && key != nullptr;
}

bool ProbeDeviceKey(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
  HKEY key = OpenDeviceKey(api, set, device);
  if (!DeviceKeyOpened(key)) {
    return false;
  }
  api.RegCloseKey(key);
  return true;
}

bool ReadPortName(WindowsApi& api, HKEY key, WCHAR (&portName)[kPortNameChars]) {
  std::memset(portName, 0, sizeof portName);
  DWORD size = kPortNameBytes;
  return api.RegQueryValueExW(key, u"PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(portName),
                              &size) == ERROR_SUCCESS;
}

void WritePortName(WindowsApi& api, HKEY key, const WCHAR* portName) {
  api.RegSetValueExW(key, u"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName),
                     static_cast<DWORD>((TextLength(portName) + 1) * sizeof(WCHAR)));
}

bool ReadDevicePortName(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device,
                        WCHAR (&portName)[kPortNameChars]) {
  KeyGuard key(api, OpenDeviceKey(api, set, device));
  return key.valid() && ReadPortName(api, key.get(), portName);
}

bool ReadLocation(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device, WCHAR* buffer,
                  DWORD bufferBytes) {
  std::memset(buffer, 0, bufferBytes);
  return api.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_LOCATION_INFORMATION, nullptr,
                                               reinterpret_cast<BYTE*>(buffer), bufferBytes,
                                               nullptr) != FALSE;
}

void WriteFriendlyName(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device,
                       const WCHAR* friendlyName) {
  api.SetupDiSetDeviceRegistryPropertyW(
      set, &device, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(friendlyName),
      static_cast<DWORD>((TextLength(friendlyName) + 1) * sizeof(WCHAR)));
}

bool RestartDevice(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_PROPCHANGE;
  params.Scope = DICS_FLAG_GLOBAL;
  params.HwProfile = 0;
  BOOL paramsSet =
      api.SetupDiSetClassInstallParamsW(set, &device, &params.ClassInstallHeader, sizeof params);
  BOOL called = api.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device);
  return paramsSet != FALSE && called != FALSE;
}

void DeleteDevice(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device) {
  api.SetupDiRemoveDevice(set, &device);
  api.SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, ALL_HARDWARE_PROFILES, DIREG_BOTH);
}

void ReleaseComNumber(WindowsApi& api, DWORD comNumber) {
  ComDbGuard database(api);
  api.ComDBOpen(database.put());
  api.ComDBReleasePort(database.get(), comNumber);
}

}  // namespace orv
