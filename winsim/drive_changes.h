// The files a run changes, kept so that they can be taken back. A run changes drive C: (the
// driver store, the published INF files) and appends to its response file before its registry
// is saved; when that save fails, the run must leave nothing that the machine or the caller can
// see later. So every change is made at once, where the run itself reads it back, and noted:
// a new file or folder is deleted again, a removed one is only moved aside into a folder of the
// machine directory (and deleted once the registry is saved), a response file is cut back to
// the length it had when it was opened.
//
// No write follows a symbolic link inside the machine directory: new files are created with
// O_EXCL | O_NOFOLLOW, and a path whose folders below the machine directory include a link (or
// lie outside it) is refused.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

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

class DriveChanges {
 public:
  // `machineDir`: the folder no write may reach through a link, and where removed entries wait.
  // `driveC`: the only place below it that files are written or removed.
  DriveChanges(std::filesystem::path machineDir, std::filesystem::path driveC);
  ~DriveChanges();  // takes back whatever was not kept
  DriveChanges(const DriveChanges&) = delete;
  DriveChanges& operator=(const DriveChanges&) = delete;

  // Each returns 0 or an errno value; a path outside drive C:, or through a link, gives EACCES.
  int MakeFolders(const std::filesystem::path& folder);
  // A new file with `bytes`; an entry of that name is first moved aside, as Remove does.
  int WriteFile(const std::filesystem::path& file, std::string_view bytes);
  // Moves a file or a whole folder aside.
  int Remove(const std::filesystem::path& path);

  // Opens the response file `file` (anywhere) for appending, creating it when missing, as the
  // C runtime's mode "a" does, but only when it is a regular file: opening never blocks (a FIFO
  // without a reader fails at once) and a device or FIFO is refused with ENODEV. Returns 0 and
  // a descriptor in `*fd` (owned here until Keep or TakeBack), or an errno value.
  int OpenAppend(const std::filesystem::path& file, int* fd);

  // How far the changes go now, and taking back everything after that point (for a step that
  // fails half-way).
  std::size_t Mark() const { return changes_.size(); }
  void TakeBackTo(std::size_t mark);

  // After the registry was saved: the removed entries are deleted for good and the response
  // files closed.
  void Keep();
  // The save failed (or never came): every change is undone, the newest first.
  void TakeBack();

 private:
  enum class Kind { kCreatedFile, kCreatedFolder, kMovedAside, kAppended };
  struct Change {
    Kind kind;
    std::filesystem::path path;   // where the entry is (or was)
    std::filesystem::path aside;  // kMovedAside: where it waits
    int fd = -1;                  // kAppended: the open response file
    off_t length = 0;             // kAppended: its length when opened
    bool created = false;         // kAppended: made by this run
    dev_t device = 0;             // kAppended: which file it is
    ino_t inode = 0;
  };
  // True when `path` lies in drive C: and no folder between the machine directory and it is a
  // link.
  bool Writable(const std::filesystem::path& path) const;
  void Undo(Change& change);

  std::filesystem::path machineDir_;
  std::filesystem::path driveC_;
  std::filesystem::path asideDir_;  // made on the first removal
  std::size_t asideCount_ = 0;
  std::vector<Change> changes_;
};

}  // namespace winsim
