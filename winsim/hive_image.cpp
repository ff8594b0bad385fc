#include "winsim/hive_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <unordered_set>
#include <utility>

#include "platform/text.h"
#include "winsim/file_space.h"
#include "winsim/hive_check.h"
#include "winsim/hive_edit.h"
#include "winsim/hive_format.h"
#include "winsim/hivex_types.h"
#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;

namespace {

// Refuses a hive that Windows did not close cleanly (changes are still in its logs), unless it
// is only read (`dirtyNotice` is then told).
void CheckClosedCleanly(const fs::path& file, std::span<const std::uint8_t> bytes,
                        const std::function<void(const std::string&)>& dirtyNotice) {
  const std::optional<hive::BaseBlock> base = hive::Read<hive::BaseBlock>(bytes, 0);
  if (!base || std::memcmp(base->signature, "regf", 4) != 0) {
    return;  // not a hive at all: the check says so
  }
  const std::uint32_t first = base->primarySequence;
  const std::uint32_t second = base->secondarySequence;
  const std::string dirty = "was not closed cleanly (sequence numbers " + std::to_string(first) +
                            " and " + std::to_string(second) + " differ)";
  if (first != second && dirtyNotice) {
    dirtyNotice(file.string() + ": " + dirty + ": changes still in its logs are not shown");
  } else if (first != second) {
    throw MachineError(file, 0,
                       dirty +
                           ": Windows was hibernated or stopped with changes still in its logs; "
                           "start it and shut it down fully first");
  }
}

// The `size` bytes of the file open as `fd`, copied rather than mapped: a hive someone cuts
// short while it is checked then ends the read with an error, never with a fault.
std::vector<std::uint8_t> ReadAll(const fs::path& file, int fd, std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t done = 0; done < size;) {
    const ssize_t got = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
    if (got <= 0) {
      throw MachineError(file, 0, got == 0 ? "is shorter than it was" : std::strerror(errno));
    }
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

// A digest of a key's values: names, types, sizes and data, in order, eight bytes at a time.
std::uint64_t Digest(const RegKey& key) {
  std::uint64_t hash = 0x9E3779B97F4A7C15ULL;
  const auto word = [&hash](std::uint64_t w) {
    hash = (hash ^ w) * 0xFF51AFD7ED558CCDULL;
    hash ^= hash >> 32;
  };
  const auto mix = [&](const void* bytes, std::size_t size) {
    const auto* at = static_cast<const unsigned char*>(bytes);
    std::uint64_t w = 0;
    for (; size >= 8; size -= 8, at += 8) {
      std::memcpy(&w, at, 8);
      word(w);
    }
    w = 0;
    if (size != 0) {  // an empty vector may have no data at all
      std::memcpy(&w, at, size);
    }
    word(w);
  };
  for (const RegValue& value : key.values()) {
    word(value.name().size());
    word(value.type());
    word(value.data().size());
    mix(value.name().data(), value.name().size() * sizeof(char16_t));
    mix(value.data().data(), value.data().size());
  }
  return hash;
}

std::string Utf8Path(const RegKey& key) {
  return orv::Utf16ToUtf8(key.Path());
}

}  // namespace

std::string HivexProblem(const std::string& what) {
  return what + ": " +
         (errno == ERANGE ? "beyond what hivex reads (such as a key of more than 70000 subkeys)"
                          : std::strerror(errno));
}

fs::path InstallationPath(const fs::path& root, std::u16string_view windowsPath) {
  return *FileSpace(root, u"C:\\").HostPath(u"C:\\" + std::u16string(windowsPath));
}

bool IsOfflineInstallation(const fs::path& dir) {
  std::error_code error;
  return fs::is_directory(InstallationPath(dir, u"Windows\\System32\\config"), error);
}

HiveImage::HiveImage(fs::path file, RegKey& mount,
                     const std::function<void(const std::string&)>& dirtyNotice)
    : file_(std::move(file)), mount_(&mount) {
  // The name itself, never a link (the hive is replaced by its name), and never blocking.
  original_ = ::open(file_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  struct stat status {};
  if (original_ < 0 || ::fstat(original_, &status) != 0 || !S_ISREG(status.st_mode)) {
    const std::string problem = original_ >= 0    ? "is not a regular file (a FIFO, a device or a "
                                                    "folder), not read as a hive"
                                : errno == ENOENT ? "no such hive"
                                : errno == ELOOP  ? "is a symbolic link, not read as a hive"
                                                  : HivexProblem("cannot read");
    Close();
    throw MachineError(file_, 0, problem);
  }
  mode_ = status.st_mode & 07777;
  size_ = static_cast<std::size_t>(status.st_size);
  try {
    {
      const std::vector<std::uint8_t> bytes = ReadAll(file_, original_, size_);
      CheckClosedCleanly(file_, bytes, dirtyNotice);
      CheckHive(file_, bytes);  // before hivex, which trusts what it reads
    }
    // hivex opens by name: this one is the file just read and checked, whatever its name is now.
    hive_ = hivex_open(("/proc/self/fd/" + std::to_string(original_)).c_str(), HIVEX_OPEN_WRITE);
    if (hive_ == nullptr) {
      throw MachineError(file_, 0, HivexProblem("hivex cannot read this hive"));
    }
    nodes_.reserve(size_ / 256);  // about the keys of a hive that size
    Node& root = nodes_[&mount];
    root.key = mount.parent() == nullptr ? nullptr : mount.parent()->SharedSubkey(mount.name());
    Read(hivex_root(hive_), mount, root);
  } catch (...) {
    Close();
    throw;
  }
}

HiveImage::~HiveImage() {
  Close();
}

void HiveImage::Close() {
  if (hive_ != nullptr) {
    hivex_close(hive_);
    hive_ = nullptr;
  }
  for (int* fd : {&original_, &replaced_, &readBack_}) {
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
  }
}

hive_h* HiveImage::Hive() {
  if (hive_ == nullptr) {
    hive_ = hivex_open(("/proc/self/fd/" + std::to_string(replaced_)).c_str(), HIVEX_OPEN_WRITE);
    if (hive_ == nullptr) {
      throw MachineError(file_, 0, HivexProblem("hivex cannot read the hive again"));
    }
    ::close(std::exchange(replaced_, -1));
  }
  return hive_;
}

void HiveImage::ReadFailure(const char* what, const RegKey& key) const {
  throw MachineError(
      file_, 0, HivexProblem(std::string("hivex cannot read ") + what + " of " + Utf8Path(key)));
}

void HiveImage::ReadValues(std::size_t node, RegKey& key) {
  Owned<hive_value_h> values(hivex_node_values(hive_, node));
  if (values == nullptr) {
    ReadFailure("the values", key);
  }
  std::vector<RegValue> read;
  for (const hive_value_h* value = values.get(); *value != 0; ++value) {
    Owned<char> name(hivex_value_key(hive_, *value));
    hive_type type{};
    std::size_t size = 0;
    Owned<char> data(hivex_value_value(hive_, *value, &type, &size));
    if (name == nullptr || data == nullptr) {
      ReadFailure("a value", key);
    }
    read.push_back(RegValue{orv::Utf8ToUtf16(name.get()), TypeBits(type),
                            std::span(reinterpret_cast<const std::uint8_t*>(data.get()), size)});
  }
  key.SetValues(read);
}

void HiveImage::Read(std::size_t rootNode, RegKey& mount, Node& rootRecord) {
  // The keys still to read, the next one last (a walk of its own, not one frame of the stack per
  // level).
  struct Pending {
    std::size_t node;
    RegKey* key;
    Node* record;
  };
  std::vector<Pending> pending = {{rootNode, &mount, &rootRecord}};
  std::vector<Pending> children;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    const std::size_t node = next.node;
    RegKey* const key = next.key;
    Node* const record = next.record;
    const auto fail = [&](const char* what) { ReadFailure(what, *key); };
    ReadValues(node, *key);

    Owned<hive_node_h> subkeys(hivex_node_children(hive_, node));
    if (subkeys == nullptr) {
      fail("the subkeys");
    }
    record->node = node;
    record->values = Digest(*key);
    children.clear();
    for (const hive_node_h* child = subkeys.get(); *child != 0; ++child) {
      Owned<char> name(hivex_node_name(hive_, *child));
      if (name == nullptr) {
        fail("a subkey name");
      }
      const std::u16string subkeyName = orv::Utf8ToUtf16(name.get());
      RegKey& subkey = key->CreateSubkey(subkeyName);
      const auto [entry, added] = nodes_.try_emplace(&subkey);
      if (!added) {
        throw MachineError(file_, 0, "holds the key " + Utf8Path(subkey) + " twice");
      }
      entry->second.key = key->SharedSubkey(subkeyName);
      record->subkeys.push_back(&subkey);
      children.push_back({*child, &subkey, &entry->second});
    }
    // Read in the hive's order, each subkey's tree before the next subkey.
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

bool HiveImage::Update() {
  if (mount_->deleted()) {
    throw MachineError(file_, 0, "the key the hive is mounted at was deleted");
  }
  Hive();
  RemoveRecorded();
  // Key by key from the mount point down, each key's subkeys after it, the walk keeping its own
  // list.
  std::vector<const RegKey*> pending = {mount_};
  while (!pending.empty()) {
    const RegKey* key = pending.back();
    pending.pop_back();
    Sync(*key, pending);
  }
  return dirty_;
}

void HiveImage::Sync(const RegKey& key, std::vector<const RegKey*>& pending) {
  Node& record = nodes_.at(&key);
  const std::uint64_t values = Digest(key);
  if (values != record.values) {
    WriteValues(record.node, key);
    record.values = values;
  }
  std::size_t same = 0;  // subkeys as the hive holds them, in order
  std::size_t count = 0;
  key.ForEachSubkey([&](const RegKey& subkey) {
    if (subkey.LinkTarget() == nullptr) {
      same += same == count && same < record.subkeys.size() && record.subkeys[same] == &subkey;
      ++count;
    }
  });
  if (same != count || count != record.subkeys.size()) {
    std::vector<const RegKey*> now;
    key.ForEachSubkey([&](const RegKey& subkey) {
      if (subkey.LinkTarget() == nullptr) {
        now.push_back(&subkey);
      }
    });
    const std::unordered_set<const RegKey*> kept(now.begin(), now.end());
    for (const RegKey* old : record.subkeys) {
      if (!kept.contains(old)) {
        Remove(record.node, *old);
      }
    }
    for (const RegKey* subkey : now) {
      if (!nodes_.contains(subkey)) {
        Add(record.node, key, *subkey);
      }
    }
    record.subkeys = std::move(now);
  }
  pending.insert(pending.end(), record.subkeys.rbegin(), record.subkeys.rend());
}

void HiveImage::Remove(std::size_t parentNode, const RegKey& key) {
  removals_[parentNode].emplace(FoldCase(key.name()), nodes_.at(&key).node);
  Forget(&key);
  dirty_ = true;
}

void HiveImage::RemoveRecorded() {
  for (const auto& [parent, keys] : removals_) {
    for (const auto& [name, node] : keys) {
      RemoveNow(node, name);
    }
  }
  removals_.clear();
}

void HiveImage::RemoveNow(std::size_t node, std::u16string_view name) {
  if (hivex_node_delete_child(hive_, node) != 0) {
    throw MachineError(file_, 0,
                       HivexProblem("hivex cannot delete the key " + orv::Utf16ToUtf8(name)));
  }
}

void HiveImage::WriteValues(std::size_t node, const RegKey& key) {
  std::vector<std::string> names;
  names.reserve(key.values().size());
  std::vector<hive_set_value> values;
  for (const RegValue& value : key.values()) {
    if (value.name().find(u'\0') != std::u16string::npos) {
      throw MachineError(
          file_, 0, "a hive cannot hold a value name with a NUL character, in " + Utf8Path(key));
    }
    names.push_back(orv::Utf16ToUtf8(value.name()));
    values.push_back(
        HiveValue(names.back().data(), value.type(), value.data().size(),
                  reinterpret_cast<char*>(const_cast<std::uint8_t*>(value.data().data()))));
  }
  if (hivex_node_set_values(hive_, node, values.size(), values.data(), 0) != 0) {
    throw MachineError(file_, 0, HivexProblem("hivex cannot write the values of " + Utf8Path(key)));
  }
  dirty_ = true;
}

void HiveImage::Add(std::size_t parentNode, const RegKey& parent, const RegKey& key) {
  // The tree key by key, each key's subkeys after it in their order, with a list of its own.
  struct Pending {
    std::size_t parentNode;
    const RegKey* parent;
    const RegKey* key;
  };
  // hivex adds no key beside one of the same name: one of that name to be removed goes first.
  if (const auto removed = removals_.find(parentNode); removed != removals_.end()) {
    if (const auto old = removed->second.find(FoldCase(key.name())); old != removed->second.end()) {
      RemoveNow(old->second, key.name());
      removed->second.erase(old);
    }
  }
  std::vector<Pending> pending = {{parentNode, &parent, &key}};
  std::vector<Pending> children;
  while (!pending.empty()) {
    const Pending next = pending.back();
    pending.pop_back();
    const hive_node_h node =
        hivex_node_add_child(hive_, next.parentNode, orv::Utf16ToUtf8(next.key->name()).c_str());
    if (node == 0) {
      throw MachineError(file_, 0, HivexProblem("hivex cannot add " + Utf8Path(*next.key)));
    }
    dirty_ = true;
    Node& record = nodes_[next.key];
    record.key = next.parent->SharedSubkey(next.key->name());
    record.node = node;
    record.values = Digest(*next.key);
    if (!next.key->values().empty()) {
      WriteValues(node, *next.key);
    }
    children.clear();
    next.key->ForEachSubkey([&](const RegKey& subkey) {
      if (subkey.LinkTarget() == nullptr) {
        record.subkeys.push_back(&subkey);
        children.push_back({node, next.key, &subkey});
      }
    });
    pending.insert(pending.end(), children.rbegin(), children.rend());
  }
}

void HiveImage::Forget(const RegKey* key) {
  std::vector<const RegKey*> pending = {key};
  while (!pending.empty()) {
    const auto it = nodes_.find(pending.back());
    pending.pop_back();
    pending.insert(pending.end(), it->second.subkeys.begin(), it->second.subkeys.end());
    nodes_.erase(it);
  }
}

}  // namespace winsim
