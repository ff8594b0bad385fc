#include "winsim/difx_store.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/text.h"

namespace winsim {

namespace fs = std::filesystem;
using orv::DWORD;

namespace {

// A stable 64-bit hash of the INF's bytes (FNV-1a), as 16 lower-case hex digits.
std::u16string ContentHash(std::string_view bytes) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (char c : bytes) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return orv::Utf8ToUtf16(text);
}

std::u16string Lower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower) {
    if (c >= u'A' && c <= u'Z') {
      c = static_cast<char16_t>(c + 32);
    }
  }
  return lower;
}

bool StartsWithName(std::u16string_view text, std::u16string_view head) {
  return text.size() >= head.size() && SameName(text.substr(0, head.size()), head);
}

// A path that stays inside the package folder: relative, without a drive and without "..".
bool StaysInFolder(std::u16string_view relative) {
  if (relative.empty() || relative.find(u':') != std::u16string_view::npos ||
      relative[0] == u'\\' || relative[0] == u'/') {
    return false;
  }
  while (!relative.empty()) {
    const std::size_t cut = relative.find_first_of(u"\\/");
    if (relative.substr(0, cut) == u"..") {
      return false;
    }
    relative = cut == std::u16string_view::npos ? std::u16string_view() : relative.substr(cut + 1);
  }
  return true;
}

// A path relative to the package folder, as a host path.
fs::path RelativeHostPath(std::u16string_view relative) {
  std::string text = orv::Utf16ToUtf8(relative);
  std::replace(text.begin(), text.end(), '\\', '/');
  return fs::path(text);
}

bool IsFile(const fs::path& host) {
  std::error_code error;
  return fs::is_regular_file(host, error);
}

}  // namespace

DifxStore::DifxStore(const FileSpace& files, DriveChanges& changes, StoreIndex& index,
                     std::u16string windowsDirectory, std::u16string architecture)
    : files_(files),
      changes_(changes),
      index_(index),
      windowsDirectory_(std::move(windowsDirectory)),
      architecture_(Lower(architecture)) {}

std::u16string DifxStore::StoreFolder() const {
  return windowsDirectory_ + u"\\System32\\DriverStore\\FileRepository";
}

std::u16string DifxStore::InfFolder() const {
  return windowsDirectory_ + u"\\inf";
}

std::optional<fs::path> DifxStore::Host(std::u16string_view windowsPath) const {
  return files_.Resolve(windowsPath);
}

DWORD DifxStore::Read(std::u16string_view infPath, DriverPackage* package) const {
  package->path = files_.FullPath(infPath);
  const std::optional<fs::path> host = files_.HostPath(package->path);
  if (!host) {
    return orv::ERROR_PATH_NOT_FOUND;
  }
  package->host = *host;
  std::error_code error;
  if (!fs::exists(*host, error)) {
    return orv::ERROR_FILE_NOT_FOUND;
  }
  std::optional<std::string> bytes =
      fs::is_directory(*host, error) ? std::nullopt : ReadFileBytes(*host);
  if (!bytes) {
    return orv::ERROR_ACCESS_DENIED;
  }
  package->bytes = std::move(*bytes);
  return Inf::Parse(package->bytes, &package->inf);
}

std::optional<std::u16string> DifxStore::CatalogName(const DriverPackage& package) const {
  // The entry decorated for this architecture wins over the plain ones.
  for (const std::u16string& key :
       {u"CatalogFile.NT" + architecture_, std::u16string(u"CatalogFile.NT"),
        std::u16string(u"CatalogFile")}) {
    std::optional<std::u16string> catalog = package.inf.Value(u"Version", key);
    // A catalog lies beside its INF: a name with a folder names none.
    if (catalog && !catalog->empty()) {
      return catalog->find_first_of(u"\\/:") == std::u16string::npos ? catalog : std::nullopt;
    }
  }
  return std::nullopt;
}

DWORD DifxStore::CheckSignature(const DriverPackage& package) const {
  const std::optional<std::u16string> catalog = CatalogName(package);
  if (!catalog) {
    return orv::TRUST_E_NOSIGNATURE;
  }
  const std::optional<fs::path> host =
      Host(std::u16string(ParentPath(package.path)) + u"\\" + *catalog);
  if (!host || !IsFile(*host)) {
    return orv::TRUST_E_NOSIGNATURE;
  }
  std::error_code error;
  return fs::file_size(*host, error) == 0 ? orv::ERROR_INVALID_CATALOG_DATA : 0;
}

std::optional<DifxStore::Entry> DifxStore::Find(const DriverPackage& package) const {
  const std::optional<fs::path> store = Host(StoreFolder());
  FolderIndex& folders = index_.packageFolders;
  if (!store || !folders.Refresh(*store)) {
    return std::nullopt;
  }
  std::u16string hashTail = u"_";
  hashTail += ContentHash(package.bytes);
  const std::u16string ownPrefix = Lower(LastComponent(package.path)) + u"_";
  std::optional<Entry> found;
  for (const FolderIndex::Entry* folder : folders.EndingWith(hashTail)) {
    if (!folder->directory) {
      continue;
    }
    const std::u16string folderPath = StoreFolder() + u"\\" + folder->name;
    const std::optional<std::vector<DirEntry>> files =
        ListDirectory(*store / orv::Utf16ToUtf8(folder->name));
    for (const DirEntry& file : files.value_or(std::vector<DirEntry>{})) {
      if (file.directory || !MatchesWildcard(u"*.inf", file.name) ||
          ReadFileBytes(*store / orv::Utf16ToUtf8(folder->name) / orv::Utf16ToUtf8(file.name)) !=
              package.bytes) {
        continue;
      }
      const Entry entry{folder->name, file.name};
      // The entry the path names itself, else the one named after the INF, else the first.
      if (SameName(ParentPath(package.path), folderPath)) {
        return entry;
      }
      if (!found ||
          (StartsWithName(folder->name, ownPrefix) && !StartsWithName(found->folder, ownPrefix))) {
        found = entry;
      }
    }
  }
  return found;
}

std::optional<std::u16string> DifxStore::PublishedName(const DriverPackage& package) const {
  const std::optional<fs::path> infFolder = Host(InfFolder());
  FolderIndex& infs = index_.publishedInfs;
  if (!infFolder || !infs.Refresh(*infFolder)) {
    return std::nullopt;
  }
  std::optional<std::u16string> found;
  for (const FolderIndex::Entry* entry : infs.WithBytesOf(package.bytes)) {
    if (ReadFileBytes(*infFolder / orv::Utf16ToUtf8(entry->name)) != package.bytes) {
      continue;
    }
    if (SameName(InfFolder() + u"\\" + entry->name, package.path)) {
      return entry->name;
    }
    if (!found) {
      found = entry->name;
    }
  }
  return found;
}

DWORD DifxStore::Install(std::u16string_view infPath, DWORD flags) {
  DriverPackage package;
  if (DWORD status = Read(infPath, &package); status != 0) {
    return status;
  }
  const bool legacy = (flags & orv::DRIVER_PACKAGE_LEGACY_MODE) != 0;
  if (DWORD status = CheckSignature(package); status != 0 && !legacy) {
    return status;
  }
  std::vector<std::u16string> members;
  if (DWORD status = CollectMembers(package, legacy, &members); status != 0) {
    return status;
  }
  if (DWORD status = CopyIntoStore(package, members); status != 0) {
    return status;
  }
  return Publish(package);
}

DWORD DifxStore::CollectMembers(const DriverPackage& package, bool legacy,
                                std::vector<std::u16string>* members) const {
  const std::u16string packageFolder(ParentPath(package.path));
  *members = {std::u16string(LastComponent(package.path))};
  if (const std::optional<std::u16string> catalog = CatalogName(package)) {
    const std::optional<fs::path> host = Host(packageFolder + u"\\" + *catalog);
    if (host && IsFile(*host)) {
      members->push_back(*catalog);
    }
  }
  for (const std::u16string& section :
       {std::u16string(u"SourceDisksFiles"), u"SourceDisksFiles." + architecture_}) {
    for (const InfLine& line : package.inf.Lines(section)) {
      const std::u16string name(line.key().empty() ? line.Field(0) : line.key());
      const std::u16string_view subdir = line.Field(1);
      const std::u16string member = subdir.empty() ? name : std::u16string(subdir) + u"\\" + name;
      // A file outside the package's folder is no part of it.
      const std::optional<fs::path> host =
          StaysInFolder(member) ? Host(packageFolder + u"\\" + member) : std::nullopt;
      if (host && IsFile(*host)) {
        members->push_back(member);
      } else if (!legacy) {
        return orv::ERROR_MISSING_FILE;
      }
    }
  }
  return 0;
}

DWORD DifxStore::CopyIntoStore(const DriverPackage& package,
                               const std::vector<std::u16string>& members) {
  if (Find(package)) {
    return 0;
  }
  const Entry entry{
      Lower(LastComponent(package.path)) + u"_" + architecture_ + u"_" + ContentHash(package.bytes),
      std::u16string(LastComponent(package.path))};
  // The folder's name as it is, should an entry of that name without regard to case be there.
  const std::optional<fs::path> store = Host(StoreFolder());
  if (!store) {
    return orv::ERROR_PATH_NOT_FOUND;
  }
  FolderIndex& folders = index_.packageFolders;
  const FolderIndex::Entry* existing =
      folders.Refresh(*store) ? folders.Named(entry.folder) : nullptr;
  const fs::path target = *store / orv::Utf16ToUtf8(existing ? existing->name : entry.folder);
  // A copy that cannot be made completely is taken back.
  const std::u16string packageFolder(ParentPath(package.path));
  std::vector<std::string> contents;
  std::vector<std::pair<fs::path, std::string_view>> files;
  contents.reserve(members.size());
  for (const std::u16string& member : members) {
    std::optional<std::string> bytes = ReadFileBytes(*Host(packageFolder + u"\\" + member));
    if (!bytes) {
      return orv::ERROR_ACCESS_DENIED;
    }
    contents.push_back(std::move(*bytes));
    files.emplace_back(target / RelativeHostPath(member), contents.back());
  }
  const std::size_t mark = changes_.Mark();
  if (changes_.WriteFiles(files) != 0) {
    changes_.TakeBackTo(mark);
    return orv::ERROR_ACCESS_DENIED;
  }
  return 0;
}

DWORD DifxStore::Publish(const DriverPackage& package) {
  if (PublishedName(package)) {
    return 0;
  }
  const std::optional<fs::path> infFolder = Host(InfFolder());
  if (!infFolder || changes_.MakeFolders(*infFolder) != 0) {
    return orv::ERROR_PATH_NOT_FOUND;
  }
  FolderIndex& infs = index_.publishedInfs;
  const unsigned number = infs.Refresh(*infFolder) ? infs.LowestFreeOemNumber() : 0;
  const std::u16string name = u"oem" + orv::Utf8ToUtf16(std::to_string(number)) + u".inf";
  return changes_.WriteFile(*infFolder / orv::Utf16ToUtf8(name), package.bytes) == 0
             ? 0
             : orv::ERROR_ACCESS_DENIED;
}

DWORD DifxStore::ReadStored(std::u16string_view infPath, DriverPackage* package,
                            Entry* entry) const {
  if (DWORD status = Read(infPath, package); status != 0) {
    return status;
  }
  const std::optional<Entry> found = Find(*package);
  if (!found) {
    return orv::ERROR_DRIVER_PACKAGE_NOT_IN_STORE;
  }
  *entry = *found;
  return 0;
}

DWORD DifxStore::Uninstall(std::u16string_view infPath, DWORD /*flags*/) {
  // DRIVER_PACKAGE_DELETE_FILES would also remove the binaries copied out of the store at
  // install time; the simulated install copies none, so every flag removes the same.
  DriverPackage package;
  Entry stored;
  if (DWORD status = ReadStored(infPath, &package, &stored); status != 0) {
    return status;
  }
  const std::optional<std::u16string> published = PublishedName(package);
  const int storeError = changes_.Remove(*Host(StoreFolder() + u"\\" + stored.folder));
  const int infError = published ? changes_.Remove(*Host(InfFolder() + u"\\" + *published)) : 0;
  return storeError != 0 || infError != 0 ? orv::ERROR_ACCESS_DENIED : 0;
}

DWORD DifxStore::StorePath(std::u16string_view infPath, std::u16string* storeInf) const {
  DriverPackage package;
  Entry entry;
  if (DWORD status = ReadStored(infPath, &package, &entry); status != 0) {
    return status;
  }
  *storeInf = StoreFolder() + u"\\" + entry.folder + u"\\" + entry.infName;
  return 0;
}

std::vector<std::u16string> DifxStore::StoredInfs() const {
  std::vector<std::u16string> infs;
  const std::optional<fs::path> store = Host(StoreFolder());
  for (const DirEntry& folder :
       (store ? ListDirectory(*store) : std::nullopt).value_or(std::vector<DirEntry>{})) {
    const std::optional<std::vector<DirEntry>> files =
        folder.directory ? ListDirectory(*store / orv::Utf16ToUtf8(folder.name)) : std::nullopt;
    for (const DirEntry& file : files.value_or(std::vector<DirEntry>{})) {
      if (!file.directory && MatchesWildcard(u"*.inf", file.name)) {
        infs.push_back(StoreFolder() + u"\\" + folder.name + u"\\" + file.name);
      }
    }
  }
  return infs;
}

}  // namespace winsim
