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

  LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam,
                     HKEY* result) override;
  LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass,
                       DWORD options, REGSAM sam, const void* security, HKEY* result,
                       DWORD* disposition) override;
  LONG RegCloseKey(HKEY key) override;
  LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                        DWORD* dataSize) override;
  LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                      const BYTE* data, DWORD dataSize) override;
  LONG RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                     DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) override;
  LONG RegDeleteValueW(HKEY key, const WCHAR* valueName) override;
  LONG RegDeleteKeyW(HKEY key, const WCHAR* subKey) override;

  HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent,
                                DWORD flags) override;
  BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) override;
  HKEY SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope, DWORD hwProfile,
                            DWORD keyType, REGSAM sam) override;
  BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                         DWORD* type, BYTE* buffer, DWORD bufferSize,
                                         DWORD* requiredSize) override;
  BOOL SetupDiSetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property,
                                         const BYTE* buffer, DWORD bufferSize) override;
  BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                     const SP_CLASSINSTALL_HEADER* params,
                                     DWORD paramsSize) override;
  BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set,
                                 SP_DEVINFO_DATA* device) override;
  BOOL SetupDiRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device) override;
  BOOL SetupDiDeleteDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope, DWORD hwProfile,
                              DWORD keyType) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;

  LONG ComDBOpen(HCOMDB* database) override;
  LONG ComDBReleasePort(HCOMDB database, DWORD comNumber) override;
  LONG ComDBClose(HCOMDB database) override;

  BOOL GetVersionExW(OSVERSIONINFOEXW* info) override;
  BOOL GetNativeSystemInfo(SYSTEM_INFO* info) override;
  void GetSystemInfo(SYSTEM_INFO* info) override;
  BOOL IsWow64Process(HANDLE process, BOOL* wow64) override;

  DWORD GetFullPathNameW(const WCHAR* fileName, DWORD bufferChars, WCHAR* buffer,
                         WCHAR** filePart) override;
  HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) override;
  BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* findData) override;
  BOOL FindClose(HANDLE search) override;
  UINT GetWindowsDirectoryW(WCHAR* buffer, UINT bufferChars) override;
  UINT GetSystemDirectoryW(WCHAR* buffer, UINT bufferChars) override;
  HANDLE CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode, const void* security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override;
  BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                void* overlapped) override;
  BOOL CloseHandle(HANDLE handle) override;

  DWORD DriverPackageInstallW(const WCHAR* infPath, DWORD flags, const INSTALLERINFO_W* installer,
                              BOOL* needReboot) override;
  DWORD DriverPackageUninstallW(const WCHAR* infPath, DWORD flags, const INSTALLERINFO_W* installer,
                                BOOL* needReboot) override;
  DWORD DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                              DWORD* storePathChars) override;

  DWORD GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) override;
  BOOL CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine,
                      PROCESS_INFORMATION* info) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
  DWORD GetLastError() override;

  void CrtWriteStdout(const WCHAR* text) override;
  void* CrtOpenAppend(const WCHAR* path) override;
  int CrtWriteText(void* file, const WCHAR* text) override;
  int CrtClose(void* file) override;

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
