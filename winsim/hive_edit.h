// Edits of a hive file's bytes that hivex makes too slowly: removing many keys in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace winsim {

// A key to remove with its tree: the cells of the key and of its parent as hivex's node handles
// give them (file offsets of the cells).
struct KeyRemoval {
  std::size_t parent;
  std::size_t node;
};

// Removes `removals` from the hive `bytes` (the file `file`): each parent's subkey lists lose the
// removed entries (a list left empty is freed, an index entry naming it goes, an index left empty
// is freed) and the parent's subkey count drops; every cell of the removed trees is freed: keys,
// value lists, values, their data (big data with its segment list and segments), class names and
// subkey lists; a security descriptor loses one reference per removed key, and one left with none
// is taken off the ring of descriptors and freed. Time linear in the parents' lists and the
// removed trees (and n log n in the removals). Throws MachineError, naming `file` and the cell,
// at anything that is not as a hive holds it (the bytes then half edited).
void RemoveKeys(const std::filesystem::path& file, std::span<std::uint8_t> bytes,
                std::vector<KeyRemoval> removals);

// The bytes of an open file, mapped (shared: writes reach the file) until this goes.
class MappedFile {
 public:
  // Throws MachineError naming `file` when the file cannot be mapped.
  MappedFile(const std::filesystem::path& file, int fd, bool writable);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<std::uint8_t> bytes() const { return {data_, size_}; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace winsim
