#include "frontend/operation_select.h"

#include <gtest/gtest.h>

#include <vector>

#include "frontend/op_code.h"
#include "frontend/program_args.h"
#include "platform/text.h"

namespace orv {
namespace {

DWORD Select(std::vector<std::u16string> arguments) {
  ArgumentVector vector;
  vector.Add(u"C:\\tools\\orvcard.exe");
  for (auto& argument : arguments) {
    vector.Add(argument);
  }
  return SelectOperation(vector.count(), vector.data());
}

TEST(SelectOperation, ReducesTheCommandLineToOneCode) {
  struct Case {
    std::vector<std::u16string> arguments;
    DWORD code;
  } cases[] = {
      {.arguments = {}, .code = 0x40000},
      {.arguments = {u"-RemoveDeviceNode"}, .code = 0x08000},
      {.arguments = {u"-RemoveCOMdb"}, .code = 0x20000},
      {.arguments = {u"-RemoveCOMdb "}, .code = 0},
      {.arguments = {u"-removecomdb"}, .code = 0},
      {.arguments = {u"-RemoveDeviceNodes"}, .code = 0},
      {.arguments = {u"-RemoveDevice"}, .code = 0},
      {.arguments = {u""}, .code = 0},
      {.arguments = {u"-x"}, .code = 0},
      {.arguments = {u"-RemoveDeviceNode", u"-RemoveCOMdb"}, .code = 0},
      {.arguments = {u"-RemoveCOMdb", u"-f2r.ini"}, .code = 0},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& a : c.arguments) {
      shown += "[" + Utf16ToUtf8(a) + "]";
    }
    EXPECT_EQ(Select(c.arguments), c.code) << shown;
  }
}

TEST(ParseOperationCode, TakesHexOrDecimalAndNothingElse) {
  EXPECT_EQ(ParseOperationCode("0x4000"), 0x4000u);
  EXPECT_EQ(ParseOperationCode("0X11"), 0x11u);
  EXPECT_EQ(ParseOperationCode("16384"), 16384u);
  EXPECT_EQ(ParseOperationCode("0"), 0u);
  EXPECT_EQ(ParseOperationCode("0xFFFFFFFF"), 0xFFFFFFFFu);
  for (const char* bad : {"", "0x", "x10", "12a", "-1", "0x100000000", "4294967296", " 1"}) {
    EXPECT_FALSE(ParseOperationCode(bad).has_value()) << bad;
  }
}

}  // namespace
}  // namespace orv
