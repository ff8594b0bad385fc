// The registry and its image as machines grow: change tracking that costs what changed, many
// siblings deleted one by one, keys with many values, deep trees, images read from a stream and
// written in pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include "platform/text.h"
#include "platform/win_types.h"
#include "tests/support/sim_fixture.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"
#include "winsim/registry.h"

namespace winsim {
namespace {

using testing_support::DumpRegistry;

using Bytes = std::vector<std::uint8_t>;

std::u16string Number(std::size_t n, std::size_t width) {
  std::u16string text = orv::Utf8ToUtf16(std::to_string(n));
  return std::u16string(width > text.size() ? width - text.size() : 0, u'0') + text;
}

std::vector<std::u16string> Names(const std::vector<RegKey*>& keys) {
  std::vector<std::u16string> names;
  for (const RegKey* key : keys) {
    names.push_back(key->name());
  }
  return names;
}

// HKLM\A\K with values x and y, HKLM\A\Sub, HKLM\B.
void Fill(Registry& registry) {
  RegKey& k = Registry::Create(registry.HKLM(), u"A\\K");
  k.SetValue(u"x", orv::REG_SZ, StringData(u"1"));
  k.SetValue(u"y", orv::REG_DWORD, Bytes{2, 0, 0, 0});
  Registry::Create(registry.HKLM(), u"A\\Sub");
  Registry::Create(registry.HKLM(), u"B");
}

TEST(RegistryScaleTest, ChangedSinceBaselineComparesWhatChanged) {
  struct Case {
    const char* what;
    std::function<void(Registry&)> change;
    bool changed;
  };
  const auto key = [](Registry& r) -> RegKey& { return *Registry::Open(r.HKLM(), u"A\\K"); };
  const Case cases[] = {
      {"nothing", [](Registry&) {}, false},
      {"a value set to its own data",
       [&](Registry& r) { key(r).SetValue(u"X", orv::REG_SZ, StringData(u"1")); }, false},
      {"a value changed and changed back",
       [&](Registry& r) {
         key(r).SetValue(u"x", orv::REG_SZ, StringData(u"2"));
         key(r).SetValue(u"x", orv::REG_SZ, StringData(u"1"));
       },
       false},
      {"a value changed",
       [&](Registry& r) { key(r).SetValue(u"x", orv::REG_SZ, StringData(u"2")); }, true},
      {"a value of another type",
       [&](Registry& r) {
         key(r).SetValue(u"y", orv::REG_BINARY, Bytes{2, 0, 0, 0});
       },
       true},
      {"the last value deleted and set again",
       [&](Registry& r) {
         key(r).DeleteValue(u"y");
         key(r).SetValue(u"y", orv::REG_DWORD, Bytes{2, 0, 0, 0});
       },
       false},
      {"the first value deleted and set again: the order differs",
       [&](Registry& r) {
         key(r).DeleteValue(u"x");
         key(r).SetValue(u"x", orv::REG_SZ, StringData(u"1"));
       },
       true},
      {"a value added", [&](Registry& r) { key(r).SetValue(u"z", orv::REG_NONE, {}); }, true},
      {"values set whole",
       [](Registry& r) {
         std::vector<RegValue> values = {{u"w", orv::REG_NONE, {}}};
         r.HKLM().FindSubkey(u"B")->SetValues(values);
       },
       true},
      {"a link made",
       [](Registry& r) { r.HKLM().LinkSubkey(u"L", r.HKLM().SharedSubkey(u"B"), false); }, true},
      {"a key created and deleted again",
       [](Registry& r) {
         Registry::Create(r.HKLM(), u"A\\New\\Deeper");
         r.HKLM().FindSubkey(u"A")->DeleteSubkeyTree(u"New");
       },
       false},
      {"a key created", [](Registry& r) { Registry::Create(r.HKLM(), u"C"); }, true},
      {"a key deleted", [](Registry& r) { r.HKLM().DeleteSubkeyTree(u"B"); }, true},
      {"a key deleted and created again",
       [](Registry& r) {
         r.HKLM().DeleteSubkeyTree(u"B");
         Registry::Create(r.HKLM(), u"B");
       },
       true},
      {"a value in a key created since",
       [](Registry& r) { Registry::Create(r.HKLM(), u"A\\New").SetValue(u"v", orv::REG_SZ, {}); },
       true},
      {"a value changed in a key deleted since",
       [&](Registry& r) {
         key(r).SetValue(u"x", orv::REG_SZ, StringData(u"2"));
         r.HKLM().DeleteSubkeyTree(u"A");
       },
       true},
  };
  for (const Case& c : cases) {
    Registry registry;
    Fill(registry);
    EXPECT_FALSE(registry.ChangedSinceBaseline()) << c.what;  // no baseline: nothing is kept
    registry.TakeBaseline();
    c.change(registry);
    EXPECT_EQ(registry.ChangedSinceBaseline(), c.changed) << c.what;
    // A new baseline takes the registry as it now stands.
    registry.TakeBaseline();
    EXPECT_FALSE(registry.ChangedSinceBaseline()) << c.what;
    Registry::Create(registry.HKLM(), u"B\\Again");
    EXPECT_TRUE(registry.ChangedSinceBaseline()) << c.what;
  }
}

TEST(RegistryScaleTest, SiblingsDeletedOneByOneLeaveAConsistentKey) {
  Registry registry;
  RegKey& parent = Registry::Create(registry.HKLM(), u"Enum\\ROOT\\Device");
  constexpr std::size_t kCount = 1000;
  for (std::size_t i = kCount; i-- > 0;) {  // against the order, to exercise insertion
    Registry::Create(parent, Number(i, 4) + u"\\Control");
  }
  std::vector<std::shared_ptr<RegKey>> held;
  for (std::size_t i = 0; i < kCount; i += 2) {
    held.push_back(parent.SharedSubkey(Number(i, 4)));
    ASSERT_TRUE(parent.DeleteSubkeyTree(Number(i, 4)));
    EXPECT_FALSE(parent.DeleteSubkeyTree(Number(i, 4)));
    EXPECT_EQ(parent.SubkeyCount(), kCount - i / 2 - 1);
  }
  std::vector<std::u16string> odd;
  for (std::size_t i = 1; i < kCount; i += 2) {
    odd.push_back(Number(i, 4));
  }
  EXPECT_EQ(Names(parent.Subkeys()), odd);
  EXPECT_EQ(parent.FindSubkey(u"0000"), nullptr);
  EXPECT_NE(parent.FindSubkey(u"0001"), nullptr);
  // The deleted keys keep their trees for whoever holds them.
  EXPECT_TRUE(held.front()->deleted());
  EXPECT_EQ(held.front()->parent(), nullptr);
  EXPECT_EQ(Names(held.front()->Subkeys()), std::vector<std::u16string>{u"Control"});
  EXPECT_TRUE(held.front()->FindSubkey(u"control")->deleted());

  // A name deleted before can be created again, in its place.
  RegKey& again = parent.CreateSubkey(u"0500");
  EXPECT_FALSE(again.deleted());
  EXPECT_EQ(again.parent(), &parent);
  EXPECT_EQ(parent.Subkeys()[250], &again);
  EXPECT_EQ(parent.SubkeyCount(), kCount / 2 + 1);
  for (std::size_t i = 1; i < kCount; i += 2) {
    ASSERT_TRUE(parent.DeleteSubkeyTree(Number(i, 4)));
  }
  EXPECT_EQ(Names(parent.Subkeys()), std::vector<std::u16string>{u"0500"});
}

TEST(RegistryScaleTest, KeysWithManyValuesFindThemByName) {
  RegKey key(u"PARALLEL PORTS");
  constexpr std::size_t kCount = 200;
  for (std::size_t i = 0; i < kCount; ++i) {
    key.SetValue(u"\\Device\\Parallel" + Number(i, 0), orv::REG_SZ, StringData(Number(i, 0)));
  }
  key.SetValue(u"\\DEVICE\\PARALLEL7", orv::REG_DWORD, Bytes{7, 0, 0, 0});  // replaces in place
  ASSERT_EQ(key.values().size(), kCount);
  EXPECT_EQ(key.ValueIndex(u"\\device\\parallel7"), 7u);
  EXPECT_EQ(key.values()[7].type(), orv::REG_DWORD);
  EXPECT_EQ(key.values()[7].name(), u"\\Device\\Parallel7");

  EXPECT_TRUE(key.DeleteValue(u"\\Device\\Parallel3"));
  EXPECT_FALSE(key.DeleteValue(u"\\Device\\Parallel3"));
  EXPECT_EQ(key.FindValue(u"\\Device\\Parallel3"), nullptr);
  for (std::size_t i = 4; i < kCount; ++i) {
    ASSERT_EQ(key.ValueIndex(u"\\Device\\Parallel" + Number(i, 0)), i - 1);
  }
  key.SetValue(u"\\Device\\Parallel3", orv::REG_SZ, {});
  EXPECT_EQ(key.ValueIndex(u"\\Device\\Parallel3"), kCount - 1);
  EXPECT_EQ(key.ValueIndex(u"missing"), kCount);

  // Emptied and filled again together, as a reader does, the key still finds every value.
  for (std::size_t i = 0; i < kCount; ++i) {
    ASSERT_TRUE(key.DeleteValue(u"\\Device\\Parallel" + Number(i, 0)));
  }
  std::vector<RegValue> again = {{u"a", orv::REG_SZ, {}}, {u"b", orv::REG_SZ, {}}};
  key.SetValues(again);
  EXPECT_TRUE(again.empty());
  EXPECT_EQ(key.ValueIndex(u"B"), 1u);

  // Deleted in a scattered order, the rest keep their order and are found by name.
  for (std::size_t i = 0; i < kCount; ++i) {
    key.SetValue(u"v" + Number(i, 0), orv::REG_DWORD, {});
  }
  std::vector<std::u16string> left;
  for (std::size_t i = 0; i < kCount; ++i) {
    if (i % 3 == 0 || i % 7 == 0) {
      ASSERT_TRUE(key.DeleteValue(u"V" + Number(i, 0)));
    } else {
      left.push_back(u"v" + Number(i, 0));
    }
  }
  ASSERT_EQ(key.values().size(), left.size() + 2);
  for (std::size_t i = 0; i < left.size(); ++i) {
    ASSERT_EQ(key.ValueIndex(left[i]), i + 2);
  }

  // A list that names one value twice sets it as SetValue would: the later data wins in place.
  RegKey fresh(u"K");
  std::vector<RegValue> twice = {{u"x", orv::REG_SZ, Bytes{1}},
                                 {u"y", orv::REG_SZ, Bytes{2}},
                                 {u"X", orv::REG_DWORD, Bytes{3}}};
  fresh.SetValues(twice);
  ASSERT_EQ(fresh.values().size(), 2u);
  EXPECT_EQ(fresh.values()[0].name(), u"x");
  EXPECT_EQ(fresh.values()[0].type(), orv::REG_DWORD);
  EXPECT_EQ(testing_support::BytesOf(fresh.values()[0].data()), Bytes{3});
}

TEST(RegistryScaleTest, DeepTreesNeedNoStack) {
  // Deeper than any image may be (kMaxKeyDepth), as calls could make one: writing, showing the
  // path, deleting and freeing it walk it without recursion.
  constexpr std::size_t kDepth = 30000;  // deep enough to have overflowed the stack before
  Registry registry;
  RegKey* deepest = &registry.HKLM();
  for (std::size_t i = 0; i < kDepth; ++i) {
    deepest = &deepest->CreateSubkey(u"k");
  }
  EXPECT_EQ(deepest->Path().size(), std::u16string(u"HKEY_LOCAL_MACHINE").size() + 2 * kDepth);
  // The whole image would be quadratic in the depth: the first pieces do.
  struct Enough {};
  std::size_t keyLines = 0;
  EXPECT_THROW(WriteRegImage(registry,
                             [&](std::string_view piece) {
                               keyLines += static_cast<std::size_t>(
                                   std::count(piece.begin(), piece.end(), '['));
                               if (keyLines >= 1000) {
                                 throw Enough{};
                               }
                             }),
               Enough);
  registry.TakeBaseline();
  EXPECT_TRUE(registry.HKLM().DeleteSubkeyTree(u"k"));
  EXPECT_TRUE(registry.ChangedSinceBaseline());

  // An image of the deepest tree allowed reads and writes back to itself.
  std::string image = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE";
  for (std::size_t i = 0; i < kMaxKeyDepth; ++i) {
    image += "\\k";
  }
  image += "]\n\"deepest\"=dword:00000001\n";
  const std::string canonical = WriteRegImage(ParseRegImage(image));
  EXPECT_EQ(WriteRegImage(ParseRegImage(canonical)), canonical);
}

TEST(RegistryScaleTest, ValueDataChangesWhereItLies) {
  Registry registry;
  RegKey& key = Registry::Create(registry.HKLM(), u"COM Name Arbiter");
  key.SetValue(u"ComDB", orv::REG_BINARY, Bytes(4096, 0xFF));
  key.SetValue(u"Other", orv::REG_DWORD, Bytes{1, 0, 0, 0});
  registry.TakeBaseline();
  const auto clearBit = [](std::size_t bit) {
    return [bit](std::span<std::uint8_t> data) {
      data[bit / 8] &= static_cast<std::uint8_t>(~(1u << bit % 8));
    };
  };
  EXPECT_TRUE(key.EditValueData(u"comdb", clearBit(12)));
  EXPECT_FALSE(key.EditValueData(u"missing", clearBit(0)));
  EXPECT_EQ(key.ValueIndex(u"ComDB"), 0u);
  EXPECT_EQ(key.values()[0].type(), orv::REG_BINARY);
  EXPECT_EQ(key.values()[0].data()[1], 0xEF);
  EXPECT_EQ(key.values()[0].data().size(), 4096u);
  EXPECT_TRUE(registry.ChangedSinceBaseline());
  EXPECT_TRUE(key.EditValueData(
      u"ComDB", [](std::span<std::uint8_t> data) { data[1] = 0xFF; }));  // back again
  EXPECT_FALSE(registry.ChangedSinceBaseline());
}

// A registry whose image takes several of the reader's and the writer's pieces (of a megabyte).
Registry LargeRegistry(std::u16string_view text) {
  Registry registry;
  for (std::size_t i = 0; i < 6000; ++i) {
    RegKey& key = Registry::Create(registry.HKLM(), u"SYSTEM\\Enum\\BUS\\DEV\\" + Number(i, 5));
    key.SetValue(u"FriendlyName", orv::REG_SZ, StringData(std::u16string(text) + Number(i, 0)));
    key.SetValue(u"HardwareID", orv::REG_MULTI_SZ, Bytes(70 + i % 50, 0x41));
    key.SetValue(u"ConfigFlags", orv::REG_DWORD, Bytes{1, 2, 3, 4});
  }
  return registry;
}

TEST(RegistryScaleTest, AStreamReadsAsTheSameBytesInMemory) {
  struct Case {
    const char* what;
    std::string image;
    std::string canonical;  // what the image reads as, written canonically
  };
  const Registry ascii = LargeRegistry(u"Port ");
  const Registry accented = LargeRegistry(u"Caf\u00e9 ");
  const std::string late = "\"Late\"=\"Caf\xE9\"\n";  // Latin-1, after the first piece
  std::string latin1 = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Early]\n\"Name\"=\"\xC3\xA9\"\n";
  latin1 +=
      WriteRegImage(ascii).substr(std::string("Windows Registry Editor Version 5.00\n").size());
  latin1 += "[HKEY_LOCAL_MACHINE\\Early]\n" + late;
  const Case cases[] = {
      {"UTF-8, ASCII only", WriteRegImage(ascii), WriteRegImage(ascii)},
      {"UTF-8 with accents", WriteRegImage(accented), WriteRegImage(accented)},
      {"UTF-16 as regedit writes it", WriteRegImageUtf16(accented), WriteRegImage(accented)},
      // An early pair of bytes that is UTF-8 does not make the image UTF-8: a byte after the
      // first piece is not, so the whole image is Latin-1.
      {"Latin-1 decided by a late byte", latin1, ""},
      // Images shorter than one piece, read to their end before the first accent.
      {"short UTF-8",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"caf\xC3\xA9\"\n",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\K]\n"
       "\"v\"=\"caf\xC3\xA9\"\n\n"},
      {"short Latin-1", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"v\"=\"caf\xE9\"\n",
       "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\K]\n"
       "\"v\"=\"caf\xC3\xA9\"\n\n"},
  };
  ASSERT_GT(latin1.size(), 2u << 20);
  for (const Case& c : cases) {
    const Registry fromMemory = ParseRegImage(c.image);
    std::istringstream stream(c.image);
    Registry fromStream;
    ReadRegImage(stream, fromStream);
    EXPECT_EQ(DumpRegistry(fromStream), DumpRegistry(fromMemory)) << c.what;
    if (!c.canonical.empty()) {
      EXPECT_EQ(WriteRegImage(fromStream), c.canonical) << c.what;
    }
  }
  const Registry latin = ParseRegImage(latin1);
  EXPECT_EQ(testing_support::BytesOf(latin.OpenFull(u"HKLM\\Early")->FindValue(u"Name")->data()),
            StringData(u"\u00c3\u00a9"));
  EXPECT_EQ(testing_support::BytesOf(latin.OpenFull(u"HKLM\\Early")->FindValue(u"Late")->data()),
            StringData(u"Caf\u00e9"));
}

TEST(RegistryScaleTest, StreamErrorsNameTheirLines) {
  const std::string image = WriteRegImage(LargeRegistry(u"x"));
  struct Case {
    const char* what;
    std::string image;
    int line;
  };
  const std::size_t lines = static_cast<std::size_t>(std::count(image.begin(), image.end(), '\n'));
  const Case cases[] = {
      {"a bad line after the first piece", image + "\"v\"=dword:xyz\n",
       static_cast<int>(lines) + 1},
      {"a continuation at the very end", image + "\"v\"=hex:01,\\", static_cast<int>(lines) + 1},
      {"UTF-16 of odd length", WriteRegImageUtf16(LargeRegistry(u"y")) + "x", 0},
  };
  for (const Case& c : cases) {
    std::istringstream stream(c.image);
    Registry registry;
    try {
      ReadRegImage(stream, registry);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const RegFormatError& error) {
      EXPECT_EQ(error.line(), c.line) << c.what << ": " << error.what();
    }
  }
}

TEST(RegistryScaleTest, TheImageInPiecesIsTheImage) {
  Registry registry = LargeRegistry(u"Caf\u00e9 ");
  // A key and values larger than a piece: a text of two-byte characters and a surrogate pair,
  // and hex data of several lines, are cut between characters.
  RegKey& big = Registry::Create(registry.HKLM(), u"SOFTWARE\\Big");
  big.SetValue(u"Text", orv::REG_SZ, StringData(std::u16string(700000, u'\u00e9') + u"\U0001F600"));
  big.SetValue(u"Blob", orv::REG_BINARY, Bytes(1u << 20, 0xA5));
  for (std::size_t i = 0; i < 40000; ++i) {
    big.SetValue(u"Value" + Number(i, 5), orv::REG_DWORD, Bytes(4, 1));
  }
  std::vector<std::string> pieces;
  WriteRegImage(registry, [&](std::string_view piece) { pieces.emplace_back(piece); });
  ASSERT_GE(pieces.size(), 3u);
  std::string joined;
  for (const std::string& piece : pieces) {
    EXPECT_LE(piece.size(), (1u << 20) + 4096);
    joined += piece;
  }
  EXPECT_EQ(joined, WriteRegImage(registry));
  EXPECT_EQ(WriteRegImage(ParseRegImage(WriteRegImageUtf16(registry))), joined);
}

}  // namespace
}  // namespace winsim
