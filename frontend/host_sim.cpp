#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>

#include "frontend/host.h"
#include "winsim/machine.h"
#include "winsim/sim_windows.h"

namespace orv {

namespace {

// The machine directory of this run, created from the sample when it is the default one and
// does not exist yet.
std::filesystem::path PrepareMachineDir() {
  bool fromEnvironment = false;
  std::filesystem::path dir = winsim::DefaultMachineDir(&fromEnvironment);
  if (!fromEnvironment && !std::filesystem::exists(dir / "registry.reg")) {
    try {
      winsim::Machine::CreateSample(dir);
      std::fprintf(stderr, "orvcard: created the sample machine in %s\n", dir.c_str());
    } catch (const winsim::MachineError&) {
      // A run started at the same moment may have created it first; then this run uses it.
      if (!std::filesystem::exists(dir / "registry.reg")) {
        throw;
      }
    }
  }
  return dir;
}

}  // namespace

int RunOnHost(const std::function<DWORD(WindowsApi&)>& operation) {
  // Large blocks (a key's list of values, a large value's data) go back to the system as soon
  // as they are freed, rather than staying in the heap after a list outgrows them: a machine of
  // large keys then needs about what it holds.
  ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
  try {
    // A backslash in a folder's Linux name would read as a separator in its Windows path
    // (a\.. would fold into its parent), so the run would find its packages and write its
    // response file in another folder: refused rather than guessed at.
    const std::filesystem::path current = std::filesystem::current_path();
    if (current.string().find('\\') != std::string::npos) {
      throw winsim::MachineError(current, 0,
                                 "the current folder's name holds a backslash, which a Windows "
                                 "path cannot show");
    }
    const std::filesystem::path dir = PrepareMachineDir();
    winsim::MachineLock lock(dir);
    std::unique_ptr<winsim::Machine> machine = winsim::Machine::Load(dir);

    winsim::SimOptions options;
    options.stdoutSink = stdout;
    options.stderrSink = stderr;
    options.keepTrace = false;  // a program run only writes the trace file, if asked
    if (const char* trace = std::getenv("ORVCARD_TRACE"); trace != nullptr && *trace != 0) {
      options.traceFile = trace;
    }
    std::optional<winsim::SimWindows> api;
    {
      winsim::FileSpace probe(machine->driveC(), u"C:\\");
      options.currentDirectory = probe.WindowsPath(current);
    }
    api.emplace(*machine, options);
    const DWORD result = operation(*api);
    std::fflush(stdout);
    machine->Save();
    return static_cast<int>(result);
  } catch (const winsim::MachineError& error) {
    std::fprintf(stderr, "orvcard: %s\n", error.what());
    return kExitMachineError;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "orvcard: %s\n", error.what());
    return kExitMachineError;
  }
}

}  // namespace orv
