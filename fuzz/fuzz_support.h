// Helpers shared by the fuzz targets: checks that stop the run, UTF-16 text of an input, and a
// simulated machine in a private temporary folder whose registry is reloaded for every input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "winsim/machine.h"
#include "winsim/sim_windows.h"

namespace fuzzing {

// A broken invariant: libFuzzer saves the input and stops.
inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
  }
}

// The input as UTF-16LE units; an odd last byte is dropped.
inline std::u16string Utf16Of(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

// True when a Windows path text could reach drive Z: (the host's root) of the simulated machine.
// The targets that hand fuzzed paths to the machine leave such inputs out, so that a run never
// writes outside its own drive C:.
// Bytes count as both 8-bit and UTF-16LE text.
inline bool NamesHostDrive(std::u16string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if ((text[i] == u'z' || text[i] == u'Z') && text[i + 1] == u':') {
      return true;
    }
  }
  return false;
}
inline bool NamesHostDrive(std::string_view bytes) {
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
    const bool z = bytes[i] == 'z' || bytes[i] == 'Z';
    if (z && (bytes[i + 1] == ':' ||
              (i + 3 < bytes.size() && bytes[i + 1] == 0 && bytes[i + 2] == ':'))) {
      return true;
    }
  }
  return false;
}

// A machine whose drive C: lives in a fresh temporary folder (removed at exit) and whose
// registry is loaded from `image` again for every input.
class FuzzMachine {
 public:
  explicit FuzzMachine(std::string image) : image_(std::move(image)) {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvcard-fuzz-XXXXXX").string();
    Check(::mkdtemp(pattern.data()) != nullptr, "cannot create the machine folder");
    root_ = pattern;
    winsim::CreateDriveSkeleton(driveC());
    std::filesystem::create_directories(driveC() / "work");
  }
  FuzzMachine(const FuzzMachine&) = delete;
  FuzzMachine& operator=(const FuzzMachine&) = delete;
  ~FuzzMachine() {
    api_.reset();
    machine_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::filesystem::path driveC() const { return root_ / "drive_c"; }

  // A new machine and seam: the registry as the image has it, the files as the last input left
  // them, the current directory C:\work.
  winsim::SimWindows& Fresh() {
    api_.reset();
    machine_ = winsim::Machine::FromImage(image_, driveC());
    winsim::SimOptions options;
    options.currentDirectory = u"C:\\work";
    api_ = std::make_unique<winsim::SimWindows>(*machine_, options);
    return *api_;
  }
  winsim::Machine& machine() { return *machine_; }

 private:
  std::string image_;
  std::filesystem::path root_;
  std::unique_ptr<winsim::Machine> machine_;
  std::unique_ptr<winsim::SimWindows> api_;
};

}  // namespace fuzzing
