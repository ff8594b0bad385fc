// Failures of the simulated platform's calls: armed by the tests in code, or carried by an image
// (a REG_MULTI_SZ value SimulateFailure in a device instance key lists the calls that fail for
// that device, with ERROR_ACCESS_DENIED). Both are matched on the fields of the call (sim_call.h),
// never on its trace text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"
#include "winsim/sim_call.h"

namespace winsim {

// A number argument of a call: the argument at `arg` (counted from 0, as the trace lists them)
// holds `value`.
struct NumberIs {
  std::size_t arg = 0;
  orv::DWORD value = 0;
};

// A failure armed for a test. The calls of `api` that it fails are those that meet each
// condition given (all of them when none is): `device` occurs in the call's device instance path,
// `text` in one of its text arguments (both without regard to case), `number` holds. When `nth`
// is not 0, only the nth such call fails (counted from 1). The call then fails with `status`:
// returned as such by calls that return a status, set as the last error by calls that return
// BOOL or a handle.
struct Fault {
  std::string api{};
  std::string device{};
  std::string text{};
  std::optional<NumberIs> number{};
  int nth = 0;
  orv::DWORD status = orv::ERROR_ACCESS_DENIED;
  int seen = 0;  // matching calls so far
};

class SimFaults {
 public:
  void Arm(Fault fault) { armed_.push_back(std::move(fault)); }
  // The armed or image failure of `call`, if any.
  std::optional<orv::DWORD> For(const Call& call);

 private:
  std::vector<Fault> armed_;
};

}  // namespace winsim
