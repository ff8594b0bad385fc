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

#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeader = "orvcard journal 1\n";
constexpr std::string_view kAsidePrefix = ".orvcard-removed-";
constexpr std::string_view kBackupSuffix = ".orvcard-backup";
// A journal larger than this is no run's (a run of thousands of packages writes a megabyte).
constexpr off_t kLargestJournal = 64 << 20;

std::string Hex(std::uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

// FNV-1a: enough to tell a record written whole from a torn or altered one.
std::uint64_t Checksum(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  }
  return hash;
}

// A path's bytes as one field of a line: spaces, controls and % as %XX.
std::string Escape(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7f || c == '%') {
      char code[4];
      std::snprintf(code, sizeof code, "%%%02X", byte);
      escaped += code;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool Unescape(std::string_view field, std::string* text) {
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      text->push_back(field[i]);
      continue;
    }
    const int high = i + 2 < field.size() ? HexDigit(field[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(field[i + 2]) : -1;
    if (low < 0 || high * 16 + low == 0) {
      return false;
    }
    text->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

// A path relative to the machine's folder as a record holds it: no empty, . or .. component.
bool CleanRelative(const std::string& path) {
  if (path.empty() || path.front() == '/') {
    return false;
  }
  for (std::size_t at = 0; at <= path.size();) {
    const std::size_t end = std::min(path.find('/', at), path.size());
    const std::string_view part(path.data() + at, end - at);
    if (part.empty() || part == "." || part == "..") {
      return false;
    }
    at = end + 1;
  }
  return true;
}

bool SameName(const fs::path& a, const fs::path& b) {
  const std::string x = a.string();
  const std::string y = b.string();
  return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](char p, char q) {
    return std::tolower(static_cast<unsigned char>(p)) ==
           std::tolower(static_cast<unsigned char>(q));
  });
}

// The registry's own files, their backups, the journal and the lock: no record may create,
// move or remove them (only a replacement replaces a registry file).
bool Protected(const JournalPlace& place, const fs::path& path) {
  const auto matches = [&](const fs::path& file) {
    return SameName(path, Normal(file)) ||
           SameName(path, Normal(file.string() + std::string(kBackupSuffix)));
  };
  return std::any_of(place.registryFiles.begin(), place.registryFiles.end(), matches) ||
         SameName(path, Normal(place.file)) || SameName(path, Normal(place.root / ".lock"));
}

bool InRegistryFolder(const JournalPlace& place, const fs::path& path) {
  return std::any_of(
      place.registryFiles.begin(), place.registryFiles.end(),
      [&](const fs::path& file) { return Normal(file).parent_path() == path.parent_path(); });
}

bool IsAsideFolder(const JournalPlace& place, const fs::path& path) {
  return path.parent_path() == Normal(place.root) &&
         path.filename().string().starts_with(kAsidePrefix);
}

MachineError JournalError(const JournalPlace& place, int line, const std::string& problem) {
  return MachineError(place.file, line, problem);
}

}  // namespace

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
    line += ' ' + Hex(Checksum(line)) + '\n';
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
    throw JournalError(place_, 0,
                       std::string("cannot flush the run's files: ") + std::strerror(errno));
  }
  std::vector<Record> records;
  for (const Replacement& replacement : replacements) {
    records.push_back(Record{"replace", Normal(replacement.temporary), Normal(replacement.target),
                             replacement.keepOriginal});
  }
  records.push_back(Record{"commit"});
  if (const int error = Append(std::move(records)); error != 0) {
    throw JournalError(place_, 0, std::string("cannot write: ") + std::strerror(error));
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

std::vector<Journal::Record> Journal::Read(const JournalPlace& place) {
  const FileDescriptor fd(
      ::open(place.file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0) {
    throw JournalError(place, 0, std::string("cannot read: ") + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode) || status.st_size > kLargestJournal) {
    throw JournalError(place, 0,
                       "is not a journal of this program (not a regular file, or too large)");
  }
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  if (::pread(fd.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    throw JournalError(place, 0, std::string("cannot read: ") + std::strerror(errno));
  }
  std::vector<Record> records;
  if (!text.starts_with(kHeader)) {
    if (!std::string_view(kHeader).starts_with(text)) {  // else torn while being made
      throw JournalError(place, 1, "is not a journal of this program");
    }
    return records;
  }
  int lineNumber = 1;
  for (std::size_t at = kHeader.size(); at < text.size();) {
    ++lineNumber;
    const std::size_t end = text.find('\n', at);
    const bool last = end == std::string::npos || end + 1 == text.size();
    const std::string_view line(text.data() + at,
                                (end == std::string::npos ? text.size() : end) - at);
    at = end == std::string::npos ? text.size() : end + 1;
    const std::size_t space = line.rfind(' ');
    const bool whole = end != std::string::npos && space != std::string_view::npos &&
                       Hex(Checksum(line.substr(0, space))) == line.substr(space + 1);
    if (!whole) {
      if (last) {
        break;  // torn: its change was never begun
      }
      throw JournalError(place, lineNumber, "a record is damaged");
    }
    records.push_back(Parse(place, line.substr(0, space), records, lineNumber));
  }
  return records;
}

Journal::Record Journal::Parse(const JournalPlace& place, std::string_view line,
                               const std::vector<Record>& earlier, int lineNumber) {
  std::vector<std::string_view> fields;
  for (std::size_t at = 0; at <= line.size();) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  Record record{std::string(fields[0])};
  bool sound = true;
  const auto path = [&](std::size_t index) {
    std::string text;
    sound = sound && index < fields.size() && Unescape(fields[index], &text) && CleanRelative(text);
    return sound ? Normal(place.root / text) : fs::path();
  };
  const auto recorded = [&](const char* kind, const fs::path& wanted) {
    return std::any_of(earlier.begin(), earlier.end(),
                       [&](const Record& r) { return r.kind == kind && r.path == wanted; });
  };
  const auto changeable = [&](const fs::path& entry) {
    return !Protected(place, entry) &&
           (!Below(place.driveC, entry).empty() || InRegistryFolder(place, entry));
  };
  if (record.kind == "create" && fields.size() == 2) {
    record.path = path(1);
    sound = sound && changeable(record.path);
  } else if (record.kind == "asides" && fields.size() == 2) {
    record.path = path(1);
    sound = sound && IsAsideFolder(place, record.path);
  } else if (record.kind == "aside" && fields.size() == 3) {
    record.path = path(1);
    record.second = path(2);
    const std::string number = record.second.filename().string();
    sound = sound && changeable(record.path) && recorded("asides", record.second.parent_path()) &&
            !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
  } else if (record.kind == "replace" && (fields.size() == 3 || fields.size() == 4)) {
    record.path = path(1);
    record.second = path(2);
    record.keep = fields.size() == 4 && fields[3] == "keep";
    sound = sound && (fields.size() == 3 || record.keep) && recorded("create", record.path) &&
            record.path.parent_path() == record.second.parent_path() &&
            std::any_of(place.registryFiles.begin(), place.registryFiles.end(),
                        [&](const fs::path& file) { return Normal(file) == record.second; });
  } else if (record.kind != "commit" || fields.size() != 1) {
    sound = false;
  }
  if (!sound) {
    throw JournalError(place, lineNumber, "a record names what no run of this program changes");
  }
  return record;
}

Journal::Recovered Journal::Recover(const JournalPlace& place) {
  struct stat status {};
  if (::lstat(place.file.c_str(), &status) != 0 && errno == ENOENT) {
    return Recovered::kNothing;
  }
  const std::vector<Record> records = Read(place);
  const bool committed = std::any_of(records.begin(), records.end(),
                                     [](const Record& r) { return r.kind == "commit"; });
  if (committed) {
    Finish(records);
  } else {
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
      JournalStep();
      Undo(place, *record);
    }
  }
  JournalStep();
  ::unlink(place.file.c_str());
  return committed ? Recovered::kCompleted : Recovered::kRolledBack;
}

}  // namespace winsim
