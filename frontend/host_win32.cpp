#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "frontend/host.h"
#include "frontend/wow64_notice.h"
#include "platform/text.h"
#include "platform/tracing_windows.h"
#include "platform/win32/win32_windows.h"

namespace orv {

// On Windows the programs run against the real platform; there is no machine to load or save,
// and the whole 32-bit result becomes the process exit code. With ORVCARD_TRACE=FILE every seam
// call is appended to FILE, one line each, as the simulated machine writes its trace; a file
// that cannot be used stops the run before anything is changed.
int RunOnHost(const std::function<DWORD(WindowsApi&)>& operation) {
  Win32Windows platform;
  std::unique_ptr<Win32TraceFile> traceFile;
  std::unique_ptr<TracingWindows> tracing;
  const wchar_t* tracePath = ::_wgetenv(L"ORVCARD_TRACE");
  if (tracePath != nullptr && *tracePath != 0) {
    const auto* path = reinterpret_cast<const WCHAR*>(tracePath);
    std::string error;
    traceFile = Win32TraceFile::Open(path, &error);
    if (traceFile == nullptr) {
      std::fprintf(stderr, "orvcard: ORVCARD_TRACE %s %s\n", Utf16ToUtf8(path).c_str(),
                   error.c_str());
      return kExitMachineError;
    }
    tracing = std::make_unique<TracingWindows>(
        platform, [&traceFile](const std::string& line) { traceFile->Append(line); },
        [&platform](HDEVINFO set, SP_DEVINFO_DATA* device) {
          return platform.DeviceInstancePath(set, device);
        });
  }
  WindowsApi& api = tracing != nullptr ? static_cast<WindowsApi&>(*tracing) : platform;
  WarnWhenUnderWow64(api);
  const DWORD result = operation(api);
  std::fflush(stdout);
  return static_cast<int>(result);
}

}  // namespace orv
