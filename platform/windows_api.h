// The platform seam. Every platform call the operations make goes through one virtual function
// of the same name, with the Win32 argument order, constants and buffer-size rules. The real
// Windows backend forwards each call; the simulated machine implements them over its registry
// image and file space.
#pragma once

#include "platform/win_types.h"

namespace orv {

class WindowsApi {
 public:
  virtual ~WindowsApi() = default;

  // Registry.
  virtual LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam,
                             HKEY* result) = 0;
  virtual LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass,
                               DWORD options, REGSAM sam, const void* security, HKEY* result,
                               DWORD* disposition) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
  virtual LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                BYTE* data, DWORD* dataSize) = 0;
  virtual LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                              const BYTE* data, DWORD dataSize) = 0;
  virtual LONG RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                             DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) = 0;
  virtual LONG RegDeleteValueW(HKEY key, const WCHAR* valueName) = 0;
  virtual LONG RegDeleteKeyW(HKEY key, const WCHAR* subKey) = 0;

  // Device installation functions. Failures set the thread's last error.
  virtual HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator, HWND parent,
                                        DWORD flags) = 0;
  virtual BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) = 0;
  virtual HKEY SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                    DWORD hwProfile, DWORD keyType, REGSAM sam) = 0;
  virtual BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                 DWORD property, DWORD* type, BYTE* buffer,
                                                 DWORD bufferSize, DWORD* requiredSize) = 0;
  virtual BOOL SetupDiSetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                 DWORD property, const BYTE* buffer,
                                                 DWORD bufferSize) = 0;
  virtual BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                             const SP_CLASSINSTALL_HEADER* params,
                                             DWORD paramsSize) = 0;
  virtual BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set,
                                         SP_DEVINFO_DATA* device) = 0;
  virtual BOOL SetupDiRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device) = 0;
  virtual BOOL SetupDiDeleteDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                      DWORD hwProfile, DWORD keyType) = 0;
  virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;

  // COM port database.
  virtual LONG ComDBOpen(HCOMDB* database) = 0;
  virtual LONG ComDBReleasePort(HCOMDB database, DWORD comNumber) = 0;
  virtual LONG ComDBClose(HCOMDB database) = 0;

  // Version and system information. GetNativeSystemInfo stands for the look-up of that function
  // in kernel32.dll and its call: FALSE means that kernel32.dll does not export it.
  virtual BOOL GetVersionExW(OSVERSIONINFOEXW* info) = 0;
  virtual BOOL GetNativeSystemInfo(SYSTEM_INFO* info) = 0;
  virtual void GetSystemInfo(SYSTEM_INFO* info) = 0;
  // IsWow64Process stands for the look-up of that function in kernel32.dll and its call: FALSE
  // with ERROR_PROC_NOT_FOUND means that kernel32.dll does not export it (Windows 2000).
  virtual BOOL IsWow64Process(HANDLE process, BOOL* wow64) = 0;

  // Files.
  virtual DWORD GetFullPathNameW(const WCHAR* fileName, DWORD bufferChars, WCHAR* buffer,
                                 WCHAR** filePart) = 0;
  virtual HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) = 0;
  virtual BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* findData) = 0;
  virtual BOOL FindClose(HANDLE search) = 0;
  virtual UINT GetWindowsDirectoryW(WCHAR* buffer, UINT bufferChars) = 0;
  virtual UINT GetSystemDirectoryW(WCHAR* buffer, UINT bufferChars) = 0;
  virtual HANDLE CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode,
                             const void* security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) = 0;
  virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                        void* overlapped) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;

  // Driver-package interface (DIFx); each returns a status, 0 on success.
  virtual DWORD DriverPackageInstallW(const WCHAR* infPath, DWORD flags,
                                      const INSTALLERINFO_W* installer, BOOL* needReboot) = 0;
  virtual DWORD DriverPackageUninstallW(const WCHAR* infPath, DWORD flags,
                                        const INSTALLERINFO_W* installer, BOOL* needReboot) = 0;
  virtual DWORD DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                                      DWORD* storePathChars) = 0;

  // Processes. CreateProcessW starts applicationName (a full path, or null to take the program
  // from the command line) with that command line, inheriting the console and standard handles,
  // in the current directory and environment.
  virtual DWORD GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) = 0;
  virtual BOOL CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine,
                              PROCESS_INFORMATION* info) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  virtual BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) = 0;
  virtual DWORD GetLastError() = 0;

  // C runtime: wide formatted text on the text-mode standard output, and a text-mode 8-bit file
  // opened for appending ("a"), where each "\n" becomes CR LF. CrtOpenAppend returns null when
  // the file cannot be opened.
  virtual void CrtWriteStdout(const WCHAR* text) = 0;
  virtual void* CrtOpenAppend(const WCHAR* path) = 0;
  virtual int CrtWriteText(void* file, const WCHAR* text) = 0;
  virtual int CrtClose(void* file) = 0;
};

}  // namespace orv
