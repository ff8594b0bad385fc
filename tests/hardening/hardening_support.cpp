#include "tests/hardening/hardening_support.h"

#include <sys/stat.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "frontend/program_args.h"
#include "frontend/run_operation.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace hardening {

namespace fs = std::filesystem;

std::unique_ptr<testing_support::SimMachine> RepresentativeMachine(Start start) {
  auto sim = std::make_unique<testing_support::SimMachine>(winsim::SampleMachineImage());
  winsim::CreateDriveSkeleton(sim->driveC());
  fs::copy(fs::path(ORVCARD_SOURCE_DIR) / "samples" / "packages", sim->driveC() / "work",
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  if (start == Start::kInstalled) {
    RunCode(*sim, orv::kOpInstall);
    sim->machine().Save();  // the install's files stay, whatever a later run does
    sim->api().ClearTrace();
  }
  return sim;
}

orv::DWORD RunCode(testing_support::SimMachine& sim, orv::DWORD code) {
  orv::ArgumentVector arguments;
  arguments.Add(u"orvcard-op");
  arguments.Add(u"-f2result.ini");
  return orv::RunOperation(sim.api(), code, arguments.data());
}

std::string MachineProblems(testing_support::SimMachine& sim, std::size_t mayStayOpen) {
  std::string problems;
  if (const std::size_t open = sim.api().OpenHandleCount(); open > mayStayOpen) {
    problems += std::to_string(open) + " handle(s) left open; ";
  }
  const std::string image = winsim::WriteRegImage(sim.registry());
  try {
    if (winsim::WriteRegImage(winsim::ParseRegImage(image)) != image) {
      problems += "the registry does not read back to the same image; ";
    }
  } catch (const std::exception& error) {
    problems += std::string("the registry does not read back: ") + error.what() + "; ";
  }
  return problems;
}

std::map<std::string, std::string> FolderSnapshot(const fs::path& dir) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    struct stat status {};
    ::lstat(it->path().c_str(), &status);
    std::string what = std::to_string(status.st_mode) + " ";
    if (S_ISLNK(status.st_mode)) {
      what += "-> " + fs::read_symlink(it->path()).string();
    } else if (S_ISREG(status.st_mode)) {
      std::ifstream in(it->path(), std::ios::binary);
      what += std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    entries[it->path().lexically_relative(dir).string()] = what;
  }
  return entries;
}

}  // namespace hardening
