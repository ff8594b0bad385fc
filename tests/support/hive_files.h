// Hive files for the tests, made the way Windows images are serviced: an empty hive (the base
// block and a root key), filled through hivex, and read back through hivex.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "winsim/hive_format.h"

#include "winsim/registry.h"

namespace testing_support {

// Writes a hive holding only its root key (with a security descriptor, which hivex gives to
// every key it adds): the base block and one bin with two cells.
void WriteEmptyHive(const std::filesystem::path& file);

// Writes a new hive holding the values and subkeys of `key`, added one by one through hivex
// (links such as CurrentControlSet left out, as Windows keeps them out of its hives).
void WriteHive(const std::filesystem::path& file, const winsim::RegKey& key);

// How a hive's keys get their security descriptors.
enum class HiveSecurity {
  kOne,      // one descriptor for every key, as hivex gives each key it adds its parent's
  kWindows,  // as Windows in a SYSTEM hive: the entries of the Ports class key
             // (Control\Class\{4D36E978-E325-11CE-BFC1-08002BE10318}\NNNN of each control set)
             // and the keys below them share a descriptor of their own
};

// The same laid out directly, as Windows lays out a hive: every cell written once, in one bin,
// subkey lists of more than 1024 keys split under an index. hivex, which allocates each grown
// list anew and never reuses a freed cell, makes a hive of quadratic size from keys with many
// subkeys; this one grows with the tree (for the benchmark's large machines).
void WriteCompactHive(const std::filesystem::path& file, const winsim::RegKey& key,
                      HiveSecurity security = HiveSecurity::kOne);

// Reads the tree of a hive through hivex into `into` (an empty key); throws when hivex cannot.
void ReadHive(const std::filesystem::path& file, winsim::RegKey& into);

// The image of `registry` as the hives of an installation that is not running hold it: no
// HARDWARE tree and no Control subkeys of device instances (both exist only while Windows runs),
// CurrentControlSet stored as ControlSet00N (`current`), which SYSTEM\Select names.
std::string OfflineImage(winsim::Registry registry, int current);

// Makes an offline installation in `root` from the HKEY_LOCAL_MACHINE\SYSTEM and \SOFTWARE trees
// of `registry`: Windows/System32/config/SYSTEM and SOFTWARE, and the Windows/inf folder. The
// hives are written by WriteHive, or with `compact` by WriteCompactHive with `security`.
void MakeOfflineInstallation(const std::filesystem::path& root, const winsim::Registry& registry,
                             bool compact = false, HiveSecurity security = HiveSecurity::kOne);

// The tree of `key`, one line per key (its path below `key`) and per value (name, type, size and
// data in hex, in order), for comparing two trees key by key; links are left out.
std::string Dump(const winsim::RegKey& key);

// Sets the base block's second sequence number apart from the first (and mends the checksum),
// as a hive looks when Windows stopped with changes still in its logs.
void MakeHiveDirty(const std::filesystem::path& file);

// The bytes of a hive file, to spoil on purpose: finds the cell of a key by its path and reads
// and writes records in the content of cells in place.
class HiveBytes {
 public:
  explicit HiveBytes(std::filesystem::path file);
  void Save() const;

  // The cell of the key at `path` below the root key ("" for the root key), found through its
  // parents' subkey lists (names compared without regard to case); throws when there is none.
  std::uint32_t Key(std::u16string_view path) const;
  // The cell of value `index` of the key in cell `key`.
  std::uint32_t Value(std::uint32_t key, std::size_t index) const;

  // The record `at` bytes into the content of `cell`, and its replacement.
  template <typename T>
  T Get(std::uint32_t cell, std::size_t at = 0) const {
    return *winsim::hive::Read<T>(bytes_, winsim::hive::ContentAt(cell) + at);
  }
  template <typename T>
  void Set(std::uint32_t cell, const T& record, std::size_t at = 0) {
    winsim::hive::Write(std::span(bytes_), winsim::hive::ContentAt(cell) + at, record);
  }

 private:
  std::filesystem::path file_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace testing_support
