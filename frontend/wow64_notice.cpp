#include "frontend/wow64_notice.h"

#include <cstdio>

namespace orv {

void WarnWhenUnderWow64(WindowsApi& api) {
  BOOL wow64 = FALSE;
  if (api.IsWow64Process(kCurrentProcess, &wow64) && wow64) {
    std::fputs(kWow64Notice, stderr);
  }
}

}  // namespace orv
