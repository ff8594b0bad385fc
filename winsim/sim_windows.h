// The platform seam over a simulated machine. Each call behaves as the Win32 call does for the
// arguments the tool passes (statuses, last error, buffer-size rules), can be made to fail, and
// is written to the trace.
//
// SimWindows only forwards: each Windows area is a component that owns its handles (see
// "The simulated platform" in docs/architecture.md): SimRegistry (sim_registry.h), SimSetupApi
// (device sets, sim_setupapi.h), SimComDb (the COM port database, sim_comdb.h), SimFiles (files and
// the C runtime, sim_files.h), SimDifx (driver packages, sim_difx.h), SimProcesses (the command
// interpreter and the package installer, sim_processes.h) and SimSystemInfo (version, processor,
// WOW64, directories and environment, sim_system_info.h). They share one SimContext
// (sim_context.h): the machine, the options, the last error, the handle numbering, the tracer
// (sim_trace.h) and the faults (sim_faults.h).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/windows_api.h"
#include "winsim/file_space.h"
#include "winsim/machine.h"
#include "winsim/sim_comdb.h"
#include "winsim/sim_context.h"
#include "winsim/sim_difx.h"
#include "winsim/sim_faults.h"
#include "winsim/sim_files.h"
#include "winsim/sim_processes.h"
#include "winsim/sim_registry.h"
#include "winsim/sim_setupapi.h"
#include "winsim/sim_system_info.h"
#include "winsim/sim_trace.h"

namespace winsim {

class SimWindows : public orv::WindowsApi {
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
  const std::string& stdoutText() const { return files_.stdoutText(); }  // UTF-8, LF line ends
  Machine& machine() { return sim_.machine; }
  FileSpace& files() { return sim_.files; }

  // Registry.
  orv::LONG RegOpenKeyExW(orv::HKEY key, const orv::WCHAR* subKey, orv::DWORD options,
                          orv::REGSAM sam, orv::HKEY* result) override {
    return registry_.RegOpenKeyExW(key, subKey, options, sam, result);
  }
  orv::LONG RegCreateKeyExW(orv::HKEY key, const orv::WCHAR* subKey, orv::DWORD reserved,
                            orv::WCHAR* /*keyClass*/, orv::DWORD options, orv::REGSAM sam,
                            const void* /*security*/, orv::HKEY* result,
                            orv::DWORD* disposition) override {
    return registry_.RegCreateKeyExW(key, subKey, reserved, options, sam, result, disposition);
  }
  orv::LONG RegCloseKey(orv::HKEY key) override { return registry_.RegCloseKey(key); }
  orv::LONG RegQueryValueExW(orv::HKEY key, const orv::WCHAR* valueName, orv::DWORD* reserved,
                             orv::DWORD* type, orv::BYTE* data, orv::DWORD* dataSize) override {
    return registry_.RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
  }
  orv::LONG RegSetValueExW(orv::HKEY key, const orv::WCHAR* valueName, orv::DWORD reserved,
                           orv::DWORD type, const orv::BYTE* data, orv::DWORD dataSize) override {
    return registry_.RegSetValueExW(key, valueName, reserved, type, data, dataSize);
  }
  orv::LONG RegEnumValueW(orv::HKEY key, orv::DWORD index, orv::WCHAR* valueName,
                          orv::DWORD* valueNameChars, orv::DWORD* reserved, orv::DWORD* type,
                          orv::BYTE* data, orv::DWORD* dataSize) override {
    return registry_.RegEnumValueW(key, index, valueName, valueNameChars, reserved, type, data,
                                   dataSize);
  }
  orv::LONG RegDeleteValueW(orv::HKEY key, const orv::WCHAR* valueName) override {
    return registry_.RegDeleteValueW(key, valueName);
  }
  orv::LONG RegDeleteKeyW(orv::HKEY key, const orv::WCHAR* subKey) override {
    return registry_.RegDeleteKeyW(key, subKey);
  }

  // Devices.
  orv::HDEVINFO SetupDiGetClassDevsW(const orv::GUID* classGuid, const orv::WCHAR* enumerator,
                                     orv::HWND /*parent*/, orv::DWORD flags) override {
    return setupApi_.SetupDiGetClassDevsW(classGuid, enumerator, flags);
  }
  orv::BOOL SetupDiEnumDeviceInfo(orv::HDEVINFO set, orv::DWORD index,
                                  orv::SP_DEVINFO_DATA* device) override {
    return setupApi_.SetupDiEnumDeviceInfo(set, index, device);
  }
  orv::HKEY SetupDiOpenDevRegKey(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device, orv::DWORD scope,
                                 orv::DWORD hwProfile, orv::DWORD keyType,
                                 orv::REGSAM sam) override {
    return setupApi_.SetupDiOpenDevRegKey(set, device, scope, hwProfile, keyType, sam);
  }
  orv::BOOL SetupDiGetDeviceRegistryPropertyW(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                              orv::DWORD property, orv::DWORD* type,
                                              orv::BYTE* buffer, orv::DWORD bufferSize,
                                              orv::DWORD* requiredSize) override {
    return setupApi_.SetupDiGetDeviceRegistryPropertyW(set, device, property, type, buffer,
                                                       bufferSize, requiredSize);
  }
  orv::BOOL SetupDiSetDeviceRegistryPropertyW(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                              orv::DWORD property, const orv::BYTE* buffer,
                                              orv::DWORD bufferSize) override {
    return setupApi_.SetupDiSetDeviceRegistryPropertyW(set, device, property, buffer, bufferSize);
  }
  orv::BOOL SetupDiSetClassInstallParamsW(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                          const orv::SP_CLASSINSTALL_HEADER* params,
                                          orv::DWORD paramsSize) override {
    return setupApi_.SetupDiSetClassInstallParamsW(set, device, params, paramsSize);
  }
  orv::BOOL SetupDiCallClassInstaller(orv::DI_FUNCTION function, orv::HDEVINFO set,
                                      orv::SP_DEVINFO_DATA* device) override {
    return setupApi_.SetupDiCallClassInstaller(function, set, device);
  }
  orv::BOOL SetupDiRemoveDevice(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device) override {
    return setupApi_.SetupDiRemoveDevice(set, device);
  }
  orv::BOOL SetupDiDeleteDevRegKey(orv::HDEVINFO set, orv::SP_DEVINFO_DATA* device,
                                   orv::DWORD scope, orv::DWORD hwProfile,
                                   orv::DWORD keyType) override {
    return setupApi_.SetupDiDeleteDevRegKey(set, device, scope, hwProfile, keyType);
  }
  orv::BOOL SetupDiDestroyDeviceInfoList(orv::HDEVINFO set) override {
    return setupApi_.SetupDiDestroyDeviceInfoList(set);
  }

  // COM port database.
  orv::LONG ComDBOpen(orv::HCOMDB* database) override { return comDb_.ComDBOpen(database); }
  orv::LONG ComDBReleasePort(orv::HCOMDB database, orv::DWORD comNumber) override {
    return comDb_.ComDBReleasePort(database, comNumber);
  }
  orv::LONG ComDBClose(orv::HCOMDB database) override { return comDb_.ComDBClose(database); }

  // Version, system information and the Windows and system directories.
  orv::BOOL GetVersionExW(orv::OSVERSIONINFOEXW* info) override {
    return system_.GetVersionExW(info);
  }
  orv::BOOL GetNativeSystemInfo(orv::SYSTEM_INFO* info) override {
    return system_.GetNativeSystemInfo(info);
  }
  void GetSystemInfo(orv::SYSTEM_INFO* info) override { system_.GetSystemInfo(info); }
  orv::BOOL IsWow64Process(orv::HANDLE process, orv::BOOL* wow64) override {
    return system_.IsWow64Process(process, wow64);
  }
  orv::UINT GetWindowsDirectoryW(orv::WCHAR* buffer, orv::UINT bufferChars) override {
    return system_.GetWindowsDirectoryW(buffer, bufferChars);
  }
  orv::UINT GetSystemDirectoryW(orv::WCHAR* buffer, orv::UINT bufferChars) override {
    return system_.GetSystemDirectoryW(buffer, bufferChars);
  }

  // Files.
  orv::DWORD GetFullPathNameW(const orv::WCHAR* fileName, orv::DWORD bufferChars,
                              orv::WCHAR* buffer, orv::WCHAR** filePart) override {
    return files_.GetFullPathNameW(fileName, bufferChars, buffer, filePart);
  }
  orv::HANDLE FindFirstFileW(const orv::WCHAR* pattern, orv::WIN32_FIND_DATAW* findData) override {
    return files_.FindFirstFileW(pattern, findData);
  }
  orv::BOOL FindNextFileW(orv::HANDLE search, orv::WIN32_FIND_DATAW* findData) override {
    return files_.FindNextFileW(search, findData);
  }
  orv::BOOL FindClose(orv::HANDLE search) override { return files_.FindClose(search); }
  orv::HANDLE CreateFileW(const orv::WCHAR* fileName, orv::DWORD access, orv::DWORD shareMode,
                          const void* /*security*/, orv::DWORD disposition, orv::DWORD flags,
                          orv::HANDLE /*templateFile*/) override {
    return files_.CreateFileW(fileName, access, shareMode, disposition, flags);
  }
  orv::BOOL ReadFile(orv::HANDLE file, void* buffer, orv::DWORD bytesToRead, orv::DWORD* bytesRead,
                     void* overlapped) override {
    return files_.ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
  }
  // The area that opened the handle closes it.
  orv::BOOL CloseHandle(orv::HANDLE handle) override;

  // Driver packages.
  orv::DWORD DriverPackageInstallW(const orv::WCHAR* infPath, orv::DWORD flags,
                                   const orv::INSTALLERINFO_W* /*installer*/,
                                   orv::BOOL* needReboot) override {
    return difx_.DriverPackageInstallW(infPath, flags, needReboot);
  }
  orv::DWORD DriverPackageUninstallW(const orv::WCHAR* infPath, orv::DWORD flags,
                                     const orv::INSTALLERINFO_W* /*installer*/,
                                     orv::BOOL* needReboot) override {
    return difx_.DriverPackageUninstallW(infPath, flags, needReboot);
  }
  orv::DWORD DriverPackageGetPathW(const orv::WCHAR* infPath, orv::WCHAR* storePath,
                                   orv::DWORD* storePathChars) override {
    return difx_.DriverPackageGetPathW(infPath, storePath, storePathChars);
  }

  // Processes and their environment.
  orv::DWORD GetEnvironmentVariableW(const orv::WCHAR* name, orv::WCHAR* buffer,
                                     orv::DWORD bufferChars) override {
    return processes_.GetEnvironmentVariableW(name, buffer, bufferChars);
  }
  orv::BOOL CreateProcessW(const orv::WCHAR* applicationName, orv::WCHAR* commandLine,
                           orv::PROCESS_INFORMATION* info) override {
    return processes_.CreateProcessW(applicationName, commandLine, info);
  }
  orv::DWORD WaitForSingleObject(orv::HANDLE handle, orv::DWORD milliseconds) override {
    return processes_.WaitForSingleObject(handle, milliseconds);
  }
  orv::BOOL GetExitCodeProcess(orv::HANDLE process, orv::DWORD* exitCode) override {
    return processes_.GetExitCodeProcess(process, exitCode);
  }
  orv::DWORD GetLastError() override { return sim_.lastError; }

  // C runtime.
  void CrtWriteStdout(const orv::WCHAR* text) override { files_.CrtWriteStdout(text); }
  void* CrtOpenAppend(const orv::WCHAR* path) override { return files_.CrtOpenAppend(path); }
  int CrtWriteText(void* file, const orv::WCHAR* text) override {
    return files_.CrtWriteText(file, text);
  }
  int CrtClose(void* file) override { return files_.CrtClose(file); }

 private:
  SimContext sim_;
  SimSystemInfo system_{sim_};
  SimRegistry registry_{sim_, system_};
  SimSetupApi setupApi_{sim_, registry_, system_};
  SimComDb comDb_{sim_};
  SimFiles files_{sim_};
  SimDifx difx_{sim_, system_};
  SimProcesses processes_{sim_, system_, difx_};
};

}  // namespace winsim
