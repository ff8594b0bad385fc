// The driver store of the simulated machine, kept only in files, as Windows keeps it:
//
//   <Windows>\System32\DriverStore\FileRepository\<inf name>_<arch>_<hash>\   the package copy
//   <Windows>\inf\oemN.inf                                                    the published INF
//
// <hash> is 16 hex digits of a hash of the INF's bytes, so the same INF always lands in the
// same folder, and a machine directory alone describes the store. A published oemN.inf belongs
// to the store entry whose INF has the same bytes.
//
// Statuses, chosen as real DIFx and the device installation functions give them:
//   ERROR_FILE_NOT_FOUND (2)            the INF does not exist
//   ERROR_PATH_NOT_FOUND (3)            the path is on no drive of the machine
//   ERROR_ACCESS_DENIED (5)             the INF is a folder or cannot be read
//   ERROR_GENERAL_SYNTAX (0xE0000003)   a section header without its ']'
//   ERROR_WRONG_INF_STYLE (0xE0000100)  no [Version] section, or no known Signature in it
//   TRUST_E_NOSIGNATURE (0x800B0100)    unsigned: no CatalogFile entry in [Version], or the
//                                       catalog it names is not beside the INF
//   ERROR_INVALID_CATALOG_DATA (0xE0000304)  the catalog file is empty
//   ERROR_MISSING_FILE (0xE0000303)     a file of [SourceDisksFiles] is not in the package
//   ERROR_DRIVER_PACKAGE_NOT_IN_STORE (0xE0000302)  uninstall or path of a package not stored
// DRIVER_PACKAGE_LEGACY_MODE installs unsigned packages and packages with missing files (the
// missing files are left out). Installing a package that is already stored, byte for byte,
// succeeds without a second copy and keeps its oemN.inf (published again if it was deleted).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "winsim/drive_changes.h"
#include "winsim/file_space.h"
#include "winsim/inf.h"
#include "winsim/store_index.h"

namespace winsim {

// An INF read from the file space.
struct DriverPackage {
  std::u16string path;  // full Windows path
  std::filesystem::path host;
  std::string bytes;
  Inf inf;
};

class DifxStore {
 public:
  // `windowsDirectory` is the machine's Windows directory (C:\Windows); `architecture` its
  // processor architecture (x86, AMD64, ...), which decorates the store's folder names in lower
  // case (orvser.inf_amd64_...).
  // Every change to the store goes through `changes`, so that a run can take it back. `index`
  // is what the store's look-ups keep between calls (one for the machine's run).
  DifxStore(const FileSpace& files, DriveChanges& changes, StoreIndex& index,
            std::u16string windowsDirectory, std::u16string architecture);

  // Reads and parses an INF: 0 or one of the statuses above.
  orv::DWORD Read(std::u16string_view infPath, DriverPackage* package) const;

  orv::DWORD Install(std::u16string_view infPath, orv::DWORD flags);
  orv::DWORD Uninstall(std::u16string_view infPath, orv::DWORD flags);
  // The full Windows path of the stored INF of the package.
  orv::DWORD StorePath(std::u16string_view infPath, std::u16string* storeInf) const;

  // The stored INF files (full Windows paths), in folder order.
  std::vector<std::u16string> StoredInfs() const;

 private:
  struct Entry {
    std::u16string folder;   // the entry's folder name
    std::u16string infName;  // the INF's name inside it
  };
  std::optional<Entry> Find(const DriverPackage& package) const;
  // Reads the package and finds its store entry: 0, a status of Read, or
  // ERROR_DRIVER_PACKAGE_NOT_IN_STORE.
  orv::DWORD ReadStored(std::u16string_view infPath, DriverPackage* package, Entry* entry) const;
  // The published oemN.inf with the package's bytes, preferring the package's own path.
  std::optional<std::u16string> PublishedName(const DriverPackage& package) const;
  // The catalog that [Version] names (CatalogFile.NT<arch>, CatalogFile.NT, CatalogFile).
  std::optional<std::u16string> CatalogName(const DriverPackage& package) const;
  orv::DWORD CheckSignature(const DriverPackage& package) const;
  // The three stages of an install. Members: the INF, its catalog and the files of
  // [SourceDisksFiles], by their paths relative to the INF's folder; a missing file fails the
  // install unless in legacy mode. Copy: the members into the package's store folder, unless
  // it is stored already. Publish: the INF as the lowest free oemN.inf, unless it is already.
  orv::DWORD CollectMembers(const DriverPackage& package, bool legacy,
                            std::vector<std::u16string>* members) const;
  orv::DWORD CopyIntoStore(const DriverPackage& package,
                           const std::vector<std::u16string>& members);
  orv::DWORD Publish(const DriverPackage& package);
  std::u16string StoreFolder() const;
  std::u16string InfFolder() const;
  std::optional<std::filesystem::path> Host(std::u16string_view windowsPath) const;

  const FileSpace& files_;
  DriveChanges& changes_;
  StoreIndex& index_;
  std::u16string windowsDirectory_;
  std::u16string architecture_;
};

}  // namespace winsim
