#include "winsim/machine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <utility>

#include "winsim/file_safety.h"
#include "winsim/hive_image.h"
#include "winsim/journal.h"
#include "winsim/reg_codec.h"

namespace winsim {

namespace fs = std::filesystem;

namespace {

// Temporary images are this name and six random characters.
constexpr std::string_view kTemporaryPrefix = "registry.reg.tmp";
constexpr const char* kJournalName = ".orvcard-journal";
constexpr const char* kNotRegular = "is not a regular file (a FIFO or a device), not read";

std::string Describe(const fs::path& file, int line, const std::string& problem) {
  std::string text = file.string();
  if (line > 0) {
    text += ':';
    text += std::to_string(line);
  }
  return text + ": " + problem;
}

std::string ErrnoText(int error) {
  return std::strerror(error);
}

using Sink = std::function<void(std::string_view)>;

// Writes what `produce` hands to its sink to the new temporary file `file`, open as `fd`, with
// `mode`, and flushes it to the disk. Removes it when that fails.
void WriteTemporary(FileDescriptor fd, const fs::path& file, mode_t mode, const struct stat* owner,
                    const std::function<void(const Sink&)>& produce) {
  try {
    if (::fchmod(fd.get(), mode) != 0) {
      throw MachineError(file, 0, "cannot set the mode: " + ErrnoText(errno));
    }
    if (owner != nullptr) {
      // Keeps the image's owner where this process may (a run as root on a user's machine).
      (void)::fchown(fd.get(), owner->st_uid, owner->st_gid);
    }
    produce([&](std::string_view bytes) {
      if (const int error = WriteAll(fd.get(), bytes); error != 0) {
        throw MachineError(file, 0, "cannot write: " + ErrnoText(error));
      }
    });
    if (::fsync(fd.get()) != 0) {
      throw MachineError(file, 0, "cannot flush: " + ErrnoText(errno));
    }
    if (const int error = fd.Close(); error != 0) {
      throw MachineError(file, 0, "cannot close: " + ErrnoText(error));
    }
  } catch (...) {
    ::unlink(file.c_str());
    throw;
  }
}

void WriteImage(const fs::path& image, const Registry& registry, FileDescriptor fd,
                const fs::path& temporary, mode_t mode, const struct stat* owner) {
  WriteTemporary(std::move(fd), temporary, mode, owner, [&](const Sink& sink) {
    try {
      WriteRegImage(registry, sink);
    } catch (const RegFormatError& error) {  // a name the image cannot hold
      throw MachineError(image, 0, error.what());
    }
  });
}

void SyncDirectory(const fs::path& dir) {
  if (const int error = SyncFolder(dir); error != 0) {
    throw MachineError(dir, 0, "cannot flush the directory: " + ErrnoText(error));
  }
}

// Removes the temporary images that killed runs left behind (the caller holds the lock, so no
// run is writing one). A name is removed, never what a link there points to.
void RemoveStaleTemporaries(const fs::path& dir) {
  std::error_code error;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().string().starts_with(kTemporaryPrefix)) {
      ::unlink(it->path().c_str());
    }
  }
}

// Writes the image of `registry` as the new DIR/registry.reg through a temporary file; an
// existing image is never touched.
void PublishNewImage(const fs::path& dir, const Registry& registry) {
  const fs::path image = dir / kImageName;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  std::string name = (dir / kTemporaryPrefix).string() + ".XXXXXX";
  FileDescriptor fd(::mkostemp(name.data(), O_CLOEXEC));  // exclusive, a name not to be guessed
  if (!fd.valid()) {
    throw MachineError(dir, 0, "cannot create a temporary image: " + ErrnoText(errno));
  }
  const fs::path temporary = name;
  WriteImage(image, registry, std::move(fd), temporary, 0644 & ~mask, nullptr);
  // link makes the name itself, never through a link named registry.reg, and never over an image.
  if (::link(temporary.c_str(), image.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    throw MachineError(
        image, 0,
        error == EEXIST ? "a machine already exists here" : "cannot write: " + ErrnoText(error));
  }
  ::unlink(temporary.c_str());
  SyncDirectory(dir);
}

// Writes the image of `registry` to a temporary file beside DIR/registry.reg, recorded in the
// run's journal, that replaces the image at the commit and keeps its mode and owner.
Replacement WriteReplacementImage(const fs::path& dir, const Registry& registry, Journal& journal) {
  const fs::path image = dir / kImageName;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat before {};
  const bool existed = ::stat(image.c_str(), &before) == 0;
  RemoveStaleTemporaries(dir);
  fs::path temporary;
  FileDescriptor fd =
      journal.CreateTemporary(image, std::string(kTemporaryPrefix) + ".", 0600, &temporary);
  if (!fd.valid()) {
    throw MachineError(dir, 0, "cannot create a temporary image: " + ErrnoText(errno));
  }
  WriteImage(image, registry, std::move(fd), temporary,
             existed ? before.st_mode & 07777 : 0644 & ~mask, existed ? &before : nullptr);
  return Replacement{temporary, image, false};
}

// An offline installation: a folder whose registry is its hive files, not a registry image.
bool IsOffline(const fs::path& dir) {
  std::error_code ignored;
  return !fs::exists(dir / kImageName, ignored) && IsOfflineInstallation(dir);
}

// Where the machine in `dir` keeps its journal, and what the journal may change.
JournalPlace PlaceOf(const fs::path& dir) {
  if (!IsOffline(dir)) {
    return JournalPlace{dir, dir / "drive_c", dir / kJournalName, {dir / kImageName}};
  }
  const fs::path config = InstallationPath(dir, u"Windows\\System32\\config");
  return JournalPlace{dir,
                      dir,
                      config / kJournalName,
                      {InstallationPath(dir, u"Windows\\System32\\config\\SYSTEM"),
                       InstallationPath(dir, u"Windows\\System32\\config\\SOFTWARE")}};
}

// Refuses a SYSTEM hive (`file`, mounted in `registry`) whose current control set is not the
// one SYSTEM\Select names: one stored as a key (Windows keeps CurrentControlSet as the running
// system's link, never in a hive: the run would take its copy for the real set), or a Select
// that names none the hive holds (the run would find nothing and say that all went well).
void CheckControlSets(const fs::path& file, const Registry& registry) {
  if (Registry::Open(registry.HKLM(), u"SYSTEM\\CurrentControlSet") != nullptr) {
    throw MachineError(file, 0,
                       "holds a stored CurrentControlSet key, which Windows never writes into a "
                       "hive (it is the running system's link to the current control set)");
  }
  if (const std::string problem = ControlSetSelectProblem(registry); !problem.empty()) {
    throw MachineError(file, 0, problem + ": no current control set");
  }
}

// Mounts the SYSTEM and SOFTWARE hives of the offline installation in `root`.
void ReadHives(const fs::path& root, Registry& registry,
               std::vector<std::unique_ptr<HiveImage>>& hives, const ReadNotice& readOnly) {
  for (const char16_t* name : {u"SYSTEM", u"SOFTWARE"}) {
    hives.push_back(std::make_unique<HiveImage>(
        InstallationPath(root, u"Windows\\System32\\config\\" + std::u16string(name)),
        registry.HKLM().CreateSubkey(name), readOnly));
  }
  CheckControlSets(InstallationPath(root, u"Windows\\System32\\config\\SYSTEM"), registry);
  registry.LinkControlSet();
}

// Throws MachineError unless `dir` is a folder holding a registry image (or an offline
// installation); checked before anything is written to it, so that a folder that is no machine
// is left as it was.
void CheckMachineDir(const fs::path& dir) {
  std::error_code ignored;
  const fs::file_status status = fs::status(dir, ignored);
  if (!fs::exists(status)) {
    throw MachineError(dir, 0, "no such machine directory");
  }
  if (!fs::is_directory(status)) {
    throw MachineError(dir, 0, "is a file, not a machine folder");
  }
  const fs::file_status image = fs::status(dir / kImageName, ignored);
  if (IsOffline(dir)) {
    return;
  }
  if (!fs::exists(image)) {
    throw MachineError(dir, 0, "holds no registry.reg: create a machine with winsim init DIR");
  }
  if (fs::is_directory(image)) {
    throw MachineError(dir / kImageName, 0, "is a directory, not a file");
  }
  if (!fs::is_regular_file(image)) {
    throw MachineError(dir / kImageName, 0, kNotRegular);
  }
}

void CreateMachineDir(const fs::path& dir, const Registry& registry) {
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) {
    throw MachineError(dir, 0, "cannot create the machine directory: " + error.message());
  }
  if (fs::exists(dir / kImageName)) {
    throw MachineError(dir / kImageName, 0, "a machine already exists here");
  }
  if (IsOffline(dir)) {
    throw MachineError(dir, 0,
                       "is an offline Windows installation, which the programs use as it is");
  }
  CreateDriveSkeleton(dir / "drive_c");
  PublishNewImage(dir, registry);
}

}  // namespace

void ReadImageFile(const fs::path& file, Registry& registry) {
  // Only a regular file is read: a FIFO or a device could block the run or never end. The open
  // itself never blocks, and the stream reads the very file checked.
  FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat status {};
  if (fd.get() < 0 || ::fstat(fd.get(), &status) != 0) {
    throw MachineError(file, 0,
                       errno == ENOENT ? "no such file" : "cannot read: " + ErrnoText(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    throw MachineError(file, 0, "is a directory, not a file");
  }
  if (!S_ISREG(status.st_mode)) {
    throw MachineError(file, 0, kNotRegular);
  }
  std::ifstream in("/proc/self/fd/" + std::to_string(fd.get()), std::ios::binary);
  if (!in) {
    throw MachineError(file, 0, "cannot read: " + ErrnoText(errno));
  }
  try {
    ReadRegImage(in, registry);  // a piece at a time
  } catch (const RegFormatError& error) {
    throw MachineError(file, error.line(), error.what());
  }
}

int OpenTraceFile(const fs::path& file, const fs::path& machineDir) {
  std::error_code ignored;
  const fs::path dir = fs::weakly_canonical(machineDir, ignored);
  const auto inside = [&](const fs::path& path) {
    const fs::path relative = fs::weakly_canonical(path, ignored).lexically_relative(dir);
    return !relative.empty() && *relative.begin() != "..";
  };
  const std::string what = "the trace file (ORVCARD_TRACE) ";
  if (inside(file)) {
    throw MachineError(file, 0, what + "lies in the machine folder (or installation)");
  }
  int opened = -1;
  bool created = false;
  struct stat status {};
  if (const int error = OpenForAppending(file, true, &opened, &created, &status); error != 0) {
    throw MachineError(file, 0,
                       error == ENODEV ? what + "is not a regular file (a link, a FIFO, a device)"
                                       : what + "cannot be opened: " + ErrnoText(error));
  }
  FileDescriptor fd(opened);
  // Where it really is (a folder on the way may have been a link), and no other name of a file
  // the run reads, such as a hard link to registry.reg or a hive.
  if (inside(fs::read_symlink("/proc/self/fd/" + std::to_string(fd.get()), ignored)) ||
      status.st_nlink != 1) {
    if (created) {
      ::unlink(file.c_str());
    }
    throw MachineError(file, 0, what + "lies in the machine folder or has other names");
  }
  return fd.Release();
}

MachineError::MachineError(fs::path file, int line, const std::string& problem)
    : std::runtime_error(Describe(file, line, problem)), file_(std::move(file)), line_(line) {}

MachineLock::MachineLock(const fs::path& dir) {
  CheckMachineDir(dir);
  // An offline installation gets no lock file: its folder itself is locked. A lock file is
  // never opened through a link (a dangling one would create its target), nor blocking on a FIFO.
  const bool offline = IsOffline(dir);
  const fs::path lockFile = offline ? dir : dir / ".lock";
  fd_ = offline ? ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                : ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                         0644);
  if (fd_ < 0) {
    throw MachineError(lockFile, 0,
                       errno == ELOOP ? "the lock file is a symbolic link"
                                      : "cannot open the lock file: " + ErrnoText(errno));
  }
  struct stat status {};
  if (!offline && (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) {
    ::close(fd_);
    fd_ = -1;
    throw MachineError(lockFile, 0, "the lock file is not a regular file");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    throw MachineError(lockFile, 0,
                       error == EWOULDBLOCK ? "machine is locked by another run"
                                            : "cannot lock: " + ErrnoText(error));
  }
}

MachineLock::~MachineLock() {
  if (fd_ >= 0) {
    ::close(fd_);  // releases the lock
  }
}

Machine::~Machine() = default;

std::unique_ptr<Machine> Machine::Load(const fs::path& dir, const ReadNotice& readOnly) {
  CheckMachineDir(dir);
  std::unique_ptr<Machine> machine(new Machine());
  const bool offline = IsOffline(dir);
  if (offline) {
    ReadHives(dir, machine->registry_, machine->hives_, readOnly);
  } else {
    ReadImageFile(dir / kImageName, machine->registry_);
  }
  machine->dir_ = dir;
  machine->driveC_ = offline ? dir : dir / "drive_c";
  machine->onDisk_ = true;
  machine->changes_ = std::make_unique<DriveChanges>(PlaceOf(dir));
  machine->registry_.TakeBaseline();
  return machine;
}

std::unique_ptr<Machine> Machine::FromImage(std::string_view image, const fs::path& driveC) {
  std::unique_ptr<Machine> machine(new Machine());
  try {
    ReadRegImage(image, machine->registry_);
  } catch (const RegFormatError& error) {
    throw MachineError("<image>", error.line(), error.what());
  }
  std::error_code ignored;
  fs::create_directories(driveC, ignored);
  machine->driveC_ = driveC;
  // Nothing it changes needs to outlive a power cut: its journal is not flushed.
  const fs::path journal = driveC.string() + kJournalName;
  machine->changes_ = std::make_unique<DriveChanges>(
      JournalPlace{driveC.parent_path(), driveC, journal, {}, false});
  return machine;
}

void Machine::CreateSample(const fs::path& dir) {
  CreateMachineDir(dir, ParseRegImage(SampleMachineImage()));
}

Registry Machine::CreateFromImage(const fs::path& dir, const fs::path& regFile,
                                  const ReadNotice& notice) {
  Registry registry;
  ReadRegistry(regFile, registry, notice);
  CreateMachineDir(dir, registry);
  return registry;
}

void ReadRegistry(const fs::path& machineOrFile, Registry& registry, const ReadNotice& notice) {
  std::error_code ignored;
  if (!fs::is_directory(machineOrFile, ignored)) {
    ReadImageFile(machineOrFile, registry);
  } else if (IsOffline(machineOrFile)) {
    std::vector<std::unique_ptr<HiveImage>> hives;
    ReadHives(machineOrFile, registry, hives, notice);
  } else {
    ReadImageFile(machineOrFile / kImageName, registry);
  }
}

void Machine::Save() {
  Journal& journal = changes_->journal();
  std::vector<Replacement> replacements;
  try {
    if (!saveFailure_.empty()) {
      throw MachineError(dir_ / kImageName, 0, std::exchange(saveFailure_, std::string()));
    }
    // A registry changed and changed back is as it was: its image stays as it is.
    if (onDisk_ && registry_.ChangedSinceBaseline()) {
      replacements = hives_.empty() ? std::vector{WriteReplacementImage(dir_, registry_, journal)}
                                    : WriteHives(hives_, journal);
    }
    journal.Commit(replacements);
  } catch (...) {
    changes_->TakeBack();
    throw;
  }
  changes_->Keep();
  AdoptWrittenHives(hives_, replacements);
  registry_.TakeBaseline();
}

std::string RecoverInterruptedRun(const fs::path& dir) {
  switch (Journal::Recover(PlaceOf(dir))) {
    case Journal::Recovered::kRolledBack:
      return dir.string() +
             ": an interrupted run was rolled back: the machine is as it was before that run";
    case Journal::Recovered::kCompleted:
      return dir.string() +
             ": an interrupted run was completed: the machine is as that run left it";
    case Journal::Recovered::kNothing:
      break;
  }
  return {};
}

std::string RecoverBeforeReading(const fs::path& machineOrFile) {
  std::error_code ignored;
  if (!fs::is_directory(machineOrFile, ignored) ||
      !fs::exists(fs::symlink_status(PlaceOf(machineOrFile).file, ignored))) {
    return {};
  }
  std::unique_ptr<MachineLock> lock;
  try {
    lock = std::make_unique<MachineLock>(machineOrFile);
  } catch (const MachineError&) {
    return {};  // a run holds it, and its journal: the image is read as it stands
  }
  return RecoverInterruptedRun(machineOrFile);
}

void CreateDriveSkeleton(const fs::path& driveC) {
  const fs::path root = driveC.parent_path();
  for (const char* folder : {"Windows/inf", "Windows/System32/DriverStore/FileRepository",
                             "Windows/SysWOW64", "Program Files/ORVEK"}) {
    if (const int error = MakeFoldersBelow(root, driveC / folder); error != 0) {
      throw MachineError(driveC / folder, 0, "cannot create: " + ErrnoText(error));
    }
  }
  // The simulated programs: the process simulation recognises them by their first line.
  const std::pair<const char*, const char*> kPrograms[] = {
      {"Windows/System32/cmd.exe", "#winsim-program cmd\n"},
      {"Windows/SysWOW64/cmd.exe", "#winsim-program cmd\n"},  // the one x86 programs start
      {"Program Files/ORVEK/DPInst.exe", "#winsim-program dpinst\n"}};
  for (const auto& [file, text] : kPrograms) {
    // An entry of that name, whatever it is (a link too), is kept as it is.
    if (const int error = WriteNewFile(driveC / file, text); error != 0 && error != EEXIST) {
      throw MachineError(driveC / file, 0, "cannot create: " + ErrnoText(error));
    }
  }
}

}  // namespace winsim
