// Device sets, device keys and properties, restarts and removal on the simulated machine, each
// call against the Win32 rules.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/device_images.h"
#include "tests/support/sim_fixture.h"
#include "winsim/reg_data.h"

namespace winsim {
namespace {

using namespace orv;

using testing_support::HexLine;
using testing_support::RestartCount;
using testing_support::SimMachine;

constexpr const char* kDevices = R"reg(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM\ORVPCARD_SERP\0001]
"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"
"LocationInformation"="ORVEK COM Port 2"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM\ORVPCARD_SERP\0000]
"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"
"Driver"="{4d36e978-e325-11ce-bfc1-08002be10318}\\0001"
"LocationInformation"="ORVEK COM Port 1"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM\ORVPCARD_SERP\0000\Device Parameters]
"PortName"="COM3"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM\ORVPCARD_SERP\0000\Control]
"ActiveService"="Serial"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM\ORVPCARD_PARPECP\0000]
"ClassGUID"="{4d36e978-e325-11ce-bfc1-08002be10318}"
"Driver"="{4d36e978-e325-11ce-bfc1-08002be10318}\\0002"
"FriendlyName"="ORVEK LPT Port (LPT3)"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUM\ORVPCARD_PARPECP\0000\Control]

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\ORVPCARD_ENUMX\ORVPCARD_SERP\0000\Control]

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\DISPLAY\Monitor\1&0]
"ClassGUID"="{4d36e96e-e325-11ce-bfc1-08002be10318}"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\DISPLAY\Monitor\1&0\Control]

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4d36e978-e325-11ce-bfc1-08002be10318}\0001]
"DriverDesc"="ORVEK serial port"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Class\{4d36e978-e325-11ce-bfc1-08002be10318}\0002]
"DriverDesc"="ORVEK parallel port"
)reg";

constexpr const char* kSerial0Path = R"(ORVPCARD_ENUM\ORVPCARD_SERP\0000)";
const std::u16string kSerial0 = testing_support::InstanceKey(kSerial0Path);
constexpr const char16_t* kClass =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e978-e325-11ce-bfc1-08002be10318}";

HKEY InvalidKey() {
  return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
}

SP_DEVINFO_DATA Element() {
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  return device;
}

// The set of the instances under `enumerator`, of every class.
HDEVINFO AllClasses(SimWindows& api, const WCHAR* enumerator) {
  return api.SetupDiGetClassDevsW(nullptr, enumerator, nullptr, DIGCF_ALLCLASSES);
}

// The member of `set` at `index`.
SP_DEVINFO_DATA MemberAt(SimWindows& api, HDEVINFO set, DWORD index) {
  SP_DEVINFO_DATA device = Element();
  EXPECT_TRUE(api.SetupDiEnumDeviceInfo(set, index, &device)) << "member " << index;
  return device;
}

SP_PROPCHANGE_PARAMS PropChange() {
  SP_PROPCHANGE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
  params.StateChange = DICS_PROPCHANGE;
  params.Scope = DICS_FLAG_GLOBAL;
  return params;
}

// The instance paths of a set's members, in enumeration order, read from the trace.
std::vector<std::string> Members(SimWindows& api, HDEVINFO set) {
  std::vector<std::string> paths;
  SP_DEVINFO_DATA device = Element();
  for (DWORD index = 0; api.SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    paths.push_back(api.trace().back().device);
  }
  EXPECT_EQ(api.GetLastError(), ERROR_NO_MORE_ITEMS);
  return paths;
}

// Tests on the machine of kDevices; each must leave no handle open.
class SimSetupApiDevicesTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(api.OpenHandleCount(), 0u); }

  SimMachine sim{kDevices};
  SimWindows& api = sim.api();
};

TEST(SimSetupApiTest, SetHoldsInstancesUnderTheTextAtABackslashBoundary) {
  const std::string serp0 = R"(ORVPCARD_ENUM\ORVPCARD_SERP\0000)";
  const std::string serp1 = R"(ORVPCARD_ENUM\ORVPCARD_SERP\0001)";
  const std::string par0 = R"(ORVPCARD_ENUM\ORVPCARD_PARPECP\0000)";
  struct Case {
    const char16_t* text;
    DWORD flags;
    std::vector<std::string> members;
  };
  const Case cases[] = {
      {u"ORVPCARD_ENUM", DIGCF_ALLCLASSES, {par0, serp0, serp1}},
      {u"ORVPCARD_ENUM", DIGCF_ALLCLASSES | DIGCF_PRESENT, {par0, serp0}},
      {u"orvpcard_enum\\orvpcard_serp", DIGCF_ALLCLASSES, {serp0, serp1}},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP", DIGCF_ALLCLASSES | DIGCF_PRESENT, {serp0}},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0001", DIGCF_ALLCLASSES, {serp1}},
      {u"ORVPCARD_EN", DIGCF_ALLCLASSES, {}},
      {u"ORVPCARD_ENUM\\", DIGCF_ALLCLASSES, {}},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0000\\Control", DIGCF_ALLCLASSES, {}},
      {u"LPTENUM", DIGCF_ALLCLASSES, {}},
      {u"DISPLAY", DIGCF_ALLCLASSES | DIGCF_PRESENT, {R"(DISPLAY\Monitor\1&0)"}},
      {nullptr,
       DIGCF_ALLCLASSES | DIGCF_PRESENT,
       {R"(DISPLAY\Monitor\1&0)", par0, serp0, R"(ORVPCARD_ENUMX\ORVPCARD_SERP\0000)"}},
  };
  SimMachine sim(kDevices);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text == nullptr ? "null" : Narrow(c.text));
    HDEVINFO set = sim.api().SetupDiGetClassDevsW(nullptr, c.text, nullptr, c.flags);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Members(sim.api(), set), c.members);
    EXPECT_TRUE(sim.api().SetupDiDestroyDeviceInfoList(set));
  }
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST_F(SimSetupApiDevicesTest, SetNeedsAllClassesWithoutAClassAndFiltersByClassOtherwise) {
  EXPECT_EQ(api.SetupDiGetClassDevsW(nullptr, u"ORVPCARD_ENUM", nullptr, DIGCF_PRESENT),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_PARAMETER);

  const GUID monitors = {
      0x4d36e96e, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
  HDEVINFO set = api.SetupDiGetClassDevsW(&monitors, nullptr, nullptr, DIGCF_PRESENT);
  EXPECT_EQ(Members(api, set), std::vector<std::string>{R"(DISPLAY\Monitor\1&0)"});
  api.SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(sim.Calls({"SetupDiGetClassDevsW"}),
            (std::vector<std::string>{
                R"(SetupDiGetClassDevsW(null, "ORVPCARD_ENUM", 0x2) = INVALID_HANDLE_VALUE (0x57))",
                "SetupDiGetClassDevsW({4D36E96E-E325-11CE-BFC1-08002BE10318}, null, 0x2) = set#1 "
                "-> 1 member"}));
}

TEST_F(SimSetupApiDevicesTest, EnumerationChecksTheRecordAndFillsIt) {
  HDEVINFO set = AllClasses(api, u"ORVPCARD_ENUM");
  SP_DEVINFO_DATA device = Element();
  device.cbSize = 28;  // the 32-bit record in a 64-bit process
  EXPECT_FALSE(api.SetupDiEnumDeviceInfo(set, 0, &device));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_USER_BUFFER);
  EXPECT_FALSE(api.SetupDiEnumDeviceInfo(set, 0, nullptr));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_USER_BUFFER);
  EXPECT_FALSE(api.SetupDiEnumDeviceInfo(INVALID_HANDLE_VALUE, 0, &device));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);

  SP_DEVINFO_DATA first = MemberAt(api, set, 0);
  SP_DEVINFO_DATA third = MemberAt(api, set, 2);
  EXPECT_EQ(first.ClassGuid.Data1, 0x4d36e978u);
  EXPECT_EQ(first.ClassGuid.Data2, 0xe325);
  EXPECT_EQ(first.ClassGuid.Data4[7], 0x18);
  EXPECT_EQ(first.Reserved, 1u);
  EXPECT_EQ(third.Reserved, 3u);
  EXPECT_NE(first.DevInst, third.DevInst);
  device = Element();
  EXPECT_FALSE(api.SetupDiEnumDeviceInfo(set, 3, &device));
  EXPECT_EQ(api.GetLastError(), ERROR_NO_MORE_ITEMS);

  // An element of another set is not a member of this one.
  HDEVINFO other = AllClasses(api, u"ORVPCARD_ENUM");
  EXPECT_EQ(api.SetupDiOpenDevRegKey(other, &first, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS),
            InvalidKey());
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_PARAMETER);
  api.SetupDiDestroyDeviceInfoList(other);
  EXPECT_TRUE(api.SetupDiDestroyDeviceInfoList(set));
  EXPECT_FALSE(api.SetupDiDestroyDeviceInfoList(set));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(SimSetupApiDevicesTest, DeviceKeyOpensOnlyWhenItExists) {
  HDEVINFO set = AllClasses(api, u"ORVPCARD_ENUM\\ORVPCARD_SERP");
  SP_DEVINFO_DATA serp0 = MemberAt(api, set, 0);
  SP_DEVINFO_DATA serp1 = MemberAt(api, set, 1);

  // The instance without Device Parameters: the open fails and creates nothing.
  EXPECT_EQ(api.SetupDiOpenDevRegKey(set, &serp1, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS),
            InvalidKey());
  EXPECT_EQ(api.GetLastError(), ERROR_KEY_DOES_NOT_EXIST);
  EXPECT_EQ(sim.Key(u"SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0001\\Device "
                    u"Parameters"),
            nullptr);
  EXPECT_EQ(api.SetupDiOpenDevRegKey(set, &serp0, DICS_FLAG_GLOBAL, 0, 7, KEY_ALL_ACCESS),
            InvalidKey());
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_FLAGS);

  HKEY hardware =
      api.SetupDiOpenDevRegKey(set, &serp0, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  ASSERT_NE(hardware, InvalidKey());
  ASSERT_NE(hardware, nullptr);
  WCHAR name[256] = {};
  DWORD size = sizeof name;
  EXPECT_EQ(api.RegQueryValueExW(hardware, u"PortName", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(name), &size),
            0);
  EXPECT_EQ(std::u16string(name), u"COM3");
  size = sizeof name;
  EXPECT_EQ(api.RegQueryValueExW(hardware, u"PollingPeriod", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(name), &size),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(api.RegCloseKey(hardware), 0);

  HKEY software = api.SetupDiOpenDevRegKey(set, &serp0, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  ASSERT_NE(software, InvalidKey());
  size = sizeof name;
  EXPECT_EQ(api.RegQueryValueExW(software, u"DriverDesc", nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(name), &size),
            0);
  EXPECT_EQ(std::u16string(name), u"ORVEK serial port");
  api.RegCloseKey(software);
  api.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimSetupApiDevicesTest, PropertiesFollowTheBufferRules) {
  HDEVINFO set = AllClasses(api, u"ORVPCARD_ENUM\\ORVPCARD_SERP");
  SP_DEVINFO_DATA device = MemberAt(api, set, 0);
  const std::u16string location = u"ORVEK COM Port 1";
  const DWORD needed = static_cast<DWORD>((location.size() + 1) * 2);

  BYTE buffer[520];
  std::memset(buffer, 0xAA, sizeof buffer);
  DWORD type = 0;
  DWORD required = 0;
  EXPECT_FALSE(api.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_LOCATION_INFORMATION,
                                                     &type, buffer, needed - 1, &required));
  EXPECT_EQ(api.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(required, needed);
  EXPECT_EQ(buffer[0], 0xAA);  // untouched

  EXPECT_TRUE(api.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_LOCATION_INFORMATION, &type,
                                                    buffer, needed, &required));
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), location);
  EXPECT_EQ(buffer[needed], 0xAA);

  EXPECT_FALSE(api.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                     buffer, sizeof buffer, nullptr));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_DATA);
  EXPECT_FALSE(api.SetupDiGetDeviceRegistryPropertyW(set, &device, 99, nullptr, buffer,
                                                     sizeof buffer, nullptr));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_REG_PROPERTY);

  // A write stores the bytes as REG_SZ FriendlyName, exactly as given.
  const std::u16string friendly = u"ORVEK COM Port (COM3)";
  EXPECT_TRUE(api.SetupDiSetDeviceRegistryPropertyW(
      set, &device, SPDRP_FRIENDLYNAME, reinterpret_cast<const BYTE*>(friendly.c_str()), 44));
  EXPECT_EQ(sim.Key(kSerial0)->FindValue(u"FriendlyName")->type(), REG_SZ);
  EXPECT_EQ(sim.Bytes(kSerial0, u"FriendlyName").size(), 44u);
  EXPECT_EQ(sim.Text(kSerial0, u"FriendlyName"), friendly);
  EXPECT_EQ(
      sim.Calls({"SetupDiSetDeviceRegistryPropertyW"}),
      std::vector<std::string>{
          R"x(SetupDiSetDeviceRegistryPropertyW(set#1[0], 12, "ORVEK COM Port (COM3)", 44) = )x"
          R"(TRUE [ORVPCARD_ENUM\ORVPCARD_SERP\0000])"});
  api.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimSetupApiDevicesTest, PropertyChangeRestartsPresentDevicesOnly) {
  HDEVINFO set = AllClasses(api, u"ORVPCARD_ENUM\\ORVPCARD_SERP");
  SP_DEVINFO_DATA present = MemberAt(api, set, 0);
  SP_DEVINFO_DATA absent = MemberAt(api, set, 1);
  SP_PROPCHANGE_PARAMS params = PropChange();

  // Without parameters there is nothing to do.
  EXPECT_FALSE(api.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &present));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_PARAMETER);

  // Malformed parameters are refused.
  SP_PROPCHANGE_PARAMS badHeader = params;
  badHeader.ClassInstallHeader.cbSize = 20;
  EXPECT_FALSE(api.SetupDiSetClassInstallParamsW(set, &present, &badHeader.ClassInstallHeader, 20));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_USER_BUFFER);
  EXPECT_FALSE(api.SetupDiSetClassInstallParamsW(set, &present, &params.ClassInstallHeader, 16));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_PARAMETER);

  for (DWORD expected = 1; expected <= 2; ++expected) {
    EXPECT_TRUE(api.SetupDiSetClassInstallParamsW(set, &present, &params.ClassInstallHeader, 20));
    EXPECT_TRUE(api.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &present));
    EXPECT_EQ(RestartCount(sim, kSerial0Path), expected);
  }
  // The count follows the values that were there before it.
  EXPECT_EQ(sim.Key(std::u16string(kSerial0) + u"\\Control")->values().back().name(),
            u"RestartCount");

  EXPECT_TRUE(api.SetupDiSetClassInstallParamsW(set, &absent, &params.ClassInstallHeader, 20));
  EXPECT_FALSE(api.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &absent));
  EXPECT_EQ(api.GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_EQ(
      sim.Key(u"SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0001\\Control"),
      nullptr);

  EXPECT_EQ(sim.Calls({"SetupDiSetClassInstallParamsW", "SetupDiCallClassInstaller"})[3],
            R"(SetupDiSetClassInstallParamsW(set#1[0], 0x12, 0x3, 0x1, 0, 20) = TRUE )"
            R"([ORVPCARD_ENUM\ORVPCARD_SERP\0000])");
  EXPECT_EQ(sim.Calls({"SetupDiCallClassInstaller"}).back(),
            R"(SetupDiCallClassInstaller(0x12, set#1[1]) = FALSE (0xE000020B) )"
            R"([ORVPCARD_ENUM\ORVPCARD_SERP\0001])");
  api.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimSetupApiDevicesTest, RemovalDeletesTheKeysAndKeepsTheIndices) {
  HDEVINFO set = AllClasses(api, u"ORVPCARD_ENUM");
  SP_DEVINFO_DATA device = MemberAt(api, set, 1);  // ORVPCARD_SERP\0000
  HKEY hardware =
      api.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  ASSERT_NE(hardware, InvalidKey());

  EXPECT_TRUE(api.SetupDiRemoveDevice(set, &device));
  EXPECT_EQ(sim.Key(kSerial0), nullptr);
  EXPECT_EQ(sim.Key(std::u16string(kClass) + u"\\0001"), nullptr);
  EXPECT_NE(sim.Key(std::u16string(kClass) + u"\\0002"), nullptr);
  EXPECT_NE(sim.Key(u"SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0001"),
            nullptr);

  // The open key handle now names a deleted key.
  DWORD size = 0;
  EXPECT_EQ(api.RegQueryValueExW(hardware, u"PortName", nullptr, nullptr, nullptr, &size),
            static_cast<LONG>(ERROR_KEY_DELETED));
  EXPECT_EQ(api.RegCloseKey(hardware), 0);

  // Later calls about the removed member fail; the member keeps its place.
  EXPECT_FALSE(api.SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, ALL_HARDWARE_PROFILES,
                                          DIREG_BOTH));
  EXPECT_EQ(api.GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_FALSE(api.SetupDiRemoveDevice(set, &device));
  EXPECT_EQ(api.GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_EQ(api.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS),
            InvalidKey());
  EXPECT_EQ(api.GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_FALSE(api.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_LOCATION_INFORMATION,
                                                     nullptr, nullptr, 0, nullptr));
  EXPECT_EQ(api.GetLastError(), ERROR_NO_SUCH_DEVINST);
  EXPECT_EQ(Members(api, set), (std::vector<std::string>{R"(ORVPCARD_ENUM\ORVPCARD_PARPECP\0000)",
                                                         R"(ORVPCARD_ENUM\ORVPCARD_SERP\0000)",
                                                         R"(ORVPCARD_ENUM\ORVPCARD_SERP\0001)"}));
  api.SetupDiDestroyDeviceInfoList(set);

  // A new set no longer lists it.
  set = AllClasses(api, u"ORVPCARD_ENUM\\ORVPCARD_SERP");
  EXPECT_EQ(Members(api, set), std::vector<std::string>{R"(ORVPCARD_ENUM\ORVPCARD_SERP\0001)"});
  api.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimSetupApiDevicesTest, DeleteDevRegKeyDeletesHardwareAndSoftwareKeys) {
  HDEVINFO set = AllClasses(api, u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0000");
  SP_DEVINFO_DATA device = MemberAt(api, set, 0);
  EXPECT_TRUE(api.SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, ALL_HARDWARE_PROFILES,
                                         DIREG_BOTH));
  EXPECT_EQ(sim.Key(std::u16string(kSerial0) + u"\\Device Parameters"), nullptr);
  EXPECT_EQ(sim.Key(std::u16string(kClass) + u"\\0001"), nullptr);
  EXPECT_NE(sim.Key(kSerial0), nullptr);  // the node itself stays
  // Deleting keys that are gone succeeds.
  EXPECT_TRUE(api.SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, ALL_HARDWARE_PROFILES,
                                         DIREG_BOTH));
  api.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimSetupApiDevicesTest, DriverValueNamingAWholeClassDeletesNothing) {
  sim.Key(u"SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0001")
      ->SetValue(u"Driver", REG_SZ, StringData(u"{4d36e978-e325-11ce-bfc1-08002be10318}"));
  HDEVINFO set = AllClasses(api, u"ORVPCARD_ENUM\\ORVPCARD_SERP\\0001");
  SP_DEVINFO_DATA device = MemberAt(api, set, 0);
  EXPECT_TRUE(api.SetupDiRemoveDevice(set, &device));
  EXPECT_NE(sim.Key(std::u16string(kClass) + u"\\0001"), nullptr);
  EXPECT_NE(sim.Key(std::u16string(kClass) + u"\\0002"), nullptr);
  api.SetupDiDestroyDeviceInfoList(set);
}

TEST_F(SimSetupApiDevicesTest, TraceOfAPortNamePass) {
  HDEVINFO set = api.SetupDiGetClassDevsW(nullptr, u"ORVPCARD_ENUM\\ORVPCARD_SERP", nullptr,
                                          DIGCF_ALLCLASSES | DIGCF_PRESENT);
  SP_DEVINFO_DATA device = Element();
  for (DWORD index = 0; api.SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    HKEY key =
        api.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
    WCHAR name[256] = {};
    DWORD size = sizeof name;
    api.RegQueryValueExW(key, u"PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &size);
    api.RegSetValueExW(key, u"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"COM5"), 10);
    api.RegCloseKey(key);
    BYTE location[520] = {};
    api.SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_LOCATION_INFORMATION, nullptr,
                                          location, sizeof location, nullptr);
    api.SetupDiRemoveDevice(set, &device);
    api.SetupDiDeleteDevRegKey(set, &device, DICS_FLAG_GLOBAL, ALL_HARDWARE_PROFILES, DIREG_BOTH);
  }
  api.SetupDiDestroyDeviceInfoList(set);
  const std::string dev = R"( [ORVPCARD_ENUM\ORVPCARD_SERP\0000])";
  EXPECT_EQ(
      sim.api().TraceLines(),
      (std::vector<std::string>{
          R"(SetupDiGetClassDevsW(null, "ORVPCARD_ENUM\ORVPCARD_SERP", 0x6) = set#1 -> 1 member)",
          "SetupDiEnumDeviceInfo(set#1, 0) = TRUE" + dev,
          "SetupDiOpenDevRegKey(set#1[0], 0x1, 0, 0x1, 0xF003F) = key#2" + dev,
          R"(RegQueryValueExW(key#2, "PortName", 512) = 0 -> 0x1, "COM3", 10)" + dev,
          R"(RegSetValueExW(key#2, "PortName", 0, 0x1, "COM5", 10) = 0)" + dev,
          "RegCloseKey(key#2) = 0" + dev,
          R"(SetupDiGetDeviceRegistryPropertyW(set#1[0], 13, 520) = TRUE -> 0x1, )"
          R"("ORVEK COM Port 1", 34)" +
              dev,
          "SetupDiRemoveDevice(set#1[0]) = TRUE" + dev,
          "SetupDiDeleteDevRegKey(set#1[0], 0x1, 0xFFFFFFFF, 0x4) = FALSE (0xE000020B)" + dev,
          "SetupDiEnumDeviceInfo(set#1, 1) = FALSE (0x103)",
          "SetupDiDestroyDeviceInfoList(set#1) = TRUE",
      }));
}

TEST_F(SimSetupApiDevicesTest, ArmedFaultsHitTheNamedMemberAndCall) {
  api.ArmFault(
      {.api = "SetupDiOpenDevRegKey", .device = "orvpcard_parpecp", .status = ERROR_ACCESS_DENIED});
  api.ArmFault({.api = "SetupDiEnumDeviceInfo", .nth = 3, .status = ERROR_INVALID_DATA});
  HDEVINFO set = api.SetupDiGetClassDevsW(nullptr, u"ORVPCARD_ENUM", nullptr,
                                          DIGCF_ALLCLASSES | DIGCF_PRESENT);
  SP_DEVINFO_DATA device = MemberAt(api, set, 0);  // ORVPCARD_PARPECP\0000
  EXPECT_EQ(api.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS),
            InvalidKey());
  EXPECT_EQ(api.GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(api.SetupDiEnumDeviceInfo(set, 1, &device));  // ORVPCARD_SERP\0000
  HKEY key = api.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
  EXPECT_NE(key, InvalidKey());
  api.RegCloseKey(key);
  // The third enumeration fails although its index is valid; the fourth works again.
  EXPECT_FALSE(api.SetupDiEnumDeviceInfo(set, 0, &device));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_DATA);
  EXPECT_TRUE(api.SetupDiEnumDeviceInfo(set, 0, &device));
  api.SetupDiDestroyDeviceInfoList(set);

  api.ArmFault({.api = "SetupDiGetClassDevsW", .text = "LPTENUM", .status = ERROR_INVALID_DATA});
  EXPECT_EQ(AllClasses(api, u"LPTENUM"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_DATA);
  api.ArmFault({.api = "ComDBOpen", .status = ERROR_ACCESS_DENIED});
  HCOMDB database = nullptr;
  EXPECT_EQ(api.ComDBOpen(&database), static_cast<LONG>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(database, INVALID_HANDLE_VALUE);
}

// "SimulateFailure" in an instance key fails the listed calls for that device only, including
// registry calls through its hardware key.
TEST(SimSetupApiTest, ImageFaultsFailTheListedCallsOfOneDevice) {
  const std::string failures = HexLine(
      REG_MULTI_SZ, winsim::MultiStringData({u"SetupDiCallClassInstaller", u"RegSetValueExW"}));
  SimMachine sim(std::string(kDevices) +
                 "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_"
                 "SERP\\0000]\n\"SimulateFailure\"=" +
                 failures + "\n");
  SimWindows& api = sim.api();
  HDEVINFO set = api.SetupDiGetClassDevsW(nullptr, u"ORVPCARD_ENUM", nullptr,
                                          DIGCF_ALLCLASSES | DIGCF_PRESENT);
  SP_PROPCHANGE_PARAMS params = PropChange();
  std::vector<BOOL> restarts;
  std::vector<LONG> writes;
  SP_DEVINFO_DATA device = Element();
  for (DWORD index = 0; api.SetupDiEnumDeviceInfo(set, index, &device); ++index) {
    api.SetupDiSetClassInstallParamsW(set, &device, &params.ClassInstallHeader, sizeof params);
    restarts.push_back(api.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device));
    HKEY key =
        api.SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_ALL_ACCESS);
    if (key != InvalidKey()) {
      writes.push_back(api.RegSetValueExW(key, u"PortName", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(u"COM9"), 10));
      api.RegCloseKey(key);
    }
  }
  api.SetupDiDestroyDeviceInfoList(set);
  EXPECT_EQ(restarts, (std::vector<BOOL>{TRUE, FALSE}));  // PARPECP\0000, SERP\0000
  EXPECT_EQ(writes, std::vector<LONG>{static_cast<LONG>(ERROR_ACCESS_DENIED)});
  EXPECT_EQ(sim.Text(std::u16string(kSerial0) + u"\\Device Parameters", u"PortName"), u"COM3");
  EXPECT_EQ(RestartCount(sim, kSerial0Path), 0u);
}

}  // namespace
}  // namespace winsim
