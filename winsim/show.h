// A readable summary of a simulated machine, for `winsim show`: what the tool reads and changes.
#pragma once

#include <string>

#include "winsim/machine.h"

namespace winsim {

// The Windows version, the devices, the parallel-port map, the reserved COM numbers, the
// uninstall record and the driver store, as stable text (LF line ends) that can be compared
// before and after a run, with the version and platform code the tool reads there (computed
// through the simulated platform, which only reads for them). Changes nothing.
std::string ShowMachine(Machine& machine);

// What a replay of the machine will work on: which control set is current (and whether
// CurrentControlSet is a link to it), how many device nodes the card has under
// Enum\ORVPCARD_ENUM and how many of them are present (have a Control subkey), with a note when
// the tool will find nothing to do.
std::string ReplaySummary(const Registry& registry);

}  // namespace winsim
