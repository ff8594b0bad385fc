// The platform a program of this build runs against: the real Windows API on Windows, the
// simulated machine elsewhere.
#pragma once

#include <functional>

#include "platform/windows_api.h"

namespace orv {

// Exit status for a machine that cannot be used (simulated machine only).
inline constexpr int kExitMachineError = 125;

// Runs `operation` against this build's platform and returns the process exit status: the
// operation's result, or kExitMachineError when the simulated machine cannot be loaded or saved
// (one line on stderr says why, and nothing is changed).
int RunOnHost(const std::function<DWORD(WindowsApi&)>& operation);

}  // namespace orv
