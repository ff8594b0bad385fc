#include "winsim/sim_setupapi.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "winsim/reg_data.h"

namespace winsim {

using namespace orv;

namespace {

constexpr DWORD DICS_FLAG_CONFIGSPECIFIC = 2;

constexpr std::u16string_view kEnumKey = u"SYSTEM\\CurrentControlSet\\Enum";
constexpr std::u16string_view kClassKey = u"SYSTEM\\CurrentControlSet\\Control\\Class";
constexpr std::u16string_view kHardwareKey = u"Device Parameters";

// The device registry properties and the instance values that hold them.
struct Property {
  DWORD code;
  std::u16string_view value;
  DWORD type;  // the type a write stores
};
constexpr Property kProperties[] = {
    {0, u"DeviceDesc", REG_SZ},
    {1, u"HardwareID", REG_MULTI_SZ},
    {2, u"CompatibleIDs", REG_MULTI_SZ},
    {4, u"Service", REG_SZ},
    {7, u"Class", REG_SZ},
    {8, u"ClassGUID", REG_SZ},
    {9, u"Driver", REG_SZ},
    {11, u"Mfg", REG_SZ},
    {SPDRP_FRIENDLYNAME, u"FriendlyName", REG_SZ},
    {SPDRP_LOCATION_INFORMATION, u"LocationInformation", REG_SZ},
};

const Property* FindProperty(DWORD code) {
  for (const Property& property : kProperties) {
    if (property.code == code) {
      return &property;
    }
  }
  return nullptr;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", or nothing.
std::optional<GUID> ParseGuid(std::u16string_view text) {
  constexpr std::u16string_view kShape = u"{........-....-....-....-............}";
  if (text.size() != kShape.size()) {
    return std::nullopt;
  }
  std::uint8_t bytes[16] = {};
  int nibble = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] != u'.') {
      if (text[i] != kShape[i]) {
        return std::nullopt;
      }
      continue;
    }
    const int digit = HexDigit(text[i]);
    if (digit < 0) {
      return std::nullopt;
    }
    bytes[nibble / 2] = static_cast<std::uint8_t>(bytes[nibble / 2] << 4 | digit);
    ++nibble;
  }
  GUID guid{};
  guid.Data1 = static_cast<DWORD>(bytes[0] << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3]);
  guid.Data2 = static_cast<WORD>(bytes[4] << 8 | bytes[5]);
  guid.Data3 = static_cast<WORD>(bytes[6] << 8 | bytes[7]);
  std::memcpy(guid.Data4, bytes + 8, 8);
  return guid;
}

bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The path of a software key below HKEY_LOCAL_MACHINE from the Driver value of its instance
// (<class>\<number>); nothing when the value does not name exactly one such key.
std::optional<std::u16string> SoftwareKeyPath(const std::u16string& driver) {
  const std::size_t slash = driver.find(u'\\');
  if (slash == 0 || slash == std::u16string::npos || slash + 1 == driver.size() ||
      driver.find(u'\\', slash + 1) != std::u16string::npos) {
    return std::nullopt;
  }
  return std::u16string(kClassKey) + u"\\" + driver;
}

void DeleteKey(RegKey* key) {
  if (key != nullptr && key->parent() != nullptr) {
    key->parent()->DeleteSubkeyTree(key->name());
  }
}

void DeleteKeyAt(RegKey& hklm, const std::optional<std::u16string>& path) {
  if (path) {
    DeleteKey(Registry::Open(hklm, *path));
  }
}

// The text of a value of `key` up to its first NUL, whatever its type; empty when missing.
std::u16string ValueText(const RegKey& key, std::u16string_view name) {
  const RegValue* value = key.FindValue(name);
  return value == nullptr ? std::u16string() : TextOfData(value->data());
}

// The names an enumerator text selects, whole and from the left: enumerator, device, instance
// ("ORVPCARD_ENUM", "ORVPCARD_ENUM\\ORVPCARD_SERP"); none for a null or empty text, which selects
// every device. Nothing when the text can select no device: an empty name or more than three.
std::optional<std::vector<std::u16string_view>> EnumeratorNames(const WCHAR* enumerator) {
  std::vector<std::u16string_view> names;
  if (enumerator == nullptr || *enumerator == 0) {
    return names;
  }
  const std::u16string_view text(enumerator);
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(text.find(u'\\', start), text.size());
    names.push_back(text.substr(start, end - start));
    if (names.back().empty()) {
      return std::nullopt;
    }
    if (end == text.size()) {
      break;
    }
    start = end + 1;
  }
  return names.size() > 3 ? std::nullopt : std::optional(names);
}

}  // namespace

// --- Members and instances ---

const RegKey* DeviceInstanceOf(const Registry& registry, const RegKey& key, std::string* path) {
  const RegKey* enumKey = Registry::Open(registry.HKLM(), kEnumKey);
  if (enumKey == nullptr) {
    return nullptr;
  }
  for (const RegKey* instance = &key; instance != nullptr; instance = instance->parent()) {
    const RegKey* device = instance->parent();
    const RegKey* enumerator = device == nullptr ? nullptr : device->parent();
    if (enumerator == nullptr) {
      return nullptr;
    }
    if (enumerator->parent() == enumKey) {
      if (path != nullptr) {
        *path = Utf16ToUtf8(enumerator->name() + u"\\" + device->name() + u"\\" + instance->name());
      }
      return instance;
    }
  }
  return nullptr;
}

CallArg SimSetupApi::MemberArg(HDEVINFO set, const SP_DEVINFO_DATA* device) const {
  std::string text = sim_.tracer.HandleText("set", set);
  if (device == nullptr) {
    return ShownArg(text + ", null");
  }
  return ShownArg(text + "[" +
                  (device->Reserved == 0 ? "?" : std::to_string(device->Reserved - 1)) + "]");
}

SimSetupApi::DeviceSet* SimSetupApi::SetOf(HDEVINFO set) {
  auto it = sets_.find(reinterpret_cast<std::uintptr_t>(set));
  return it == sets_.end() ? nullptr : &it->second;
}

SimSetupApi::MemberCall SimSetupApi::BeginMemberCall(HDEVINFO set, const SP_DEVINFO_DATA* device,
                                                     Call& call, bool needsNode) {
  MemberCall memberCall;
  memberCall.set = SetOf(set);
  if (memberCall.set == nullptr) {
    memberCall.status = ERROR_INVALID_HANDLE;
    return memberCall;
  }
  if (device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA) || device->Reserved == 0 ||
      device->Reserved > memberCall.set->members.size() ||
      memberCall.set->members[device->Reserved - 1].devInst != device->DevInst) {
    memberCall.status = ERROR_INVALID_PARAMETER;
    return memberCall;
  }
  memberCall.member = &memberCall.set->members[device->Reserved - 1];
  call.device = memberCall.member->path;
  call.instance = memberCall.member->instance.get();
  memberCall.status = sim_.faults.For(call).value_or(ERROR_SUCCESS);
  if (memberCall.status == ERROR_SUCCESS && needsNode && memberCall.member->instance->deleted()) {
    memberCall.status = ERROR_NO_SUCH_DEVINST;
  }
  return memberCall;
}

// --- Device sets ---

SimSetupApi::DeviceSet SimSetupApi::CollectMembers(const std::vector<std::u16string_view>& names,
                                                   const GUID* classGuid, DWORD flags) {
  const bool wantsClass = classGuid != nullptr && (flags & DIGCF_ALLCLASSES) == 0;
  DeviceSet built;
  ForEachDeviceInstance(
      sim_.machine.registry().HKLM(), names,
      [&](RegKey& enumeratorKey, RegKey& deviceKey, RegKey& instanceKey) {
        if ((flags & DIGCF_PRESENT) != 0 && instanceKey.FindSubkey(u"Control") == nullptr) {
          return;
        }
        if (wantsClass) {
          std::optional<GUID> guid = ParseGuid(ValueText(instanceKey, u"ClassGUID"));
          if (!guid || !SameGuid(*guid, *classGuid)) {
            return;
          }
        }
        DeviceMember member;
        member.instance = deviceKey.SharedSubkey(instanceKey.name());
        member.path = Utf16ToUtf8(enumeratorKey.name() + u"\\" + deviceKey.name() + u"\\" +
                                  instanceKey.name());
        member.devInst = nextDevInst_++;
        built.members.push_back(std::move(member));
      });
  return built;
}

HDEVINFO SimSetupApi::SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator,
                                           DWORD flags) {
  const Call call{"SetupDiGetClassDevsW",
                  {ShownArg(GuidText(classGuid)), TextArg(enumerator), HexArg(flags)}};
  DWORD status = classGuid == nullptr && (flags & DIGCF_ALLCLASSES) == 0
                     ? ERROR_INVALID_PARAMETER
                     : sim_.faults.For(call).value_or(ERROR_SUCCESS);
  if (status != ERROR_SUCCESS) {
    sim_.tracer.End(call, "INVALID_HANDLE_VALUE", status);
    return INVALID_HANDLE_VALUE;
  }
  // An enumerator text that selects nothing gives an empty set.
  const std::optional<std::vector<std::u16string_view>> names = EnumeratorNames(enumerator);
  DeviceSet built = names ? CollectMembers(*names, classGuid, flags) : DeviceSet{};
  const std::uintptr_t handle = sim_.handles.New();
  const std::size_t count = built.members.size();
  sets_.emplace(handle, std::move(built));
  auto* set = reinterpret_cast<HDEVINFO>(handle);
  sim_.tracer.End(call, sim_.tracer.HandleText("set", set), ERROR_SUCCESS,
                  std::to_string(count) + (count == 1 ? " member" : " members"));
  return set;
}

BOOL SimSetupApi::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
  Call call{"SetupDiEnumDeviceInfo", {sim_.tracer.HandleArg("set", set), DecimalArg(index)}};
  DeviceSet* devices = SetOf(set);
  DWORD status = devices == nullptr ? ERROR_INVALID_HANDLE
                 : device == nullptr || device->cbSize != sizeof(SP_DEVINFO_DATA)
                     ? ERROR_INVALID_USER_BUFFER
                 : index >= devices->members.size() ? ERROR_NO_MORE_ITEMS
                                                    : ERROR_SUCCESS;
  const DeviceMember* member = status == ERROR_SUCCESS ? &devices->members[index] : nullptr;
  if (member != nullptr) {
    call.device = member->path;
    call.instance = member->instance.get();
    status = sim_.faults.For(call).value_or(ERROR_SUCCESS);
  }
  if (status == ERROR_SUCCESS) {
    device->ClassGuid = ParseGuid(ValueText(*member->instance, u"ClassGUID")).value_or(GUID{});
    device->DevInst = member->devInst;
    device->Reserved = index + 1;
  }
  return sim_.tracer.EndBool(call, status);
}

HKEY SimSetupApi::SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                       DWORD hwProfile, DWORD keyType, REGSAM sam) {
  Call call{
      "SetupDiOpenDevRegKey",
      {MemberArg(set, device), HexArg(scope), HexArg(hwProfile), HexArg(keyType), HexArg(sam)}};
  MemberCall memberCall = BeginMemberCall(set, device, call, true);
  if (memberCall.status == ERROR_SUCCESS &&
      ((scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC) ||
       (keyType != DIREG_DEV && keyType != DIREG_DRV))) {
    memberCall.status = ERROR_INVALID_FLAGS;
  }
  std::shared_ptr<RegKey> key;
  if (memberCall.status == ERROR_SUCCESS) {
    if (keyType == DIREG_DEV) {
      key = memberCall.member->instance->SharedSubkey(kHardwareKey);
    } else if (std::optional<std::u16string> path =
                   SoftwareKeyPath(ValueText(*memberCall.member->instance, u"Driver"))) {
      key = registry_.OpenShared(*path);
    }
    // The key is opened, never created.
    memberCall.status = key == nullptr ? ERROR_KEY_DOES_NOT_EXIST : ERROR_SUCCESS;
  }
  if (memberCall.status != ERROR_SUCCESS) {
    sim_.tracer.End(call, "INVALID_HANDLE_VALUE", memberCall.status);
    return reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
  }
  HKEY handle = registry_.NewKeyHandle(std::move(key));
  sim_.tracer.End(call, sim_.tracer.HandleText("key", handle));
  return handle;
}

BOOL SimSetupApi::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                    DWORD property, DWORD* type, BYTE* buffer,
                                                    DWORD bufferSize, DWORD* requiredSize) {
  Call call{"SetupDiGetDeviceRegistryPropertyW",
            {MemberArg(set, device), DecimalArg(property),
             buffer == nullptr ? ShownArg("null") : DecimalArg(bufferSize)}};
  MemberCall memberCall = BeginMemberCall(set, device, call, true);
  const Property* known = FindProperty(property);
  if (memberCall.status == ERROR_SUCCESS && known == nullptr) {
    memberCall.status = ERROR_INVALID_REG_PROPERTY;
  }
  if (memberCall.status == ERROR_SUCCESS && buffer == nullptr && bufferSize != 0) {
    memberCall.status = ERROR_INVALID_PARAMETER;
  }
  const RegValue* value = nullptr;
  if (memberCall.status == ERROR_SUCCESS) {
    value = memberCall.member->instance->FindValue(known->value);
    memberCall.status = value == nullptr ? ERROR_INVALID_DATA : ERROR_SUCCESS;
  }
  if (memberCall.status != ERROR_SUCCESS) {
    return sim_.tracer.EndBool(call, memberCall.status);
  }
  const auto needed = static_cast<DWORD>(value->data().size());
  if (type != nullptr) {
    *type = value->type();
  }
  if (requiredSize != nullptr) {
    *requiredSize = needed;
  }
  if (bufferSize < needed) {
    return sim_.tracer.EndBool(call, ERROR_INSUFFICIENT_BUFFER, std::to_string(needed));
  }
  std::ranges::copy(value->data(), buffer);
  return sim_.tracer.EndBool(call, ERROR_SUCCESS,
                             Hex(value->type()) + ", " + DataText(value->type(), buffer, needed));
}

BOOL SimSetupApi::SetupDiSetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                    DWORD property, const BYTE* buffer,
                                                    DWORD bufferSize) {
  const Property* known = FindProperty(property);
  Call call{"SetupDiSetDeviceRegistryPropertyW",
            {MemberArg(set, device), DecimalArg(property),
             ShownArg(DataText(known == nullptr ? REG_BINARY : known->type, buffer, bufferSize))}};
  MemberCall memberCall = BeginMemberCall(set, device, call, true);
  if (memberCall.status == ERROR_SUCCESS && known == nullptr) {
    memberCall.status = ERROR_INVALID_REG_PROPERTY;
  }
  if (memberCall.status == ERROR_SUCCESS && buffer == nullptr && bufferSize != 0) {
    memberCall.status = ERROR_INVALID_PARAMETER;
  }
  if (memberCall.status == ERROR_SUCCESS) {
    if (buffer == nullptr) {
      // No data deletes the property.
      memberCall.member->instance->DeleteValue(known->value);
    } else {
      memberCall.member->instance->SetValue(known->value, known->type,
                                            std::span<const BYTE>(buffer, bufferSize));
    }
  }
  return sim_.tracer.EndBool(call, memberCall.status);
}

BOOL SimSetupApi::SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                const SP_CLASSINSTALL_HEADER* params,
                                                DWORD paramsSize) {
  Call call{"SetupDiSetClassInstallParamsW", {MemberArg(set, device)}};
  SP_PROPCHANGE_PARAMS change{};
  if (params == nullptr) {
    call.args.push_back(ShownArg("null"));
  } else {
    call.args.push_back(HexArg(params->InstallFunction));
    if (params->InstallFunction == DIF_PROPERTYCHANGE && paramsSize == sizeof change) {
      std::memcpy(&change, params, sizeof change);
      call.args.insert(call.args.end(), {HexArg(change.StateChange), HexArg(change.Scope),
                                         HexArg(change.HwProfile)});
    }
  }
  call.args.push_back(DecimalArg(paramsSize));

  // Without an element the parameters belong to the set as a whole.
  MemberCall memberCall;
  if (device == nullptr) {
    memberCall.set = SetOf(set);
    memberCall.status = memberCall.set == nullptr ? ERROR_INVALID_HANDLE
                                                  : sim_.faults.For(call).value_or(ERROR_SUCCESS);
  } else {
    memberCall = BeginMemberCall(set, device, call, false);
  }
  if (memberCall.status == ERROR_SUCCESS) {
    if (params == nullptr) {
      memberCall.status = paramsSize == 0 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    } else if (params->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) {
      memberCall.status = ERROR_INVALID_USER_BUFFER;
    } else if (params->InstallFunction != DIF_PROPERTYCHANGE || paramsSize != sizeof change) {
      memberCall.status = ERROR_INVALID_PARAMETER;
    }
  }
  if (memberCall.status == ERROR_SUCCESS) {
    std::optional<SP_PROPCHANGE_PARAMS>& slot = memberCall.member != nullptr
                                                    ? memberCall.member->installParams
                                                    : memberCall.set->installParams;
    slot = params == nullptr ? std::nullopt : std::optional<SP_PROPCHANGE_PARAMS>(change);
  }
  return sim_.tracer.EndBool(call, memberCall.status);
}

BOOL SimSetupApi::SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set,
                                            SP_DEVINFO_DATA* device) {
  Call call{"SetupDiCallClassInstaller", {HexArg(function), MemberArg(set, device)}};
  MemberCall memberCall;
  if (device == nullptr) {
    memberCall.status = SetOf(set) == nullptr ? ERROR_INVALID_HANDLE : ERROR_NO_DEVICE_SELECTED;
  } else {
    memberCall = BeginMemberCall(set, device, call, true);
  }
  if (memberCall.status == ERROR_SUCCESS && system_.Wow64()) {
    memberCall.status = ERROR_IN_WOW64;  // class installers run in 64-bit processes only
  }
  // Only the property-change restart is modelled; it needs the parameters of the element, or
  // else those of the set.
  if (memberCall.status == ERROR_SUCCESS) {
    const std::optional<SP_PROPCHANGE_PARAMS>& params = memberCall.member->installParams
                                                            ? memberCall.member->installParams
                                                            : memberCall.set->installParams;
    if (function != DIF_PROPERTYCHANGE || !params || params->StateChange != DICS_PROPCHANGE) {
      memberCall.status = ERROR_INVALID_PARAMETER;
    }
  }
  RegKey* control = memberCall.status == ERROR_SUCCESS
                        ? memberCall.member->instance->FindSubkey(u"Control")
                        : nullptr;
  if (memberCall.status == ERROR_SUCCESS && control == nullptr) {
    memberCall.status = ERROR_NO_SUCH_DEVINST;  // not present: nothing to restart
  }
  if (memberCall.status == ERROR_SUCCESS) {
    const RegValue* count = control->FindValue(u"RestartCount");
    const DWORD restarts =
        count != nullptr && count->type() == REG_DWORD && count->data().size() == 4
            ? DwordOf(count->data().data())
            : 0;
    control->SetValue(u"RestartCount", REG_DWORD, DwordData(restarts + 1));
  }
  return sim_.tracer.EndBool(call, memberCall.status);
}

BOOL SimSetupApi::SetupDiRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device) {
  Call call{"SetupDiRemoveDevice", {MemberArg(set, device)}};
  MemberCall memberCall = BeginMemberCall(set, device, call, true);
  if (memberCall.status == ERROR_SUCCESS) {
    RegKey& instance = *memberCall.member->instance;
    DeleteKeyAt(sim_.machine.registry().HKLM(), SoftwareKeyPath(ValueText(instance, u"Driver")));
    DeleteKey(&instance);  // the member stays in the set, its key marked deleted
  }
  return sim_.tracer.EndBool(call, memberCall.status);
}

BOOL SimSetupApi::SetupDiDeleteDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                         DWORD hwProfile, DWORD keyType) {
  Call call{"SetupDiDeleteDevRegKey",
            {MemberArg(set, device), HexArg(scope), HexArg(hwProfile), HexArg(keyType)}};
  MemberCall memberCall = BeginMemberCall(set, device, call, true);
  if (memberCall.status == ERROR_SUCCESS &&
      ((scope != DICS_FLAG_GLOBAL && scope != DICS_FLAG_CONFIGSPECIFIC) ||
       (keyType != DIREG_DEV && keyType != DIREG_DRV && keyType != DIREG_BOTH))) {
    memberCall.status = ERROR_INVALID_FLAGS;
  }
  if (memberCall.status == ERROR_SUCCESS) {
    RegKey& instance = *memberCall.member->instance;
    if (keyType == DIREG_DEV || keyType == DIREG_BOTH) {
      instance.DeleteSubkeyTree(kHardwareKey);
    }
    if (keyType == DIREG_DRV || keyType == DIREG_BOTH) {
      DeleteKeyAt(sim_.machine.registry().HKLM(), SoftwareKeyPath(ValueText(instance, u"Driver")));
    }
  }
  return sim_.tracer.EndBool(call, memberCall.status);
}

BOOL SimSetupApi::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  const Call call{"SetupDiDestroyDeviceInfoList", {sim_.tracer.HandleArg("set", set)}};
  const DWORD status =
      SetOf(set) == nullptr ? ERROR_INVALID_HANDLE : sim_.faults.For(call).value_or(ERROR_SUCCESS);
  if (status == ERROR_SUCCESS) {
    sets_.erase(reinterpret_cast<std::uintptr_t>(set));
  }
  return sim_.tracer.EndBool(call, status);
}

}  // namespace winsim
