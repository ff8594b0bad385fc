// Writes registry keys under HKEY_LOCAL_MACHINE, with all their subkeys, as .reg text in which
// every value is hex(type):bytes, so that the data comes out byte for byte (reg export writes a
// REG_SZ only up to its first null character). For the Windows end-to-end test:
//   reg_dump.exe KEY [KEY ...]      KEY relative to HKEY_LOCAL_MACHINE; a missing KEY is skipped
// Output is UTF-8 with LF line ends on stdout.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void WriteUtf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

std::wstring Quoted(const std::wstring& name) {
  std::wstring quoted = L"\"";
  for (wchar_t c : name) {
    if (c == L'\\' || c == L'"') {
      quoted += L'\\';
    }
    quoted += c;
  }
  return quoted + L"\"";
}

// A key that cannot be opened writes nothing.
void Dump(const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return;
  }
  DWORD maxSubkeyChars = 0;
  DWORD maxNameChars = 0;
  DWORD maxDataBytes = 0;
  ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, &maxSubkeyChars, nullptr, nullptr,
                     &maxNameChars, &maxDataBytes, nullptr, nullptr);

  std::wstring text = L"[HKEY_LOCAL_MACHINE\\" + path + L"]\n";
  std::vector<wchar_t> name(maxNameChars + 1);
  std::vector<BYTE> data(maxDataBytes + 1);
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = maxNameChars + 1;
    DWORD dataBytes = maxDataBytes + 1;
    DWORD type = 0;
    if (::RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &type, data.data(),
                        &dataBytes) != ERROR_SUCCESS) {
      break;
    }
    const std::wstring valueName(name.data(), nameChars);
    text += (valueName.empty() ? std::wstring(L"@") : Quoted(valueName)) + L"=hex(" +
            std::to_wstring(type) + L"):";
    wchar_t byteText[4];
    for (DWORD i = 0; i < dataBytes; ++i) {
      std::swprintf(byteText, 4, L"%02x", data[i]);
      text += (i == 0 ? L"" : L",") + std::wstring(byteText);
    }
    text += L"\n";
  }
  WriteUtf8(text + L"\n");

  std::vector<std::wstring> subkeys;
  std::vector<wchar_t> subkey(maxSubkeyChars + 1);
  for (DWORD index = 0;; ++index) {
    DWORD chars = maxSubkeyChars + 1;
    if (::RegEnumKeyExW(key, index, subkey.data(), &chars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    subkeys.emplace_back(subkey.data(), chars);
  }
  ::RegCloseKey(key);
  for (const std::wstring& child : subkeys) {
    Dump(path + L"\\" + child);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  WriteUtf8(L"Windows Registry Editor Version 5.00\n\n");
  for (int i = 1; i < argc; ++i) {
    Dump(argv[i]);
  }
  return 0;
}
