// Failures of the simulated platform's calls: armed by the tests in code, or carried by an image
// (a REG_MULTI_SZ value SimulateFailure in a device instance key lists the calls that fail for
// that device, with ERROR_ACCESS_DENIED).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "winsim/registry.h"

namespace winsim {

// A failure armed for a test. A call fails when its name is `api`, `target` is empty or occurs
// (without regard to case) in its traced argument text or its device, and, when `nth` is not 0,
// it is the nth such call (counted from 1). The call then fails with `status`: returned as such
// by calls that return a status, set as the last error by calls that return BOOL or a handle.
struct Fault {
  std::string api;
  std::string target;
  int nth = 0;
  orv::DWORD status = orv::ERROR_ACCESS_DENIED;
  int seen = 0;  // matching calls so far
};

class SimFaults {
 public:
  void Arm(Fault fault) { armed_.push_back(std::move(fault)); }
  // The armed or image failure of this call, if any: `args` is its traced argument text,
  // `device` its device instance path, `deviceInstance` the instance key whose SimulateFailure
  // value is read.
  std::optional<orv::DWORD> For(std::string_view api, std::string_view args,
                                std::string_view device, const RegKey* deviceInstance = nullptr);

 private:
  std::vector<Fault> armed_;
};

}  // namespace winsim
