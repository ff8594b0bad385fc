// The records of a hive file, declared once: the base block, the bins, and the cells that the
// bins hold (key nodes, values, security descriptors, subkey and value lists, big data). Every
// record is read and written through these layouts, never through raw offsets of its own.
//
// A hive is the base block (4096 bytes) and then bins, each a multiple of 4096 bytes. A bin is
// a header and cells; a cell is a signed 32-bit size (negative while allocated, a multiple of
// 8 and counting itself) and its content. Offsets between cells count from the first bin; the
// cell at offset X begins at file offset 4096 + X, its content 4 bytes later. Numbers are
// little-endian.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace winsim::hive {

static_assert(std::endian::native == std::endian::little, "hive records are read in place");

// An offset that points nowhere.
inline constexpr std::uint32_t kNoCell = 0xFFFFFFFF;

inline constexpr std::size_t kBaseBlockSize = 0x1000;
inline constexpr std::size_t kBinAlignment = 0x1000;

struct BaseBlock {
  char signature[4];  // "regf"
  std::uint32_t primarySequence;
  std::uint32_t secondarySequence;  // differs from the primary while changes are in the logs
  std::uint32_t lastWritten[2];
  std::uint32_t majorVersion;  // 1
  std::uint32_t minorVersion;  // 3 to 6
  std::uint32_t fileType;      // 0: a primary file
  std::uint32_t fileFormat;    // 1
  std::uint32_t rootCell;
  std::uint32_t binsSize;  // the bytes of all bins
  std::uint32_t clusteringFactor;
  char16_t fileName[32];
  std::uint8_t reserved[396];
  std::uint32_t checksum;  // the XOR of the 127 double words before it
};
static_assert(offsetof(BaseBlock, primarySequence) == 0x04);
static_assert(offsetof(BaseBlock, secondarySequence) == 0x08);
static_assert(offsetof(BaseBlock, majorVersion) == 0x14);
static_assert(offsetof(BaseBlock, minorVersion) == 0x18);
static_assert(offsetof(BaseBlock, fileType) == 0x1C);
static_assert(offsetof(BaseBlock, fileFormat) == 0x20);
static_assert(offsetof(BaseBlock, rootCell) == 0x24);
static_assert(offsetof(BaseBlock, binsSize) == 0x28);
static_assert(offsetof(BaseBlock, clusteringFactor) == 0x2C);
static_assert(offsetof(BaseBlock, checksum) == 0x1FC);
static_assert(sizeof(BaseBlock) == 0x200);

struct BinHeader {
  char signature[4];     // "hbin"
  std::uint32_t offset;  // of this bin, from the first bin
  std::uint32_t size;    // of this bin, header included
  std::uint32_t reserved[2];
  std::uint32_t timestamp[2];
  std::uint32_t spare;
};
static_assert(offsetof(BinHeader, offset) == 0x04);
static_assert(offsetof(BinHeader, size) == 0x08);
static_assert(sizeof(BinHeader) == 0x20);

// Cell contents. The size field before each is not part of them.

// "nk": a key.
struct KeyNode {
  char signature[2];
  std::uint16_t flags;
  std::uint32_t lastWritten[2];
  std::uint32_t access;
  std::uint32_t parent;
  std::uint32_t subkeyCount;
  std::uint32_t volatileSubkeyCount;
  std::uint32_t subkeyList;
  std::uint32_t volatileSubkeyList;
  std::uint32_t valueCount;
  std::uint32_t valueList;
  std::uint32_t security;
  std::uint32_t className;
  std::uint32_t largestSubkeyName;
  std::uint32_t largestSubkeyClass;
  std::uint32_t largestValueName;
  std::uint32_t largestValueData;
  std::uint32_t workVar;
  std::uint16_t nameLength;  // in bytes
  std::uint16_t classLength;
  // the name follows
};
static_assert(offsetof(KeyNode, flags) == 0x02);
static_assert(offsetof(KeyNode, parent) == 0x10);
static_assert(offsetof(KeyNode, subkeyCount) == 0x14);
static_assert(offsetof(KeyNode, subkeyList) == 0x1C);
static_assert(offsetof(KeyNode, valueCount) == 0x24);
static_assert(offsetof(KeyNode, valueList) == 0x28);
static_assert(offsetof(KeyNode, security) == 0x2C);
static_assert(offsetof(KeyNode, className) == 0x30);
static_assert(offsetof(KeyNode, nameLength) == 0x48);
static_assert(offsetof(KeyNode, classLength) == 0x4A);
static_assert(sizeof(KeyNode) == 0x4C);

inline constexpr std::uint16_t kKeyHiveEntry = 0x0004;     // the root key
inline constexpr std::uint16_t kKeyCompressedName = 0x20;  // the name one byte per character

// "vk": a value.
struct ValueKey {
  char signature[2];
  std::uint16_t nameLength;  // in bytes; 0 for the unnamed value
  std::uint32_t dataSize;    // kDataInline set: the data lies in `data` itself
  std::uint32_t data;
  std::uint32_t type;
  std::uint16_t flags;
  std::uint16_t spare;
  // the name follows
};
static_assert(offsetof(ValueKey, nameLength) == 0x02);
static_assert(offsetof(ValueKey, dataSize) == 0x04);
static_assert(offsetof(ValueKey, data) == 0x08);
static_assert(offsetof(ValueKey, type) == 0x0C);
static_assert(offsetof(ValueKey, flags) == 0x10);
static_assert(sizeof(ValueKey) == 0x14);

inline constexpr std::uint32_t kDataInline = 0x80000000;
inline constexpr std::uint16_t kValueCompressedName = 0x0001;
// Data longer than this is held in segments under a big-data record (hive versions 1.4 on).
inline constexpr std::uint32_t kBigDataThreshold = 16344;

// "sk": a security descriptor, shared by the keys that count in `references`, on a ring of all
// the hive's descriptors.
struct SecurityKey {
  char signature[2];
  std::uint16_t reserved;
  std::uint32_t next;
  std::uint32_t previous;
  std::uint32_t references;
  std::uint32_t descriptorSize;
  // the descriptor follows
};
static_assert(offsetof(SecurityKey, next) == 0x04);
static_assert(offsetof(SecurityKey, previous) == 0x08);
static_assert(offsetof(SecurityKey, references) == 0x0C);
static_assert(offsetof(SecurityKey, descriptorSize) == 0x10);
static_assert(sizeof(SecurityKey) == 0x14);

// "li", "lf", "lh" and "ri": subkey lists. An index ("ri") lists lists of the other kinds.
struct ListHeader {
  char signature[2];
  std::uint16_t count;
  // `count` entries follow: an offset (li, ri) or an offset and a hint of the name (lf, lh)
};
static_assert(sizeof(ListHeader) == 0x04);

struct HashEntry {
  std::uint32_t key;
  std::uint32_t hint;  // lf: the name's first 4 characters; lh: a hash of its upper case
};
static_assert(sizeof(HashEntry) == 0x08);

// "db": data in segments (each a cell of at most kBigDataThreshold bytes), listed by a cell of
// offsets.
struct BigData {
  char signature[2];
  std::uint16_t segments;
  std::uint32_t segmentList;
};
static_assert(sizeof(BigData) == 0x08);

// A record of type T read from `bytes` at `at`, or nothing when it does not fit.
template <typename T>
std::optional<T> Read(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < sizeof(T)) {
    return std::nullopt;
  }
  T record;
  std::memcpy(&record, bytes.data() + at, sizeof(T));
  return record;
}

// Writes `record` into `bytes` at `at`, which the caller has checked.
template <typename T>
void Write(std::span<std::uint8_t> bytes, std::size_t at, const T& record) {
  std::memcpy(bytes.data() + at, &record, sizeof(T));
}

inline bool Is(const char (&signature)[2], const char* expected) {
  return signature[0] == expected[0] && signature[1] == expected[1];
}

// The file offset of the content of the cell at `cell`.
inline constexpr std::size_t ContentAt(std::uint32_t cell) {
  return kBaseBlockSize + static_cast<std::size_t>(cell) + 4;
}

// The base block's checksum over its first 127 double words, as Windows computes it (0 and
// 0xFFFFFFFF are given as 1 and 0xFFFFFFFE).
inline std::uint32_t Checksum(const BaseBlock& base) {
  std::uint32_t words[sizeof(BaseBlock) / 4];
  std::memcpy(words, &base, sizeof words);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 127; ++i) {
    sum ^= words[i];
  }
  return sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

// The lh hint of a name: each character in upper case, hash * 37 + character.
inline std::uint32_t NameHash(std::u16string_view upperName) {
  std::uint32_t hash = 0;
  for (char16_t c : upperName) {
    hash = hash * 37 + c;
  }
  return hash;
}

}  // namespace winsim::hive
