// A stand-in for the system's COM port database library, for the Windows end-to-end test:
// ComDBOpen, ComDBReleasePort and ComDBClose over the registry bitmap
// HKLM\SYSTEM\CurrentControlSet\Control\COM Name Arbiter, REG_BINARY value ComDB, in which
// bit (n-1) % 8 of byte (n-1) / 8 set means that COMn is reserved.
#include <windows.h>

#include <vector>

namespace {

constexpr const wchar_t* kArbiterKey = L"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr const wchar_t* kDatabaseValue = L"ComDB";
constexpr DWORD kInitialBytes = 32;  // room for COM1 to COM256 in a new database

HKEY KeyOf(HANDLE database) {
  return static_cast<HKEY>(database);
}

}  // namespace

extern "C" {

// Opens the arbiter key (creating it, and an empty bitmap, when missing); the handle is the key.
__declspec(dllexport) LONG WINAPI ComDBOpen(HANDLE* database) {
  *database = INVALID_HANDLE_VALUE;
  HKEY key = nullptr;
  LONG status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kArbiterKey, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  DWORD size = 0;
  status = ::RegQueryValueExW(key, kDatabaseValue, nullptr, nullptr, nullptr, &size);
  if (status == ERROR_FILE_NOT_FOUND) {
    const std::vector<BYTE> empty(kInitialBytes, 0);
    status = ::RegSetValueExW(key, kDatabaseValue, 0, REG_BINARY, empty.data(), kInitialBytes);
  }
  if (status != ERROR_SUCCESS) {
    ::RegCloseKey(key);
    return status;
  }
  *database = key;
  return ERROR_SUCCESS;
}

// Clears the bit of COMn. 0, or a number beyond the bitmap, is an invalid parameter; releasing
// a number that is free succeeds.
__declspec(dllexport) LONG WINAPI ComDBReleasePort(HANDLE database, DWORD comNumber) {
  if (database == nullptr || database == INVALID_HANDLE_VALUE) {
    return ERROR_INVALID_PARAMETER;
  }
  DWORD size = 0;
  LONG status =
      ::RegQueryValueExW(KeyOf(database), kDatabaseValue, nullptr, nullptr, nullptr, &size);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  if (comNumber == 0 || comNumber > size * 8) {
    return ERROR_INVALID_PARAMETER;
  }
  std::vector<BYTE> bitmap(size);
  status =
      ::RegQueryValueExW(KeyOf(database), kDatabaseValue, nullptr, nullptr, bitmap.data(), &size);
  if (status != ERROR_SUCCESS) {
    return status;
  }
  bitmap[(comNumber - 1) / 8] &= static_cast<BYTE>(~(1u << ((comNumber - 1) % 8)));
  return ::RegSetValueExW(KeyOf(database), kDatabaseValue, 0, REG_BINARY, bitmap.data(), size);
}

__declspec(dllexport) LONG WINAPI ComDBClose(HANDLE database) {
  if (database == nullptr || database == INVALID_HANDLE_VALUE) {
    return ERROR_INVALID_PARAMETER;
  }
  return ::RegCloseKey(KeyOf(database));
}

}  // extern "C"
