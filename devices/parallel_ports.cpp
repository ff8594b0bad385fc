// Placeholder so the tree links until this area is implemented.
#include "devices/parallel_ports.h"

namespace orv {
void RemapParallelPorts(WindowsApi&, const WCHAR*, const WCHAR*) {}
}  // namespace orv
