// The intent journal of a run: what a run is about to change in a machine folder or an offline
// installation, written and flushed to the disk before the change is made, so that a run killed
// at any moment (a power cut, a closed console, a full disk) can be taken back or finished by
// whoever opens the machine next.
//
// A run's changes are entries created (folders and files of drive C:, temporary images and
// hives), entries moved aside into a folder of the run (`.orvcard-removed-XXXXXX`, whose contents
// go only when the run is kept), and, when the registry is saved, temporaries that replace the
// registry's files. The commit point is the "commit" record: it follows the records of every
// replacement, and is written only once the temporaries and everything the run created are on the
// disk. Before it, a recovery undoes every recorded change, newest first; after it, a recovery
// completes the replacements still to do and deletes what was moved aside. Either way the journal
// goes last, and a recovery killed half-way is simply done again.
//
// The journal is a text, a record per line, each with a checksum: the last line may be torn (the
// run was killed while writing it; its change was never begun), any other bad line makes the
// journal unreadable (MachineError). Its paths are relative to the machine's folder, and a
// recovery touches only the names it lists, only below the machine's folder, never through a link
// and never the registry's own files but by a recorded replacement.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "winsim/file_safety.h"

namespace winsim {

// The simulated machine's test option WINSIM_STOP_AT_STEP=N: the process kills itself (SIGKILL)
// at the N-th step of any journal (a record about to be written, a change about to be made or
// taken back). Unset, a step does nothing.
void JournalStep();
// The same option set from within the process (a test's child process): stop at the `step`-th
// step from now on, or never for 0.
void StopAtJournalStep(long step);

// Where a machine keeps its registry and journal: the machine folder (`root`), drive C: below it
// (where a run may create and remove entries), the registry's files (only a recorded replacement
// touches them) and the journal.
struct JournalPlace {
  std::filesystem::path root;
  std::filesystem::path driveC;
  std::filesystem::path file;
  std::vector<std::filesystem::path> registryFiles;
  bool durable = true;  // records and files flushed to the disk (not for a machine in memory)
};

// A temporary file that replaces one of the registry's files at the commit; `keepOriginal` keeps
// the file it replaces as TARGET.orvcard-backup (a hard link) unless a backup is there already.
struct Replacement {
  std::filesystem::path temporary;
  std::filesystem::path target;
  bool keepOriginal = false;
};

// Replaces `target` by `temporary` (rename), first keeping the original as a hard link
// TARGET.orvcard-backup with `keepOriginal` unless a backup is there already, and flushes the
// folder. Throws MachineError.
void ReplaceFile(const std::filesystem::path& temporary, const std::filesystem::path& target,
                 bool keepOriginal);

class Journal {
 public:
  explicit Journal(JournalPlace place);
  ~Journal();  // closes the journal; neither undoes nor keeps (a killed run)
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  const JournalPlace& place() const { return place_; }

  // Each records its changes, flushed, and then makes them; 0 or an errno value. A path outside
  // drive C:, or through a link, gives EACCES.
  // New files with their bytes, and the folders missing above them (none of them may exist).
  int CreateFiles(const std::vector<std::pair<std::filesystem::path, std::string_view>>& files);
  // The missing folders down to `folder`.
  int CreateFolders(const std::filesystem::path& folder);
  // Moves a file or a whole folder aside.
  int MoveAside(const std::filesystem::path& path);
  // A new temporary file for the registry, `prefix` and six random characters in the folder of
  // `target` (one of the registry's files), with `mode`: recorded, then created exclusively.
  FileDescriptor CreateTemporary(const std::filesystem::path& target, std::string_view prefix,
                                 mode_t mode, std::filesystem::path* name);

  // How far the changes go now, and taking back everything after that point (a step that fails
  // half-way): the changes are undone and their records taken out of the journal.
  std::size_t Mark() const { return records_.size(); }
  void RollBackTo(std::size_t mark);

  // The commit point: everything the run wrote is flushed to the disk, then the replacements and
  // the commit are recorded. Throws MachineError when the journal cannot be written (nothing is
  // committed then).
  void Commit(const std::vector<Replacement>& replacements);
  // After Commit: does the replacements, deletes what was moved aside, removes the journal.
  // Throws MachineError when a replacement cannot be made (the journal stays, and the next run
  // that opens the machine completes it).
  void Complete();
  // Before Commit: undoes every change, newest first, and removes the journal.
  void RollBack();

  enum class Recovered { kNothing, kRolledBack, kCompleted };
  // Finishes what a killed run left in `place` (call it holding the machine's lock): rolled back
  // or completed as its journal says. Throws MachineError for a journal that cannot be read or
  // that names what no run of ours changes (nothing is touched then).
  static Recovered Recover(const JournalPlace& place);

 private:
  struct Record {
    explicit Record(std::string kind, std::filesystem::path path = {},
                    std::filesystem::path second = {}, bool keep = false)
        : kind(std::move(kind)), path(std::move(path)), second(std::move(second)), keep(keep) {}
    std::string kind;
    std::filesystem::path path;
    std::filesystem::path second;  // aside: where it waits; replace: the target
    bool keep = false;             // replace: keep the original
    off_t end = 0;                 // where the record ends in the journal
  };
  // Writes `records` to the journal (opened on the first) and flushes it; 0 or an errno value.
  int Append(std::vector<Record> records);
  static void Undo(const JournalPlace& place, const Record& record);
  static void Finish(const std::vector<Record>& records);
  static std::vector<Record> Read(const JournalPlace& place);
  // The kind and path of each record read so far.
  using RecordSet = std::set<std::pair<std::string, std::filesystem::path>>;
  // One record of a journal read back, checked against `place` and the records before it.
  static Record Parse(const JournalPlace& place, std::string_view line, const RecordSet& earlier,
                      int lineNumber);
  // True when `path` lies in drive C: and no folder between the root and it is a link.
  bool Writable(const std::filesystem::path& path) const;
  void Remove();

  JournalPlace place_;
  FileDescriptor fd_;
  std::vector<Record> records_;
  std::filesystem::path asideDir_;  // made on the first removal
  std::size_t asideCount_ = 0;
  bool committed_ = false;
};

}  // namespace winsim
