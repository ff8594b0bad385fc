// A simulated machine in memory for the unit tests: a registry image, a temporary drive C:,
// and the seam over them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "tests/support/owned_folder.h"
#include "winsim/machine.h"
#include "winsim/sim_windows.h"

namespace testing_support {

// A traced call as the checks compare it, field by field: the function, its arguments and its
// result as the trace gives them, and the device instance when the call is about one.
struct Call {
  std::string api;
  std::string args = {};
  std::string result = {};
  std::string device = {};
  bool operator==(const Call&) const = default;
};
void PrintTo(const Call& call, std::ostream* out);  // for the failure messages

// The header every test image starts with.
inline constexpr const char* kImageHeader = "Windows Registry Editor Version 5.00\n\n";

class SimMachine {
 public:
  // `image` is .reg text (the header is added when missing). The current directory defaults to
  // a fresh folder on drive C: (C:\work).
  // With `x86Process`, the process is the x86 build (under WOW64 on a 64-bit machine).
  explicit SimMachine(const std::string& image, std::u16string currentDirectory = u"C:\\work",
                      bool x86Process = false);
  ~SimMachine();

  winsim::SimWindows& api() { return *api_; }
  winsim::Machine& machine() { return *machine_; }
  winsim::Registry& registry() { return machine_->registry(); }
  const std::filesystem::path& driveC() const { return driveC_; }

  // HKEY_LOCAL_MACHINE\path, or null.
  winsim::RegKey* Key(std::u16string_view path);
  // The data of a value below HKEY_LOCAL_MACHINE as bytes, or as text without its terminator;
  // empty when missing.
  std::vector<std::uint8_t> Bytes(std::u16string_view keyPath, std::u16string_view value);
  std::u16string Text(std::u16string_view keyPath, std::u16string_view value);
  bool HasValue(std::u16string_view keyPath, std::u16string_view value);

  // Writes a file on drive C: (path relative to drive_c, forward slashes).
  void WriteFile(const std::string& relativePath, const std::string& bytes);

  // The traced calls, one line each, optionally only those of the named functions.
  std::vector<std::string> Calls(const std::vector<std::string>& apis = {}) const;
  // The same calls field by field.
  std::vector<Call> CallsTo(const std::vector<std::string>& apis = {}) const;

 private:
  std::filesystem::path driveC_;
  std::unique_ptr<winsim::Machine> machine_;
  std::unique_ptr<winsim::SimWindows> api_;
};

// A traced call reduced to its function and device: "SetupDiRemoveDevice LPTENUM\X\0001" (just
// the function name when the call names no device); CallSteps does so for each call of the named
// functions.
std::string StepOf(const Call& call);
std::vector<std::string> CallSteps(const SimMachine& sim, const std::vector<std::string>& apis);

// A fresh folder below the system's temporary folder, its name starting with `prefix`; removed
// with all it holds when the object goes.
class TempFolder : public OwnedFolder {
 public:
  explicit TempFolder(const std::string& prefix);
};

// While it lives, files this process writes cannot grow beyond `bytes` (as `ulimit -f` sets),
// and a write past that fails with EFBIG instead of raising SIGXFSZ: a full disk, for one process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  std::uint64_t before_;
  void (*handler_)(int);
};

// UTF-16 text of a byte vector that holds UTF-16LE (up to the first terminator).
std::u16string TextOf(const std::vector<std::uint8_t>& bytes);

// Value data as a vector, to compare with expected bytes.
std::vector<std::uint8_t> BytesOf(std::span<const std::uint8_t> data);

// The bytes of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

// A registry image whose Environment key (Control\Session Manager\Environment) holds `values`,
// lines of .reg text.
std::string EnvironmentImage(const std::string& values);

// The sample driver packages and installers of the source tree.
std::filesystem::path SamplePackages();
// The driver store's folder, relative to drive C:.
inline constexpr const char* kDriverStore = "Windows/System32/DriverStore/FileRepository";

// Every key (full path), value name, type and data of a registry, in enumeration order: equal
// texts mean equal registries.
std::string DumpRegistry(const winsim::Registry& registry);

}  // namespace testing_support
