// The machines the benchmark measures: a Windows 7 x64 workstation whose ORVEK cards enumerate a
// chosen number of device nodes, with the rest of a real registry around them.
#pragma once

#include <cstddef>

#include "winsim/registry.h"

namespace orvbench {

// How the device nodes of a machine divide: the card's serial and parallel ports under
// ORVPCARD_ENUM and the printers attached to those parallel ports under LPTENUM.
struct NodeCounts {
  std::size_t serialPorts = 0;
  std::size_t parallelPorts = 0;
  std::size_t printers = 0;
};
NodeCounts SplitNodes(std::size_t nodes);

// The registry of a machine with `nodes` device nodes under ORVPCARD_ENUM and LPTENUM:
// - serial ports ORVPCARD_ENUM\ORVPCARD_SERP\NNNN holding COM3 upwards (pairwise out of order)
//   and parallel ports ORVPCARD_ENUM\ORVPCARD_PARPECP\NNNN holding LPT2 upwards, four of each
//   per card, located "ORVEK COM Port k" / "ORVEK LPT Port k"; every tenth card not present;
// - printers LPTENUM\<model>\<instance>, one per card parallel port as far as they go, located
//   at that port's LPTn;
// - each with its software key under Control\Class, every COM number reserved in ComDB and one
//   parallel-port map value per parallel port;
// - a fixed system around them: other enumerators and their devices (one monitor under DISPLAY),
//   the class keys, services, version, product type, environment, installed programs and the
//   card's uninstall record with four DriverStorePath values.
winsim::Registry BuildMachineRegistry(std::size_t nodes);

}  // namespace orvbench
