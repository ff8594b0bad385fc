// The device cases: device sets, their members, device keys and properties, restarts and
// removal (the fixture's two ORVCONTRACT devices).
#include "tests/contract/contract_check.h"

namespace contract {

namespace {

constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr const WCHAR* kEnumerator = u"ORVCONTRACT";

// What SetupDiOpenDevRegKey gives for no key.
const HKEY kInvalidKey = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);

// The text of a string value of `key`; empty when it cannot be read.
std::u16string ValueText(WindowsApi& api, HKEY key, const WCHAR* name) {
  WCHAR text[64] = {};
  DWORD size = sizeof text - sizeof(WCHAR);
  const LONG status =
      api.RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
  return status == ERROR_SUCCESS ? std::u16string(text) : std::u16string();
}

// A member record as SetupDiEnumDeviceInfo takes it: zeros, and its size.
SP_DEVINFO_DATA EmptyMember() {
  SP_DEVINFO_DATA member{};
  member.cbSize = sizeof member;
  return member;
}

// Runs `body` on the set of the fixture's two devices, with its members 0 and 1.
std::function<void(Check&)> WithDevices(
    std::function<void(Check&, HDEVINFO, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*)> body) {
  return [body](Check& c) {
    HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
      c.Fail("SetupDiGetClassDevsW failed with " + std::to_string(c.api.GetLastError()));
      return;
    }
    SP_DEVINFO_DATA first = EmptyMember();
    SP_DEVINFO_DATA second = EmptyMember();
    if (c.api.SetupDiEnumDeviceInfo(set, 0, &first) == FALSE ||
        c.api.SetupDiEnumDeviceInfo(set, 1, &second) == FALSE) {
      c.Fail("the fixture's devices are not both in the set");
    } else {
      body(c, set, &first, &second);
    }
    c.api.SetupDiDestroyDeviceInfoList(set);
  };
}

// Cases of SetupDiOpenDevRegKey on member 0 (or 1, `second`) of the fixture's set: the call fails
// with `error`, or member 0's key of `keyType` opens and its string value `value` reads `text`.
Case FailingDeviceKey(const char* name, bool second, DWORD scope, DWORD keyType, DWORD error) {
  return {name, WithDevices([=](Check& c, HDEVINFO set, SP_DEVINFO_DATA* member0,
                                SP_DEVINFO_DATA* member1) {
            HKEY key = c.api.SetupDiOpenDevRegKey(set, second ? member1 : member0, scope, 0,
                                                  keyType, KEY_READ);
            c.Error("SetupDiOpenDevRegKey", key == kInvalidKey, true, error);
          })};
}
Case DeviceKeyText(const char* name, DWORD keyType, const WCHAR* value, const WCHAR* text) {
  return {
      name, WithDevices([=](Check& c, HDEVINFO set, SP_DEVINFO_DATA* member0, SP_DEVINFO_DATA*) {
        HKEY key = c.api.SetupDiOpenDevRegKey(set, member0, DICS_FLAG_GLOBAL, 0, keyType, KEY_READ);
        c.True("a key", key != kInvalidKey);
        c.Text(Utf16ToUtf8(value), ValueText(c.api, key, value), text);
        c.api.RegCloseKey(key);
      })};
}

// Sets a text property of `device` to `text` and its terminator.
template <std::size_t N>
BOOL SetText(WindowsApi& api, HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
             const WCHAR (&text)[N]) {
  return api.SetupDiSetDeviceRegistryPropertyW(set, device, property,
                                               reinterpret_cast<const BYTE*>(text), sizeof text);
}

DWORD MemberCount(WindowsApi& api, HDEVINFO set) {
  SP_DEVINFO_DATA member = EmptyMember();
  DWORD count = 0;
  while (api.SetupDiEnumDeviceInfo(set, count, &member) != FALSE) {
    ++count;
  }
  return count;
}

// A device registry property read into a buffer of `bytes` (null when kNoBuffer).
struct PropertyCase {
  const char* name;
  bool second;  // of member 1, else member 0
  DWORD property;
  DWORD bytes;
  BOOL returned;
  DWORD error;  // when it failed
  DWORD type;   // 0: not checked
  DWORD required;
  const WCHAR* text;  // compared when it succeeded
};
const PropertyCase kProperties[] = {
    {"SetupDiGetDeviceRegistryPropertyW class GUID", false, 8, 128, TRUE, 0, REG_SZ, 78,
     u"{4d36e978-e325-11ce-bfc1-08002be10318}"},
    {"SetupDiGetDeviceRegistryPropertyW driver key name", false, 9, 128, TRUE, 0, REG_SZ, 88,
     u"{4d36e978-e325-11ce-bfc1-08002be10318}\\0042"},
    {"SetupDiGetDeviceRegistryPropertyW null buffer: the size needed", false, SPDRP_FRIENDLYNAME,
     kNoBuffer, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 42, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW exact buffer", false, SPDRP_FRIENDLYNAME, 42, TRUE, 0,
     REG_SZ, 42, u"Contract Port (COM3)"},
    {"SetupDiGetDeviceRegistryPropertyW buffer one byte short", false, SPDRP_FRIENDLYNAME, 41,
     FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 42, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs: REG_MULTI_SZ", false, 1, 64, TRUE, 0,
     REG_MULTI_SZ, 36, u"ORVCONTRACT\\PORT"},
    {"SetupDiGetDeviceRegistryPropertyW missing property: ERROR_INVALID_DATA", true,
     SPDRP_FRIENDLYNAME, 64, FALSE, ERROR_INVALID_DATA, 0, 0, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW unknown property code: ERROR_INVALID_REG_PROPERTY", false,
     0x1000, 64, FALSE, ERROR_INVALID_REG_PROPERTY, 0, 0, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs, null buffer: the size needed", false, 1,
     kNoBuffer, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_MULTI_SZ, 36, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs, exact buffer", false, 1, 36, TRUE, 0,
     REG_MULTI_SZ, 36, u"ORVCONTRACT\\PORT"},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs, buffer one byte short", false, 1, 35, FALSE,
     ERROR_INSUFFICIENT_BUFFER, REG_MULTI_SZ, 36, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs of member 1", true, 1, 64, TRUE, 0,
     REG_MULTI_SZ, 36, u"ORVCONTRACT\\PORT"},
    {"SetupDiGetDeviceRegistryPropertyW driver key name, null buffer: the size needed", false, 9,
     kNoBuffer, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 88, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW friendly name, buffer of 0 bytes", false,
     SPDRP_FRIENDLYNAME, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 42, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW missing property, null buffer: ERROR_INVALID_DATA", true,
     SPDRP_FRIENDLYNAME, kNoBuffer, FALSE, ERROR_INVALID_DATA, 0, 0, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW missing device description: ERROR_INVALID_DATA", false, 0,
     64, FALSE, ERROR_INVALID_DATA, 0, 0, nullptr},
};

void RunProperty(Check& c, HDEVINFO set, SP_DEVINFO_DATA* device, const PropertyCase& p) {
  BYTE buffer[128] = {};
  DWORD type = 0;
  DWORD required = 0;
  const bool withBuffer = p.bytes != kNoBuffer;
  const BOOL ok = c.api.SetupDiGetDeviceRegistryPropertyW(set, device, p.property, &type,
                                                          withBuffer ? buffer : nullptr,
                                                          withBuffer ? p.bytes : 0, &required);
  if (ok != FALSE) {
    c.Eq("returned", ok, TRUE);
  } else {
    c.Error("SetupDiGetDeviceRegistryPropertyW", ok, p.returned, p.error);
  }
  if (p.type != 0) {
    c.Eq("type", type, p.type);
    c.Eq("size needed", required, p.required);
  }
  if (p.text != nullptr && ok != FALSE) {
    c.Text("text", reinterpret_cast<const WCHAR*>(buffer), p.text);
  }
}

const Case kDeviceCases[] = {
    {"SetupDiGetClassDevsW of an enumerator, all classes: its devices",
     [](Check& c) {
       HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
       c.True("a set", set != INVALID_HANDLE_VALUE);
       c.Eq("members", MemberCount(c.api, set), 2);
       c.Eq("SetupDiDestroyDeviceInfoList", c.api.SetupDiDestroyDeviceInfoList(set), TRUE);
     }},
    {"SetupDiGetClassDevsW of a class and an enumerator",
     [](Check& c) {
       HDEVINFO set = c.api.SetupDiGetClassDevsW(&kPortsClass, kEnumerator, nullptr, 0);
       c.Eq("members", MemberCount(c.api, set), 2);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
    {"SetupDiGetClassDevsW of an enumerator and a device",
     [](Check& c) {
       HDEVINFO set =
           c.api.SetupDiGetClassDevsW(nullptr, u"ORVCONTRACT\\PORT", nullptr, DIGCF_ALLCLASSES);
       c.Eq("members", MemberCount(c.api, set), 2);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
    {"SetupDiGetClassDevsW of another class: none of the enumerator's devices",
     [](Check& c) {
       const GUID other = {
           0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
       HDEVINFO set = c.api.SetupDiGetClassDevsW(&other, kEnumerator, nullptr, 0);
       c.Eq("members", MemberCount(c.api, set), 0);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
    {"SetupDiGetClassDevsW without class nor DIGCF_ALLCLASSES: ERROR_INVALID_PARAMETER",
     [](Check& c) {
       HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, 0);
       c.Error("SetupDiGetClassDevsW", set == INVALID_HANDLE_VALUE, true, ERROR_INVALID_PARAMETER);
     }},
    {"SetupDiEnumDeviceInfo member 0: its class",
     WithDevices([](Check& c, HDEVINFO, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       c.True("class GUID", std::memcmp(&first->ClassGuid, &kPortsClass, sizeof(GUID)) == 0);
       c.Eq("cbSize kept", first->cbSize, sizeof(SP_DEVINFO_DATA));
     })},
    {"SetupDiEnumDeviceInfo past the end: FALSE, ERROR_NO_MORE_ITEMS",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       SP_DEVINFO_DATA member = EmptyMember();
       c.Error("SetupDiEnumDeviceInfo", c.api.SetupDiEnumDeviceInfo(set, 2, &member), FALSE,
               ERROR_NO_MORE_ITEMS);
     })},
    {"SetupDiEnumDeviceInfo wrong cbSize: ERROR_INVALID_USER_BUFFER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       SP_DEVINFO_DATA member{};
       member.cbSize = 0;
       c.Error("SetupDiEnumDeviceInfo", c.api.SetupDiEnumDeviceInfo(set, 0, &member), FALSE,
               ERROR_INVALID_USER_BUFFER);
     })},
    {"SetupDiEnumDeviceInfo of no set: ERROR_INVALID_HANDLE",
     [](Check& c) {
       SP_DEVINFO_DATA member = EmptyMember();
       c.Error("SetupDiEnumDeviceInfo",
               c.api.SetupDiEnumDeviceInfo(INVALID_HANDLE_VALUE, 0, &member), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"SetupDiDestroyDeviceInfoList of no set: ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Error("SetupDiDestroyDeviceInfoList",
               c.api.SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"SetupDiEnumDeviceInfo far past the end, then member 1: its class",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       SP_DEVINFO_DATA member = EmptyMember();
       c.Error("SetupDiEnumDeviceInfo 1000", c.api.SetupDiEnumDeviceInfo(set, 1000, &member), FALSE,
               ERROR_NO_MORE_ITEMS);
       c.Eq("SetupDiEnumDeviceInfo 1", c.api.SetupDiEnumDeviceInfo(set, 1, &member), TRUE);
       c.True("class GUID", std::memcmp(&member.ClassGuid, &kPortsClass, sizeof(GUID)) == 0);
     })},
    {"SetupDiGetDeviceRegistryPropertyW of no set: ERROR_INVALID_HANDLE",
     WithDevices([](Check& c, HDEVINFO, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       DWORD required = 0;
       c.Error("SetupDiGetDeviceRegistryPropertyW",
               c.api.SetupDiGetDeviceRegistryPropertyW(
                   INVALID_HANDLE_VALUE, first, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0, &required),
               FALSE, ERROR_INVALID_HANDLE);
     })},
    {"SetupDiGetDeviceRegistryPropertyW without a device: ERROR_INVALID_PARAMETER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       DWORD required = 0;
       c.Error("SetupDiGetDeviceRegistryPropertyW",
               c.api.SetupDiGetDeviceRegistryPropertyW(set, nullptr, SPDRP_FRIENDLYNAME, nullptr,
                                                       nullptr, 0, &required),
               FALSE, ERROR_INVALID_PARAMETER);
     })},
    {"SetupDiOpenDevRegKey of no set: ERROR_INVALID_HANDLE",
     WithDevices([](Check& c, HDEVINFO, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       HKEY key = c.api.SetupDiOpenDevRegKey(INVALID_HANDLE_VALUE, first, DICS_FLAG_GLOBAL, 0,
                                             DIREG_DEV, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == kInvalidKey, true, ERROR_INVALID_HANDLE);
     })},
    {"SetupDiOpenDevRegKey without a device: ERROR_INVALID_PARAMETER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       HKEY key =
           c.api.SetupDiOpenDevRegKey(set, nullptr, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == kInvalidKey, true, ERROR_INVALID_PARAMETER);
     })},
    DeviceKeyText("SetupDiOpenDevRegKey hardware key: the device's parameters", DIREG_DEV,
                  u"PortName", u"COM3"),
    DeviceKeyText("SetupDiOpenDevRegKey software key: the driver's key", DIREG_DRV, u"DriverDesc",
                  u"Contract Port"),
    FailingDeviceKey("SetupDiOpenDevRegKey hardware key that does not exist: INVALID_HANDLE_VALUE",
                     true, DICS_FLAG_GLOBAL, DIREG_DEV, ERROR_KEY_DOES_NOT_EXIST),
    FailingDeviceKey(
        "SetupDiOpenDevRegKey software key of a device without driver: INVALID_HANDLE_VALUE", true,
        DICS_FLAG_GLOBAL, DIREG_DRV, ERROR_KEY_DOES_NOT_EXIST),
    FailingDeviceKey("SetupDiOpenDevRegKey unknown scope: ERROR_INVALID_FLAGS", false, 0x10,
                     DIREG_DEV, ERROR_INVALID_FLAGS),
    FailingDeviceKey("SetupDiOpenDevRegKey unknown key type: ERROR_INVALID_FLAGS", false,
                     DICS_FLAG_GLOBAL, 0x10, ERROR_INVALID_FLAGS),
    {"SetupDiSetDeviceRegistryPropertyW friendly name, read back, restored",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       const WCHAR renamed[] = u"Contract Port (COM9)";
       c.Eq("SetupDiSetDeviceRegistryPropertyW",
            SetText(c.api, set, first, SPDRP_FRIENDLYNAME, renamed), TRUE);
       WCHAR back[32] = {};
       DWORD type = 0;
       c.api.SetupDiGetDeviceRegistryPropertyW(set, first, SPDRP_FRIENDLYNAME, &type,
                                               reinterpret_cast<BYTE*>(back), sizeof back, nullptr);
       c.Text("read back", back, renamed);
       c.Eq("type", type, REG_SZ);
       const WCHAR original[] = u"Contract Port (COM3)";
       SetText(c.api, set, first, SPDRP_FRIENDLYNAME, original);
     })},
    {"SetupDiSetDeviceRegistryPropertyW location of a device without one",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA* second) {
       const WCHAR location[] = u"Contract slot";
       c.Eq("SetupDiSetDeviceRegistryPropertyW",
            SetText(c.api, set, second, SPDRP_LOCATION_INFORMATION, location), TRUE);
       DWORD required = 0;
       c.api.SetupDiGetDeviceRegistryPropertyW(set, second, SPDRP_LOCATION_INFORMATION, nullptr,
                                               nullptr, 0, &required);
       c.Eq("size needed", required, sizeof location);
       // No data deletes the property again.
       c.Eq("SetupDiSetDeviceRegistryPropertyW of no data",
            c.api.SetupDiSetDeviceRegistryPropertyW(set, second, SPDRP_LOCATION_INFORMATION,
                                                    nullptr, 0),
            TRUE);
       c.Error("SetupDiGetDeviceRegistryPropertyW after it",
               c.api.SetupDiGetDeviceRegistryPropertyW(set, second, SPDRP_LOCATION_INFORMATION,
                                                       nullptr, nullptr, 0, &required),
               FALSE, ERROR_INVALID_DATA);
     })},
    {"SetupDiSetClassInstallParamsW, SetupDiCallClassInstaller: a property-change restart",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       SP_PROPCHANGE_PARAMS params{};
       params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
       params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
       params.StateChange = DICS_PROPCHANGE;
       params.Scope = DICS_FLAG_GLOBAL;
       c.Eq("SetupDiSetClassInstallParamsW",
            c.api.SetupDiSetClassInstallParamsW(set, first, &params.ClassInstallHeader,
                                                sizeof params),
            TRUE);
       c.Eq("SetupDiCallClassInstaller",
            c.api.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, first), TRUE);
     })},
    {"SetupDiSetClassInstallParamsW wrong header size: ERROR_INVALID_USER_BUFFER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       SP_PROPCHANGE_PARAMS params{};
       params.ClassInstallHeader.cbSize = 1;
       params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
       c.Error("SetupDiSetClassInstallParamsW",
               c.api.SetupDiSetClassInstallParamsW(set, first, &params.ClassInstallHeader,
                                                   sizeof params),
               FALSE, ERROR_INVALID_USER_BUFFER);
     })},
    {"SetupDiDeleteDevRegKey unknown key type: ERROR_INVALID_FLAGS",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       c.Error("SetupDiDeleteDevRegKey",
               c.api.SetupDiDeleteDevRegKey(set, first, DICS_FLAG_GLOBAL, 0, 0x10), FALSE,
               ERROR_INVALID_FLAGS);
     })},
    {"SetupDiRemoveDevice, SetupDiDeleteDevRegKey of a device made for the case",
     [](Check& c) {
       constexpr const WCHAR* kThird =
           u"SYSTEM\\CurrentControlSet\\Enum\\ORVCONTRACT\\PORT\\0002\\Device Parameters";
       constexpr WCHAR kClass[] = u"{4d36e978-e325-11ce-bfc1-08002be10318}";
       HKEY key = nullptr;
       c.api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kThird, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
       c.api.RegCloseKey(key);
       // The instance key, with the class the device lists need.
       c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                           u"SYSTEM\\CurrentControlSet\\Enum\\ORVCONTRACT\\PORT\\0002", 0,
                           KEY_ALL_ACCESS, &key);
       c.api.RegSetValueExW(key, u"ClassGUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(kClass),
                            sizeof kClass);
       c.api.RegCloseKey(key);
       HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
       c.Eq("members with the new device", MemberCount(c.api, set), 3);
       SP_DEVINFO_DATA third = EmptyMember();
       c.api.SetupDiEnumDeviceInfo(set, 2, &third);
       c.Eq("SetupDiDeleteDevRegKey of its hardware key",
            c.api.SetupDiDeleteDevRegKey(set, &third, DICS_FLAG_GLOBAL, 0, DIREG_DEV), TRUE);
       c.Status("its hardware key is gone",
                c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kThird, 0, KEY_READ, &key),
                ERROR_FILE_NOT_FOUND);
       c.Eq("SetupDiRemoveDevice", c.api.SetupDiRemoveDevice(set, &third), TRUE);
       c.api.SetupDiDestroyDeviceInfoList(set);
       set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
       c.Eq("members after the removal", MemberCount(c.api, set), 2);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
};

}  // namespace

std::vector<Case> DeviceCases() {
  std::vector<Case> cases(std::begin(kDeviceCases), std::end(kDeviceCases));
  for (const PropertyCase& p : kProperties) {
    cases.push_back({p.name, WithDevices([&p](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first,
                                              SP_DEVINFO_DATA* second) {
                       RunProperty(c, set, p.second ? second : first, p);
                     })});
  }
  return cases;
}

}  // namespace contract
