#include "winsim/hive_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "platform/text.h"
#include "platform/win_types.h"
#include "tests/support/hive_files.h"
#include "tests/support/sim_fixture.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace winsim {
namespace {

namespace fs = std::filesystem;
using testing_support::Dump;
using testing_support::ReadFileBytes;

// Every kind of value a hive holds, names that need more than one byte per character, and names
// whose order differs between upper- and lower-case comparison.
std::string OddKeys() {
  std::string big = "\"big\"=hex:00";
  for (int i = 1; i < 20000; ++i) {
    big += ",5a";
  }
  std::string many;  // a key that will lose most of its subkeys
  for (int i = 0; i < 300; ++i) {
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

class HiveImageTest : public ::testing::Test {
 protected:
  HiveImageTest() {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("orvcard-hive-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(dir_);
  }
  ~HiveImageTest() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  fs::path dir_;
};

TEST_F(HiveImageTest, ReadsAndWritesEveryKeyAndValueByteForByte) {
  const Registry source = ParseRegImage(SampleMachineImage() + OddKeys());
  const RegKey& sourceSystem = *source.HKLM().FindSubkey(u"SYSTEM");
  const fs::path file = dir_ / "SYSTEM";
  testing_support::WriteHive(file, sourceSystem);
  const std::string original = ReadFileBytes(file);

  Registry model;
  RegKey& system = model.HKLM().CreateSubkey(u"SYSTEM");
  HiveImage hive(file, system);
  EXPECT_EQ(Dump(system), Dump(sourceSystem));
  EXPECT_FALSE(hive.Update());

  // Each kind of change: values set, edited in place and deleted; trees deleted, added, and
  // deleted then added again under the same name.
  const std::vector<std::function<void()>> changes = {
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
      [&] {  // most subkeys go, two stay (one changed), one comes
        RegKey& many = *Registry::Open(system, u"Odd\\Many");
        for (int i = 1000; i < 1300; ++i) {
          if (i != 1100 && i != 1208) {
            many.DeleteSubkeyTree(orv::Utf8ToUtf16(std::to_string(i)));
          }
        }
        Registry::Open(many, u"1208\\Sub")->SetValue(u"w", orv::REG_SZ, StringData(u"x"));
        Registry::Create(many, u"new");
        many.SetValue(u"kept", orv::REG_DWORD, DwordData(2));
      },
  };
  for (std::size_t i = 0; i < changes.size(); ++i) {
    SCOPED_TRACE("change " + std::to_string(i));
    changes[i]();
    ASSERT_TRUE(hive.Update());
    const fs::path written = hive.WriteBeside();
    EXPECT_EQ(written.parent_path(), dir_);
    hive.Replace(written);
    EXPECT_FALSE(hive.Update());

    Registry back;
    testing_support::ReadHive(file, back.HKLM().CreateSubkey(u"SYSTEM"));
    EXPECT_EQ(Dump(*back.HKLM().FindSubkey(u"SYSTEM")), Dump(system));
    // The first original is kept, and only it.
    EXPECT_EQ(ReadFileBytes(dir_ / "SYSTEM.orvcard-backup"), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
  }
  // What hivex wrote is a clean hive again, and so is the compact form of the test support.
  testing_support::WriteCompactHive(dir_ / "compact", system);
  for (const fs::path& hiveFile : {file, dir_ / "compact"}) {
    Registry again;
    HiveImage reread(hiveFile, again.HKLM().CreateSubkey(u"SYSTEM"));
    EXPECT_EQ(Dump(*again.HKLM().FindSubkey(u"SYSTEM")), Dump(system)) << hiveFile;
  }
}

}  // namespace
}  // namespace winsim
