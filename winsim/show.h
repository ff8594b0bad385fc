// A readable summary of a simulated machine, for `winsim show`: what the tool reads and changes.
#pragma once

#include <string>

#include "winsim/machine.h"

namespace winsim {

// The Windows version, the devices, the parallel-port map, the reserved COM numbers, the
// uninstall record and the driver store, as stable text (LF line ends) that can be compared
// before and after a run. Reads only; changes nothing.
std::string ShowMachine(const Machine& machine);

}  // namespace winsim
