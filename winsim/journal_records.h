// The journal's text (winsim/journal.h): its header, its records' lines and checksums, and what
// a record may name. Shared by the journal's writer and its reader.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "winsim/journal.h"

namespace winsim::journal_records {

inline constexpr std::string_view kHeader = "orvcard journal 1\n";
inline constexpr std::string_view kAsidePrefix = ".orvcard-removed-";
inline constexpr std::string_view kBackupSuffix = ".orvcard-backup";
// A journal larger than this is no run's (a run of thousands of packages writes a megabyte).
inline constexpr off_t kLargestJournal = 64 << 20;

// The checksum a record's line ends with: FNV-1a of the rest of the line, 16 hex digits. Enough
// to tell a record written whole from a torn or altered one.
std::string LineChecksum(std::string_view text);
// A path's bytes as one field of a line: spaces, controls and % as %XX; and back (false for a
// field that is no such text, or that holds a NUL).
std::string Escape(const std::string& text);
bool Unescape(std::string_view field, std::string* text);
// A path relative to the machine's folder as a record holds it: no empty, . or .. component.
bool CleanRelative(const std::string& path);

// The registry's own files, their backups, the journal and the lock: no record may create,
// move or remove them (only a replacement replaces a registry file). `path` is normal.
bool Protected(const JournalPlace& place, const std::filesystem::path& path);
// Whether `path` (normal) lies in the folder of one of the registry's files.
bool InRegistryFolder(const JournalPlace& place, const std::filesystem::path& path);
// Whether `path` (normal) names a folder for entries moved aside, in the machine's folder.
bool IsAsideFolder(const JournalPlace& place, const std::filesystem::path& path);

// Throws MachineError naming the journal (and `line`, when not 0).
[[noreturn]] void ThrowJournalError(const JournalPlace& place, int line,
                                    const std::string& problem);

}  // namespace winsim::journal_records
