// The short names in the port procedures, e (the index of a map value), n (how many map values
// were read) and f (a port's new number), are the names these procedures are defined with; they
// are kept so that each step can be found by its own name.
#include "devices/parallel_ports.h"

#include <algorithm>
#include <cstring>

#include "devices/device_removal.h"
#include "devices/device_walk.h"
#include "devices/port_rename.h"
#include "platform/device_calls.h"
#include "platform/guards.h"
#include "platform/platform_code.h"
#include "platform/text.h"

namespace orv {

namespace {

constexpr const WCHAR* kParallelPortMap = u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS";
constexpr DWORD kMapValueIndices = 9;  // value indices 0 to 8 are read and rewritten
constexpr DWORD kMapNameChars = 260;
constexpr DWORD kMapDataBytes = 520;
constexpr DWORD kMapDataChars = kMapDataBytes / sizeof(WCHAR);
constexpr DWORD kMapTextChars = 260;
constexpr DWORD kMapTextBytes = 260;         // stored whatever the text's length
constexpr std::size_t kMapNumberIndex = 15;  // after "\DosDevices\LPT"
constexpr std::size_t kPortNumberIndex = 3;  // after "LPT"
constexpr int kListRoom = 9;                 // LPT1 to LPT9

// A list of port numbers, filled by appending.
struct PortNumberList {
  int entries[kListRoom];
  int count;
};

void Append(PortNumberList& list, int number) {
  if (list.count < kListRoom) {
    list.entries[list.count++] = number;
  }
}

bool Contains(const PortNumberList& list, int number) {
  return std::find(list.entries, list.entries + list.count, number) != list.entries + list.count;
}

// Opens the parallel-port map into `map`; false when it does not open.
bool OpenParallelPortMap(WindowsApi& api, KeyGuard& map) {
  return api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParallelPortMap, 0, KEY_ALL_ACCESS, map.put()) ==
         ERROR_SUCCESS;
}

// The numbers in the map's values 0 to 8; a value that cannot be read adds nothing.
void ReadMapNumbers(WindowsApi& api, PortNumberList& mapNumbers) {
  KeyGuard map(api);
  if (!OpenParallelPortMap(api, map)) {
    return;
  }
  for (DWORD index = 0; index < kMapValueIndices; ++index) {
    WCHAR name[kMapNameChars];
    WCHAR data[kMapDataChars];
    std::memset(name, 0, sizeof name);
    std::memset(data, 0, sizeof data);
    DWORD nameChars = kMapNameChars;
    DWORD dataSize = kMapDataBytes;
    if (api.RegEnumValueW(map.get(), index, name, &nameChars, nullptr, nullptr,
                          reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS) {
      continue;
    }
    Append(mapNumbers, NumberFromIndex(data, kMapDataChars, kMapNumberIndex));
  }
}

// Records the number of each card port whose PortName can be read (nine at most) and removes the
// devices attached at that port name.
void ReadCardNumbers(WindowsApi& api, HDEVINFO set, PortNumberList& cardNumbers) {
  ForEachDevice(api, set, [&](SP_DEVINFO_DATA& device, DWORD) {
    WCHAR portName[kPortNameChars];
    if (!ReadDevicePortName(api, set, device, portName)) {
      return true;
    }
    Append(cardNumbers, NumberFromIndex(portName, kPortNameChars, kPortNumberIndex));
    // A name that fills its whole buffer has no terminator there: the removal gets a copy that
    // has one.
    WCHAR location[kPortNameChars + 1] = {};
    std::memcpy(location, portName, sizeof portName);
    RemoveDevicesByEnumerator(api, u"LPTENUM", location);
    return cardNumbers.count < kListRoom;  // a full list asks for no further member
  });
}

// Gives member m the number newPortNumbers[m]: PortName, friendly name, restart.
void RenameCardPorts(WindowsApi& api, HDEVINFO set, const WCHAR* namePrefix,
                     const PortNumberList& newPortNumbers) {
  ForEachDevice(
      api, set,
      [&](SP_DEVINFO_DATA& device, DWORD m) {
        const int f = newPortNumbers.entries[m];
        RenamePort(api, set, device, u"LPT", f, namePrefix);
        return true;
      },
      static_cast<DWORD>(newPortNumbers.count));
}

// Value e of the map receives newMapNumbers[e], for e below n; the values from index n on keep
// their data.
void RewriteMap(WindowsApi& api, const PortNumberList& newMapNumbers) {
  KeyGuard map(api);
  if (!OpenParallelPortMap(api, map)) {
    return;
  }
  for (DWORD e = 0; e < kMapValueIndices; ++e) {
    WCHAR name[kMapNameChars];
    std::memset(name, 0, sizeof name);
    DWORD nameChars = kMapNameChars;
    if (api.RegEnumValueW(map.get(), e, name, &nameChars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      continue;
    }
    if (e >= static_cast<DWORD>(newMapNumbers.count)) {
      break;
    }
    WCHAR text[kMapTextChars];
    std::memset(text, 0, sizeof text);
    FormatText(text, kMapTextChars, u"\\DosDevices\\LPT%d", {newMapNumbers.entries[e]});
    api.RegSetValueExW(map.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       kMapTextBytes);
  }
}

}  // namespace

void RemapParallelPorts(WindowsApi& api, const WCHAR* hardwareId, const WCHAR* namePrefix) {
  if (GetPlatformCode(api) == kPlatformWindows2000) {
    return;
  }
  PortNumberList mapNumbers{};
  PortNumberList cardNumbers{};
  PortNumberList foreignNumbers{};
  PortNumberList newMapNumbers{};
  PortNumberList newPortNumbers{};

  DevInfoGuard set(api, BuildDeviceSet(api, hardwareId, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set.valid()) {
    return;
  }
  ReadMapNumbers(api, mapNumbers);
  ReadCardNumbers(api, set.get(), cardNumbers);

  // Foreign numbers: those of 1 to 9 that the map holds for ports other than the card's.
  for (int j = 1; j <= kListRoom; ++j) {
    if (Contains(mapNumbers, j) && !Contains(cardNumbers, j)) {
      Append(foreignNumbers, j);
    }
  }

  // One map entry per value read, 1 to n; when the largest foreign number lies beyond n, the
  // entries are raised to the foreign numbers, paired from the last backwards.
  const int n = mapNumbers.count;
  for (int e = 0; e < n; ++e) {
    Append(newMapNumbers, e + 1);
  }
  const int foreignCount = foreignNumbers.count;
  if (foreignCount > 0 && n > 0 && foreignNumbers.entries[foreignCount - 1] > n) {
    for (int k = 1; k <= std::min(n, foreignCount); ++k) {
      int& entry = newMapNumbers.entries[n - k];
      entry = std::max(entry, foreignNumbers.entries[foreignCount - k]);
    }
  }

  // The card's ports take the map entries that are not foreign, in order.
  for (int e = 0; e < n; ++e) {
    if (!Contains(foreignNumbers, newMapNumbers.entries[e])) {
      Append(newPortNumbers, newMapNumbers.entries[e]);
    }
  }

  RenameCardPorts(api, set.get(), namePrefix, newPortNumbers);
  RewriteMap(api, newMapNumbers);
}

}  // namespace orv
