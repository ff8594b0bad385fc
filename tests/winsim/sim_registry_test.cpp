// The registry functions of the simulated machine against the Win32 rules: statuses, buffer
// sizes, value order, deleted keys.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/text.h"
#include "tests/support/sim_fixture.h"

namespace winsim {
namespace {

using namespace orv;

using testing_support::SimMachine;

constexpr const char* kImage = R"(
[HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\PARALLEL PORTS]
"\\Device\\Parallel0"="\\DosDevices\\LPT1"
"\\Device\\Parallel1"="\\DosDevices\\LPT3"
"Counter"=dword:00000007

[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Sub]

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet002]

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000002
)";
constexpr const char16_t* kMap = u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS";

LONG Status(DWORD error) {
  return static_cast<LONG>(error);
}

HKEY Open(SimWindows& api, const char16_t* path) {
  HKEY key = nullptr;
  EXPECT_EQ(api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &key), 0);
  return key;
}

std::vector<std::uint8_t> Utf16Bytes(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

TEST(SimRegistryTest, OpenGivesUsableHandlesAndFailsForMissingKeys) {
  SimMachine sim(kImage);
  SimWindows& api = sim.api();
  HKEY key = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                              KEY_ALL_ACCESS, &key),
            Status(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);

  HKEY map = Open(api, u"hardware\\devicemap\\parallel ports");
  ASSERT_NE(map, nullptr);
  EXPECT_NE(map, reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
  // A relative open, and a new handle to the same key for an empty name.
  HKEY software = Open(api, u"SOFTWARE");
  HKEY sub = nullptr;
  EXPECT_EQ(api.RegOpenKeyExW(software, u"Vendor\\Sub", 0, KEY_READ, &sub), 0);
  HKEY again = nullptr;
  EXPECT_EQ(api.RegOpenKeyExW(sub, u"", 0, KEY_READ, &again), 0);
  EXPECT_NE(again, sub);
  EXPECT_EQ(api.OpenHandleCount(), 4u);
  for (HKEY handle : {map, software, sub, again}) {
    EXPECT_EQ(api.RegCloseKey(handle), 0);
  }
  EXPECT_EQ(api.RegCloseKey(map), Status(ERROR_INVALID_HANDLE));
  EXPECT_EQ(api.RegCloseKey(HKEY_LOCAL_MACHINE), 0);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
  EXPECT_EQ(sim.Calls({"RegOpenKeyExW"})[0],
            R"(RegOpenKeyExW(HKLM, "HARDWARE\DEVICEMAP\SERIALCOMM", 0, 0xF003F) = 0x2)");
  EXPECT_EQ(sim.Calls({"RegOpenKeyExW"})[1],
            R"(RegOpenKeyExW(HKLM, "hardware\devicemap\parallel ports", 0, 0xF003F) = 0 -> key#1)");
}

TEST(SimRegistryTest, CreateReportsWhetherTheKeyIsNew) {
  SimMachine sim(kImage);
  SimWindows& api = sim.api();
  const char16_t* path = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEK Card";
  // CurrentControlSet is a link to the control set that Select names: both names reach one key.
  const std::pair<const char16_t*, DWORD> creates[] = {
      {path, REG_CREATED_NEW_KEY},
      {path, REG_OPENED_EXISTING_KEY},
      {u"SYSTEM\\CurrentControlSet\\Services\\Parport", REG_CREATED_NEW_KEY},
      {u"SYSTEM\\ControlSet002\\services\\parport", REG_OPENED_EXISTING_KEY}};
  for (const auto& [created, expected] : creates) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    EXPECT_EQ(api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, created, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, &disposition),
              0);
    EXPECT_EQ(disposition, expected) << orv::Utf16ToUtf8(created);
    api.RegCloseKey(key);
  }
  EXPECT_NE(sim.Key(path), nullptr);
  HKEY key = nullptr;
  EXPECT_EQ(api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\X", 1, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
            Status(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(sim.Key(u"SOFTWARE\\X"), nullptr);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

TEST(SimRegistryTest, QueryFollowsTheBufferRules) {
  SimMachine sim(kImage);
  SimWindows& api = sim.api();
  HKEY map = Open(api, kMap);
  const std::vector<std::uint8_t> lpt1 = Utf16Bytes(u"\\DosDevices\\LPT1");  // 34 bytes
  struct Case {
    const char* what;
    bool withData;
    DWORD size;
    LONG status;
    DWORD sizeAfter;
    bool copied;
  };
  const Case cases[] = {
      {"size query", false, 0, 0, 34, false},
      {"one byte short", true, 33, Status(ERROR_MORE_DATA), 34, false},
      {"exact", true, 34, 0, 34, true},
      {"larger", true, 520, 0, 34, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> buffer(520, 0xAA);
    DWORD size = c.size;
    DWORD type = 0;
    EXPECT_EQ(api.RegQueryValueExW(map, u"\\device\\parallel0", nullptr, &type,
                                   c.withData ? buffer.data() : nullptr, &size),
              c.status);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, c.sizeAfter);
    if (c.copied) {
      EXPECT_TRUE(std::equal(lpt1.begin(), lpt1.end(), buffer.begin()));
      EXPECT_EQ(buffer[34], 0xAA);
    } else {
      EXPECT_EQ(buffer[0], 0xAA);
    }
  }
  DWORD size = 4;
  BYTE data[4];
  EXPECT_EQ(api.RegQueryValueExW(map, u"Missing", nullptr, nullptr, data, &size),
            Status(ERROR_FILE_NOT_FOUND));
  DWORD reserved = 0;
  EXPECT_EQ(api.RegQueryValueExW(map, u"Counter", &reserved, nullptr, data, &size),
            Status(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(api.RegQueryValueExW(map, u"Counter", nullptr, nullptr, data, nullptr),
            Status(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(api.RegQueryValueExW(reinterpret_cast<HKEY>(0x12345), u"Counter", nullptr, nullptr,
                                 data, &size),
            Status(ERROR_INVALID_HANDLE));
  api.RegCloseKey(map);
}

TEST(SimRegistryTest, SetStoresExactBytesAndKeepsValueOrder) {
  SimMachine sim(kImage);
  SimWindows& api = sim.api();
  HKEY map = Open(api, kMap);
  // A short text in a 260-byte value, as the map rewrite stores it.
  WCHAR text[130] = u"\\DosDevices\\LPT2";
  EXPECT_EQ(api.RegSetValueExW(map, u"\\Device\\Parallel1", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(text), 260),
            0);
  EXPECT_EQ(
      api.RegSetValueExW(map, u"New", 0, REG_BINARY, reinterpret_cast<const BYTE*>("\x01\x02"), 2),
      0);
  EXPECT_EQ(api.RegSetValueExW(map, u"Empty", 0, REG_SZ, nullptr, 0), 0);
  EXPECT_EQ(api.RegSetValueExW(map, u"Bad", 0, REG_SZ, nullptr, 4), 998);  // ERROR_NOACCESS
  EXPECT_EQ(api.RegSetValueExW(map, u"Bad", 1, REG_SZ, reinterpret_cast<const BYTE*>(text), 2),
            Status(ERROR_INVALID_PARAMETER));

  std::vector<std::uint8_t> expected(260, 0);
  std::memcpy(expected.data(), text, 34);
  EXPECT_EQ(sim.Bytes(kMap, u"\\Device\\Parallel1"), expected);
  EXPECT_EQ(sim.Bytes(kMap, u"New"), (std::vector<std::uint8_t>{1, 2}));
  std::vector<std::u16string> names;
  for (const RegValue& value : sim.Key(kMap)->values()) {
    names.emplace_back(value.name());
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"\\Device\\Parallel0", u"\\Device\\Parallel1",
                                                u"Counter", u"New", u"Empty"}));
  EXPECT_TRUE(sim.HasValue(kMap, u"Empty"));
  EXPECT_EQ(sim.Calls({"RegSetValueExW"})[0],
            R"(RegSetValueExW(key#1, "\Device\Parallel1", 0, 0x1, "\DosDevices\LPT2", 260) = 0)");
  EXPECT_EQ(sim.Calls({"RegSetValueExW"})[1],
            R"(RegSetValueExW(key#1, "New", 0, 0x3, hex:01,02, 2) = 0)");
  api.RegCloseKey(map);
}

TEST(SimRegistryTest, EnumFollowsTheNameAndDataRules) {
  SimMachine sim(kImage);
  SimWindows& api = sim.api();
  HKEY map = Open(api, kMap);
  const std::u16string name0 = u"\\Device\\Parallel0";  // 17 characters
  struct Case {
    const char* what;
    DWORD nameChars;
    bool withData;
    DWORD dataSize;
    LONG status;
    DWORD nameCharsAfter;
    DWORD dataSizeAfter;
  };
  const Case cases[] = {
      {"name without room for its terminator", 17, true, 520, Status(ERROR_MORE_DATA), 17, 520},
      {"name fits", 18, true, 520, 0, 17, 34},
      {"data one byte short", 260, true, 33, Status(ERROR_MORE_DATA), 17, 34},
      {"no data", 260, false, 0, 0, 17, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WCHAR name[260] = {};
    std::vector<std::uint8_t> data(520, 0xAA);
    DWORD nameChars = c.nameChars;
    DWORD dataSize = c.dataSize;
    EXPECT_EQ(
        api.RegEnumValueW(map, 0, name, &nameChars, nullptr, nullptr,
                          c.withData ? data.data() : nullptr, c.withData ? &dataSize : nullptr),
        c.status);
    EXPECT_EQ(nameChars, c.nameCharsAfter);
    EXPECT_EQ(dataSize, c.dataSizeAfter);
    EXPECT_EQ(std::u16string(name), c.nameCharsAfter == c.nameChars ? u"" : name0);
    EXPECT_EQ(data[0], c.status == 0 && c.withData ? '\\' : 0xAA);
  }
  WCHAR name[260];
  DWORD nameChars = 260;
  DWORD type = 0;
  BYTE data[8];
  DWORD dataSize = sizeof data;
  EXPECT_EQ(api.RegEnumValueW(map, 2, name, &nameChars, nullptr, &type, data, &dataSize), 0);
  EXPECT_EQ(std::u16string(name), u"Counter");
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(dataSize, 4u);
  nameChars = 260;
  EXPECT_EQ(api.RegEnumValueW(map, 3, name, &nameChars, nullptr, nullptr, nullptr, nullptr),
            Status(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(sim.Calls({"RegEnumValueW"})[1],
            R"(RegEnumValueW(key#1, 0, 18, 520) = 0 -> "\Device\Parallel0", 0x1, )"
            R"("\DosDevices\LPT1", 34)");
  EXPECT_EQ(sim.Calls({"RegEnumValueW"}).back(), R"(RegEnumValueW(key#1, 3, 260, null) = 0x103)");
  api.RegCloseKey(map);
}

TEST(SimRegistryTest, DeleteValueAndKey) {
  SimMachine sim(kImage);
  SimWindows& api = sim.api();
  HKEY map = Open(api, kMap);
  EXPECT_EQ(api.RegDeleteValueW(map, u"\\Device\\Parallel0"), 0);
  EXPECT_EQ(api.RegDeleteValueW(map, u"\\Device\\Parallel0"), Status(ERROR_FILE_NOT_FOUND));
  WCHAR name[260];
  DWORD nameChars = 260;
  EXPECT_EQ(api.RegEnumValueW(map, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(std::u16string(name), u"\\Device\\Parallel1");
  api.RegCloseKey(map);

  HKEY software = Open(api, u"SOFTWARE");
  HKEY sub = Open(api, u"SOFTWARE\\Vendor\\Sub");
  EXPECT_EQ(api.RegDeleteKeyW(software, u"Vendor"), Status(ERROR_ACCESS_DENIED));  // has a subkey
  EXPECT_EQ(api.RegDeleteKeyW(software, u"Nothing"), Status(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(api.RegDeleteKeyW(software, nullptr), Status(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(api.RegDeleteKeyW(software, u"Vendor\\Sub"), 0);
  EXPECT_EQ(sim.Key(u"SOFTWARE\\Vendor\\Sub"), nullptr);
  EXPECT_NE(sim.Key(u"SOFTWARE\\Vendor"), nullptr);

  // The handle to the deleted key stays valid but every call through it fails.
  DWORD size = 0;
  EXPECT_EQ(api.RegQueryValueExW(sub, u"", nullptr, nullptr, nullptr, &size),
            Status(ERROR_KEY_DELETED));
  EXPECT_EQ(api.RegSetValueExW(sub, u"A", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"x"), 4),
            Status(ERROR_KEY_DELETED));
  nameChars = 260;
  EXPECT_EQ(api.RegEnumValueW(sub, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr),
            Status(ERROR_KEY_DELETED));
  HKEY child = nullptr;
  EXPECT_EQ(
      api.RegCreateKeyExW(sub, u"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
      Status(ERROR_KEY_DELETED));
  EXPECT_EQ(api.RegCloseKey(sub), 0);

  // An empty name deletes the key of the handle.
  HKEY vendor = Open(api, u"SOFTWARE\\Vendor");
  EXPECT_EQ(api.RegDeleteKeyW(vendor, u""), 0);
  EXPECT_EQ(sim.Key(u"SOFTWARE\\Vendor"), nullptr);
  api.RegCloseKey(vendor);
  api.RegCloseKey(software);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

TEST(SimRegistryTest, ArmedFaultsFailTheNamedValue) {
  SimMachine sim(kImage);
  SimWindows& api = sim.api();
  api.ArmFault({.api = "RegQueryValueExW", .text = "parallel1", .status = ERROR_ACCESS_DENIED});
  api.ArmFault({.api = "RegOpenKeyExW", .nth = 2, .status = ERROR_FILE_NOT_FOUND});
  HKEY map = Open(api, kMap);
  BYTE data[64];
  DWORD size = sizeof data;
  EXPECT_EQ(api.RegQueryValueExW(map, u"\\Device\\Parallel0", nullptr, nullptr, data, &size), 0);
  size = sizeof data;
  EXPECT_EQ(api.RegQueryValueExW(map, u"\\Device\\Parallel1", nullptr, nullptr, data, &size),
            Status(ERROR_ACCESS_DENIED));
  HKEY second = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMap, 0, KEY_ALL_ACCESS, &second),
            Status(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(second, nullptr);
  HKEY third = Open(api, kMap);
  api.RegCloseKey(third);
  api.RegCloseKey(map);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
}

// Faults match the call's fields: a text argument's value (without regard to case), a number by
// its place among the arguments, the device; never the trace's text of a number or a handle.
TEST(SimRegistryTest, ArmedFaultsMatchTheFieldsOfTheCall) {
  struct Case {
    Fault fault;
    bool fails;
  };
  const Case cases[] = {
      {{.api = "RegOpenKeyExW", .text = "parallel ports"}, true},
      {{.api = "RegOpenKeyExW", .text = "0x20019"}, false},  // KEY_READ as the trace writes it
      {{.api = "RegOpenKeyExW", .text = "HKLM"}, false},
      {{.api = "RegOpenKeyExW", .number = NumberIs{.arg = 3, .value = KEY_READ}}, true},
      {{.api = "RegOpenKeyExW", .number = NumberIs{.arg = 2, .value = KEY_READ}}, false},
      {{.api = "RegOpenKeyExW", .number = NumberIs{.arg = 9, .value = 0}}, false},
      {{.api = "RegOpenKeyExW", .device = "PARALLEL"}, false},  // the key lies in no device
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SimMachine sim(kImage);
    sim.api().ArmFault(cases[i].fault);
    HKEY key = nullptr;
    EXPECT_EQ(sim.api().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMap, 0, KEY_READ, &key),
              cases[i].fails ? Status(ERROR_ACCESS_DENIED) : 0)
        << i;
    sim.api().RegCloseKey(key);
  }
}

}  // namespace
}  // namespace winsim
