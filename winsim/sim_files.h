// Files of the simulated machine: full paths, searches, reading files, and the C runtime's
// console output and response files. Searches, open files and response files are handles of
// this area.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "winsim/sim_context.h"

namespace winsim {

class SimFiles {
 public:
  explicit SimFiles(SimContext& sim) : sim_(sim) {}

  orv::DWORD GetFullPathNameW(const orv::WCHAR* fileName, orv::DWORD bufferChars,
                              orv::WCHAR* buffer, orv::WCHAR** filePart);
  orv::HANDLE FindFirstFileW(const orv::WCHAR* pattern, orv::WIN32_FIND_DATAW* findData);
  orv::BOOL FindNextFileW(orv::HANDLE search, orv::WIN32_FIND_DATAW* findData);
  orv::BOOL FindClose(orv::HANDLE search);
  orv::HANDLE CreateFileW(const orv::WCHAR* fileName, orv::DWORD access, orv::DWORD shareMode,
                          orv::DWORD disposition, orv::DWORD flags);
  orv::BOOL ReadFile(orv::HANDLE file, void* buffer, orv::DWORD bytesToRead, orv::DWORD* bytesRead,
                     void* overlapped);
  // CloseHandle of a file this area opened (see OwnsFile()).
  orv::BOOL CloseFile(orv::HANDLE file);
  bool OwnsFile(orv::HANDLE handle) const {
    return open_.count(reinterpret_cast<std::uintptr_t>(handle)) != 0;
  }

  void CrtWriteStdout(const orv::WCHAR* text);
  void* CrtOpenAppend(const orv::WCHAR* path);
  int CrtWriteText(void* file, const orv::WCHAR* text);
  int CrtClose(void* file);
  const std::string& stdoutText() const { return stdout_; }  // UTF-8, LF line ends

  std::size_t OpenHandleCount() const { return searches_.size() + open_.size() + crtFiles_.size(); }

 private:
  struct Search {
    std::vector<orv::WIN32_FIND_DATAW> entries;
    std::size_t next = 0;
  };
  struct OpenFile {
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
  };
  // The entries of a search for `pattern` (a full path), taken now, or the failure status.
  orv::DWORD ListMatches(const std::u16string& pattern, Search* search) const;

  SimContext& sim_;
  std::map<std::uintptr_t, Search> searches_;
  std::map<std::uintptr_t, OpenFile> open_;
  // Response files open for append: their descriptors, which the machine's changes own.
  std::map<std::uintptr_t, int> crtFiles_;
  std::string stdout_;
};

}  // namespace winsim
