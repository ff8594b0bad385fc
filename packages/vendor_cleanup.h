// Removal of the maker's packages found in the system INF folder.
#pragma once

#include "platform/windows_api.h"

namespace orv {

// Uninstalls every "oem*.inf" package of the system INF folder whose text names the maker.
// Returns ToolStatus::kCannotOpen when the folder lists no such file, else the OR of the
// uninstall statuses.
DWORD RemoveVendorPackages(WindowsApi& api);

// 0 when the first 65535 bytes of folder\fileName, up to the first zero byte, contain
// vendorString; ToolStatus::kCannotOpen when they do not or the file cannot be opened or read.
DWORD InfNamesVendor(WindowsApi& api, const WCHAR* folder, const WCHAR* fileName,
                     const WCHAR* vendorString);

}  // namespace orv
