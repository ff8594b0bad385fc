#include "tests/support/hive_files.h"

#include <hivex.h>

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
    names.push_back(orv::Utf16ToUtf8(value.name));
    values.push_back(
        hive_set_value{names.back().data(), static_cast<hive_type>(value.type), value.data.size(),
                       reinterpret_cast<char*>(const_cast<std::uint8_t*>(value.data.data()))});
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
    into.SetValue(orv::Utf8ToUtf16(name.get()), static_cast<std::uint32_t>(type),
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

void WriteEmptyHive(const fs::path& file) {
  std::vector<std::uint8_t> hive(kBaseBlock + kBin, 0);
  // Base block: signature, equal sequence numbers, version 1.3, a primary file of one bin.
  const char kRegf[] = "regf";
  std::copy(kRegf, kRegf + 4, hive.begin());
  Put32(hive, 0x04, 1);
  Put32(hive, 0x08, 1);
  Put32(hive, 0x14, 1);
  Put32(hive, 0x18, 3);
  Put32(hive, 0x20, 1);     // direct memory load
  Put32(hive, 0x24, 0x20);  // the root cell, relative to the first bin
  Put32(hive, 0x28, kBin);
  Put32(hive, 0x2C, 1);
  MendChecksum(hive);

  const std::size_t bin = kBaseBlock;
  const char kHbin[] = "hbin";
  std::copy(kHbin, kHbin + 4, hive.begin() + bin);
  Put32(hive, bin + 0x08, kBin);

  // The root key cell (allocated cells have a negative size), then its security cell.
  constexpr std::size_t kRoot = 0x20;
  constexpr std::size_t kRootSize = 0x58;
  constexpr std::size_t kSecurity = kRoot + kRootSize;
  constexpr std::size_t kSecuritySize = 0x28;
  const std::size_t root = bin + kRoot + 4;
  Put32(hive, bin + kRoot, static_cast<std::uint32_t>(-static_cast<std::int32_t>(kRootSize)));
  hive[root] = 'n';
  hive[root + 1] = 'k';
  Put16(hive, root + 0x02, 0x2C);  // root entry, not deletable, name in one byte per character
  Put32(hive, root + 0x10, 0xFFFFFFFF);  // no parent
  Put32(hive, root + 0x1C, 0xFFFFFFFF);  // no subkey lists
  Put32(hive, root + 0x20, 0xFFFFFFFF);
  Put32(hive, root + 0x28, 0xFFFFFFFF);  // no value list
  Put32(hive, root + 0x2C, kSecurity);
  Put32(hive, root + 0x30, 0xFFFFFFFF);  // no class name
  const char kName[] = "ROOT";
  Put16(hive, root + 0x48, 4);
  std::copy(kName, kName + 4, hive.begin() + static_cast<std::ptrdiff_t>(root + 0x4C));

  // One security descriptor, its own neighbour in the list, used by the root: self-relative,
  // with a DACL present and null (access for everyone).
  const std::size_t security = bin + kSecurity + 4;
  Put32(hive, bin + kSecurity,
        static_cast<std::uint32_t>(-static_cast<std::int32_t>(kSecuritySize)));
  hive[security] = 's';
  hive[security + 1] = 'k';
  Put32(hive, security + 0x04, kSecurity);
  Put32(hive, security + 0x08, kSecurity);
  Put32(hive, security + 0x0C, 1);
  Put32(hive, security + 0x10, 20);
  hive[security + 0x14] = 1;             // revision
  Put16(hive, security + 0x16, 0x8004);  // self-relative, DACL present

  // The rest of the bin is one free cell.
  const std::size_t free = kSecurity + kSecuritySize;
  Put32(hive, bin + free, static_cast<std::uint32_t>(kBin - free));

  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(hive.data()), static_cast<std::streamsize>(hive.size()));
  if (!out.flush()) {
    throw std::runtime_error("cannot write " + file.string());
  }
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

void MakeOfflineInstallation(const fs::path& root, const winsim::Registry& registry) {
  const fs::path config = root / "Windows" / "System32" / "config";
  fs::create_directories(config);
  fs::create_directories(root / "Windows" / "inf");
  for (const char16_t* hive : {u"SYSTEM", u"SOFTWARE"}) {
    const winsim::RegKey* key = registry.HKLM().FindSubkey(hive);
    winsim::RegKey empty(hive);
    WriteHive(config / orv::Utf16ToUtf8(hive), key == nullptr ? empty : *key);
  }
}

std::string Dump(const winsim::RegKey& key) {
  std::string out;
  const std::function<void(const winsim::RegKey&, const std::string&)> dump =
      [&](const winsim::RegKey& at, const std::string& path) {
        out += "[" + path + "]\n";
        for (const winsim::RegValue& value : at.values()) {
          char head[48];
          std::snprintf(head, sizeof head, " type %x, %zu bytes:", value.type, value.data.size());
          out += "  \"" + orv::Utf16ToUtf8(value.name) + "\"" + head;
          for (std::uint8_t byte : value.data) {
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
