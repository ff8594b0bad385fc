// The winsim program as a user runs it.
#include <gtest/gtest.h>

#include <fstream>

#include "tests/programs/program_runner.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ProgramResult;
using testing_support::ProgramSandbox;

class WinsimProgramTest : public ::testing::Test {
 protected:
  ProgramResult Winsim(const std::string& arguments) const {
    return sandbox_.Run(WINSIM_BIN, arguments, false);
  }
  std::string Machine() const { return "'" + sandbox_.machine().string() + "'"; }
  std::string Image() const { return sandbox_.ReadFile(sandbox_.machine() / "registry.reg"); }

  ProgramSandbox sandbox_;
};

TEST_F(WinsimProgramTest, InitShowAndExportTheSampleMachine) {
  ProgramResult init = Winsim("init " + Machine());
  ASSERT_EQ(init.status, 0) << init.err;
  EXPECT_EQ(Image(), winsim::SampleMachineImage());
  EXPECT_TRUE(fs::exists(sandbox_.machine() / "drive_c/Program Files/ORVEK/DPInst.exe"));

  const ProgramResult show = Winsim("show " + Machine());
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_EQ(show.err, "");
  EXPECT_NE(show.out.find("    ORVPCARD_ENUM\\ORVPCARD_SERP\\0000  present\n"
                          "      location:      ORVEK COM Port 1\n"
                          "      PortName:      COM5\n"),
            std::string::npos)
      << show.out;
  EXPECT_NE(show.out.find("  \\Device\\Parallel2 = \\DosDevices\\LPT4\n"), std::string::npos);
  EXPECT_EQ(Winsim("show " + Machine()).out, show.out);             // stable from run to run
  EXPECT_EQ(sandbox_.Run(WINSIM_BIN, "show", true).out, show.out);  // the ORVCARD_MACHINE one

  // Without a folder and ORVCARD_MACHINE, show creates the default machine as orvcard would.
  const ProgramResult byDefault = Winsim("show");
  EXPECT_EQ(byDefault.status, 0);
  EXPECT_EQ(byDefault.err, "winsim: created the sample machine in " +
                               (sandbox_.root() / "state/orvcard/machine").string() + "\n");
  EXPECT_EQ(byDefault.out, show.out);
  EXPECT_EQ(sandbox_.Run(ORVCARD_BIN, "-x", false).err, "");  // orvcard finds it there
  EXPECT_FALSE(fs::exists(sandbox_.machine() / ".lock"));     // show takes no lock

  const ProgramResult exported = Winsim("export " + Machine());
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out, Image());

  const fs::path utf16 = sandbox_.root() / "machine16.reg";
  const ProgramResult exported16 =
      Winsim("export --utf16 " + Machine() + " -o '" + utf16.string() + "'");
  ASSERT_EQ(exported16.status, 0) << exported16.err;
  EXPECT_EQ(exported16.out, "");
  const std::string bytes = sandbox_.ReadFile(utf16);
  EXPECT_EQ(bytes, winsim::WriteRegImageUtf16(winsim::ParseRegImage(Image())));
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xFF\xFEW\0", 4));

  // A machine made from that export has the same registry.
  const fs::path copy = sandbox_.root() / "copy";
  const ProgramResult fromExport =
      Winsim("init '" + copy.string() + "' --from '" + utf16.string() + "'");
  ASSERT_EQ(fromExport.status, 0) << fromExport.err;
  EXPECT_EQ(sandbox_.ReadFile(copy / "registry.reg"), Image());
}

TEST_F(WinsimProgramTest, UnreadableMachineStopsWithStatus125AndChangesNothing) {
  const std::string image =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"
      "\"v\"=dword:12345678\r\n\"w\"=hex:zz\r\n";
  fs::create_directories(sandbox_.machine());
  std::ofstream(sandbox_.machine() / "registry.reg", std::ios::binary) << image;
  for (const char* command : {"show", "export"}) {
    const ProgramResult result = Winsim(std::string(command) + " " + Machine());
    EXPECT_EQ(result.status, 125) << command;
    EXPECT_EQ(result.out, "") << command;
    EXPECT_EQ(result.err, "winsim: " + (sandbox_.machine() / "registry.reg").string() +
                              ":5: expected a byte of two hex digits\n")
        << command;
    EXPECT_EQ(Image(), image) << command;
  }

  // init refuses to replace it, and --from names the file and line of a bad export.
  EXPECT_EQ(Winsim("init " + Machine()).status, 125);
  EXPECT_EQ(Image(), image);
  const ProgramResult from = Winsim("init '" + (sandbox_.root() / "new").string() + "' --from " +
                                    Machine() + "/registry.reg");
  EXPECT_EQ(from.status, 125);
  EXPECT_NE(from.err.find("registry.reg:5: "), std::string::npos) << from.err;
  EXPECT_FALSE(fs::exists(sandbox_.root() / "new"));

  const ProgramResult missing = Winsim("show '" + (sandbox_.root() / "nowhere").string() + "'");
  EXPECT_EQ(missing.status, 125);
  EXPECT_NE(missing.err.find("no such machine directory"), std::string::npos) << missing.err;
}

TEST_F(WinsimProgramTest, UsageErrorsExitWith64) {
  for (const char* arguments : {"", "frobnicate dir", "init", "show a b", "show --utf16 dir",
                                "export dir -o", "init dir --from", "export dir --from x"}) {
    const ProgramResult result = Winsim(arguments);
    EXPECT_EQ(result.status, 64) << arguments;
    EXPECT_NE(result.err.find("usage: winsim"), std::string::npos) << arguments;
    EXPECT_EQ(result.out, "") << arguments;
  }
  const ProgramResult help = Winsim("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("winsim export DIR"), std::string::npos);
}

}  // namespace
