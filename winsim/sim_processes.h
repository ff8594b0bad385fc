// Processes of the simulated machine: the environment as a process reads it, the search path,
// and programs that run to their end inside CreateProcessW (the command interpreter and the
// driver package installer). Process and thread handles are handles of this area.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/sim_context.h"
#include "winsim/sim_difx.h"
#include "winsim/sim_system_info.h"

namespace winsim {

class SimProcesses {
 public:
  SimProcesses(SimContext& sim, const SimSystemInfo& system, const SimDifx& difx)
      : sim_(sim), system_(system), difx_(difx) {}

  orv::DWORD GetEnvironmentVariableW(const orv::WCHAR* name, orv::WCHAR* buffer,
                                     orv::DWORD bufferChars);
  orv::BOOL CreateProcessW(const orv::WCHAR* applicationName, orv::WCHAR* commandLine,
                           orv::PROCESS_INFORMATION* info);
  orv::DWORD WaitForSingleObject(orv::HANDLE handle, orv::DWORD milliseconds);
  orv::BOOL GetExitCodeProcess(orv::HANDLE process, orv::DWORD* exitCode);
  // CloseHandle of a process or thread handle of this area (see OwnsProcess()).
  orv::BOOL CloseProcess(orv::HANDLE handle);
  bool OwnsProcess(orv::HANDLE handle) const {
    return processes_.count(reinterpret_cast<std::uintptr_t>(handle)) != 0;
  }

  std::size_t OpenHandleCount() const { return processes_.size(); }

 private:
  // The folders searched for a file named without a folder: with `systemFolders`, as Windows
  // searches for a program (the program's folder, the current directory, the system folder,
  // the Windows directory, then Path); without, as the interpreter does (the current directory,
  // then Path).
  std::vector<std::u16string> SearchFolders(bool systemFolders) const;
  // The full Windows path of the first regular file `name` in `folders`.
  std::optional<std::u16string> FindFile(std::u16string_view name,
                                         const std::vector<std::u16string>& folders) const;
  // The program file a command names, as the interpreter finds it: with a folder as given,
  // else in the current directory and then along Path; without an extension, each of PATHEXT.
  std::optional<std::u16string> FindCommand(std::u16string_view name) const;
  // The program file CreateProcessW starts, or nothing when it finds none.
  std::optional<std::u16string> ProgramOf(const orv::WCHAR* applicationName,
                                          const orv::WCHAR* commandLine) const;
  // Runs a program file to its end and returns its exit status; when it cannot start,
  // `startError` gets the reason (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
  // ERROR_ACCESS_DENIED, ERROR_BAD_EXE_FORMAT).
  orv::DWORD RunProgram(std::u16string_view program, std::u16string_view commandLine,
                        orv::DWORD* startError);
  orv::DWORD RunInterpreter(std::u16string_view commandLine);
  orv::DWORD RunInstaller(std::u16string_view program, std::u16string_view commandLine);

  SimContext& sim_;
  const SimSystemInfo& system_;
  const SimDifx& difx_;
  // Finished processes and their exit statuses, by process and by thread handle.
  std::map<std::uintptr_t, orv::DWORD> processes_;
  std::set<std::uintptr_t> threads_;  // the thread handles among them
  orv::DWORD nextProcessId_ = 0x100;
};

}  // namespace winsim
