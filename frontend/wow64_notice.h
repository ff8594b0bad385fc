// The x86 build started on 64-bit Windows runs under WOW64, where Windows refuses it what the
// tool most needs. The run goes on as usual (installers read stdout, the exit status and the
// response file, which stay as they are); one line on stderr tells the user why it falls short.
#pragma once

#include "platform/windows_api.h"

namespace orv {

inline constexpr const char* kWow64Notice =
    "orvcard: this 32-bit (x86) build runs under WOW64 on 64-bit Windows, which refuses it "
    "device restarts and driver package installs and uninstalls (ERROR_IN_WOW64); use the "
    "64-bit (x64) build on this machine\n";

// Writes kWow64Notice to stderr when this process runs under WOW64. Where the platform cannot
// tell (Windows 2000 has no IsWow64Process), there is no WOW64 to tell of.
void WarnWhenUnderWow64(WindowsApi& api);

}  // namespace orv
