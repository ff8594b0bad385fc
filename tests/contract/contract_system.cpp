// The cases of the environment and processes, of system information, and (simulated machine
// only) of the COM port database and driver packages.
#include "tests/contract/contract_check.h"

namespace contract {

namespace {

// A case in which CreateProcessW of `commandLine` fails with `error`; the program is named as the
// application too (`named`), or only as the command line's first token.
Case FailingProcess(const char* name, bool named, const WCHAR* commandLine, DWORD error) {
  return {name, [=](Check& c) {
            std::u16string line = commandLine;  // CreateProcessW may write into it
            PROCESS_INFORMATION process{};
            c.Error("CreateProcessW",
                    c.api.CreateProcessW(named ? commandLine : nullptr, line.data(), &process),
                    FALSE, error);
          }};
}

// A case of GetEnvironmentVariableW of `variable` into a buffer of `chars` characters (none when
// kNoBuffer): it returns `returned`, and the buffer then holds `text` (unless null). A return of
// 0 must leave ERROR_ENVVAR_NOT_FOUND (203).
Case Variable(const char* name, const WCHAR* variable, DWORD chars, DWORD returned,
              const WCHAR* text = nullptr) {
  return {name, [=](Check& c) {
            WCHAR value[8] = {};
            const DWORD got = chars == kNoBuffer
                                  ? c.api.GetEnvironmentVariableW(variable, nullptr, 0)
                                  : c.api.GetEnvironmentVariableW(variable, value, chars);
            if (returned == 0) {
              c.Error("GetEnvironmentVariableW", got, 0, 203);
            } else {
              c.Eq("returned", got, returned);
            }
            if (text != nullptr) {
              c.Text("value", value, text);
            }
          }};
}

const Case kProcessCases[] = {
    Variable("GetEnvironmentVariableW: the length without the terminator", u"ORV_CONTRACT", 8, 3,
             u"abc"),
    Variable("GetEnvironmentVariableW name in other letter case", u"orv_contract", 8, 3, u"abc"),
    Variable("GetEnvironmentVariableW buffer without room for the terminator: the size needed",
             u"ORV_CONTRACT", 3, 4),
    Variable("GetEnvironmentVariableW buffer of just the size: the length", u"ORV_CONTRACT", 4, 3,
             u"abc"),
    Variable("GetEnvironmentVariableW no buffer: the size needed", u"ORV_CONTRACT", kNoBuffer, 4),
    {"GetEnvironmentVariableW buffer of 0 characters: the size needed",
     [](Check& c) {
       WCHAR value[4] = {u'x'};
       c.Eq("size needed", c.api.GetEnvironmentVariableW(u"ORV_CONTRACT", value, 0), 4);
       c.Eq("the buffer untouched", value[0], u'x');
     }},
    Variable("GetEnvironmentVariableW unset, no buffer: 0, ERROR_ENVVAR_NOT_FOUND",
             u"ORV_CONTRACT_UNSET", kNoBuffer, 0),
    Variable("GetEnvironmentVariableW name that is a prefix of a set one: ERROR_ENVVAR_NOT_FOUND",
             u"ORV_CONTR", 8, 0),
    Variable("GetEnvironmentVariableW unset: 0, ERROR_ENVVAR_NOT_FOUND", u"ORV_CONTRACT_UNSET", 8,
             0),
    {"CreateProcessW of the interpreter, WaitForSingleObject, GetExitCodeProcess (9009: no such "
     "command), CloseHandle",
     [](Check& c) {
       WCHAR comspec[MAX_PATH] = {};
       c.True("COMSPEC", c.api.GetEnvironmentVariableW(u"COMSPEC", comspec, MAX_PATH) > 0);
       std::u16string line = std::u16string(u"cmd.exe /c orv-no-such-command");
       PROCESS_INFORMATION process{};
       if (c.api.CreateProcessW(comspec, line.data(), &process) == FALSE) {
         c.Fail("CreateProcessW failed with " + std::to_string(c.api.GetLastError()));
         return;
       }
       c.Eq("WaitForSingleObject", c.api.WaitForSingleObject(process.hProcess, INFINITE),
            WAIT_OBJECT_0);
       DWORD exitCode = 0;
       c.Eq("GetExitCodeProcess", c.api.GetExitCodeProcess(process.hProcess, &exitCode), TRUE);
       c.Eq("exit code", exitCode, 9009);
       c.Error("GetExitCodeProcess of the thread handle",
               c.api.GetExitCodeProcess(process.hThread, &exitCode), FALSE, ERROR_INVALID_HANDLE);
       c.Eq("CloseHandle of the thread", c.api.CloseHandle(process.hThread), TRUE);
       c.Eq("CloseHandle of the process", c.api.CloseHandle(process.hProcess), TRUE);
     }},
    FailingProcess("CreateProcessW of a missing program: ERROR_FILE_NOT_FOUND", true,
                   u"C:\\Windows\\orv-no-such-program.exe", ERROR_FILE_NOT_FOUND),
    FailingProcess("CreateProcessW of a missing program named on the command line only", false,
                   u"orv-no-such-program.exe /x", ERROR_FILE_NOT_FOUND),
    FailingProcess("CreateProcessW in a missing folder: ERROR_PATH_NOT_FOUND", true,
                   u"C:\\orv-no-such-folder\\program.exe", ERROR_PATH_NOT_FOUND),
    {"WaitForSingleObject of an ended process without waiting; its handles once closed",
     [](Check& c) {
       WCHAR comspec[MAX_PATH] = {};
       c.api.GetEnvironmentVariableW(u"COMSPEC", comspec, MAX_PATH);
       std::u16string line = std::u16string(u"cmd.exe /c orv-no-such-command");
       PROCESS_INFORMATION process{};
       if (c.api.CreateProcessW(comspec, line.data(), &process) == FALSE) {
         c.Fail("CreateProcessW failed with " + std::to_string(c.api.GetLastError()));
         return;
       }
       c.api.WaitForSingleObject(process.hProcess, INFINITE);
       c.Eq("WaitForSingleObject 0 ms", c.api.WaitForSingleObject(process.hProcess, 0),
            WAIT_OBJECT_0);
       c.api.CloseHandle(process.hThread);
       c.Eq("CloseHandle", c.api.CloseHandle(process.hProcess), TRUE);
       DWORD exitCode = 0;
       c.Error("GetExitCodeProcess", c.api.GetExitCodeProcess(process.hProcess, &exitCode), FALSE,
               ERROR_INVALID_HANDLE);
       c.Error("WaitForSingleObject", c.api.WaitForSingleObject(process.hProcess, 0), WAIT_FAILED,
               ERROR_INVALID_HANDLE);
       c.Error("CloseHandle again", c.api.CloseHandle(process.hProcess), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"WaitForSingleObject of no handle: WAIT_FAILED, ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Error("WaitForSingleObject", c.api.WaitForSingleObject(nullptr, 0), WAIT_FAILED,
               ERROR_INVALID_HANDLE);
     }},
    {"GetExitCodeProcess of no handle: ERROR_INVALID_HANDLE",
     [](Check& c) {
       DWORD exitCode = 0;
       c.Error("GetExitCodeProcess", c.api.GetExitCodeProcess(nullptr, &exitCode), FALSE,
               ERROR_INVALID_HANDLE);
     }},
};

// --- System information ---

const Case kSystemCases[] = {
    {"GetVersionExW record size 0: ERROR_INSUFFICIENT_BUFFER",
     [](Check& c) {
       OSVERSIONINFOEXW info{};
       info.dwOSVersionInfoSize = 0;
       c.Error("GetVersionExW", c.api.GetVersionExW(&info), FALSE, ERROR_INSUFFICIENT_BUFFER);
     }},
    {"GetVersionExW plain record: NT, 5.0 or later",
     [](Check& c) {
       OSVERSIONINFOEXW info{};
       info.dwOSVersionInfoSize = 276;  // OSVERSIONINFOW
       c.Eq("GetVersionExW", c.api.GetVersionExW(&info), TRUE);
       c.Eq("platform", info.dwPlatformId, 2);
       c.True("version 5.0 or later", info.dwMajorVersion >= 5);
     }},
    {"GetVersionExW extended record: a product type",
     [](Check& c) {
       OSVERSIONINFOEXW info{};
       info.dwOSVersionInfoSize = sizeof info;
       c.Eq("GetVersionExW", c.api.GetVersionExW(&info), TRUE);
       c.True("product type 1 to 3", info.wProductType >= 1 && info.wProductType <= 3);
     }},
    {"GetNativeSystemInfo, GetSystemInfo: the same processor, 4 KB pages",
     [](Check& c) {
       SYSTEM_INFO native{};
       SYSTEM_INFO own{};
       c.Eq("GetNativeSystemInfo", c.api.GetNativeSystemInfo(&native), TRUE);
       c.api.GetSystemInfo(&own);
       c.Eq("processor", own.wProcessorArchitecture, native.wProcessorArchitecture);
       c.True("x86 or x64", native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ||
                                native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64);
       c.Eq("page size", own.dwPageSize, 4096);
       c.True("processors", own.dwNumberOfProcessors >= 1);
     }},
    {"IsWow64Process of this process: not under WOW64",
     [](Check& c) {
       BOOL wow64 = TRUE;
       c.Eq("IsWow64Process", c.api.IsWow64Process(kCurrentProcess, &wow64), TRUE);
       c.Eq("WOW64", wow64, FALSE);
     }},
};

// --- COM port database and driver packages (simulated machine only: under Wine they are
// stand-ins of our own, so they would state nothing about Windows) ---

const Case kSimulatedOnlyCases[] = {
    {"ComDBOpen, ComDBReleasePort of 0 and of a number, ComDBClose",
     [](Check& c) {
       HCOMDB database = nullptr;
       c.Status("ComDBOpen", c.api.ComDBOpen(&database), ERROR_SUCCESS);
       c.Status("ComDBReleasePort 0", c.api.ComDBReleasePort(database, 0), ERROR_INVALID_PARAMETER);
       c.Status("ComDBReleasePort 3", c.api.ComDBReleasePort(database, 3), ERROR_SUCCESS);
       c.Status("ComDBClose", c.api.ComDBClose(database), ERROR_SUCCESS);
     }},
    {"DriverPackageGetPathW, DriverPackageUninstallW of a package not in the store",
     [](Check& c) {
       void* file = c.api.CrtOpenAppend(u"orv-contract.inf");
       c.api.CrtWriteText(file, u"[Version]\nSignature=\"$WINDOWS NT$\"\nProvider=\"Orvek\"\n");
       c.api.CrtClose(file);
       WCHAR full[MAX_PATH] = {};
       c.api.GetFullPathNameW(u"orv-contract.inf", MAX_PATH, full, nullptr);
       WCHAR path[MAX_PATH] = {};
       DWORD chars = MAX_PATH;
       c.Eq("DriverPackageGetPathW", c.api.DriverPackageGetPathW(full, path, &chars),
            ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
       BOOL reboot = TRUE;
       c.Eq("DriverPackageUninstallW", c.api.DriverPackageUninstallW(full, 0, nullptr, &reboot),
            ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
     }},
    {"DriverPackageGetPathW of a missing INF file: ERROR_FILE_NOT_FOUND",
     [](Check& c) {
       WCHAR path[MAX_PATH] = {};
       DWORD chars = MAX_PATH;
       c.Eq("status", c.api.DriverPackageGetPathW(u"C:\\orv-missing.inf", path, &chars),
            ERROR_FILE_NOT_FOUND);
     }},
};

}  // namespace

std::vector<Case> ProcessCases() {
  return {std::begin(kProcessCases), std::end(kProcessCases)};
}

std::vector<Case> SystemCases() {
  return {std::begin(kSystemCases), std::end(kSystemCases)};
}

std::vector<Case> SimulatedOnlyCases() {
  return {std::begin(kSimulatedOnlyCases), std::end(kSimulatedOnlyCases)};
}

}  // namespace contract
