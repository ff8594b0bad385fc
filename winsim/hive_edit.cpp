#include "winsim/hive_edit.h"

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "winsim/hive_format.h"
#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;
using hive::kNoCell;

namespace {

// The cells of one hive's bytes, each checked before it is read or written.
class CellEditor {
 public:
  CellEditor(const fs::path& file, std::span<std::uint8_t> bytes) : file_(file), bytes_(bytes) {}

  // Takes `children` (cells, sorted) out of the subkey lists of the key `parent`.
  void Unlink(std::uint32_t parent, std::span<const std::uint32_t> children);
  // Frees the key `top` and every cell of its tree.
  void FreeTree(std::uint32_t top);

 private:
  [[noreturn]] void Fail(std::uint32_t cell, const std::string& problem) const {
    char at[16];
    std::snprintf(at, sizeof at, "0x%X", cell);
    throw MachineError(file_, 0, std::string("the cell at ") + at + " " + problem);
  }
  // The content of the allocated cell `cell`.
  std::span<std::uint8_t> Content(std::uint32_t cell) const {
    const std::size_t at = hive::kBaseBlockSize + static_cast<std::size_t>(cell);
    std::int32_t size = 0;
    if (cell == kNoCell || cell % 8 != 0 || at + 4 > bytes_.size()) {
      Fail(cell, "lies outside the hive");
    }
    std::memcpy(&size, bytes_.data() + at, 4);
    const std::size_t length = size < 0 ? std::size_t{0} - static_cast<std::size_t>(size) : 0;
    if (length < 8 || length > bytes_.size() - at) {
      Fail(cell, "is not an allocated cell");
    }
    return bytes_.subspan(at + 4, length - 4);
  }
  // The record of type T in the cell `cell`, which has the signature `signature` (or any, null).
  template <typename T>
  T Get(std::uint32_t cell, const char* signature) const {
    const std::optional<T> record = hive::Read<T>(Content(cell), 0);
    if (!record) {
      Fail(cell, "is too small for its record");
    }
    if constexpr (requires { record->signature; }) {
      if (signature != nullptr && !hive::Is(record->signature, signature)) {
        Fail(cell, std::string("is not the ") + signature + " record expected");
      }
    }
    return *record;
  }
  template <typename T>
  void Put(std::uint32_t cell, const T& record) {
    hive::Write(Content(cell), 0, record);
  }
  void Free(std::uint32_t cell) {
    const std::span<std::uint8_t> content = Content(cell);
    const std::int32_t size = static_cast<std::int32_t>(content.size() + 4);
    std::memcpy(content.data() - 4, &size, 4);
  }
  // The `count` offsets of 4 bytes (each the first of an entry of `entry` bytes) after a list
  // header in `cell`.
  std::span<std::uint8_t> Entries(std::uint32_t cell, std::size_t count, std::size_t entry,
                                  std::size_t header) const {
    const std::span<std::uint8_t> content = Content(cell);
    if (content.size() < header || (content.size() - header) / entry < count) {
      Fail(cell, "holds fewer entries than it counts");
    }
    return content.subspan(header, count * entry);
  }
  static std::uint32_t OffsetAt(std::span<const std::uint8_t> entries, std::size_t at) {
    std::uint32_t offset = 0;
    std::memcpy(&offset, entries.data() + at, 4);
    return offset;
  }
  // A subkey list other than an index: its header and the size of its entries.
  std::size_t LeafEntrySize(std::uint32_t list, const hive::ListHeader& header) const {
    if (hive::Is(header.signature, "lf") || hive::Is(header.signature, "lh")) {
      return sizeof(hive::HashEntry);
    }
    if (!hive::Is(header.signature, "li")) {
      Fail(list, "is not a subkey list");
    }
    return 4;
  }
  std::size_t Filter(std::uint32_t list, std::span<const std::uint32_t> children,
                     std::size_t& removed);
  void PushSubkeys(std::uint32_t list, std::vector<std::uint32_t>& pending, bool inIndex);
  void FreeValues(std::uint32_t list, std::uint32_t count);
  void FreeData(const hive::ValueKey& value);
  void Release(std::uint32_t security);

  const fs::path& file_;
  std::span<std::uint8_t> bytes_;
};

// Drops the entries of the lf, lh or li list `list` that name `children`; returns the entries
// left, adds those dropped to `removed`.
std::size_t CellEditor::Filter(std::uint32_t list, std::span<const std::uint32_t> children,
                               std::size_t& removed) {
  hive::ListHeader header = Get<hive::ListHeader>(list, nullptr);
  const std::size_t size = LeafEntrySize(list, header);
  const std::span<std::uint8_t> entries =
      Entries(list, header.count, size, sizeof(hive::ListHeader));
  std::size_t kept = 0;
  for (std::size_t i = 0; i < header.count; ++i) {
    if (std::binary_search(children.begin(), children.end(), OffsetAt(entries, i * size))) {
      ++removed;
    } else {
      std::memmove(entries.data() + kept++ * size, entries.data() + i * size, size);
    }
  }
  header.count = static_cast<std::uint16_t>(kept);
  Put(list, header);
  return kept;
}

void CellEditor::Unlink(std::uint32_t parent, std::span<const std::uint32_t> children) {
  hive::KeyNode key = Get<hive::KeyNode>(parent, "nk");
  std::size_t removed = 0;
  if (key.subkeyCount != 0) {
    hive::ListHeader header = Get<hive::ListHeader>(key.subkeyList, nullptr);
    std::size_t left = 0;
    if (hive::Is(header.signature, "ri")) {  // lists of lists: an emptied one leaves the index
      const std::span<std::uint8_t> lists =
          Entries(key.subkeyList, header.count, 4, sizeof(hive::ListHeader));
      for (std::size_t i = 0; i < header.count; ++i) {
        const std::uint32_t list = OffsetAt(lists, 4 * i);
        if (Filter(list, children, removed) == 0) {
          Free(list);
        } else {
          std::memcpy(lists.data() + 4 * left++, &list, 4);
        }
      }
      header.count = static_cast<std::uint16_t>(left);
      Put(key.subkeyList, header);
    } else {
      left = Filter(key.subkeyList, children, removed);
    }
    if (left == 0) {
      Free(key.subkeyList);
      key.subkeyList = kNoCell;
    }
  }
  if (removed != children.size() || removed > key.subkeyCount) {
    Fail(parent, "does not list each key to remove once");
  }
  key.subkeyCount -= static_cast<std::uint32_t>(removed);
  Put(parent, key);
}

// Adds the keys of the subkey list `list` to `pending` and frees the list (an index with the
// lists it names, which are never indexes themselves).
void CellEditor::PushSubkeys(std::uint32_t list, std::vector<std::uint32_t>& pending,
                             bool inIndex) {
  const hive::ListHeader header = Get<hive::ListHeader>(list, nullptr);
  const bool index = hive::Is(header.signature, "ri");
  if (index && inIndex) {
    Fail(list, "is an index inside an index");
  }
  const std::size_t size = index ? 4 : LeafEntrySize(list, header);
  const std::span<std::uint8_t> entries =
      Entries(list, header.count, size, sizeof(hive::ListHeader));
  for (std::size_t i = 0; i < header.count; ++i) {
    const std::uint32_t entry = OffsetAt(entries, i * size);
    if (index) {
      PushSubkeys(entry, pending, true);
    } else {
      pending.push_back(entry);
    }
  }
  Free(list);
}

void CellEditor::FreeTree(std::uint32_t top) {
  std::vector<std::uint32_t> pending = {top};
  while (!pending.empty()) {
    const std::uint32_t cell = pending.back();
    pending.pop_back();
    const hive::KeyNode key = Get<hive::KeyNode>(cell, "nk");
    if (key.subkeyCount != 0) {
      const std::size_t before = pending.size();
      PushSubkeys(key.subkeyList, pending, false);
      if (pending.size() - before != key.subkeyCount) {
        Fail(cell, "counts other subkeys than its lists hold");
      }
    }
    if (key.valueCount != 0) {
      FreeValues(key.valueList, key.valueCount);
    }
    if (key.security != kNoCell) {
      Release(key.security);
    }
    if (key.className != kNoCell) {
      Free(key.className);
    }
    Free(cell);  // a key reached twice fails here the second time: no cell is freed twice
  }
}

void CellEditor::FreeValues(std::uint32_t list, std::uint32_t count) {
  const std::span<std::uint8_t> values = Entries(list, count, 4, 0);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t cell = OffsetAt(values, 4 * i);
    FreeData(Get<hive::ValueKey>(cell, "vk"));
    Free(cell);
  }
  Free(list);
}

void CellEditor::FreeData(const hive::ValueKey& value) {
  const std::size_t size = value.dataSize & ~hive::kDataInline;
  if ((value.dataSize & hive::kDataInline) != 0 || size == 0) {
    return;  // no cell of its own
  }
  if (Content(value.data).size() < size) {  // in segments, listed under a big-data record
    const hive::BigData big = Get<hive::BigData>(value.data, "db");
    const std::span<std::uint8_t> segments = Entries(big.segmentList, big.segments, 4, 0);
    for (std::size_t i = 0; i < big.segments; ++i) {
      Free(OffsetAt(segments, 4 * i));
    }
    Free(big.segmentList);
  }
  Free(value.data);
}

void CellEditor::Release(std::uint32_t security) {
  hive::SecurityKey sk = Get<hive::SecurityKey>(security, "sk");
  if (sk.references == 0) {
    Fail(security, "is a security descriptor that no key references");
  }
  --sk.references;
  Put(security, sk);
  if (sk.references != 0) {
    return;
  }
  if (sk.next == security || sk.previous == security) {
    Fail(security, "is the hive's last security descriptor");
  }
  hive::SecurityKey previous = Get<hive::SecurityKey>(sk.previous, "sk");
  previous.next = sk.next;
  Put(sk.previous, previous);
  hive::SecurityKey next = Get<hive::SecurityKey>(sk.next, "sk");  // read after: it may be both
  next.previous = sk.previous;
  Put(sk.next, next);
  Free(security);
}

}  // namespace

void RemoveKeys(const fs::path& file, std::span<std::uint8_t> bytes,
                std::vector<KeyRemoval> removals) {
  for (KeyRemoval& removal : removals) {
    for (std::size_t* handle : {&removal.parent, &removal.node}) {
      if (*handle < hive::kBaseBlockSize || *handle - hive::kBaseBlockSize >= kNoCell) {
        throw MachineError(file, 0, "a key to remove lies outside the hive");
      }
      *handle -= hive::kBaseBlockSize;
    }
  }
  std::sort(removals.begin(), removals.end(), [](const KeyRemoval& a, const KeyRemoval& b) {
    return a.parent != b.parent ? a.parent < b.parent : a.node < b.node;
  });
  CellEditor editor(file, bytes);
  std::vector<std::uint32_t> children;
  for (std::size_t first = 0; first < removals.size();) {
    children.clear();
    std::size_t end = first;
    for (; end < removals.size() && removals[end].parent == removals[first].parent; ++end) {
      children.push_back(static_cast<std::uint32_t>(removals[end].node));
    }
    editor.Unlink(static_cast<std::uint32_t>(removals[first].parent), children);
    first = end;
  }
  // Every list is mended before any tree is freed.
  for (const KeyRemoval& removal : removals) {
    editor.FreeTree(static_cast<std::uint32_t>(removal.node));
  }
}

MappedFile::MappedFile(const fs::path& file, int fd, bool writable) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) {
    throw MachineError(file, 0, std::string("cannot read: ") + std::strerror(errno));
  }
  size_ = static_cast<std::size_t>(status.st_size);
  if (size_ == 0) {
    return;  // nothing to map
  }
  void* data =
      ::mmap(nullptr, size_, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  if (data == MAP_FAILED) {
    throw MachineError(file, 0, std::string("cannot map into memory: ") + std::strerror(errno));
  }
  data_ = static_cast<std::uint8_t*>(data);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) {
    ::munmap(data_, size_);
  }
}

}  // namespace winsim
