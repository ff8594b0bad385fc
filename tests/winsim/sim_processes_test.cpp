// Processes of the simulated machine: the search path, the command interpreter and the driver
// package installer.
#include <gtest/gtest.h>

#include "platform/text.h"
#include "tests/support/device_images.h"
#include "tests/support/sim_fixture.h"
#include "winsim/cmd_syntax.h"
#include "winsim/dpinst.h"

namespace {

using namespace orv;
using namespace testing_support;
namespace fs = std::filesystem;

const std::string kEnvironmentImage = EnvironmentImage(
    "\"ComSpec\"=\"C:\\\\Windows\\\\system32\\\\cmd.exe\"\n"
    "\"Path\"=\"C:\\\\Windows\\\\system32;C:\\\\Windows;\\\"C:\\\\Tools\\\"\"\n"
    "\"PROCESSOR_ARCHITECTURE\"=\"AMD64\"\n"
    "\"SystemDrive\"=\"C:\"\n"
    "\"SystemRoot\"=\"C:\\\\Windows\"\n\n");

std::string Utf8(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

// The machine of these tests: its environment, the interpreter and the installer at their
// places, and the card's serial and parallel ports present.
std::string MachineImage() {
  return kEnvironmentImage + DeviceImage(DeviceNode(SerialPortPath(0), "COM3")) +
         DeviceImage(DeviceNode(ParallelPortPath(0), "LPT2"));
}

void AddPrograms(SimMachine& sim) {
  sim.WriteFile("Windows/System32/cmd.exe", "#winsim-program cmd\n");
  sim.WriteFile("Program Files/ORVEK/DPInst.exe", "#winsim-program dpinst\r\n");
}

// Copies the sample packages and installers into a folder of drive C:.
void CopySamples(SimMachine& sim, const std::string& folder) {
  for (const auto& entry : fs::directory_iterator(SamplePackages())) {
    if (entry.path().extension() != ".md") {
      sim.WriteFile(folder + "/" + entry.path().filename().string(), ReadFileBytes(entry.path()));
    }
  }
}

// Runs a command line through the interpreter as the tool does, and returns its exit status
// (or the CreateProcessW error with the high bit set).
DWORD RunThroughInterpreter(SimMachine& sim, const std::u16string& line) {
  WindowsApi& api = sim.api();
  std::u16string commandLine = u"C:\\Windows\\system32\\cmd.exe /c " + line;
  PROCESS_INFORMATION info{};
  if (!api.CreateProcessW(u"C:\\Windows\\system32\\cmd.exe", commandLine.data(), &info)) {
    return 0x80000000u | api.GetLastError();
  }
  EXPECT_EQ(api.WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  EXPECT_TRUE(api.GetExitCodeProcess(info.hProcess, &exitCode));
  EXPECT_TRUE(api.CloseHandle(info.hProcess));
  EXPECT_TRUE(api.CloseHandle(info.hThread));
  return exitCode;
}

std::vector<std::string> StoreFolders(SimMachine& sim) {
  std::vector<std::string> names;
  std::optional<std::vector<winsim::DirEntry>> entries =
      winsim::ListDirectory(sim.driveC() / kDriverStore);
  for (const winsim::DirEntry& entry : entries.value_or(std::vector<winsim::DirEntry>{})) {
    names.push_back(Utf8(entry.name));
  }
  return names;
}

// --- Command-line text ---

TEST(SimProcessTest, FirstTokenAndArguments) {
  std::u16string_view rest;
  EXPECT_EQ(Utf8(winsim::FirstToken(u"  \"C:\\Program Files\\x.exe\"  /s /u", &rest)),
            "C:\\Program Files\\x.exe");
  EXPECT_EQ(Utf8(rest), "/s /u");
  EXPECT_EQ(Utf8(winsim::FirstToken(u"cmd.exe\t/c x", &rest)), "cmd.exe");
  EXPECT_EQ(Utf8(rest), "/c x");
  EXPECT_EQ(Utf8(winsim::FirstToken(u"\"unterminated", &rest)), "unterminated");
  EXPECT_EQ(Utf8(rest), "");

  struct Case {
    std::u16string text;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {u"/s /u C:\\a b", {"/s", "/u", "C:\\a", "b"}},
      {u"/path \"C:\\Program Files\\ORVEK\"", {"/path", "C:\\Program Files\\ORVEK"}},
      {u"a\\\\\"b c\" d", {"a\\b c", "d"}},
      {u"a\\\"b", {"a\"b"}},
      {u"\"a\"\"b\"", {"a\"b"}},
      {u"C:\\dir\\ x", {"C:\\dir\\", "x"}},
      {u"  ", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (const std::u16string& arg : winsim::SplitArguments(c.text)) {
      args.push_back(Utf8(arg));
    }
    EXPECT_EQ(args, c.args) << Utf8(c.text);
  }
}

TEST(SimProcessTest, InterpreterSwitchesAndQuoteRule) {
  std::optional<winsim::InterpreterRequest> request =
      winsim::ParseInterpreterSwitches(u"/d /s /C  \"x y\"");
  ASSERT_TRUE(request);
  EXPECT_TRUE(request->s);
  EXPECT_EQ(Utf8(request->text), "\"x y\"");
  EXPECT_FALSE(winsim::ParseInterpreterSwitches(u"/q"));
  EXPECT_FALSE(winsim::ParseInterpreterSwitches(u"dir /c"));

  // Only "C:\Program Files\ORVEK\DPInst.exe" names a program here.
  auto isProgram = [](std::u16string_view name) {
    return name == u"C:\\Program Files\\ORVEK\\DPInst.exe";
  };
  struct Case {
    std::u16string text;
    bool s;
    std::string result;
  };
  const Case cases[] = {
      // The tool's uninstall line: more than two quotes, so the first and last go.
      {u"\"\"%SystemDrive%\\Program Files\\ORVEK\\DPInst.exe\"\" /s /u C:\\x.inf", false,
       "\"%SystemDrive%\\Program Files\\ORVEK\\DPInst.exe\" /s /u C:\\x.inf"},
      // Exactly two quotes around a program name with a blank: kept.
      {u"\"C:\\Program Files\\ORVEK\\DPInst.exe\" /s", false,
       "\"C:\\Program Files\\ORVEK\\DPInst.exe\" /s"},
      // ... but not with /S, not when the name is no program, not without a blank inside.
      {u"\"C:\\Program Files\\ORVEK\\DPInst.exe\" /s", true,
       "C:\\Program Files\\ORVEK\\DPInst.exe /s"},
      {u"\"C:\\Program Files\\Other.exe\" /s", false, "C:\\Program Files\\Other.exe /s"},
      {u"\"DPInst.exe\" /s", false, "DPInst.exe /s"},
      {u"\"C:\\Program Files (x86)\\a.exe\"", false, "C:\\Program Files (x86)\\a.exe"},
      // Text after the last quote stays; a line not starting with a quote is untouched.
      {u"\"a\" b \"c\" d", false, "a\" b \"c d"},
      {u"DPInst32.exe \"x\"", false, "DPInst32.exe \"x\""},
      {u"\"", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8(winsim::ApplyQuoteRule(c.text, c.s, isProgram)), c.result) << Utf8(c.text);
  }
}

TEST(SimProcessTest, VariablesExpandAndUnknownOnesStay) {
  auto lookup = [](std::u16string_view name) -> std::optional<std::u16string> {
    if (winsim::SameName(name, u"SystemDrive")) {
      return u"C:";
    }
    if (winsim::SameName(name, u"E")) {
      return u"";
    }
    return std::nullopt;
  };
  struct Case {
    std::u16string text;
    std::string result;
  };
  const Case cases[] = {
      {u"%SystemDrive%\\Program Files", "C:\\Program Files"},
      {u"%systemdrive%%SYSTEMDRIVE%", "C:C:"},
      {u"%Unset%\\x", "%Unset%\\x"},
      {u"100% sure %SystemDrive%", "100% sure C:"},
      {u"%Unset%SystemDrive%", "%UnsetC:"},
      {u"%%", "%%"},
      {u"a%E%b", "ab"},
      {u"%SystemDrive", "%SystemDrive"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8(winsim::ExpandVariables(c.text, lookup)), c.result) << Utf8(c.text);
  }
}

TEST(SimProcessTest, LinesSplitAtCommandOperators) {
  using When = winsim::ChainedCommand::When;
  struct Case {
    std::u16string line;
    std::vector<std::pair<std::string, When>> commands;  // empty: not simulated
  };
  const Case cases[] = {
      {u"a.exe /s", {{"a.exe /s", When::kAlways}}},
      {u"a & b&&c || d",
       {{"a ", When::kAlways},
        {" b", When::kAlways},
        {"c ", When::kOnSuccess},
        {" d", When::kOnFailure}}},
      {u"\"a & b\" ^& c", {{"\"a & b\" & c", When::kAlways}}},
      {u"a ^| b", {{"a | b", When::kAlways}}},
      {u"a | b", {}},
      {u"a > out.txt", {}},
      {u"a < in.txt", {}},
      {u"\"a > b\"", {{"\"a > b\"", When::kAlways}}},
  };
  for (const Case& c : cases) {
    std::optional<std::vector<winsim::ChainedCommand>> split = winsim::SplitCommands(c.line);
    if (c.commands.empty()) {
      EXPECT_FALSE(split) << Utf8(c.line);
      continue;
    }
    ASSERT_TRUE(split) << Utf8(c.line);
    std::vector<std::pair<std::string, When>> commands;
    for (const winsim::ChainedCommand& command : *split) {
      commands.emplace_back(Utf8(command.text), command.when);
    }
    EXPECT_EQ(commands, c.commands) << Utf8(c.line);
  }
}

// --- Processes ---

TEST(SimProcessTest, ProcessesRunToTheirEndInsideCreateProcess) {
  SimMachine sim(MachineImage());
  AddPrograms(sim);
  WindowsApi& api = sim.api();
  std::u16string commandLine = u"C:\\Windows\\system32\\cmd.exe /c DPInst32.exe";
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(api.CreateProcessW(u"C:\\Windows\\system32\\cmd.exe", commandLine.data(), &info));
  EXPECT_NE(info.hProcess, info.hThread);
  EXPECT_NE(info.dwProcessId, 0u);
  EXPECT_EQ(sim.api().OpenHandleCount(), 2u);
  EXPECT_EQ(api.WaitForSingleObject(info.hThread, 0), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  EXPECT_FALSE(api.GetExitCodeProcess(info.hThread, &exitCode));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);
  ASSERT_TRUE(api.GetExitCodeProcess(info.hProcess, &exitCode));
  EXPECT_EQ(exitCode, 9009u);  // no DPInst32.exe anywhere
  EXPECT_TRUE(api.CloseHandle(info.hThread));
  EXPECT_TRUE(api.CloseHandle(info.hProcess));
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
  EXPECT_FALSE(api.GetExitCodeProcess(info.hProcess, &exitCode));
  EXPECT_EQ(api.WaitForSingleObject(info.hProcess, INFINITE), WAIT_FAILED);
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_HANDLE);

  // The interpreter's run is traced when it ends, before the call that started it.
  EXPECT_EQ(sim.Calls({"cmd", "CreateProcessW"}),
            (std::vector<std::string>{
                "cmd(\"DPInst32.exe\") = 0x2331",
                "CreateProcessW(\"C:\\Windows\\system32\\cmd.exe\", "
                "\"C:\\Windows\\system32\\cmd.exe /c DPInst32.exe\") = TRUE -> process#1, "
                "thread#2, exit 0x2331"}));
}

TEST(SimProcessTest, ProgramsThatCannotStart) {
  SimMachine sim(MachineImage());
  AddPrograms(sim);
  sim.WriteFile("work/notes.exe", "MZ not a simulated program\n");
  sim.WriteFile("work/other.exe", "#winsim-program unknown\n");
  fs::create_directories(sim.driveC() / "work" / "folder.exe");
  WindowsApi& api = sim.api();
  struct Case {
    const WCHAR* application;
    std::u16string commandLine;
    DWORD error;
  };
  const Case cases[] = {
      {u"C:\\Windows\\system32\\none.exe", u"none.exe /c x", ERROR_FILE_NOT_FOUND},
      {u"C:\\NoSuchFolder\\cmd.exe", u"cmd.exe /c x", ERROR_PATH_NOT_FOUND},
      {u"C:\\work\\notes.exe", u"notes.exe", 193},
      {u"C:\\work\\other.exe", u"other.exe", 193},
      {u"C:\\work\\folder.exe", u"folder.exe", ERROR_ACCESS_DENIED},
      // No extension is added to an application name.
      {u"C:\\Windows\\system32\\cmd", u"cmd /c x", ERROR_FILE_NOT_FOUND},
      {nullptr, u"missing /c x", ERROR_FILE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    std::u16string commandLine = c.commandLine;
    PROCESS_INFORMATION info{};
    EXPECT_FALSE(api.CreateProcessW(c.application, commandLine.data(), &info)) << Utf8(commandLine);
    EXPECT_EQ(api.GetLastError(), c.error) << Utf8(commandLine);
  }
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);

  // Without an application name the program comes from the command line, ".exe" added and
  // searched for.
  std::u16string commandLine = u"cmd /c DPInst.exe";
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(api.CreateProcessW(nullptr, commandLine.data(), &info));
  api.CloseHandle(info.hProcess);
  api.CloseHandle(info.hThread);

  // An armed failure starts nothing.
  sim.api().ArmFault({.api = "CreateProcessW", .text = "cmd", .status = ERROR_ACCESS_DENIED});
  sim.api().ClearTrace();
  EXPECT_FALSE(api.CreateProcessW(nullptr, commandLine.data(), &info));
  EXPECT_EQ(api.GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(sim.Calls({"cmd", "DPInst"}), std::vector<std::string>{});
}

// --- The command interpreter ---

TEST(SimProcessTest, InterpreterRunsTheToolsUninstallLine) {
  SimMachine sim(MachineImage());
  AddPrograms(sim);
  CopySamples(sim, "work");
  BOOL reboot = FALSE;
  ASSERT_EQ(sim.api().DriverPackageInstallW(u"C:\\work\\orvser.inf", DRIVER_PACKAGE_SILENT, nullptr,
                                            &reboot),
            0u);
  const std::string storeInf = "C:\\Windows\\System32\\DriverStore\\FileRepository\\" +
                               StoreFolders(sim).at(0) + "\\orvser.inf";
  sim.api().ClearTrace();

  const std::u16string line =
      u"\"\"%SystemDrive%\\Program Files\\ORVEK\\DPInst.exe\"\" /s /u " + Utf8ToUtf16(storeInf);
  EXPECT_EQ(RunThroughInterpreter(sim, line), 0u);
  EXPECT_EQ(StoreFolders(sim), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(sim.driveC() / "Windows/inf/oem0.inf"));
  EXPECT_EQ(sim.Calls({"DPInst", "cmd"}),
            (std::vector<std::string>{"DPInst(\"/s /u " + storeInf + "\") = 0",
                                      "cmd(\"\\\"C:\\Program Files\\ORVEK\\DPInst.exe\\\" /s /u " +
                                          storeInf + "\") = 0"}));

  // The package is gone: the installer reports one package it could not handle.
  EXPECT_EQ(RunThroughInterpreter(sim, line), 0x80010000u);
}

TEST(SimProcessTest, InterpreterStatuses) {
  SimMachine sim(MachineImage());
  AddPrograms(sim);
  sim.WriteFile("work/DPInst32.exe", "#winsim-program dpinst\n");
  sim.WriteFile("work/notes.exe", "text\n");
  sim.WriteFile("Tools/Run Me.exe", "#winsim-program dpinst\n");
  struct Case {
    std::u16string line;
    DWORD status;
    int installerRuns;
  };
  const Case cases[] = {
      {u"DPInst32.exe", 0, 1},  // an empty folder: nothing to install
      {u"dpinst32", 0, 1},      // found through PATHEXT
      {u".\\DPInst32.exe /q", 0, 1},
      {u"missing.exe", 9009, 0},
      {u"%Unset%\\DPInst32.exe", 9009, 0},
      {u"notes.exe", 193, 0},
      {u"\"C:\\Tools\\Run Me.exe\" /s", 0, 1},  // two quotes kept: a program with a blank
      {u"\"Run Me.exe\"", 0, 1},                // found along Path
      {u"DPInst32.exe /bogus", 0x80000000, 1},
      {u"missing.exe && DPInst32.exe", 9009, 0},
      {u"missing.exe || DPInst32.exe", 0, 1},
      {u"missing.exe & DPInst32.exe & DPInst32.exe", 0, 2},
      {u"DPInst32.exe && missing.exe", 9009, 1},
      {u"DPInst32.exe > out.txt", 1, 0},
      {u"", 0, 0},
  };
  for (const Case& c : cases) {
    sim.api().ClearTrace();
    EXPECT_EQ(RunThroughInterpreter(sim, c.line), c.status) << Utf8(c.line);
    EXPECT_EQ(sim.Calls({"DPInst"}).size(), static_cast<std::size_t>(c.installerRuns))
        << Utf8(c.line);
  }
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);

  // Armed failures of the programs end them with that status.
  sim.api().ArmFault({.api = "DPInst", .status = 2});
  EXPECT_EQ(RunThroughInterpreter(sim, u"DPInst32.exe"), 2u);
  sim.api().ArmFault({.api = "cmd", .text = "anything", .status = 0xFFFFFFFF});
  EXPECT_EQ(RunThroughInterpreter(sim, u"anything"), 0xFFFFFFFFu);
}

// --- The driver package installer ---

TEST(SimProcessTest, InstallerInstallsItsOwnFolderAndCountsInItsExitStatus) {
  SimMachine sim(MachineImage());
  AddPrograms(sim);
  CopySamples(sim, "Program Files/ORVEK/Packages");
  // Run from the current directory, which holds no package: the installer's own folder counts.
  EXPECT_EQ(RunThroughInterpreter(sim, u"\"C:\\Program Files\\ORVEK\\Packages\\DPInst64.exe\""),
            0x00000102u);  // the ports' packages on their devices, the bus package stored only
  EXPECT_EQ(StoreFolders(sim).size(), 3u);
  // Installing again changes nothing and counts the same.
  EXPECT_EQ(RunThroughInterpreter(sim, u"\"C:\\Program Files\\ORVEK\\Packages\\DPInst64.exe\""),
            0x00000102u);
  EXPECT_EQ(StoreFolders(sim).size(), 3u);

  // An unsigned package fails without /lm and installs with it.
  sim.WriteFile("Unsigned/u.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
  sim.WriteFile("work/DPInst64.exe", "#winsim-program dpinst\n");
  EXPECT_EQ(RunThroughInterpreter(sim, u"DPInst64.exe /s /path C:\\Unsigned"), 0x80010000u);
  EXPECT_EQ(RunThroughInterpreter(sim, u"DPInst64.exe /S /LM /F /path ..\\Unsigned"), 0x00000100u);
  EXPECT_EQ(StoreFolders(sim).size(), 4u);
  EXPECT_EQ(sim.Calls({"DPInst"}).back(), "DPInst(\"/S /LM /F /path ..\\Unsigned\") = 0x100");
}

TEST(SimProcessTest, InstallerOptionsAndExitStatus) {
  winsim::InstallerOptions options = winsim::ParseInstallerOptions(
      {u"/S", u"-q", u"/lm", u"/F", u"/sw", u"/u", u"C:\\a b.inf", u"/PATH", u"C:\\p"});
  EXPECT_TRUE(options.silent && options.quiet && options.legacyMode && options.force);
  EXPECT_EQ(Utf8(*options.uninstallInf), "C:\\a b.inf");
  EXPECT_EQ(Utf8(*options.path), "C:\\p");
  EXPECT_EQ(options.invalid, u"");
  EXPECT_EQ(winsim::ParseInstallerOptions({u"/s", u"/x", u"/q"}).invalid, u"/x");
  EXPECT_EQ(winsim::ParseInstallerOptions({u"/u"}).invalid, u"/u");  // no INF after it
  EXPECT_EQ(winsim::ParseInstallerOptions({u"file.inf"}).invalid, u"file.inf");

  struct Case {
    unsigned installed, storeOnly, failed;
    bool restart;
    DWORD status;
  };
  const Case cases[] = {
      {0, 0, 0, false, 0x00000000},   {1, 0, 0, false, 0x00000001}, {2, 0, 0, true, 0x40000002},
      {0, 1, 0, false, 0x00000100},   {0, 0, 1, false, 0x80010000}, {1, 0, 1, true, 0xC0010001},
      {300, 2, 0, false, 0x000002FF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(winsim::InstallerExitStatus(c.installed, c.storeOnly, c.failed, c.restart), c.status);
  }
}

}  // namespace
