// Placeholder so the tree links until this area is implemented.
#include "devices/serial_ports.h"

namespace orv {
LONG ReleaseAndRemoveSerialPorts(WindowsApi&, const WCHAR*) { return 0; }
LONG ReleaseSerialPortNumbers(WindowsApi&, const WCHAR*) { return 0; }
void RenumberSerialPorts(WindowsApi&, const WCHAR*, const WCHAR*) {}
}  // namespace orv
