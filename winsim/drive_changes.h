// The files a run changes, kept so that they can be taken back. A run changes drive C: (the
// driver store, the published INF files) and appends to its response file before its registry
// is saved; when that save fails, the run must leave nothing that the machine or the caller can
// see later. So every change is made at once, where the run itself reads it back, and recorded
// in the run's journal first (winsim/journal.h): a new file or folder is deleted again, a removed
// one is only moved aside (and deleted once the registry is saved). A response file, which lies
// outside the machine, is cut back to the length it had when it was opened; a killed run may
// leave it without its result line.
//
// No write follows a symbolic link inside the machine directory: new files are created with
// O_EXCL | O_NOFOLLOW, and a path whose folders below the machine directory include a link (or
// lie outside it) is refused.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <utility>
#include <vector>

#include "winsim/journal.h"

namespace winsim {

class DriveChanges {
 public:
  // `place`: the machine's folder (no write reaches through a link below it, and removed entries
  // wait there), its drive C: (the only place files are written or removed) and its journal.
  explicit DriveChanges(JournalPlace place) : journal_(std::move(place)) {}
  ~DriveChanges();  // takes back whatever was neither kept nor committed
  DriveChanges(const DriveChanges&) = delete;
  DriveChanges& operator=(const DriveChanges&) = delete;

  // Each returns 0 or an errno value; a path outside drive C:, or through a link, gives EACCES.
  int MakeFolders(const std::filesystem::path& folder);
  // A new file with `bytes`; an entry of that name is first moved aside, as Remove does.
  int WriteFile(const std::filesystem::path& file, std::string_view bytes) {
    return WriteFiles({{file, bytes}});
  }
  // New files and the folders they need, recorded in the journal at once.
  int WriteFiles(const std::vector<std::pair<std::filesystem::path, std::string_view>>& files);
  // Moves a file or a whole folder aside.
  int Remove(const std::filesystem::path& path);

  // Opens the response file `file` (anywhere) for appending, creating it when missing, as the
  // C runtime's mode "a" does, but only when it is a regular file: opening never blocks (a FIFO
  // without a reader fails at once) and a device or FIFO is refused with ENODEV. Returns 0 and
  // a descriptor in `*fd` (owned here until Keep or TakeBack), or an errno value.
  int OpenAppend(const std::filesystem::path& file, int* fd);

  // How far the changes go now, and taking back everything after that point (for a step that
  // fails half-way).
  std::size_t Mark() const { return journal_.Mark(); }
  void TakeBackTo(std::size_t mark) { journal_.RollBackTo(mark); }

  // The journal, for the save to record its temporaries and commit.
  Journal& journal() { return journal_; }

  // After the commit: the journal is completed (removed entries deleted for good) and the
  // response files closed. Throws MachineError when the commit cannot be completed (the journal
  // stays for the next run to complete).
  void Keep();
  // The save failed (or never came): every change is undone, the newest first.
  void TakeBack();

 private:
  struct Appended {
    int fd = -1;           // the open response file
    off_t length = 0;      // its length when opened
    bool created = false;  // made by this run
    dev_t device = 0;      // which file it is
    ino_t inode = 0;
    std::filesystem::path path;
  };
  void CloseResponseFiles(bool cutBack);

  Journal journal_;
  std::vector<Appended> appended_;
};

}  // namespace winsim
