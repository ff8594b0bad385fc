#include "tests/programs/program_runner.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/support/sim_fixture.h"

namespace testing_support {

ProgramSandbox::ProgramSandbox() {
  std::random_device random;
  root_ = std::filesystem::temp_directory_path() /
          ("orvcard-prog-" + std::to_string(random()) + std::to_string(random()));
  std::filesystem::create_directories(work());
}

ProgramSandbox::~ProgramSandbox() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void ProgramSandbox::WriteMachine(const std::string& image) {
  std::filesystem::create_directories(machine() / "drive_c" / "Windows" / "inf");
  std::ofstream(machine() / "registry.reg", std::ios::binary)
      << "Windows Registry Editor Version 5.00\n\n"
      << image;
}

std::string ProgramSandbox::ReadFile(const std::filesystem::path& path) const {
  return ReadFileBytes(path);
}

ProgramResult ProgramSandbox::Run(const std::string& program, const std::string& arguments,
                                  bool useMachine, const std::string& extraEnvironment) const {
  const std::filesystem::path out = root_ / "stdout.txt";
  const std::filesystem::path err = root_ / "stderr.txt";
  // A run that blocks is killed, so that it fails its test rather than hang it.
  std::string command = "cd '" + work().string() + "' && timeout -s KILL 60 env ";
  if (useMachine) {
    command += "ORVCARD_MACHINE='" + machine().string() + "' ";
  } else {
    command += "-u ORVCARD_MACHINE XDG_STATE_HOME='" + (root_ / "state").string() + "' ";
  }
  command += extraEnvironment + " '" + program + "' " + arguments + " >'" + out.string() + "' 2>'" +
             err.string() + "'";
  const int raw = std::system(command.c_str());
  ProgramResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadFile(out);
  result.err = ReadFile(err);
  return result;
}

}  // namespace testing_support
