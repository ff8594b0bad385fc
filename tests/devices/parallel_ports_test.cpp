#include "devices/parallel_ports.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/device_images.h"

namespace orv {
namespace {

using namespace testing_support;

constexpr const WCHAR* kHardwareId = u"ORVPCARD_ENUM\\ORVPCARD_PARPECP";
constexpr const WCHAR* kPrefix = u"ORVEK LPT Port";

std::string MapText(int number) {
  return "\\DosDevices\\LPT" + std::to_string(number);
}

// A machine with the card's parallel ports (nullopt: a device key without PortName), the map
// texts, and one printer LPTENUM\ORVPRINTER\000k located at LPTk for k = 1 to 9.
std::string RemapImage(const std::vector<std::optional<std::string>>& ports,
                       const std::optional<std::vector<std::string>>& map,
                       const std::string& version = "6.1") {
  std::string image = VersionImage(version);
  for (std::size_t m = 0; m < ports.size(); ++m) {
    image += DeviceImage({ParallelPortPath(static_cast<int>(m)), ports[m]});
  }
  for (int k = 1; k <= 9; ++k) {
    image += DeviceImage({PrinterPath(k), std::nullopt, "LPT" + std::to_string(k)});
  }
  return map ? image + ParallelPortMapImage(*map) : image;
}

std::vector<std::string> RemovalsAt(const std::vector<int>& lptNumbers) {
  std::vector<std::string> steps;
  for (int k : lptNumbers) {
    steps.push_back("SetupDiRemoveDevice " + PrinterPath(k));
  }
  return steps;
}

struct RemapCase {
  const char* name;
  std::vector<std::string> map = {};                   // texts of the map values
  std::vector<std::optional<std::string>> ports = {};  // PortName of each member
  std::vector<int> newPorts = {};                      // per member; 0: not touched
  std::vector<int> newMap = {};                        // per map value; 0: keeps its data
  std::vector<int> removedAt = {};                     // printers removed, in this order
};

// Checks every member, map value and printer against the case.
void ExpectOutcome(SimMachine& sim, const RemapCase& c) {
  for (std::size_t m = 0; m < c.ports.size(); ++m) {
    const std::string path = ParallelPortPath(static_cast<int>(m));
    const int f = c.newPorts[m];
    if (f != 0) {
      const std::string name = "LPT" + std::to_string(f);
      EXPECT_EQ(sim.Bytes(ParametersKey(path), u"PortName"), Utf16Bytes(name)) << path;
      EXPECT_EQ(sim.Bytes(InstanceKey(path), u"FriendlyName"),
                Utf16Bytes("ORVEK LPT Port (" + name + ")"))
          << path;
      EXPECT_EQ(RestartCount(sim, path), 1u) << path;
    } else {
      EXPECT_EQ(sim.Bytes(ParametersKey(path), u"PortName"),
                c.ports[m] ? Utf16Bytes(*c.ports[m]) : std::vector<std::uint8_t>{})
          << path;
      EXPECT_EQ(RestartCount(sim, path), 0u) << path;
    }
  }
  for (std::size_t e = 0; e < c.map.size(); ++e) {
    const int f = c.newMap[e];
    EXPECT_EQ(MapValue(sim, static_cast<int>(e)),
              f != 0 ? Utf16Bytes(MapText(f), 260) : Utf16Bytes(c.map[e]))
        << "map value " << e;
  }
  EXPECT_EQ(CallSteps(sim, {"SetupDiRemoveDevice"}), RemovalsAt(c.removedAt));
  for (int k = 1; k <= 9; ++k) {
    const bool removed = std::count(c.removedAt.begin(), c.removedAt.end(), k) > 0;
    EXPECT_EQ(DeviceExists(sim, PrinterPath(k)), !removed) << "printer at LPT" << k;
  }
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(RemapParallelPorts, RenumbersPortsAndRewritesTheMap) {
  const std::string longText(300, 'x');  // 602 bytes: does not fit the 520-byte buffer
  const RemapCase cases[] = {
      {.name = "example 1",
       .map = {MapText(1), MapText(3), MapText(4)},
       .ports = {"LPT3", "LPT4"},
       .newPorts = {2, 3},
       .newMap = {1, 2, 3},
       .removedAt = {3, 4}},
      {.name = "example 2",
       .map = {MapText(5), MapText(6), MapText(7)},
       .ports = {"LPT5", "LPT6"},
       .newPorts = {1, 2},
       .newMap = {1, 2, 7},
       .removedAt = {5, 6}},
      {.name = "example 3",
       .map = {MapText(2), MapText(4), MapText(6), MapText(7)},
       .ports = {"LPT4", "LPT7"},
       .newPorts = {1, 3},
       .newMap = {1, 2, 3, 6},
       .removedAt = {4, 7}},
      {.name = "map holds only 1",
       .map = {MapText(1)},
       .ports = {"LPT3", "LPT4"},
       .newPorts = {0, 0},
       .newMap = {1},
       .removedAt = {3, 4}},
      {.name = "map holds 1 and 3",
       .map = {MapText(1), MapText(3)},
       .ports = {"LPT3", "LPT4"},
       .newPorts = {2, 0},
       .newMap = {1, 2},
       .removedAt = {3, 4}},
      {.name = "numbers unchanged",
       .map = {MapText(1), MapText(2)},
       .ports = {"LPT1", "LPT2"},
       .newPorts = {1, 2},
       .newMap = {1, 2},
       .removedAt = {1, 2}},
      {.name = "member without PortName",
       .map = {MapText(1), MapText(3), MapText(4)},
       .ports = {"LPT3", std::nullopt, "LPT4"},
       .newPorts = {2, 3, 0},
       .newMap = {1, 2, 3},
       .removedAt = {3, 4}},
      {.name = "map holds 1 twice",
       .map = {MapText(1), MapText(1)},
       .ports = {"LPT1"},
       .newPorts = {1},
       .newMap = {1, 2},
       .removedAt = {1}},
      {.name = "12 is never foreign",
       .map = {MapText(12), MapText(3)},
       .ports = {"LPT3"},
       .newPorts = {1},
       .newMap = {1, 2},
       .removedAt = {3}},
      {.name = "short or numberless map texts read 0",
       .map = {"LPT1", "\\DosDevices\\LPTX", MapText(3)},
       .ports = {"LPT3"},
       .newPorts = {1},
       .newMap = {1, 2, 3},
       .removedAt = {3}},
      {.name = "a map value that does not fit",
       .map = {MapText(1), longText, MapText(3)},
       .ports = {"LPT3"},
       .newPorts = {2},
       .newMap = {1, 2, 0},
       .removedAt = {3}},
      {.name = "no card port",
       .map = {MapText(1), MapText(3)},
       .ports = {},
       .newPorts = {},
       .newMap = {1, 3},
       .removedAt = {}},
  };
  for (const RemapCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim(RemapImage(c.ports, c.map));
    RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
    ExpectOutcome(sim, c);
  }
}

TEST(RemapParallelPorts, ReadsNineMapValuesAndNinePorts) {
  RemapCase c{.name = "ten values, ten ports"};
  for (int k = 1; k <= 10; ++k) {
    c.map.push_back(MapText(k));
    c.ports.push_back("LPT" + std::to_string(k));
    c.newPorts.push_back(k <= 9 ? k : 0);
    c.newMap.push_back(k <= 9 ? k : 0);
    if (k <= 9) {
      c.removedAt.push_back(k);
    }
  }
  SimMachine sim(RemapImage(c.ports, c.map));
  RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
  ExpectOutcome(sim, c);
  // Neither pass asks for the tenth port: the list of nine is full, and nine are renamed.
  const std::vector<std::string> asked = CallSteps(sim, {"SetupDiEnumDeviceInfo"});
  EXPECT_EQ(std::ranges::count(asked, "SetupDiEnumDeviceInfo " + ParallelPortPath(9)), 0);
}

TEST(RemapParallelPorts, WritesByteExactLengths) {
  SimMachine sim(RemapImage({"LPT3"}, std::vector<std::string>{MapText(1), MapText(3)}));
  RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
  EXPECT_EQ(sim.Bytes(ParametersKey(ParallelPortPath(0)), u"PortName").size(), 10u);
  EXPECT_EQ(sim.Bytes(InstanceKey(ParallelPortPath(0)), u"FriendlyName").size(), 44u);
  EXPECT_EQ(MapValue(sim, 0).size(), 260u);
  EXPECT_EQ(MapValue(sim, 1).size(), 260u);
}

// The run as one letter per call: R removal of an attached device, P PortName, F friendly name,
// S restart, M map value, O opening of the map.
std::string Phases(SimMachine& sim) {
  std::string phases;
  for (const Call& call :
       sim.CallsTo({"SetupDiRemoveDevice", "RegSetValueExW", "SetupDiSetDeviceRegistryPropertyW",
                    "SetupDiCallClassInstaller", "RegOpenKeyExW"})) {
    if (call.api == "SetupDiRemoveDevice") {
      phases += 'R';
    } else if (call.api == "RegOpenKeyExW") {
      if (call.args.starts_with("HKLM, \"HARDWARE\\DEVICEMAP\\PARALLEL PORTS\"")) {
        phases += 'O';
      }
    } else if (call.api == "RegSetValueExW") {
      phases += call.args.find("\"PortName\"") != std::string::npos ? 'P' : 'M';
    } else {
      phases += call.api == "SetupDiSetDeviceRegistryPropertyW" ? 'F' : 'S';
    }
  }
  return phases;
}

TEST(RemapParallelPorts, RemovesEverythingBeforeRenamingAndRewritesTheMapLast) {
  SimMachine sim(RemapImage(
      {"LPT4", "LPT7"}, std::vector<std::string>{MapText(2), MapText(4), MapText(6), MapText(7)}));
  RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
  EXPECT_EQ(Phases(sim), "ORRPFSPFSOMMMM");
  // Each port: PortName through its key, then the friendly name once a probe opened the key,
  // then the restart.
  const std::string port = ParallelPortPath(1);
  std::vector<std::string> renaming;
  for (const Call& call :
       sim.CallsTo({"SetupDiOpenDevRegKey", "RegQueryValueExW", "RegSetValueExW", "RegCloseKey",
                    "SetupDiSetDeviceRegistryPropertyW", "SetupDiSetClassInstallParamsW",
                    "SetupDiCallClassInstaller"})) {
    if (call.device == port) {
      renaming.push_back(call.api);
    }
  }
  EXPECT_EQ(renaming,
            (std::vector<std::string>{
                "SetupDiOpenDevRegKey", "RegQueryValueExW", "RegCloseKey", "SetupDiOpenDevRegKey",
                "RegSetValueExW", "RegCloseKey", "SetupDiOpenDevRegKey", "RegCloseKey",
                "SetupDiSetDeviceRegistryPropertyW", "SetupDiSetClassInstallParamsW",
                "SetupDiCallClassInstaller"}));
}

TEST(RemapParallelPorts, DoesNothingOnWindows2000) {
  SimMachine sim(
      RemapImage({"LPT3", "LPT4"}, std::vector<std::string>{MapText(1), MapText(3)}, "5.0"));
  RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
  for (const Call& call : sim.CallsTo()) {
    EXPECT_TRUE(call.api == "GetVersionExW" || call.api == "GetNativeSystemInfo" ||
                call.api == "GetSystemInfo")
        << call.api;
  }
  EXPECT_EQ(sim.Text(ParametersKey(ParallelPortPath(0)), u"PortName"), u"LPT3");
  EXPECT_TRUE(DeviceExists(sim, PrinterPath(3)));
}

TEST(RemapParallelPorts, WithoutTheMapOnlyRemovesTheAttachedDevices) {
  const RemapCase expected{
      .name = "no map", .ports = {"LPT3", "LPT4"}, .newPorts = {0, 0}, .removedAt = {3, 4}};
  {
    SCOPED_TRACE("map key absent");
    SimMachine sim(RemapImage(expected.ports, std::nullopt));
    RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
    ExpectOutcome(sim, expected);
    EXPECT_EQ(Phases(sim), "ORRO");  // both opens fail; nothing is written or restarted
  }
  {
    SCOPED_TRACE("map key does not open");
    SimMachine sim(RemapImage(expected.ports, std::vector<std::string>{MapText(1), MapText(3)}));
    sim.api().ArmFault(winsim::Fault{
        .api = "RegOpenKeyExW", .text = "PARALLEL PORTS", .status = ERROR_ACCESS_DENIED});
    RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
    ExpectOutcome(sim, {.name = "map not opened",
                        .map = {MapText(1), MapText(3)},
                        .ports = {"LPT3", "LPT4"},
                        .newPorts = {0, 0},
                        .newMap = {0, 0},
                        .removedAt = {3, 4}});
    EXPECT_EQ(Phases(sim), "ORRO");
  }
}

TEST(RemapParallelPorts, ADeviceKeyThatDoesNotOpenSkipsOnlyWhatNeedsIt) {
  // Member 0 opens its key three times: to read its name, to write it, and before the friendly
  // name.
  struct Case {
    int failingOpen;
    bool portNameWritten;
    bool friendlyNameWritten;
    std::vector<int> removedAt;
  } cases[] = {
      {.failingOpen = 1, .portNameWritten = true, .friendlyNameWritten = true, .removedAt = {4}},
      {.failingOpen = 2,
       .portNameWritten = false,
       .friendlyNameWritten = true,
       .removedAt = {3, 4}},
      {.failingOpen = 3,
       .portNameWritten = true,
       .friendlyNameWritten = false,
       .removedAt = {3, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failingOpen);
    SimMachine sim(
        RemapImage({"LPT3", "LPT4"}, std::vector<std::string>{MapText(1), MapText(3), MapText(4)}));
    sim.api().ArmFault(winsim::Fault{.api = "SetupDiOpenDevRegKey",
                                     .device = ParallelPortPath(0),
                                     .nth = c.failingOpen,
                                     .status = 0xE0000204});
    RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
    const std::string path = ParallelPortPath(0);
    EXPECT_EQ(sim.Text(ParametersKey(path), u"PortName"), c.portNameWritten ? u"LPT2" : u"LPT3");
    EXPECT_EQ(sim.Text(InstanceKey(path), u"FriendlyName"),
              c.friendlyNameWritten ? u"ORVEK LPT Port (LPT2)" : u"Port (LPT3)");
    EXPECT_EQ(RestartCount(sim, path), 1u);
    EXPECT_EQ(CallSteps(sim, {"SetupDiRemoveDevice"}), RemovalsAt(c.removedAt));
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(RemapParallelPorts, BoundsTextsThatFillTheirBuffers) {
  // A PortName of 256 units and a map text of 260 units, neither with a terminator.
  std::vector<std::uint8_t> portName = Utf16Bytes("LPT3" + std::string(252, 'A'));
  portName.resize(512);
  std::vector<std::uint8_t> mapData = Utf16Bytes(MapText(1) + std::string(244, 'x'));
  mapData.resize(520);
  DeviceNode port{ParallelPortPath(0)};
  port.extraParameterLines = "\"PortName\"=" + HexLine(1, portName) + "\n";
  std::string image =
      VersionImage() + DeviceImage(port) + DeviceImage({PrinterPath(3), std::nullopt, "LPT3"}) +
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\PARALLEL PORTS]\n"
      "\"\\\\Device\\\\Parallel0\"=" +
      HexLine(1, mapData) + "\n\"\\\\Device\\\\Parallel1\"=" + Quote(MapText(3)) + "\n";
  SimMachine sim(image);
  RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
  // Map 1 (foreign) and 3, the card port 3: it becomes LPT2. Its long name names no printer.
  EXPECT_EQ(sim.Text(ParametersKey(ParallelPortPath(0)), u"PortName"), u"LPT2");
  EXPECT_EQ(MapValue(sim, 0), Utf16Bytes(MapText(1), 260));
  EXPECT_EQ(MapValue(sim, 1), Utf16Bytes(MapText(2), 260));
  EXPECT_TRUE(DeviceExists(sim, PrinterPath(3)));
}

TEST(RemapParallelPorts, StopsWhenTheDeviceSetCannotBeBuilt) {
  SimMachine sim(RemapImage({"LPT3"}, std::vector<std::string>{MapText(1), MapText(3)}));
  sim.api().ArmFault(winsim::Fault{
      .api = "SetupDiGetClassDevsW", .text = "PARPECP", .status = ERROR_INVALID_PARAMETER});
  RemapParallelPorts(sim.api(), kHardwareId, kPrefix);
  EXPECT_TRUE(sim.CallsTo({"RegOpenKeyExW", "SetupDiDestroyDeviceInfoList"}).empty());
  EXPECT_EQ(MapValue(sim, 0), Utf16Bytes(MapText(1)));
}

}  // namespace
}  // namespace orv
