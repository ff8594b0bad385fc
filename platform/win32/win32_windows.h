// The real Windows platform: each call of the seam forwards to the Windows function of the same
// name. The COM port database (msports.dll) and the driver-package interface (DIFxAPI.dll) have
// no import library in the toolchain; they are loaded on first use, and a library or function
// that is missing makes the call return ERROR_PROC_NOT_FOUND.
//
// This header deliberately does not include <windows.h>: its macros (TRUE, MAX_PATH,
// ERROR_*, HKEY_LOCAL_MACHINE, ...) would clash with the names of platform/win_types.h.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/windows_api.h"

namespace orv {

// The file names of the libraries loaded at run time, always by full path. The COM port
// database is a system component, loaded from the system directory; the driver-package
// interface is redistributed with the program, so it is taken from the program's own folder,
// else from the system directory. Neither is searched for in the current directory, which holds
// the packages being installed. The backend's own tests name libraries that are missing or
// that lack the functions.
struct Win32Libraries {
  const WCHAR* comDatabase = u"msports.dll";
  const WCHAR* driverPackages = u"DIFxAPI.dll";
};

class Win32Windows final : public WindowsApi {
 public:
  explicit Win32Windows(const Win32Libraries& libraries = {});
  ~Win32Windows() override;
  Win32Windows(const Win32Windows&) = delete;
  Win32Windows& operator=(const Win32Windows&) = delete;

#include "platform/windows_api_overrides.inc"

  // Not a seam call: the instance path of a member of a device set, for the trace; empty when
  // it cannot be had.
  std::string DeviceInstancePath(HDEVINFO set, SP_DEVINFO_DATA* device);

 private:
  class RuntimeLibrary;
  std::unique_ptr<RuntimeLibrary> comDatabase_;
  std::unique_ptr<RuntimeLibrary> driverPackages_;
};

// A file that trace lines are appended to, opened as the simulated machine opens files named by
// the environment: created when missing, its final component never followed when it is a link
// (a symbolic link or junction is refused), a regular disk file only (no device, pipe or
// console), and never waited for. Each line is written with its "\n" at once.
class Win32TraceFile {
 public:
  // The open file, or null with `error` saying why.
  static std::unique_ptr<Win32TraceFile> Open(const WCHAR* path, std::string* error);
  ~Win32TraceFile();
  Win32TraceFile(const Win32TraceFile&) = delete;
  Win32TraceFile& operator=(const Win32TraceFile&) = delete;

  void Append(const std::string& line);

 private:
  explicit Win32TraceFile(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace orv
