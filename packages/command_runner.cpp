#include "packages/command_runner.h"

#include "platform/guards.h"
#include "platform/text.h"

namespace orv {

namespace {

constexpr DWORD kInterpreterChars = MAX_PATH;
// The interpreter's path, " /c " and the command line.
constexpr DWORD kProcessCommandLineChars = kInterpreterChars + 4 + kCommandLineChars;

// Starts `interpreter` with "/c commandLine" and waits for it. False when it cannot be started;
// `error` then holds the reason.
bool StartAndWait(WindowsApi& api, const WCHAR* interpreter, const WCHAR* commandLine,
                  LONG& exitStatus, DWORD& error) {
  WCHAR processCommandLine[kProcessCommandLineChars];
  if (FormatText(processCommandLine, kProcessCommandLineChars, u"%s /c %s",
                 {interpreter, commandLine}) < 0) {
    error = ERROR_FILENAME_EXCED_RANGE;  // never start a shortened command
    return false;
  }
  PROCESS_INFORMATION info = {};
  if (!api.CreateProcessW(interpreter, processCommandLine, &info)) {
    error = api.GetLastError();
    return false;
  }
  KernelObjectGuard process(api, info.hProcess);
  KernelObjectGuard thread(api, info.hThread);
  DWORD exitCode = 0;
  if (api.WaitForSingleObject(info.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !api.GetExitCodeProcess(info.hProcess, &exitCode)) {
    exitStatus = kNoExitStatus;
  } else {
    exitStatus = static_cast<LONG>(exitCode);
  }
  return true;
}

}  // namespace

LONG RunCommandLine(WindowsApi& api, const WCHAR* commandLine) {
  WCHAR interpreter[kInterpreterChars] = {};
  LONG exitStatus = kNoExitStatus;
  DWORD error = 0;
  // A COMSPEC too long for a path is treated like one that names no file.
  const DWORD comspecChars =
      api.GetEnvironmentVariableW(u"COMSPEC", interpreter, kInterpreterChars);
  if (comspecChars != 0 && comspecChars < kInterpreterChars) {
    if (StartAndWait(api, interpreter, commandLine, exitStatus, error)) {
      return exitStatus;
    }
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_ACCESS_DENIED) {
      return kNoExitStatus;
    }
  }
  // The system folder's cmd.exe, never one found by a search: a search looks in the program's
  // folder and the current folder first, where whoever unpacked the packages could have put
  // one, and this runs with administrator rights.
  WCHAR systemFolder[kInterpreterChars];
  const UINT systemChars = api.GetSystemDirectoryW(systemFolder, kInterpreterChars);
  if (systemChars == 0 || systemChars >= kInterpreterChars ||
      FormatText(interpreter, kInterpreterChars, u"%s\\cmd.exe", {systemFolder}) < 0) {
    return kNoExitStatus;
  }
  return StartAndWait(api, interpreter, commandLine, exitStatus, error) ? exitStatus
                                                                        : kNoExitStatus;
}

}  // namespace orv
