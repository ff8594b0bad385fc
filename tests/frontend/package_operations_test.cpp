// The driver-package operation codes as the dispatcher runs them: messages, results, rollback,
// record and clean-up.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "frontend/program_args.h"
#include "frontend/run_operation.h"
#include "tests/packages/package_test_support.h"

namespace orv {
namespace {

using namespace package_tests;
using testing_support::CallSteps;

constexpr const char* kInstalling = "\n  Installing driver package...\n";
constexpr const char* kInstallSuccess = "\n  Install driver success.\n";
constexpr const char* kInstallFail = "\n  Install driver fail.\n";
constexpr const char* kUninstalling = "\n  Uninstalling driver package...\n";
constexpr const char* kUninstallSuccess = "\n  Uninstall driver success.\n";
constexpr const char* kUninstallFail = "\n  Uninstall driver fail.\n";

DWORD RunCode(SimMachine& sim, DWORD code, std::vector<std::u16string> arguments = {}) {
  ArgumentVector vector;
  vector.Add(u"orvcard-op");
  for (std::u16string& argument : arguments) {
    vector.Add(std::move(argument));
  }
  return RunOperation(sim.api(), code, vector.data());
}

std::string WorkFile(SimMachine& sim, const std::string& name) {
  return testing_support::ReadFileBytes(sim.driveC() / "work" / name);
}

TEST(PackageOperations, InstallPrintsSuccessAndRecordsTheDriverStorePaths) {
  for (DWORD code : {0x1u, 0x11u}) {
    SimMachine sim(MachineImage());
    AddPackage(sim, "orvpar");
    AddPackage(sim, "orvser", /*signed_=*/false);  // installed on the retry
    EXPECT_EQ(RunCode(sim, code, {u"-f2out.ini"}), 0u) << code;
    EXPECT_EQ(sim.api().stdoutText(), std::string(kInstalling) + kInstallSuccess) << code;
    EXPECT_EQ(sim.Key(kProductKey)->values().size(), 2u) << code;
    EXPECT_EQ(sim.Bytes(kProductKey, u"DriverStorePath1").size(), 522u) << code;
    EXPECT_TRUE(sim.CallsTo({"DriverPackageUninstallW"}).empty()) << code;
    EXPECT_EQ(WorkFile(sim, "out.ini"),
              code == 0x11 ? "[ResponseResult]\r\nResultCode = 0\r\n" : "")
        << code;
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u) << code;
  }
}

TEST(PackageOperations, AFailedInstallIsRolledBackForEveryListedPackage) {
  SimMachine sim(MachineImage());
  AddPackage(sim, "alpha");
  AddPackage(sim, "beta");
  AddPackage(sim, "gamma");
  sim.api().ArmFault(winsim::Fault{
      .api = "DriverPackageInstallW", .text = "beta", .status = ERROR_FILE_NOT_FOUND});
  EXPECT_EQ(RunCode(sim, 0x11, {u"-f2out.ini"}), 3u);
  EXPECT_EQ(sim.api().stdoutText(), std::string(kInstalling) + kInstallFail);
  // Every package is uninstalled after all installs, the one that failed included; the
  // rollback's own status (beta is not stored) is dropped.
  EXPECT_EQ(
      CallSteps(sim, {"DriverPackageInstallW", "DriverPackageUninstallW"}),
      (Strings{"DriverPackageInstallW", "DriverPackageInstallW", "DriverPackageInstallW",
               "DriverPackageUninstallW", "DriverPackageUninstallW", "DriverPackageUninstallW"}));
  EXPECT_EQ(sim.CallsTo({"DriverPackageUninstallW"}),
            (Calls{{"DriverPackageUninstallW", "\"C:\\work\\alpha.inf\", 0x22", "0"},
                   {"DriverPackageUninstallW", "\"C:\\work\\beta.inf\", 0x22", "0xE0000302"},
                   {"DriverPackageUninstallW", "\"C:\\work\\gamma.inf\", 0x22", "0"}}));
  EXPECT_EQ(sim.Key(kProductKey), nullptr);
  EXPECT_EQ(WorkFile(sim, "out.ini"), "[ResponseResult]\r\nResultCode = 3\r\n");
  EXPECT_FALSE(std::filesystem::exists(sim.driveC() / "Windows" / "inf" / "oem0.inf"));
}

TEST(PackageOperations, TheMappedInstallStatusDecidesSuccessOrFailure) {
  struct Case {
    DWORD alpha;
    DWORD beta;
    DWORD result;
  } cases[] = {
      {.alpha = 0, .beta = 0, .result = 0},
      // Signature statuses count as success, retry and all.
      {.alpha = TRUST_E_NOSIGNATURE, .beta = 0, .result = 0},
      {.alpha = CRYPT_E_FILE_ERROR, .beta = 0, .result = 0},
      // 0x22 is not listed.
      {.alpha = ERROR_FILE_NOT_FOUND, .beta = ERROR_SHARING_VIOLATION, .result = 11},
      {.alpha = ERROR_NO_AUTHENTICODE_CATALOG, .beta = 0, .result = 11},
      {.alpha = ERROR_INSTALL_FAILURE, .beta = 0, .result = 1},
      {.alpha = ERROR_CANT_ACCESS_FILE, .beta = 0, .result = 52},
  };
  for (const Case& c : cases) {
    SimMachine sim(MachineImage());
    AddPackage(sim, "alpha");
    AddPackage(sim, "beta");
    for (const auto& [name, status] : {std::pair{"alpha", c.alpha}, std::pair{"beta", c.beta}}) {
      if (status != 0) {
        sim.api().ArmFault(
            winsim::Fault{.api = "DriverPackageInstallW", .text = name, .status = status});
      }
    }
    EXPECT_EQ(RunCode(sim, 0x1), c.result) << std::hex << c.alpha;
    EXPECT_EQ(sim.api().stdoutText(),
              std::string(kInstalling) + (c.result == 0 ? kInstallSuccess : kInstallFail))
        << std::hex << c.alpha;
    EXPECT_EQ(sim.CallsTo({"DriverPackageUninstallW"}).size(), c.result == 0 ? 0u : 2u);
    EXPECT_EQ(sim.CallsTo({"DriverPackageGetPathW"}).size(), c.result == 0 ? 2u : 0u);
  }
}

TEST(PackageOperations, InstallWithoutInfFilesFailsWithThree) {
  SimMachine sim(MachineImage());
  EXPECT_EQ(RunCode(sim, 0x1), 3u);
  EXPECT_EQ(sim.api().stdoutText(), std::string(kInstalling) + kInstallFail);
  EXPECT_EQ(sim.CallsTo({"FindFirstFileW"}).size(), 2u);  // the install and the rollback
  EXPECT_TRUE(sim.CallsTo({"DriverPackageInstallW", "DriverPackageUninstallW"}).empty());
}

TEST(PackageOperations, UninstallPrintsItsOutcome) {
  for (DWORD code : {0x2u, 0x12u}) {
    SimMachine sim(MachineImage());
    AddPackage(sim, "alpha");
    AddPackage(sim, "beta");
    ASSERT_EQ(RunCode(sim, 0x1), 0u);
    SimMachine again(MachineImage());  // nothing to uninstall there
    AddPackage(again, "alpha");

    sim.api().ClearTrace();
    EXPECT_EQ(RunCode(sim, code, {u"-x", u"-F2result.ini"}), 0u);
    EXPECT_EQ(sim.api().stdoutText(),
              std::string(kInstalling) + kInstallSuccess + kUninstalling + kUninstallSuccess);
    EXPECT_EQ(sim.CallsTo({"DriverPackageUninstallW"}).size(), 2u);
    EXPECT_EQ(RunCode(again, code, {u"-f2result.ini"}), 3u);  // not in the store
    EXPECT_EQ(again.api().stdoutText(), std::string(kUninstalling) + kUninstallFail);
    if (code == 0x12) {
      EXPECT_EQ(WorkFile(sim, "result.ini"), "[ResponseResult]\r\nResultCode = 0\r\n");
      EXPECT_EQ(WorkFile(again, "result.ini"), "[ResponseResult]\r\nResultCode = 3\r\n");
    }
  }
}

TEST(PackageOperations, InstallerLaunchPrintsNothingAndRecordsEvenWhenNothingRuns) {
  SimMachine sim(MachineImage("6.2", "WinNT", "IA64"));  // no installer for this processor
  AddPrograms(sim);
  AddPackage(sim, "orvser");
  ASSERT_EQ(RunCode(sim, 0x1), 0u);
  sim.api().ClearTrace();
  sim.Key(kUninstallKey)->DeleteSubkeyTree(u"ORVEK Multi-I/O Card Driver");
  const std::string printed = sim.api().stdoutText();
  EXPECT_EQ(RunCode(sim, 0x4), 11u);
  EXPECT_EQ(sim.api().stdoutText(), printed);
  EXPECT_TRUE(sim.CallsTo({"CreateProcessW"}).empty());
  EXPECT_TRUE(sim.HasValue(kProductKey, u"DriverStorePath0"));
}

// A machine with one recorded package and one copy in the INF folder that names the maker but
// is not in the store, so that the vendor clean-up gives 0xE0000302.
void PrepareCleanUp(SimMachine& sim) {
  AddPrograms(sim);
  AddPackage(sim, "orvser");
  ASSERT_EQ(RunCode(sim, 0x1), 0u);
  sim.WriteFile("Windows/inf/oem7.inf", PackageInf("stray", false));
  sim.api().ClearTrace();
}

TEST(PackageOperations, CleanUpReturnsTheMappedOrTheRawStatus) {
  const std::pair<DWORD, DWORD> cases[] = {{0x8, 3},
                                           {0x2000, ERROR_DRIVER_PACKAGE_NOT_IN_STORE},
                                           {0x3000, ERROR_DRIVER_PACKAGE_NOT_IN_STORE}};
  for (const auto& [code, result] : cases) {
    SimMachine sim(MachineImage());
    PrepareCleanUp(sim);
    const std::string printed = sim.api().stdoutText();
    EXPECT_EQ(RunCode(sim, code), result) << code;
    EXPECT_EQ(sim.api().stdoutText(), printed) << code;
    // The recorded package goes first, through the installer; then the INF folder is searched.
    EXPECT_EQ(CallSteps(sim, {"DPInst", "GetWindowsDirectoryW", "DriverPackageUninstallW"}),
              (Strings{"DPInst", "GetWindowsDirectoryW", "DriverPackageUninstallW"}))
        << code;
    EXPECT_EQ(sim.Key(kProductKey), nullptr) << code;
    EXPECT_FALSE(std::filesystem::exists(sim.driveC() / "Windows" / "inf" / "oem0.inf")) << code;
  }
}

TEST(PackageOperations, CleanUpOfAnEmptyInfFolder) {
  const std::pair<DWORD, DWORD> cases[] = {{0x8, 11}, {0x2000, kCannotOpen}, {0x3000, kCannotOpen}};
  for (const auto& [code, result] : cases) {
    SimMachine sim(MachineImage());  // no record: its clean-up gives kCannotOpen, dropped
    EXPECT_EQ(RunCode(sim, code), result) << code;
    EXPECT_EQ(sim.api().stdoutText(), "") << code;
  }
}

}  // namespace
}  // namespace orv
