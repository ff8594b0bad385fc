// The device-set calls every port device operation makes, each with its fixed arguments.
#pragma once

#include <cstddef>

#include "platform/windows_api.h"

namespace orv {

// Sizes of the fixed buffers the device operations read into.
inline constexpr DWORD kPortNameBytes = 512;
inline constexpr DWORD kPortNameChars = kPortNameBytes / sizeof(WCHAR);

// The port number in `text` from character `index` on, by the decimal conversion; the characters
// before `index` are not compared. The text is bounded by its buffer of `capacity` units, so a
// text that fills the buffer without a terminator ends there; a text of `index` characters or
// fewer reads as 0.
int NumberFromIndex(const WCHAR* text, std::size_t capacity, std::size_t index);

// SetupDiGetClassDevsW(no class, text, no window, flags).
HDEVINFO BuildDeviceSet(WindowsApi& api, const WCHAR* enumeratorOrId, DWORD flags);

// SetupDiEnumDeviceInfo for `index`, with the element's size field set first.
bool EnumerateDevice(WindowsApi& api, HDEVINFO set, DWORD index, SP_DEVINFO_DATA& device);

// SetupDiOpenDevRegKey(global, profile 0, DIREG_DEV, all access): the hardware key, or
// INVALID_HANDLE_VALUE.
HKEY OpenDeviceKey(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device);
bool DeviceKeyOpened(HKEY key);

// Opens the device key and closes it again at once; tells whether it opened.
bool ProbeDeviceKey(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device);

// Reads PortName into the zeroed buffer of kPortNameChars units with a byte size of 512.
bool ReadPortName(WindowsApi& api, HKEY key, WCHAR (&portName)[kPortNameChars]);

// Writes PortName as REG_SZ with (length + 1) * 2 bytes.
void WritePortName(WindowsApi& api, HKEY key, const WCHAR* portName);

// Opens the device key, reads PortName (as ReadPortName) and closes the key again. False when
// the key does not open or the value cannot be read.
bool ReadDevicePortName(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device,
                        WCHAR (&portName)[kPortNameChars]);

// Reads SPDRP_LOCATION_INFORMATION into the buffer, zeroed first, with the given byte size.
bool ReadLocation(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device, WCHAR* buffer,
                  DWORD bufferBytes);

// Writes SPDRP_FRIENDLYNAME with (length + 1) * 2 bytes.
void WriteFriendlyName(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device,
                       const WCHAR* friendlyName);

// Property-change restart: SetupDiSetClassInstallParamsW, then SetupDiCallClassInstaller, the
// second call made whatever the first returned. True when both succeeded.
bool RestartDevice(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device);

// SetupDiRemoveDevice, then SetupDiDeleteDevRegKey(global, all profiles, DIREG_BOTH).
void DeleteDevice(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device);

// ComDBOpen, ComDBReleasePort, ComDBClose; no result is examined.
void ReleaseComNumber(WindowsApi& api, DWORD comNumber);

}  // namespace orv
