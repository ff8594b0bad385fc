#include "platform/platform_code.h"

#include <cstring>

namespace orv {

namespace {

// The architecture byte: 0x03 for x86, 0x60 for x64, 0 for any other processor.
DWORD ArchitectureBits(WORD architecture) {
  switch (architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      return kPlatformX86Bits;
    case PROCESSOR_ARCHITECTURE_AMD64:
      return kPlatformX64Bits;
    default:
      return 0;
  }
}

}  // namespace

DWORD GetPlatformCode(WindowsApi& api) {
  OSVERSIONINFOEXW version;
  std::memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  api.GetVersionExW(&version);

  SYSTEM_INFO system;
  std::memset(&system, 0, sizeof system);
  if (!api.GetNativeSystemInfo(&system)) {
    std::memset(&system, 0, sizeof system);
    api.GetSystemInfo(&system);
  }

  const DWORD major = version.dwMajorVersion;
  const DWORD minor = version.dwMinorVersion;
  const bool workstation = version.wProductType == VER_NT_WORKSTATION;
  const WORD architecture = system.wProcessorArchitecture;

  if (major == 5) {
    switch (minor) {
      case 0:
        return 0x50000003;
      case 1:
        return 0x51000003;
      case 2:
        if (architecture == PROCESSOR_ARCHITECTURE_AMD64) {
          return workstation ? 0x51000060 : 0x52000060;
        }
        return architecture == PROCESSOR_ARCHITECTURE_INTEL ? 0x52000003 : 0;
      default:
        return 0;
    }
  }
  if (major == 6) {
    DWORD versionPart = 0;
    if (minor == 0) {
      versionPart = workstation ? 0x60000000 : 0x60200800;
    } else if (minor == 1) {
      versionPart = workstation ? 0x61000000 : 0x60200800;
    }
    const DWORD bits = ArchitectureBits(architecture);
    return bits == 0 ? 0 : versionPart | bits;
  }
  return 0;
}

}  // namespace orv
