#include "winsim/hive_image.h"

#include <fcntl.h>
#include <hivex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_set>

#include "platform/text.h"
#include "winsim/file_space.h"
#include "winsim/machine.h"

namespace winsim {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBaseBlockSize = 0x1000;

// Frees what hivex hands out.
struct Free {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

std::uint32_t Read32(const unsigned char* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// Refuses, before hivex reads it, a hive that Windows did not close cleanly or that lost its end.
void CheckBaseBlock(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  unsigned char base[0x30] = {};
  if (!in.read(reinterpret_cast<char*>(base), sizeof base) || std::memcmp(base, "regf", 4) != 0) {
    return;  // not a hive at all: hivex says so
  }
  const std::uint32_t first = Read32(base + 0x04);
  const std::uint32_t second = Read32(base + 0x08);
  if (first != second) {
    throw MachineError(file, 0,
                       "was not closed cleanly (sequence numbers " + std::to_string(first) +
                           " and " + std::to_string(second) +
                           " differ): Windows was hibernated or stopped with changes still in "
                           "its logs; start it and shut it down fully first");
  }
  std::error_code error;
  const std::uintmax_t size = fs::file_size(file, error);
  const std::uintmax_t expected = kBaseBlockSize + Read32(base + 0x28);
  if (!error && size < expected) {
    throw MachineError(file, 0,
                       "is truncated: its base block gives " + std::to_string(expected) +
                           " bytes, the file holds " + std::to_string(size));
  }
}

// A digest of a key's values: names, types, sizes and data, in order.
std::uint64_t Digest(const RegKey& key) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  const auto mix = [&hash](const void* bytes, std::size_t size) {
    const auto* at = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < size; ++i) {
      hash = (hash ^ at[i]) * 0x100000001b3ULL;
    }
  };
  for (const RegValue& value : key.values()) {
    const std::uint64_t sizes[] = {value.name.size(), value.type, value.data.size()};
    mix(sizes, sizeof sizes);
    mix(value.name.data(), value.name.size() * sizeof(char16_t));
    mix(value.data.data(), value.data.size());
  }
  return hash;
}

std::string HivexProblem(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

}  // namespace

fs::path InstallationPath(const fs::path& root, std::u16string_view windowsPath) {
  return *FileSpace(root, u"C:\\").HostPath(u"C:\\" + std::u16string(windowsPath));
}

bool IsOfflineInstallation(const fs::path& dir) {
  std::error_code error;
  return fs::is_directory(InstallationPath(dir, u"Windows\\System32\\config"), error);
}

HiveImage::HiveImage(fs::path file, RegKey& mount) : file_(std::move(file)), mount_(&mount) {
  struct stat status {};
  if (::stat(file_.c_str(), &status) != 0) {
    throw MachineError(file_, 0, errno == ENOENT ? "no such hive" : HivexProblem("cannot read"));
  }
  mode_ = status.st_mode & 07777;
  CheckBaseBlock(file_);
  hive_ = hivex_open(file_.c_str(), HIVEX_OPEN_WRITE);
  if (hive_ == nullptr) {
    throw MachineError(file_, 0, HivexProblem("hivex cannot read this hive"));
  }
  const std::shared_ptr<RegKey> shared =
      mount.parent() == nullptr ? nullptr : mount.parent()->SharedSubkey(mount.name());
  Read(hivex_root(hive_), mount, shared);
}

HiveImage::~HiveImage() {
  if (hive_ != nullptr) {
    hivex_close(hive_);
  }
}

void HiveImage::Read(std::size_t node, RegKey& key, std::shared_ptr<RegKey> shared) {
  const auto fail = [&](const char* what) {
    throw MachineError(file_, 0,
                       HivexProblem(std::string("hivex cannot read ") + what + " of " +
                                    orv::Utf16ToUtf8(key.Path())));
  };
  Owned<hive_value_h> values(hivex_node_values(hive_, node));
  if (values == nullptr) {
    fail("the values");
  }
  std::vector<RegValue> read;
  for (const hive_value_h* value = values.get(); *value != 0; ++value) {
    Owned<char> name(hivex_value_key(hive_, *value));
    hive_type type{};
    std::size_t size = 0;
    Owned<char> data(hivex_value_value(hive_, *value, &type, &size));
    if (name == nullptr || data == nullptr) {
      fail("a value");
    }
    read.push_back(RegValue{orv::Utf8ToUtf16(name.get()), static_cast<std::uint32_t>(type),
                            std::vector<std::uint8_t>(data.get(), data.get() + size)});
  }
  key.SetValues(read);

  Owned<hive_node_h> children(hivex_node_children(hive_, node));
  if (children == nullptr) {
    fail("the subkeys");
  }
  Node& record = nodes_[&key];
  record.key = std::move(shared);
  record.node = node;
  record.values = Digest(key);
  for (const hive_node_h* child = children.get(); *child != 0; ++child) {
    Owned<char> name(hivex_node_name(hive_, *child));
    if (name == nullptr) {
      fail("a subkey name");
    }
    const std::u16string subkeyName = orv::Utf8ToUtf16(name.get());
    RegKey& subkey = key.CreateSubkey(subkeyName);
    if (nodes_.contains(&subkey)) {
      throw MachineError(file_, 0, "holds the key " + orv::Utf16ToUtf8(subkey.Path()) + " twice");
    }
    record.subkeys.push_back(&subkey);
    Read(*child, subkey, key.SharedSubkey(subkeyName));
  }
}

bool HiveImage::Update() {
  if (mount_->deleted()) {
    throw MachineError(file_, 0, "the key the hive is mounted at was deleted");
  }
  changed_ = false;
  Sync(*mount_, nodes_.at(mount_));
  return changed_;
}

void HiveImage::Sync(const RegKey& key, Node& record) {
  const std::uint64_t values = Digest(key);
  if (values != record.values) {
    WriteValues(record.node, key);
    record.values = values;
  }
  std::vector<const RegKey*> now;
  key.ForEachSubkey([&](const RegKey& subkey) {
    if (subkey.LinkTarget() == nullptr) {
      now.push_back(&subkey);
    }
  });
  if (now != record.subkeys) {
    const std::unordered_set<const RegKey*> kept(now.begin(), now.end());
    for (const RegKey* old : record.subkeys) {
      if (!kept.contains(old)) {
        if (hivex_node_delete_child(hive_, nodes_.at(old).node) != 0) {
          throw MachineError(file_, 0,
                             HivexProblem("hivex cannot delete " + orv::Utf16ToUtf8(old->name())));
        }
        Forget(old);
        changed_ = true;
      }
    }
    for (const RegKey* subkey : now) {
      if (!nodes_.contains(subkey)) {
        Add(record.node, key, *subkey);
      }
    }
    record.subkeys = std::move(now);
  }
  for (const RegKey* subkey : record.subkeys) {
    Sync(*subkey, nodes_.at(subkey));
  }
}

void HiveImage::WriteValues(std::size_t node, const RegKey& key) {
  std::vector<std::string> names;
  names.reserve(key.values().size());
  std::vector<hive_set_value> values;
  for (const RegValue& value : key.values()) {
    if (value.name.find(u'\0') != std::u16string::npos) {
      throw MachineError(file_, 0,
                         "a hive cannot hold a value name with a NUL character, in " +
                             orv::Utf16ToUtf8(key.Path()));
    }
    names.push_back(orv::Utf16ToUtf8(value.name));
    values.push_back(
        hive_set_value{names.back().data(), static_cast<hive_type>(value.type), value.data.size(),
                       reinterpret_cast<char*>(const_cast<std::uint8_t*>(value.data.data()))});
  }
  if (hivex_node_set_values(hive_, node, values.size(), values.data(), 0) != 0) {
    throw MachineError(
        file_, 0, HivexProblem("hivex cannot write the values of " + orv::Utf16ToUtf8(key.Path())));
  }
  changed_ = true;
}

void HiveImage::Add(std::size_t parentNode, const RegKey& parent, const RegKey& key) {
  const hive_node_h node =
      hivex_node_add_child(hive_, parentNode, orv::Utf16ToUtf8(key.name()).c_str());
  if (node == 0) {
    throw MachineError(file_, 0, HivexProblem("hivex cannot add " + orv::Utf16ToUtf8(key.Path())));
  }
  changed_ = true;
  Node& record = nodes_[&key];
  record.key = parent.SharedSubkey(key.name());
  record.node = node;
  record.values = Digest(key);
  if (!key.values().empty()) {
    WriteValues(node, key);
  }
  key.ForEachSubkey([&](const RegKey& subkey) {
    record.subkeys.push_back(&subkey);
    Add(node, key, subkey);
  });
}

void HiveImage::Forget(const RegKey* key) {
  const auto it = nodes_.find(key);
  for (const RegKey* subkey : it->second.subkeys) {
    Forget(subkey);
  }
  nodes_.erase(it);
}

fs::path HiveImage::WriteBeside() {
  std::string name = (file_.parent_path() / ("." + file_.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);  // O_EXCL, a random name
  if (fd < 0) {
    throw MachineError(name, 0, HivexProblem("cannot create"));
  }
  const fs::path written = name;
  const auto fail = [&](const std::string& problem) {
    const std::string text = HivexProblem(problem);
    ::close(fd);
    ::unlink(written.c_str());
    throw MachineError(written, 0, text);
  };
  if (::fchmod(fd, mode_) != 0) {
    fail("cannot set the file mode");
  }
  // hivex writes to a name: this one is the file just created, whatever its folder holds now.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (hivex_commit(hive_, self.c_str(), 0) != 0) {
    fail("hivex cannot write the hive");
  }
  if (::fsync(fd) != 0) {
    fail("cannot flush");
  }
  if (::close(fd) != 0) {
    const std::string text = HivexProblem("cannot close");
    ::unlink(written.c_str());
    throw MachineError(written, 0, text);
  }
  return written;
}

void HiveImage::Replace(const fs::path& written) {
  const fs::path backup = file_.string() + ".orvcard-backup";
  // A hard link keeps the original as it is; an existing backup is never replaced.
  if (::link(file_.c_str(), backup.c_str()) != 0 && errno != EEXIST) {
    throw MachineError(backup, 0, HivexProblem("cannot keep the original hive"));
  }
  if (::rename(written.c_str(), file_.c_str()) != 0) {
    throw MachineError(file_, 0, HivexProblem("cannot replace"));
  }
  const int dir = ::open(file_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || ::fsync(dir) != 0) {
    const std::string text = HivexProblem("cannot flush the folder");
    if (dir >= 0) {
      ::close(dir);
    }
    throw MachineError(file_.parent_path(), 0, text);
  }
  ::close(dir);
}

void SaveHives(const std::vector<std::unique_ptr<HiveImage>>& hives) {
  std::vector<std::pair<HiveImage*, fs::path>> written;
  try {
    for (const std::unique_ptr<HiveImage>& hive : hives) {
      if (hive->Update()) {
        written.emplace_back(hive.get(), fs::path());
        written.back().second = hive->WriteBeside();
      }
    }
    for (auto& [hive, file] : written) {
      hive->Replace(file);
      file.clear();
    }
  } catch (...) {
    for (const auto& [hive, file] : written) {
      if (!file.empty()) {
        ::unlink(file.c_str());
      }
    }
    throw;
  }
}

}  // namespace winsim
