// The driver-package interface of the simulated machine and its driver store.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/sim_fixture.h"
#include "winsim/difx_store.h"

namespace {

using namespace orv;
using namespace testing_support;
namespace fs = std::filesystem;

const std::string kAmd64Image = EnvironmentImage(
    "\"PROCESSOR_ARCHITECTURE\"=\"AMD64\"\n"
    "\"SystemRoot\"=\"C:\\\\Windows\"\n");

// Copies sample files into C:\work.
void CopySamples(SimMachine& sim, std::initializer_list<const char*> names) {
  for (const char* name : names) {
    sim.WriteFile(std::string("work/") + name, ReadFileBytes(SamplePackages() / name));
  }
}

// A minimal INF: signed through `catalog` unless it is empty.
std::string Inf(const std::string& catalog, const std::string& extra = "") {
  std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n";
  if (!catalog.empty()) {
    text += "CatalogFile=" + catalog + "\r\n";
  }
  return text + "Provider=%Mfg%\r\n" + extra + "[Strings]\r\nMfg=\"ORVEK Co., Ltd.\"\r\n";
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  const std::optional<std::vector<winsim::DirEntry>> entries = winsim::ListDirectory(folder);
  if (entries) {
    for (const winsim::DirEntry& entry : *entries) {
      names.push_back(Utf16ToUtf8(entry.name));
    }
  }
  return names;
}

DWORD Install(SimMachine& sim, const WCHAR* inf, DWORD flags = DRIVER_PACKAGE_SILENT) {
  BOOL reboot = TRUE;
  const DWORD status = sim.api().DriverPackageInstallW(inf, flags, nullptr, &reboot);
  EXPECT_EQ(reboot, FALSE);
  return status;
}

DWORD Uninstall(SimMachine& sim, const WCHAR* inf) {
  BOOL reboot = FALSE;
  return sim.api().DriverPackageUninstallW(inf, DRIVER_PACKAGE_SILENT | DRIVER_PACKAGE_DELETE_FILES,
                                           nullptr, &reboot);
}

std::string StorePath(SimMachine& sim, const WCHAR* inf, DWORD* status) {
  WCHAR path[261] = {};
  DWORD chars = 261;
  *status = sim.api().DriverPackageGetPathW(inf, path, &chars);
  return Utf16ToUtf8(path);
}

TEST(SimDifxTest, InstallStoresThePackageAndPublishesItsInf) {
  SimMachine sim(kAmd64Image);
  CopySamples(sim,
              {"orvser.inf", "orvser.cat", "orvser.sys", "orvpar.inf", "orvpar.cat", "orvpar.sys"});
  ASSERT_EQ(Install(sim, u"C:\\work\\orvser.inf"), 0u);
  ASSERT_EQ(Install(sim, u"C:\\work\\orvpar.inf"), 0u);

  const std::vector<std::string> folders = Names(sim.driveC() / kDriverStore);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(folders[0].substr(0, 17), "orvpar.inf_amd64_");
  EXPECT_EQ(folders[0].size(), 17u + 16u);
  EXPECT_EQ(folders[1].substr(0, 17), "orvser.inf_amd64_");
  EXPECT_EQ(Names(sim.driveC() / kDriverStore / folders[1]),
            (std::vector<std::string>{"orvser.cat", "orvser.inf", "orvser.sys"}));
  EXPECT_EQ(ReadFileBytes(sim.driveC() / kDriverStore / folders[1] / "orvser.inf"),
            ReadFileBytes(SamplePackages() / "orvser.inf"));

  // Published in installation order, as copies of the INF files.
  EXPECT_EQ(Names(sim.driveC() / "Windows/inf"),
            (std::vector<std::string>{"oem0.inf", "oem1.inf"}));
  EXPECT_EQ(ReadFileBytes(sim.driveC() / "Windows/inf/oem0.inf"),
            ReadFileBytes(SamplePackages() / "orvser.inf"));
  EXPECT_EQ(ReadFileBytes(sim.driveC() / "Windows/inf/oem1.inf"),
            ReadFileBytes(SamplePackages() / "orvpar.inf"));

  // The same package again: success, nothing new.
  EXPECT_EQ(Install(sim, u"orvser.inf"), 0u);
  EXPECT_EQ(Names(sim.driveC() / kDriverStore).size(), 2u);
  EXPECT_EQ(Names(sim.driveC() / "Windows/inf").size(), 2u);

  EXPECT_EQ(sim.Calls({"DriverPackageInstallW"})[0],
            "DriverPackageInstallW(\"C:\\work\\orvser.inf\", 0x2) = 0");
}

TEST(SimDifxTest, PublishedNamesTakeTheLowestFreeNumber) {
  SimMachine sim("");
  sim.WriteFile("Windows/inf/oem0.inf", "[Version]\nSignature=\"$Windows NT$\"\n; other maker\n");
  sim.WriteFile("Windows/inf/OEM2.INF", "[Version]\nSignature=\"$Windows NT$\"\n; another\n");
  // Only oemN.inf with N as written takes N, whatever its case and kind.
  sim.WriteFile("Windows/inf/oem03.inf", "[Version]\nSignature=\"$Windows NT$\"\n; not 3\n");
  fs::create_directories(sim.driveC() / "Windows/inf/Oem5.inf");
  sim.WriteFile("work/a.inf", Inf("a.cat", "; a\r\n"));
  sim.WriteFile("work/a.cat", "catalog");
  sim.WriteFile("work/b.inf", Inf("b.cat", "; b\r\n"));
  sim.WriteFile("work/b.cat", "catalog");
  sim.WriteFile("work/c.inf", Inf("c.cat", "; c\r\n"));
  sim.WriteFile("work/c.cat", "catalog");
  ASSERT_EQ(Install(sim, u"C:\\work\\a.inf"), 0u);
  ASSERT_EQ(Install(sim, u"C:\\work\\b.inf"), 0u);
  ASSERT_EQ(Install(sim, u"C:\\work\\c.inf"), 0u);
  const fs::path inf = sim.driveC() / "Windows/inf";
  EXPECT_EQ(ReadFileBytes(inf / "oem1.inf"), Inf("a.cat", "; a\r\n"));
  EXPECT_EQ(ReadFileBytes(inf / "oem3.inf"), Inf("b.cat", "; b\r\n"));
  EXPECT_EQ(ReadFileBytes(inf / "oem4.inf"), Inf("c.cat", "; c\r\n"));

  // Uninstalling frees a number, which the next install takes.
  ASSERT_EQ(Uninstall(sim, u"C:\\work\\b.inf"), 0u);
  EXPECT_FALSE(fs::exists(inf / "oem3.inf"));
  ASSERT_EQ(Install(sim, u"C:\\work\\b.inf"), 0u);
  EXPECT_EQ(ReadFileBytes(inf / "oem3.inf"), Inf("b.cat", "; b\r\n"));
  // A published INF that was deleted is published again on the next install.
  fs::remove(inf / "oem4.inf");
  ASSERT_EQ(Install(sim, u"C:\\work\\c.inf"), 0u);
  EXPECT_TRUE(fs::exists(inf / "oem4.inf"));
  // Names taken between two installs count too.
  sim.WriteFile("Windows/inf/OEM6.INF", "[Version]\nSignature=\"$Windows NT$\"\n; taken\n");
  sim.WriteFile("work/d.inf", Inf("a.cat", "; d\r\n"));
  ASSERT_EQ(Install(sim, u"C:\\work\\d.inf"), 0u);
  EXPECT_EQ(ReadFileBytes(inf / "oem7.inf"), Inf("a.cat", "; d\r\n"));
}

TEST(SimDifxTest, PathAndUninstallFindThePackageFromAnyOfItsCopies) {
  SimMachine sim(kAmd64Image);
  CopySamples(sim, {"orvser.inf", "orvser.cat", "orvser.sys"});
  DWORD status = 0;
  StorePath(sim, u"C:\\work\\orvser.inf", &status);
  EXPECT_EQ(status, ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
  ASSERT_EQ(Install(sim, u"C:\\work\\orvser.inf"), 0u);

  const std::string folder = Names(sim.driveC() / kDriverStore).at(0);
  const std::string stored =
      "C:\\Windows\\System32\\DriverStore\\FileRepository\\" + folder + "\\orvser.inf";
  EXPECT_EQ(StorePath(sim, u"C:\\work\\orvser.inf", &status), stored);
  EXPECT_EQ(status, 0u);
  EXPECT_EQ(StorePath(sim, u"C:\\Windows\\inf\\oem0.inf", &status), stored);
  EXPECT_EQ(status, 0u);
  const std::u16string storedWide = Utf8ToUtf16(stored);
  EXPECT_EQ(StorePath(sim, storedWide.c_str(), &status), stored);

  // Buffer rules: the count needed, terminator included, and nothing written when too small.
  const auto needed = static_cast<DWORD>(stored.size() + 1);
  WCHAR small[261] = {};
  DWORD chars = needed - 1;
  EXPECT_EQ(sim.api().DriverPackageGetPathW(u"C:\\work\\orvser.inf", small, &chars),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(chars, needed);
  EXPECT_EQ(small[0], 0);
  EXPECT_EQ(sim.api().DriverPackageGetPathW(u"C:\\work\\orvser.inf", small, &chars), 0u);
  EXPECT_EQ(Utf16ToUtf8(small), stored);

  // Uninstall by the store's own copy removes the store folder and the published INF.
  ASSERT_EQ(Uninstall(sim, storedWide.c_str()), 0u);
  EXPECT_EQ(Names(sim.driveC() / kDriverStore), std::vector<std::string>{});
  EXPECT_EQ(Names(sim.driveC() / "Windows/inf"), std::vector<std::string>{});
  EXPECT_EQ(Uninstall(sim, u"C:\\work\\orvser.inf"), ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
  StorePath(sim, u"C:\\work\\orvser.inf", &status);
  EXPECT_EQ(status, ERROR_DRIVER_PACKAGE_NOT_IN_STORE);

  // Uninstall by the published name.
  ASSERT_EQ(Install(sim, u"C:\\work\\orvser.inf"), 0u);
  ASSERT_EQ(Uninstall(sim, u"C:\\Windows\\inf\\oem0.inf"), 0u);
  EXPECT_EQ(Names(sim.driveC() / kDriverStore), std::vector<std::string>{});
  EXPECT_EQ(Names(sim.driveC() / "Windows/inf"), std::vector<std::string>{});
  // A published INF of a package that is not in the store.
  sim.WriteFile("Windows/inf/oem5.inf", Inf("x.cat"));
  EXPECT_EQ(Uninstall(sim, u"C:\\Windows\\inf\\oem5.inf"), ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
  EXPECT_TRUE(fs::exists(sim.driveC() / "Windows/inf/oem5.inf"));
}

TEST(SimDifxTest, StatusesComeFromThePackage) {
  struct Case {
    std::string name;
    std::string inf;      // empty: no file at C:\work\p.inf
    std::string catalog;  // written as C:\work\p.cat unless "-"
    DWORD status;         // silent install
    DWORD legacyStatus;   // legacy mode
  };
  const std::string sourceFiles =
      "[SourceDisksFiles]\r\np.sys=1\r\n[SourceDisksFiles.x86]\r\nsub32.sys=1,i386\r\n";
  const Case cases[] = {
      {"signed", Inf("p.cat"), "catalog", 0, 0},
      {"missing INF", "", "-", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {"no catalog entry", Inf(""), "-", TRUST_E_NOSIGNATURE, 0},
      {"catalog missing", Inf("p.cat"), "-", TRUST_E_NOSIGNATURE, 0},
      {"empty catalog", Inf("p.cat"), "", ERROR_INVALID_CATALOG_DATA, 0},
      {"decorated catalog", Inf("", "CatalogFile.NTx86=p.cat\r\n"), "catalog", 0, 0},
      {"missing driver file", Inf("p.cat", sourceFiles), "catalog", ERROR_MISSING_FILE, 0},
      {"no [Version]", "[Strings]\r\nMfg=\"ORVEK Co., Ltd.\"\r\n", "-",
       winsim::ERROR_WRONG_INF_STYLE, winsim::ERROR_WRONG_INF_STYLE},
      {"no signature", "[Version]\r\nClass=Ports\r\nCatalogFile=p.cat\r\n", "catalog",
       winsim::ERROR_WRONG_INF_STYLE, winsim::ERROR_WRONG_INF_STYLE},
      {"broken header", "[Version]\r\nSignature=\"$Chicago$\"\r\n[Strings\r\n", "-",
       winsim::ERROR_GENERAL_SYNTAX, winsim::ERROR_GENERAL_SYNTAX},
  };
  for (const Case& c : cases) {
    for (const DWORD flags :
         {DRIVER_PACKAGE_SILENT, DRIVER_PACKAGE_FORCE | DRIVER_PACKAGE_LEGACY_MODE}) {
      SimMachine sim("");  // PROCESSOR_ARCHITECTURE unset: x86
      if (!c.inf.empty()) {
        sim.WriteFile("work/p.inf", c.inf);
      }
      if (c.catalog != "-") {
        sim.WriteFile("work/p.cat", c.catalog);
      }
      const DWORD expected = flags == DRIVER_PACKAGE_SILENT ? c.status : c.legacyStatus;
      EXPECT_EQ(Install(sim, u"C:\\work\\p.inf", flags), expected) << c.name << " " << flags;
      EXPECT_EQ(Names(sim.driveC() / "Windows/inf").size(), expected == 0 ? 1u : 0u) << c.name;
      EXPECT_EQ(Names(sim.driveC() / kDriverStore).size(), expected == 0 ? 1u : 0u) << c.name;
      if (expected == 0) {
        EXPECT_EQ(Names(sim.driveC() / kDriverStore).at(0).substr(0, 10), "p.inf_x86_") << c.name;
      }
    }
  }
}

TEST(SimDifxTest, LegacyModeStoresWhatThePackageHas) {
  SimMachine sim("");
  sim.WriteFile("work/p.inf",
                Inf("p.cat", "[SourceDisksFiles]\r\np.sys=1\r\nq.sys=1,sub\r\nmissing.sys=1\r\n"));
  sim.WriteFile("work/p.sys", "driver");
  sim.WriteFile("work/sub/q.sys", "driver");
  ASSERT_EQ(Install(sim, u"C:\\work\\p.inf", DRIVER_PACKAGE_LEGACY_MODE), 0u);
  const std::string folder = Names(sim.driveC() / kDriverStore).at(0);
  // Unsigned (no catalog) and one file missing: stored without them.
  EXPECT_EQ(Names(sim.driveC() / kDriverStore / folder),
            (std::vector<std::string>{"p.inf", "p.sys", "sub"}));
  EXPECT_EQ(Names(sim.driveC() / kDriverStore / folder / "sub"), std::vector<std::string>{"q.sys"});
}

TEST(SimDifxTest, PackageFilesOutsideTheInfFolderAreNoPartOfIt) {
  SimMachine sim("");
  sim.WriteFile("outside.sys", "not in the package");
  sim.WriteFile("outside.cat", "not in the package");
  sim.WriteFile("work/p.inf",
                Inf("..\\outside.cat", "[SourceDisksFiles]\r\n..\\outside.sys=1\r\n"));
  sim.WriteFile("work/q.inf", Inf("q.cat", "[SourceDisksFiles]\r\noutside.sys=1,..\r\n"));
  sim.WriteFile("work/q.cat", "catalog");
  EXPECT_EQ(Install(sim, u"C:\\work\\p.inf"), TRUST_E_NOSIGNATURE);
  EXPECT_EQ(Install(sim, u"C:\\work\\q.inf"), ERROR_MISSING_FILE);
  ASSERT_EQ(Install(sim, u"C:\\work\\p.inf", DRIVER_PACKAGE_LEGACY_MODE), 0u);
  ASSERT_EQ(Install(sim, u"C:\\work\\q.inf", DRIVER_PACKAGE_LEGACY_MODE), 0u);
  const std::vector<std::string> folders = Names(sim.driveC() / kDriverStore);
  ASSERT_EQ(folders.size(), 2u);
  EXPECT_EQ(Names(sim.driveC() / kDriverStore / folders[0]), std::vector<std::string>{"p.inf"});
  EXPECT_EQ(Names(sim.driveC() / kDriverStore / folders[1]),
            (std::vector<std::string>{"q.cat", "q.inf"}));
  EXPECT_EQ(Names(sim.driveC() / "Windows/System32/DriverStore"),
            std::vector<std::string>{"FileRepository"});
}

TEST(SimDifxTest, FoldersAndUnreadableFilesFail) {
  SimMachine sim("");
  fs::create_directories(sim.driveC() / "work" / "dir.inf");
  EXPECT_EQ(Install(sim, u"C:\\work\\dir.inf"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Uninstall(sim, u"C:\\work\\dir.inf"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Install(sim, u"D:\\p.inf"), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Uninstall(sim, u"C:\\work\\none.inf"), ERROR_FILE_NOT_FOUND);
  BOOL reboot = FALSE;
  EXPECT_EQ(sim.api().DriverPackageInstallW(nullptr, 0, nullptr, &reboot), ERROR_INVALID_PARAMETER);
  DWORD chars = 10;
  EXPECT_EQ(sim.api().DriverPackageGetPathW(u"C:\\work\\none.inf", nullptr, &chars),
            ERROR_FILE_NOT_FOUND);
}

TEST(SimDifxTest, StoreFolderNameDependsOnlyOnTheInfBytes) {
  const std::string text = Inf("p.cat");
  std::string first;
  for (const char* place : {"work/p.inf", "Other/Place/P.INF"}) {
    SimMachine sim(kAmd64Image);
    sim.WriteFile(place, text);
    sim.WriteFile(fs::path(place).parent_path().string() + "/p.cat", "catalog");
    const std::u16string path = u"C:\\" + Utf8ToUtf16(place);
    ASSERT_EQ(Install(sim, path.c_str()), 0u);
    const std::string folder = Names(sim.driveC() / kDriverStore).at(0);
    EXPECT_EQ(folder.substr(0, 12), "p.inf_amd64_");  // lower-cased INF name
    if (first.empty()) {
      first = folder;
    }
    EXPECT_EQ(folder, first);
  }
  SimMachine sim(kAmd64Image);
  sim.WriteFile("work/p.inf", text + " ");
  sim.WriteFile("work/p.cat", "catalog");
  ASSERT_EQ(Install(sim, u"C:\\work\\p.inf"), 0u);
  EXPECT_NE(Names(sim.driveC() / kDriverStore).at(0), first);
}

TEST(SimDifxTest, Utf16InfIsRead) {
  SimMachine sim("");
  const std::u16string wide = Utf8ToUtf16(Inf("p.cat"));
  std::string bytes = "\xFF\xFE";
  for (char16_t c : wide) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  sim.WriteFile("work/p.inf", bytes);
  sim.WriteFile("work/p.cat", "catalog");
  EXPECT_EQ(Install(sim, u"C:\\work\\p.inf"), 0u);
}

TEST(SimDifxTest, ArmedFaultsFailTheCallWithoutChangingTheStore) {
  SimMachine sim("");
  sim.WriteFile("work/p.inf", Inf("p.cat"));
  sim.WriteFile("work/p.cat", "catalog");
  sim.api().ArmFault({.api = "DriverPackageInstallW",
                      .text = "p.inf",
                      .nth = 1,
                      .status = ERROR_SHARING_VIOLATION});
  EXPECT_EQ(Install(sim, u"C:\\work\\p.inf"), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(Names(sim.driveC() / kDriverStore), std::vector<std::string>{});
  EXPECT_EQ(Install(sim, u"C:\\work\\p.inf"), 0u);
  sim.api().ArmFault(
      {.api = "DriverPackageUninstallW", .status = ERROR_DEPENDENT_APPLICATIONS_EXIST});
  EXPECT_EQ(Uninstall(sim, u"C:\\work\\p.inf"), ERROR_DEPENDENT_APPLICATIONS_EXIST);
  EXPECT_EQ(Names(sim.driveC() / kDriverStore).size(), 1u);
  EXPECT_EQ(
      sim.Calls({"DriverPackageUninstallW"}),
      std::vector<std::string>{"DriverPackageUninstallW(\"C:\\work\\p.inf\", 0x22) = 0xE0000300"});
}

void ExpectSampleInf(const winsim::Inf& inf) {
  EXPECT_EQ(Utf16ToUtf8(*inf.Value(u"version", u"SIGNATURE")), "$WINDOWS NT$");
  EXPECT_EQ(Utf16ToUtf8(*inf.Value(u"Version", u"Provider")), "ORVEK Co., Ltd.");
  EXPECT_FALSE(inf.Value(u"Version", u"CatalogFile"));
  ASSERT_EQ(inf.Lines(u"LONG").size(), 2u);  // both [Long] sections, in file order
  EXPECT_EQ(inf.Lines(u"LONG")[0].FieldCount(), 2u);
  EXPECT_EQ(Utf16ToUtf8(inf.Lines(u"LONG")[1].Field(0)), "later");
  EXPECT_EQ(Utf16ToUtf8(inf.Substitute(u"%Mfg% 100%% %Unknown%")),
            "ORVEK Co., Ltd. 100% %Unknown%");
  std::vector<std::string> ids;
  for (const std::u16string& id : inf.DeviceIds()) {
    ids.push_back(Utf16ToUtf8(id));
  }
  EXPECT_EQ(ids, (std::vector<std::string>{"ORVPCARD_ENUM\\ORVPCARD_SERP", "*PNP0501",
                                           "ORVPCARD_ENUM\\ORVPCARD_PARPECP"}));
  EXPECT_EQ(Utf16ToUtf8(inf.Lines(u"Models.NTamd64")[0].key()), "Quoted, \"desc\"");
  EXPECT_TRUE(inf.Lines(u"Missing").empty());
}

TEST(SimDifxTest, InfReaderSectionsValuesAndDeviceIds) {
  const std::string text =
      "; comment\n[Version]\nSignature = \"$WINDOWS NT$\" ; trailing\nProvider=%Mfg%\n"
      "[Manufacturer]\n%Mfg%=Models,NTamd64\n"
      "[Models]\n%Desc%=Install,ORVPCARD_ENUM\\ORVPCARD_SERP, *PNP0501\n"
      "[models.ntamd64]\n\"Quoted, \"\"desc\"\"\"=Install, ORVPCARD_ENUM\\ORVPCARD_PARPECP\n"
      "[Strings]\nMfg=\"ORVEK Co., Ltd.\"\nDesc=\"ORVEK COM Port\"\n"
      "[Long]\nKey=first,\\\n  second\n[Strings]\nMFG=\"not the first\"\n[long]\nlater\n";
  // The same text in each form an INF may take: 8-bit, UTF-8 and UTF-16LE with CR LF.
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    utf16 += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{c, '\0'};
  }
  for (const std::string& bytes : {text, "\xEF\xBB\xBF" + text, utf16}) {
    SCOPED_TRACE(bytes.substr(0, 3));
    winsim::Inf inf;
    ASSERT_EQ(winsim::Inf::Parse(bytes, &inf), 0u);
    ExpectSampleInf(inf);
  }
  winsim::Inf inf;
  ASSERT_EQ(
      winsim::Inf::Parse("\xEF\xBB\xBF[Version]\nSignature=$Chicago$\nName=Caf\xC3\xA9", &inf), 0u);
  EXPECT_EQ(*inf.Value(u"Version", u"Name"), u"Caf\u00e9");
}

}  // namespace
