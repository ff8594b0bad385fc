#include "winsim/journal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "winsim/journal_records.h"
#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;

using namespace journal_records;

namespace {

long stopAt = -1;  // -1: not read from the environment yet
long steps = 0;

}  // namespace

void StopAtJournalStep(long step) {
  stopAt = step;
  steps = 0;
}

void JournalStep() {
  if (stopAt < 0) {
    const char* value = std::getenv("WINSIM_STOP_AT_STEP");
    stopAt = value == nullptr ? 0 : std::max(0L, std::atol(value));
  }
  if (stopAt > 0 && ++steps == stopAt) {
    ::raise(SIGKILL);
  }
}

Journal::Journal(JournalPlace place) : place_(std::move(place)) {
  place_.root = Normal(place_.root);
  place_.driveC = Normal(place_.driveC);
}

Journal::~Journal() = default;

bool Journal::Writable(const fs::path& path) const {
  const fs::path normal = Normal(path);
  return !Below(place_.driveC, normal).empty() && !Protected(place_, normal) &&
         CheckFolders(place_.root, normal.parent_path()) == 0;
}

int Journal::Append(std::vector<Record> records) {
  JournalStep();
  std::string text;
  if (!fd_.valid()) {
    fd_ = FileDescriptor(::open(place_.file.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC,
                                0644));
    if (!fd_.valid()) {
      return errno;
    }
    text = kHeader;
  }
  off_t end = records_.empty() ? 0 : records_.back().end;
  for (Record& record : records) {
    std::string line = record.kind;
    for (const fs::path* path : {&record.path, &record.second}) {
      if (!path->empty()) {
        line += ' ' + Escape(Below(place_.root, *path).string());
      }
    }
    line += record.keep ? " keep" : "";
    line += ' ' + LineChecksum(line) + '\n';
    text += line;
    record.end = end + static_cast<off_t>(text.size());
  }
  if (const int error = WriteAll(fd_.get(), text); error != 0) {
    return error;
  }
  // The record must be on the disk before its change, and so must the journal's name.
  if (place_.durable) {
    if (::fdatasync(fd_.get()) != 0) {
      return errno;
    }
    if (const int error = text.starts_with(kHeader) ? SyncFolder(place_.file.parent_path()) : 0;
        error != 0) {
      return error;
    }
  }
  records_.insert(records_.end(), records.begin(), records.end());
  JournalStep();
  return 0;
}

int Journal::CreateFiles(const std::vector<std::pair<fs::path, std::string_view>>& files) {
  std::vector<Record> records;
  for (const auto& [file, bytes] : files) {
    // Folders on the way that are links are refused by MissingFolders.
    if (Below(place_.driveC, Normal(file)).empty() || Protected(place_, Normal(file))) {
      return EACCES;
    }
    std::vector<fs::path> missing;
    if (const int error = MissingFolders(place_.root, file.parent_path(), &missing); error != 0) {
      return error;
    }
    for (fs::path& folder : missing) {
      const bool listed = std::any_of(records.begin(), records.end(),
                                      [&](const Record& r) { return r.path == folder; });
      if (!listed) {
        records.push_back(Record{"create", std::move(folder)});
      }
    }
    records.push_back(Record{"create", Normal(file)});
  }
  if (records.empty()) {
    return 0;
  }
  if (const int error = Append(std::move(records)); error != 0) {
    return error;
  }
  for (const auto& [file, bytes] : files) {
    if (const int error = MakeFoldersBelow(place_.root, Normal(file).parent_path()); error != 0) {
      return error;
    }
    if (const int error = WriteNewFile(file, bytes); error != 0) {
      return error;
    }
  }
  return 0;
}

int Journal::CreateFolders(const fs::path& folder) {
  const fs::path normal = Normal(folder);
  if (normal != place_.driveC && !Writable(normal)) {
    return EACCES;
  }
  std::vector<fs::path> missing;
  if (const int error = MissingFolders(place_.root, normal, &missing); error != 0) {
    return error;
  }
  if (missing.empty()) {
    return 0;
  }
  std::vector<Record> records;
  for (fs::path& made : missing) {
    records.push_back(Record{"create", std::move(made)});
  }
  if (const int error = Append(std::move(records)); error != 0) {
    return error;
  }
  return MakeFoldersBelow(place_.root, normal);
}

int Journal::MoveAside(const fs::path& path) {
  const fs::path normal = Normal(path);
  if (!Writable(normal)) {
    return EACCES;
  }
  struct stat status {};
  if (::lstat(normal.c_str(), &status) != 0) {
    return errno;
  }
  if (asideDir_.empty()) {
    const fs::path folder = place_.root / (std::string(kAsidePrefix) + RandomSuffix());
    if (const int error = Append({Record{"asides", folder}}); error != 0) {
      return error;
    }
    if (::mkdir(folder.c_str(), 0700) != 0) {
      return errno;
    }
    asideDir_ = folder;
  }
  const fs::path aside = asideDir_ / std::to_string(asideCount_++);
  if (const int error = Append({Record{"aside", normal, aside}}); error != 0) {
    return error;
  }
  return ::rename(normal.c_str(), aside.c_str()) == 0 ? 0 : errno;
}

FileDescriptor Journal::CreateTemporary(const fs::path& target, std::string_view prefix,
                                        mode_t mode, fs::path* name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = Normal(target).parent_path() / (std::string(prefix) + RandomSuffix());
    if (const int error = Append({Record{"create", *name}}); error != 0) {
      errno = error;
      return FileDescriptor();
    }
    FileDescriptor fd(
        ::open(name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode & 07777));
    if (fd.valid() || errno != EEXIST) {
      return fd;
    }
    records_.pop_back();  // the name was taken: its undo must not remove it
    RollBackTo(records_.size());
  }
  errno = EEXIST;
  return FileDescriptor();
}

void Journal::RollBackTo(std::size_t mark) {
  if (mark >= records_.size()) {
    // Nothing to undo, but a record dropped after a failed create may still be in the file.
    if (fd_.valid()) {
      (void)::ftruncate(
          fd_.get(), records_.empty() ? static_cast<off_t>(kHeader.size()) : records_.back().end);
    }
    return;
  }
  while (records_.size() > mark) {
    JournalStep();
    Undo(place_, records_.back());
    if (records_.back().kind == "asides") {
      asideDir_.clear();
      asideCount_ = 0;
    }
    records_.pop_back();
  }
  RollBackTo(mark);
  if (fd_.valid()) {
    (void)::fdatasync(fd_.get());
  }
}

void Journal::Commit(const std::vector<Replacement>& replacements) {
  if (!fd_.valid() && replacements.empty()) {
    return;  // the run changed nothing
  }
  // What the run created must be on the disk before the commit says that it stays.
  if (fd_.valid() && place_.durable && ::syncfs(fd_.get()) != 0) {
    ThrowJournalError(place_, 0,
                      std::string("cannot flush the run's files: ") + std::strerror(errno));
  }
  std::vector<Record> records;
  for (const Replacement& replacement : replacements) {
    records.push_back(Record{"replace", Normal(replacement.temporary), Normal(replacement.target),
                             replacement.keepOriginal});
  }
  records.push_back(Record{"commit"});
  if (const int error = Append(std::move(records)); error != 0) {
    ThrowJournalError(place_, 0, std::string("cannot write: ") + std::strerror(error));
  }
  committed_ = true;
}

void Journal::Complete() {
  if (!fd_.valid()) {
    return;
  }
  Finish(records_);
  Remove();
}

void Journal::RollBack() {
  if (committed_ || !fd_.valid()) {
    return;
  }
  RollBackTo(0);
  Remove();
}

void Journal::Remove() {
  JournalStep();
  ::unlink(place_.file.c_str());
  fd_.Close();
  records_.clear();
  asideDir_.clear();
  committed_ = false;
}

void Journal::Undo(const JournalPlace& place, const Record& record) {
  if (CheckFolders(place.root, record.path.parent_path()) != 0) {
    return;  // a link on the way: nothing of ours is there
  }
  struct stat status {};
  if (record.kind == "create" || record.kind == "asides") {
    if (::lstat(record.path.c_str(), &status) == 0) {
      (void)(S_ISDIR(status.st_mode) ? ::rmdir(record.path.c_str())
                                     : ::unlink(record.path.c_str()));
    }
  } else if (record.kind == "aside" && ::lstat(record.second.c_str(), &status) == 0 &&
             CheckFolders(place.root, record.second.parent_path()) == 0) {
    (void)RenameNoReplace(record.second, record.path);
  }
}

void ReplaceFile(const fs::path& temporary, const fs::path& target, bool keepOriginal) {
  const fs::path backup = target.string() + std::string(kBackupSuffix);
  // A hard link (a new name, made exclusively) keeps the original; a backup there is kept.
  if (keepOriginal && ::link(target.c_str(), backup.c_str()) != 0 && errno != EEXIST) {
    throw MachineError(backup, 0, std::string("cannot keep the original: ") + std::strerror(errno));
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    throw MachineError(target, 0, std::string("cannot replace: ") + std::strerror(errno));
  }
  if (const int error = SyncFolder(target.parent_path()); error != 0) {
    throw MachineError(target.parent_path(), 0,
                       std::string("cannot flush the folder: ") + std::strerror(error));
  }
}

void Journal::Finish(const std::vector<Record>& records) {
  for (const Record& record : records) {
    struct stat status {};
    if (record.kind != "replace" || ::lstat(record.path.c_str(), &status) != 0) {
      continue;  // not a replacement, or one already made
    }
    JournalStep();
    ReplaceFile(record.path, record.second, record.keep);
  }
  for (const Record& record : records) {
    if (record.kind == "asides") {
      JournalStep();
      std::error_code ignored;
      fs::remove_all(record.path, ignored);  // links inside are removed, never followed
    }
  }
}

}  // namespace winsim
