#include "winsim/folder_watch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace winsim {

namespace {

// Every change to an entry of the folder, and the folder itself going away.
constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                  IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
// Reports after which the names reported no longer tell everything that changed.
constexpr std::uint32_t kLost = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

bool SameFolder(const std::filesystem::path& folder, dev_t device, ino_t inode) {
  struct stat status {};
  return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_dev == device && status.st_ino == inode;
}

}  // namespace

FolderWatch::~FolderWatch() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

std::optional<std::set<std::string>> FolderWatch::Changes(const std::filesystem::path& folder) {
  if (watch_ >= 0 && folder == folder_ && SameFolder(folder, device_, inode_)) {
    if (std::optional<std::set<std::string>> names = Drain()) {
      return names;
    }
  }
  Start(folder);
  return std::nullopt;
}

std::optional<std::set<std::string>> FolderWatch::Drain() {
  std::set<std::string> names;
  bool lost = false;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t length = ::read(fd_, buffer, sizeof buffer);
    if (length <= 0) {
      // EAGAIN: nothing more is pending. Any other failure leaves the changes unknown.
      lost = lost || length == 0 || errno != EAGAIN;
      break;
    }
    for (ssize_t at = 0; at < length;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      // A report on the folder itself (no name: its attributes, or it went) leaves its
      // listing unknown too.
      if ((event.mask & IN_Q_OVERFLOW) != 0 ||
          (event.wd == watch_ && ((event.mask & kLost) != 0 || event.len == 0))) {
        lost = true;
      } else if (event.wd == watch_) {
        names.emplace(buffer + at + sizeof event);  // NUL-terminated within `len`
      }
      at += static_cast<ssize_t>(sizeof event + event.len);
    }
  }
  if (lost) {
    return std::nullopt;
  }
  return names;
}

void FolderWatch::Start(const std::filesystem::path& folder) {
  if (fd_ < 0) {
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
      return;  // no instance to be had (the user's limit): every look reads the folder
    }
  }
  if (watch_ >= 0) {
    ::inotify_rm_watch(fd_, watch_);
    watch_ = -1;
  }
  Drain();  // what the old watch reported is of no use now
  folder_ = folder;
  const int watch = ::inotify_add_watch(fd_, folder.c_str(), kEvents | IN_ONLYDIR);
  struct stat status {};
  if (watch < 0 || ::stat(folder.c_str(), &status) != 0) {
    return;
  }
  watch_ = watch;
  device_ = status.st_dev;
  inode_ = status.st_ino;
}

}  // namespace winsim
