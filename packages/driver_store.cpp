#include "packages/driver_store.h"

#include "packages/command_runner.h"
#include "packages/inf_listing.h"
#include "packages/result_codes.h"
#include "packages/tool_status.h"
#include "platform/guards.h"
#include "platform/platform_code.h"
#include "platform/text.h"

namespace orv {

namespace {

// A driver-store path value: 261 characters, always written whole (522 bytes).
constexpr DWORD kStorePathChars = 261;
constexpr DWORD kStorePathBytes = kStorePathChars * sizeof(WCHAR);
constexpr DWORD kValueNameChars = 522;
constexpr DWORD kDriveChars = 4;  // "C:", its terminator, and one more to see a longer value

constexpr const WCHAR* kValueNameFormat = u"DriverStorePath%d";
// Runs the installer at its fixed place, silently uninstalling the package named last.
constexpr const WCHAR* kUninstallCommandFormat =
    u"\"\"%%SystemDrive%%\\Program Files\\%s\\%s\"\" /s /u %s";
constexpr const WCHAR* kInstallerFolder = u"ORVEK";
constexpr const WCHAR* kInstallerName = u"DPInst.exe";

bool OpenKey(WindowsApi& api, HKEY parent, const WCHAR* subKey, KeyGuard& key) {
  return api.RegOpenKeyExW(parent, subKey, 0, KEY_ALL_ACCESS, key.put()) == ERROR_SUCCESS;
}

// Whether the key has a value at `index`; only the name is asked for.
bool ValueAt(WindowsApi& api, HKEY key, DWORD index, WCHAR (&name)[kValueNameChars]) {
  DWORD nameChars = kValueNameChars;
  return api.RegEnumValueW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr) ==
         ERROR_SUCCESS;
}

// The recorded path goes unquoted into a command line that the interpreter parses: a character
// that the interpreter treats as an operator, a quote, an expansion or a line end would let the
// value run other commands. No driver-store path holds one.
bool IsPlainArgument(const WCHAR* text) {
  for (const WCHAR* c = text; *c != 0; ++c) {
    switch (*c) {
      case u'&':
      case u'|':
      case u'<':
      case u'>':
      case u'^':
      case u'"':
      case u'%':
        return false;
      default:
        if (*c < u' ') {
          return false;
        }
    }
  }
  return true;
}

// The uninstall command line has the interpreter expand %SystemDrive%, so the variable's value
// becomes part of an elevated command: anything but a plain drive (a letter and a colon) could
// carry operators and further commands. Unset (or empty), it is not plain either: the
// interpreter leaves an unset %SystemDrive% as literal text, which would make the installer's
// path relative to the current folder, where the packages were unpacked.
bool SystemDriveIsPlain(WindowsApi& api) {
  WCHAR drive[kDriveChars] = {};
  const DWORD chars = api.GetEnvironmentVariableW(u"SystemDrive", drive, kDriveChars);
  const bool letter =
      (drive[0] >= u'A' && drive[0] <= u'Z') || (drive[0] >= u'a' && drive[0] <= u'z');
  return chars == 2 && letter && drive[1] == u':';
}

// Every value counts, whatever its name, up to the first index that enumerates nothing.
DWORD ValueCount(WindowsApi& api, HKEY key) {
  WCHAR name[kValueNameChars];
  DWORD count = 0;
  while (ValueAt(api, key, count, name)) {
    ++count;
  }
  return count;
}

// Runs the installer to uninstall the package that DriverStorePath<index> records, then deletes
// the value. The installer's outcome does not keep the record; a record that cannot run (`canRun`
// false, or a path that could make the interpreter do more than start the installer) stays.
void UninstallRecord(WindowsApi& api, HKEY product, DWORD index, bool canRun) {
  WCHAR valueName[kValueNameChars];
  FormatText(valueName, kValueNameChars, kValueNameFormat, {static_cast<int>(index)});
  WCHAR data[kStorePathChars] = {};
  DWORD dataBytes = kStorePathBytes;
  if (api.RegQueryValueExW(product, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                           &dataBytes) != ERROR_SUCCESS) {
    return;
  }
  WCHAR storePath[kStorePathChars + 1];
  const std::size_t length = TextLength(data, dataBytes / sizeof(WCHAR));
  for (std::size_t i = 0; i < length; ++i) {
    storePath[i] = data[i];
  }
  storePath[length] = 0;
  if (!canRun || !IsPlainArgument(storePath)) {
    return;
  }
  WCHAR commandLine[kCommandLineChars];
  FormatText(commandLine, kCommandLineChars, kUninstallCommandFormat,
             {kInstallerFolder, kInstallerName, storePath});
  RunCommandLine(api, commandLine);
  api.RegDeleteValueW(product, valueName);
}

}  // namespace

DWORD RecordDriverStorePaths(WindowsApi& api, const WCHAR* uninstallKeyPath,
                             const WCHAR* productKeyName) {
  WCHAR infPath[kInfPathChars] = {};
  WIN32_FIND_DATAW findData;
  FindGuard search(api, StartInfListing(api, infPath, findData));
  if (!search.valid()) {
    return StatusOf(ToolStatus::kNoInfFiles);
  }
  KeyGuard parent(api);
  if (!OpenKey(api, HKEY_LOCAL_MACHINE, uninstallKeyPath, parent)) {
    return StatusOf(ToolStatus::kCannotOpen);
  }
  KeyGuard product(api);
  if (api.RegCreateKeyExW(parent.get(), productKeyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, product.put(), nullptr) != ERROR_SUCCESS) {
    return StatusOf(ToolStatus::kCannotOpen);
  }

  // Not cleared between packages: a shorter path leaves the tail of a longer one behind its
  // terminator, and every value is the whole buffer.
  WCHAR storePath[kStorePathChars] = {};
  DWORD combined = 0;
  DWORD index = 0;
  do {
    DWORD status = ResolveInfEntry(api, findData, infPath);
    if (status == ERROR_SUCCESS) {
      DWORD storePathChars = kStorePathChars;
      status = api.DriverPackageGetPathW(infPath, storePath, &storePathChars);
    }
    combined |= status;
    // After the first failed look-up nothing more is written, so the values stay a prefix of
    // the listing.
    if (combined == 0) {
      WCHAR valueName[kValueNameChars];
      FormatText(valueName, kValueNameChars, kValueNameFormat, {static_cast<int>(index)});
      api.RegSetValueExW(product.get(), valueName, 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(storePath), kStorePathBytes);
      ++index;
    }
  } while (api.FindNextFileW(search.get(), &findData));

  product.Close();
  parent.Close();
  return combined;
}

DWORD UninstallRecordedPackages(WindowsApi& api, const WCHAR* uninstallKeyPath,
                                const WCHAR* productKeyName) {
  KeyGuard parent(api);
  if (!OpenKey(api, HKEY_LOCAL_MACHINE, uninstallKeyPath, parent)) {
    return StatusOf(ToolStatus::kCannotOpen);
  }
  KeyGuard product(api);
  if (!OpenKey(api, parent.get(), productKeyName, product)) {
    return StatusOf(ToolStatus::kCannotOpen);
  }

  // Newest record first. Nothing runs while %SystemDrive% is not a plain drive: the values stay.
  const DWORD count = ValueCount(api, product.get());
  const bool canRun = count != 0 && SystemDriveIsPlain(api);
  for (DWORD index = count; index-- > 0;) {
    UninstallRecord(api, product.get(), index, canRun);
  }

  WCHAR valueName[kValueNameChars];
  if (!ValueAt(api, product.get(), 0, valueName)) {
    api.RegDeleteKeyW(parent.get(), productKeyName);
  }
  product.Close();
  parent.Close();
  return 0;
}

DWORD LaunchPackageInstaller(WindowsApi& api) {
  const DWORD platform = GetPlatformCode(api);
  DWORD status = StatusOf(ToolStatus::kCannotOpen);  // no installer for this processor
  if ((platform & kPlatformX86Bits) != 0) {
    status = static_cast<DWORD>(RunCommandLine(api, u"DPInst32.exe"));
  } else if ((platform & kPlatformX64Bits) != 0) {
    status = static_cast<DWORD>(RunCommandLine(api, u"DPInst64.exe"));
  }
  const DWORD result = MapResultCode(status);
  RecordDriverStorePaths(api, kUninstallKeyPath, kProductKeyName);
  return result;
}

}  // namespace orv
