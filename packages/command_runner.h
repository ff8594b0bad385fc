// Running a command line through the command interpreter, as the installer launch and the
// clean-up of recorded packages do.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Room for a command line and its terminator: a line that fits it always fits beside the
// interpreter's path; a line too long for that is never started shortened.
inline constexpr DWORD kCommandLineChars = 520;

// What RunCommandLine gives when no interpreter can be started or its exit status cannot be
// read.
inline constexpr LONG kNoExitStatus = -1;

// Runs a command line through the command interpreter (COMSPEC, else the system folder's
// cmd.exe) and waits for it: the interpreter's exit status, or kNoExitStatus.
LONG RunCommandLine(WindowsApi& api, const WCHAR* commandLine);

}  // namespace orv
