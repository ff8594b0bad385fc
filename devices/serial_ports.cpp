#include "devices/serial_ports.h"

#include <algorithm>
#include <cstdint>

#include "devices/device_walk.h"
#include "devices/port_rename.h"
#include "platform/device_calls.h"
#include "platform/guards.h"
#include "platform/text.h"

namespace orv {

namespace {

constexpr std::size_t kPortNumberIndex = 3;  // after "COM"
constexpr std::size_t kLocationChars = 256;  // 512 bytes
constexpr int kTableEntries = 256;

// Releases the COM number of every serial port of the card, present or not, and, when
// `deleteDevices` is set, deletes every port, also one whose number could not be read.
LONG ReleaseSerialPorts(WindowsApi& api, const WCHAR* hardwareId, bool deleteDevices) {
  DevInfoGuard set(api, BuildDeviceSet(api, hardwareId, DIGCF_ALLCLASSES));
  ForEachDevice(api, set.get(), [&](SP_DEVINFO_DATA& device, DWORD) {
    WCHAR portName[kPortNameChars];
    if (ReadDevicePortName(api, set.get(), device, portName)) {
      // COM7 gives 7; a name without a number gives 0, which is passed on as it is.
      const int number = NumberFromIndex(portName, kPortNameChars, kPortNumberIndex);
      ReleaseComNumber(api, static_cast<DWORD>(number));
    }
    if (deleteDevices) {
      DeleteDevice(api, set.get(), device);
    }
    return true;
  });
  return 0;
}

// A port's location: whether it could be read, and the port's number on its card.
struct PortLocation {
  bool read;
  int number;
};

PortLocation ReadPortLocation(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA& device,
                              std::size_t prefixLength) {
  WCHAR location[kLocationChars];
  if (!ReadLocation(api, set, device, location, sizeof location)) {
    return {false, 0};
  }
  // "ORVEK COM Port 3": the number follows the prefix and one more character.
  return {true, NumberFromIndex(location, kLocationChars, prefixLength + 1)};
}

// Where a port stands in the table of COM numbers, as one pass over the device set computes it,
// or -1 outside the table. A port whose location gives its number N on its card stands at
// N + cardStart - 1, cardStart being the member index of the pass's latest port 1 (updated here);
// a port whose location cannot be read stands at its member index.
int PortPosition(const PortLocation& location, DWORD memberIndex, DWORD& cardStart) {
  std::int64_t position = memberIndex;
  if (location.read) {
    if (location.number == 1) {
      cardStart = memberIndex;
    }
    position = static_cast<std::int64_t>(location.number) + cardStart - 1;
  }
  return position >= 0 && position < kTableEntries ? static_cast<int>(position) : -1;
}

// Collects the port name number of each present port at its position. Returns false when the
// ports cannot be renumbered soundly: two of them stand at one position, or a port would stand
// elsewhere in the rename pass than here. The rename pass places every member by its location
// alone, also a member whose key or PortName cannot be read here, so such a member's location
// is read too, to see where that pass will put it.
bool CollectComNumbers(WindowsApi& api, HDEVINFO set, std::size_t prefixLength,
                       DWORD (&comNumbers)[kTableEntries]) {
  bool taken[kTableEntries] = {};
  DWORD cardStart = 0;        // of this pass: moved only by ports whose name is read
  DWORD renameCardStart = 0;  // as the rename pass will move it
  // A port that cannot be renumbered soundly ends the walk.
  return ForEachDevice(api, set, [&](SP_DEVINFO_DATA& device, DWORD i) {
    WCHAR portName[kPortNameChars];
    const bool named = ReadDevicePortName(api, set, device, portName);
    const PortLocation location = ReadPortLocation(api, set, device, prefixLength);
    const int renamePosition = PortPosition(location, i, renameCardStart);
    if (named && PortPosition(location, i, cardStart) != renamePosition) {
      return false;
    }
    if (renamePosition < 0) {
      return true;  // outside the table: left out of both passes
    }
    if (taken[renamePosition]) {
      return false;
    }
    taken[renamePosition] = true;
    if (named) {
      comNumbers[renamePosition] =
          static_cast<DWORD>(NumberFromIndex(portName, kPortNameChars, kPortNumberIndex));
    }
    return true;
  });
}

// Sorts the non-zero entries as unsigned values; the positions that hold 0 keep it.
void SortComNumbers(DWORD (&comNumbers)[kTableEntries]) {
  DWORD numbers[kTableEntries];
  int count = 0;
  for (DWORD number : comNumbers) {
    if (number != 0) {
      numbers[count++] = number;
    }
  }
  std::sort(numbers, numbers + count);
  int next = 0;
  for (DWORD& entry : comNumbers) {
    if (entry != 0) {
      entry = numbers[next++];
    }
  }
}

// Gives each port whose position holds a number that number: PortName, friendly name, restart.
void RenameComPorts(WindowsApi& api, HDEVINFO set, const WCHAR* namePrefix,
                    std::size_t prefixLength, const DWORD (&comNumbers)[kTableEntries]) {
  DWORD cardStart = 0;
  ForEachDevice(api, set, [&](SP_DEVINFO_DATA& device, DWORD i) {
    const int position =
        PortPosition(ReadPortLocation(api, set, device, prefixLength), i, cardStart);
    if (position >= 0 && comNumbers[position] != 0) {
      const int f = static_cast<int>(comNumbers[position]);
      RenamePort(api, set, device, u"COM", f, namePrefix);
    }
    return true;
  });
}

}  // namespace

LONG ReleaseAndRemoveSerialPorts(WindowsApi& api, const WCHAR* hardwareId) {
  return ReleaseSerialPorts(api, hardwareId, true);
}

LONG ReleaseSerialPortNumbers(WindowsApi& api, const WCHAR* hardwareId) {
  return ReleaseSerialPorts(api, hardwareId, false);
}

void RenumberSerialPorts(WindowsApi& api, const WCHAR* hardwareId, const WCHAR* namePrefix) {
  DWORD comNumbers[kTableEntries] = {};
  DevInfoGuard set(api, BuildDeviceSet(api, hardwareId, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set.valid()) {
    return;
  }
  const std::size_t prefixLength = TextLength(namePrefix);
  if (!CollectComNumbers(api, set.get(), prefixLength, comNumbers)) {
    return;  // the set is left as it is
  }
  SortComNumbers(comNumbers);
  RenameComPorts(api, set.get(), namePrefix, prefixLength, comNumbers);
}

}  // namespace orv
