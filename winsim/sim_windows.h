// The platform seam over a simulated machine. Each call behaves as the Win32 call does for the
// arguments the tool passes (statuses, last error, buffer-size rules), can be made to fail, and
// is written to the trace.
//
// The implementation is split by area: sim_windows.cpp (trace, faults, handles, version,
// environment, console), sim_registry.cpp, sim_setupapi.cpp (devices and the COM port database),
// sim_files.cpp (files and the C runtime's response file), sim_difx.cpp (driver packages) and
// sim_process.cpp (the command interpreter and the package installer).
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

namespace winsim {

using namespace orv;  // the Win32-shaped names, as the implementation files use them

// One traced call: the function name, its arguments and its result as text, and the device
// instance path (e.g. ORVPCARD_ENUM\ORVPCARD_PARPECP\1) when the call is about one device.
struct TraceEntry {
  std::string api;
  std::string args;
  std::string result;
  std::string device;
  std::string Line() const;  // api(args) = result [device]
};

// A failure armed for a test. A call fails when its name is `api`, `target` is empty or occurs
// (without regard to case) in its traced argument text or its device, and, when `nth` is not 0,
// it is the nth such call (counted from 1). The call then fails with `status`: returned as such
// by calls that return a status, set as the last error by calls that return BOOL or a handle.
struct Fault {
  std::string api;
  std::string target;
  int nth = 0;
  DWORD status = ERROR_ACCESS_DENIED;
  int seen = 0;  // matching calls so far
};

struct SimOptions {
  std::u16string currentDirectory = u"C:\\";  // full Windows path
  std::FILE* stdoutSink = nullptr;           // where console text also goes (null: kept only)
  std::string traceFile;                     // ORVCARD_TRACE: appended one line per call
};

class SimWindows : public WindowsApi {
 public:
  SimWindows(Machine& machine, SimOptions options);
  ~SimWindows() override;

  // Test hooks.
  void ArmFault(Fault fault) { faults_.push_back(std::move(fault)); }
  const std::vector<TraceEntry>& trace() const { return trace_; }
  std::vector<std::string> TraceLines() const;
  void ClearTrace() { trace_.clear(); }
  // Handles opened through the seam and not yet closed (keys, device sets, COM databases,
  // searches, files, processes, C runtime files).
  std::size_t OpenHandleCount() const;
  const std::string& stdoutText() const { return stdout_; }  // UTF-8, LF line ends
  Machine& machine() { return machine_; }
  FileSpace& files() { return files_; }

  // Registry.
  LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam,
                     HKEY* result) override;
  LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass,
                       DWORD options, REGSAM sam, const void* security, HKEY* result,
                       DWORD* disposition) override;
  LONG RegCloseKey(HKEY key) override;
  LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                        BYTE* data, DWORD* dataSize) override;
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
  BOOL SetupDiDeleteDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                              DWORD hwProfile, DWORD keyType) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;

  // COM port database.
  LONG ComDBOpen(HCOMDB* database) override;
  LONG ComDBReleasePort(HCOMDB database, DWORD comNumber) override;
  LONG ComDBClose(HCOMDB database) override;

  // Version and system information.
  BOOL GetVersionExW(OSVERSIONINFOEXW* info) override;
  BOOL GetNativeSystemInfo(SYSTEM_INFO* info) override;
  void GetSystemInfo(SYSTEM_INFO* info) override;

  // Files.
  DWORD GetFullPathNameW(const WCHAR* fileName, DWORD bufferChars, WCHAR* buffer,
                         WCHAR** filePart) override;
  HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) override;
  BOOL FindNextFileW(HANDLE search, WIN32_FIND_DATAW* findData) override;
  BOOL FindClose(HANDLE search) override;
  UINT GetWindowsDirectoryW(WCHAR* buffer, UINT bufferChars) override;
  HANDLE CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode, const void* security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override;
  BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                void* overlapped) override;
  BOOL CloseHandle(HANDLE handle) override;

  // Driver packages.
  DWORD DriverPackageInstallW(const WCHAR* infPath, DWORD flags,
                              const INSTALLERINFO_W* installer, BOOL* needReboot) override;
  DWORD DriverPackageUninstallW(const WCHAR* infPath, DWORD flags,
                                const INSTALLERINFO_W* installer, BOOL* needReboot) override;
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
  DWORD GetLastError() override { return lastError_; }

  // C runtime.
  void CrtWriteStdout(const WCHAR* text) override;
  void* CrtOpenAppend(const WCHAR* path) override;
  int CrtWriteText(void* file, const WCHAR* text) override;
  int CrtClose(void* file) override;

 private:
  // --- shared by all areas (sim_windows.cpp) ---
  // Records a call in the trace (and in the trace file).
  void Trace(std::string api, std::string args, std::string result, std::string device = {});
  // The armed or image failure for this call, if any (image failures: a REG_MULTI_SZ value
  // SimulateFailure in `deviceInstance` that lists `api`).
  std::optional<DWORD> FaultFor(std::string_view api, std::string_view args,
                                std::string_view device, const RegKey* deviceInstance = nullptr);
  std::uintptr_t NewHandleValue() { return nextHandle_++; }
  // Environment value of the machine (the Environment key), or null when unset.
  std::optional<std::u16string> Environment(std::u16string_view name) const;

  // --- registry (sim_registry.cpp) ---
  // The key an HKEY names: a predefined root or an open handle; null when invalid.
  std::shared_ptr<RegKey> KeyOf(HKEY key) const;
  HKEY NewKeyHandle(std::shared_ptr<RegKey> key);
  std::map<std::uintptr_t, std::shared_ptr<RegKey>> keys_;

  // --- devices (sim_setupapi.cpp) ---
  struct DeviceSet {
    std::vector<std::shared_ptr<RegKey>> members;  // instance keys, in set order
    std::map<DWORD, SP_PROPCHANGE_PARAMS> installParams;  // by member index
  };
  std::map<std::uintptr_t, DeviceSet> sets_;
  std::set<std::uintptr_t> comDatabases_;

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
  std::map<std::uintptr_t, std::filesystem::path> crtFiles_;  // response files open for append

  // --- processes (sim_process.cpp) ---
  std::map<std::uintptr_t, DWORD> processes_;  // finished processes and their exit statuses

  Machine& machine_;
  SimOptions options_;
  FileSpace files_;
  std::vector<TraceEntry> trace_;
  std::vector<Fault> faults_;
  std::string stdout_;
  DWORD lastError_ = 0;
  std::uintptr_t nextHandle_ = 0x1000;
};

// Text helpers for the implementation files and tests.
std::string Narrow(const WCHAR* text);  // UTF-8 of a NUL-terminated text ("null" for null)
std::string Hex(DWORD value);           // 0x12

}  // namespace winsim
