// The programs as a user runs them, on simulated machines in temporary folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "frontend/wow64_notice.h"
#include "tests/programs/program_runner.h"

namespace {

using testing_support::ProgramSandbox;

const char* kCardImage =
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\PARALLEL PORTS]\n"
    "\"\\\\Device\\\\Parallel0\"=\"\\\\DosDevices\\\\LPT1\"\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
    "\"CurrentVersion\"=\"6.1\"\n";

TEST(OrvcardProgram, AnInvalidOptionPrintsTheMessageAndExitsTen) {
  ProgramSandbox box;
  box.WriteMachine(kCardImage);
  const std::string before = box.ReadFile(box.machine() / "registry.reg");
  for (const char* arguments :
       {"-x", "-removecomdb", "-RemoveDeviceNode -RemoveCOMdb", "''", "--help"}) {
    auto result = box.Run(ORVCARD_BIN, arguments);
    EXPECT_EQ(result.status, 10) << arguments;
    EXPECT_EQ(result.out, "\n Invalid command line option.") << arguments;
    EXPECT_EQ(result.err, "") << arguments;
  }
  EXPECT_EQ(box.ReadFile(box.machine() / "registry.reg"), before);
}

TEST(OrvcardProgram, TheValidFormsExitZeroAndPrintNothing) {
  ProgramSandbox box;
  box.WriteMachine(kCardImage);
  for (const char* arguments : {"", "-RemoveCOMdb", "-RemoveDeviceNode"}) {
    auto result = box.Run(ORVCARD_BIN, arguments);
    EXPECT_EQ(result.status, 0) << arguments;
    EXPECT_EQ(result.out, "") << arguments;
  }
}

TEST(OrvcardProgram, AMalformedMachineStopsTheRunWithStatus125AndStaysAsItWas) {
  ProgramSandbox box;
  box.WriteMachine(std::string(kCardImage) + "this is not a registry line\n");
  const std::string before = box.ReadFile(box.machine() / "registry.reg");
  auto result = box.Run(ORVCARD_BIN, "");
  EXPECT_EQ(result.status, 125);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("registry.reg:8"), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_EQ(box.ReadFile(box.machine() / "registry.reg"), before);
}

TEST(OrvcardProgram, AMissingMachineStopsTheRunWithStatus125) {
  ProgramSandbox box;
  auto result = box.Run(ORVCARD_BIN, "");
  EXPECT_EQ(result.status, 125);
  EXPECT_NE(result.err.find(box.machine().string()), std::string::npos) << result.err;
  EXPECT_FALSE(std::filesystem::exists(box.machine()));
}

TEST(OrvcardProgram, TheDefaultMachineIsCreatedFromTheSampleOnFirstUse) {
  ProgramSandbox box;
  auto first = box.Run(ORVCARD_BIN, "-x", false);
  EXPECT_EQ(first.status, 10);
  EXPECT_NE(first.err.find("sample machine"), std::string::npos) << first.err;
  EXPECT_TRUE(
      std::filesystem::exists(box.root() / "state" / "orvcard" / "machine" / "registry.reg"));
  auto second = box.Run(ORVCARD_BIN, "-x", false);
  EXPECT_EQ(second.err, "");
}

TEST(OrvcardOpProgram, AppendsTheResponseFile) {
  ProgramSandbox box;
  box.WriteMachine(kCardImage);
  auto result = box.Run(ORVCARD_OP_BIN, "0x10 -f2r.ini");
  EXPECT_EQ(result.status, 10);
  EXPECT_EQ(result.out, "\n Invalid command line option.");
  box.Run(ORVCARD_OP_BIN, "16 x -F2r.ini");
  EXPECT_EQ(box.ReadFile(box.work() / "r.ini"),
            "[ResponseResult]\r\nResultCode = 10\r\n[ResponseResult]\r\nResultCode = 10\r\n");
}

TEST(OrvcardOpProgram, ACodeThatIsNotANumberIsAUsageError) {
  ProgramSandbox box;
  box.WriteMachine(kCardImage);
  for (const char* arguments : {"", "four", "0x", "-f2r.ini", "0x10 a b c", "--help 0x1"}) {
    auto result = box.Run(ORVCARD_OP_BIN, arguments);
    EXPECT_EQ(result.status, 64) << arguments;
    EXPECT_NE(result.err.find("usage: orvcard-op CODE"), std::string::npos) << arguments;
    EXPECT_EQ(result.out, "") << arguments;
  }
  EXPECT_FALSE(std::filesystem::exists(box.work() / "r.ini"));
}

TEST(OrvcardOpProgram, HelpListsEveryOperationCode) {
  ProgramSandbox box;  // no machine: help runs no operation
  const auto help = box.Run(ORVCARD_OP_BIN, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  for (const char* code : {"0x1,", "0x11 ", "0x2,", "0x12 ", "0x4 ", "0x8 ", "0x1000 ", "0x2000,",
                           "0x3000 ", "0x4000 ", "0x8000 ", "0x10000 ", "0x20000 ", "0x40000 "}) {
    EXPECT_NE(help.out.find(std::string(" ") + code), std::string::npos) << code;
  }
}

TEST(OrvcardOpProgram, TheTraceFileGetsOneLinePerPlatformCall) {
  ProgramSandbox box;
  box.WriteMachine(kCardImage);
  auto result = box.Run(ORVCARD_OP_BIN, "0x40000", true, "ORVCARD_TRACE=trace.log");
  EXPECT_EQ(result.status, 0);
  const std::string trace = box.ReadFile(box.work() / "trace.log");
  EXPECT_NE(trace.find("GetVersionExW"), std::string::npos) << trace;
  EXPECT_NE(trace.find("SetupDiGetClassDevsW"), std::string::npos) << trace;
}

namespace wow64 {

// The registry lines of every restart counter of the default (sample) machine.
std::string RestartCounts(const ProgramSandbox& box) {
  std::istringstream image(
      box.ReadFile(box.root() / "state" / "orvcard" / "machine" / "registry.reg"));
  std::string line;
  std::string counts;
  while (std::getline(image, line)) {
    if (line.find("RestartCount") != std::string::npos) {
      counts += line + "\n";
    }
  }
  return counts;
}

TEST(OrvcardProgram, TheX86BuildUnderWow64RenamesButRestartsNothingAndSaysWhy) {
  const std::string x86 = "ORVCARD_PROCESS=x86";
  const std::string notice = orv::kWow64Notice;
  ProgramSandbox box;
  ASSERT_EQ(box.Run(ORVCARD_BIN, "-x", false).status, 10);  // creates the sample machine
  const std::string restarts = RestartCounts(box);

  auto renumber = box.Run(ORVCARD_BIN, "", false, x86);
  EXPECT_EQ(renumber.status, 0);
  EXPECT_EQ(renumber.out, "");
  EXPECT_EQ(renumber.err, notice);
  const std::string image =
      box.ReadFile(box.root() / "state" / "orvcard" / "machine" / "registry.reg");
  EXPECT_NE(image.find("\"FriendlyName\"=\"ORVEK LPT Port (LPT2)\""), std::string::npos);
  EXPECT_EQ(RestartCounts(box), restarts);

  EXPECT_EQ(box.Run(ORVCARD_OP_BIN, "0x4000", false, x86).status, 0);
  EXPECT_EQ(RestartCounts(box), restarts);

  for (const char* file : {"orvser.inf", "orvser.cat", "orvser.sys"}) {
    std::filesystem::copy_file(
        std::filesystem::path(ORVCARD_SOURCE_DIR) / "samples" / "packages" / file,
        box.work() / file);
  }
  auto install = box.Run(ORVCARD_OP_BIN, "0x11 -f2r.ini", false, x86);
  EXPECT_EQ(install.status, 11);  // ERROR_IN_WOW64 maps to 11
  EXPECT_EQ(install.out, "\n  Installing driver package...\n\n  Install driver fail.\n");
  EXPECT_EQ(box.ReadFile(box.work() / "r.ini"), "[ResponseResult]\r\nResultCode = 11\r\n");

  // The 64-bit build says nothing, and its restarts count.
  EXPECT_EQ(box.Run(ORVCARD_BIN, "", false, "ORVCARD_PROCESS=x64").err, "");
  EXPECT_NE(RestartCounts(box), restarts);
  // An unknown build is refused.
  auto unknown = box.Run(ORVCARD_BIN, "-x", false, "ORVCARD_PROCESS=arm");
  EXPECT_EQ(unknown.status, 125);
  EXPECT_NE(unknown.err.find("ORVCARD_PROCESS"), std::string::npos) << unknown.err;
}

}  // namespace wow64

}  // namespace
