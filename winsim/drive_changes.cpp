#include "winsim/drive_changes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

namespace winsim {

namespace fs = std::filesystem;

namespace {

fs::path Normal(const fs::path& path) {
  std::error_code ignored;
  return fs::absolute(path, ignored).lexically_normal();
}

// The path of `path` below `root` (both normal), or an empty path when it does not lie below.
fs::path Below(const fs::path& root, const fs::path& path) {
  const fs::path relative = path.lexically_relative(root);
  if (relative.empty() || *relative.begin() == ".." || relative == ".") {
    return {};
  }
  return relative;
}

// 0 when each folder from below `root` down to `folder` is a folder and no link, else an errno
// value (ENOENT for one that is missing).
int CheckFolders(const fs::path& root, const fs::path& folder) {
  fs::path current = root;
  for (const fs::path& part : Below(root, folder)) {
    current /= part;
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0) {
      return errno;
    }
    if (!S_ISDIR(status.st_mode)) {
      return S_ISLNK(status.st_mode) ? ELOOP : ENOTDIR;
    }
  }
  return 0;
}

}  // namespace

int MakeFoldersBelow(const fs::path& root, const fs::path& folder, std::vector<fs::path>* created) {
  const fs::path base = Normal(root);
  const fs::path target = Normal(folder);
  if (target == base) {
    return 0;
  }
  if (Below(base, target).empty()) {
    return EACCES;
  }
  fs::path current = base;
  for (const fs::path& part : Below(base, target)) {
    current /= part;
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0) {
      if (errno != ENOENT) {
        return errno;
      }
      if (::mkdir(current.c_str(), 0755) == 0) {
        if (created != nullptr) {
          created->push_back(current);
        }
        continue;
      }
      // Another process may have made it in the meantime: then it is checked as one found.
      if (errno != EEXIST || ::lstat(current.c_str(), &status) != 0) {
        return errno;
      }
    }
    if (!S_ISDIR(status.st_mode)) {
      return S_ISLNK(status.st_mode) ? ELOOP : ENOTDIR;
    }
  }
  return 0;
}

int WriteAll(int fd, std::string_view bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno != EINTR) {
      return errno;
    }
    done += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  return 0;
}

int WriteNewFile(const fs::path& file, std::string_view bytes, mode_t mode) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) {
    return errno;
  }
  int error = WriteAll(fd, bytes);
  if (::close(fd) != 0 && error == 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(file.c_str());
  }
  return error;
}

DriveChanges::DriveChanges(fs::path machineDir, fs::path driveC)
    : machineDir_(Normal(machineDir)), driveC_(Normal(driveC)) {}

DriveChanges::~DriveChanges() {
  TakeBack();
}

bool DriveChanges::Writable(const fs::path& path) const {
  const fs::path normal = Normal(path);
  return !Below(driveC_, normal).empty() && CheckFolders(machineDir_, normal.parent_path()) == 0;
}

int DriveChanges::MakeFolders(const fs::path& folder) {
  const fs::path normal = Normal(folder);
  if (normal != driveC_ && Below(driveC_, normal).empty()) {
    return EACCES;
  }
  std::vector<fs::path> created;
  const int error = MakeFoldersBelow(machineDir_, normal, &created);
  for (fs::path& made : created) {
    changes_.push_back(Change{Kind::kCreatedFolder, std::move(made), {}});
  }
  return error;
}

int DriveChanges::WriteFile(const fs::path& file, std::string_view bytes) {
  if (!Writable(file)) {
    return EACCES;
  }
  struct stat status {};
  if (::lstat(file.c_str(), &status) == 0) {
    if (const int error = Remove(file); error != 0) {
      return error;
    }
  }
  if (const int error = WriteNewFile(file, bytes); error != 0) {
    return error;
  }
  changes_.push_back(Change{Kind::kCreatedFile, Normal(file), {}});
  return 0;
}

int DriveChanges::Remove(const fs::path& path) {
  if (!Writable(path)) {
    return EACCES;
  }
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) {
    return errno;
  }
  if (asideDir_.empty()) {
    std::string pattern = (machineDir_ / ".orvcard-removed-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      return errno;
    }
    asideDir_ = pattern;
  }
  const fs::path aside = asideDir_ / std::to_string(asideCount_++);
  if (::rename(path.c_str(), aside.c_str()) != 0) {
    return errno;
  }
  changes_.push_back(Change{Kind::kMovedAside, Normal(path), aside});
  return 0;
}

int OpenForAppending(const fs::path& file, bool noFollow, int* fd, bool* created,
                     struct stat* status) {
  // What is there already must be a regular file (a FIFO nobody reads would not even open).
  if ((noFollow ? ::lstat(file.c_str(), status) : ::stat(file.c_str(), status)) == 0 &&
      !S_ISREG(status->st_mode)) {
    return ENODEV;
  }
  const int flags = O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC | (noFollow ? O_NOFOLLOW : 0);
  *created = false;
  int opened = ::open(file.c_str(), flags);
  if (opened < 0 && errno == ENOENT) {
    opened = ::open(file.c_str(), flags | O_CREAT | O_EXCL, 0666);
    *created = opened >= 0;
  }
  if (opened < 0) {
    return errno;
  }
  if (::fstat(opened, status) != 0 || !S_ISREG(status->st_mode)) {
    ::close(opened);
    return ENODEV;
  }
  *fd = opened;
  return 0;
}

int DriveChanges::OpenAppend(const fs::path& file, int* fd) {
  // Inside the machine directory only drive C: takes a response file, never through a link
  // (appending to registry.reg would spoil the machine).
  const bool inside = !Below(machineDir_, Normal(file)).empty();
  if (inside && !Writable(file)) {
    return EACCES;
  }
  struct stat status {};
  bool created = false;
  int opened = -1;
  if (const int error = OpenForAppending(file, inside, &opened, &created, &status); error != 0) {
    return error;
  }
  Change change{Kind::kAppended, Normal(file), {}};
  change.fd = opened;
  change.length = status.st_size;
  change.created = created;
  change.device = status.st_dev;
  change.inode = status.st_ino;
  changes_.push_back(std::move(change));
  *fd = opened;
  return 0;
}

void DriveChanges::Undo(Change& change) {
  switch (change.kind) {
    case Kind::kCreatedFile:
      ::unlink(change.path.c_str());
      break;
    case Kind::kCreatedFolder:
      ::rmdir(change.path.c_str());
      break;
    case Kind::kMovedAside:
      ::rename(change.aside.c_str(), change.path.c_str());
      break;
    case Kind::kAppended: {
      struct stat status {};
      if (!change.created) {
        (void)::ftruncate(change.fd, change.length);
      } else if (::lstat(change.path.c_str(), &status) == 0 && status.st_dev == change.device &&
                 status.st_ino == change.inode) {
        ::unlink(change.path.c_str());
      }
      ::close(change.fd);
      break;
    }
  }
}

void DriveChanges::TakeBackTo(std::size_t mark) {
  while (changes_.size() > mark) {
    Undo(changes_.back());
    changes_.pop_back();
  }
}

void DriveChanges::TakeBack() {
  TakeBackTo(0);
  if (!asideDir_.empty()) {
    std::error_code ignored;
    fs::remove_all(asideDir_, ignored);
    asideDir_.clear();
  }
}

void DriveChanges::Keep() {
  for (Change& change : changes_) {
    if (change.kind == Kind::kAppended) {
      ::close(change.fd);
    }
  }
  changes_.clear();
  if (!asideDir_.empty()) {
    std::error_code ignored;
    fs::remove_all(asideDir_, ignored);
    asideDir_.clear();
  }
}

}  // namespace winsim
