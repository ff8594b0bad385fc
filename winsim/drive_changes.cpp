#include "winsim/drive_changes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace winsim {

namespace fs = std::filesystem;

DriveChanges::~DriveChanges() {
  TakeBack();
}

int DriveChanges::MakeFolders(const fs::path& folder) {
  return journal_.CreateFolders(folder);
}

int DriveChanges::WriteFiles(const std::vector<std::pair<fs::path, std::string_view>>& files) {
  for (const auto& [file, bytes] : files) {
    struct stat status {};
    if (::lstat(file.c_str(), &status) == 0) {
      if (const int error = Remove(file); error != 0) {
        return error;
      }
    }
  }
  return journal_.CreateFiles(files);
}

int DriveChanges::Remove(const fs::path& path) {
  return journal_.MoveAside(path);
}

int DriveChanges::OpenAppend(const fs::path& file, int* fd) {
  // Inside the machine directory only drive C: takes a response file, never through a link
  // (appending to registry.reg would spoil the machine).
  const JournalPlace& place = journal_.place();
  const bool inside = !Below(place.root, Normal(file)).empty();
  if (inside && (Below(place.driveC, Normal(file)).empty() ||
                 CheckFolders(place.root, Normal(file).parent_path()) != 0)) {
    return EACCES;
  }
  struct stat status {};
  Appended opened;
  if (const int error = OpenForAppending(file, inside, &opened.fd, &opened.created, &status);
      error != 0) {
    return error;
  }
  opened.length = status.st_size;
  opened.device = status.st_dev;
  opened.inode = status.st_ino;
  opened.path = Normal(file);
  appended_.push_back(std::move(opened));
  *fd = appended_.back().fd;
  return 0;
}

void DriveChanges::CloseResponseFiles(bool cutBack) {
  for (auto it = appended_.rbegin(); it != appended_.rend(); ++it) {
    struct stat status {};
    if (cutBack && !it->created) {
      (void)::ftruncate(it->fd, it->length);
    } else if (cutBack && ::lstat(it->path.c_str(), &status) == 0 && status.st_dev == it->device &&
               status.st_ino == it->inode) {
      ::unlink(it->path.c_str());  // made by this run, and still the file it made
    }
    ::close(it->fd);
  }
  appended_.clear();
}

void DriveChanges::TakeBack() {
  journal_.RollBack();
  CloseResponseFiles(true);
}

void DriveChanges::Keep() {
  CloseResponseFiles(false);
  journal_.Complete();
}

}  // namespace winsim
