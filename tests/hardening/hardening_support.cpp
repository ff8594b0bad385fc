#include "tests/hardening/hardening_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>

#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "frontend/program_args.h"
#include "frontend/run_operation.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace hardening {

namespace fs = std::filesystem;

std::unique_ptr<testing_support::SimMachine> RepresentativeMachine(Start start) {
  auto sim = std::make_unique<testing_support::SimMachine>(winsim::SampleMachineImage());
  winsim::CreateDriveSkeleton(sim->driveC());
  fs::copy(testing_support::SamplePackages(), sim->driveC() / "work",
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

std::map<std::string, std::string> MachineSnapshot(const testing_support::ProgramSandbox& box) {
  std::map<std::string, std::string> entries = FolderSnapshot(box.machine());
  entries.erase(".lock");
  return entries;
}

testing_support::ProgramResult RunIn(const testing_support::ProgramSandbox& box,
                                     const fs::path& folder, const std::vector<std::string>& argv,
                                     std::uint64_t fileSizeLimit,
                                     const std::vector<std::string>& environment) {
  const fs::path out = box.root() / "out.txt";
  const fs::path err = box.root() / "err.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fileSizeLimit != 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
      args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    for (const std::string& variable : environment) {
      ::putenv(const_cast<char*>(variable.c_str()));
    }
    if (outFd < 0 || errFd < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0 ||
        ::chdir(folder.c_str()) != 0 || ::setenv("ORVCARD_MACHINE", box.machine().c_str(), 1)) {
      ::_exit(126);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  testing_support::ProgramResult result;
  int raw = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (::waitpid(child, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &raw, 0);
      ADD_FAILURE() << argv[0] << " did not end within 20 s";
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  result.out = box.ReadFile(out);
  result.err = box.ReadFile(err);
  return result;
}

void SampleWithPackages(const testing_support::ProgramSandbox& box) {
  winsim::Machine::CreateSample(box.machine());
  fs::copy(testing_support::SamplePackages(), box.work(),
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

std::function<void()> KeepMachine(const testing_support::ProgramSandbox& box) {
  constexpr auto kCopy = fs::copy_options::recursive | fs::copy_options::copy_symlinks;
  const fs::path start = box.root() / "start";
  fs::copy(box.machine(), start, kCopy);
  return [&box, start, kCopy] {
    fs::remove_all(box.machine());
    fs::copy(start, box.machine(), kCopy);
  };
}

}  // namespace hardening
