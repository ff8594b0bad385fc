// Runs the built programs as a user would, each in a temporary working folder with its own
// simulated machine.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

struct ProgramResult {
  int status = -1;  // exit status
  std::string out;  // standard output
  std::string err;  // standard error
};

class ProgramSandbox {
 public:
  ProgramSandbox();
  ~ProgramSandbox();

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path machine() const { return root_ / "machine"; }
  std::filesystem::path work() const { return root_ / "work"; }

  // Writes machine/registry.reg with the image (the .reg header is added) and machine/drive_c.
  void WriteMachine(const std::string& image);
  std::string ReadFile(const std::filesystem::path& path) const;

  // Runs `program arguments...` in work/ with ORVCARD_MACHINE set to machine/ (unless
  // `useMachine` is false) and `extraEnvironment` (e.g. "ORVCARD_TRACE=t.log"); killed after 60 s
  // (status 137).
  ProgramResult Run(const std::string& program, const std::string& arguments,
                    bool useMachine = true, const std::string& extraEnvironment = "") const;

 private:
  std::filesystem::path root_;
};

}  // namespace testing_support
