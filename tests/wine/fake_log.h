// The call log of the stand-in programs and libraries of the Windows end-to-end test: one line
// per call, appended in UTF-8 with LF line ends to a file beside the module that writes it.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace fake {

// The folder of the module (program or library) that holds `address`, with a final backslash.
inline std::wstring ModuleFolder(const void* address) {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      static_cast<LPCWSTR>(address), &module);
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  const std::wstring file(path, length);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

// Appends `line` and a line end to `path`; false when the file cannot be written.
inline bool AppendLine(const std::wstring& path, const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  std::FILE* file = ::_wfopen(path.c_str(), L"ab");
  if (file == nullptr) {
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace fake
