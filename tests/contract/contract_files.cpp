// The file cases: searches, opening, the C runtime's text files, folders and paths.
#include "tests/contract/contract_check.h"

namespace contract {

namespace {

constexpr const WCHAR* kFile = u"contract.txt";

// Makes contract.txt in the current directory through the C runtime calls: "abc" and a line
// end, which the text-mode stream writes as CR LF.
void MakeFile(Check& c) {
  void* file = c.api.CrtOpenAppend(kFile);
  if (file == nullptr) {
    c.Fail("CrtOpenAppend failed");
    return;
  }
  c.True("CrtWriteText", c.api.CrtWriteText(file, u"abc\n") >= 0);
  c.Status("CrtClose", c.api.CrtClose(file), 0);
}

// The file at `path`, opened for reading.
HANDLE OpenForReading(WindowsApi& api, const WCHAR* path) {
  return api.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Cases in which opening `path` for reading, or searching for `pattern`, fails with `error`.
Case FailingOpen(const char* name, const WCHAR* path, DWORD error) {
  return {name, [path, error](Check& c) {
            c.Error("CreateFileW", OpenForReading(c.api, path) == INVALID_HANDLE_VALUE, true,
                    error);
          }};
}
Case FailingSearch(const char* name, const WCHAR* pattern, DWORD error) {
  return {name, [pattern, error](Check& c) {
            WIN32_FIND_DATAW found{};
            c.Error("FindFirstFileW", c.api.FindFirstFileW(pattern, &found) == INVALID_HANDLE_VALUE,
                    true, error);
          }};
}

// A case of GetWindowsDirectoryW or GetSystemDirectoryW: `folder` and its length, then the size
// needed (terminator included) for a buffer one character short and for none.
Case DirectoryCase(const char* name, UINT (WindowsApi::*call)(WCHAR*, UINT),
                   std::u16string_view folder) {
  return {name, [call, folder](Check& c) {
            WCHAR buffer[MAX_PATH] = {};
            const UINT length = (c.api.*call)(buffer, MAX_PATH);
            c.TextNoCase("folder", buffer, folder);
            c.Eq("length", length, folder.size());
            c.Eq("short buffer: the size needed", (c.api.*call)(buffer, length), length + 1);
            c.Eq("no buffer: the size needed", (c.api.*call)(nullptr, 0), length + 1);
          }};
}

const Case kFileCases[] = {
    {"CrtOpenAppend, CrtWriteText, CrtClose, CreateFileW, ReadFile: CR LF, then end of file",
     [](Check& c) {
       MakeFile(c);
       HANDLE file = OpenForReading(c.api, kFile);
       c.True("CreateFileW", file != INVALID_HANDLE_VALUE);
       char bytes[16] = {};
       DWORD read = 99;
       c.Eq("ReadFile", c.api.ReadFile(file, bytes, sizeof bytes, &read, nullptr), TRUE);
       c.Eq("bytes read", read, 5);
       c.True("abc CR LF", std::memcmp(bytes, "abc\r\n", 5) == 0);
       read = 99;
       c.Eq("ReadFile at the end", c.api.ReadFile(file, bytes, sizeof bytes, &read, nullptr), TRUE);
       c.Eq("bytes read at the end", read, 0);
       c.Eq("ReadFile of 0 bytes", c.api.ReadFile(file, bytes, 0, &read, nullptr), TRUE);
       c.Eq("CloseHandle", c.api.CloseHandle(file), TRUE);
     }},
    {"CrtOpenAppend appends",
     [](Check& c) {
       MakeFile(c);
       HANDLE file = OpenForReading(c.api, kFile);
       char bytes[32] = {};
       DWORD read = 0;
       c.api.ReadFile(file, bytes, sizeof bytes, &read, nullptr);
       c.Eq("bytes: two writes", read, 10);
       c.api.CloseHandle(file);
     }},
    {"CrtOpenAppend of a folder that does not exist: null",
     [](Check& c) { c.True("null", c.api.CrtOpenAppend(u"no-such-folder\\r.ini") == nullptr); }},
    FailingOpen("CreateFileW missing file: ERROR_FILE_NOT_FOUND", u"missing.txt",
                ERROR_FILE_NOT_FOUND),
    FailingOpen("CreateFileW in a missing folder: ERROR_PATH_NOT_FOUND",
                u"no-such-folder\\missing.txt", ERROR_PATH_NOT_FOUND),
    {"ReadFile of no file: ERROR_INVALID_HANDLE",
     [](Check& c) {
       char bytes[4];
       DWORD read = 0;
       c.Error("ReadFile", c.api.ReadFile(nullptr, bytes, sizeof bytes, &read, nullptr), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"CloseHandle of no handle: ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Error("CloseHandle", c.api.CloseHandle(nullptr), FALSE, ERROR_INVALID_HANDLE);
     }},
    {"FindFirstFileW of a file: its name, not a folder",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(kFile, &found);
       c.True("a search", search != INVALID_HANDLE_VALUE);
       c.Text("name", found.cFileName, kFile);
       c.Eq("folder attribute", found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0);
       c.Eq("FindClose", c.api.FindClose(search), TRUE);
     }},
    {"FindFirstFileW wildcard, FindNextFileW past the last: ERROR_NO_MORE_FILES",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"contr*.txt", &found);
       c.Text("name", found.cFileName, kFile);
       c.Error("FindNextFileW", c.api.FindNextFileW(search, &found), FALSE, ERROR_NO_MORE_FILES);
       c.api.FindClose(search);
     }},
    FailingSearch("FindFirstFileW without a match: ERROR_FILE_NOT_FOUND", u"nomatch*.xyz",
                  ERROR_FILE_NOT_FOUND),
    FailingSearch("FindFirstFileW in a missing folder: ERROR_PATH_NOT_FOUND",
                  u"no-such-folder\\*.inf", ERROR_PATH_NOT_FOUND),
    {"GetFullPathNameW relative name: the current folder's path and the file part",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       WCHAR* part = nullptr;
       const DWORD length = c.api.GetFullPathNameW(kFile, MAX_PATH, full, &part);
       c.Eq("length", length, TextLength(full));
       c.True("a drive", full[1] == u':' && full[2] == u'\\');
       c.True("file part", part != nullptr && TextEquals(part, kFile));
       WCHAR small[4] = {};
       c.Eq("too small: the size needed", c.api.GetFullPathNameW(kFile, 4, small, nullptr),
            length + 1);
       c.Eq("one unit short: the size needed", c.api.GetFullPathNameW(kFile, length, full, nullptr),
            length + 1);
     }},
    {"GetFullPathNameW resolves . and ..",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       c.Eq("length", c.api.GetFullPathNameW(u"C:\\a\\.\\b\\..\\c.inf", MAX_PATH, full, nullptr),
            10);
       c.Text("path", full, u"C:\\a\\c.inf");
     }},
    {"GetFullPathNameW of a folder: no file part",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       WCHAR* part = full;
       c.Eq("length", c.api.GetFullPathNameW(u"C:\\a\\", MAX_PATH, full, &part), 5);
       c.True("no file part", part == nullptr);
     }},
    DirectoryCase("GetWindowsDirectoryW, then into a short buffer",
                  &WindowsApi::GetWindowsDirectoryW, u"C:\\Windows"),
    DirectoryCase("GetSystemDirectoryW, then into a short buffer", &WindowsApi::GetSystemDirectoryW,
                  u"C:\\Windows\\System32"),
    {"GetWindowsDirectoryW exact buffer, GetSystemDirectoryW no buffer",
     [](Check& c) {
       WCHAR folder[11] = {};
       c.Eq("GetWindowsDirectoryW into 11", c.api.GetWindowsDirectoryW(folder, 11), 10);
       c.TextNoCase("folder", folder, u"C:\\Windows");
       c.Eq("GetSystemDirectoryW no buffer: the size needed", c.api.GetSystemDirectoryW(nullptr, 0),
            20);
     }},
    {"GetFullPathNameW no buffer, then a buffer of just the size",
     [](Check& c) {
       const DWORD needed = c.api.GetFullPathNameW(u"C:\\a\\b.inf", 0, nullptr, nullptr);
       c.Eq("no buffer: the size needed", needed, 11);
       WCHAR full[11] = {};
       c.Eq("buffer of just the size", c.api.GetFullPathNameW(u"C:\\a\\b.inf", 11, full, nullptr),
            10);
       c.Text("path", full, u"C:\\a\\b.inf");
     }},
    {"GetFullPathNameW forward slashes and .. above the root",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       c.Eq("length", c.api.GetFullPathNameW(u"C:/../a/b.inf", MAX_PATH, full, nullptr), 10);
       c.Text("path", full, u"C:\\a\\b.inf");
     }},
    {"FindNextFileW after the last match, again: ERROR_NO_MORE_FILES",
     [](Check& c) {
       MakeFile(c);
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(kFile, &found);
       c.Error("FindNextFileW", c.api.FindNextFileW(search, &found), FALSE, ERROR_NO_MORE_FILES);
       c.Error("FindNextFileW again", c.api.FindNextFileW(search, &found), FALSE,
               ERROR_NO_MORE_FILES);
       c.Eq("FindClose", c.api.FindClose(search), TRUE);
     }},
    {"FindNextFileW, FindClose of no search: ERROR_INVALID_HANDLE",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       c.Error("FindNextFileW", c.api.FindNextFileW(INVALID_HANDLE_VALUE, &found), FALSE,
               ERROR_INVALID_HANDLE);
       c.Error("FindClose", c.api.FindClose(INVALID_HANDLE_VALUE), FALSE, ERROR_INVALID_HANDLE);
     }},
    {"FindFirstFileW name in other letter case: the name as stored",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"CONTRACT.TXT", &found);
       c.True("a search", search != INVALID_HANDLE_VALUE);
       c.Text("name", found.cFileName, kFile);
       c.api.FindClose(search);
     }},
    {"FindFirstFileW of a folder: its entry, a folder",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"C:\\Windows", &found);
       c.True("a search", search != INVALID_HANDLE_VALUE);
       c.TextNoCase("name", found.cFileName, u"Windows");
       c.Eq("folder attribute", found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);
       c.api.FindClose(search);
     }},
    FailingSearch("FindFirstFileW of a folder with a trailing backslash: ERROR_FILE_NOT_FOUND",
                  u"C:\\Windows\\", ERROR_FILE_NOT_FOUND),
    FailingOpen("CreateFileW of a folder: ERROR_ACCESS_DENIED", u"C:\\Windows",
                ERROR_ACCESS_DENIED),
    FailingOpen("CreateFileW with a wildcard: ERROR_INVALID_NAME", u"contr*.txt",
                ERROR_INVALID_NAME),
    {"CreateFileW name in other letter case, ReadFile in two parts, then a closed handle",
     [](Check& c) {
       HANDLE file = OpenForReading(c.api, u"CONTRACT.TXT");
       if (file == INVALID_HANDLE_VALUE) {
         c.Fail("CreateFileW failed with " + std::to_string(c.api.GetLastError()));
         return;
       }
       char bytes[32] = {};
       DWORD read = 0;
       c.Eq("ReadFile of 3", c.api.ReadFile(file, bytes, 3, &read, nullptr), TRUE);
       c.Eq("bytes read", read, 3);
       c.Eq("ReadFile of the rest", c.api.ReadFile(file, bytes + 3, 29, &read, nullptr), TRUE);
       c.Eq("bytes read then", read, 12);
       c.True("the file's bytes", std::memcmp(bytes, "abc\r\nabc\r\nabc\r\n", 15) == 0);
       c.Eq("CloseHandle", c.api.CloseHandle(file), TRUE);
       c.Error("ReadFile after CloseHandle", c.api.ReadFile(file, bytes, 3, &read, nullptr), FALSE,
               ERROR_INVALID_HANDLE);
       c.Error("CloseHandle again", c.api.CloseHandle(file), FALSE, ERROR_INVALID_HANDLE);
     }},
};

}  // namespace

std::vector<Case> FileCases() {
  return {std::begin(kFileCases), std::end(kFileCases)};
}

}  // namespace contract
