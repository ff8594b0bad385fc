#include "tests/support/hive_files.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"
#include "winsim/hive_format.h"
#include "winsim/hivex_types.h"
#include "winsim/reg_codec.h"

namespace testing_support {

namespace fs = std::filesystem;
namespace hive = winsim::hive;

namespace {

struct HiveCloser {
  void operator()(hive_h* hive) const { hivex_close(hive); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;

Hive OpenHive(const fs::path& file, int flags) {
  Hive hive(hivex_open(file.c_str(), flags));
  if (hive == nullptr) {
    throw std::runtime_error("hivex cannot open " + file.string());
  }
  return hive;
}

void AddTree(hive_h* hive, hive_node_h node, const winsim::RegKey& key) {
  std::vector<std::string> names;
  names.reserve(key.values().size());
  std::vector<hive_set_value> values;
  for (const winsim::RegValue& value : key.values()) {
    names.push_back(orv::Utf16ToUtf8(value.name()));
    values.push_back(
        winsim::HiveValue(names.back().data(), value.type(), value.data().size(),
                          reinterpret_cast<char*>(const_cast<std::uint8_t*>(value.data().data()))));
  }
  if (hivex_node_set_values(hive, node, values.size(), values.data(), 0) != 0) {
    throw std::runtime_error("hivex cannot set the values of " + orv::Utf16ToUtf8(key.Path()));
  }
  key.ForEachSubkey([&](const winsim::RegKey& subkey) {
    if (subkey.LinkTarget() != nullptr) {
      return;  // CurrentControlSet: the model's, never a hive's
    }
    const hive_node_h child =
        hivex_node_add_child(hive, node, orv::Utf16ToUtf8(subkey.name()).c_str());
    if (child == 0) {
      throw std::runtime_error("hivex cannot add " + orv::Utf16ToUtf8(subkey.Path()));
    }
    AddTree(hive, child, subkey);
  });
}

void ReadTree(hive_h* hive, hive_node_h node, winsim::RegKey& into) {
  std::unique_ptr<hive_value_h, decltype(&std::free)> values(hivex_node_values(hive, node),
                                                             &std::free);
  for (hive_value_h* value = values.get(); value != nullptr && *value != 0; ++value) {
    std::unique_ptr<char, decltype(&std::free)> name(hivex_value_key(hive, *value), &std::free);
    hive_type type{};
    std::size_t size = 0;
    std::unique_ptr<char, decltype(&std::free)> data(hivex_value_value(hive, *value, &type, &size),
                                                     &std::free);
    if (name == nullptr || data == nullptr) {
      throw std::runtime_error("hivex cannot read a value");
    }
    into.SetValue(orv::Utf8ToUtf16(name.get()), winsim::TypeBits(type),
                  std::vector<std::uint8_t>(data.get(), data.get() + size));
  }
  std::unique_ptr<hive_node_h, decltype(&std::free)> children(hivex_node_children(hive, node),
                                                              &std::free);
  for (hive_node_h* child = children.get(); child != nullptr && *child != 0; ++child) {
    std::unique_ptr<char, decltype(&std::free)> name(hivex_node_name(hive, *child), &std::free);
    ReadTree(hive, *child, into.CreateSubkey(orv::Utf8ToUtf16(name.get())));
  }
}

}  // namespace

namespace {

// Lays out the cells of a hive in one bin, the base block before it.
class CompactWriter {
 public:
  explicit CompactWriter(HiveSecurity security)
      : hive_(hive::kBaseBlockSize + sizeof(hive::BinHeader), 0), mode_(security) {}

  void Write(const fs::path& file, const winsim::RegKey& root) {
    security_ = Descriptor(0x80);  // self-relative, nothing in it
    const std::uint32_t rootCell = Key(root, hive::kNoCell, hive::kKeyHiveEntry | 0x08, security_);
    // The ring of descriptors: one, or two when the Ports class entries have theirs.
    const std::uint32_t other = ports_ == hive::kNoCell ? security_ : ports_;
    Put(security_, hive::SecurityKey{{'s', 'k'}, 0, other, other, references_[0], 20});
    if (ports_ != hive::kNoCell) {
      Put(ports_, hive::SecurityKey{{'s', 'k'}, 0, security_, security_, references_[1], 20});
    }

    const std::size_t end = hive_.size();
    const std::size_t bin = (end - hive::kBaseBlockSize + hive::kBinAlignment - 1) /
                            hive::kBinAlignment * hive::kBinAlignment;
    hive_.resize(hive::kBaseBlockSize + bin, 0);
    if (hive_.size() > end) {  // the rest of the bin: one free cell
      const std::int32_t free = static_cast<std::int32_t>(hive_.size() - end);
      std::memcpy(&hive_[end], &free, 4);
    }
    hive::BinHeader header{};
    std::copy_n("hbin", 4, header.signature);
    header.size = static_cast<std::uint32_t>(bin);
    hive::Write(std::span(hive_), hive::kBaseBlockSize, header);
    hive::BaseBlock base{};
    std::copy_n("regf", 4, base.signature);
    base.primarySequence = base.secondarySequence = 1;
    base.majorVersion = 1;
    base.minorVersion = 3;
    base.fileFormat = 1;
    base.rootCell = rootCell;
    base.binsSize = static_cast<std::uint32_t>(bin);
    base.clusteringFactor = 1;
    base.checksum = hive::Checksum(base);
    hive::Write(std::span(hive_), 0, base);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(hive_.data()),
              static_cast<std::streamsize>(hive_.size()));
    if (!out.flush()) {
      throw std::runtime_error("cannot write " + file.string());
    }
  }

 private:
  // A new allocated cell of `size` bytes of content; its offset from the first bin.
  std::uint32_t Cell(std::size_t size) {
    const std::size_t total = (size + 4 + 7) / 8 * 8;
    const std::size_t offset = hive_.size();
    hive_.resize(offset + total, 0);
    const std::int32_t allocated = -static_cast<std::int32_t>(total);
    std::memcpy(&hive_[offset], &allocated, 4);
    return static_cast<std::uint32_t>(offset - hive::kBaseBlockSize);
  }
  std::uint8_t* Content(std::uint32_t cell) { return &hive_[hive::ContentAt(cell)]; }
  template <typename T>
  void Put(std::uint32_t cell, const T& record) {
    hive::Write(std::span(hive_), hive::ContentAt(cell), record);
  }
  // A name as a hive stores it: one byte per character when every one fits, else UTF-16LE.
  static std::vector<std::uint8_t> NameBytes(std::u16string_view name, bool* compressed) {
    *compressed = std::all_of(name.begin(), name.end(), [](char16_t c) { return c <= 0xFF; });
    std::vector<std::uint8_t> bytes;
    for (char16_t c : name) {
      bytes.push_back(static_cast<std::uint8_t>(c));
      if (!*compressed) {
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
      }
    }
    return bytes;
  }

  std::uint32_t Value(const winsim::RegValue& value) {
    bool compressed = false;
    const std::vector<std::uint8_t> name = NameBytes(value.name(), &compressed);
    const std::uint32_t cell = Cell(sizeof(hive::ValueKey) + name.size());
    hive::ValueKey vk{{'v', 'k'},
                      static_cast<std::uint16_t>(name.size()),
                      static_cast<std::uint32_t>(value.data().size()),
                      0,
                      value.type(),
                      static_cast<std::uint16_t>(compressed ? hive::kValueCompressedName : 0),
                      0};
    if (vk.dataSize <= 4) {  // the data in the offset field itself
      std::memcpy(&vk.data, value.data().data(), value.data().size());
      vk.dataSize |= hive::kDataInline;
    } else {
      vk.data = Cell(value.data().size());
      std::copy(value.data().begin(), value.data().end(), Content(vk.data));
    }
    Put(cell, vk);
    std::copy(name.begin(), name.end(), Content(cell) + sizeof vk);
    return cell;
  }

  // A list of (cell, name hint) entries: one lf, or an ri of lf lists of 1024 at most.
  std::uint32_t SubkeyList(const std::vector<std::pair<std::uint32_t, std::u16string>>& entries) {
    constexpr std::size_t kPerList = 1024;
    std::vector<std::uint32_t> lists;
    for (std::size_t first = 0; first < entries.size(); first += kPerList) {
      const std::size_t count = std::min(kPerList, entries.size() - first);
      const std::uint32_t list = Cell(sizeof(hive::ListHeader) + 8 * count);
      Put(list, hive::ListHeader{{'l', 'f'}, static_cast<std::uint16_t>(count)});
      for (std::size_t i = 0; i < count; ++i) {
        const auto& [cell, name] = entries[first + i];
        hive::HashEntry entry{cell, 0};
        std::uint8_t hint[4] = {};
        for (std::size_t c = 0; c < 4 && c < name.size(); ++c) {
          hint[c] = static_cast<std::uint8_t>(name[c]);
        }
        std::memcpy(&entry.hint, hint, 4);
        hive::Write(std::span(hive_), hive::ContentAt(list) + sizeof(hive::ListHeader) + 8 * i,
                    entry);
      }
      lists.push_back(list);
    }
    if (lists.size() == 1) {
      return lists.front();
    }
    const std::uint32_t index = Cell(sizeof(hive::ListHeader) + 4 * lists.size());
    Put(index, hive::ListHeader{{'r', 'i'}, static_cast<std::uint16_t>(lists.size())});
    std::memcpy(Content(index) + sizeof(hive::ListHeader), lists.data(), 4 * lists.size());
    return index;
  }

  // A security descriptor cell whose descriptor (20 bytes) has the control flags `control` << 8
  // and nothing else.
  std::uint32_t Descriptor(std::uint8_t control) {
    const std::uint32_t cell = Cell(sizeof(hive::SecurityKey) + 20);
    const std::uint8_t descriptor[20] = {1, 0, 0x04, control};
    std::copy_n(descriptor, sizeof descriptor, Content(cell) + sizeof(hive::SecurityKey));
    return cell;
  }

  // The descriptor of the subkeys of `key`, whose own is `security`.
  std::uint32_t SubkeySecurity(const winsim::RegKey& key, std::uint32_t security) {
    const winsim::RegKey* parent = key.parent();
    const bool ports = mode_ == HiveSecurity::kWindows &&
                       winsim::EqualFolded(key.name(), u"{4D36E978-E325-11CE-BFC1-08002BE10318}") &&
                       parent != nullptr && winsim::EqualFolded(parent->name(), u"Class") &&
                       parent->parent() != nullptr &&
                       winsim::EqualFolded(parent->parent()->name(), u"Control");
    if (!ports) {
      return security;
    }
    if (ports_ == hive::kNoCell) {
      ports_ = Descriptor(0x90);  // self-relative, its access list kept from inheritance
    }
    return ports_;
  }

  std::uint32_t Key(const winsim::RegKey& key, std::uint32_t parent, std::uint16_t flags,
                    std::uint32_t security) {
    bool compressed = false;
    const std::vector<std::uint8_t> name = NameBytes(key.name(), &compressed);
    const std::uint32_t cell = Cell(sizeof(hive::KeyNode) + name.size());
    ++references_[security == security_ ? 0 : 1];
    hive::KeyNode nk{};
    nk.signature[0] = 'n';
    nk.signature[1] = 'k';
    nk.flags = static_cast<std::uint16_t>(flags | (compressed ? hive::kKeyCompressedName : 0));
    nk.parent = parent;
    nk.subkeyList = nk.volatileSubkeyList = nk.valueList = nk.className = hive::kNoCell;
    nk.security = security;
    nk.nameLength = static_cast<std::uint16_t>(name.size());
    std::copy(name.begin(), name.end(), Content(cell) + sizeof nk);

    std::vector<std::uint32_t> values;
    for (const winsim::RegValue& value : key.values()) {
      values.push_back(Value(value));
    }
    if (!values.empty()) {
      nk.valueCount = static_cast<std::uint32_t>(values.size());
      nk.valueList = Cell(4 * values.size());
      std::memcpy(Content(nk.valueList), values.data(), 4 * values.size());
    }
    std::vector<std::pair<std::uint32_t, std::u16string>> subkeys;
    const std::uint32_t subkeySecurity = SubkeySecurity(key, security);
    key.ForEachSubkey([&](const winsim::RegKey& subkey) {
      if (subkey.LinkTarget() == nullptr) {
        subkeys.emplace_back(Key(subkey, cell, 0, subkeySecurity), subkey.name());
      }
    });
    if (!subkeys.empty()) {
      nk.subkeyCount = static_cast<std::uint32_t>(subkeys.size());
      nk.subkeyList = SubkeyList(subkeys);
    }
    Put(cell, nk);
    return cell;
  }

  std::vector<std::uint8_t> hive_;
  HiveSecurity mode_;
  std::uint32_t security_ = 0;
  std::uint32_t ports_ = hive::kNoCell;   // the Ports class entries' descriptor
  std::uint32_t references_[2] = {0, 0};  // of security_ and of ports_
};

}  // namespace

void WriteCompactHive(const fs::path& file, const winsim::RegKey& key, HiveSecurity security) {
  CompactWriter(security).Write(file, key);
}

void WriteEmptyHive(const fs::path& file) {
  WriteCompactHive(file, winsim::RegKey(u"ROOT"));
}

void WriteHive(const fs::path& file, const winsim::RegKey& key) {
  WriteEmptyHive(file);
  Hive hive = OpenHive(file, HIVEX_OPEN_WRITE);
  AddTree(hive.get(), hivex_root(hive.get()), key);
  if (hivex_commit(hive.get(), file.c_str(), 0) != 0) {
    throw std::runtime_error("hivex cannot write " + file.string());
  }
}

void ReadHive(const fs::path& file, winsim::RegKey& into) {
  Hive hive = OpenHive(file, 0);
  ReadTree(hive.get(), hivex_root(hive.get()), into);
}

std::string OfflineImage(winsim::Registry registry, int current) {
  registry.HKLM().DeleteSubkeyTree(u"HARDWARE");
  if (winsim::RegKey* devices =
          winsim::Registry::Open(registry.HKLM(), u"SYSTEM\\CurrentControlSet\\Enum")) {
    for (winsim::RegKey* enumerator : devices->Subkeys()) {
      for (winsim::RegKey* device : enumerator->Subkeys()) {
        for (winsim::RegKey* instance : device->Subkeys()) {
          instance->DeleteSubkeyTree(u"Control");
        }
      }
    }
  }
  const std::string text = winsim::WriteRegImage(registry);
  const std::string live = "\\SYSTEM\\CurrentControlSet";
  const std::string set = "\\SYSTEM\\ControlSet00" + std::to_string(current);
  std::string image;
  std::size_t done = 0;
  for (std::size_t at = text.find(live); at != std::string::npos; at = text.find(live, done)) {
    image.append(text, done, at - done).append(set);
    done = at + live.size();
  }
  image.append(text, done);
  return image + "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=dword:0000000" +
         std::to_string(current) + "\n\"LastKnownGood\"=dword:00000001\n\n";
}

void MakeOfflineInstallation(const fs::path& root, const winsim::Registry& registry, bool compact,
                             HiveSecurity security) {
  const fs::path config = root / "Windows" / "System32" / "config";
  fs::create_directories(config);
  fs::create_directories(root / "Windows" / "inf");
  for (const char16_t* hive : {u"SYSTEM", u"SOFTWARE"}) {
    const winsim::RegKey* key = registry.HKLM().FindSubkey(hive);
    winsim::RegKey empty(hive);
    const fs::path file = config / orv::Utf16ToUtf8(hive);
    if (compact) {
      WriteCompactHive(file, key == nullptr ? empty : *key, security);
    } else {
      WriteHive(file, key == nullptr ? empty : *key);
    }
  }
}

std::string Dump(const winsim::RegKey& key) {
  std::string out;
  const std::function<void(const winsim::RegKey&, const std::string&)> dump =
      [&](const winsim::RegKey& at, const std::string& path) {
        out += "[" + path + "]\n";
        for (const winsim::RegValue& value : at.values()) {
          char head[48];
          std::snprintf(head, sizeof head, " type %x, %zu bytes:", value.type(),
                        value.data().size());
          out += "  \"" + orv::Utf16ToUtf8(value.name()) + "\"" + head;
          for (std::uint8_t byte : value.data()) {
            std::snprintf(head, sizeof head, " %02x", byte);
            out += head;
          }
          out += '\n';
        }
        at.ForEachSubkey([&](const winsim::RegKey& subkey) {
          if (subkey.LinkTarget() == nullptr) {
            dump(subkey, path + "\\" + orv::Utf16ToUtf8(subkey.name()));
          }
        });
      };
  dump(key, "");
  return out;
}

void MakeHiveDirty(const fs::path& file) {
  std::fstream hive(file, std::ios::binary | std::ios::in | std::ios::out);
  hive::BaseBlock base{};
  hive.read(reinterpret_cast<char*>(&base), sizeof base);
  base.secondarySequence = base.primarySequence + 1;
  base.checksum = hive::Checksum(base);
  hive.seekp(0);
  hive.write(reinterpret_cast<const char*>(&base), sizeof base);
}

HiveBytes::HiveBytes(fs::path file) : file_(std::move(file)) {
  std::ifstream in(file_, std::ios::binary);
  bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void HiveBytes::Save() const {
  std::ofstream out(file_, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()),
            static_cast<std::streamsize>(bytes_.size()));
}

std::uint32_t HiveBytes::Key(std::u16string_view path) const {
  std::uint32_t key = hive::Read<hive::BaseBlock>(bytes_, 0)->rootCell;
  winsim::ForEachKeyName(path, [&](std::u16string_view name) {
    const auto nk = Get<hive::KeyNode>(key);
    std::vector<std::uint32_t> lists = {nk.subkeyList};
    const auto index = Get<hive::ListHeader>(nk.subkeyList);
    if (nk.subkeyCount != 0 && hive::Is(index.signature, "ri")) {
      lists.clear();
      for (std::size_t i = 0; i < index.count; ++i) {
        lists.push_back(Get<std::uint32_t>(nk.subkeyList, 4 + 4 * i));
      }
    }
    const std::uint32_t parent = key;
    for (std::uint32_t list : nk.subkeyCount == 0 ? std::vector<std::uint32_t>{} : lists) {
      const auto header = Get<hive::ListHeader>(list);
      const std::size_t step = hive::Is(header.signature, "li") ? 4 : 8;
      for (std::size_t i = 0; i < header.count && key == parent; ++i) {
        const auto child = Get<std::uint32_t>(list, 4 + step * i);
        const auto childNode = Get<hive::KeyNode>(child);
        std::u16string childName;  // the compressed names of the test hives
        for (std::size_t c = 0; c < childNode.nameLength; ++c) {
          childName += static_cast<char16_t>(Get<std::uint8_t>(child, sizeof childNode + c));
        }
        key = winsim::EqualFolded(childName, name) ? child : key;
      }
    }
    if (key == parent) {
      throw std::runtime_error("no key " + orv::Utf16ToUtf8(path) + " in " + file_.string());
    }
    return true;
  });
  return key;
}

std::uint32_t HiveBytes::Value(std::uint32_t key, std::size_t index) const {
  return Get<std::uint32_t>(Get<hive::KeyNode>(key).valueList, 4 * index);
}

}  // namespace testing_support
