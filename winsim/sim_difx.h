// The driver-package interface (DIFx) of the simulated machine, over the driver store that the
// file space holds (winsim/difx_store.h gives the store's layout and statuses).
#pragma once

#include <string>

#include "winsim/difx_store.h"
#include "winsim/sim_context.h"
#include "winsim/sim_system_info.h"

namespace winsim {

class SimDifx {
 public:
  SimDifx(SimContext& sim, const SimSystemInfo& system) : sim_(sim), system_(system) {}

  orv::DWORD DriverPackageInstallW(const orv::WCHAR* infPath, orv::DWORD flags,
                                   orv::BOOL* needReboot);
  orv::DWORD DriverPackageUninstallW(const orv::WCHAR* infPath, orv::DWORD flags,
                                     orv::BOOL* needReboot);
  orv::DWORD DriverPackageGetPathW(const orv::WCHAR* infPath, orv::WCHAR* storePath,
                                   orv::DWORD* storePathChars);

  // The machine's driver store, as the calls above and the package installer change it.
  DifxStore Store() const;

 private:
  using Change = orv::DWORD (DifxStore::*)(std::u16string_view, orv::DWORD);
  // An install or uninstall: checks, fault, WOW64, then `change` on the store.
  orv::DWORD ChangeStore(const char* api, Change change, const orv::WCHAR* infPath,
                         orv::DWORD flags, orv::BOOL* needReboot);

  SimContext& sim_;
  const SimSystemInfo& system_;
  // Kept from call to call; Store() hands it to each store it makes.
  mutable StoreIndex index_;
};

}  // namespace winsim
