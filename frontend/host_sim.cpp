#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "frontend/host.h"
#include "frontend/wow64_notice.h"
#include "winsim/machine.h"
#include "winsim/sim_windows.h"

namespace orv {

namespace {

// ORVCARD_PROCESS: which build the simulated process is. Unset (or x64) is the build native to
// the machine; x86 on a 64-bit machine runs under WOW64.
bool SimulatesX86Process() {
  const char* process = std::getenv("ORVCARD_PROCESS");
  const std::string name = process == nullptr ? std::string() : std::string(process);
  if (name.empty() || name == "x64") {
    return false;
  }
  if (name == "x86") {
    return true;
  }
  throw winsim::MachineError("ORVCARD_PROCESS", 0, "is \"" + name + "\", expected x86 or x64");
}

// The folder of this program as the machine sees it (on drive Z:), empty when unknown.
std::u16string ProgramFolder(const winsim::FileSpace& files) {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::u16string() : files.WindowsPath(program.parent_path());
}

// The current folder. A backslash in a folder's Linux name would read as a separator in its
// Windows path (a\.. would fold into its parent), so the run would find its packages and write its
// response file in another folder: refused rather than guessed at.
std::filesystem::path CurrentFolder() {
  std::filesystem::path current = std::filesystem::current_path();
  if (current.string().find('\\') != std::string::npos) {
    throw winsim::MachineError(current, 0,
                               "the current folder's name holds a backslash, which a Windows "
                               "path cannot show");
  }
  return current;
}

}  // namespace

int RunOnHost(const std::function<DWORD(WindowsApi&)>& operation) {
  // Large blocks (a key's list of values, a large value's data) go back to the system as soon
  // as they are freed, rather than staying in the heap after a list outgrows them: a machine of
  // large keys then needs about what it holds.
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  try {
    const std::filesystem::path current = CurrentFolder();
    bool created = false;
    const std::filesystem::path dir = winsim::PrepareDefaultMachineDir(&created);
    if (created) {
      std::fprintf(stderr, "orvcard: created the sample machine in %s\n", dir.c_str());
    }
    winsim::MachineLock lock(dir);
    if (const std::string line = winsim::RecoverInterruptedRun(dir); !line.empty()) {
      std::fprintf(stderr, "orvcard: %s\n", line.c_str());
    }
    std::unique_ptr<winsim::Machine> machine = winsim::Machine::Load(dir);

    winsim::SimOptions options;
    options.stdoutSink = stdout;
    options.stderrSink = stderr;
    options.keepTrace = false;  // a program run only writes the trace file, if asked
    options.x86Process = SimulatesX86Process();
    std::optional<winsim::SimWindows> api;
    {
      winsim::FileSpace probe(machine->driveC(), u"C:\\");
      options.currentDirectory = probe.WindowsPath(current);
      options.programFolder = ProgramFolder(probe);
    }
    if (const char* trace = std::getenv("ORVCARD_TRACE"); trace != nullptr && *trace != 0) {
      options.traceFd = winsim::OpenTraceFile(trace, dir);  // the tracer closes it
    }
    api.emplace(*machine, options);
    WarnWhenUnderWow64(*api);
    const DWORD result = operation(*api);
    std::fflush(stdout);
    machine->Save();
    return static_cast<int>(result);
  } catch (const std::exception& error) {  // a winsim::MachineError among them
    std::fprintf(stderr, "orvcard: %s\n", error.what());
    return kExitMachineError;
  }
}

}  // namespace orv
