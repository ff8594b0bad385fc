#include "winsim/file_safety.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace winsim {

namespace fs = std::filesystem;

FileDescriptor::~FileDescriptor() {
  Close();
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.Release();
  }
  return *this;
}

int FileDescriptor::Close() {
  if (fd_ < 0) {
    return 0;
  }
  return ::close(std::exchange(fd_, -1)) == 0 ? 0 : errno;
}

fs::path Normal(const fs::path& path) {
  std::error_code ignored;
  return fs::absolute(path, ignored).lexically_normal();
}

fs::path Below(const fs::path& root, const fs::path& path) {
  const fs::path relative = path.lexically_relative(root);
  if (relative.empty() || *relative.begin() == ".." || relative == ".") {
    return {};
  }
  return relative;
}

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

int MissingFolders(const fs::path& root, const fs::path& folder, std::vector<fs::path>* missing) {
  const fs::path base = Normal(root);
  const fs::path target = Normal(folder);
  if (target == base) {
    return 0;
  }
  if (Below(base, target).empty()) {
    return EACCES;
  }
  fs::path current = base;
  bool absent = false;  // once one is missing, so is everything below it
  for (const fs::path& part : Below(base, target)) {
    current /= part;
    struct stat status {};
    if (!absent && ::lstat(current.c_str(), &status) != 0) {
      if (errno != ENOENT) {
        return errno;
      }
      absent = true;
    }
    if (absent) {
      missing->push_back(current);
    } else if (!S_ISDIR(status.st_mode)) {
      return S_ISLNK(status.st_mode) ? ELOOP : ENOTDIR;
    }
  }
  return 0;
}

int MakeFoldersBelow(const fs::path& root, const fs::path& folder, std::vector<fs::path>* created) {
  std::vector<fs::path> missing;
  if (const int error = MissingFolders(root, folder, &missing); error != 0) {
    return error;
  }
  for (const fs::path& current : missing) {
    if (::mkdir(current.c_str(), 0755) == 0) {
      if (created != nullptr) {
        created->push_back(current);
      }
      continue;
    }
    // Another process may have made it in the meantime: then it is checked as one found.
    struct stat status {};
    if (errno != EEXIST || ::lstat(current.c_str(), &status) != 0) {
      return errno;
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
  FileDescriptor fd(
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd.valid()) {
    return errno;
  }
  int error = WriteAll(fd.get(), bytes);
  if (const int closed = fd.Close(); error == 0) {
    error = closed;
  }
  if (error != 0) {
    ::unlink(file.c_str());
  }
  return error;
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
  FileDescriptor opened(::open(file.c_str(), flags));
  if (!opened.valid() && errno == ENOENT) {
    opened = FileDescriptor(::open(file.c_str(), flags | O_CREAT | O_EXCL, 0666));
    *created = opened.valid();
  }
  if (!opened.valid()) {
    return errno;
  }
  if (::fstat(opened.get(), status) != 0 || !S_ISREG(status->st_mode)) {
    return ENODEV;
  }
  *fd = opened.Release();
  return 0;
}

int SyncFolder(const fs::path& dir) {
  const FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid() || ::fsync(fd.get()) != 0) {
    return errno;
  }
  return 0;
}

std::string RandomSuffix() {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6] = {};
  for (std::size_t got = 0; got < sizeof random;) {
    const ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
    got += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  std::string suffix;
  for (const unsigned char byte : random) {
    suffix += kLetters[byte % (sizeof kLetters - 1)];
  }
  return suffix;
}

int RenameNoReplace(const fs::path& from, const fs::path& to) {
  return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0
                                                                                          : errno;
}

}  // namespace winsim
