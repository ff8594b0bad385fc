// Device sets over the machine's registry. A device instance is the key
// SYSTEM\CurrentControlSet\Enum\<enumerator>\<device>\<instance>; its hardware key is the
// subkey "Device Parameters", its software key Control\Class\<Driver value>, and it is present
// when it has the subkey "Control". A set's members are numbered by index; removing a device
// deletes its key but keeps its member, so that later indices do not shift.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/sim_context.h"
#include "winsim/sim_registry.h"
#include "winsim/sim_system_info.h"

namespace winsim {

class SimSetupApi {
 public:
  SimSetupApi(SimContext& sim, SimRegistry& registry, const SimSystemInfo& system)
      : sim_(sim), registry_(registry), system_(system) {}

  orv::HDEVINFO SetupDiGetClassDevsW(const orv::GUID* classGuid, const orv::WCHAR* enumerator,
                                     orv::DWORD flags);
  orv::BOOL SetupDiEnumDeviceInfo(orv::HDEVINFO set, orv::DWORD index,
                                  orv::SP_DEVINFO_DATA* device);
  orv::HKEY SetupDiOpenDevRegKey(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device, orv::DWORD scope,
                                 orv::DWORD hwProfile, orv::DWORD keyType, orv::REGSAM sam);
  orv::BOOL SetupDiGetDeviceRegistryPropertyW(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                              orv::DWORD property, orv::DWORD* type,
                                              orv::BYTE* buffer, orv::DWORD bufferSize,
                                              orv::DWORD* requiredSize);
  orv::BOOL SetupDiSetDeviceRegistryPropertyW(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                              orv::DWORD property, const orv::BYTE* buffer,
                                              orv::DWORD bufferSize);
  orv::BOOL SetupDiSetClassInstallParamsW(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                          const orv::SP_CLASSINSTALL_HEADER* params,
                                          orv::DWORD paramsSize);
  orv::BOOL SetupDiCallClassInstaller(orv::DI_FUNCTION function, orv::HDEVINFO set,
                                      orv::SP_DEVINFO_DATA* device);
  orv::BOOL SetupDiRemoveDevice(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device);
  orv::BOOL SetupDiDeleteDevRegKey(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                   orv::DWORD scope, orv::DWORD hwProfile, orv::DWORD keyType);
  orv::BOOL SetupDiDestroyDeviceInfoList(orv::HDEVINFO set);

  std::size_t OpenHandleCount() const { return sets_.size(); }

 private:
  struct DeviceMember {
    std::shared_ptr<RegKey> instance;  // deleted once the device is removed; the member stays
    std::string path;                  // <enumerator>\<device>\<instance>, for the trace
    orv::DWORD devInst = 0;
    std::optional<orv::SP_PROPCHANGE_PARAMS> installParams;
  };
  struct DeviceSet {
    std::vector<DeviceMember> members;  // in set order; removal never shifts an index
    std::optional<orv::SP_PROPCHANGE_PARAMS> installParams;  // set for the whole set
  };
  struct MemberCall {
    DeviceSet* set = nullptr;
    DeviceMember* member = nullptr;  // null when the set or the element is invalid
    orv::DWORD status = orv::ERROR_SUCCESS;
  };
  // The members of a new set: the instances below the Enum key that `names` (from the left:
  // enumerator, device, instance) select, present ones only with DIGCF_PRESENT, of `classGuid`
  // unless DIGCF_ALLCLASSES.
  DeviceSet CollectMembers(const std::vector<std::u16string_view>& names,
                           const orv::GUID* classGuid, orv::DWORD flags);
  // The set and element as one argument: set#n[index], or set#n, null.
  CallArg MemberArg(orv::HDEVINFO set, const orv::SP_DEVINFO_DATA* device) const;
  // The set a handle names, or null.
  DeviceSet* SetOf(orv::HDEVINFO set);
  // Starts `call` about one member: resolves the set and the element (whose Reserved field holds
  // the member index + 1) and names its device, then checks faults and, when `needsNode`, that
  // the device has not been removed.
  MemberCall BeginMemberCall(orv::HDEVINFO set, const orv::SP_DEVINFO_DATA* device, Call& call,
                             bool needsNode);

  SimContext& sim_;
  SimRegistry& registry_;
  const SimSystemInfo& system_;
  std::map<std::uintptr_t, DeviceSet> sets_;
  orv::DWORD nextDevInst_ = 1;
};

// The device instance key at or above `key`, with its path (<enumerator>\<device>\<instance>),
// or null when `key` does not lie in a device instance.
const RegKey* DeviceInstanceOf(const Registry& registry, const RegKey& key, std::string* path);

}  // namespace winsim
