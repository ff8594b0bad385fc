// The COM port database: a bitmap in the registry value
// SYSTEM\CurrentControlSet\Control\COM Name Arbiter\ComDB, where bit (n-1) % 8 of byte (n-1) / 8
// set means COMn is reserved. Each open database is a handle of this area.
#pragma once

#include <cstdint>
#include <set>

#include "winsim/sim_context.h"

namespace winsim {

class SimComDb {
 public:
  explicit SimComDb(SimContext& sim) : sim_(sim) {}

  orv::LONG ComDBOpen(orv::HCOMDB* database);
  orv::LONG ComDBReleasePort(orv::HCOMDB database, orv::DWORD comNumber);
  orv::LONG ComDBClose(orv::HCOMDB database);

  std::size_t OpenHandleCount() const { return databases_.size(); }

 private:
  // The status of a call on `database`: ERROR_INVALID_PARAMETER when it is not open, else the
  // armed fault, if any.
  orv::DWORD Check(orv::HCOMDB database, const Call& call);

  SimContext& sim_;
  std::set<std::uintptr_t> databases_;
};

}  // namespace winsim
