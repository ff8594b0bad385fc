// The check a hive file passes before anything else reads it, as a loader that trusts nothing
// would check it: the base block, the bins and their cells, and every record the root key
// reaches, each reached exactly once (security descriptors, which keys share, excepted).
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace winsim {

// Checks the bytes of the hive `file` in one pass and throws MachineError(file, 0, problem), the
// problem one line naming the first bad cell ("cell 0x1a20: ..."), unless:
// - the base block is a primary hive file of version 1.3 to 1.6 with its checksum, bins of a
//   positive multiple of 4096 bytes (the file may be longer, not shorter) and a root cell;
// - the bins follow one another, each with its header, and their cells tile them, each a
//   multiple of 8 bytes;
// - every offset of a record the root key reaches lands on an allocated cell of the kind it names
//   (key node, value, value list, li/lf/lh/ri subkey list with an ri listing only the others,
//   security descriptor, big data with its segment list and segments, class name, data) that is
//   large enough for it, and every such cell but a security descriptor is reached once only (no
//   list shared, no loop); a key's subkey count is the number of keys its lists hold, its value
//   count fits its value list, a key's parent field names the key that lists it;
// - a value's data fits where it lies (in place: 4 bytes at most), names fit their cells;
// - each security descriptor is on the hive's ring of descriptors and counts at least the keys
//   that use it;
// - no key lies more than kMaxKeyDepth levels below a root key (the hive's root key being one
//   level below one, where every hive is mounted);
// - no key name but the root's is empty or holds a backslash, CR, LF or NUL, and no two values
//   of a key have names that are equal without regard to case or up to a NUL.
// Allocated cells that nothing reaches (leaked), free cells, the volatile subkey fields (stale
// in a stored hive), name hints of lf/lh lists and the order of subkeys are not checked: Windows'
// own hives have them. Nor are the sequence numbers: a hive not closed cleanly is a matter of its
// reader. Time linear in the size of the hive; memory a byte per 8 bytes of bins besides.
void CheckHive(const std::filesystem::path& file, std::span<const std::uint8_t> bytes);

}  // namespace winsim
