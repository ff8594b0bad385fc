#include "packages/result_codes.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

struct MapCase {
  DWORD status;
  DWORD result;
};

TEST(MapResultCode, MapsEveryListedStatus) {
  const MapCase cases[] = {
      {0x00000000, 0},  {0x00000001, 10}, {0x00000002, 3},  {0x0000000E, 4},  {0x00000020, 53},
      {0x00000057, 10}, {0x0000007B, 3},  {0x000000B7, 2},  {0x000000CE, 51}, {0x00000103, 0},
      {0x000004C7, 3},  {0x00000643, 1},  {0x00000780, 52}, {0x80092003, 0},  {0x800B0100, 0},
      {0x800B0101, 0},  {0x800B0109, 0},  {0x800B0110, 0},  {0xE000020B, 0},  {0xE0000217, 3},
      {0xE0000244, 0},  {0xE0000300, 2},  {0xE0000301, 0},  {0xE0000302, 3},  {0xE0000303, 5},
      {0xE0000304, 0},
  };
  for (const MapCase& c : cases) {
    EXPECT_EQ(MapResultCode(c.status), c.result) << std::hex << c.status;
  }
}

TEST(MapResultCode, GivesElevenForEveryOtherValue) {
  const DWORD unlisted[] = {
      0xFFFFFFFF,  // no command interpreter could be started
      3010,        // reboot required
      13,          // ToolStatus::kCannotOpen, the tool's own
      0xE000023F,  // retried on install, yet not listed
      3,          5,          0x103 + 1,  0x00010002, 0x60000002,
      0xE0000305, 0xA0000302, 0x800B0102, 0x40000000, 0x7FFFFFFF,
  };
  for (DWORD status : unlisted) {
    EXPECT_EQ(MapResultCode(status), 11u) << std::hex << status;
  }
}

TEST(MapResultCode, LooksUpCombinedStatusesAsOneValue) {
  const MapCase cases[] = {
      {TRUST_E_NOSIGNATURE | ERROR_NO_SUCH_DEVINST, 11},             // 0xE00B030B
      {ERROR_NO_DEVICE_ID | ERROR_DEPENDENT_APPLICATIONS_EXIST, 0},  // 0xE0000301
      {ERROR_FILE_NOT_FOUND | ERROR_SHARING_VIOLATION, 11},          // 0x22
      {ERROR_DRIVER_PACKAGE_NOT_IN_STORE | ERROR_SUCCESS, 3},
      {ERROR_DRIVER_PACKAGE_NOT_IN_STORE | ERROR_NO_DEVICE_ID, 5},  // 0xE0000303: missing file
  };
  EXPECT_EQ(TRUST_E_NOSIGNATURE | ERROR_NO_SUCH_DEVINST, 0xE00B030Bu);
  for (const MapCase& c : cases) {
    EXPECT_EQ(MapResultCode(c.status), c.result) << std::hex << c.status;
  }
}

TEST(MapResultCode, MapsInstallerExitStatusesLikeAnyStatus) {
  EXPECT_EQ(MapResultCode(0), 0u);
  EXPECT_EQ(MapResultCode(1), 10u);
  EXPECT_EQ(MapResultCode(2), 3u);
  EXPECT_EQ(MapResultCode(9009), 11u);
}

}  // namespace
}  // namespace orv
