// Offline installations: the folder of a Windows installation that is not running (a mounted
// disk image), whose registry is its hive files, read and written through hivex.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

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
  // CurrentControlSet is not written: it exists only in the model). True when anything differed.
  bool Update();
  // Writes the hive in memory to a new file of an unpredictable name beside the hive (created
  // exclusively, so never through a link), flushed to the disk; returns its path.
  std::filesystem::path WriteBeside();
  // Whether FILE.orvcard-backup exists; throws MachineError when the name is taken by anything
  // but a regular file (a link, a folder, a device), where the original could not be kept.
  bool CheckBackup() const;
  // Keeps the hive file as FILE.orvcard-backup unless a backup is there already, then renames
  // `written` into its place.
  void Replace(const std::filesystem::path& written);

 private:
  // What the hive holds for one key of the model.
  struct Node {
    std::shared_ptr<RegKey> key;  // keeps the key alive, so that no new key takes its address
    std::size_t node = 0;
    std::uint64_t values = 0;            // digest of the values, in order
    std::vector<const RegKey*> subkeys;  // in the hive's order
  };

  // What the file as loaded holds for a key beside its name, values and subkeys.
  struct Stored {
    std::uint16_t flags;
    std::uint32_t security;
    std::uint32_t className;
  };

  // A key whose hive content Update brings up to date, with its parent and the parent's node.
  struct SyncStep {
    const RegKey* key;
    const RegKey* parent;  // null for the mount point
    std::size_t parentNode;
  };

  void Close();
  // Reads the hive's tree from `node` into `mount`, whose record is `record` (CheckHive has
  // refused a tree deeper than Windows allows). No walk of the tree, here or below, takes a frame
  // of the stack per level.
  void Read(std::size_t node, RegKey& mount, Node& record);
  // Brings the hive in memory up to date with one key; adds its subkeys to `pending`.
  void Sync(const SyncStep& step, std::vector<SyncStep>& pending);
  std::optional<Stored> StoredKey(std::size_t node) const;
  bool CanRewrite(const RegKey& key, const Node& record,
                  const std::vector<const RegKey*>& keeps) const;
  void WriteValues(std::size_t node, const RegKey& key);
  void Add(std::size_t parentNode, const RegKey& parent, const RegKey& key);
  void Forget(const RegKey* key);

  std::filesystem::path file_;
  mode_t mode_ = 0644;
  std::size_t size_ = 0;
  int original_ = -1;  // the file as loaded (open until the end, whatever replaces it)
  hive_h* hive_ = nullptr;
  RegKey* mount_;
  std::unordered_map<const RegKey*, Node> nodes_;
  bool changed_ = false;
};

// Saves the hives that differ from their files: each is written beside its file first, and only
// when all are written does any replace its file. Throws MachineError (nothing replaced then).
void SaveHives(const std::vector<std::unique_ptr<HiveImage>>& hives);

}  // namespace winsim
