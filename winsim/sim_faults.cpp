#include "winsim/sim_faults.h"

#include <algorithm>

#include "platform/text.h"
#include "winsim/reg_data.h"

namespace winsim {

using namespace orv;

namespace {

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != haystack.end();
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

std::optional<DWORD> SimFaults::For(std::string_view api, std::string_view args,
                                    std::string_view device, const RegKey* deviceInstance) {
  for (Fault& fault : armed_) {
    if (fault.api != api) {
      continue;
    }
    if (!fault.target.empty() && !ContainsNoCase(args, fault.target) &&
        !ContainsNoCase(device, fault.target)) {
      continue;
    }
    ++fault.seen;
    if (fault.nth == 0 || fault.seen == fault.nth) {
      return fault.status;
    }
  }
  if (deviceInstance != nullptr && ImageFails(*deviceInstance, api)) {
    return ERROR_ACCESS_DENIED;
  }
  return std::nullopt;
}

}  // namespace winsim
