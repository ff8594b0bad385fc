// The library search the backend sets up, checked apart from win32_backend_check.cpp because it
// needs <windows.h>, whose macros clash with the seam's names.
#include <string>

#include "platform/win32/win32_windows.h"

// After our headers, as in win32_windows.cpp: from here on the Windows names are its macros.
#include <windows.h>

// A library planted in the current directory is found by a bare-name load until the backend
// exists, and never after: from then on only the system directory and the program's folder are
// searched. `planted` names a library that lies in the current directory only.
std::string CheckLibrarySearch(const wchar_t* planted) {
  HMODULE before = ::LoadLibraryW(planted);
  if (before == nullptr) {
    return "the planted library does not load before the backend exists (" +
           std::to_string(::GetLastError()) + ")";
  }
  ::FreeLibrary(before);
  orv::Win32Windows api;
  HMODULE after = ::LoadLibraryW(planted);
  if (after != nullptr) {
    ::FreeLibrary(after);
    return "the planted library still loads from the current directory";
  }
  const DWORD error = ::GetLastError();
  return error == ERROR_MOD_NOT_FOUND ? std::string()
                                      : "loading it failed with " + std::to_string(error);
}
