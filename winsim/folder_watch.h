// Which entries of a host folder changed between two looks at it, as the kernel reports them
// (inotify), so that what a caller learnt from the folder can be kept and mended instead of read
// again whole. Nothing else runs in the process between two looks, so every change made in
// between, by the process itself or by another, is reported at the next look.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace winsim {

class FolderWatch {
 public:
  FolderWatch() = default;
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // The names of the entries of `folder` created, removed, renamed, written or changed in their
  // attributes since the last call, each once. Null when that is not known: the first call, a
  // folder other than last time's (another path, or the path now naming another folder), the
  // folder moved or removed, reports lost, or no watch to be had. The caller then reads the whole
  // folder; the changes after this call are reported at the next.
  std::optional<std::set<std::string>> Changes(const std::filesystem::path& folder);

 private:
  // Reads every pending report; the changed names, or null when one said that some were lost or
  // that the watch ended.
  std::optional<std::set<std::string>> Drain();
  // Starts watching `folder` afresh; no watch is valid when that cannot be done.
  void Start(const std::filesystem::path& folder);

  int fd_ = -1;     // the inotify instance, made on first use
  int watch_ = -1;  // the watch of `folder_`; -1 when none is valid
  std::filesystem::path folder_;
  dev_t device_ = 0;  // which folder `folder_` named when the watch began
  ino_t inode_ = 0;
};

}  // namespace winsim
