#include "winsim/sim_faults.h"

#include <algorithm>

#include "platform/text.h"
#include "winsim/reg_data.h"
#include "winsim/registry.h"

namespace winsim {

using namespace orv;

namespace {

// Whether `needle` occurs in `haystack`, without regard to case.
bool Holds(std::u16string_view haystack, std::u16string_view needle) {
  return FoldCase(haystack).find(FoldCase(needle)) != std::u16string::npos;
}

bool Matches(const Fault& fault, const Call& call) {
  if (fault.api != call.api ||
      (!fault.device.empty() && !Holds(Utf8ToUtf16(call.device), Utf8ToUtf16(fault.device)))) {
    return false;
  }
  const std::u16string text = Utf8ToUtf16(fault.text);
  if (!text.empty() && std::none_of(call.args.begin(), call.args.end(), [&](const CallArg& arg) {
        return arg.text && Holds(*arg.text, text);
      })) {
    return false;
  }
  return !fault.number || (fault.number->arg < call.args.size() &&
                           call.args[fault.number->arg].number == fault.number->value);
}

// True when the instance's SimulateFailure list names `api` (each name compared whole).
bool ImageFails(const RegKey& deviceInstance, std::string_view api) {
  const RegValue* failures = deviceInstance.FindValue(u"SimulateFailure");
  if (failures == nullptr || failures->type() != REG_MULTI_SZ) {
    return false;
  }
  const std::u16string wanted = FoldCase(Utf8ToUtf16(api));
  const std::vector<std::u16string> names = SplitAtNul(failures->data());
  return std::any_of(names.begin(), names.end(),
                     [&](const std::u16string& name) { return FoldCase(name) == wanted; });
}

}  // namespace

std::optional<DWORD> SimFaults::For(const Call& call) {
  for (Fault& fault : armed_) {
    if (!Matches(fault, call)) {
      continue;
    }
    ++fault.seen;
    if (fault.nth == 0 || fault.seen == fault.nth) {
      return fault.status;
    }
  }
  if (call.instance != nullptr && ImageFails(*call.instance, call.api)) {
    return ERROR_ACCESS_DENIED;
  }
  return std::nullopt;
}

}  // namespace winsim
