#include "winsim/file_space.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::SimMachine;
using winsim::FileSpace;

std::string Utf8(const std::u16string& text) {
  return orv::Utf16ToUtf8(text);
}

TEST(FileSpaceTest, FullPathFollowsTheWindowsRules) {
  struct Case {
    std::u16string currentDirectory;
    std::u16string name;
    std::u16string full;
  };
  const Case cases[] = {
      {u"C:\\work", u"*.inf", u"C:\\work\\*.inf"},
      {u"C:\\work", u"orvser.inf", u"C:\\work\\orvser.inf"},
      {u"C:\\work", u"..\\x.inf", u"C:\\x.inf"},
      {u"C:\\work", u"..\\..\\..\\x", u"C:\\x"},
      {u"C:\\work", u".", u"C:\\work"},
      {u"C:\\work", u".\\", u"C:\\work\\"},
      {u"C:\\work", u"\\Windows\\inf", u"C:\\Windows\\inf"},
      {u"C:\\work", u"C:sub\\a.inf", u"C:\\work\\sub\\a.inf"},
      {u"C:\\work", u"c:sub", u"c:\\work\\sub"},
      {u"C:\\work", u"D:sub", u"D:\\sub"},
      {u"C:\\work", u"a/b\\\\c", u"C:\\work\\a\\b\\c"},
      {u"C:\\work", u"C:\\a\\.\\b\\..\\c\\", u"C:\\a\\c\\"},
      {u"C:\\work", u"\\\\server\\share\\x.inf", u"\\\\server\\share\\x.inf"},
      {u"C:\\", u"x.inf", u"C:\\x.inf"},
      {u"C:\\", u"..", u"C:\\"},
      {u"Z:\\home\\me", u"orvser.inf", u"Z:\\home\\me\\orvser.inf"},
      {u"Z:\\home\\me", u"C:", u"C:\\"},
      {u"Z:\\home\\me", u"Z:", u"Z:\\home\\me"},
      {u"Z:\\home\\me", u"\\tmp", u"Z:\\tmp"},
  };
  for (const Case& c : cases) {
    FileSpace files("/nonexistent/drive_c", c.currentDirectory);
    EXPECT_EQ(Utf8(files.FullPath(c.name)), Utf8(c.full))
        << Utf8(c.name) << " in " << Utf8(c.currentDirectory);
  }
}

TEST(FileSpaceTest, HostPathMatchesExistingComponentsWithoutRegardToCase) {
  SimMachine sim("");
  sim.WriteFile("Drivers/INF/OEM0.inf", "x");
  sim.WriteFile("Data/Exact/a.inf", "x");
  sim.WriteFile("Data/EXACT/b.inf", "x");
  const FileSpace& files = sim.api().files();
  const std::filesystem::path c = sim.driveC();

  EXPECT_EQ(files.HostPath(u"C:\\drivers\\inf\\oem0.INF"), c / "Drivers/INF/OEM0.inf");
  // A component that exists as given wins over one that differs only in case.
  EXPECT_EQ(files.HostPath(u"C:\\Data\\EXACT\\b.inf"), c / "Data/EXACT/b.inf");
  EXPECT_EQ(files.HostPath(u"C:\\DATA\\Exact\\a.inf"), c / "Data/Exact/a.inf");
  // Missing components are kept as given, and everything below them too.
  EXPECT_EQ(files.HostPath(u"C:\\DRIVERS\\New\\drivers"), c / "Drivers/New/drivers");
  EXPECT_EQ(files.HostPath(u"C:\\"), c);
  EXPECT_EQ(files.HostPath(u"Z:\\tmp"), std::filesystem::path("/tmp"));
  EXPECT_EQ(files.HostPath(u"z:\\"), std::filesystem::path("/"));
  EXPECT_FALSE(files.HostPath(u"D:\\x"));
  EXPECT_FALSE(files.HostPath(u"\\\\server\\share"));
  EXPECT_FALSE(files.HostPath(u"relative"));
  EXPECT_EQ(files.Resolve(u"..\\drivers\\inf"), c / "Drivers/INF");
}

TEST(FileSpaceTest, WindowsPathShowsDriveCAndTheHostAsZ) {
  SimMachine sim("");
  const FileSpace& files = sim.api().files();
  EXPECT_EQ(Utf8(files.WindowsPath(sim.driveC() / "work")), "C:\\work");
  EXPECT_EQ(Utf8(files.WindowsPath(sim.driveC())), "C:\\");
  EXPECT_EQ(Utf8(files.WindowsPath(sim.driveC() / "Program Files" / "ORVEK")),
            "C:\\Program Files\\ORVEK");
  EXPECT_EQ(Utf8(files.WindowsPath("/usr/share")), "Z:\\usr\\share");
  EXPECT_EQ(Utf8(files.WindowsPath("/")), "Z:\\");
  // The sibling of drive_c is not on drive C:.
  const std::filesystem::path sibling = sim.driveC().parent_path() / "drive_cx";
  EXPECT_EQ(Utf8(files.WindowsPath(sibling)).substr(0, 3), "Z:\\");
}

TEST(FileSpaceTest, WildcardsMatchWithoutRegardToCase) {
  struct Case {
    std::u16string pattern;
    std::u16string name;
    bool matches;
  };
  const Case cases[] = {
      {u"*.inf", u"orvser.inf", true},   {u"*.inf", u"ORVSER.INF", true},
      {u"*.inf", u".inf", true},         {u"*.inf", u"orvser.inf.bak", false},
      {u"*.inf", u"orvserinf", false},   {u"*.inf", u"a.inf.inf", true},
      {u"oem*.inf", u"oem0.inf", true},  {u"oem*.inf", u"OEM12.INF", true},
      {u"oem*.inf", u"oem.inf", true},   {u"oem*.inf", u"xoem1.inf", false},
      {u"oem*.inf", u"oem1.pnf", false}, {u"?.inf", u"a.inf", true},
      {u"?.inf", u"ab.inf", false},      {u"*.*", u"noextension", true},
      {u"*", u"anything.at.all", true},  {u"a*b*c", u"aXbYbZc", true},
      {u"a*b*c", u"aXbYbZ", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(winsim::MatchesWildcard(c.pattern, c.name), c.matches)
        << Utf8(c.pattern) << " on " << Utf8(c.name);
  }
}

TEST(FileSpaceTest, ListingIsInUpperCaseNameOrder) {
  SimMachine sim("");
  for (const char* name : {"b.inf", "_x.inf", "a_b.inf", "aB.inf", "A.inf"}) {
    sim.WriteFile(std::string("list/") + name, "x");
  }
  std::filesystem::create_directories(sim.driveC() / "list" / "Folder");
  const std::optional<std::vector<winsim::DirEntry>> entries =
      winsim::ListDirectory(sim.driveC() / "list");
  ASSERT_TRUE(entries);
  std::vector<std::string> names;
  for (const winsim::DirEntry& entry : *entries) {
    names.push_back(Utf8(entry.name) + (entry.directory ? "/" : ""));
  }
  // Upper-cased, '_' (0x5F) sorts after the letters, '.' before them.
  EXPECT_EQ(names,
            (std::vector<std::string>{"A.inf", "aB.inf", "a_b.inf", "b.inf", "Folder/", "_x.inf"}));
  EXPECT_FALSE(winsim::ListDirectory(sim.driveC() / "missing"));
}

TEST(FileSpaceTest, PathPieces) {
  EXPECT_EQ(Utf8(std::u16string(winsim::LastComponent(u"C:\\work\\a.inf"))), "a.inf");
  EXPECT_EQ(Utf8(std::u16string(winsim::ParentPath(u"C:\\work\\a.inf"))), "C:\\work");
  EXPECT_EQ(Utf8(std::u16string(winsim::ParentPath(u"C:\\a.inf"))), "C:\\");
  EXPECT_EQ(Utf8(std::u16string(winsim::ParentPath(u"a.inf"))), "");
  EXPECT_TRUE(winsim::SameName(u"DriverStore", u"DRIVERSTORE"));
  EXPECT_FALSE(winsim::SameName(u"oem1.inf", u"oem1.inf "));
}

}  // namespace
