#include "tests/support/hive_files.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/text.h"
#include "winsim/hivex_types.h"
#include "winsim/reg_codec.h"

namespace testing_support {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kBaseBlock = 0x1000;
constexpr std::size_t kBin = 0x1000;

void Put16(std::vector<std::uint8_t>& at, std::size_t offset, std::uint32_t number) {
  at[offset] = static_cast<std::uint8_t>(number);
  at[offset + 1] = static_cast<std::uint8_t>(number >> 8);
}

void Put32(std::vector<std::uint8_t>& at, std::size_t offset, std::uint32_t number) {
  Put16(at, offset, number & 0xFFFF);
  Put16(at, offset + 2, number >> 16);
}

std::uint32_t Get32(const std::vector<std::uint8_t>& at, std::size_t offset) {
  return at[offset] | (at[offset + 1] << 8) | (at[offset + 2] << 16) |
         (static_cast<std::uint32_t>(at[offset + 3]) << 24);
}

// The base block's checksum: the XOR of its first 127 double words.
void MendChecksum(std::vector<std::uint8_t>& hive) {
  std::uint32_t sum = 0;
  for (std::size_t offset = 0; offset < 0x1FC; offset += 4) {
    sum ^= Get32(hive, offset);
  }
  Put32(hive, 0x1FC, sum);
}

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
  CompactWriter() : hive_(kBaseBlock + 0x20, 0) {}

  void Write(const fs::path& file, const winsim::RegKey& root) {
    security_ = Cell(0x28);
    Put(security_, "sk");
    Put32(hive_, At(security_) + 0x04, security_);
    Put32(hive_, At(security_) + 0x08, security_);
    Put32(hive_, At(security_) + 0x10, 20);
    hive_[At(security_) + 0x14] = 1;
    Put16(hive_, At(security_) + 0x16, 0x8004);
    const std::uint32_t rootCell = Key(root, 0xFFFFFFFF, 0x2C);
    Put32(hive_, At(security_) + 0x0C, keys_);

    const std::size_t bin = (hive_.size() - kBaseBlock + kBin - 1) / kBin * kBin;
    const std::size_t end = hive_.size();
    hive_.resize(kBaseBlock + bin, 0);
    Put32(hive_, end, static_cast<std::uint32_t>(kBaseBlock + bin - end));  // a free cell
    std::copy_n("hbin", 4, hive_.begin() + kBaseBlock);
    Put32(hive_, kBaseBlock + 0x08, static_cast<std::uint32_t>(bin));
    std::copy_n("regf", 4, hive_.begin());
    for (const auto& [offset, number] : {std::pair<std::size_t, std::uint32_t>{0x04, 1},
                                         {0x08, 1},
                                         {0x14, 1},
                                         {0x18, 3},
                                         {0x20, 1},
                                         {0x24, rootCell},
                                         {0x28, static_cast<std::uint32_t>(bin)},
                                         {0x2C, 1}}) {
      Put32(hive_, offset, number);
    }
    MendChecksum(hive_);
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
    Put32(hive_, offset, static_cast<std::uint32_t>(-static_cast<std::int32_t>(total)));
    return static_cast<std::uint32_t>(offset - kBaseBlock);
  }
  std::size_t At(std::uint32_t cell) const { return kBaseBlock + cell + 4; }
  void Put(std::uint32_t cell, const char* signature) {
    std::copy_n(signature, 2, hive_.begin() + static_cast<std::ptrdiff_t>(At(cell)));
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
    const std::uint32_t cell = Cell(0x14 + name.size());
    Put(cell, "vk");
    const std::size_t at = At(cell);
    Put16(hive_, at + 0x02, static_cast<std::uint32_t>(name.size()));
    const std::uint32_t size = static_cast<std::uint32_t>(value.data().size());
    if (size <= 4) {  // the data in the offset field itself
      Put32(hive_, at + 0x04, size | 0x80000000);
      std::copy(value.data().begin(), value.data().end(),
                hive_.begin() + static_cast<long>(at + 8));
    } else {
      const std::uint32_t data = Cell(size);
      std::copy(value.data().begin(), value.data().end(),
                hive_.begin() + static_cast<std::ptrdiff_t>(At(data)));
      Put32(hive_, At(cell) + 0x04, size);
      Put32(hive_, At(cell) + 0x08, data);
    }
    Put32(hive_, At(cell) + 0x0C, value.type());
    Put16(hive_, At(cell) + 0x10, compressed ? 1 : 0);
    std::copy(name.begin(), name.end(),
              hive_.begin() + static_cast<std::ptrdiff_t>(At(cell) + 0x14));
    return cell;
  }

  // A list of (cell, name hint) entries: one lf, or an ri of lf lists of 1024 at most.
  std::uint32_t SubkeyList(const std::vector<std::pair<std::uint32_t, std::u16string>>& entries) {
    constexpr std::size_t kPerList = 1024;
    std::vector<std::uint32_t> lists;
    for (std::size_t first = 0; first < entries.size(); first += kPerList) {
      const std::size_t count = std::min(kPerList, entries.size() - first);
      const std::uint32_t list = Cell(4 + 8 * count);
      Put(list, "lf");
      Put16(hive_, At(list) + 2, static_cast<std::uint32_t>(count));
      for (std::size_t i = 0; i < count; ++i) {
        const auto& [cell, name] = entries[first + i];
        Put32(hive_, At(list) + 4 + 8 * i, cell);
        for (std::size_t c = 0; c < 4 && c < name.size(); ++c) {
          hive_[At(list) + 8 + 8 * i + c] = static_cast<std::uint8_t>(name[c]);
        }
      }
      lists.push_back(list);
    }
    if (lists.size() == 1) {
      return lists.front();
    }
    const std::uint32_t index = Cell(4 + 4 * lists.size());
    Put(index, "ri");
    Put16(hive_, At(index) + 2, static_cast<std::uint32_t>(lists.size()));
    for (std::size_t i = 0; i < lists.size(); ++i) {
      Put32(hive_, At(index) + 4 + 4 * i, lists[i]);
    }
    return index;
  }

  std::uint32_t Key(const winsim::RegKey& key, std::uint32_t parent, std::uint32_t flags) {
    bool compressed = false;
    const std::vector<std::uint8_t> name = NameBytes(key.name(), &compressed);
    const std::uint32_t cell = Cell(0x4C + name.size());
    ++keys_;
    Put(cell, "nk");
    Put16(hive_, At(cell) + 0x02, flags | (compressed ? 0x20 : 0));
    Put32(hive_, At(cell) + 0x10, parent);
    Put32(hive_, At(cell) + 0x1C, 0xFFFFFFFF);
    Put32(hive_, At(cell) + 0x20, 0xFFFFFFFF);
    Put32(hive_, At(cell) + 0x28, 0xFFFFFFFF);
    Put32(hive_, At(cell) + 0x2C, security_);
    Put32(hive_, At(cell) + 0x30, 0xFFFFFFFF);
    Put16(hive_, At(cell) + 0x48, static_cast<std::uint32_t>(name.size()));
    std::copy(name.begin(), name.end(),
              hive_.begin() + static_cast<std::ptrdiff_t>(At(cell) + 0x4C));

    std::vector<std::uint32_t> values;
    for (const winsim::RegValue& value : key.values()) {
      values.push_back(Value(value));
    }
    if (!values.empty()) {
      const std::uint32_t list = Cell(4 * values.size());
      for (std::size_t i = 0; i < values.size(); ++i) {
        Put32(hive_, At(list) + 4 * i, values[i]);
      }
      Put32(hive_, At(cell) + 0x24, static_cast<std::uint32_t>(values.size()));
      Put32(hive_, At(cell) + 0x28, list);
    }
    std::vector<std::pair<std::uint32_t, std::u16string>> subkeys;
    key.ForEachSubkey([&](const winsim::RegKey& subkey) {
      if (subkey.LinkTarget() == nullptr) {
        subkeys.emplace_back(Key(subkey, cell, 0), subkey.name());
      }
    });
    if (!subkeys.empty()) {
      Put32(hive_, At(cell) + 0x14, static_cast<std::uint32_t>(subkeys.size()));
      Put32(hive_, At(cell) + 0x1C, SubkeyList(subkeys));
    }
    return cell;
  }

  std::vector<std::uint8_t> hive_;
  std::uint32_t security_ = 0;
  std::uint32_t keys_ = 0;
};

}  // namespace

void WriteCompactHive(const fs::path& file, const winsim::RegKey& key) {
  CompactWriter().Write(file, key);
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

void MakeOfflineInstallation(const fs::path& root, const winsim::Registry& registry, bool compact) {
  const fs::path config = root / "Windows" / "System32" / "config";
  fs::create_directories(config);
  fs::create_directories(root / "Windows" / "inf");
  for (const char16_t* hive : {u"SYSTEM", u"SOFTWARE"}) {
    const winsim::RegKey* key = registry.HKLM().FindSubkey(hive);
    winsim::RegKey empty(hive);
    (compact ? WriteCompactHive : WriteHive)(config / orv::Utf16ToUtf8(hive),
                                             key == nullptr ? empty : *key);
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
  std::vector<std::uint8_t> base(0x200);
  hive.read(reinterpret_cast<char*>(base.data()), static_cast<std::streamsize>(base.size()));
  Put32(base, 0x08, Get32(base, 0x04) + 1);
  MendChecksum(base);
  hive.seekp(0);
  hive.write(reinterpret_cast<const char*>(base.data()), static_cast<std::streamsize>(base.size()));
}

}  // namespace testing_support
