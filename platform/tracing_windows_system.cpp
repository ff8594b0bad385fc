// TracingWindows: version and system information, the system folders, the environment and
// processes.
#include "platform/tracing_windows.h"

#include "platform/trace_text.h"

namespace orv {

BOOL TracingWindows::GetVersionExW(OSVERSIONINFOEXW* info) {
  const std::string args = info == nullptr ? "null" : std::to_string(info->dwOSVersionInfoSize);
  const BOOL ok = inner_.GetVersionExW(info);
  std::string outputs;
  if (ok != FALSE) {
    outputs = std::to_string(info->dwMajorVersion) + "." + std::to_string(info->dwMinorVersion);
    if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXW)) {
      outputs += ", " + Hex(info->wProductType);
    }
  }
  Write("GetVersionExW", args, BoolResult(ok, outputs));
  return ok;
}

BOOL TracingWindows::GetNativeSystemInfo(SYSTEM_INFO* info) {
  const BOOL ok = inner_.GetNativeSystemInfo(info);
  Write("GetNativeSystemInfo", info == nullptr ? "null" : "",
        BoolResult(ok, ok != FALSE ? std::to_string(info->wProcessorArchitecture) : ""));
  return ok;
}

void TracingWindows::GetSystemInfo(SYSTEM_INFO* info) {
  inner_.GetSystemInfo(info);
  if (info == nullptr) {
    Write("GetSystemInfo", "null", "void");
  } else {
    Write("GetSystemInfo", {}, "void -> " + std::to_string(info->wProcessorArchitecture));
  }
}

BOOL TracingWindows::IsWow64Process(HANDLE process, BOOL* wow64) {
  const std::string args =
      process == kCurrentProcess ? "GetCurrentProcess()" : Handle("process", process);
  const BOOL ok = inner_.IsWow64Process(process, wow64);
  Write("IsWow64Process", args,
        BoolResult(ok, ok != FALSE ? (*wow64 != FALSE ? "TRUE" : "FALSE") : ""));
  return ok;
}

UINT TracingWindows::GetWindowsDirectoryW(WCHAR* buffer, UINT bufferChars) {
  const UINT length = inner_.GetWindowsDirectoryW(buffer, bufferChars);
  Write("GetWindowsDirectoryW", std::to_string(bufferChars),
        LengthResult(length, bufferChars, buffer, length == 0 ? inner_.GetLastError() : 0));
  return length;
}

UINT TracingWindows::GetSystemDirectoryW(WCHAR* buffer, UINT bufferChars) {
  const UINT length = inner_.GetSystemDirectoryW(buffer, bufferChars);
  Write("GetSystemDirectoryW", std::to_string(bufferChars),
        LengthResult(length, bufferChars, buffer, length == 0 ? inner_.GetLastError() : 0));
  return length;
}

// Environment and processes.

DWORD TracingWindows::GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) {
  const std::string args = Quoted(name) + ", " + std::to_string(bufferChars);
  const DWORD length = inner_.GetEnvironmentVariableW(name, buffer, bufferChars);
  const DWORD error = length == 0 ? inner_.GetLastError() : 0;
  // An empty value gives 0 with no error.
  Write("GetEnvironmentVariableW", args,
        length == 0 && error == ERROR_SUCCESS && bufferChars != 0
            ? std::string("0 -> \"\"")
            : LengthResult(length, bufferChars, buffer, error));
  return length;
}

BOOL TracingWindows::CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine,
                                    PROCESS_INFORMATION* info) {
  const std::string args = Quoted(applicationName) + ", " + Quoted(commandLine);
  const BOOL ok = inner_.CreateProcessW(applicationName, commandLine, info);
  std::string outputs;
  if (ok != FALSE) {
    Created(info->hProcess, "process");
    Created(info->hThread, "thread");
    outputs = Handle("process", info->hProcess) + ", " + Handle("thread", info->hThread);
  }
  Write("CreateProcessW", args, BoolResult(ok, outputs));
  return ok;
}

DWORD TracingWindows::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  const std::string args = Handle(KindOf(handle, "process"), handle) + ", " + Hex(milliseconds);
  const DWORD result = inner_.WaitForSingleObject(handle, milliseconds);
  Write("WaitForSingleObject", args,
        result == WAIT_OBJECT_0 ? std::string("WAIT_OBJECT_0")
        : result == WAIT_FAILED ? "WAIT_FAILED (" + Hex(inner_.GetLastError()) + ")"
                                : Hex(result));
  return result;
}

BOOL TracingWindows::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  const std::string args = Handle("process", process);
  const BOOL ok = inner_.GetExitCodeProcess(process, exitCode);
  Write("GetExitCodeProcess", args, BoolResult(ok, ok != FALSE ? Hex(*exitCode) : ""));
  return ok;
}

}  // namespace orv
