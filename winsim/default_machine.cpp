// Where the programs find their machine when none is named: ORVCARD_MACHINE, or a default
// folder created from the sample machine on first use.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;

fs::path DefaultMachineDir(bool* fromEnvironment) {
  const auto variable = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
  };
  if (fromEnvironment != nullptr) {
    *fromEnvironment = false;
  }
  if (std::string machine = variable("ORVCARD_MACHINE"); !machine.empty()) {
    if (fromEnvironment != nullptr) {
      *fromEnvironment = true;
    }
    return machine;
  }
  fs::path state = variable("XDG_STATE_HOME");
  if (state.empty() || !state.is_absolute()) {
    const std::string home = variable("HOME");
    if (home.empty()) {
      throw MachineError("$HOME", 0, "HOME is not set, so there is no default machine directory");
    }
    state = fs::path(home) / ".local" / "state";
  }
  return state / "orvcard" / "machine";
}

fs::path PrepareDefaultMachineDir(bool* created) {
  *created = false;
  bool fromEnvironment = false;
  fs::path dir = DefaultMachineDir(&fromEnvironment);
  if (!fromEnvironment && !fs::exists(dir / kImageName)) {
    try {
      Machine::CreateSample(dir);
      *created = true;
    } catch (const MachineError&) {
      // A run started at the same moment may have created it first; then this run uses it.
      if (!fs::exists(dir / kImageName)) {
        throw;
      }
    }
  }
  return dir;
}

}  // namespace winsim
