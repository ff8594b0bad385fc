#include <cstdio>

#include "frontend/host.h"
#include "frontend/wow64_notice.h"
#include "platform/win32/win32_windows.h"

namespace orv {

// On Windows the programs run against the real platform; there is no machine to load or save,
// and the whole 32-bit result becomes the process exit code.
int RunOnHost(const std::function<DWORD(WindowsApi&)>& operation) {
  Win32Windows api;
  WarnWhenUnderWow64(api);
  const DWORD result = operation(api);
  std::fflush(stdout);
  return static_cast<int>(result);
}

}  // namespace orv
