#include "devices/device_removal.h"

#include <gtest/gtest.h>

#include "tests/support/device_images.h"

namespace orv {
namespace {

using namespace testing_support;

struct RemovalCase {
  const char* name;
  const WCHAR* locationText;                   // null: no location text
  std::vector<std::optional<std::string>> at;  // members' locations (nullopt: none)
  std::vector<bool> removed;
};

TEST(RemoveDevicesByEnumerator, RemovesTheMembersWhoseLocationMatches) {
  const std::string tooLong = std::string(300, ' ') + "LPT3";  // does not fit 520 bytes
  const RemovalCase cases[] = {
      {.name = "no location text",
       .locationText = nullptr,
       .at = {"LPT1", std::nullopt, "COM4"},
       .removed = {true, true, true}},
      {.name = "substring, exact case",
       .locationText = u"LPT3",
       .at = {"LPT3", "LPT2", "lpt3", "LPT30", "Port LPT3 of card"},
       .removed = {true, false, false, true, true}},
      {.name = "empty text matches all",
       .locationText = u"",
       .at = {"LPT1", std::nullopt},
       .removed = {true, true}},
      {.name = "no member skipped after a removal",
       .locationText = u"LPT1",
       .at = {"LPT1", std::nullopt, "LPT2"},
       .removed = {true, false, false}},
      {.name = "adjacent matches",
       .locationText = u"LPT1",
       .at = {"LPT1", "LPT1", "LPT2"},
       .removed = {true, true, false}},
      {.name = "a location longer than the buffer reads empty",
       .locationText = u"LPT3",
       .at = {tooLong},
       .removed = {false}},
      {.name = "... and goes without a location text",
       .locationText = nullptr,
       .at = {tooLong},
       .removed = {true}},
  };
  for (const RemovalCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string image;
    for (std::size_t i = 0; i < c.at.size(); ++i) {
      DeviceNode node{PrinterPath(static_cast<int>(i)), std::nullopt, c.at[i]};
      node.present = i % 2 == 0;  // present or not makes no difference
      image += DeviceImage(node);
    }
    image += DeviceImage({"LPTENUMX\\OTHER\\0000"}) + DeviceImage({"ORVPCARD_ENUM\\LPT\\0000"});
    SimMachine sim(image);
    EXPECT_EQ(RemoveDevicesByEnumerator(sim.api(), u"LPTENUM", c.locationText), 0);
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < c.at.size(); ++i) {
      const std::string path = PrinterPath(static_cast<int>(i));
      EXPECT_EQ(DeviceExists(sim, path), !c.removed[i]) << path;
      if (c.removed[i]) {
        expected.push_back("SetupDiRemoveDevice " + path);
        expected.push_back("SetupDiDeleteDevRegKey " + path);
      }
    }
    EXPECT_EQ(CallSteps(sim, {"SetupDiRemoveDevice", "SetupDiDeleteDevRegKey"}), expected);
    // Every member was enumerated, then the enumeration ended.
    EXPECT_EQ(sim.CallsTo({"SetupDiEnumDeviceInfo"}).size(), c.at.size() + 1);
    EXPECT_TRUE(DeviceExists(sim, "LPTENUMX\\OTHER\\0000"));
    EXPECT_TRUE(DeviceExists(sim, "ORVPCARD_ENUM\\LPT\\0000"));
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(RemoveDevicesByEnumerator, DeletesTheSoftwareKeyToo) {
  SimMachine sim(DeviceImage({PrinterPath(0), std::nullopt, "LPT1"}));
  const std::u16string softwareKey = u"SYSTEM\\CurrentControlSet\\Control\\Class\\" +
                                     sim.Text(InstanceKey(PrinterPath(0)), u"Driver");
  ASSERT_NE(sim.Key(softwareKey), nullptr);
  RemoveDevicesByEnumerator(sim.api(), u"LPTENUM", nullptr);
  EXPECT_EQ(sim.Key(softwareKey), nullptr);
  EXPECT_FALSE(DeviceExists(sim, PrinterPath(0)));
}

TEST(RemoveDevicesByEnumerator, AnEmptyEnumeratorChangesNothing) {
  SimMachine sim(DeviceImage({PrinterPath(0), std::nullopt, "LPT1"}));
  EXPECT_EQ(RemoveDevicesByEnumerator(sim.api(), u"ORVPCARD_ENUM", nullptr), 0);
  EXPECT_TRUE(sim.CallsTo({"SetupDiRemoveDevice", "SetupDiDeleteDevRegKey"}).empty());
  EXPECT_TRUE(DeviceExists(sim, PrinterPath(0)));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace orv
