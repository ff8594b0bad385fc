// A stand-in for the driver-package interface library, for the Windows end-to-end test. Each
// call appends one line to difx-calls.log beside this library ("Install 0x00000002 C:\x\a.inf")
// and answers as the platform's library would for a package store it does not keep:
// - DriverPackageInstallW: 0 when the INF names a CatalogFile or the flags ask for legacy mode,
//   else TRUST_E_NOSIGNATURE (an unsigned package);
// - DriverPackageUninstallW: 0, or ERROR_DRIVER_PACKAGE_NOT_IN_STORE when the INF holds the
//   text "NotInStore";
// - DriverPackageGetPathW: C:\Windows\System32\DriverStore\FileRepository\<name>_fake\<name>.
#include <windows.h>

#include <cwchar>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/wine/fake_log.h"

namespace {

constexpr DWORD kLegacyMode = 0x10;
constexpr DWORD kNoSignature = 0x800B0100;
constexpr DWORD kNotInStore = 0xE0000302;

void Log(const wchar_t* call, DWORD flags, const wchar_t* infPath) {
  wchar_t number[16];
  std::swprintf(number, 16, L" 0x%08lX ", flags);
  fake::AppendLine(fake::ModuleFolder(reinterpret_cast<const void*>(&Log)) + L"difx-calls.log",
                   call + std::wstring(number) + infPath);
}

// The INF's text as bytes; empty when it cannot be read.
std::string InfText(const wchar_t* infPath) {
  std::ifstream file(infPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI
    DriverPackageInstallW(const wchar_t* infPath, DWORD flags, const void*, BOOL* needReboot) {
  Log(L"Install", flags, infPath);
  *needReboot = FALSE;
  const bool signed_ = InfText(infPath).find("CatalogFile") != std::string::npos;
  return signed_ || (flags & kLegacyMode) != 0 ? ERROR_SUCCESS : kNoSignature;
}

__declspec(dllexport) DWORD WINAPI
    DriverPackageUninstallW(const wchar_t* infPath, DWORD flags, const void*, BOOL* needReboot) {
  Log(L"Uninstall", flags, infPath);
  *needReboot = FALSE;
  return InfText(infPath).find("NotInStore") != std::string::npos ? kNotInStore : ERROR_SUCCESS;
}

__declspec(dllexport) DWORD WINAPI
    DriverPackageGetPathW(const wchar_t* infPath, wchar_t* storePath, DWORD* chars) {
  Log(L"GetPath", *chars, infPath);
  const std::wstring full(infPath);
  const std::wstring name = full.substr(full.find_last_of(L'\\') + 1);
  const std::wstring path =
      L"C:\\Windows\\System32\\DriverStore\\FileRepository\\" + name + L"_fake\\" + name;
  if (path.size() + 1 > *chars) {
    *chars = static_cast<DWORD>(path.size() + 1);
    return ERROR_INSUFFICIENT_BUFFER;
  }
  std::wmemcpy(storePath, path.c_str(), path.size() + 1);
  return ERROR_SUCCESS;
}

}  // extern "C"
