#include "packages/vendor_cleanup.h"

#include "packages/tool_status.h"
#include "platform/guards.h"
#include "platform/text.h"

namespace orv {

namespace {

constexpr DWORD kFolderChars = 520;
constexpr UINT kWindowsDirectoryChars = MAX_PATH;
// The text window: at most 65535 bytes, read into 65536 so that it always ends in a zero byte.
constexpr DWORD kWindowBytes = 0xFFFF;
constexpr DWORD kWindowBufferBytes = kWindowBytes + 1;
constexpr DWORD kUninstallFlags = DRIVER_PACKAGE_SILENT | DRIVER_PACKAGE_DELETE_FILES;

// The maker's names, tested in this order, each exactly as written.
constexpr const WCHAR* kVendorStrings[] = {
    u"Orvek Co., Ltd.",
    u"ORVEK Co., Ltd.",
    u"ORVEK GROUP",
};

bool NamesAnyVendor(WindowsApi& api, const WCHAR* folder, const WCHAR* fileName) {
  for (const WCHAR* vendor : kVendorStrings) {
    if (InfNamesVendor(api, folder, fileName, vendor) == ERROR_SUCCESS) {
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD RemoveVendorPackages(WindowsApi& api) {
  WCHAR folder[kFolderChars] = {};
  // A failed query leaves the folder empty, so the search runs on "\inf".
  api.GetWindowsDirectoryW(folder, kWindowsDirectoryChars);
  const std::size_t folderLength = TextLength(folder, kFolderChars);
  CopyText(folder + folderLength, kFolderChars - folderLength, u"\\inf");

  WCHAR pattern[kFolderChars] = {};
  FormatText(pattern, kFolderChars, u"%s\\%s", {folder, u"oem*.inf"});
  WIN32_FIND_DATAW findData;
  FindGuard search(api, api.FindFirstFileW(pattern, &findData));
  if (!search.valid()) {
    return StatusOf(ToolStatus::kCannotOpen);
  }

  DWORD combined = 0;
  do {
    if (!NamesAnyVendor(api, folder, findData.cFileName)) {
      continue;
    }
    WCHAR infPath[kFolderChars] = {};
    FormatText(infPath, kFolderChars, u"%s\\%s", {folder, findData.cFileName});
    BOOL needReboot = FALSE;
    combined |= api.DriverPackageUninstallW(infPath, kUninstallFlags, nullptr, &needReboot);
  } while (api.FindNextFileW(search.get(), &findData));
  return combined;
}

DWORD InfNamesVendor(WindowsApi& api, const WCHAR* folder, const WCHAR* fileName,
                     const WCHAR* vendorString) {
  WCHAR path[kFolderChars] = {};
  if (FormatText(path, kFolderChars, u"%s\\%s", {folder, fileName}) < 0) {
    return StatusOf(ToolStatus::kCannotOpen);  // a shortened path would name another file
  }
  KernelObjectGuard file(api, api.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    return StatusOf(ToolStatus::kCannotOpen);
  }
  BYTE bytes[kWindowBufferBytes] = {};
  DWORD bytesRead = 0;
  if (!api.ReadFile(file.get(), bytes, kWindowBytes, &bytesRead, nullptr)) {
    return StatusOf(ToolStatus::kCannotOpen);
  }
  // The text ends at the first zero byte; each byte widens to the character of the same value.
  WCHAR text[kWindowBufferBytes];
  std::size_t length = 0;
  for (; bytes[length] != 0; ++length) {
    text[length] = bytes[length];
  }
  text[length] = 0;
  const bool found = TextContains(text, kWindowBufferBytes, vendorString);
  file.Close();
  return found ? ERROR_SUCCESS : StatusOf(ToolStatus::kCannotOpen);
}

}  // namespace orv
