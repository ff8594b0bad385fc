// System information of the simulated machine: its version, processor and WOW64 answers, its
// Windows and system directories, and its environment (the Environment key), which the other
// areas read too.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "winsim/sim_context.h"

namespace winsim {

class SimSystemInfo {
 public:
  explicit SimSystemInfo(SimContext& sim) : sim_(sim) {}

  orv::BOOL GetVersionExW(orv::OSVERSIONINFOEXW* info);
  orv::BOOL GetNativeSystemInfo(orv::SYSTEM_INFO* info);
  void GetSystemInfo(orv::SYSTEM_INFO* info);
  orv::BOOL IsWow64Process(orv::HANDLE process, orv::BOOL* wow64);
  orv::UINT GetWindowsDirectoryW(orv::WCHAR* buffer, orv::UINT bufferChars);
  orv::UINT GetSystemDirectoryW(orv::WCHAR* buffer, orv::UINT bufferChars);

  // Environment value of the machine (the Environment key), or nothing when unset.
  std::optional<std::u16string> Environment(std::u16string_view name) const;
  // True when the process is the x86 build on a 64-bit machine. Windows then refuses the class
  // installer and the driver-package install and uninstall (ERROR_IN_WOW64), redirects
  // HKLM\SOFTWARE to SOFTWARE\WOW6432Node and System32 to SysWOW64, and tells the process it
  // runs on an x86 processor (GetSystemInfo) while GetNativeSystemInfo tells the truth.
  bool Wow64() const;
  // The machine's Windows directory: SystemRoot, else C:\Windows.
  std::u16string WindowsDirectory() const;
  // The process's system folder: the Windows directory's System32, or SysWOW64 under WOW64.
  std::u16string SystemDirectory() const;
  // The file a path names for this process: under WOW64, System32 is SysWOW64.
  std::u16string FileSystemViewPath(std::u16string_view path) const;

 private:
  // The system information of the machine (processor architecture from the environment).
  void FillSystemInfo(orv::SYSTEM_INFO* info) const;
  // Ends GetWindowsDirectoryW or GetSystemDirectoryW: copies `folder` out, or gives the size
  // needed (terminator included) when the buffer is too small.
  orv::UINT CopyDirectory(const char* api, const std::u16string& folder, orv::WCHAR* buffer,
                          orv::UINT bufferChars);

  SimContext& sim_;
};

}  // namespace winsim
