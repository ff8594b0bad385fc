// A simulated machine on disk: DIR/registry.reg (the whole registry) and DIR/drive_c (drive C:),
// or an offline Windows installation: DIR/Windows/System32/config/SYSTEM and SOFTWARE (the
// registry) and DIR itself (drive C:).
// A run locks the directory, loads the registry, and saves it back atomically.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "winsim/drive_changes.h"
#include "winsim/registry.h"

namespace winsim {

class HiveImage;

// The registry image of a machine folder.
inline constexpr const char* kImageName = "registry.reg";

// Told, one line at a time, of what a load that only reads takes as it is: a hive that Windows
// did not close cleanly, whose logs may hold changes that are then not shown.
using ReadNotice = std::function<void(const std::string&)>;

// A machine that cannot be used: the file, the line (0 when not about one line) and the problem.
// what() is the one-line message "FILE:LINE: problem" (or "FILE: problem").
class MachineError : public std::runtime_error {
 public:
  MachineError(std::filesystem::path file, int line, const std::string& problem);
  const std::filesystem::path& file() const { return file_; }
  int line() const { return line_; }

 private:
  std::filesystem::path file_;
  int line_;
};

// Holds an exclusive lock on a machine directory (DIR/.lock) for its lifetime. Throws
// MachineError when DIR is no machine (nothing is written to it then) or another run holds it.
class MachineLock {
 public:
  explicit MachineLock(const std::filesystem::path& dir);
  ~MachineLock();
  MachineLock(const MachineLock&) = delete;
  MachineLock& operator=(const MachineLock&) = delete;

 private:
  int fd_ = -1;
};

class Machine {
 public:
  ~Machine();
  // Loads DIR/registry.reg, or the hives of an offline installation in DIR (mounted as
  // HKEY_LOCAL_MACHINE\SYSTEM and \SOFTWARE; no HARDWARE tree). Throws MachineError for a missing
  // directory or image, a file in place of the directory, an image or hive that is no regular
  // file, a malformed image (with its line), a hive that cannot be read, a SYSTEM hive whose
  // current control set is unclear (a stored CurrentControlSet, a SYSTEM\Select that names no
  // control set it holds), and a hive that was not closed cleanly, unless `readOnly` is given: a
  // load only to read (winsim show, export) reads that hive as it is and tells `readOnly` so.
  static std::unique_ptr<Machine> Load(const std::filesystem::path& dir,
                                       const ReadNotice& readOnly = {});
  // A machine held only in memory (tests): the registry from an image text, drive C: in
  // `driveC` (created if missing). Save() writes nothing.
  static std::unique_ptr<Machine> FromImage(std::string_view image,
                                            const std::filesystem::path& driveC);

  // Creates a machine directory from the built-in sample, or from a .reg file or the registry of
  // an offline installation (and returns the registry it holds).
  static void CreateSample(const std::filesystem::path& dir);
  static Registry CreateFromImage(const std::filesystem::path& dir,
                                  const std::filesystem::path& regFile,
                                  const ReadNotice& notice = {});

  Registry& registry() { return registry_; }
  const Registry& registry() const { return registry_; }
  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path driveC() const { return driveC_; }

  // The run's changes to files, kept until the save says whether they stay.
  DriveChanges& changes() { return *changes_; }

  // Writes the registry back when it differs from the one that was loaded (a run that changes
  // nothing leaves the files byte for byte as they were): registry.reg as a new temporary file,
  // fsync, rename, keeping its mode; of an offline installation, each hive that differs is
  // written beside its file and renamed into place, the first original kept as
  // FILE.orvcard-backup. The run's journal commits the temporaries and the run's file changes at
  // once (winsim/journal.h). When the registry cannot be saved the changes are taken back and
  // MachineError is thrown: the run leaves nothing behind. Call it while holding the machine's
  // lock.
  void Save();
  // Makes the next Save fail as a full disk would, with `problem` (the fault sweep's failed save).
  void FailNextSave(std::string problem) { saveFailure_ = std::move(problem); }

 private:
  Machine() = default;
  std::filesystem::path dir_;
  std::filesystem::path driveC_;
  Registry registry_;
  bool onDisk_ = false;
  std::string saveFailure_;
  std::unique_ptr<DriveChanges> changes_;
  std::vector<std::unique_ptr<HiveImage>> hives_;  // of an offline installation
};

// Finishes what a run killed in the machine folder or installation `dir` left (its journal,
// winsim/journal.h): rolled back or completed. Call it holding the machine's lock, before the
// machine is loaded. Returns the one line that says what was done ("DIR: an interrupted run was
// rolled back: ..."), or an empty text when no run was interrupted. Throws MachineError for a
// journal that cannot be used (nothing is touched then).
std::string RecoverInterruptedRun(const std::filesystem::path& dir);
// The same for a command that only reads a machine (or a .reg file: nothing to do): when a
// journal is there and no run holds the lock, the lock is taken for the recovery. A machine a run
// holds is read as it stands.
std::string RecoverBeforeReading(const std::filesystem::path& machineOrFile);

// Reads the .reg file `file` (any form Machine::Load reads) into `registry`, a piece at a time.
// Throws MachineError for a file that cannot be read, is no regular file (a FIFO, a device, a
// folder: never read) or is malformed (with its line).
void ReadImageFile(const std::filesystem::path& file, Registry& registry);
// Reads the registry of a machine folder (its image, or the hives of an offline installation),
// or of a .reg file, into `registry`, as ReadImageFile and Machine::Load do; with `notice`, as a
// load only to read.
void ReadRegistry(const std::filesystem::path& machineOrFile, Registry& registry,
                  const ReadNotice& notice = {});

// Opens the trace file of a run on the machine in `machineDir` (ORVCARD_TRACE) for appending, as
// a response file is opened: created when missing, never through a link at its name, never
// blocking, a regular file only; and never one inside the machine folder or installation (its
// registry image, its hives, its drive C:) nor one of several names (a hard link). Returns the
// descriptor; throws MachineError before anything is written.
int OpenTraceFile(const std::filesystem::path& file, const std::filesystem::path& machineDir);

// Creates the folders and program files of drive C: that every machine has (Windows\inf, the
// driver store, System32\cmd.exe, Program Files\ORVEK\DPInst.exe); existing entries are kept,
// and nothing is written through a link below the folder that holds drive_c.
void CreateDriveSkeleton(const std::filesystem::path& driveC);

// The built-in sample machine's registry image (canonical text).
std::string SampleMachineImage();

// The default machine directory: $ORVCARD_MACHINE, else
// ${XDG_STATE_HOME:-$HOME/.local/state}/orvcard/machine.
std::filesystem::path DefaultMachineDir(bool* fromEnvironment);

// The machine the programs use when none is named: DefaultMachineDir(), created from the sample
// machine when it is the XDG default and holds no machine yet. `*created` tells whether this
// call created it.
std::filesystem::path PrepareDefaultMachineDir(bool* created);

}  // namespace winsim
