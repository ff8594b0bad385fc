#include "winsim/hive_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "winsim/hive_format.h"
#include "winsim/machine.h"
#include "winsim/reg_data.h"
#include "winsim/registry.h"

namespace winsim {
namespace {

namespace fs = std::filesystem;
using hive::kNoCell;

// What the check knows of each 8 bytes of the bins, at the start of a cell.
enum : std::uint8_t {
  kAllocated = 1,  // an allocated cell starts here
  kReached = 2,    // a record reached it (a key, a list, a value, data, a class name)
  kSecurity = 4,   // a key or the ring reached it as a security descriptor
  kOnRing = 8,     // it is on the ring of the hive's security descriptors
};

std::string Hex(std::uint64_t number) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(number));
  return text;
}

std::string Cell(std::uint64_t cell) {
  return "cell " + Hex(cell) + ": ";
}

// A value name as the registry reads it (up to a NUL), its folded hash, and where it lies.
struct ValueName {
  std::size_t hash;
  std::u16string name;
  std::size_t length;
  std::uint32_t cell;
  std::u16string_view Read() const { return std::u16string_view(name).substr(0, length); }
};

class Checker {
 public:
  Checker(const fs::path& file, std::span<const std::uint8_t> bytes) : file_(file), bytes_(bytes) {}
  void Run();

 private:
  struct Pending {
    std::uint32_t cell;
    std::uint32_t depth;  // below the root key
  };

  [[noreturn]] void Fail(const std::string& problem) const {
    throw MachineError(file_, 0, problem);
  }
  template <typename T>
  T Record(std::size_t at) const {
    const std::optional<T> record = hive::Read<T>(bytes_, at);
    if (!record) {
      Fail("offset " + Hex(at) + ": a record runs past the end of the file");
    }
    return *record;
  }
  std::size_t ContentSize(std::uint32_t cell) const {
    return static_cast<std::size_t>(
               -static_cast<std::int64_t>(Record<std::int32_t>(hive::kBaseBlockSize + cell))) -
           4;
  }
  std::u16string NameAt(std::size_t at, std::size_t size, bool compressed) const;
  std::u16string KeyName(std::uint32_t cell) const;
  std::string Owner(std::uint32_t key) const;
  std::string Of(const char* what, std::uint32_t owner) const {
    return std::string(what) + " of " + Owner(owner);
  }

  void CheckBaseBlock();
  void CheckBins();
  void CheckCells(std::uint64_t bin, std::uint64_t end);
  std::size_t Allocated(std::uint32_t cell, const char* what, std::uint32_t owner) const;
  std::size_t Claim(std::uint32_t cell, const char* what, std::uint32_t owner, std::size_t needed);
  hive::KeyNode ClaimKey(std::uint32_t cell, std::uint32_t owner);
  void Security(std::uint32_t cell, const char* what, std::uint32_t owner);

  void CheckKey(const Pending& key);
  void CheckKeyName(std::uint32_t cell, const hive::KeyNode& nk) const;
  void CheckValues(std::uint32_t key, const hive::KeyNode& nk);
  void CheckValue(std::uint32_t key, std::uint32_t cell);
  void CheckData(std::uint32_t key, std::uint32_t cell, const hive::ValueKey& vk);
  void CheckNamesDistinct(std::uint32_t key);
  void CheckSubkeys(const Pending& key, const hive::KeyNode& nk);
  std::size_t CheckLeaf(const Pending& key, std::uint32_t list, std::size_t content,
                        const char* what);
  void CheckSecurityRing();

  const fs::path& file_;
  std::span<const std::uint8_t> bytes_;
  std::uint32_t bins_ = 0;  // the bytes of all bins
  std::uint32_t root_ = 0;
  std::vector<std::uint8_t> state_;  // per 8 bytes of bins
  std::vector<Pending> pending_;     // keys reached and still to check, the next one last
  std::vector<ValueName> names_;     // of the values of the key being checked
  std::unordered_map<std::uint32_t, std::uint32_t> users_;  // keys per security descriptor
};

std::u16string Checker::NameAt(std::size_t at, std::size_t size, bool compressed) const {
  std::u16string name;
  const std::uint8_t* bytes = bytes_.data() + at;
  for (std::size_t i = 0; compressed ? i < size : i + 1 < size; i += compressed ? 1 : 2) {
    name.push_back(compressed ? bytes[i] : static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  return name;
}

std::u16string Checker::KeyName(std::uint32_t cell) const {
  const auto nk = Record<hive::KeyNode>(hive::ContentAt(cell));
  const std::size_t room = ContentSize(cell) - sizeof nk;
  return NameAt(hive::ContentAt(cell) + sizeof nk, std::min<std::size_t>(nk.nameLength, room),
                (nk.flags & hive::kKeyCompressedName) != 0);
}

// "key \A\B" for a key the check has reached (its parent fields checked up to the root key).
std::string Checker::Owner(std::uint32_t key) const {
  if (key == kNoCell) {
    return "the hive";
  }
  if (key == root_) {
    return "the root key";
  }
  std::u16string path;
  for (std::uint32_t at = key, level = 0; at != root_ && level <= kMaxKeyDepth; ++level) {
    path = u'\\' + KeyName(at) + path;
    at = Record<hive::KeyNode>(hive::ContentAt(at)).parent;
  }
  return "key " + Printable(path);
}

void Checker::Run() {
  CheckBaseBlock();
  CheckBins();
  ClaimKey(root_, kNoCell);
  pending_.push_back({root_, 0});
  while (!pending_.empty()) {
    const Pending key = pending_.back();
    pending_.pop_back();
    CheckKey(key);
  }
  CheckSecurityRing();
}

void Checker::CheckBaseBlock() {
  const std::optional<hive::BaseBlock> base = hive::Read<hive::BaseBlock>(bytes_, 0);
  if (!base || std::memcmp(base->signature, "regf", 4) != 0) {
    Fail("is not a hive file (it does not begin with a base block, \"regf\")");
  }
  if (base->checksum != hive::Checksum(*base)) {
    Fail("base block: the checksum is " + Hex(base->checksum) + ", its bytes give " +
         Hex(hive::Checksum(*base)));
  }
  if (base->majorVersion != 1 || base->minorVersion < 3 || base->minorVersion > 6 ||
      base->fileType != 0 || base->fileFormat != 1 || base->clusteringFactor != 1) {
    Fail("base block: not a primary hive file of version 1.3 to 1.6");
  }
  const std::size_t expected = hive::kBaseBlockSize + base->binsSize;
  if (bytes_.size() < expected) {
    Fail("is truncated: its base block gives " + std::to_string(expected) +
         " bytes, the file holds " + std::to_string(bytes_.size()));
  }
  if (base->binsSize == 0 || base->binsSize % hive::kBinAlignment != 0) {
    Fail("base block: bins of " + std::to_string(base->binsSize) +
         " bytes, not a positive multiple of 4096");
  }
  bins_ = base->binsSize;
  root_ = base->rootCell;
  state_.assign(bins_ / 8, 0);
}

void Checker::CheckBins() {
  for (std::uint64_t bin = 0; bin < bins_;) {
    const auto header = Record<hive::BinHeader>(hive::kBaseBlockSize + bin);
    const std::string where = "bin " + Hex(bin) + ": ";
    if (std::memcmp(header.signature, "hbin", 4) != 0 || header.offset != bin) {
      Fail(where + "no bin header (\"hbin\" and this offset) where the bins go on");
    }
    if (header.size == 0 || header.size % hive::kBinAlignment != 0 || header.size > bins_ - bin) {
      Fail(where + "a bin of " + std::to_string(header.size) +
           " bytes, not a multiple of 4096 within the bins");
    }
    CheckCells(bin, bin + header.size);
    bin += header.size;
  }
}

void Checker::CheckCells(std::uint64_t bin, std::uint64_t end) {
  for (std::uint64_t cell = bin + sizeof(hive::BinHeader); cell < end;) {
    const auto size = Record<std::int32_t>(hive::kBaseBlockSize + cell);
    const std::uint64_t length = size < 0 ? -static_cast<std::int64_t>(size) : size;
    if (length == 0 || length % 8 != 0 || length > end - cell) {
      Fail(Cell(cell) + "a cell of " + std::to_string(size) +
           " bytes, not a multiple of 8 within its bin");
    }
    if (size < 0) {
      state_[cell / 8] |= kAllocated;
    }
    cell += length;
  }
}

// The content size of the allocated cell `cell`, which `what` of `owner` names.
std::size_t Checker::Allocated(std::uint32_t cell, const char* what, std::uint32_t owner) const {
  if (cell >= bins_) {
    Fail(Cell(cell) + Of(what, owner) + " lies outside the hive's bins");
  }
  if (cell % 8 != 0 || (state_[cell / 8] & kAllocated) == 0) {
    Fail(Cell(cell) + Of(what, owner) + " is not an allocated cell");
  }
  return ContentSize(cell);
}

// The same for a cell that only one record may reach, with room for `needed` bytes.
std::size_t Checker::Claim(std::uint32_t cell, const char* what, std::uint32_t owner,
                           std::size_t needed) {
  const std::size_t content = Allocated(cell, what, owner);
  std::uint8_t& state = state_[cell / 8];
  if ((state & (kReached | kSecurity)) != 0) {
    Fail(Cell(cell) + Of(what, owner) +
         " is reached a second time (a cell shared by two records, or a loop)");
  }
  state |= kReached;
  if (content < needed) {
    Fail(Cell(cell) + Of(what, owner) + " holds " + std::to_string(content) + " bytes, not the " +
         std::to_string(needed) + " it needs");
  }
  return content;
}

hive::KeyNode Checker::ClaimKey(std::uint32_t cell, std::uint32_t owner) {
  const char* what = owner == kNoCell ? "the root key" : "a subkey";
  const std::size_t content = Claim(cell, what, owner, sizeof(hive::KeyNode));
  const auto nk = Record<hive::KeyNode>(hive::ContentAt(cell));
  if (!hive::Is(nk.signature, "nk")) {
    Fail(Cell(cell) + Of(what, owner) + " is not a key node (\"nk\")");
  }
  if (content < sizeof nk + nk.nameLength) {
    Fail(Cell(cell) + "the name of " + Of(what, owner) + " runs past its cell");
  }
  return nk;
}

// A security descriptor, which any number of keys share.
void Checker::Security(std::uint32_t cell, const char* what, std::uint32_t owner) {
  const std::size_t content = Allocated(cell, what, owner);
  std::uint8_t& state = state_[cell / 8];
  if ((state & kSecurity) != 0) {
    return;
  }
  const auto sk = Record<hive::SecurityKey>(hive::ContentAt(cell));
  if ((state & kReached) != 0 || content < sizeof sk || !hive::Is(sk.signature, "sk")) {
    Fail(Cell(cell) + Of(what, owner) + " is not a security descriptor (\"sk\")");
  }
  if (content - sizeof sk < sk.descriptorSize) {
    Fail(Cell(cell) + Of(what, owner) + " runs past its cell");
  }
  state |= kSecurity;
}

void Checker::CheckKey(const Pending& key) {
  const auto nk = Record<hive::KeyNode>(hive::ContentAt(key.cell));
  CheckKeyName(key.cell, nk);
  Security(nk.security, "the security descriptor", key.cell);
  ++users_[nk.security];
  if (nk.className != kNoCell) {
    Claim(nk.className, "the class name", key.cell, nk.classLength);
  }
  CheckValues(key.cell, nk);
  CheckSubkeys(key, nk);
}

void Checker::CheckKeyName(std::uint32_t cell, const hive::KeyNode& nk) const {
  const bool compressed = (nk.flags & hive::kKeyCompressedName) != 0;
  if (!compressed && nk.nameLength % 2 != 0) {
    Fail(Cell(cell) + Owner(cell) + ": a UTF-16 name of an odd number of bytes");
  }
  const std::u16string name = KeyName(cell);
  if (name.empty() && cell != root_) {
    Fail(Cell(cell) + Owner(cell) + " has an empty name");
  }
  for (char16_t c : name) {
    const char* what = c == u'\\'                 ? "a backslash"
                       : c == u'\r' || c == u'\n' ? "a line break (CR or LF)"
                       : c == 0                   ? "a NUL character"
                                                  : nullptr;
    if (what != nullptr) {
      Fail(Cell(cell) + Owner(cell) + " has a name holding " + what);
    }
  }
}

void Checker::CheckValues(std::uint32_t key, const hive::KeyNode& nk) {
  if (nk.valueCount == 0) {
    return;  // the list is not read then
  }
  const std::size_t room = Claim(nk.valueList, "the value list", key, 0) / 4;
  if (room < nk.valueCount) {
    Fail(Cell(nk.valueList) + Of("the value list", key) + " has room for " + std::to_string(room) +
         " values, its key counts " + std::to_string(nk.valueCount));
  }
  names_.clear();
  for (std::size_t i = 0; i < nk.valueCount; ++i) {
    CheckValue(key, Record<std::uint32_t>(hive::ContentAt(nk.valueList) + 4 * i));
  }
  CheckNamesDistinct(key);
}

void Checker::CheckValue(std::uint32_t key, std::uint32_t cell) {
  const std::size_t content = Claim(cell, "a value", key, sizeof(hive::ValueKey));
  const auto vk = Record<hive::ValueKey>(hive::ContentAt(cell));
  const bool compressed = (vk.flags & hive::kValueCompressedName) != 0;
  if (!hive::Is(vk.signature, "vk")) {
    Fail(Cell(cell) + Of("a value", key) + " is not a value record (\"vk\")");
  }
  if (content < sizeof vk + vk.nameLength || (!compressed && vk.nameLength % 2 != 0)) {
    Fail(Cell(cell) + "the name of " + Of("a value", key) +
         " runs past its cell or is UTF-16 of an odd number of bytes");
  }
  CheckData(key, cell, vk);
  std::u16string name = NameAt(hive::ContentAt(cell) + sizeof vk, vk.nameLength, compressed);
  const std::size_t length = std::min(name.find(u'\0'), name.size());
  const std::size_t hash = FoldedHash(std::u16string_view(name).substr(0, length));
  names_.push_back({hash, std::move(name), length, cell});
}

void Checker::CheckData(std::uint32_t key, std::uint32_t cell, const hive::ValueKey& vk) {
  const std::uint32_t size = vk.dataSize & ~hive::kDataInline;
  if ((vk.dataSize & hive::kDataInline) != 0) {
    if (size > 4) {
      Fail(Cell(cell) + Of("a value", key) + " holds " + std::to_string(size) +
           " bytes of data in place, where 4 fit");
    }
    return;
  }
  const char* what = "the data of a value";
  const std::size_t content = Claim(vk.data, what, key, 0);
  if (size <= content) {
    return;
  }
  // Longer data: a big-data record listing segments of kBigDataThreshold bytes, the last one
  // holding the rest.
  const auto db = content >= sizeof(hive::BigData) ? Record<hive::BigData>(hive::ContentAt(vk.data))
                                                   : hive::BigData{};
  const std::size_t segments = (size + hive::kBigDataThreshold - 1) / hive::kBigDataThreshold;
  if (!hive::Is(db.signature, "db") || db.segments != segments) {
    Fail(Cell(vk.data) + Of(what, key) + " (" + std::to_string(size) +
         " bytes) is larger than its cell and not a big-data record of " +
         std::to_string(segments) + " segments");
  }
  Claim(db.segmentList, "the segment list of a value", key, 4 * segments);
  for (std::size_t i = 0; i < segments; ++i) {
    const std::size_t rest = size - i * hive::kBigDataThreshold;
    Claim(Record<std::uint32_t>(hive::ContentAt(db.segmentList) + 4 * i), "a data segment", key,
          std::min<std::size_t>(rest, hive::kBigDataThreshold));
  }
}

void Checker::CheckNamesDistinct(std::uint32_t key) {
  std::sort(names_.begin(), names_.end(), [](const ValueName& a, const ValueName& b) {
    const int order =
        a.hash != b.hash ? (a.hash < b.hash ? -1 : 1) : CompareFolded(a.Read(), b.Read());
    return order != 0 ? order < 0 : a.cell < b.cell;
  });
  for (std::size_t i = 1; i < names_.size(); ++i) {
    const ValueName& a = names_[i - 1];
    const ValueName& b = names_[i];
    if (a.hash == b.hash && EqualFolded(a.Read(), b.Read())) {
      Fail(Cell(b.cell) + Owner(key) + " holds two values named \"" + Printable(a.name) +
           "\" and \"" + Printable(b.name) +
           "\", one name to the registry (without regard to case, up to a NUL)");
    }
  }
}

void Checker::CheckSubkeys(const Pending& key, const hive::KeyNode& nk) {
  if (nk.subkeyCount == 0) {
    return;  // the list is not read then
  }
  const std::size_t before = pending_.size();
  const char* what = "the subkey list";
  const std::size_t content = Claim(nk.subkeyList, what, key.cell, sizeof(hive::ListHeader));
  const auto list = Record<hive::ListHeader>(hive::ContentAt(nk.subkeyList));
  std::uint64_t total = 0;
  if (hive::Is(list.signature, "ri")) {
    if (content < sizeof list + 4 * std::size_t{list.count}) {
      Fail(Cell(nk.subkeyList) + Of(what, key.cell) + " lists more lists than it has room for");
    }
    const char* part = "a subkey list of the index";
    for (std::size_t i = 0; i < list.count; ++i) {
      const auto leaf = Record<std::uint32_t>(hive::ContentAt(nk.subkeyList) + 4 + 4 * i);
      total += CheckLeaf(key, leaf, Claim(leaf, part, key.cell, sizeof list), part);
    }
  } else {
    total = CheckLeaf(key, nk.subkeyList, content, what);
  }
  if (total != nk.subkeyCount) {
    Fail(Cell(nk.subkeyList) + Of(what, key.cell) + " holds " + std::to_string(total) +
         " subkeys, its key counts " + std::to_string(nk.subkeyCount));
  }
  std::reverse(pending_.begin() + static_cast<std::ptrdiff_t>(before), pending_.end());
}

// Checks an li, lf or lh list of subkeys of `key` and adds them to the keys to check.
std::size_t Checker::CheckLeaf(const Pending& key, std::uint32_t list, std::size_t content,
                               const char* what) {
  const auto header = Record<hive::ListHeader>(hive::ContentAt(list));
  const bool hashed = hive::Is(header.signature, "lf") || hive::Is(header.signature, "lh");
  if (!hashed && !hive::Is(header.signature, "li")) {
    Fail(Cell(list) + Of(what, key.cell) + " is not a list of subkeys (li, lf, lh, or ri above)");
  }
  const std::size_t step = hashed ? sizeof(hive::HashEntry) : 4;
  if (content < sizeof header + step * header.count) {
    Fail(Cell(list) + Of(what, key.cell) + " lists more subkeys than it has room for");
  }
  if (header.count != 0 && key.depth + 1 >= kMaxKeyDepth) {
    Fail(Cell(list) + "the hive holds a key nested deeper than " + std::to_string(kMaxKeyDepth) +
         " levels below a root key");
  }
  for (std::size_t i = 0; i < header.count; ++i) {
    const auto child = Record<std::uint32_t>(hive::ContentAt(list) + sizeof header + step * i);
    const hive::KeyNode nk = ClaimKey(child, key.cell);
    if (nk.parent != key.cell) {
      Fail(Cell(child) + "the subkey \"" + Printable(KeyName(child)) + "\" of " + Owner(key.cell) +
           " gives " + Hex(nk.parent) + " as its parent");
    }
    pending_.push_back({child, key.depth + 1});
  }
  return header.count;
}

void Checker::CheckSecurityRing() {
  const std::uint32_t first = Record<hive::KeyNode>(hive::ContentAt(root_)).security;
  const char* what = "the next security descriptor on the ring";
  for (std::uint32_t at = first;;) {
    state_[at / 8] |= kOnRing;
    const std::uint32_t next = Record<hive::SecurityKey>(hive::ContentAt(at)).next;
    Security(next, what, kNoCell);
    if (Record<hive::SecurityKey>(hive::ContentAt(next)).previous != at) {
      Fail(Cell(next) + "the security descriptor after " + Hex(at) +
           " on the ring does not give it as the one before");
    }
    if (next == first) {
      break;
    }
    if ((state_[next / 8] & kOnRing) != 0) {
      Fail(Cell(next) + "the ring of security descriptors runs into itself");
    }
    at = next;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> used(users_.begin(), users_.end());
  std::sort(used.begin(), used.end());
  for (const auto& [cell, keys] : used) {
    const std::uint32_t references = Record<hive::SecurityKey>(hive::ContentAt(cell)).references;
    if ((state_[cell / 8] & kOnRing) == 0 || references < keys) {
      Fail(Cell(cell) + "a security descriptor of " + std::to_string(keys) + " keys is " +
           ((state_[cell / 8] & kOnRing) == 0
                ? "not on the hive's ring of descriptors"
                : "counted as used by " + std::to_string(references)));
    }
  }
}

}  // namespace

void CheckHive(const fs::path& file, std::span<const std::uint8_t> bytes) {
  Checker(file, bytes).Run();
}

}  // namespace winsim
