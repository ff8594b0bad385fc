// The COM port database of the simulated machine: releasing numbers in the ComDB bitmap.
#include <gtest/gtest.h>

#include "tests/support/device_images.h"
#include "tests/support/sim_fixture.h"

namespace {

using namespace orv;
using namespace testing_support;

TEST(SimComDbTest, ReleasesReservedNumbers) {
  // COM1, COM3 and COM16 reserved in a 2-byte database.
  struct Case {
    DWORD number;
    LONG status;
    std::vector<std::uint8_t> after;
  };
  const Case cases[] = {
      {3, 0, {0x01, 0x80}},
      {16, 0, {0x01, 0x00}},
      {1, 0, {0x00, 0x00}},
      {2, 0, {0x00, 0x00}},  // already free
      {0, static_cast<LONG>(ERROR_INVALID_PARAMETER), {0x00, 0x00}},
      {17, static_cast<LONG>(ERROR_INVALID_PARAMETER), {0x00, 0x00}},
  };
  SimMachine sim(ComDbImage({1, 3, 16}, 2));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    HCOMDB database = nullptr;
    ASSERT_EQ(sim.api().ComDBOpen(&database), 0);
    EXPECT_EQ(sim.api().ComDBReleasePort(database, c.number), c.status);
    EXPECT_EQ(sim.api().ComDBClose(database), 0);
    EXPECT_EQ(sim.Bytes(kComNameArbiterKey, u"ComDB"), c.after);
  }
  EXPECT_EQ(sim.Key(kComNameArbiterKey)->FindValue(u"ComDB")->type(), REG_BINARY);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);

  HCOMDB closed = nullptr;
  sim.api().ComDBOpen(&closed);
  sim.api().ComDBClose(closed);
  EXPECT_EQ(sim.api().ComDBReleasePort(closed, 1), static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(sim.api().ComDBClose(closed), static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(sim.Calls({"ComDBOpen", "ComDBReleasePort", "ComDBClose"})[1],
            "ComDBReleasePort(comdb#1, 3) = 0");
}

TEST(SimComDbTest, MissingDatabaseHoldsNoNumber) {
  SimMachine sim("");
  HCOMDB database = nullptr;
  ASSERT_EQ(sim.api().ComDBOpen(&database), 0);
  EXPECT_EQ(sim.api().ComDBReleasePort(database, 1), static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(sim.api().ComDBClose(database), 0);
  EXPECT_EQ(sim.Key(kComNameArbiterKey), nullptr);
}

}  // namespace
