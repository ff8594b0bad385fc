// How the simulated machine writes files: new names created exclusively and never through a
// link, descriptors closed on every path, flushes where a change must outlive a power cut.
// Machine folders, offline installations, their hives and the journal of a run all write
// through these.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace winsim {

// Closes a file descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int Release() { return std::exchange(fd_, -1); }
  // Closes now; 0 or the errno value of the close.
  int Close();

 private:
  int fd_;
};

// `path` made absolute and normal (no . or .. left).
std::filesystem::path Normal(const std::filesystem::path& path);
// The path of `path` below `root` (both normal), or an empty path when it does not lie below.
std::filesystem::path Below(const std::filesystem::path& root, const std::filesystem::path& path);
// 0 when each folder from below `root` down to `folder` is a folder and no link, else an errno
// value (ENOENT for one that is missing, ELOOP for a link).
int CheckFolders(const std::filesystem::path& root, const std::filesystem::path& folder);

// The folders from below `root` down to `folder` that do not exist yet, outermost first, or an
// errno value when one on the way is a link or no folder (EACCES when `folder` is not below
// `root`).
int MissingFolders(const std::filesystem::path& root, const std::filesystem::path& folder,
                   std::vector<std::filesystem::path>* missing);
// Creates `folder` and the missing folders above it, up to `root` (which must exist). A
// component that is a link, or anything but a folder, is refused. Returns 0 or an errno value;
// `created` (if given) gets each folder made, outermost first.
int MakeFoldersBelow(const std::filesystem::path& root, const std::filesystem::path& folder,
                     std::vector<std::filesystem::path>* created = nullptr);

// Writes all of `bytes` to the descriptor `fd`. Returns 0 or an errno value.
int WriteAll(int fd, std::string_view bytes);

// Creates the new file `file` (never an existing name, never through a link) with `bytes`
// (not flushed to the disk). Returns 0 or an errno value (EEXIST when the name is taken).
int WriteNewFile(const std::filesystem::path& file, std::string_view bytes, mode_t mode = 0644);

// Opens `file` for appending, creating it when missing (`*created` then), as the C runtime's
// mode "a" does, but only a regular file: the open never blocks (a FIFO without a reader fails at
// once), a FIFO, device or folder gives ENODEV, and so does, with `noFollow`, a link at the last
// name.
// Returns 0 with the descriptor in `*fd` and its status in `*status`, or an errno value.
int OpenForAppending(const std::filesystem::path& file, bool noFollow, int* fd, bool* created,
                     struct stat* status);

// Flushes the entries of the folder `dir` (names made, renamed or removed) to the disk. Returns
// 0 or an errno value.
int SyncFolder(const std::filesystem::path& dir);

// Six characters nobody can guess, for the names of temporary files and folders.
std::string RandomSuffix();

// Renames `from` to `to` only when no entry is named `to` (EEXIST then). Returns 0 or an errno
// value.
int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace winsim
