#include "packages/inf_listing.h"

namespace orv {

namespace {

// GetFullPathNameW leaves the buffer alone and returns the size it needs when the path does not
// fit, and 0 when it fails.
bool ResolveFullPath(WindowsApi& api, const WCHAR* name, WCHAR (&path)[kInfPathChars]) {
  const DWORD length = api.GetFullPathNameW(name, kInfPathChars, path, nullptr);
  return length != 0 && length < kInfPathChars;
}

}  // namespace

HANDLE StartInfListing(WindowsApi& api, WCHAR (&path)[kInfPathChars], WIN32_FIND_DATAW& findData) {
  if (!ResolveFullPath(api, u"*.inf", path)) {
    return INVALID_HANDLE_VALUE;
  }
  return api.FindFirstFileW(path, &findData);
}

DWORD ResolveInfEntry(WindowsApi& api, const WIN32_FIND_DATAW& findData,
                      WCHAR (&path)[kInfPathChars]) {
  return ResolveFullPath(api, findData.cFileName, path) ? ERROR_SUCCESS
                                                        : ERROR_FILENAME_EXCED_RANGE;
}

}  // namespace orv
