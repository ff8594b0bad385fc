// What the simulated driver store looks up in its two folders (winsim/difx_store.h), kept from
// call to call: the entries of a folder in folder order, by name without regard to case, by the
// end of their names (the store's folders end with the hash of their INF), by the number N of a
// name oemN.inf, and the files of a pattern (oem*.inf) by a hash of their bytes. Each look first
// mends the index from what changed in the folder since the last (FolderWatch), so that a call
// costs what it looks up and what changed, not the size of the store. Without a watch the folder
// is read whole at every look.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/folder_watch.h"

namespace winsim {

// The bytes of a file, or null when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& host);

class FolderIndex {
 public:
  struct Entry {
    std::string hostName;
    std::u16string name;    // as Windows shows it
    std::u16string folded;  // FoldCase(name)
    bool directory = false;
    std::optional<std::size_t> bytesHash;  // files of the pattern that could be read
    std::optional<unsigned> oemNumber;     // N of a name oemN.inf
  };

  // The files whose names match the wildcard `hashedFiles` (none when empty) are read and
  // indexed by their bytes.
  explicit FolderIndex(std::u16string hashedFiles = {}) : hashedFiles_(std::move(hashedFiles)) {}

  // Brings the index up to date with `folder` (a host path), which the look-ups below then
  // describe; false when the folder cannot be read (the index is then empty).
  bool Refresh(const std::filesystem::path& folder);

  // The entries whose names end with `tail` without regard to case, in folder order.
  std::vector<const Entry*> EndingWith(std::u16string_view tail) const;
  // The files of the pattern whose bytes had the hash of `bytes` when last read (links and files
  // of several names are read at every look), in folder order. The caller compares the bytes.
  std::vector<const Entry*> WithBytesOf(std::string_view bytes) const;
  // The entry that `name` names without regard to case, the one of that very name first.
  const Entry* Named(std::u16string_view name) const;
  // The lowest N for which no entry is named oemN.inf without regard to case.
  unsigned LowestFreeOemNumber() const;

 private:
  using OrderKey = std::pair<std::u16string, std::string>;  // (folded name, host name)
  void Clear();
  // Enters what the folder now holds under `hostName`, if anything.
  void Describe(const std::filesystem::path& folder, const std::string& hostName);
  void Forget(const std::string& hostName);
  std::vector<const Entry*> InFolderOrder(std::vector<const Entry*> entries) const;

  std::u16string hashedFiles_;
  FolderWatch watch_;
  bool readable_ = false;
  std::map<std::string, Entry> entries_;  // by host name
  std::set<OrderKey> order_;              // folder order: names compared upper-cased
  std::set<OrderKey> reversed_;           // (folded name reversed, host name)
  std::multimap<std::size_t, std::string> byBytes_;
  std::multiset<unsigned> oemNumbers_;
  std::set<std::string> rereadEachLook_;  // links and files of several names
};

// The index of each folder of the store.
struct StoreIndex {
  FolderIndex packageFolders;              // ...\DriverStore\FileRepository
  FolderIndex publishedInfs{u"oem*.inf"};  // <Windows>\inf
};

}  // namespace winsim
