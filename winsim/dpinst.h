// The command line and exit status of the simulated driver package installer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace winsim {

struct InstallerOptions {
  bool silent = false;      // /s: no user interface at all
  bool quiet = false;       // /q: no messages
  bool legacyMode = false;  // /lm: unsigned packages and packages with missing files too
  bool force = false;       // /f: install even when the current driver is a better match
  std::optional<std::u16string> uninstallInf;  // /u INF
  std::optional<std::u16string> path;          // /path DIR: where the packages are
  std::u16string invalid;  // the first argument not understood, empty when all were
};

// Options are case-insensitive and start with '/' or '-'. Besides the ones above, the
// installer's other switches (/a /c /d /el /hd /p /sa /se /sh /sw) are accepted and change
// nothing here.
InstallerOptions ParseInstallerOptions(const std::vector<std::u16string>& args);

// The exit status: 0xWWXXYYZZ, with WW holding 0x80 when a package could not be installed and
// 0x40 when a restart is needed, XX the packages that could not be installed, YY those only
// copied to the driver store (no device uses them), ZZ those installed on a device. Each count
// stops at 0xFF.
orv::DWORD InstallerExitStatus(unsigned installed, unsigned storeOnly, unsigned failed,
                               bool restart);

}  // namespace winsim
