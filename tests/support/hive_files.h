// Hive files for the tests, made the way Windows images are serviced: an empty hive (the base
// block and a root key), filled through hivex, and read back through hivex.
#pragma once

#include <filesystem>
#include <string>

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

}  // namespace testing_support
