#include "devices/serial_ports.h"

#include <gtest/gtest.h>

#include "tests/support/device_images.h"

namespace orv {
namespace {

using namespace testing_support;

constexpr const WCHAR* kHardwareId = u"ORVPCARD_ENUM\\ORVPCARD_SERP";

using Release = LONG (*)(WindowsApi&, const WCHAR*);

struct Twin {
  const char* name;
  Release run;
  bool deletes;
};
const Twin kTwins[] = {
    {.name = "ReleaseAndRemoveSerialPorts", .run = ReleaseAndRemoveSerialPorts, .deletes = true},
    {.name = "ReleaseSerialPortNumbers", .run = ReleaseSerialPortNumbers, .deletes = false},
};

std::vector<std::string> ReleaseSteps(int member, int number, bool deletes) {
  std::vector<std::string> steps = {"ComDBOpen", "ComDBReleasePort " + std::to_string(number),
                                    "ComDBClose"};
  if (deletes) {
    steps.push_back("SetupDiRemoveDevice " + SerialPortPath(member));
    steps.push_back("SetupDiDeleteDevRegKey " + SerialPortPath(member));
  }
  return steps;
}

// The COM database calls with the released number, and the deletions with their device.
std::vector<std::string> Steps(SimMachine& sim) {
  std::vector<std::string> steps;
  for (const Call& call : sim.CallsTo({"ComDBOpen", "ComDBReleasePort", "ComDBClose",
                                       "SetupDiRemoveDevice", "SetupDiDeleteDevRegKey"})) {
    std::string step = StepOf(call);
    if (call.api == "ComDBReleasePort") {
      step += " " + call.args.substr(call.args.find(", ") + 2);  // "comdb#1, 12": the number
    }
    steps.push_back(step);
  }
  return steps;
}

TEST(ReleaseSerialPorts, ReleasesEachNumberAroundItsOwnDatabaseOpen) {
  for (const Twin& twin : kTwins) {
    SCOPED_TRACE(twin.name);
    DeviceNode absent{SerialPortPath(1), "COM4"};
    absent.present = false;
    SimMachine sim(DeviceImage({SerialPortPath(0), "COM3"}) + DeviceImage(absent) +
                   DeviceImage({SerialPortPath(2), "COM12"}) + ComDbImage({1, 3, 4, 12}));
    EXPECT_EQ(twin.run(sim.api(), kHardwareId), 0);

    std::vector<std::string> expected;
    for (auto [member, number] : {std::pair{0, 3}, {1, 4}, {2, 12}}) {
      const std::vector<std::string> port = ReleaseSteps(member, number, twin.deletes);
      expected.insert(expected.end(), port.begin(), port.end());
      EXPECT_EQ(DeviceExists(sim, SerialPortPath(member)), !twin.deletes);
    }
    EXPECT_EQ(Steps(sim), expected);
    std::vector<std::uint8_t> onlyCom1(32, 0);
    onlyCom1[0] = 0x01;
    EXPECT_EQ(sim.Bytes(kComNameArbiterKey, u"ComDB"), onlyCom1);
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(ReleaseSerialPorts, APortWithoutANameIsReleasedNeverButRemovedAnyway) {
  DeviceNode noParameters{SerialPortPath(0)};
  noParameters.hasDeviceParameters = false;  // the device key does not open
  DeviceNode noPortName{SerialPortPath(1)};  // the key opens; PortName is missing
  for (const Twin& twin : kTwins) {
    SCOPED_TRACE(twin.name);
    SimMachine sim(DeviceImage(noParameters) + DeviceImage(noPortName) +
                   DeviceImage({SerialPortPath(2), "COM5"}) + ComDbImage({5}));
    twin.run(sim.api(), kHardwareId);
    std::vector<std::string> expected;
    if (twin.deletes) {
      expected = {"SetupDiRemoveDevice " + SerialPortPath(0),
                  "SetupDiDeleteDevRegKey " + SerialPortPath(0),
                  "SetupDiRemoveDevice " + SerialPortPath(1),
                  "SetupDiDeleteDevRegKey " + SerialPortPath(1)};
    }
    const std::vector<std::string> last = ReleaseSteps(2, 5, twin.deletes);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(Steps(sim), expected);
    EXPECT_EQ(sim.Bytes(kComNameArbiterKey, u"ComDB"), std::vector<std::uint8_t>(32, 0));
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(ReleaseSerialPorts, NumbersComeFromTheFourthCharacterOn) {
  // A name of 256 units without a terminator fills its whole buffer.
  std::vector<std::uint8_t> unterminated = Utf16Bytes("COM6" + std::string(252, 'x'));
  unterminated.resize(512);
  DeviceNode full{SerialPortPath(3)};
  full.extraParameterLines = "\"PortName\"=" + HexLine(1, unterminated) + "\n";
  SimMachine sim(
      DeviceImage({SerialPortPath(0), "COM"}) + DeviceImage({SerialPortPath(1), "LPT7"}) +
      DeviceImage({SerialPortPath(2), "COM 9x"}) + DeviceImage(full) + ComDbImage({6, 7, 9}));
  ReleaseSerialPortNumbers(sim.api(), kHardwareId);
  std::vector<std::string> expected;
  for (auto [member, number] : {std::pair{0, 0}, {1, 7}, {2, 9}, {3, 6}}) {
    const std::vector<std::string> port = ReleaseSteps(member, number, false);
    expected.insert(expected.end(), port.begin(), port.end());
  }
  EXPECT_EQ(Steps(sim), expected);
  EXPECT_EQ(sim.Bytes(kComNameArbiterKey, u"ComDB"), std::vector<std::uint8_t>(32, 0));
}

TEST(ReleaseSerialPorts, AFailedDatabaseOpenDoesNotStopTheNextPort) {
  SimMachine sim(DeviceImage({SerialPortPath(0), "COM3"}) +
                 DeviceImage({SerialPortPath(1), "COM4"}) + ComDbImage({3, 4}));
  sim.api().ArmFault(winsim::Fault{.api = "ComDBOpen", .nth = 1, .status = ERROR_ACCESS_DENIED});
  ReleaseAndRemoveSerialPorts(sim.api(), kHardwareId);
  EXPECT_EQ(sim.CallsTo({"ComDBOpen"}).size(), 2u);
  std::vector<std::uint8_t> com3Kept(32, 0);
  com3Kept[0] = 0x04;
  EXPECT_EQ(sim.Bytes(kComNameArbiterKey, u"ComDB"), com3Kept);
  EXPECT_FALSE(DeviceExists(sim, SerialPortPath(0)));
  EXPECT_FALSE(DeviceExists(sim, SerialPortPath(1)));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(ReleaseSerialPorts, NothingHappensWithoutADeviceSet) {
  for (const Twin& twin : kTwins) {
    SCOPED_TRACE(twin.name);
    SimMachine sim(DeviceImage({SerialPortPath(0), "COM3"}) + ComDbImage({3}));
    sim.api().ArmFault(
        winsim::Fault{.api = "SetupDiGetClassDevsW", .status = ERROR_INVALID_PARAMETER});
    EXPECT_EQ(twin.run(sim.api(), kHardwareId), 0);
    EXPECT_EQ(sim.CallsTo().size(), 1u);
    EXPECT_TRUE(DeviceExists(sim, SerialPortPath(0)));
  }
}

}  // namespace
}  // namespace orv
