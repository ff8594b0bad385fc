#include "winsim/hive_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "platform/text.h"
#include "platform/win_types.h"
#include "tests/support/hive_files.h"
#include "tests/support/sim_fixture.h"
#include "winsim/hive_format.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"

namespace winsim {
namespace {

namespace fs = std::filesystem;
using testing_support::Dump;
using testing_support::ReadFileBytes;
using testing_support::WriteCompactHive;
namespace hive = winsim::hive;

// Every kind of value a hive holds, names that need more than one byte per character, and names
// whose order differs between upper- and lower-case comparison.
std::string OddKeys() {
  std::string big = "\"big\"=hex:00";
  for (int i = 1; i < 20000; ++i) {
    big += ",5a";
  }
  std::string many;  // a key that will lose most of its subkeys (more than a list of Windows holds)
  for (int i = 0; i < 1100; ++i) {
    many += "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\Many\\" + std::to_string(1000 + i) +
            "\\Sub]\n\"v\"=dword:" + std::to_string(i) + "\n";
  }
  return many +
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\Wéird \xe2\x82\xac]\n"
         "@=\"default\"\n"
         "\"empty\"=hex(0):\n"
         "\"property\"=hex(ffff0012):01,02,03\n"
         "\"sized\"=hex(1):41,00,00,00,00,00\n"
         "\"dword\"=dword:00000007\n"
         "\"qword\"=hex(b):01,02,03,04,05,06,07,08\n"
         "\"multi\"=hex(7):41,00,00,00,00,00\n"
         "\"z\xc3\xa4h \xe2\x82\xac\"=\"x\"\n" +
         big +
         "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\A_B]\n\"v\"=dword:1\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\AB]\n\"v\"=dword:2\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\A]\n";
}

// A security descriptor of a hive, read raw: its references, the keys that use it, its bytes.
struct Security {
  std::uint32_t references = 0;
  std::uint32_t keys = 0;
  std::string descriptor;
};

// The record of type T at `at` in the hive file `file`.
template <typename T>
T Record(const std::string& file, std::size_t at) {
  const std::span bytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size());
  return hive::Read<T>(bytes, at).value();
}

// The descriptors on the ring from the root key's, and those the keys use, by cell; empty when
// the ring is broken.
std::map<std::uint32_t, Security> Securities(const std::string& file) {
  const auto at = [](std::uint32_t cell) { return hive::ContentAt(cell); };
  const std::uint32_t root = Record<hive::BaseBlock>(file, 0).rootCell;
  const std::uint32_t first = Record<hive::KeyNode>(file, at(root)).security;
  std::map<std::uint32_t, Security> ring;
  std::uint32_t sk = first;
  do {
    const auto record = Record<hive::SecurityKey>(file, at(sk));
    if (ring.contains(sk) || Record<hive::SecurityKey>(file, at(record.next)).previous != sk) {
      return {};
    }
    ring[sk] = {record.references, 0, file.substr(at(sk) + sizeof record, record.descriptorSize)};
    sk = record.next;
  } while (sk != first);
  std::vector<std::uint32_t> keys = {root};
  while (!keys.empty()) {
    const auto key = Record<hive::KeyNode>(file, at(keys.back()));
    keys.pop_back();
    ++ring[key.security].keys;
    std::vector<std::uint32_t> lists = {key.subkeyList};
    for (std::size_t i = 0; key.subkeyCount != 0 && i < lists.size(); ++i) {
      const auto list = Record<hive::ListHeader>(file, at(lists[i]));
      const bool hashed = hive::Is(list.signature, "lf") || hive::Is(list.signature, "lh");
      for (std::size_t entry = 0; entry < list.count; ++entry) {
        std::uint32_t cell = 0;
        std::memcpy(&cell, &file[at(lists[i]) + 4 + entry * (hashed ? 8 : 4)], 4);
        (hive::Is(list.signature, "ri") ? lists : keys).push_back(cell);
      }
    }
  }
  return ring;
}

class HiveImageTest : public ::testing::Test {
 protected:
  ~HiveImageTest() override {
    std::error_code ignored;
    fs::remove(dir_.string() + ".journal", ignored);
  }
  // Where the temporaries written beside `file` are recorded: out of the hive's folder.
  static JournalPlace JournalBeside(const fs::path& file) {
    const fs::path dir = file.parent_path();
    return JournalPlace{dir, dir, dir.string() + ".journal", {file}, false};
  }
  testing_support::TempFolder temp_{"orvcard-hive-"};
  const fs::path dir_ = temp_.path();
};

// The Ports class key of the sample machine: 0000 and 0001 are other devices' entries, 0002 to
// 0007 the card's.
constexpr std::u16string_view kPorts =
    u"CurrentControlSet\\Control\\Class\\{4d36e978-e325-11ce-bfc1-08002be10318}";

// Each kind of change to `system`: values set, edited in place and deleted; trees deleted, added,
// and deleted then added again under the same name; the Ports class entries going (last).
std::vector<std::function<void()>> Changes(RegKey& system) {
  return {
      [&] { Registry::Create(system, u"Odd\\A").SetValue(u"new", orv::REG_SZ, StringData(u"n")); },
      [&] { Registry::Open(system, u"Odd\\Wéird €")->DeleteValue(u"qword"); },
      [&] {
        Registry::Open(system, u"CurrentControlSet\\Control\\COM Name Arbiter")
            ->EditValueData(u"ComDB", [](std::span<std::uint8_t> data) { data[0] = 0; });
      },
      [&] { Registry::Open(system, u"Odd")->DeleteSubkeyTree(u"A_B"); },
      [&] {
        Registry::Create(system, u"New\\Deep\\Er")
            .SetValue(u"x", 0x12345, std::vector<std::uint8_t>{1, 2, 3});
        Registry::Create(system, u"New").SetValue(u"", orv::REG_DWORD, DwordData(5));
      },
      [&] {
        Registry::Open(system, u"Odd")->DeleteSubkeyTree(u"AB");
        Registry::Create(system, u"Odd\\AB\\Sub");
      },
      [&] {  // most subkeys go (a whole list of an index too), two stay (one changed), one comes
        RegKey& many = *Registry::Open(system, u"Odd\\Many");
        for (int i = 1000; i < 2100; ++i) {
          if (i != 1100 && i != 1208) {
            many.DeleteSubkeyTree(orv::Utf8ToUtf16(std::to_string(i)));
          }
        }
        Registry::Open(many, u"1208\\Sub")->SetValue(u"w", orv::REG_SZ, StringData(u"x"));
        Registry::Create(many, u"0new");  // into the first list of an index: the last empties
        many.SetValue(u"kept", orv::REG_DWORD, DwordData(2));
      },
      [&] {
        for (const char16_t* entry : {u"0002", u"0003", u"0004", u"0005", u"0006", u"0007"}) {
          Registry::Open(system, kPorts)->DeleteSubkeyTree(entry);
        }
      },
      [&] {
        Registry::Open(system, kPorts)->DeleteSubkeyTree(u"0000");
        Registry::Open(system, kPorts)->DeleteSubkeyTree(u"0001");
      },
  };
}

// Expects the hive file `bytes` to keep `count` of the descriptors `before` as they were, each
// counting the keys that use it, the others freed.
void ExpectSecurities(const std::string& bytes, const std::map<std::uint32_t, Security>& before,
                      std::size_t count) {
  const std::map<std::uint32_t, Security> now = Securities(bytes);
  EXPECT_EQ(now.size(), count);
  for (const auto& [cell, security] : now) {
    EXPECT_EQ(security.descriptor, before.at(cell).descriptor);
    EXPECT_EQ(security.references, security.keys);
  }
  for (const auto& [cell, security] : before) {
    EXPECT_TRUE(now.contains(cell) || Record<std::int32_t>(bytes, 0x1000 + cell) > 0);
  }
}

// Made through hivex, and laid out as Windows lays out a hive, where the Ports class entries have
// a security descriptor of their own (which goes with the last of them).
TEST_F(HiveImageTest, ReadsAndWritesEveryKeyAndValueByteForByte) {
  const Registry source = ParseRegImage(SampleMachineImage() + OddKeys());
  const RegKey& sourceSystem = *source.HKLM().FindSubkey(u"SYSTEM");
  for (const bool windows : {false, true}) {
    SCOPED_TRACE(windows ? "Windows' layout" : "made through hivex");
    const fs::path dir = dir_ / (windows ? "windows" : "hivex");
    fs::create_directories(dir);
    const fs::path file = dir / "SYSTEM";
    if (windows) {
      WriteCompactHive(file, sourceSystem, testing_support::HiveSecurity::kWindows);
    } else {
      testing_support::WriteHive(file, sourceSystem);
    }
    const std::string original = ReadFileBytes(file);
    const std::map<std::uint32_t, Security> before = Securities(original);
    ASSERT_EQ(before.size(), windows ? 2 : 1);

    Registry model;
    RegKey& system = model.HKLM().CreateSubkey(u"SYSTEM");
    HiveImage hive(file, system);
    Journal journal(JournalBeside(file));
    EXPECT_EQ(Dump(system), Dump(sourceSystem));
    EXPECT_FALSE(hive.Update());
    const std::vector<std::function<void()>> changes = Changes(system);
    for (std::size_t i = 0; i < changes.size(); ++i) {
      SCOPED_TRACE("change " + std::to_string(i));
      changes[i]();
      ASSERT_TRUE(hive.Update());
      const fs::path written = hive.WriteBeside(journal);
      EXPECT_EQ(written.parent_path(), dir);
      hive.ReadBack(written);
      hive.Replace(written);
      EXPECT_FALSE(hive.Update());

      Registry back;
      testing_support::ReadHive(file, back.HKLM().CreateSubkey(u"SYSTEM"));
      EXPECT_EQ(Dump(*back.HKLM().FindSubkey(u"SYSTEM")), Dump(system));
      // The first original is kept, and only it.
      EXPECT_EQ(ReadFileBytes(dir / "SYSTEM.orvcard-backup"), original);
      EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
      ExpectSecurities(ReadFileBytes(file), before, windows && i + 1 < changes.size() ? 2 : 1);
    }
    // What was written reads as a clean hive again, and so does the compact form.
    testing_support::WriteCompactHive(dir / "compact", system);
    for (const fs::path& hiveFile : {file, dir / "compact"}) {
      Registry again;
      HiveImage reread(hiveFile, again.HKLM().CreateSubkey(u"SYSTEM"));
      EXPECT_EQ(Dump(*again.HKLM().FindSubkey(u"SYSTEM")), Dump(system)) << hiveFile;
    }
  }
}

// Replaces the one place of `bytes` that holds `from` in UTF-16LE with `to`.
void ReplaceUtf16(std::string& bytes, std::string_view from, std::string_view to) {
  const auto utf16 = [](std::string_view text) {
    std::string units;
    for (char c : text) {
      units += {c, '\0'};
    }
    return units;
  };
  const std::size_t at = bytes.find(utf16(from));
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.find(utf16(from), at + 1), std::string::npos);
  bytes.replace(at, 2 * from.size(), utf16(to));
}

// A written hive that hivex cannot read, or that holds other than the model, replaces nothing;
// the next write that reads back does.
TEST_F(HiveImageTest, AWriteThatDoesNotReadBackReplacesNothing) {
  const Registry source = ParseRegImage(SampleMachineImage() + OddKeys());
  const fs::path file = dir_ / "SYSTEM";
  testing_support::WriteHive(file, *source.HKLM().FindSubkey(u"SYSTEM"));
  const std::string original = ReadFileBytes(file);
  Registry model;
  RegKey& system = model.HKLM().CreateSubkey(u"SYSTEM");
  HiveImage hive(file, system);
  Journal journal(JournalBeside(file));
  Registry::Open(system, u"Odd")->DeleteSubkeyTree(u"A_B");
  // Each spoils the bytes written: a value's data, a key's name, the length.
  const std::pair<std::function<void(std::string&)>, const char*> kSpoils[] = {
      {[](std::string& bytes) { ReplaceUtf16(bytes, "default", "dEfault"); },
       "does not read back as it was written: the values of"},
      {[](std::string& bytes) { ReplaceUtf16(bytes, "W\xe9ird", "Weird"); },
       "does not read back as it was written: the subkeys of"},
      {[](std::string& bytes) { bytes.resize(100); }, "is not a hive file"},
  };
  for (const auto& [spoil, problem] : kSpoils) {
    SCOPED_TRACE(problem);
    ASSERT_TRUE(hive.Update());
    const fs::path written = hive.WriteBeside(journal);
    std::string bytes = ReadFileBytes(written);
    spoil(bytes);
    std::ofstream(written, std::ios::binary | std::ios::trunc) << bytes;
    try {
      hive.ReadBack(written);
      ADD_FAILURE() << "read back";
    } catch (const MachineError& error) {
      EXPECT_EQ(std::string(error.what()).find(written.string() + ": " + problem), 0)
          << error.what();
    }
    EXPECT_THROW(hive.Replace(written), MachineError);
    EXPECT_EQ(ReadFileBytes(file), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  }
  ASSERT_TRUE(hive.Update());
  const fs::path written = hive.WriteBeside(journal);
  hive.ReadBack(written);
  hive.Replace(written);
  Registry back;
  testing_support::ReadHive(file, back.HKLM().CreateSubkey(u"SYSTEM"));
  EXPECT_EQ(Dump(*back.HKLM().FindSubkey(u"SYSTEM")), Dump(system));
}

}  // namespace
}  // namespace winsim
