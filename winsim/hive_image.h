// Offline installations: the folder of a Windows installation that is not running (a mounted
// disk image), whose registry is its hive files, read and written through hivex.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "winsim/journal.h"
#include "winsim/registry.h"

struct hive_h;

namespace winsim {

// The host path of a file below an installation's root given as "Windows\System32\...", each
// existing component matched without regard to case (components that do not exist as given).
std::filesystem::path InstallationPath(const std::filesystem::path& root,
                                       std::u16string_view windowsPath);

// True when `dir` is the root of an offline installation: it holds the folder
// Windows/System32/config (names matched without regard to case).
bool IsOfflineInstallation(const std::filesystem::path& dir);

// One hive file, its tree mounted at a key of the registry model.
class HiveImage {
 public:
  // Reads the hive `file` into `mount` (an empty key). Throws MachineError, naming the file, for
  // a name that is no regular file (a link, a FIFO, a device, a folder), a hive that fails
  // CheckHive (winsim/hive_check.h: checked before hivex sees it) or that hivex cannot read, and
  // a hive that was not closed cleanly (its two sequence numbers differ) unless `dirtyNotice` is
  // given: the hive is then only read (to be shown) and the notice is told, in one line, that
  // changes in its logs are not shown.
  HiveImage(std::filesystem::path file, RegKey& mount,
            const std::function<void(const std::string&)>& dirtyNotice = {});
  ~HiveImage();
  HiveImage(const HiveImage&) = delete;
  HiveImage& operator=(const HiveImage&) = delete;

  // Brings the hive in memory up to date with the tree under the mount point (a link such as
  // CurrentControlSet is not written: it exists only in the model). True when the hive in memory
  // differs from its file (changes of an earlier call that were never written count too).
  bool Update();
  // Writes the hive in memory to a new file of an unpredictable name beside the hive (recorded in
  // `journal`, then created exclusively, so never through a link), flushed to the disk; returns
  // its path. hivex writes it; the keys that Update removed are then taken out of the file's
  // bytes in one pass (hivex reads a key's whole subkey list for each key it removes).
  std::filesystem::path WriteBeside(Journal& journal);
  // Whether FILE.orvcard-backup exists; throws MachineError when the name is taken by anything
  // but a regular file (a link, a folder, a device), where the original could not be kept.
  bool CheckBackup() const;
  // Reads `written` back before it may replace the hive: hivex must read it, and it must hold
  // the tree under the mount point, key for key and value for value, each key in the cell it is
  // known at. Otherwise removes `written` and throws MachineError.
  void ReadBack(const std::filesystem::path& written);
  // Keeps the hive file as FILE.orvcard-backup unless a backup is there already, then renames
  // `written`, which ReadBack read, into its place (ReplaceFile); the hive in memory is then that
  // file's.
  void Replace(const std::filesystem::path& written);
  // The replacement of the hive by `written` (ReadBack read it) to make at the commit.
  Replacement ReplacementBy(const std::filesystem::path& written) const;
  // After `written`, which ReadBack read, replaced the hive: the hive in memory is that file's.
  void Replaced(const std::filesystem::path& written);

 private:
  // What the hive holds for one key of the model.
  struct Node {
    std::shared_ptr<RegKey> key;  // keeps the key alive, so that no new key takes its address
    std::size_t node = 0;
    std::uint64_t values = 0;            // digest of the values, in order
    std::vector<const RegKey*> subkeys;  // in the hive's order
  };

  void Close();
  // Reads the hive's tree from `node` into `mount`, whose record is `record` (CheckHive has
  // refused a tree deeper than Windows allows). No walk of the tree, here or below, takes a frame
  // of the stack per level.
  void Read(std::size_t node, RegKey& mount, Node& record);
  // Reads the values of the key at `node` into `key`.
  void ReadValues(std::size_t node, RegKey& key);
  [[noreturn]] void ReadFailure(const char* what, const RegKey& key) const;
  // Brings the hive in memory up to date with one key; adds its subkeys to `pending`.
  void Sync(const RegKey& key, std::vector<const RegKey*>& pending);
  void WriteValues(std::size_t node, const RegKey& key);
  void Add(std::size_t parentNode, const RegKey& parent, const RegKey& key);
  // Records that the subkey `key` of the key at `parentNode` goes, with its tree, when the hive
  // is written; forgets its tree.
  void Remove(std::size_t parentNode, const RegKey& key);
  // Removes through hivex the keys that a write that did not replace the hive left recorded.
  void RemoveRecorded();
  // Removes through hivex the key at `node`, named `name` (for the message).
  void RemoveNow(std::size_t node, std::u16string_view name);
  void Forget(const RegKey* key);
  // Takes the keys recorded for removal out of the file `written`, open as `fd`, as hivex wrote it.
  void RemoveFromWritten(int fd, const std::filesystem::path& written) const;
  // Throws MachineError naming `written` unless `back` holds the tree under the mount point.
  void CompareWritten(hive_h* back, const std::filesystem::path& written) const;
  // The hive in memory; after a Replace, read again from the file that replaced it.
  hive_h* Hive();

  std::filesystem::path file_;
  mode_t mode_ = 0644;
  std::size_t size_ = 0;
  int original_ = -1;       // the file as loaded (open until the end, whatever replaces it)
  hive_h* hive_ = nullptr;  // null from a Replace until Hive() is called
  int replaced_ = -1;       // the file that last replaced the hive, for Hive() to read
  int readBack_ = -1;       // the written file ReadBack read, open until it replaces the hive
  std::filesystem::path readBackFile_;
  RegKey* mount_;
  std::unordered_map<const RegKey*, Node> nodes_;
  // The keys to remove when the hive is written: by their parent's node, by their folded name.
  std::unordered_map<std::size_t, std::unordered_map<std::u16string, std::size_t>> removals_;
  bool dirty_ = false;
};

// Writes the hives that differ from their files beside them, their temporaries recorded in
// `journal`, and reads each back; returns what is to replace what at the commit. Throws
// MachineError (the journal takes the temporaries back then).
std::vector<Replacement> WriteHives(const std::vector<std::unique_ptr<HiveImage>>& hives,
                                    Journal& journal);
// After the commit replaced the hive files by what WriteHives wrote: the hives in memory are
// theirs.
void AdoptWrittenHives(const std::vector<std::unique_ptr<HiveImage>>& hives,
                       const std::vector<Replacement>& replacements);

}  // namespace winsim
