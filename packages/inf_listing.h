// The listing of the "*.inf" entries of the current directory, shared by the install, the
// uninstall and the record of driver-store paths. Entries come in the order the file search
// returns them, unsorted and unfiltered (a folder whose name matches is listed like a file).
#pragma once

#include "platform/windows_api.h"

namespace orv {

// The path buffer of the listing: the resolved pattern, then each entry's full path.
inline constexpr DWORD kInfPathChars = 260;

// Resolves "*.inf" against the current directory into `path` and starts the search. Returns the
// search handle, or INVALID_HANDLE_VALUE when nothing is listed; `findData` then holds the
// first entry.
HANDLE StartInfListing(WindowsApi& api, WCHAR (&path)[kInfPathChars], WIN32_FIND_DATAW& findData);

// Resolves the listed entry's name into `path`. Returns 0, or ERROR_FILENAME_EXCED_RANGE when
// its full path cannot be had within the buffer: `path` then still holds an earlier path and
// must not be used for this entry.
DWORD ResolveInfEntry(WindowsApi& api, const WIN32_FIND_DATAW& findData,
                      WCHAR (&path)[kInfPathChars]);

}  // namespace orv
