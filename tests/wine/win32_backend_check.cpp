// Checks of the real Windows backend, run under Wine by run_wine_e2e.sh in a scratch folder of
// a fresh prefix: each check calls Win32Windows as the operations do and compares what the
// platform gave back. Prints one line per check and exits with the number of failures.
// With --platform-code it prints the platform code of the running system instead, in hex.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform_code.h"
#include "platform/text.h"
#include "platform/win32/win32_windows.h"

// library_search_check.cpp
std::string CheckLibrarySearch(const wchar_t* planted);

namespace {

using namespace orv;

// A failed expectation: the message says what was expected and what came.
std::string Expect(bool condition, const std::string& message) {
  return condition ? std::string() : message;
}

std::string Num(unsigned long long value) {
  return std::to_string(value);
}

// The parts of a message, appended in order.
template <typename... Parts>
std::string Join(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

// Run-time libraries that are missing, or present without the functions: every call gives
// ERROR_PROC_NOT_FOUND and nothing crashes.
std::string CheckLibrary(const Win32Libraries& libraries) {
  Win32Windows api(libraries);
  HCOMDB database = nullptr;
  const LONG open = api.ComDBOpen(&database);
  std::string failure = Expect(open == 127 && database == INVALID_HANDLE_VALUE,
                               Join("ComDBOpen gave ", Num(static_cast<DWORD>(open))));
  const LONG release = api.ComDBReleasePort(database, 3);
  const LONG close = api.ComDBClose(database);
  failure += Expect(release == 127 && close == 127, " ComDBReleasePort/ComDBClose not 127");
  BOOL reboot = FALSE;
  WCHAR path[261] = {};
  DWORD chars = 261;
  failure += Expect(api.DriverPackageInstallW(u"x.inf", 0, nullptr, &reboot) == 127 &&
                        api.DriverPackageUninstallW(u"x.inf", 0, nullptr, &reboot) == 127 &&
                        api.DriverPackageGetPathW(u"x.inf", path, &chars) == 127,
                    " a DIFx call did not give 127");
  failure += Expect(api.GetLastError() == 127, Join(" last error ", Num(api.GetLastError())));
  return failure;
}

// Registry round trip under HKLM, including the in-out sizes handed back through the seam.
std::string CheckRegistry() {
  Win32Windows api;
  const WCHAR* keyPath = u"SOFTWARE\\ORVEK backend check";
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, &disposition) != 0) {
    return "RegCreateKeyExW failed";
  }
  std::string failure =
      Expect(disposition == REG_CREATED_NEW_KEY, Join("disposition ", Num(disposition)));
  const WCHAR text[] = u"LPT3";
  failure += Expect(api.RegSetValueExW(key, u"PortName", 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text), sizeof text) == 0,
                    " RegSetValueExW failed");

  BYTE small[2] = {};
  DWORD size = sizeof small;
  const LONG tooSmall = api.RegQueryValueExW(key, u"PortName", nullptr, nullptr, small, &size);
  failure += Expect(
      tooSmall == ERROR_MORE_DATA && size == sizeof text,
      Join(" small buffer: status ", Num(static_cast<DWORD>(tooSmall)), ", size ", Num(size)));

  WCHAR data[16] = {};
  DWORD type = 0;
  size = sizeof data;
  const LONG read =
      api.RegQueryValueExW(key, u"PortName", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  failure += Expect(read == 0 && type == REG_SZ && size == sizeof text && TextEquals(data, text),
                    Join(" query gave ", Num(static_cast<DWORD>(read)), ", type ", Num(type),
                         ", size ", Num(size)));

  WCHAR name[32] = {};
  DWORD nameChars = 32;
  const LONG first =
      api.RegEnumValueW(key, 0, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
  failure += Expect(first == 0 && nameChars == 8 && TextEquals(name, u"PortName"),
                    " enumeration of index 0");
  nameChars = 32;
  failure += Expect(api.RegEnumValueW(key, 1, name, &nameChars, nullptr, nullptr, nullptr,
                                      nullptr) == ERROR_NO_MORE_ITEMS,
                    " index 1 exists");
  failure += Expect(api.RegDeleteValueW(key, u"PortName") == 0, " RegDeleteValueW failed");
  nameChars = 32;
  failure += Expect(api.RegEnumValueW(key, 0, name, &nameChars, nullptr, nullptr, nullptr,
                                      nullptr) == ERROR_NO_MORE_ITEMS,
                    " value still there");
  failure += Expect(api.RegCloseKey(key) == 0, " RegCloseKey failed");
  failure += Expect(api.RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath) == 0, " RegDeleteKeyW failed");
  failure += Expect(api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) ==
                        ERROR_FILE_NOT_FOUND,
                    " key still opens");
  return failure;
}

// Version and processor as the platform classification reads them.
std::string CheckSystemInformation() {
  Win32Windows api;
  OSVERSIONINFOEXW version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  std::string failure =
      Expect(api.GetVersionExW(&version) == TRUE && version.dwMajorVersion >= 5 &&
                 version.wProductType != 0,
             Join("GetVersionExW: ", Num(version.dwMajorVersion), ".", Num(version.dwMinorVersion),
                  " type ", Num(version.wProductType)));
  SYSTEM_INFO native;
  std::memset(&native, 0, sizeof native);
  SYSTEM_INFO plain;
  std::memset(&plain, 0, sizeof plain);
  const BOOL found = api.GetNativeSystemInfo(&native);
  api.GetSystemInfo(&plain);
  failure +=
      Expect(found == TRUE && native.wProcessorArchitecture == plain.wProcessorArchitecture &&
                 native.dwNumberOfProcessors > 0,
             Join(" GetNativeSystemInfo: found ", Num(static_cast<unsigned>(found)),
                  ", architecture ", Num(native.wProcessorArchitecture)));
#ifdef _WIN64
  failure += Expect(native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64,
                    " not AMD64 in a 64-bit process");
#endif
  WCHAR windows[260] = {};
  const UINT length = api.GetWindowsDirectoryW(windows, 260);
  failure += Expect(length > 2 && windows[1] == u':', " GetWindowsDirectoryW");
  // The system folder lies in the Windows directory; the programs here are native to their
  // prefix, never under WOW64.
  WCHAR system[260] = {};
  const UINT systemLength = api.GetSystemDirectoryW(system, 260);
  failure += Expect(systemLength > length && std::u16string_view(system).starts_with(windows),
                    " GetSystemDirectoryW");
  BOOL wow64 = TRUE;
  failure += Expect(api.IsWow64Process(kCurrentProcess, &wow64) == TRUE && wow64 == FALSE,
                    " IsWow64Process");
  return failure;
}

std::string ReadWholeFile(Win32Windows& api, const WCHAR* path) {
  HANDLE file = api.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return "<cannot open>";
  }
  std::string bytes;
  char buffer[256];
  DWORD read = 0;
  while (api.ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
  }
  api.CloseHandle(file);
  return bytes;
}

// The response-file stream: appended, 8-bit, CR LF; and the file search and full paths.
std::string CheckFiles() {
  Win32Windows api;
  const WCHAR* path = u"backend-check.ini";
  for (int run = 0; run < 2; ++run) {
    void* file = api.CrtOpenAppend(path);
    if (file == nullptr) {
      return "CrtOpenAppend failed";
    }
    api.CrtWriteText(file, u"[ResponseResult]\nResultCode = -7\n");
    if (api.CrtClose(file) != 0) {
      return "CrtClose failed";
    }
  }
  const std::string expected = "[ResponseResult]\r\nResultCode = -7\r\n";
  const std::string bytes = ReadWholeFile(api, path);
  std::string failure = Expect(bytes == expected + expected, Join("file holds \"", bytes, "\""));
  failure += Expect(api.CrtOpenAppend(u"no such folder\\x.ini") == nullptr,
                    " CrtOpenAppend opened a file in a missing folder");

  WIN32_FIND_DATAW found;
  HANDLE search = api.FindFirstFileW(u"backend-check.*", &found);
  failure += Expect(search != INVALID_HANDLE_VALUE && TextEquals(found.cFileName, path),
                    " FindFirstFileW");
  if (search != INVALID_HANDLE_VALUE) {
    failure += Expect(
        api.FindNextFileW(search, &found) == FALSE && api.GetLastError() == ERROR_NO_MORE_FILES,
        " FindNextFileW found more");
    failure += Expect(api.FindClose(search) == TRUE, " FindClose");
  }

  WCHAR full[260] = {};
  WCHAR* filePart = nullptr;
  const DWORD length = api.GetFullPathNameW(path, 260, full, &filePart);
  failure += Expect(length > TextLength(path) && filePart != nullptr &&
                        TextEquals(filePart, path) && full[1] == u':',
                    Join(" GetFullPathNameW gave ", Utf16ToUtf8(full)));
  return failure;
}

// A program started as the command interpreter is started, waited for, its status read.
std::string CheckProcesses() {
  Win32Windows api;
  WCHAR comspec[260] = {};
  if (api.GetEnvironmentVariableW(u"COMSPEC", comspec, 260) == 0) {
    return "COMSPEC is not set";
  }
  std::string failure;
  std::u16string line = std::u16string(comspec) + u" /c exit 7";
  PROCESS_INFORMATION process = {};
  if (api.CreateProcessW(comspec, line.data(), &process) != TRUE) {
    return Join(failure, " CreateProcessW failed: ", Num(api.GetLastError()));
  }
  failure += Expect(api.WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0,
                    " WaitForSingleObject");
  DWORD exitCode = 0;
  failure += Expect(api.GetExitCodeProcess(process.hProcess, &exitCode) == TRUE && exitCode == 7,
                    Join(" exit code ", Num(exitCode)));
  failure +=
      Expect(api.CloseHandle(process.hThread) == TRUE && api.CloseHandle(process.hProcess) == TRUE,
             " CloseHandle");

  std::u16string missing = u"Z:\\orv no such folder\\no.exe";
  failure += Expect(api.CreateProcessW(missing.c_str(), missing.data(), &process) == FALSE &&
                        (api.GetLastError() == ERROR_FILE_NOT_FOUND ||
                         api.GetLastError() == ERROR_PATH_NOT_FOUND),
                    Join(" a missing program started, or error ", Num(api.GetLastError())));
  return failure;
}

struct Check {
  const char* name;
  std::function<std::string()> run;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--platform-code") == 0) {
    Win32Windows api;
    std::printf("0x%08X\n", static_cast<unsigned>(GetPlatformCode(api)));
    return 0;
  }
  const Check checks[] = {
      // First: the search the backend sets up holds for the rest of the process.
      {"libraries are not loaded from the current directory",
       [] { return CheckLibrarySearch(L"orv-planted.dll"); }},
      {"missing libraries give ERROR_PROC_NOT_FOUND",
       [] {
         return CheckLibrary({u"orv-no-such-library.dll", u"orv-no-such-library.dll"});
       }},
      {"libraries without the functions give ERROR_PROC_NOT_FOUND",
       [] {
         return CheckLibrary({u"kernel32.dll", u"kernel32.dll"});
       }},
      {"registry round trip", CheckRegistry},
      {"version and system information", CheckSystemInformation},
      {"response-file stream, file search, full path", CheckFiles},
      {"process start, wait and exit code", CheckProcesses},
  };
  int failures = 0;
  for (const Check& check : checks) {
    const std::string failure = check.run();
    std::printf("%s: %s%s%s\n", failure.empty() ? "ok" : "FAIL", check.name,
                failure.empty() ? "" : ": ", failure.c_str());
    failures += failure.empty() ? 0 : 1;
  }
  return failures;
}
