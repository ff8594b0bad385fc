#include "frontend/run_operation.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "frontend/program_args.h"
#include "tests/support/sim_fixture.h"

namespace orv {
namespace {

using testing_support::ReadFileBytes;
using testing_support::SimMachine;

class RunOperationTest : public ::testing::Test {
 protected:
  DWORD Run(DWORD code, std::vector<std::u16string> arguments = {}) {
    ArgumentVector vector;
    vector.Add(u"orvcard-op");
    for (auto& argument : arguments) {
      vector.Add(argument);
    }
    return RunOperation(sim.api(), code, vector.data());
  }
  std::string WorkFile(const std::string& name) {
    return ReadFileBytes(sim.driveC() / "work" / name);
  }
  bool WorkFileExists(const std::string& name) {
    return std::filesystem::exists(sim.driveC() / "work" / name);
  }

  SimMachine sim{""};
};

TEST_F(RunOperationTest, UnknownCodesPrintTheInvalidOptionMessageAndGiveTen) {
  for (DWORD code : {0x0u, 0x3u, 0x10u, 0x20u, 0x5000u, 0x48000u, 0x80000u, 0xFFFFFFFFu}) {
    SimMachine fresh("");
    ArgumentVector vector;
    vector.Add(u"orvcard-op");
    EXPECT_EQ(RunOperation(fresh.api(), code, vector.data()), 10u) << code;
    EXPECT_EQ(fresh.api().stdoutText(), "\n Invalid command line option.") << code;
  }
}

TEST_F(RunOperationTest, CodeZeroWritesNoResponseFile) {
  EXPECT_EQ(Run(0, {u"-f2out.ini"}), 10u);
  EXPECT_FALSE(WorkFileExists("out.ini"));
}

TEST_F(RunOperationTest, Code0x1000DoesNothingAndGivesZero) {
  EXPECT_EQ(Run(0x1000), 0u);
  EXPECT_TRUE(sim.api().trace().empty());
  EXPECT_EQ(sim.api().stdoutText(), "");
}

TEST_F(RunOperationTest, ResponseFileForCode0x10HoldsTheInvalidOptionResult) {
  EXPECT_EQ(Run(0x10, {u"-f2r.ini"}), 10u);
  EXPECT_EQ(WorkFile("r.ini"), "[ResponseResult]\r\nResultCode = 10\r\n");
}

TEST_F(RunOperationTest, ResponseFileIsAppendedOneSectionPerRun) {
  Run(0x10, {u"-f2r.ini"});
  Run(0x10, {u"x", u"-F2r.ini"});
  EXPECT_EQ(WorkFile("r.ini"),
            "[ResponseResult]\r\nResultCode = 10\r\n[ResponseResult]\r\nResultCode = 10\r\n");
}

TEST_F(RunOperationTest, OnlyTheFirstQualifyingArgumentIsWritten) {
  Run(0x10, {u"-F2a.ini", u"-f2b.ini"});
  EXPECT_TRUE(WorkFileExists("a.ini"));
  EXPECT_FALSE(WorkFileExists("b.ini"));
}

TEST_F(RunOperationTest, ArgumentsThatDoNotQualifyWriteNothing) {
  Run(0x10, {u"-f3x.ini", u"-fx.ini"});
  Run(0x10, {u"f2y.ini", u"/f2z.ini"});
  for (const char* name : {"x.ini", "fx.ini", "y.ini", "z.ini", "2y.ini", "2z.ini"}) {
    EXPECT_FALSE(WorkFileExists(name)) << name;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sim.driveC() / "work"),
                          std::filesystem::directory_iterator()),
            0);
}

TEST_F(RunOperationTest, OnlyArgumentsOneAndTwoAreLookedAt) {
  Run(0x10, {u"a", u"b", u"-f2third.ini"});
  EXPECT_FALSE(WorkFileExists("third.ini"));
}

TEST_F(RunOperationTest, ResponseFileWithAnAbsolutePath) {
  Run(0x10, {u"-f2C:\\setup\\result.ini"});
  EXPECT_FALSE(std::filesystem::exists(sim.driveC() / "setup" / "result.ini"));  // no folder
  std::filesystem::create_directories(sim.driveC() / "setup");
  Run(0x10, {u"-f2C:\\setup\\result.ini"});
  EXPECT_EQ(ReadFileBytes(sim.driveC() / "setup" / "result.ini"),
            "[ResponseResult]\r\nResultCode = 10\r\n");
}

TEST_F(RunOperationTest, APathLongerThanItsBufferIsNotWrittenAnywhere) {
  // C:\work\ + 50-character folders: a 259-character path fits the buffer, 260 does not.
  const std::string folder(50, 'd');
  std::filesystem::create_directories(sim.driveC() / "work" / folder / folder / folder / folder);
  const std::u16string prefix = u"C:\\work\\" + std::u16string(50, u'd') + u"\\" +
                                std::u16string(50, u'd') + u"\\" + std::u16string(50, u'd') +
                                u"\\" + std::u16string(50, u'd') + u"\\";
  ASSERT_EQ(prefix.size(), 212u);
  const std::u16string fits = prefix + std::u16string(43, u'n') + u".ini";     // 259
  const std::u16string tooLong = prefix + std::u16string(44, u'n') + u".ini";  // 260
  const auto folderPath = sim.driveC() / "work" / folder / folder / folder / folder;
  Run(0x10, {u"-f2" + tooLong});
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folderPath),
                          std::filesystem::directory_iterator()),
            0);
  EXPECT_EQ(Run(0x10, {u"-f2" + fits}), 10u);
  EXPECT_TRUE(std::filesystem::exists(folderPath / (std::string(43, 'n') + ".ini")));
}

TEST_F(RunOperationTest, DeviceOperationsGiveZeroAndPrintNothing) {
  for (DWORD code : {0x4000u, 0x8000u, 0x10000u, 0x20000u, 0x40000u}) {
    SimMachine fresh("");
    ArgumentVector vector;
    vector.Add(u"orvcard-op");
    EXPECT_EQ(RunOperation(fresh.api(), code, vector.data()), 0u) << code;
    EXPECT_EQ(fresh.api().stdoutText(), "") << code;
    EXPECT_EQ(fresh.api().OpenHandleCount(), 0u) << code;
  }
}

}  // namespace
}  // namespace orv
