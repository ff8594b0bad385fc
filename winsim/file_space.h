// The simulated machine's file space. Windows paths map to host paths: C:\ is the machine's
// drive_c folder, Z:\ is the host's / (so the process's current directory appears as Z:\...).
// Names compare without regard to case, as on Windows.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace winsim {

class FileSpace {
 public:
  // `currentDirectory` is a full Windows path such as Z:\home\me\drivers.
  FileSpace(std::filesystem::path driveC, std::u16string currentDirectory);

  const std::u16string& currentDirectory() const { return currentDirectory_; }

  // The full Windows path of `name` resolved against the current directory: drive-relative,
  // rooted and relative forms, "." and ".." folded, forward slashes taken as backslashes.
  std::u16string FullPath(std::u16string_view name) const;

  // The host path of a full Windows path, each existing component matched without regard to
  // case; components that do not exist are kept as given. Null for an unknown drive.
  std::optional<std::filesystem::path> HostPath(std::u16string_view fullWindowsPath) const;

  // The Windows path of a host path (C: inside drive_c, Z: elsewhere).
  std::u16string WindowsPath(const std::filesystem::path& hostPath) const;

 private:
  std::filesystem::path driveC_;
  std::u16string currentDirectory_;
};

}  // namespace winsim
