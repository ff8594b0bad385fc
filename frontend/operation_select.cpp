#include "frontend/operation_select.h"

#include "frontend/run_operation.h"
#include "platform/text.h"

namespace orv {

DWORD SelectOperation(int argumentCount, const WCHAR* const* argumentVector) {
  DWORD code = 0;
  if (argumentCount == 1) {
    code = kOpRemapParallelPorts;
  } else if (argumentCount == 2) {
    if (TextEquals(argumentVector[1], u"-RemoveDeviceNode")) {
      code = kOpReleaseAndRemoveSerialPorts;
    }
    if (TextEquals(argumentVector[1], u"-RemoveCOMdb")) {
      code |= kOpReleaseSerialPortNumbers;
    }
  }
  return code;
}

DWORD RunCommandLineEntry(WindowsApi& api, int argumentCount, const WCHAR* const* argumentVector) {
  return RunOperation(api, SelectOperation(argumentCount, argumentVector), argumentVector);
}

}  // namespace orv
