// Reading a journal that a killed run left, and recovering the machine from it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "winsim/journal.h"
#include "winsim/journal_records.h"

namespace winsim {

namespace fs = std::filesystem;
using namespace journal_records;

namespace {

// The fields of a record's line (without its checksum), split at each space.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t at = 0; at <= line.size();) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return fields;
}

}  // namespace

std::vector<Journal::Record> Journal::Read(const JournalPlace& place) {
  const FileDescriptor fd(
      ::open(place.file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (!fd.valid() || ::fstat(fd.get(), &status) != 0) {
    ThrowJournalError(place, 0, std::string("cannot read: ") + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode) || status.st_size > kLargestJournal) {
    ThrowJournalError(place, 0,
                      "is not a journal of this program (not a regular file, or too large)");
  }
  std::string text(static_cast<std::size_t>(status.st_size), '\0');
  if (::pread(fd.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
    ThrowJournalError(place, 0, std::string("cannot read: ") + std::strerror(errno));
  }
  std::vector<Record> records;
  RecordSet earlier;
  if (!text.starts_with(kHeader)) {
    if (!std::string_view(kHeader).starts_with(text)) {  // else torn while being made
      ThrowJournalError(place, 1, "is not a journal of this program");
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
                       LineChecksum(line.substr(0, space)) == line.substr(space + 1);
    if (!whole) {
      if (last) {
        break;  // torn: its change was never begun
      }
      ThrowJournalError(place, lineNumber, "a record is damaged");
    }
    records.push_back(Parse(place, line.substr(0, space), earlier, lineNumber));
    earlier.emplace(records.back().kind, records.back().path);
  }
  return records;
}

Journal::Record Journal::Parse(const JournalPlace& place, std::string_view line,
                               const RecordSet& earlier, int lineNumber) {
  const std::vector<std::string_view> fields = Fields(line);
  Record record{std::string(fields[0])};
  bool sound = true;
  const auto path = [&](std::size_t index) {
    std::string text;
    sound = sound && index < fields.size() && Unescape(fields[index], &text) && CleanRelative(text);
    return sound ? Normal(place.root / text) : fs::path();
  };
  const auto recorded = [&](const char* kind, const fs::path& wanted) {
    return earlier.count({kind, wanted}) != 0;
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
    ThrowJournalError(place, lineNumber, "a record names what no run of this program changes");
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
