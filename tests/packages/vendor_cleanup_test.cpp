#include "packages/vendor_cleanup.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "packages/driver_packages.h"
#include "tests/packages/package_test_support.h"

namespace orv {
namespace {

using namespace package_tests;

// An INF text with `middle` somewhere among ordinary lines.
std::string InfText(const std::string& middle) {
  return "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n" + middle +
         "\r\nDriverVer=05/04/2026,1.0.0.0\r\n";
}

std::string Utf16Le(const std::string& ascii) {
  std::string bytes = "\xFF\xFE";
  for (char c : ascii) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

constexpr char kAfterZeroByte[] = "Provider=\"Contoso\"\0; Orvek Co., Ltd.";

TEST(RemoveVendorPackages, GivesCannotOpenWhenTheFolderListsNoOemInf) {
  for (bool withOtherInf : {false, true}) {
    SimMachine sim("");
    if (withOtherInf) {
      sim.WriteFile("Windows/inf/machine.inf", InfText("Provider=\"Orvek Co., Ltd.\""));
    }
    EXPECT_EQ(RemoveVendorPackages(sim.api()), kCannotOpen);
    EXPECT_EQ(ArgsOf(sim, "GetWindowsDirectoryW"), Strings{"260"});
    EXPECT_EQ(ArgsOf(sim, "FindFirstFileW"), Strings{"\"C:\\Windows\\inf\\oem*.inf\""});
    EXPECT_TRUE(sim.CallsTo({"CreateFileW", "DriverPackageUninstallW"}).empty());
  }
}

TEST(RemoveVendorPackages, MatchesTheThreeVendorStringsExactlyAndReadsTheFileForEachTest) {
  struct Case {
    std::string text;
    bool names;    // the file names the maker
    size_t reads;  // files opened for it
  } cases[] = {
      {.text = InfText("Provider=\"Orvek Co., Ltd.\""), .names = true, .reads = 1},
      {.text = InfText("Provider=\"ORVEK Co., Ltd.\""), .names = true, .reads = 2},
      {.text = InfText("; built by ORVEK GROUP"), .names = true, .reads = 3},
      {.text = InfText("Provider=\"ORVEK CO., LTD.\""), .names = false, .reads = 3},
      {.text = InfText("Provider=\"orvek co., ltd.\""), .names = false, .reads = 3},
      {.text = InfText("Provider=\"Orvek Group\""), .names = false, .reads = 3},
      {.text = InfText("Provider=\"Orvek Co.,Ltd.\""), .names = false, .reads = 3},
      {.text = InfText("Provider=\"Orvek Co., Ltd\""), .names = false, .reads = 3},
      {.text = InfText("Provider=\"Contoso\""), .names = false, .reads = 3},
      // Each byte is one character: a Latin-1 byte before the string does not hide it.
      {.text = InfText("Provider=\"Soci\xE9t\xE9 ORVEK GROUP\""), .names = true, .reads = 3},
      // UTF-16 text ends at its first zero byte.
      {.text = Utf16Le(InfText("Provider=\"Orvek Co., Ltd.\"")), .names = false, .reads = 3},
      // Only the text before the first zero byte counts.
      {.text = InfText(std::string(kAfterZeroByte, sizeof kAfterZeroByte - 1)),
       .names = false,
       .reads = 3},
  };
  for (const Case& c : cases) {
    SimMachine sim("");
    sim.WriteFile("Windows/inf/oem3.inf", c.text);
    EXPECT_EQ(RemoveVendorPackages(sim.api()), c.names ? ERROR_DRIVER_PACKAGE_NOT_IN_STORE : 0u)
        << c.text;
    EXPECT_EQ(ArgsOf(sim, "CreateFileW"),
              Strings(c.reads, "\"C:\\Windows\\inf\\oem3.inf\", 0x80000000, 0x1, 3, 0x80"))
        << c.text;
    EXPECT_EQ(sim.CallsTo({"CloseHandle"}).size(), c.reads) << c.text;
    EXPECT_EQ(ArgsOf(sim, "DriverPackageUninstallW"),
              c.names ? Strings{"\"C:\\Windows\\inf\\oem3.inf\", 0x22"} : Strings{})
        << c.text;
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(RemoveVendorPackages, LooksOnlyAtTheFirst65535Bytes) {
  const std::string vendor = "ORVEK GROUP";
  for (std::size_t end : {65535u, 65536u, 70000u}) {
    SimMachine sim("");
    std::string text = InfText(";") + std::string(end - vendor.size() - InfText(";").size(), 'x');
    text += vendor + "\r\n";
    ASSERT_EQ(text.find(vendor) + vendor.size(), end);
    sim.WriteFile("Windows/inf/oem0.inf", text);
    const bool inWindow = end <= 65535;
    EXPECT_EQ(RemoveVendorPackages(sim.api()), inWindow ? ERROR_DRIVER_PACKAGE_NOT_IN_STORE : 0u)
        << end;
    // "ORVEK GROUP" is the third string tested: three reads, each of 65535 bytes at most.
    const Strings reads = ArgsOf(sim, "ReadFile");
    EXPECT_EQ(reads.size(), 3u) << end;
    for (const std::string& args : reads) {
      EXPECT_TRUE(args.ends_with(", 65535")) << args;
    }
  }
}

TEST(RemoveVendorPackages, UninstallsTheMakersPackagesAndCombinesTheirStatuses) {
  SimMachine sim("");
  AddPackage(sim, "orvser");  // its text names "Orvek Co., Ltd."
  ASSERT_EQ(InstallDriverPackages(sim.api()), 0u);
  ASSERT_TRUE(std::filesystem::exists(sim.driveC() / "Windows/inf/oem0.inf"));
  // A copy that is not in the store, and a package of another maker.
  sim.WriteFile("Windows/inf/oem1.inf", InfText("Provider=\"ORVEK Co., Ltd.\""));
  sim.WriteFile("Windows/inf/oem2.inf", InfText("Provider=\"Contoso\""));
  sim.api().ClearTrace();
  EXPECT_EQ(RemoveVendorPackages(sim.api()), ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
  EXPECT_EQ(
      sim.CallsTo({"DriverPackageUninstallW"}),
      (Calls{{"DriverPackageUninstallW", "\"C:\\Windows\\inf\\oem0.inf\", 0x22", "0"},
             {"DriverPackageUninstallW", "\"C:\\Windows\\inf\\oem1.inf\", 0x22", "0xE0000302"}}));
  EXPECT_FALSE(std::filesystem::exists(sim.driveC() / "Windows/inf/oem0.inf"));
  EXPECT_TRUE(std::filesystem::exists(sim.driveC() / "Windows/inf/oem2.inf"));
  EXPECT_EQ(sim.CallsTo({"FindClose"}).size(), 1u);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(RemoveVendorPackages, AFolderNamedLikeAnOemInfDoesNotNameTheMaker) {
  SimMachine sim("");
  std::filesystem::create_directories(sim.driveC() / "Windows/inf/oem1.inf");
  EXPECT_EQ(RemoveVendorPackages(sim.api()), 0u);
  EXPECT_EQ(sim.CallsTo({"CreateFileW"}).size(), 3u);
  EXPECT_TRUE(sim.CallsTo({"ReadFile", "DriverPackageUninstallW"}).empty());
}

TEST(RemoveVendorPackages, AFailedWindowsDirectoryQueryLeavesTheFolderAsBackslashInf) {
  SimMachine sim("");
  sim.api().ArmFault(winsim::Fault{.api = "GetWindowsDirectoryW", .status = ERROR_ACCESS_DENIED});
  sim.WriteFile("inf/oem0.inf", InfText("Provider=\"Orvek Co., Ltd.\""));
  EXPECT_EQ(RemoveVendorPackages(sim.api()), ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
  EXPECT_EQ(ArgsOf(sim, "FindFirstFileW"), Strings{"\"\\inf\\oem*.inf\""});
  EXPECT_EQ(ArgsOf(sim, "DriverPackageUninstallW"), Strings{"\"\\inf\\oem0.inf\", 0x22"});
}

TEST(InfNamesVendor, GivesCannotOpenForAFileThatCannotBeOpenedOrRead) {
  SimMachine sim("");
  sim.WriteFile("Windows/inf/oem0.inf", InfText("Provider=\"Orvek Co., Ltd.\""));
  EXPECT_EQ(InfNamesVendor(sim.api(), u"C:\\Windows\\inf", u"oem0.inf", u"Orvek Co., Ltd."), 0u);
  EXPECT_EQ(InfNamesVendor(sim.api(), u"C:\\Windows\\inf", u"oem9.inf", u"Orvek Co., Ltd."),
            kCannotOpen);
  sim.api().ArmFault(winsim::Fault{.api = "ReadFile", .status = ERROR_ACCESS_DENIED});
  EXPECT_EQ(InfNamesVendor(sim.api(), u"C:\\Windows\\inf", u"oem0.inf", u"Orvek Co., Ltd."),
            kCannotOpen);
  EXPECT_EQ(sim.CallsTo({"CloseHandle"}).size(), 2u);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace orv
