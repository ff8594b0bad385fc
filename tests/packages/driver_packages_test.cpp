#include "packages/driver_packages.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/packages/package_test_support.h"

namespace orv {
namespace {

using namespace package_tests;

constexpr DWORD kRetryStatuses[] = {
    TRUST_E_NOSIGNATURE,           CERT_E_EXPIRED,
    CERT_E_UNTRUSTEDROOT,          CERT_E_WRONG_USAGE,
    ERROR_NO_AUTHENTICODE_CATALOG, ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH,
    ERROR_INVALID_CATALOG_DATA,
};

TEST(InstallDriverPackages, AnEmptyDirectoryGivesNoInfFilesAndCallsNoDriverFunction) {
  SimMachine sim("");
  EXPECT_EQ(InstallDriverPackages(sim.api()), kNoInfFiles);
  EXPECT_EQ(UninstallDriverPackages(sim.api()), kNoInfFiles);
  EXPECT_EQ(ArgsOf(sim, "FindFirstFileW"), Strings(2, "\"C:\\work\\*.inf\""));
  EXPECT_TRUE(sim.CallsTo({"DriverPackageInstallW", "DriverPackageUninstallW"}).empty());
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(InstallDriverPackages, InstallsEverySignedPackageOnceSilently) {
  SimMachine sim("");
  AddPackages(sim, {"orvser", "orvpar"});
  EXPECT_EQ(InstallDriverPackages(sim.api()), 0u);
  // Listing order: the search returns names in the folder's order.
  EXPECT_EQ(ListedNames(sim), (Strings{"orvpar.inf", "orvser.inf"}));
  EXPECT_EQ(ArgsOf(sim, "DriverPackageInstallW"),
            (Strings{"\"C:\\work\\orvpar.inf\", 0x2", "\"C:\\work\\orvser.inf\", 0x2"}));
  EXPECT_EQ(ArgsOf(sim, "GetFullPathNameW"),
            (Strings{"\"*.inf\", 260", "\"orvpar.inf\", 260", "\"orvser.inf\", 260"}));
  EXPECT_EQ(sim.CallsTo({"FindClose"}).size(), 1u);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  EXPECT_TRUE(std::filesystem::exists(sim.driveC() / "Windows" / "inf" / "oem0.inf"));
  EXPECT_TRUE(std::filesystem::exists(sim.driveC() / "Windows" / "inf" / "oem1.inf"));
}

TEST(InstallDriverPackages, AnUnsignedPackageIsInstalledAgainInLegacyMode) {
  SimMachine sim("");
  AddPackage(sim, "orvser", /*signed_=*/false);
  EXPECT_EQ(InstallDriverPackages(sim.api()), 0u);
  EXPECT_EQ(sim.CallsTo({"DriverPackageInstallW"}),
            (Calls{{"DriverPackageInstallW", "\"C:\\work\\orvser.inf\", 0x2", "0x800B0100"},
                   {"DriverPackageInstallW", "\"C:\\work\\orvser.inf\", 0x14", "0"}}));
}

TEST(InstallDriverPackages, RetriesOnceOnEachSignatureStatus) {
  for (DWORD status : kRetryStatuses) {
    // The retry succeeds: the package contributes 0.
    SimMachine sim("");
    AddPackage(sim, "orvser");
    sim.api().ArmFault(winsim::Fault{
        .api = "DriverPackageInstallW", .text = "orvser", .nth = 1, .status = status});
    EXPECT_EQ(InstallDriverPackages(sim.api()), 0u) << std::hex << status;
    EXPECT_EQ(ArgsOf(sim, "DriverPackageInstallW"),
              (Strings{"\"C:\\work\\orvser.inf\", 0x2", "\"C:\\work\\orvser.inf\", 0x14"}))
        << std::hex << status;

    // The retry fails the same way: no third attempt, the second status counts.
    SimMachine again("");
    AddPackage(again, "orvser");
    again.api().ArmFault(
        winsim::Fault{.api = "DriverPackageInstallW", .text = "orvser", .status = status});
    EXPECT_EQ(InstallDriverPackages(again.api()), status) << std::hex << status;
    EXPECT_EQ(ArgsOf(again, "DriverPackageInstallW").size(), 2u) << std::hex << status;
  }
}

TEST(InstallDriverPackages, TheRetryStatusReplacesTheFirstWhateverItIs) {
  SimMachine sim("");
  AddPackage(sim, "orvser");
  // The first attempt passes flags 0x2, the retry 0x14.
  sim.api().ArmFault(winsim::Fault{.api = "DriverPackageInstallW",
                                   .number = winsim::NumberIs{.arg = 1, .value = 0x2},
                                   .status = CERT_E_EXPIRED});
  sim.api().ArmFault(winsim::Fault{.api = "DriverPackageInstallW",
                                   .number = winsim::NumberIs{.arg = 1, .value = 0x14},
                                   .status = TRUST_E_NOSIGNATURE});
  EXPECT_EQ(InstallDriverPackages(sim.api()), TRUST_E_NOSIGNATURE);
  EXPECT_EQ(ArgsOf(sim, "DriverPackageInstallW").size(), 2u);
}

TEST(InstallDriverPackages, OtherStatusesAreNotRetried) {
  for (DWORD status : {CRYPT_E_FILE_ERROR, ERROR_FILE_NOT_FOUND, ERROR_INSTALL_FAILURE,
                       ERROR_NO_SUCH_DEVINST, ERROR_DRIVER_PACKAGE_NOT_IN_STORE, ERROR_MISSING_FILE,
                       ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED, 0x800B0102u}) {
    SimMachine sim("");
    AddPackage(sim, "orvser");
    sim.api().ArmFault(winsim::Fault{.api = "DriverPackageInstallW", .status = status});
    EXPECT_EQ(InstallDriverPackages(sim.api()), status) << std::hex << status;
    EXPECT_EQ(ArgsOf(sim, "DriverPackageInstallW"), Strings{"\"C:\\work\\orvser.inf\", 0x2"})
        << std::hex << status;
  }
}

TEST(InstallDriverPackages, CombinesTheStatusesOfAllPackagesAndGoesOnAfterAFailure) {
  SimMachine sim("");
  AddPackages(sim, {"alpha", "beta", "gamma"});
  sim.api().ArmFault(winsim::Fault{
      .api = "DriverPackageInstallW", .text = "alpha", .status = ERROR_FILE_NOT_FOUND});
  sim.api().ArmFault(winsim::Fault{
      .api = "DriverPackageInstallW", .text = "beta", .status = ERROR_SHARING_VIOLATION});
  EXPECT_EQ(InstallDriverPackages(sim.api()), 0x22u);
  EXPECT_EQ(sim.CallsTo({"DriverPackageInstallW"}),
            (Calls{{"DriverPackageInstallW", "\"C:\\work\\alpha.inf\", 0x2", "0x2"},
                   {"DriverPackageInstallW", "\"C:\\work\\beta.inf\", 0x2", "0x20"},
                   {"DriverPackageInstallW", "\"C:\\work\\gamma.inf\", 0x2", "0"}}));
}

TEST(InstallDriverPackages, AFolderNamedLikeAnInfIsHandedOnLikeAFile) {
  SimMachine sim("");
  AddPackage(sim, "orvser");
  std::filesystem::create_directories(sim.driveC() / "work" / "folder.inf");
  // The folder cannot be read as a package: access denied, not retried.
  EXPECT_EQ(InstallDriverPackages(sim.api()), ERROR_ACCESS_DENIED);
  EXPECT_EQ(sim.CallsTo({"DriverPackageInstallW"}),
            (Calls{{"DriverPackageInstallW", "\"C:\\work\\folder.inf\", 0x2", "0x5"},
                   {"DriverPackageInstallW", "\"C:\\work\\orvser.inf\", 0x2", "0"}}));
}

TEST(InstallDriverPackages, AnEntryWhosePathDoesNotFitIsNotHandedToTheDriverFunctions) {
  // The folder's path fits the 260-character buffer with "\*.inf"; one entry's full path does
  // not, and must not be installed under the path of the entry before it.
  const std::string folder = "work/" + std::string(200, 'd');
  SimMachine sim("", u"C:\\work\\" + std::u16string(200, u'd'));
  sim.WriteFile(folder + "/a.inf", PackageInf("a", false));
  sim.WriteFile(folder + "/" + std::string(60, 'z') + ".inf", PackageInf("z", false));
  EXPECT_EQ(InstallDriverPackages(sim.api()), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(ArgsOf(sim, "DriverPackageInstallW").size(), 2u);  // a.inf and its retry
  EXPECT_EQ(UninstallDriverPackages(sim.api()), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(ArgsOf(sim, "DriverPackageUninstallW").size(), 1u);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

TEST(UninstallDriverPackages, UninstallsEveryPackageSilentlyWithItsFilesAndNeverRetries) {
  SimMachine sim("");
  AddPackages(sim, {"alpha", "beta"});
  AddPackage(sim, "gamma", /*signed_=*/false);
  ASSERT_EQ(InstallDriverPackages(sim.api()), 0u);
  sim.api().ClearTrace();
  sim.api().ArmFault(winsim::Fault{
      .api = "DriverPackageUninstallW", .text = "alpha", .status = TRUST_E_NOSIGNATURE});
  EXPECT_EQ(UninstallDriverPackages(sim.api()), TRUST_E_NOSIGNATURE);
  EXPECT_EQ(sim.CallsTo({"DriverPackageUninstallW"}),
            (Calls{{"DriverPackageUninstallW", "\"C:\\work\\alpha.inf\", 0x22", "0x800B0100"},
                   {"DriverPackageUninstallW", "\"C:\\work\\beta.inf\", 0x22", "0"},
                   {"DriverPackageUninstallW", "\"C:\\work\\gamma.inf\", 0x22", "0"}}));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace orv
