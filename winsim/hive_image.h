// Offline installations: the folder of a Windows installation that is not running (a mounted
// disk image), whose registry is its hive files, read and written through hivex.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
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
  // a hive that was not closed cleanly (its two sequence numbers differ), that is shorter than
  // its base block says, or that hivex cannot read.
  HiveImage(std::filesystem::path file, RegKey& mount);
  ~HiveImage();
  HiveImage(const HiveImage&) = delete;
  HiveImage& operator=(const HiveImage&) = delete;

  const std::filesystem::path& file() const { return file_; }

  // Brings the hive in memory up to date with the tree under the mount point (a link such as
  // CurrentControlSet is not written: it exists only in the model). True when anything differed.
  bool Update();
  // Writes the hive in memory to a new file of an unpredictable name beside the hive (created
  // exclusively, so never through a link), flushed to the disk; returns its path.
  std::filesystem::path WriteBeside();
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

  void Read(std::size_t node, RegKey& key, std::shared_ptr<RegKey> shared);
  void Sync(const RegKey& key, Node& record);
  void WriteValues(std::size_t node, const RegKey& key);
  void Add(std::size_t parentNode, const RegKey& parent, const RegKey& key);
  void Forget(const RegKey* key);

  std::filesystem::path file_;
  mode_t mode_ = 0644;
  hive_h* hive_ = nullptr;
  RegKey* mount_;
  std::unordered_map<const RegKey*, Node> nodes_;
  bool changed_ = false;
};

// Saves the hives that differ from their files: each is written beside its file first, and only
// when all are written does any replace its file. Throws MachineError (nothing replaced then).
void SaveHives(const std::vector<std::unique_ptr<HiveImage>>& hives);

}  // namespace winsim
