// A written hive read back before it replaces the hive: read by hivex and compared with the tree
// it was written from.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_set>
#include <utility>

#include "platform/text.h"
#include "winsim/hive_check.h"
#include "winsim/hive_edit.h"
#include "winsim/hive_image.h"
#include "winsim/hivex_types.h"
#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;

namespace {

// Whether the key at `node` of `hive` holds the values of `key`, in their order.
bool SameValues(hive_h* hive, hive_node_h node, const RegKey& key) {
  const Owned<hive_value_h> values(hivex_node_values(hive, node));
  if (values == nullptr) {
    return false;
  }
  std::size_t count = 0;
  for (const hive_value_h* value = values.get(); *value != 0; ++value, ++count) {
    if (count == key.values().size()) {
      return false;
    }
    const RegValue& expected = key.values()[count];
    const Owned<char> name(hivex_value_key(hive, *value));
    hive_type type{};
    std::size_t size = 0;
    const Owned<char> data(hivex_value_value(hive, *value, &type, &size));
    if (name == nullptr || data == nullptr || orv::Utf8ToUtf16(name.get()) != expected.name() ||
        TypeBits(type) != expected.type() ||
        !std::equal(expected.data().begin(), expected.data().end(),
                    reinterpret_cast<const std::uint8_t*>(data.get()),
                    reinterpret_cast<const std::uint8_t*>(data.get()) + size)) {
      return false;
    }
  }
  return count == key.values().size();
}

}  // namespace

void HiveImage::ReadBack(const fs::path& written) {
  if (readBack_ >= 0) {  // of a write that did not replace the hive
    ::close(std::exchange(readBack_, -1));
  }
  readBackFile_.clear();
  const int fd = ::open(written.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  hive_h* back = nullptr;
  try {
    if (fd < 0) {
      throw MachineError(written, 0, std::string("cannot read back: ") + std::strerror(errno));
    }
    const MappedFile mapped(written, fd, false);
    CheckHive(written, mapped.bytes());
    // hivex reads by name: this one is the file just opened, whatever its folder holds now. Read
    // only, hivex maps the file rather than copy it.
    back = hivex_open(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0);
    if (back == nullptr) {
      throw MachineError(
          written, 0,
          std::string("hivex cannot read the hive as written: ") + std::strerror(errno));
    }
    CompareWritten(back, written);
    hivex_close(std::exchange(back, nullptr));
  } catch (...) {
    if (back != nullptr) {
      hivex_close(back);
    }
    if (fd >= 0) {
      ::close(fd);
    }
    ::unlink(written.c_str());
    throw;
  }
  readBack_ = fd;
  readBackFile_ = written;
}

void HiveImage::CompareWritten(hive_h* back, const fs::path& written) const {
  // Key by key from the mount point down, with a list of its own; every key of the file once.
  std::vector<std::pair<const RegKey*, hive_node_h>> pending = {{mount_, hivex_root(back)}};
  std::unordered_set<hive_node_h> seen;
  seen.reserve(nodes_.size());
  while (!pending.empty()) {
    // No structured binding: clang 14 lets no lambda capture one.
    const RegKey* const key = pending.back().first;
    const hive_node_h node = pending.back().second;
    pending.pop_back();
    const auto differ = [&written, key](const char* what) {
      throw MachineError(written, 0,
                         std::string("does not read back as it was written: ") + what + " of " +
                             orv::Utf16ToUtf8(key->Path()) + " differ");
    };
    const auto known = nodes_.find(key);
    if (known == nodes_.end() || known->second.node != node || !seen.insert(node).second) {
      differ("the place");
    }
    if (!SameValues(back, node, *key)) {
      differ("the values");
    }
    const Owned<hive_node_h> children(hivex_node_children(back, node));
    std::size_t count = 0;
    for (const hive_node_h* child = children.get(); child != nullptr && *child != 0; ++child) {
      const Owned<char> name(hivex_node_name(back, *child));
      const std::u16string subkeyName = name == nullptr ? u"" : orv::Utf8ToUtf16(name.get());
      const RegKey* subkey = key->FindSubkey(subkeyName);
      if (subkey == nullptr || subkey->LinkTarget() != nullptr || subkey->name() != subkeyName) {
        differ("the subkeys");
      }
      pending.emplace_back(subkey, *child);
      ++count;
    }
    std::size_t expected = 0;
    key->ForEachSubkey(
        [&expected](const RegKey& subkey) { expected += subkey.LinkTarget() == nullptr; });
    if (children == nullptr || count != expected) {
      differ("the subkeys");
    }
  }
}

}  // namespace winsim
