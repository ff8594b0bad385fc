// A hive written beside its file, its removed keys taken out of the written bytes, and put in
// the file's place (at the commit of the run's journal).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "winsim/file_safety.h"
#include "winsim/hive_edit.h"
#include "winsim/hive_image.h"
#include "winsim/hivex_types.h"
#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;

fs::path HiveImage::WriteBeside(Journal& journal) {
  fs::path written;
  std::string prefix = ".";  // appended, not concatenated: GCC 12 at -O3 warns of a false overlap
  prefix += file_.filename().string();
  prefix += '.';
  FileDescriptor fd = journal.CreateTemporary(file_, prefix, mode_, &written);
  if (!fd.valid()) {
    throw MachineError(file_.parent_path(), 0, HivexProblem("cannot create a temporary hive"));
  }
  const auto fail = [&](const std::string& problem) {
    const std::string text = HivexProblem(problem);
    fd.Close();
    ::unlink(written.c_str());
    throw MachineError(written, 0, text);
  };
  if (::fchmod(fd.get(), mode_) != 0) {
    fail("cannot set the file mode");
  }
  // hivex writes to a name: this one is the file just created, whatever its folder holds now.
  const std::string self = "/proc/self/fd/" + std::to_string(fd.get());
  if (hivex_commit(Hive(), self.c_str(), 0) != 0) {
    fail("hivex cannot write the hive");
  }
  try {
    RemoveFromWritten(fd.get(), written);
  } catch (...) {
    fd.Close();
    ::unlink(written.c_str());
    throw;
  }
  if (::fsync(fd.get()) != 0) {
    fail("cannot flush");
  }
  if (fd.Close() != 0) {
    fail("cannot close");
  }
  return written;
}

bool HiveImage::CheckBackup() const {
  const fs::path backup = file_.string() + ".orvcard-backup";
  struct stat status {};
  if (::lstat(backup.c_str(), &status) != 0) {
    if (errno != ENOENT) {
      throw MachineError(backup, 0, HivexProblem("cannot look at the backup"));
    }
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    throw MachineError(backup, 0,
                       "is not a regular file (a link, a folder or a device), so the original "
                       "hive could not be kept: nothing written; move it away first");
  }
  return true;
}

void HiveImage::RemoveFromWritten(int fd, const fs::path& written) const {
  if (removals_.empty()) {
    return;
  }
  std::vector<KeyRemoval> removals;
  for (const auto& [parent, keys] : removals_) {
    for (const auto& [name, node] : keys) {
      removals.push_back({parent, node});
    }
  }
  const MappedFile mapped(written, fd, true);
  RemoveKeys(written, mapped.bytes(), std::move(removals));
}

void HiveImage::Replace(const fs::path& written) {
  if (readBack_ < 0 || written != readBackFile_) {
    throw MachineError(written, 0, "was not read back, so it does not replace the hive");
  }
  ReplaceFile(written, file_, true);
  Replaced(written);
}

Replacement HiveImage::ReplacementBy(const fs::path& written) const {
  return Replacement{written, file_, true};
}

void HiveImage::Replaced(const fs::path& written) {
  if (readBack_ < 0 || written != readBackFile_) {
    return;
  }
  // The hive in memory is now that file, its keys in the cells they were known at: hivex reads
  // it again when it is needed.
  hivex_close(std::exchange(hive_, nullptr));
  if (replaced_ >= 0) {
    ::close(replaced_);
  }
  replaced_ = std::exchange(readBack_, -1);
  readBackFile_.clear();
  removals_.clear();
  dirty_ = false;
}

std::vector<Replacement> WriteHives(const std::vector<std::unique_ptr<HiveImage>>& hives,
                                    Journal& journal) {
  std::vector<HiveImage*> changed;
  for (const std::unique_ptr<HiveImage>& hive : hives) {
    if (hive->Update()) {
      hive->CheckBackup();  // before any hive is written
      changed.push_back(hive.get());
    }
  }
  std::vector<Replacement> replacements;
  for (HiveImage* hive : changed) {
    const fs::path written = hive->WriteBeside(journal);
    hive->ReadBack(written);
    replacements.push_back(hive->ReplacementBy(written));
  }
  return replacements;
}

void AdoptWrittenHives(const std::vector<std::unique_ptr<HiveImage>>& hives,
                       const std::vector<Replacement>& replacements) {
  for (const std::unique_ptr<HiveImage>& hive : hives) {
    for (const Replacement& replacement : replacements) {
      hive->Replaced(replacement.temporary);
    }
  }
}

}  // namespace winsim
