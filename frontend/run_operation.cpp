#include "frontend/run_operation.h"

#include "devices/device_removal.h"
#include "devices/display_restart.h"
#include "devices/parallel_ports.h"
#include "devices/serial_ports.h"
#include "packages/driver_packages.h"
#include "packages/driver_store.h"
#include "packages/result_codes.h"
#include "packages/vendor_cleanup.h"
#include "platform/text.h"

namespace orv {

namespace {

// The card's fixed identifiers.
constexpr const WCHAR* kSerialHardwareId = u"ORVPCARD_ENUM\\ORVPCARD_SERP";
constexpr const WCHAR* kParallelHardwareId = u"ORVPCARD_ENUM\\ORVPCARD_PARPECP";
constexpr const WCHAR* kBusEnumerator = u"ORVPCARD_ENUM";
constexpr const WCHAR* kSerialNamePrefix = u"ORVEK COM Port";
constexpr const WCHAR* kParallelNamePrefix = u"ORVEK LPT Port";

DWORD Install(WindowsApi& api) {
  api.CrtWriteStdout(u"\n  Installing driver package...\n");
  const DWORD result = MapResultCode(InstallDriverPackages(api));
  if (result == 0) {
    api.CrtWriteStdout(u"\n  Install driver success.\n");
    RecordDriverStorePaths(api, kUninstallKeyPath, kProductKeyName);
  } else {
    api.CrtWriteStdout(u"\n  Install driver fail.\n");
    UninstallDriverPackages(api);  // rollback; its outcome is not reported
  }
  return result;
}

DWORD Uninstall(WindowsApi& api) {
  api.CrtWriteStdout(u"\n  Uninstalling driver package...\n");
  const DWORD result = MapResultCode(UninstallDriverPackages(api));
  api.CrtWriteStdout(result == 0 ? u"\n  Uninstall driver success.\n"
                                 : u"\n  Uninstall driver fail.\n");
  return result;
}

DWORD LaunchInstaller(WindowsApi& api) {
  return LaunchPackageInstaller(api);
}

DWORD CleanUpMapped(WindowsApi& api) {
  UninstallRecordedPackages(api, kUninstallKeyPath, kProductKeyName);
  return MapResultCode(RemoveVendorPackages(api));
}

DWORD NoOperation(WindowsApi&) {
  return 0;
}

DWORD CleanUpRaw(WindowsApi& api) {
  UninstallRecordedPackages(api, kUninstallKeyPath, kProductKeyName);
  return RemoveVendorPackages(api);
}

DWORD RenumberSerial(WindowsApi& api) {
  RenumberSerialPorts(api, kSerialHardwareId, kSerialNamePrefix);
  return 0;
}

DWORD RemoveCardDevices(WindowsApi& api) {
  ReleaseAndRemoveSerialPorts(api, kSerialHardwareId);
  RemoveDevicesByEnumerator(api, kBusEnumerator, nullptr);
  return 0;
}

DWORD RestartDisplays(WindowsApi& api) {
  RestartDisplayDevices(api);
  return 0;
}

DWORD ReleaseComNumbers(WindowsApi& api) {
  ReleaseSerialPortNumbers(api, kSerialHardwareId);
  return 0;
}

DWORD RemapParallel(WindowsApi& api) {
  RemapParallelPorts(api, kParallelHardwareId, kParallelNamePrefix);
  return 0;
}

DWORD InvalidOption(WindowsApi& api) {
  api.CrtWriteStdout(u"\n Invalid command line option.");
  return kResultInvalidOption;
}

struct Operation {
  DWORD code;
  DWORD (*run)(WindowsApi&);
};

// The operation table. A code is matched as a whole; bit 0x10 only asks for the response file.
constexpr Operation kOperations[] = {
    {kOpInstall, Install},
    {kOpInstall | kOpResponseFile, Install},
    {kOpUninstall, Uninstall},
    {kOpUninstall | kOpResponseFile, Uninstall},
    {kOpLaunchInstaller, LaunchInstaller},
    {kOpCleanUpMapped, CleanUpMapped},
    {kOpNothing, NoOperation},
    {kOpCleanUpRaw, CleanUpRaw},
    {kOpCleanUpRawAlso, CleanUpRaw},
    {kOpRenumberSerialPorts, RenumberSerial},
    {kOpReleaseAndRemoveSerialPorts, RemoveCardDevices},
    {kOpRestartDisplayDevices, RestartDisplays},
    {kOpReleaseSerialPortNumbers, ReleaseComNumbers},
    {kOpRemapParallelPorts, RemapParallel},
};

// An argument of the form -f2PATH (either letter case of f) names the response file.
const WCHAR* ResponseFilePath(const WCHAR* argument) {
  if (argument[0] == u'-' && (argument[1] == u'f' || argument[1] == u'F') && argument[2] == u'2') {
    return argument + 3;
  }
  return nullptr;
}

void AppendResponseFile(WindowsApi& api, const WCHAR* const* argumentVector, DWORD result) {
  for (int i = 1; i <= 2 && argumentVector[i] != nullptr; ++i) {
    const WCHAR* path = ResponseFilePath(argumentVector[i]);
    if (path == nullptr) {
      continue;
    }
    WCHAR pathBuffer[kResponsePathChars];
    // A path that does not fit the buffer is not written at all, rather than to a shortened
    // name; like a file that cannot be opened, it is skipped.
    if (!CopyText(pathBuffer, kResponsePathChars, path)) {
      return;
    }
    void* file = api.CrtOpenAppend(pathBuffer);
    if (file == nullptr) {
      return;
    }
    WCHAR text[64];
    FormatText(text, 64, u"[ResponseResult]\nResultCode = %d\n", {static_cast<int>(result)});
    api.CrtWriteText(file, text);
    api.CrtClose(file);
    return;
  }
}

}  // namespace

DWORD RunOperation(WindowsApi& api, DWORD operationCode, const WCHAR* const* argumentVector) {
  DWORD (*run)(WindowsApi&) = InvalidOption;
  for (const Operation& operation : kOperations) {
    if (operation.code == operationCode) {
      run = operation.run;
    }
  }
  const DWORD result = run(api);
  if ((operationCode & kOpResponseFile) != 0) {
    AppendResponseFile(api, argumentVector, result);
  }
  return result;
}

}  // namespace orv
