// The process entry of orvcard: the command line reduced to one operation code.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// The operation code for a command line: 0x40000 with no argument, 0x08000 for exactly
// "-RemoveDeviceNode", 0x20000 for exactly "-RemoveCOMdb", 0 for anything else.
DWORD SelectOperation(int argumentCount, const WCHAR* const* argumentVector);

// Selects the operation, runs it and returns the dispatcher's result as the exit code.
DWORD RunCommandLineEntry(WindowsApi& api, int argumentCount, const WCHAR* const* argumentVector);

}  // namespace orv
