#include "devices/port_rename.h"

#include <cstddef>

#include "platform/device_calls.h"
#include "platform/guards.h"
#include "platform/text.h"

namespace orv {

namespace {

constexpr std::size_t kPortNameTextChars = 256;  // the names a rename writes

}  // namespace

void RenamePort(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device, const WCHAR* kind,
                int number, const WCHAR* namePrefix) {
  WCHAR portName[kPortNameTextChars] = {};
  FormatText(portName, kPortNameTextChars, u"%s%d", {kind, number});
  KeyGuard key(api, OpenDeviceKey(api, set, device));
  if (key.valid()) {
    WritePortName(api, key.get(), portName);
    key.Close();
  }
  WCHAR friendlyName[kPortNameTextChars] = {};
  FormatText(friendlyName, kPortNameTextChars, u"%s (%s%d)", {namePrefix, kind, number});
  if (ProbeDeviceKey(api, set, device)) {
    WriteFriendlyName(api, set, device, friendlyName);
  }
  RestartDevice(api, set, device);
}

}  // namespace orv
