#include "platform/win32/win32_windows.h"

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/text.h"

// The Windows headers come after ours: from here on TRUE, MAX_PATH, INVALID_HANDLE_VALUE,
// ERROR_* and the like are the macros of <windows.h>, with the same values as our constants.
// Inside namespace orv the unqualified type names (DWORD, HKEY, WCHAR, ...) are still ours; the
// Windows ones are written with a leading ::.
#include <windows.h>

#include <setupapi.h>

namespace orv {

// Our records are handed to Windows unchanged, so their layouts must be the platform's.
static_assert(sizeof(orv::GUID) == sizeof(::GUID));
static_assert(sizeof(orv::SP_DEVINFO_DATA) == sizeof(::SP_DEVINFO_DATA));
static_assert(offsetof(orv::SP_DEVINFO_DATA, DevInst) == offsetof(::SP_DEVINFO_DATA, DevInst));
static_assert(sizeof(orv::SP_PROPCHANGE_PARAMS) == sizeof(::SP_PROPCHANGE_PARAMS));
static_assert(sizeof(orv::OSVERSIONINFOEXW) == sizeof(::OSVERSIONINFOEXW));
static_assert(offsetof(orv::OSVERSIONINFOEXW, wProductType) ==
              offsetof(::OSVERSIONINFOEXW, wProductType));
static_assert(sizeof(orv::SYSTEM_INFO) == sizeof(::SYSTEM_INFO));
static_assert(offsetof(orv::SYSTEM_INFO, wProcessorRevision) ==
              offsetof(::SYSTEM_INFO, wProcessorRevision));
static_assert(sizeof(orv::WIN32_FIND_DATAW) == sizeof(::WIN32_FIND_DATAW));
static_assert(offsetof(orv::WIN32_FIND_DATAW, cFileName) ==
              offsetof(::WIN32_FIND_DATAW, cFileName));
static_assert(sizeof(orv::PROCESS_INFORMATION) == sizeof(::PROCESS_INFORMATION));
static_assert(sizeof(orv::DWORD) == sizeof(::DWORD) && sizeof(orv::WCHAR) == sizeof(::WCHAR));

namespace {

// Our DWORD is a 32-bit unsigned int, Windows' an unsigned long of the same size; our text
// units are char16_t, Windows' are wchar_t. Pointers are handed across unchanged.
::DWORD* Dw(DWORD* value) {
  return reinterpret_cast<::DWORD*>(value);
}
const wchar_t* Wide(const WCHAR* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* Wide(WCHAR* text) {
  return reinterpret_cast<wchar_t*>(text);
}
wchar_t** Wide(WCHAR** text) {
  return reinterpret_cast<wchar_t**>(text);
}
::HKEY Key(HKEY key) {
  return reinterpret_cast<::HKEY>(key);
}
::HKEY* Key(HKEY* key) {
  return reinterpret_cast<::HKEY*>(key);
}
::SP_DEVINFO_DATA* Device(SP_DEVINFO_DATA* device) {
  return reinterpret_cast<::SP_DEVINFO_DATA*>(device);
}

// A function found with GetProcAddress, as its real type. The detour through void (*)() keeps
// the compiler from comparing two unrelated function types.
template <typename Function>
Function FunctionCast(::FARPROC procedure) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(procedure));
}

// The functions of msports.dll and DIFxAPI.dll the tool calls.
using ComDBOpenFunction = ::LONG(WINAPI*)(::HANDLE* database);
using ComDBReleasePortFunction = ::LONG(WINAPI*)(::HANDLE database, ::DWORD comNumber);
using ComDBCloseFunction = ::LONG(WINAPI*)(::HANDLE database);
using DriverPackageInstallFunction = ::DWORD(WINAPI*)(const wchar_t* infPath, ::DWORD flags,
                                                      const void* installer, ::BOOL* needReboot);
using DriverPackageGetPathFunction = ::DWORD(WINAPI*)(const wchar_t* infPath, wchar_t* storePath,
                                                      ::DWORD* storePathChars);

// The system directory and the program's own folder, each with a final backslash; empty when
// the path does not fit MAX_PATH.
std::wstring SystemFolder() {
  wchar_t path[MAX_PATH];
  const ::UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length) + L"\\";
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const ::DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return {};
  }
  const std::wstring file(path, length);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

// Libraries, and the libraries they depend on, are taken from the system directory and the
// program's own folder only, never from the current directory, which holds the packages being
// installed. Process-wide; SetDefaultDllDirectories is looked up at run time, since Windows
// before 8 (7 and Vista without update KB2533623, XP, 2000) lacks it, and there it is skipped.
void RestrictLibrarySearch() {
  using Function = ::BOOL(WINAPI*)(::DWORD);
  const ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const ::FARPROC procedure =
      kernel != nullptr ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (procedure != nullptr) {
    FunctionCast<Function>(procedure)(LOAD_LIBRARY_SEARCH_SYSTEM32 |
                                      LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
  }
}

}  // namespace

// A library loaded on first use, by full path, from the folders given; it stays loaded for the
// backend's life. No bare-name search, so a copy in the current directory is never picked up.
class Win32Windows::RuntimeLibrary {
 public:
  RuntimeLibrary(const WCHAR* name, bool programFolderFirst)
      : name_(Wide(name)), programFolderFirst_(programFolderFirst) {}
  ~RuntimeLibrary() {
    if (module_ != nullptr) {
      ::FreeLibrary(module_);
    }
  }
  RuntimeLibrary(const RuntimeLibrary&) = delete;
  RuntimeLibrary& operator=(const RuntimeLibrary&) = delete;

  // The function `name`, or null when the library or the function is missing; the thread's
  // last error is then ERROR_PROC_NOT_FOUND.
  template <typename Function>
  Function Find(const char* name) {
    if (!tried_) {
      tried_ = true;
      module_ = Load();
    }
    ::FARPROC procedure = module_ != nullptr ? ::GetProcAddress(module_, name) : nullptr;
    if (procedure == nullptr) {
      ::SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    return FunctionCast<Function>(procedure);
  }

 private:
  ::HMODULE Load() const {
    ::HMODULE module = nullptr;
    if (programFolderFirst_) {
      module = LoadFrom(ProgramFolder());
    }
    return module != nullptr ? module : LoadFrom(SystemFolder());
  }

  ::HMODULE LoadFrom(const std::wstring& folder) const {
    return folder.empty() ? nullptr : ::LoadLibraryW((folder + name_).c_str());
  }

  std::wstring name_;
  bool programFolderFirst_;
  bool tried_ = false;
  ::HMODULE module_ = nullptr;
};

Win32Windows::Win32Windows(const Win32Libraries& libraries)
    : comDatabase_(std::make_unique<RuntimeLibrary>(libraries.comDatabase, false)),
      driverPackages_(std::make_unique<RuntimeLibrary>(libraries.driverPackages, true)) {
  RestrictLibrarySearch();
}

Win32Windows::~Win32Windows() = default;

// Registry.

LONG Win32Windows::RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD options, REGSAM sam,
                                 HKEY* result) {
  return ::RegOpenKeyExW(Key(key), Wide(subKey), options, sam, Key(result));
}

LONG Win32Windows::RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD reserved, WCHAR* keyClass,
                                   DWORD options, REGSAM sam, const void* security, HKEY* result,
                                   DWORD* disposition) {
  return ::RegCreateKeyExW(Key(key), Wide(subKey), reserved, Wide(keyClass), options, sam,
                           static_cast<::SECURITY_ATTRIBUTES*>(const_cast<void*>(security)),
                           Key(result), Dw(disposition));
}

LONG Win32Windows::RegCloseKey(HKEY key) {
  return ::RegCloseKey(Key(key));
}

LONG Win32Windows::RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                    BYTE* data, DWORD* dataSize) {
  return ::RegQueryValueExW(Key(key), Wide(valueName), Dw(reserved), Dw(type), data, Dw(dataSize));
}

LONG Win32Windows::RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD reserved, DWORD type,
                                  const BYTE* data, DWORD dataSize) {
  return ::RegSetValueExW(Key(key), Wide(valueName), reserved, type, data, dataSize);
}

LONG Win32Windows::RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                                 DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize) {
  return ::RegEnumValueW(Key(key), index, Wide(valueName), Dw(valueNameChars), Dw(reserved),
                         Dw(type), data, Dw(dataSize));
}

LONG Win32Windows::RegDeleteValueW(HKEY key, const WCHAR* valueName) {
  return ::RegDeleteValueW(Key(key), Wide(valueName));
}

LONG Win32Windows::RegDeleteKeyW(HKEY key, const WCHAR* subKey) {
  return ::RegDeleteKeyW(Key(key), Wide(subKey));
}

// Device installation functions.

HDEVINFO Win32Windows::SetupDiGetClassDevsW(const GUID* classGuid, const WCHAR* enumerator,
                                            HWND parent, DWORD flags) {
  return ::SetupDiGetClassDevsW(reinterpret_cast<const ::GUID*>(classGuid), Wide(enumerator),
                                static_cast<::HWND>(parent), flags);
}

BOOL Win32Windows::SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, SP_DEVINFO_DATA* device) {
  return ::SetupDiEnumDeviceInfo(set, index, Device(device));
}

HKEY Win32Windows::SetupDiOpenDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                        DWORD hwProfile, DWORD keyType, REGSAM sam) {
  return reinterpret_cast<HKEY>(
      ::SetupDiOpenDevRegKey(set, Device(device), scope, hwProfile, keyType, sam));
}

BOOL Win32Windows::SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                     DWORD property, DWORD* type, BYTE* buffer,
                                                     DWORD bufferSize, DWORD* requiredSize) {
  return ::SetupDiGetDeviceRegistryPropertyW(set, Device(device), property, Dw(type), buffer,
                                             bufferSize, Dw(requiredSize));
}

BOOL Win32Windows::SetupDiSetDeviceRegistryPropertyW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                     DWORD property, const BYTE* buffer,
                                                     DWORD bufferSize) {
  return ::SetupDiSetDeviceRegistryPropertyW(set, Device(device), property, buffer, bufferSize);
}

BOOL Win32Windows::SetupDiSetClassInstallParamsW(HDEVINFO set, SP_DEVINFO_DATA* device,
                                                 const SP_CLASSINSTALL_HEADER* params,
                                                 DWORD paramsSize) {
  return ::SetupDiSetClassInstallParamsW(
      set, Device(device),
      reinterpret_cast<::SP_CLASSINSTALL_HEADER*>(const_cast<SP_CLASSINSTALL_HEADER*>(params)),
      paramsSize);
}

BOOL Win32Windows::SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set,
                                             SP_DEVINFO_DATA* device) {
  return ::SetupDiCallClassInstaller(function, set, Device(device));
}

BOOL Win32Windows::SetupDiRemoveDevice(HDEVINFO set, SP_DEVINFO_DATA* device) {
  return ::SetupDiRemoveDevice(set, Device(device));
}

BOOL Win32Windows::SetupDiDeleteDevRegKey(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD scope,
                                          DWORD hwProfile, DWORD keyType) {
  return ::SetupDiDeleteDevRegKey(set, Device(device), scope, hwProfile, keyType);
}

BOOL Win32Windows::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  return ::SetupDiDestroyDeviceInfoList(set);
}

// COM port database (msports.dll).

LONG Win32Windows::ComDBOpen(HCOMDB* database) {
  const auto open = comDatabase_->Find<ComDBOpenFunction>("ComDBOpen");
  if (open == nullptr) {
    *database = INVALID_HANDLE_VALUE;  // what ComDBOpen itself leaves on failure
    return ERROR_PROC_NOT_FOUND;
  }
  return open(database);
}

LONG Win32Windows::ComDBReleasePort(HCOMDB database, DWORD comNumber) {
  const auto release = comDatabase_->Find<ComDBReleasePortFunction>("ComDBReleasePort");
  return release != nullptr ? release(database, comNumber) : ERROR_PROC_NOT_FOUND;
}

LONG Win32Windows::ComDBClose(HCOMDB database) {
  const auto close = comDatabase_->Find<ComDBCloseFunction>("ComDBClose");
  return close != nullptr ? close(database) : ERROR_PROC_NOT_FOUND;
}

// Version and system information.

BOOL Win32Windows::GetVersionExW(OSVERSIONINFOEXW* info) {
  return ::GetVersionExW(reinterpret_cast<::OSVERSIONINFOW*>(info));
}

BOOL Win32Windows::GetNativeSystemInfo(SYSTEM_INFO* info) {
  using Function = void(WINAPI*)(::SYSTEM_INFO*);
  const ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const ::FARPROC procedure =
      kernel != nullptr ? ::GetProcAddress(kernel, "GetNativeSystemInfo") : nullptr;
  if (procedure == nullptr) {
    return FALSE;
  }
  FunctionCast<Function>(procedure)(reinterpret_cast<::SYSTEM_INFO*>(info));
  return TRUE;
}

void Win32Windows::GetSystemInfo(SYSTEM_INFO* info) {
  ::GetSystemInfo(reinterpret_cast<::SYSTEM_INFO*>(info));
}

// Looked up at run time: kernel32.dll of Windows 2000 does not export it, and the program must
// still start there.
BOOL Win32Windows::IsWow64Process(HANDLE process, BOOL* wow64) {
  using Function = ::BOOL(WINAPI*)(::HANDLE, ::BOOL*);
  const ::HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const ::FARPROC procedure =
      kernel != nullptr ? ::GetProcAddress(kernel, "IsWow64Process") : nullptr;
  if (procedure == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  ::BOOL result = FALSE;
  if (!FunctionCast<Function>(procedure)(process, &result)) {
    return FALSE;
  }
  *wow64 = result;
  return TRUE;
}

// Files.

DWORD Win32Windows::GetFullPathNameW(const WCHAR* fileName, DWORD bufferChars, WCHAR* buffer,
                                     WCHAR** filePart) {
  return ::GetFullPathNameW(Wide(fileName), bufferChars, Wide(buffer), Wide(filePart));
}

HANDLE Win32Windows::FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData) {
  return ::FindFirstFileW(Wide(pattern), reinterpret_cast<::WIN32_FIND_DATAW*>(findData));
}

BOOL Win32Windows::FindNextFileW(HANDLE search, WIN32_FIND_DATAW* findData) {
  return ::FindNextFileW(search, reinterpret_cast<::WIN32_FIND_DATAW*>(findData));
}

BOOL Win32Windows::FindClose(HANDLE search) {
  return ::FindClose(search);
}

UINT Win32Windows::GetWindowsDirectoryW(WCHAR* buffer, UINT bufferChars) {
  return ::GetWindowsDirectoryW(Wide(buffer), bufferChars);
}

UINT Win32Windows::GetSystemDirectoryW(WCHAR* buffer, UINT bufferChars) {
  return ::GetSystemDirectoryW(Wide(buffer), bufferChars);
}

HANDLE Win32Windows::CreateFileW(const WCHAR* fileName, DWORD access, DWORD shareMode,
                                 const void* security, DWORD disposition, DWORD flags,
                                 HANDLE templateFile) {
  return ::CreateFileW(Wide(fileName), access, shareMode,
                       static_cast<::SECURITY_ATTRIBUTES*>(const_cast<void*>(security)),
                       disposition, flags, templateFile);
}

BOOL Win32Windows::ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                            void* overlapped) {
  return ::ReadFile(file, buffer, bytesToRead, Dw(bytesRead),
                    static_cast<::OVERLAPPED*>(overlapped));
}

BOOL Win32Windows::CloseHandle(HANDLE handle) {
  return ::CloseHandle(handle);
}

// Driver-package interface (DIFxAPI.dll).

DWORD Win32Windows::DriverPackageInstallW(const WCHAR* infPath, DWORD flags,
                                          const INSTALLERINFO_W* installer, BOOL* needReboot) {
  const auto install = driverPackages_->Find<DriverPackageInstallFunction>("DriverPackageInstallW");
  return install != nullptr ? install(Wide(infPath), flags, installer, needReboot)
                            : ERROR_PROC_NOT_FOUND;
}

DWORD Win32Windows::DriverPackageUninstallW(const WCHAR* infPath, DWORD flags,
                                            const INSTALLERINFO_W* installer, BOOL* needReboot) {
  // Same signature as the install.
  const auto uninstall =
      driverPackages_->Find<DriverPackageInstallFunction>("DriverPackageUninstallW");
  return uninstall != nullptr ? uninstall(Wide(infPath), flags, installer, needReboot)
                              : ERROR_PROC_NOT_FOUND;
}

DWORD Win32Windows::DriverPackageGetPathW(const WCHAR* infPath, WCHAR* storePath,
                                          DWORD* storePathChars) {
  const auto getPath = driverPackages_->Find<DriverPackageGetPathFunction>("DriverPackageGetPathW");
  return getPath != nullptr ? getPath(Wide(infPath), Wide(storePath), Dw(storePathChars))
                            : ERROR_PROC_NOT_FOUND;
}

// Processes.

DWORD Win32Windows::GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) {
  return ::GetEnvironmentVariableW(Wide(name), Wide(buffer), bufferChars);
}

BOOL Win32Windows::CreateProcessW(const WCHAR* applicationName, WCHAR* commandLine,
                                  PROCESS_INFORMATION* info) {
  ::STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  // Handles inherited, no creation flags: the child shares the tool's console, standard
  // handles, current directory and environment.
  return ::CreateProcessW(Wide(applicationName), Wide(commandLine), nullptr, nullptr, TRUE, 0,
                          nullptr, nullptr, &startup,
                          reinterpret_cast<::PROCESS_INFORMATION*>(info));
}

DWORD Win32Windows::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

BOOL Win32Windows::GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  return ::GetExitCodeProcess(process, Dw(exitCode));
}

DWORD Win32Windows::GetLastError() {
  return ::GetLastError();
}

// C runtime. Both streams are in text mode and 8-bit: each "\n" is written as CR LF, and the
// wide text is converted to bytes by the runtime.

void Win32Windows::CrtWriteStdout(const WCHAR* text) {
  std::fputws(Wide(text), stdout);
  // Flushed at once, so the text comes before anything a program started later writes to the
  // same console or file.
  std::fflush(stdout);
}

void* Win32Windows::CrtOpenAppend(const WCHAR* path) {
  return ::_wfopen(Wide(path), L"a");
}

int Win32Windows::CrtWriteText(void* file, const WCHAR* text) {
  return std::fputws(Wide(text), static_cast<std::FILE*>(file));
}

int Win32Windows::CrtClose(void* file) {
  return std::fclose(static_cast<std::FILE*>(file));
}

std::string Win32Windows::DeviceInstancePath(HDEVINFO set, SP_DEVINFO_DATA* device) {
  // Instance IDs are at most MAX_DEVICE_ID_LEN (200) characters.
  wchar_t id[201] = {};
  ::DWORD chars = 0;
  if (!::SetupDiGetDeviceInstanceIdW(set, Device(device), id, 201, &chars)) {
    return {};
  }
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const WCHAR*>(id)));
}

std::unique_ptr<Win32TraceFile> Win32TraceFile::Open(const WCHAR* path, std::string* error) {
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which is then refused below; a device or
  // pipe name opens without waiting and is refused as not a disk file. Shared for reading and
  // writing, so that a support engineer can watch it grow.
  ::HANDLE file =
      ::CreateFileW(Wide(path), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = "cannot be opened (error " + std::to_string(::GetLastError()) + ")";
    return nullptr;
  }
  ::BY_HANDLE_FILE_INFORMATION information = {};
  const bool regular =
      ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &information) &&
      (information.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
  if (!regular) {
    ::CloseHandle(file);
    *error = "is not a regular file";
    return nullptr;
  }
  return std::unique_ptr<Win32TraceFile>(new Win32TraceFile(file));
}

Win32TraceFile::~Win32TraceFile() {
  ::CloseHandle(static_cast<::HANDLE>(handle_));
}

void Win32TraceFile::Append(const std::string& line) {
  const std::string text = line + "\n";
  ::DWORD written = 0;
  ::WriteFile(static_cast<::HANDLE>(handle_), text.data(), static_cast<::DWORD>(text.size()),
              &written, nullptr);
}

}  // namespace orv
