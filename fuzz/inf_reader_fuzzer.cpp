// The simulated machine's INF reader, alone and as the driver store uses it: any bytes parse
// to one of the reader's statuses, and a package made of them installs and uninstalls through
// the seam, leaving the driver store as empty as it was.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "winsim/inf.h"

namespace {

namespace fs = std::filesystem;

// The statuses the store documents for a package it cannot install.
const std::set<orv::DWORD> kInstallStatuses = {0,          orv::ERROR_FILE_NOT_FOUND,
                                               3,          orv::ERROR_ACCESS_DENIED,
                                               0xE0000003, 0xE0000100,
                                               0x800B0100, 0xE0000304,
                                               0xE0000303};

// The sample machine with a package folder C:\work holding a catalog and a driver file that a
// fuzzed INF can name.
fuzzing::FuzzMachine& PackageMachine() {
  using fuzzing::Check;
  static fuzzing::FuzzMachine machine(winsim::SampleMachineImage());
  static const bool ready = [] {
    std::ofstream(machine.driveC() / "work" / "orvser.cat") << "#winsim-catalog orvser.inf\n";
    std::ofstream(machine.driveC() / "work" / "orvser.sys") << "#winsim-driver orvser\n";
    return true;
  }();
  Check(ready, "machine set up");
  return machine;
}

bool StoreIsEmpty(const fs::path& driveC) {
  const fs::path store = driveC / "Windows/System32/DriverStore/FileRepository";
  return fs::is_empty(store);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzzing::Check;
  if (size < 1) {
    return 0;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  winsim::Inf inf;
  const orv::DWORD status = winsim::Inf::Parse(bytes, &inf);
  Check(status == 0 || status == winsim::ERROR_GENERAL_SYNTAX ||
            status == winsim::ERROR_WRONG_INF_STYLE,
        "Inf::Parse status");
  Check(status != 0 || inf.Value(u"Version", u"Signature").has_value(),
        "a parsed INF without its signature");
  for (const std::u16string& id : inf.DeviceIds()) {
    Check(!id.empty(), "an empty device identifier");
  }
  for (const winsim::InfLine& line : inf.Lines(u"Strings")) {
    for (std::size_t i = 0; i < line.FieldCount(); ++i) {
      inf.Substitute(line.Field(i));
    }
  }

  if (fuzzing::NamesHostDrive(bytes)) {
    return 0;  // a file list naming the host's drive would copy host files
  }
  fuzzing::FuzzMachine& machine = PackageMachine();
  std::ofstream(machine.driveC() / "work" / "pkg.inf", std::ios::binary) << bytes;
  winsim::SimWindows& api = machine.Fresh();
  const orv::DWORD flags = (data[0] & 1) != 0 ? orv::DRIVER_PACKAGE_LEGACY_MODE : 0;
  orv::BOOL reboot = orv::FALSE;
  const orv::DWORD installed =
      api.DriverPackageInstallW(u"C:\\work\\pkg.inf", flags, nullptr, &reboot);
  Check(kInstallStatuses.count(installed) == 1, "an undocumented install status");
  orv::WCHAR storePath[orv::MAX_PATH] = {};
  orv::DWORD storeChars = orv::MAX_PATH;
  const orv::DWORD path = api.DriverPackageGetPathW(u"C:\\work\\pkg.inf", storePath, &storeChars);
  Check((installed == 0) == (path == 0), "a stored package without a store path, or the reverse");
  const orv::DWORD removed = api.DriverPackageUninstallW(
      u"C:\\work\\pkg.inf", orv::DRIVER_PACKAGE_DELETE_FILES, nullptr, &reboot);
  Check((installed == 0) == (removed == 0), "a stored package that does not uninstall");
  Check(StoreIsEmpty(machine.driveC()), "the uninstall left the store behind");
  Check(api.OpenHandleCount() == 0, "a handle left open");
  return 0;
}
