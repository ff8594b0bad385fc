// One call of the simulated platform as a record, made when the call begins: the function, its
// arguments and the device it is about. Armed faults are matched on its fields (sim_faults.h),
// and its trace line is written from it when it ends (SimTracer::End), so that the text of the
// trace and the faults that fire do not depend on each other.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace winsim {

class RegKey;

// One argument: the text the trace shows of it and, for a text or a number, its value.
struct CallArg {
  std::string shown;
  std::optional<std::u16string_view> text;  // lives as long as the call
  std::optional<orv::DWORD> number;
};

CallArg TextArg(const orv::WCHAR* text);  // "text" (quoted, escaped), or null
CallArg TextArg(std::u16string_view text);
CallArg HexArg(orv::DWORD number);      // 0x1F, or 0
CallArg DecimalArg(orv::DWORD number);  // 31
CallArg ShownArg(std::string shown);    // a handle, registry data, a size that may be null, ...

struct Call {
  Call(std::string api, std::vector<CallArg> args) : api(std::move(api)), args(std::move(args)) {}

  std::string api;
  std::vector<CallArg> args;
  // The device instance path (ORVPCARD_ENUM\ORVPCARD_PARPECP\1) and key when the call is about
  // one device; the key's SimulateFailure value lists the calls that fail for it.
  std::string device;
  const RegKey* instance = nullptr;

  std::string ArgsText() const;  // the arguments as the trace shows them, separated by ", "
};

}  // namespace winsim
