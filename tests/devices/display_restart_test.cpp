#include "devices/display_restart.h"

#include <gtest/gtest.h>

#include "tests/support/device_images.h"

namespace orv {
namespace {

using namespace testing_support;

std::string DisplayPath(int member) {
  return "DISPLAY\\ORVMON\\000" + std::to_string(member);
}

// Three present displays and one that is not present, listed between them.
std::string DisplayImage() {
  DeviceNode absent{DisplayPath(1)};
  absent.present = false;
  return DeviceImage({DisplayPath(0)}) + DeviceImage(absent) + DeviceImage({DisplayPath(2)}) +
         DeviceImage({DisplayPath(3)});
}

std::vector<std::string> RestartSteps(const std::vector<int>& members) {
  std::vector<std::string> steps;
  for (int member : members) {
    steps.push_back("SetupDiSetClassInstallParamsW " + DisplayPath(member));
    steps.push_back("SetupDiCallClassInstaller " + DisplayPath(member));
  }
  return steps;
}

TEST(RestartDisplayDevices, RestartsThePresentDisplaysUntilOneFails) {
  struct Case {
    const char* name;
    std::string failingApi;  // fails for the second present display (member 2)
    std::vector<int> attempted;
    std::vector<std::uint32_t> restarts;  // members 0, 1, 2, 3
  } cases[] = {
      {.name = "all succeed", .failingApi = "", .attempted = {0, 2, 3}, .restarts = {1, 0, 1, 1}},
      {.name = "class installer fails",
       .failingApi = "SetupDiCallClassInstaller",
       .attempted = {0, 2},
       .restarts = {1, 0, 0, 0}},
      // The class installer is still called for the member whose parameters failed.
      {.name = "parameters fail",
       .failingApi = "SetupDiSetClassInstallParamsW",
       .attempted = {0, 2},
       .restarts = {1, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimMachine sim(DisplayImage());
    if (!c.failingApi.empty()) {
      sim.api().ArmFault(winsim::Fault{
          .api = c.failingApi, .device = DisplayPath(2), .status = ERROR_ACCESS_DENIED});
    }
    EXPECT_EQ(RestartDisplayDevices(sim.api()), 1);
    EXPECT_EQ(CallSteps(sim, {"SetupDiSetClassInstallParamsW", "SetupDiCallClassInstaller"}),
              RestartSteps(c.attempted));
    for (int member = 0; member < 4; ++member) {
      EXPECT_EQ(RestartCount(sim, DisplayPath(member)), c.restarts[member]) << member;
    }
    // The loop ends without asking for the members after the failing one.
    EXPECT_EQ(sim.CallsTo({"SetupDiEnumDeviceInfo"}).size(), c.failingApi.empty() ? 4u : 2u);
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(RestartDisplayDevices, ReturnsOneWithoutDisplays) {
  for (bool setFails : {false, true}) {
    SimMachine sim(DeviceImage({SerialPortPath(0), "COM3"}));
    if (setFails) {
      sim.api().ArmFault(
          winsim::Fault{.api = "SetupDiGetClassDevsW", .status = ERROR_INVALID_PARAMETER});
    }
    EXPECT_EQ(RestartDisplayDevices(sim.api()), 1);
    EXPECT_TRUE(
        sim.CallsTo({"SetupDiSetClassInstallParamsW", "SetupDiCallClassInstaller"}).empty());
    EXPECT_EQ(RestartCount(sim, SerialPortPath(0)), 0u);
  }
}

}  // namespace
}  // namespace orv
