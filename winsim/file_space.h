// The simulated machine's file space. Windows paths map to host paths: C:\ is the machine's
// drive_c folder, Z:\ is the host's / (so the process's current directory appears as Z:\...).
// Names compare without regard to case, as on Windows.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// One entry of a host directory, with its name as Windows shows it (UTF-16).
struct DirEntry {
  std::u16string name;
  bool directory = false;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type written{};
};

class FileSpace {
 public:
  // `currentDirectory` is a full Windows path such as Z:\home\me\drivers.
  FileSpace(std::filesystem::path driveC, std::u16string currentDirectory);

  const std::u16string& currentDirectory() const { return currentDirectory_; }

  // The full Windows path of `name` resolved against the current directory: drive-relative,
  // rooted and relative forms, "." and ".." folded, forward slashes taken as backslashes,
  // repeated backslashes collapsed, a trailing backslash kept. UNC names are returned as given.
  std::u16string FullPath(std::u16string_view name) const;

  // The host path of a full Windows path, each existing component matched without regard to
  // case; components that do not exist are kept as given. Null for an unknown drive.
  std::optional<std::filesystem::path> HostPath(std::u16string_view fullWindowsPath) const;

  // HostPath(FullPath(name)).
  std::optional<std::filesystem::path> Resolve(std::u16string_view name) const {
    return HostPath(FullPath(name));
  }

  // The Windows path of a host path (C: inside drive_c, Z: elsewhere).
  std::u16string WindowsPath(const std::filesystem::path& hostPath) const;

 private:
  std::filesystem::path driveC_;
  std::u16string currentDirectory_;
};

// The entries of a host directory in the order an NTFS directory lists them (names compared
// upper-cased, unit by unit); null when the folder cannot be read.
std::optional<std::vector<DirEntry>> ListDirectory(const std::filesystem::path& hostDir);

// True when `name` matches the wildcard `pattern` ('*' any run, '?' one character) without
// regard to case. "*.*" matches every name, as on Windows. Windows also matches a pattern
// against the 8.3 short name of a file; the simulated machine has no short names.
bool MatchesWildcard(std::u16string_view pattern, std::u16string_view name);

// Names equal without regard to case.
bool SameName(std::u16string_view a, std::u16string_view b);

// The last component of a Windows path (after the last backslash) and the part before it.
std::u16string_view LastComponent(std::u16string_view path);
std::u16string_view ParentPath(std::u16string_view path);

}  // namespace winsim
