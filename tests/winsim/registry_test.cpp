#include "winsim/registry.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/win_types.h"

namespace winsim {
namespace {

std::vector<std::u16string> Names(const std::vector<RegKey*>& keys) {
  std::vector<std::u16string> names;
  for (const RegKey* key : keys) {
    names.push_back(key->name());
  }
  return names;
}

std::vector<std::u16string> ValueNames(const RegKey& key) {
  std::vector<std::u16string> names;
  for (const RegValue& value : key.values()) {
    names.emplace_back(value.name());
  }
  return names;
}

TEST(RegistryTest, NamesCompareWithoutRegardToCase) {
  Registry registry;
  RegKey& key = Registry::Create(registry.HKLM(), u"SYSTEM\\CurrentControlSet");
  EXPECT_EQ(Registry::Open(registry.HKLM(), u"system\\CURRENTCONTROLSET"), &key);
  EXPECT_EQ(&registry.HKLM().CreateSubkey(u"System"), key.parent());
  EXPECT_EQ(key.Path(), u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet");  // first spelling kept

  key.SetValue(u"PortName", orv::REG_SZ, std::vector<std::uint8_t>{0x41, 0});
  ASSERT_NE(key.FindValue(u"PORTNAME"), nullptr);
  key.SetValue(u"portname", orv::REG_DWORD, std::vector<std::uint8_t>{1, 0, 0, 0});
  ASSERT_EQ(key.values().size(), 1u);
  EXPECT_EQ(key.values()[0].name(), u"PortName");
  EXPECT_EQ(key.values()[0].type(), orv::REG_DWORD);

  // Latin-1 letters fold too; other characters stay as they are.
  EXPECT_EQ(FoldCase(u"caf\u00e9 \u00f7 \u0101"), u"CAF\u00c9 \u00f7 \u0101");
}

TEST(RegistryTest, ValuesKeepTheirOrderWhenReplacedAndCloseUpWhenDeleted) {
  RegKey key(u"K");
  key.SetValue(u"c", orv::REG_SZ, {});
  key.SetValue(u"a", orv::REG_SZ, {});
  key.SetValue(u"b", orv::REG_SZ, {});
  key.SetValue(u"A", orv::REG_BINARY, std::vector<std::uint8_t>{7});  // replaces in place
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"c", u"a", u"b"}));
  EXPECT_EQ(key.ValueIndex(u"B"), 2u);
  EXPECT_TRUE(std::ranges::equal(key.FindValue(u"a")->data(), std::vector<std::uint8_t>{7}));

  EXPECT_TRUE(key.DeleteValue(u"C"));
  EXPECT_FALSE(key.DeleteValue(u"c"));
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(key.ValueIndex(u"b"), 1u);
  EXPECT_EQ(key.ValueIndex(u"missing"), key.values().size());

  key.SetValue(u"c", orv::REG_SZ, {});  // a new value goes to the end
  EXPECT_EQ(ValueNames(key), (std::vector<std::u16string>{u"a", u"b", u"c"}));
  EXPECT_EQ(key.FindValue(u"c"), &key.values()[2]);
}

TEST(RegistryTest, SubkeysEnumerateInCaseInsensitiveNameOrder) {
  RegKey key(u"K");
  for (const char16_t* name : {u"b", u"0001", u"C", u"a", u"Device Parameters", u"0000", u"_x"}) {
    key.CreateSubkey(name);
  }
  EXPECT_EQ(Names(key.Subkeys()), (std::vector<std::u16string>{u"0000", u"0001", u"a", u"b", u"C",
                                                               u"Device Parameters", u"_x"}));
  EXPECT_EQ(key.SubkeyCount(), 7u);
}

TEST(RegistryTest, DeletingATreeMarksEveryKeyInItDeleted) {
  Registry registry;
  RegKey& parent = Registry::Create(registry.HKLM(), u"Enum\\ROOT");
  Registry::Create(parent, u"Device\\0000\\Control");
  std::shared_ptr<RegKey> held = parent.SharedSubkey(u"DEVICE");
  RegKey* instance = Registry::Open(parent, u"Device\\0000");
  RegKey* control = Registry::Open(parent, u"Device\\0000\\Control");
  ASSERT_NE(control, nullptr);

  EXPECT_TRUE(parent.DeleteSubkeyTree(u"device"));
  EXPECT_FALSE(parent.DeleteSubkeyTree(u"Device"));
  EXPECT_EQ(parent.FindSubkey(u"Device"), nullptr);
  EXPECT_EQ(parent.SubkeyCount(), 0u);
  // A handle keeps the deleted keys alive; all of them know they are deleted.
  EXPECT_TRUE(held->deleted());
  EXPECT_TRUE(instance->deleted());
  EXPECT_TRUE(control->deleted());
  EXPECT_EQ(held->parent(), nullptr);
  EXPECT_FALSE(parent.deleted());
}

TEST(RegistryTest, RootsAndPaths) {
  Registry registry;
  EXPECT_EQ(
      Names(registry.Roots()),
      (std::vector<std::u16string>{u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER",
                                   u"HKEY_CLASSES_ROOT", u"HKEY_USERS", u"HKEY_CURRENT_CONFIG"}));
  EXPECT_EQ(registry.Root(u"hklm"), &registry.HKLM());
  EXPECT_EQ(registry.Root(u"HKCU"), registry.Root(u"HKEY_CURRENT_USER"));
  EXPECT_EQ(registry.Root(u"HKEY_NOWHERE"), nullptr);

  RegKey& key = Registry::Create(registry.HKLM(), u"\\HARDWARE\\\\DEVICEMAP\\PARALLEL PORTS\\");
  EXPECT_EQ(key.Path(), u"HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\PARALLEL PORTS");
  EXPECT_EQ(registry.OpenFull(u"HKLM\\hardware\\devicemap\\parallel ports"), &key);
  EXPECT_EQ(registry.OpenFull(u"HKEY_LOCAL_MACHINE"), &registry.HKLM());
  EXPECT_EQ(registry.OpenFull(u"HKLM\\HARDWARE\\MISSING"), nullptr);
  EXPECT_EQ(registry.OpenFull(u"HKXX\\HARDWARE"), nullptr);
}

}  // namespace
}  // namespace winsim
