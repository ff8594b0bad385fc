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

  // The export that Windows imports is UTF-16LE (the default; --utf16 is still accepted), the
  // UTF-8 form the one of registry.reg.
  const ProgramResult exported = Winsim("export " + Machine());
  ASSERT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(exported.out, winsim::WriteRegImageUtf16(winsim::ParseRegImage(Image())));
  EXPECT_EQ(exported.out.substr(0, 4), std::string("\xFF\xFEW\0", 4));
  EXPECT_EQ(Winsim("export --utf8 " + Machine()).out, Image());

  const fs::path utf16 = sandbox_.root() / "machine16.reg";
  const ProgramResult exported16 =
      Winsim("export --utf16 " + Machine() + " -o '" + utf16.string() + "'");
  ASSERT_EQ(exported16.status, 0) << exported16.err;
  EXPECT_EQ(exported16.out, "");
  EXPECT_EQ(sandbox_.ReadFile(utf16), exported.out);

  // A machine made from that export has the same registry.
  const fs::path copy = sandbox_.root() / "copy";
  const ProgramResult fromExport =
      Winsim("init '" + copy.string() + "' --from '" + utf16.string() + "'");
  ASSERT_EQ(fromExport.status, 0) << fromExport.err;
  EXPECT_EQ(sandbox_.ReadFile(copy / "registry.reg"), Image());
}

// The sample machine's image with its CurrentControlSet as ControlSet002, beside an older
// ControlSet001 that has a card of its own, and (with `copy`) the CurrentControlSet tree as well,
// as an export of a running system holds it.
std::string InControlSet002(const std::string& image, bool copy) {
  const std::string current = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet";
  std::string renamed = image;
  for (std::size_t at = 0; (at = renamed.find(current, at)) != std::string::npos;) {
    renamed.replace(at, current.size(), "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002");
  }
  renamed +=
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0000\\"
      "Control]\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=dword:00000002\n\n";
  return winsim::WriteRegImage(
      winsim::ParseRegImage(copy ? renamed + image.substr(image.find('\n')) : renamed));
}

TEST_F(WinsimProgramTest, ReplaysEveryControlSetFormAsTheCurrentControlSet) {
  // What the tool does to the sample machine, in its plain form.
  ASSERT_EQ(Winsim("init " + Machine()).status, 0);
  const std::string sample = Image();
  ASSERT_EQ(sandbox_.Run(ORVCARD_BIN, "").status, 0);
  const std::string plainResult = Image();

  for (const bool copy : {false, true}) {
    const fs::path customer = sandbox_.root() / (copy ? "both.reg" : "set.reg");
    const fs::path machine = sandbox_.root() / (copy ? "both" : "set");
    std::ofstream(customer, std::ios::binary)
        << winsim::WriteRegImageUtf16(winsim::ParseRegImage(InControlSet002(sample, copy)));
    const ProgramResult init =
        Winsim("init '" + machine.string() + "' --from '" + customer.string() + "'");
    ASSERT_EQ(init.status, 0) << init.err;
    EXPECT_EQ(
        init.err,
        "Replay\n  control set:  ControlSet002 (SYSTEM\\Select), linked as CurrentControlSet\n"
        "  card devices: 6 device nodes under ORVPCARD_ENUM, 6 present\n");
    EXPECT_EQ(sandbox_.ReadFile(machine / "registry.reg"), InControlSet002(sample, copy));

    // The run reaches the devices and keys through the link and saves the image in its form.
    const ProgramResult run =
        sandbox_.Run(ORVCARD_BIN, "", true, "ORVCARD_MACHINE='" + machine.string() + "'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(sandbox_.ReadFile(machine / "registry.reg"), InControlSet002(plainResult, copy));

    // Each change shows once, under the control set.
    const ProgramResult diff =
        Winsim("diff '" + customer.string() + "' '" + machine.string() + "'");
    EXPECT_EQ(diff.status, 1) << diff.err;
    EXPECT_NE(diff.out.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Enum\\ORVPCARD_ENUM\\"
                            "ORVPCARD_PARPECP\\0000\\Device Parameters]\n"
                            "- PortName  REG_SZ  LPT3\n+ PortName  REG_SZ  LPT2\n"),
              std::string::npos)
        << diff.out;
    EXPECT_EQ(diff.out.find("CurrentControlSet"), std::string::npos) << diff.out;
  }

  // A replay that will do nothing says why.
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const std::string card =
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_PARPECP\\0000]"
      "\n";
  for (const auto& [image, summary] :
       {std::pair<std::string, std::string>{
            header + card,
            "Replay\n  control set:  CurrentControlSet, a key of its own (no SYSTEM\\Select)\n"
            "  card devices: 1 device nodes under ORVPCARD_ENUM, 0 present\n"
            "  note: no card device is present (none has a Control subkey, which Windows keeps "
            "for started devices and Wine never creates): the port renumbering finds no port\n"},
        {header + "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n",
         "Replay\n  control set:  none (no SYSTEM\\CurrentControlSet; no SYSTEM\\Select)\n"
         "  card devices: 0 device nodes under ORVPCARD_ENUM, 0 present\n"
         "  note: orvcard finds no card here: nothing under "
         "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\n"},
        {header +
             "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001]\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]"
             "\n\"Current\"=\"1\"\n",
         "Replay\n  control set:  none (no SYSTEM\\CurrentControlSet; SYSTEM\\Select\\Current is "
         "REG_SZ (4 bytes), not a 4-byte REG_DWORD)\n"
         "  card devices: 0 device nodes under ORVPCARD_ENUM, 0 present\n"
         "  note: orvcard finds no card here: nothing under "
         "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\n"}}) {
    const fs::path file = sandbox_.root() / "customer.reg";
    const fs::path machine = sandbox_.root() / ("m" + std::to_string(image.size()));
    std::ofstream(file, std::ios::binary) << image;
    const ProgramResult init =
        Winsim("init '" + machine.string() + "' --from '" + file.string() + "'");
    EXPECT_EQ(init.status, 0);
    EXPECT_EQ(init.err, summary);
  }
}

TEST_F(WinsimProgramTest, ShowEscapesControlCharactersInNamesAndData) {
  fs::create_directories(sandbox_.machine() / "drive_c");
  std::ofstream(sandbox_.machine() / "registry.reg", std::ios::binary)
      << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows"
         "\\CurrentVersion\\Uninstall\\ORVEK Multi-I/O Card Driver]\n"
         "\"\x1b]0;owned\x07\"=\"a\\rb\x1b[2J\xc2\x9b\"\n";
  const ProgramResult show = Winsim("show " + Machine());
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("  \\x1b]0;owned\\x07 = a\\rb\\x1b[2J\\x9b\n"), std::string::npos)
      << show.out;
  EXPECT_EQ(show.out.find_first_of("\x1b\r\x07"), std::string::npos);
}

TEST_F(WinsimProgramTest, DiffShowsEachChangeInRegeditTerms) {
  const std::string before =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n"
      "@=\"default\"\n"
      "\"Same\"=\"x\"\n"
      "\"Text\"=\"Caf\xC3\xA9\"\n"
      "\"Map\"=hex(1):4c,00,50,00,54,00,31,00,00,00,00,00\n"
      "\"Count\"=dword:00000001\n"
      "\"Big\"=hex(b):01,00,00,00,00,00,00,00\n"
      "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
      "\"Prop\"=hex(ffff0012):01,02\n"
      "\"Pad\"=hex(1):41,00,00,00,01,00\n"
      "\"Gone\"=hex:\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Old]\n\"a\"=\"1\"\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Old\\Deeper]\n\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order]\n\"a\"=\"1\"\n\"b\"=\"2\"\n\n";
  const std::string after =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\k]\r\n"
      "@=\"changed\"\r\n"
      "\"same\"=\"x\"\r\n"
      "\"Text\"=\"Caf\xE9 \x80\"\r\n"
      "\"Map\"=hex(1):4c,50,54,32,00,00,00\r\n"  // REGEDIT4: a byte per character
      "\"Count\"=dword:0000000a\r\n"
      "\"Big\"=hex(b):02,00,00,00,00,00,00,00\r\n"
      "\"List\"=hex(7):61,00,00\r\n"
      "\"Prop\"=hex(ffff0012):01,03\r\n"
      "\"Pad\"=hex(1):41,00,02\r\n"
      "\"New\"=dword:00000002\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Added]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order]\r\n\"b\"=\"2\"\r\n\"a\"=\"1\"\r\n";
  const fs::path a = sandbox_.root() / "a.reg";
  const fs::path b = sandbox_.root() / "b.reg";
  std::ofstream(a, std::ios::binary) << winsim::WriteRegImageUtf16(winsim::ParseRegImage(before));
  std::ofstream(b, std::ios::binary) << after;
  const ProgramResult diff = Winsim("diff '" + a.string() + "' '" + b.string() + "'");
  EXPECT_EQ(diff.status, 1) << diff.err;
  EXPECT_EQ(diff.out,
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\K]\n"
            "- (Default)  REG_SZ  default\n"
            "+ (Default)  REG_SZ  changed\n"
            "- Text  REG_SZ  Caf\xC3\xA9\n"
            "+ Text  REG_SZ  Caf\xC3\xA9 \xE2\x82\xAC\n"
            "- Map  REG_SZ (12 bytes)  LPT1\n"
            "+ Map  REG_SZ (14 bytes)  LPT2\n"
            "- Count  REG_DWORD  0x00000001 (1)\n"
            "+ Count  REG_DWORD  0x0000000a (10)\n"
            "- Big  REG_QWORD  0x0000000000000001 (1)\n"
            "+ Big  REG_QWORD  0x0000000000000002 (2)\n"
            "- List  REG_MULTI_SZ  a; b\n"
            "+ List  REG_MULTI_SZ  a\n"
            "- Prop  type 0xffff0012 (2 bytes)  01 02\n"
            "+ Prop  type 0xffff0012 (2 bytes)  01 03\n"
            "- Pad  REG_SZ (6 bytes)  41 00 00 00 01 00\n"
            "+ Pad  REG_SZ (6 bytes)  41 00 00 00 02 00\n"
            "- Gone  REG_BINARY (0 bytes)  (zero-length binary value)\n"
            "+ New  REG_DWORD  0x00000002 (2)\n"
            "\n+[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Added]\n"
            "\n-[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Old]\n"
            "- a  REG_SZ  1\n"
            "\n-[HKEY_LOCAL_MACHINE\\SOFTWARE\\K\\Old\\Deeper]\n"
            "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Order]\n"
            "  (values in another order: a, b -> b, a)\n");

  // The same registry in another encoding is no difference; an unreadable side stops the diff.
  const ProgramResult same = Winsim("diff '" + a.string() + "' /dev/stdin < '" + a.string() + "'");
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_EQ(same.out, "");
  std::ofstream(b, std::ios::app) << "\"broken\r\n";
  const ProgramResult bad = Winsim("diff '" + a.string() + "' '" + b.string() + "'");
  EXPECT_EQ(bad.status, 125);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "winsim: " + b.string() + ":20: quoted text without its closing quote\n");
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
  for (const char* arguments :
       {"", "frobnicate dir", "init", "show a b", "show --utf16 dir", "export dir -o",
        "init dir --from", "export dir --from x", "diff a", "diff a b c", "diff --utf8 a b"}) {
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
