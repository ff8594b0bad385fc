// Registry images of device nodes, the parallel-port map, the COM port database and the version
// keys, for the tests of the port device operations, and readers for what the operations leave.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/sim_fixture.h"

namespace testing_support {

// One device instance below HKLM\SYSTEM\CurrentControlSet\Enum.
struct DeviceNode {
  DeviceNode(std::string devicePath, std::optional<std::string> name = std::nullopt,
             std::optional<std::string> locationText = std::nullopt)
      : path(std::move(devicePath)), portName(std::move(name)), location(std::move(locationText)) {}

  std::string path;                     // <enumerator>\<device>\<instance>
  std::optional<std::string> portName;  // PortName in "Device Parameters"
  std::optional<std::string> location;  // LocationInformation
  bool hasDeviceParameters = true;      // without it the device key does not open
  bool present = true;                  // a present device has the "Control" subkey
  std::string extraParameterLines;      // more value lines for "Device Parameters"
  std::string extraInstanceLines;       // more value lines for the instance key
};

// The image lines of a device: instance key with HardwareID, LocationInformation, FriendlyName
// (from the port name) and Driver, its software key, "Device Parameters" and "Control".
std::string DeviceImage(const DeviceNode& node);

// A card port: ORVPCARD_ENUM\ORVPCARD_PARPECP\<nnnn> or ORVPCARD_ENUM\ORVPCARD_SERP\<nnnn>, the
// instance named by its member index so that the set keeps that order.
std::string ParallelPortPath(int member);
std::string SerialPortPath(int member);
// A printer attached to a parallel port, LPTENUM\ORVPRINTER\<nnnn>.
std::string PrinterPath(int member);

// The parallel-port map with values \Device\Parallel0, 1, ... holding the given texts as REG_SZ.
std::string ParallelPortMapImage(const std::vector<std::string>& texts);
// The COM port database with the given numbers reserved, in a bitmap of `bytes` bytes.
std::string ComDbImage(const std::vector<int>& reserved, int bytes = 32);
// The version keys: "6.1", "WinNT" and "AMD64" for Windows 7 x64. A version from 10.0 on is
// kept as Windows 10 keeps it.
std::string VersionImage(const std::string& version = "6.1",
                         const std::string& productType = "WinNT",
                         const std::string& architecture = "AMD64");

// .reg helpers: a quoted string with \ and " escaped; a hex(N) data line of raw bytes.
std::string Quote(const std::string& text);
std::string HexLine(int type, const std::vector<std::uint8_t>& bytes);
// UTF-16LE bytes of `text` with its terminator, padded with zero bytes to `bytes` when larger.
std::vector<std::uint8_t> Utf16Bytes(const std::string& text, std::size_t bytes = 0);

// Key paths below HKLM of a device's instance, hardware key and Control subkey.
std::u16string InstanceKey(const std::string& path);
std::u16string ParametersKey(const std::string& path);
std::u16string ControlKey(const std::string& path);
inline constexpr const char16_t* kParallelPortMapKey = u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS";
inline constexpr const char16_t* kComNameArbiterKey =
    u"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";

// What a run left: RestartCount in the device's Control subkey (0 when missing), whether the
// instance key still exists, and the value data of the map value \Device\Parallel<e>.
std::uint32_t RestartCount(SimMachine& sim, const std::string& path);
bool DeviceExists(SimMachine& sim, const std::string& path);
std::vector<std::uint8_t> MapValue(SimMachine& sim, int e);

}  // namespace testing_support
