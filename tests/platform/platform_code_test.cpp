#include "platform/platform_code.h"

#include <gtest/gtest.h>

#include "tests/support/device_images.h"

namespace orv {
namespace {

using testing_support::VersionImage;

TEST(GetPlatformCode, ClassifiesVersionProductTypeAndProcessor) {
  struct Case {
    const char* version;
    const char* productType;
    const char* architecture;
    DWORD code;
  } cases[] = {
      {.version = "5.0", .productType = "ServerNT", .architecture = "x86", .code = 0x50000003},
      {.version = "5.0", .productType = "WinNT", .architecture = "IA64", .code = 0x50000003},
      {.version = "5.1", .productType = "WinNT", .architecture = "AMD64", .code = 0x51000003},
      {.version = "5.2", .productType = "WinNT", .architecture = "AMD64", .code = 0x51000060},
      {.version = "5.2", .productType = "ServerNT", .architecture = "AMD64", .code = 0x52000060},
      {.version = "5.2", .productType = "WinNT", .architecture = "x86", .code = 0x52000003},
      {.version = "5.2", .productType = "LanmanNT", .architecture = "x86", .code = 0x52000003},
      {.version = "5.2", .productType = "ServerNT", .architecture = "IA64", .code = 0},
      {.version = "5.3", .productType = "WinNT", .architecture = "x86", .code = 0},
      {.version = "6.0", .productType = "WinNT", .architecture = "x86", .code = 0x60000003},
      {.version = "6.0", .productType = "WinNT", .architecture = "AMD64", .code = 0x60000060},
      {.version = "6.1", .productType = "WinNT", .architecture = "AMD64", .code = 0x61000060},
      {.version = "6.1", .productType = "ServerNT", .architecture = "AMD64", .code = 0x60200860},
      {.version = "6.0", .productType = "LanmanNT", .architecture = "x86", .code = 0x60200803},
      {.version = "6.1", .productType = "WinNT", .architecture = "IA64", .code = 0},
      {.version = "6.2", .productType = "WinNT", .architecture = "AMD64", .code = 0x60},
      {.version = "6.3", .productType = "ServerNT", .architecture = "x86", .code = 0x03},
      {.version = "6.2", .productType = "WinNT", .architecture = "IA64", .code = 0},
      // Windows 10 tells a program without a compatibility manifest (this one) 6.2.
      {.version = "10.0", .productType = "WinNT", .architecture = "AMD64", .code = 0x60},
      {.version = "10.0", .productType = "ServerNT", .architecture = "x86", .code = 0x03},
      {.version = "4.0", .productType = "WinNT", .architecture = "x86", .code = 0},
  };
  for (const Case& c : cases) {
    testing_support::SimMachine sim(VersionImage(c.version, c.productType, c.architecture));
    EXPECT_EQ(GetPlatformCode(sim.api()), c.code)
        << c.version << " " << c.productType << " " << c.architecture;
  }
}

TEST(GetPlatformCode, AnUnreadableVersionCountsAsVersionZero) {
  testing_support::SimMachine sim(VersionImage("6.1", "WinNT", "AMD64"));
  sim.api().ArmFault(winsim::Fault{.api = "GetVersionExW", .status = ERROR_ACCESS_DENIED});
  EXPECT_EQ(GetPlatformCode(sim.api()), 0u);
}

TEST(GetPlatformCode, FallsBackToGetSystemInfoWithoutTheNativeCall) {
  // Windows 2000's kernel32 has no GetNativeSystemInfo.
  testing_support::SimMachine sim(VersionImage("5.0", "WinNT", "x86"));
  EXPECT_EQ(GetPlatformCode(sim.api()), 0x50000003u);
  EXPECT_EQ(sim.CallsTo({"GetSystemInfo"}).size(), 1u);
}

}  // namespace
}  // namespace orv
