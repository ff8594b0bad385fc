// Sample driver packages and trace readers shared by the driver-package tests.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "packages/tool_status.h"
#include "platform/text.h"
#include "platform/trace_text.h"
#include "tests/support/device_images.h"
#include "tests/support/sim_fixture.h"

namespace package_tests {

using testing_support::Call;
using testing_support::SimMachine;
using Calls = std::vector<Call>;
using Strings = std::vector<std::string>;

// The tool's own statuses, as the procedures return them; callers see these very values.
inline constexpr orv::DWORD kNoInfFiles = orv::StatusOf(orv::ToolStatus::kNoInfFiles);
inline constexpr orv::DWORD kCannotOpen = orv::StatusOf(orv::ToolStatus::kCannotOpen);
static_assert(kNoInfFiles == 2 && kCannotOpen == 13);

// The registry keys the record lives under.
inline constexpr const char16_t* kUninstallKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr const char16_t* kProductKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEK Multi-I/O Card Driver";
inline constexpr const char* kUninstallKeyImage =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall]\n\n";
inline constexpr const char* kProductKeyImage =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "ORVEK Multi-I/O Card Driver]\n";

// A machine of the given version, product type and processor, with the environment the command
// interpreter needs and the uninstall key.
inline std::string MachineImage(const std::string& version = "6.1",
                                const std::string& productType = "WinNT",
                                const std::string& architecture = "x86", bool withComSpec = true) {
  std::string image = std::string(kUninstallKeyImage) +
                      testing_support::VersionImage(version, productType, architecture) +
                      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
                      "Manager\\Environment]\n";
  if (withComSpec) {
    image += "\"ComSpec\"=\"C:\\\\Windows\\\\System32\\\\cmd.exe\"\n";
  }
  image += "\"SystemDrive\"=\"C:\"\n\"SystemRoot\"=\"C:\\\\Windows\"\n";
  image += "\"Path\"=\"C:\\\\Windows\\\\System32;C:\\\\Windows\"\n\n";
  return image;
}

// The command interpreter and the installer at the place the clean-up runs it from.
inline void AddPrograms(testing_support::SimMachine& sim) {
  sim.WriteFile("Windows/System32/cmd.exe", "#winsim-program cmd\n");
  sim.WriteFile("Program Files/ORVEK/DPInst.exe", "#winsim-program dpinst\n");
}

// A text as the trace shows it: in double quotes, with quotes and line ends escaped.
inline std::string TraceQuoted(const std::string& text) {
  return orv::Quoted(orv::Utf8ToUtf16(text));
}

// The arguments CreateProcessW is traced with when the system folder's command interpreter
// starts to run `commandLine`.
inline std::string InterpreterArgs(const std::string& commandLine) {
  const std::string interpreter = "C:\\Windows\\System32\\cmd.exe";
  return TraceQuoted(interpreter) + ", " + TraceQuoted(interpreter + " /c " + commandLine);
}

// INF text of a small port-driver package. `name` makes every package's bytes distinct.
inline std::string PackageInf(const std::string& name, bool signed_) {
  std::string text = "; " + name + " for the ORVEK multi-I/O card\r\n";
  text += "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\nProvider=%Maker%\r\n";
  if (signed_) {
    text += "CatalogFile=" + name + ".cat\r\n";
  }
  text += "DriverVer=05/04/2026,1.0.0.0\r\n\r\n[Strings]\r\nMaker=\"Orvek Co., Ltd.\"\r\n";
  return text;
}

// Writes work\NAME.inf (and its catalog when signed) into the current directory C:\work.
inline void AddPackage(testing_support::SimMachine& sim, const std::string& name,
                       bool signed_ = true) {
  sim.WriteFile("work/" + name + ".inf", PackageInf(name, signed_));
  if (signed_) {
    sim.WriteFile("work/" + name + ".cat", "catalog of " + name);
  }
}

// The signed packages `names`, in that order.
inline void AddPackages(testing_support::SimMachine& sim,
                        std::initializer_list<const char*> names) {
  for (const char* name : names) {
    AddPackage(sim, name);
  }
}

// The argument texts of the traced calls of one function, in order.
inline std::vector<std::string> ArgsOf(testing_support::SimMachine& sim, const std::string& api) {
  std::vector<std::string> args;
  for (const winsim::TraceEntry& entry : sim.api().trace()) {
    if (entry.api == api) {
      args.push_back(entry.args);
    }
  }
  return args;
}

// The names the traced search returned, in order (FindFirstFileW and FindNextFileW).
inline std::vector<std::string> ListedNames(testing_support::SimMachine& sim) {
  std::vector<std::string> names;
  for (const winsim::TraceEntry& entry : sim.api().trace()) {
    const std::size_t arrow = entry.result.find(" -> \"");
    if ((entry.api == "FindFirstFileW" || entry.api == "FindNextFileW") &&
        arrow != std::string::npos) {
      names.push_back(entry.result.substr(arrow + 5, entry.result.size() - arrow - 6));
    }
  }
  return names;
}

}  // namespace package_tests
