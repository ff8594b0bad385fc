#include <gtest/gtest.h>

#include "devices/serial_ports.h"
#include "platform/text.h"
#include "tests/support/device_images.h"

namespace orv {
namespace {

using namespace testing_support;
using Text = std::optional<std::string>;

constexpr const WCHAR* kHardwareId = u"ORVPCARD_ENUM\\ORVPCARD_SERP";
constexpr const WCHAR* kPrefix = u"ORVEK COM Port";

// The location of port n of its card.
Text Port(int n) {
  return "ORVEK COM Port " + std::to_string(n);
}

// Present serial ports with the given locations (nullopt: none, so it cannot be read) and port
// names (nullopt: no PortName).
std::string SerialImage(const std::vector<Text>& locations, const std::vector<Text>& names) {
  std::string image;
  for (std::size_t i = 0; i < names.size(); ++i) {
    image += DeviceImage({SerialPortPath(static_cast<int>(i)), names[i], locations[i]});
  }
  return image;
}

// Checks each member: renamed to its expected name (PortName, friendly name, one restart), or,
// for nullopt, not written and not restarted.
void ExpectPorts(SimMachine& sim, const std::vector<Text>& names,
                 const std::vector<Text>& expected) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string path = SerialPortPath(static_cast<int>(i));
    if (expected[i]) {
      EXPECT_EQ(sim.Bytes(ParametersKey(path), u"PortName"), Utf16Bytes(*expected[i])) << path;
      EXPECT_EQ(sim.Bytes(InstanceKey(path), u"FriendlyName"),
                Utf16Bytes("ORVEK COM Port (" + *expected[i] + ")"))
          << path;
      EXPECT_EQ(RestartCount(sim, path), 1u) << path;
    } else {
      EXPECT_EQ(sim.Bytes(ParametersKey(path), u"PortName"),
                names[i] ? Utf16Bytes(*names[i]) : std::vector<std::uint8_t>{})
          << path;
      EXPECT_EQ(sim.Text(InstanceKey(path), u"FriendlyName"),
                names[i] ? orv::Utf8ToUtf16("Port (" + *names[i] + ")") : u"")
          << path;
      EXPECT_EQ(RestartCount(sim, path), 0u) << path;
    }
  }
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

struct RenumberCase {
  const char* name;
  std::vector<Text> locations;
  std::vector<Text> names;
  std::vector<Text> expected;
};

TEST(RenumberSerialPorts, HandsTheNumbersOutInPortOrder) {
  const RenumberCase cases[] = {
      {.name = "example 1: one card, four ports",
       .locations = {Port(1), Port(2), Port(3), Port(4)},
       .names = {"COM5", "COM3", "COM6", "COM4"},
       .expected = {"COM3", "COM4", "COM5", "COM6"}},
      {.name = "example 2: two cards, card by card",
       .locations = {Port(1), Port(2), Port(1), Port(2)},
       .names = {"COM7", "COM3", "COM10", "COM4"},
       .expected = {"COM3", "COM4", "COM7", "COM10"}},
      {.name = "example 3: a location that cannot be read",
       .locations = {Port(1), std::nullopt, Port(4)},
       .names = {"COM8", "COM2", "COM5"},
       .expected = {"COM2", "COM5", "COM8"}},
      {.name = "example 4: a port name that cannot be read",
       .locations = {Port(1), Port(2), Port(3)},
       .names = {"COM8", std::nullopt, "COM5"},
       .expected = {"COM5", std::nullopt, "COM8"}},
      {.name = "already in order",
       .locations = {Port(1), Port(2), Port(3)},
       .names = {"COM3", "COM4", "COM5"},
       .expected = {"COM3", "COM4", "COM5"}},
      {.name = "numbers compare as numbers",
       .locations = {Port(1), Port(2)},
       .names = {"COM10", "COM9"},
       .expected = {"COM9", "COM10"}},
      {.name = "a repeated number",
       .locations = {Port(1), Port(2), Port(3)},
       .names = {"COM5", "COM5", "COM2"},
       .expected = {"COM2", "COM5", "COM5"}},
      {.name = "a single port 3", .locations = {Port(3)}, .names = {"COM7"}, .expected = {"COM7"}},
      {.name = "a negative number sorts as unsigned",
       .locations = {Port(1), Port(2)},
       .names = {"COM-1", "COM4"},
       .expected = {"COM4", "COM-1"}},
      {.name = "a port name without a number",
       .locations = {Port(1), Port(2)},
       .names = {"COMX", "COM4"},
       .expected = {std::nullopt, "COM4"}},
      // Positions outside the table: the port is left out of both passes.
      {.name = "location without a number",
       .locations = {Text("ORVEK COM Port"), Port(1)},
       .names = {"COM9", "COM4"},
       .expected = {std::nullopt, "COM4"}},
      {.name = "negative location number",
       .locations = {Port(-5), Port(1)},
       .names = {"COM9", "COM4"},
       .expected = {std::nullopt, "COM4"}},
      {.name = "location number beyond the table",
       .locations = {Port(1), Port(300), Port(2)},
       .names = {"COM9", "COM2", "COM5"},
       .expected = {"COM5", std::nullopt, "COM9"}},
      // Positions that coincide: the whole set is left as it is.
      {.name = "port 1 enumerated after port 2",
       .locations = {Port(2), Port(1)},
       .names = {"COM4", "COM3"},
       .expected = {std::nullopt, std::nullopt}},
      {.name = "interleaved cards",
       .locations = {Port(1), Port(1), Port(2), Port(2)},
       .names = {"COM3", "COM5", "COM4", "COM6"},
       .expected = {std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
      {.name = "location number 0 on a second card",
       .locations = {Port(1), Port(1), Text("ORVEK COM Port")},
       .names = {"COM3", "COM5", "COM4"},
       .expected = {std::nullopt, std::nullopt, std::nullopt}},
      {.name = "a port 1 whose name cannot be read",
       .locations = {Port(1), Port(2), Port(1), Port(3)},
       .names = {"COM3", "COM4", std::nullopt, "COM7"},
       .expected = {std::nullopt, std::nullopt, std::nullopt, std::nullopt}},
      {.name = "an unreadable location on another port's position",
       .locations = {Port(1), std::nullopt, Port(2)},
       .names = {"COM3", "COM5", "COM4"},
       .expected = {std::nullopt, std::nullopt, std::nullopt}},
  };
  for (const RenumberCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim(SerialImage(c.locations, c.names));
    RenumberSerialPorts(sim.api(), kHardwareId, kPrefix);
    ExpectPorts(sim, c.names, c.expected);
  }
}

TEST(RenumberSerialPorts, WritesByteExactLengths) {
  SimMachine sim(SerialImage({Port(1), Port(2)}, {"COM10", "COM3"}));
  RenumberSerialPorts(sim.api(), kHardwareId, kPrefix);
  EXPECT_EQ(sim.Bytes(ParametersKey(SerialPortPath(0)), u"PortName").size(), 10u);
  EXPECT_EQ(sim.Bytes(ParametersKey(SerialPortPath(1)), u"PortName").size(), 12u);
  EXPECT_EQ(sim.Bytes(InstanceKey(SerialPortPath(0)), u"FriendlyName").size(), 44u);
  EXPECT_EQ(sim.Bytes(InstanceKey(SerialPortPath(1)), u"FriendlyName").size(), 46u);
}

TEST(RenumberSerialPorts, ReadsEveryNameBeforeTheFirstWrite) {
  SimMachine sim(SerialImage({Port(1), Port(2), Port(3)}, {"COM6", "COM5", "COM4"}));
  RenumberSerialPorts(sim.api(), kHardwareId, kPrefix);
  const std::vector<std::string> steps =
      CallSteps(sim, {"RegQueryValueExW", "RegSetValueExW", "SetupDiCallClassInstaller"});
  ASSERT_EQ(steps.size(), 9u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(steps[i], "RegQueryValueExW " + SerialPortPath(i));
    EXPECT_EQ(steps[3 + 2 * i], "RegSetValueExW " + SerialPortPath(i));
    EXPECT_EQ(steps[4 + 2 * i], "SetupDiCallClassInstaller " + SerialPortPath(i));
  }
}

TEST(RenumberSerialPorts, ADeviceKeyThatDoesNotOpenSkipsOnlyWhatNeedsIt) {
  // Member 0 opens its key to read its name, to write it, and before the friendly name.
  struct Case {
    int failingOpen;
    std::optional<std::string> portName;
    std::optional<std::string> friendlyName;
  } cases[] = {
      // Not collected: position 0 stays empty.
      {.failingOpen = 1, .portName = std::nullopt, .friendlyName = std::nullopt},
      {.failingOpen = 2, .portName = "COM6", .friendlyName = "ORVEK COM Port (COM4)"},
      {.failingOpen = 3, .portName = "COM4", .friendlyName = "Port (COM6)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failingOpen);
    SimMachine sim(SerialImage({Port(1), Port(2)}, {"COM6", "COM4"}));
    sim.api().ArmFault(winsim::Fault{.api = "SetupDiOpenDevRegKey",
                                     .device = SerialPortPath(0),
                                     .nth = c.failingOpen,
                                     .status = 0xE0000204});
    RenumberSerialPorts(sim.api(), kHardwareId, kPrefix);
    const std::string path = SerialPortPath(0);
    EXPECT_EQ(sim.Text(ParametersKey(path), u"PortName"),
              orv::Utf8ToUtf16(c.portName.value_or("COM6")));
    EXPECT_EQ(sim.Text(InstanceKey(path), u"FriendlyName"),
              orv::Utf8ToUtf16(c.friendlyName.value_or("Port (COM6)")));
    EXPECT_EQ(RestartCount(sim, path), c.failingOpen == 1 ? 0u : 1u);
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(RenumberSerialPorts, BoundsTextsThatFillTheirBuffers) {
  // A location and a PortName of 256 units each, neither with a terminator.
  std::vector<std::uint8_t> location = Utf16Bytes(*Port(2) + std::string(240, 'x'));
  location.resize(512);
  std::vector<std::uint8_t> portName = Utf16Bytes("COM7" + std::string(252, 'x'));
  portName.resize(512);
  DeviceNode first{SerialPortPath(0), "COM9", Port(1)};
  DeviceNode second{SerialPortPath(1)};
  second.extraInstanceLines = "\"LocationInformation\"=" + HexLine(1, location) + "\n";
  second.extraParameterLines = "\"PortName\"=" + HexLine(1, portName) + "\n";
  SimMachine sim(DeviceImage(first) + DeviceImage(second));
  RenumberSerialPorts(sim.api(), kHardwareId, kPrefix);
  EXPECT_EQ(sim.Text(ParametersKey(SerialPortPath(0)), u"PortName"), u"COM7");
  EXPECT_EQ(sim.Text(ParametersKey(SerialPortPath(1)), u"PortName"), u"COM9");
}

TEST(RenumberSerialPorts, TouchesNothingWithoutADeviceSet) {
  SimMachine sim(SerialImage({Port(1), Port(2)}, {"COM6", "COM4"}));
  sim.api().ArmFault(
      winsim::Fault{.api = "SetupDiGetClassDevsW", .status = ERROR_INVALID_PARAMETER});
  RenumberSerialPorts(sim.api(), kHardwareId, kPrefix);
  EXPECT_EQ(sim.CallsTo().size(), 1u);
  ExpectPorts(sim, {"COM6", "COM4"}, {std::nullopt, std::nullopt});
}

TEST(RenumberSerialPorts, LeavesPortsThatAreNotPresentAlone) {
  DeviceNode absent{SerialPortPath(0), "COM3", Port(1)};
  absent.present = false;
  SimMachine sim(DeviceImage(absent) + DeviceImage({SerialPortPath(1), "COM8", Port(2)}));
  RenumberSerialPorts(sim.api(), kHardwareId, kPrefix);
  // The present port stands alone at position 1 and keeps its number.
  ExpectPorts(sim, {"COM3", "COM8"}, {std::nullopt, "COM8"});
}

}  // namespace
}  // namespace orv
