// The platform seam over a simulated machine. Each call behaves as the Win32 call does for the
// arguments the tool passes (statuses, last error, buffer-size rules), can be made to fail, and
// is written to the trace.
//
// The implementation is split by area: sim_windows.cpp (version, environment, console),
// sim_registry.cpp, sim_setupapi.cpp (devices and the COM port database), sim_files.cpp (files and
// the C runtime's response file), sim_difx.cpp (driver packages) and sim_process.cpp (the command
// interpreter and the package installer). The areas share one SimContext (sim_context.h): the
// machine, the options, the last error, the handle numbering, the tracer (sim_trace.h) and the
// faults (sim_faults.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows_api.h"
#include "winsim/file_space.h"
#include "winsim/machine.h"
#include "winsim/sim_context.h"

namespace winsim {

using namespace orv;  // the Win32-shaped names, as the implementation files use them

class SimWindows : public WindowsApi {
 public:
  SimWindows(Machine& machine, SimOptions options);

  // Test hooks.
  void ArmFault(Fault fault) { sim_.faults.Arm(std::move(fault)); }
  const std::vector<TraceEntry>& trace() const { return sim_.tracer.entries(); }
  std::vector<std::string> TraceLines() const;
  void ClearTrace() { sim_.tracer.Clear(); }
  // Handles opened through the seam and not yet closed (keys, device sets, COM databases,
  // searches, files, processes, C runtime files).
  std::size_t OpenHandleCount() const;
  const std::string& stdoutText() const { return stdout_; }  // UTF-8, LF line ends
  Machine& machine() { return sim_.machine; }
  FileSpace& files() { return sim_.files; }

  // Registry.
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

  // Devices.
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

  // COM port database.
  LONG ComDBOpen(HCOMDB* database) override;
  LONG ComDBReleasePort(HCOMDB database, DWORD comNumber) override;
  LONG ComDBClose(HCOMDB database) override;

  // Version and system information.
  BOOL GetVersionExW(OSVERSIONINFOEXW* info) override;
  BOOL GetNativeSystemInfo(SYSTEM_INFO* info) override;
  void GetSystemInfo(SYSTEM_INFO* info) override;
  BOOL IsWow64Process(HANDLE process, BOOL* wow64) override;

  // Files.
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

  // Driver packages.
  DWORD DriverPackageInstallW(const WCHAR* infPath, DWORD flags, const INSTALLERINFO_W* installer,
                              BOOL* needReboot) override;
  DWORD DriverPackageUninstallW(const WCHAR* infPath, DWORD flags, const INSTALLERINFO_W* installer,
                                BOOL* needReboot) override;
  DWORD DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                              DWORD* storePathChars) override;

  // Processes.
  DWORD GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) override;
  DWORD SearchPathW(const WCHAR* path, const WCHAR* fileName, const WCHAR* extension,
                    DWORD bufferChars, WCHAR* buffer, WCHAR** filePart) override;
  BOOL CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine,
                      PROCESS_INFORMATION* info) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) override;
  DWORD GetLastError() override { return sim_.lastError; }

  // C runtime.
  void CrtWriteStdout(const WCHAR* text) override;
  void* CrtOpenAppend(const WCHAR* path) override;
  int CrtWriteText(void* file, const WCHAR* text) override;
  int CrtClose(void* file) override;

 private:
  // --- shared by all areas (sim_windows.cpp) ---
  // Environment value of the machine (the Environment key), or null when unset.
  std::optional<std::u16string> Environment(std::u16string_view name) const;
  // The text of a value of `key` up to its first NUL, whatever its type; empty when missing.
  static std::u16string ValueText(const RegKey& key, std::u16string_view name);
  // The key at `path` below `from`, sharing ownership as a handle does; null when missing.
  static std::shared_ptr<RegKey> OpenShared(std::shared_ptr<RegKey> from, std::u16string_view path);
  // The system information of the machine (processor architecture from the environment).
  void FillSystemInfo(SYSTEM_INFO* info) const;
  // True when the process is the x86 build on a 64-bit machine. Windows then refuses the class
  // installer and the driver-package install and uninstall (ERROR_IN_WOW64), redirects
  // HKLM\SOFTWARE to SOFTWARE\WOW6432Node and System32 to SysWOW64, and tells the process it
  // runs on an x86 processor (GetSystemInfo) while GetNativeSystemInfo tells the truth.
  bool Wow64() const;
  // The key path a registry call below `key` reaches: under WOW64, a path below HKLM\SOFTWARE
  // goes to the 32-bit view, SOFTWARE\WOW6432Node.
  std::u16string RegistryViewPath(HKEY key, std::u16string_view subKey) const;
  // The file a path names for this process: under WOW64, System32 is SysWOW64.
  std::u16string FileSystemViewPath(std::u16string_view path) const;
  // The process's system folder: the Windows directory's System32, or SysWOW64 under WOW64.
  std::u16string SystemDirectory() const;

  // --- registry (sim_registry.cpp) ---
  // The key an HKEY names: a predefined root or an open handle; null when invalid.
  std::shared_ptr<RegKey> KeyOf(HKEY key) const;
  HKEY NewKeyHandle(std::shared_ptr<RegKey> key);
  struct KeyCall {
    std::shared_ptr<RegKey> key;  // null for an invalid handle
    std::string device;           // the device instance the key lies in, for the trace
    DWORD status = ERROR_SUCCESS;
  };
  // Starts a call on an open key: resolves the handle, then checks faults and deletion.
  KeyCall BeginKeyCall(HKEY handle, std::string_view api, std::string_view args);
  std::map<std::uintptr_t, std::shared_ptr<RegKey>> keys_;

  // --- devices (sim_setupapi.cpp) ---
  struct DeviceMember {
    std::shared_ptr<RegKey> instance;  // deleted once the device is removed; the member stays
    std::string path;                  // <enumerator>\<device>\<instance>, for the trace
    DWORD devInst = 0;
    std::optional<SP_PROPCHANGE_PARAMS> installParams;
  };
  struct DeviceSet {
    std::vector<DeviceMember> members;  // in set order; removal never shifts an index
    std::optional<SP_PROPCHANGE_PARAMS> installParams;  // set for the whole set
  };
  // Trace text of a set and element: set#n[index].
  std::string MemberText(HDEVINFO set, const SP_DEVINFO_DATA* device) const;
  // The set a handle names, or null.
  DeviceSet* SetOf(HDEVINFO set);
  struct MemberCall {
    DeviceSet* set = nullptr;
    DeviceMember* member = nullptr;  // null when the set or the element is invalid
    std::string device;              // the member's instance path, for the trace
    DWORD status = ERROR_SUCCESS;
  };
  // Starts a call about one member: resolves the set and the element (whose Reserved field holds
  // the member index + 1), then checks faults and, when `needsNode`, that the device has not
  // been removed.
  MemberCall BeginMemberCall(HDEVINFO set, const SP_DEVINFO_DATA* device, std::string_view api,
                             std::string_view args, bool needsNode);
  // The device instance key at or above `key`, with its path, or null when `key` does not lie
  // in a device instance.
  const RegKey* InstanceOf(const RegKey& key, std::string* path) const;
  std::map<std::uintptr_t, DeviceSet> sets_;
  std::set<std::uintptr_t> comDatabases_;
  DWORD nextDevInst_ = 1;

  // --- files (sim_files.cpp) ---
  struct Search {
    std::vector<WIN32_FIND_DATAW> entries;
    std::size_t next = 0;
  };
  struct OpenFile {
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
  };
  std::map<std::uintptr_t, Search> searches_;
  std::map<std::uintptr_t, OpenFile> files_open_;
  // Response files open for append: their descriptors, which the machine's changes own.
  std::map<std::uintptr_t, int> crtFiles_;
  // The machine's Windows directory: SystemRoot, else C:\Windows.
  std::u16string WindowsDirectory() const;
  // The processor architecture the driver store decorates its folders with (AMD64, x86).
  std::u16string StoreArchitecture() const {
    return Environment(u"PROCESSOR_ARCHITECTURE").value_or(u"x86");
  }

  // --- processes (sim_process.cpp) ---
  // Finished processes and their exit statuses, by process and by thread handle.
  std::map<std::uintptr_t, DWORD> processes_;
  std::set<std::uintptr_t> threads_;  // the thread handles among them
  DWORD nextProcessId_ = 0x100;
  // The folders searched for a file named without a folder: with `systemFolders`, as Windows
  // searches for a program (the program's folder, the current directory, the system folder,
  // the Windows directory, then Path); without, as the interpreter does (the current directory,
  // then Path).
  std::vector<std::u16string> SearchFolders(bool systemFolders) const;
  // The full Windows path of the first regular file `name` in `folders`.
  std::optional<std::u16string> FindFile(std::u16string_view name,
                                         const std::vector<std::u16string>& folders) const;
  // The program file a command names, as the interpreter finds it: with a folder as given,
  // else in the current directory and then along Path; without an extension, each of PATHEXT.
  std::optional<std::u16string> FindCommand(std::u16string_view name) const;
  // Runs a program file to its end and returns its exit status; when it cannot start,
  // `startError` gets the reason (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
  // ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT).
  DWORD RunProgram(std::u16string_view program, std::u16string_view commandLine, DWORD* startError);
  DWORD RunInterpreter(std::u16string_view commandLine);
  DWORD RunInstaller(std::u16string_view program, std::u16string_view commandLine);
  // True when a present device has one of `ids` among its hardware identifiers.
  bool AnyDevicePresent(const std::vector<std::u16string>& ids) const;

  SimContext sim_;
  std::string stdout_;
};

}  // namespace winsim
