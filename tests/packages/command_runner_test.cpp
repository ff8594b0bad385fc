#include "packages/command_runner.h"

#include <gtest/gtest.h>

#include "tests/packages/package_test_support.h"

namespace orv {
namespace {

using namespace package_tests;

TEST(RunCommandLine, RunsTheLineThroughComSpecAndReturnsItsExitStatus) {
  SimMachine sim(MachineImage());
  AddPrograms(sim);
  EXPECT_EQ(RunCommandLine(sim.api(), u"nosuchprogram.exe /x"), 9009);
  EXPECT_EQ(ArgsOf(sim, "GetEnvironmentVariableW"), Strings{"\"COMSPEC\", 260"});
  EXPECT_EQ(ArgsOf(sim, "CreateProcessW"), Strings{InterpreterArgs("nosuchprogram.exe /x")});
  EXPECT_EQ(sim.CallsTo({"CloseHandle"}).size(), 2u);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);

  sim.api().ArmFault(winsim::Fault{.api = "DPInst", .status = 0x80010000});
  EXPECT_EQ(RunCommandLine(sim.api(), u"\"C:\\Program Files\\ORVEK\\DPInst.exe\" /s"),
            static_cast<LONG>(0x80010000));
}

TEST(RunCommandLine, FallsBackToTheSystemFoldersCmdNeverASearchedOne) {
  struct Case {
    bool withComSpec;
    DWORD comSpecError;  // 0: ComSpec starts, or is not set
  } cases[] = {
      {.withComSpec = false, .comSpecError = 0},
      {.withComSpec = true, .comSpecError = ERROR_FILE_NOT_FOUND},
      {.withComSpec = true, .comSpecError = ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SimMachine sim(MachineImage("6.1", "WinNT", "x86", c.withComSpec));
    AddPrograms(sim);
    // A cmd.exe planted in the current folder (where the packages were unpacked) would come
    // first in a search, as on Windows; it must not be the one that runs.
    sim.WriteFile("work/cmd.exe", "#winsim-program dpinst\n");
    if (c.comSpecError != 0) {
      sim.api().ArmFault(
          winsim::Fault{.api = "CreateProcessW", .nth = 1, .status = c.comSpecError});
    }
    EXPECT_EQ(RunCommandLine(sim.api(), u"nosuchprogram.exe"), 9009) << c.comSpecError;
    EXPECT_TRUE(sim.CallsTo({"DPInst"}).empty());
    EXPECT_EQ(ArgsOf(sim, "GetSystemDirectoryW"), Strings{"260"});
    EXPECT_EQ(ArgsOf(sim, "CreateProcessW").back(), InterpreterArgs("nosuchprogram.exe"));
    EXPECT_EQ(ArgsOf(sim, "CreateProcessW").size(), c.withComSpec ? 2u : 1u);
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
}

TEST(RunCommandLine, GivesMinusOneWhenNoInterpreterStarts) {
  {
    // ComSpec fails for another reason: no fallback.
    SimMachine sim(MachineImage());
    AddPrograms(sim);
    sim.api().ArmFault(winsim::Fault{.api = "CreateProcessW", .status = ERROR_INVALID_PARAMETER});
    EXPECT_EQ(RunCommandLine(sim.api(), u"DPInst32.exe"), -1);
  }
  {
    // No ComSpec and no cmd.exe in the system folder.
    SimMachine sim(MachineImage("6.1", "WinNT", "x86", false));
    EXPECT_EQ(RunCommandLine(sim.api(), u"DPInst32.exe"), -1);
    EXPECT_EQ(sim.CallsTo({"CreateProcessW"}).size(), 1u);
  }
  {
    // No ComSpec, and the system folder cannot be had.
    SimMachine sim(MachineImage("6.1", "WinNT", "x86", false));
    AddPrograms(sim);
    sim.api().ArmFault(winsim::Fault{.api = "GetSystemDirectoryW", .status = ERROR_ACCESS_DENIED});
    EXPECT_EQ(RunCommandLine(sim.api(), u"DPInst32.exe"), -1);
    EXPECT_TRUE(sim.CallsTo({"CreateProcessW"}).empty());
  }
  {
    // ComSpec lies in a folder that does not exist: not a missing file, so no fallback.
    SimMachine sim(MachineImage());
    sim.WriteFile("Windows/cmd.exe", "#winsim-program cmd\n");
    EXPECT_EQ(RunCommandLine(sim.api(), u"DPInst32.exe"), -1);
    EXPECT_EQ(sim.CallsTo({"CreateProcessW"}).size(), 1u);
  }
  {
    // ComSpec names a missing file and the system folder's cmd.exe cannot start either.
    SimMachine sim(MachineImage());
    sim.WriteFile("Windows/System32/cmd.exe", "not a program\n");
    sim.api().ArmFault(
        winsim::Fault{.api = "CreateProcessW", .nth = 1, .status = ERROR_FILE_NOT_FOUND});
    EXPECT_EQ(RunCommandLine(sim.api(), u"DPInst32.exe"), -1);
    EXPECT_EQ(ArgsOf(sim, "CreateProcessW").size(), 2u);
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  }
  for (const char* failing : {"WaitForSingleObject", "GetExitCodeProcess"}) {
    // Started, but its exit status cannot be had.
    SimMachine sim(MachineImage());
    AddPrograms(sim);
    sim.api().ArmFault(winsim::Fault{.api = failing, .status = ERROR_INVALID_HANDLE});
    EXPECT_EQ(RunCommandLine(sim.api(), u"DPInst32.exe"), -1) << failing;
    EXPECT_EQ(sim.CallsTo({"CreateProcessW"}).size(), 1u) << failing;
    EXPECT_EQ(sim.api().OpenHandleCount(), 0u) << failing;
  }
  {
    // A line too long for the process command line is not started shortened.
    SimMachine sim(MachineImage());
    AddPrograms(sim);
    const std::u16string line(800, u'x');
    EXPECT_EQ(RunCommandLine(sim.api(), line.c_str()), -1);
    EXPECT_TRUE(sim.CallsTo({"CreateProcessW"}).empty());
  }
}

}  // namespace
}  // namespace orv
