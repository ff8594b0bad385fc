// The command interpreter's line parsing and the installer's command line, piece by piece and
// whole: a fuzzed line runs as "cmd.exe /c LINE" on the sample machine.
//
// Input: one mode byte, then the line as UTF-16LE.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "winsim/cmd_syntax.h"
#include "winsim/dpinst.h"

namespace {

using fuzzing::Check;

bool HasAny(std::u16string_view text, std::u16string_view characters) {
  return text.find_first_of(characters) != std::u16string_view::npos;
}

// True when `part` lies inside `whole`, as a view into the same text.
bool IsWithin(std::u16string_view part, std::u16string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

void CheckPieces(std::u16string_view line, std::uint8_t mode) {
  std::u16string_view rest;
  winsim::FirstToken(line, &rest);
  Check(rest.empty() || IsWithin(rest, line), "FirstToken: the rest is not part of the line");

  const std::vector<std::u16string> arguments = winsim::SplitArguments(line);
  if (!HasAny(line, u"\"\\")) {
    // Without quotes and backslashes, arguments are the runs of non-blanks.
    std::vector<std::u16string> runs;
    std::u16string run;
    for (char16_t c : std::u16string(line) + u" ") {
      if (c == u' ' || c == u'\t') {
        if (!run.empty()) {
          runs.push_back(run);
        }
        run.clear();
      } else {
        run.push_back(c);
      }
    }
    Check(arguments == runs, "SplitArguments over plain words");
  }
  winsim::ParseInstallerOptions(arguments);

  if (std::optional<winsim::InterpreterRequest> request = winsim::ParseInterpreterSwitches(line)) {
    const bool isProgram = (mode & 1) != 0;
    winsim::ApplyQuoteRule(request->text, request->s,
                           [isProgram](std::u16string_view) { return isProgram; });
  }

  const auto unknown = [](std::u16string_view) -> std::optional<std::u16string> {
    return std::nullopt;
  };
  Check(winsim::ExpandVariables(line, unknown) == line, "ExpandVariables without variables");
  // A variable whose value names itself is replaced once, not again.
  const auto self = [](std::u16string_view name) -> std::optional<std::u16string> {
    return u"%" + std::u16string(name) + u"%";
  };
  winsim::ExpandVariables(line, self);

  const std::optional<std::vector<winsim::ChainedCommand>> commands = winsim::SplitCommands(line);
  if (!HasAny(line, u"&|<>^\"")) {
    Check(commands && commands->size() == 1 && (*commands)[0].text == line,
          "SplitCommands over a plain line");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::u16string line = fuzzing::Utf16Of(data + 1, size - 1);
  CheckPieces(line, data[0]);

  if (line.find(u'\0') != std::u16string::npos || fuzzing::NamesHostDrive(line)) {
    return 0;  // a command line has no NUL; programs on the host's drive are not run
  }
  static fuzzing::FuzzMachine machine(winsim::SampleMachineImage());
  winsim::SimWindows& api = machine.Fresh();
  std::u16string commandLine = u"cmd.exe /c " + line;
  orv::PROCESS_INFORMATION info{};
  if (api.CreateProcessW(nullptr, commandLine.data(), &info)) {
    orv::DWORD exitCode = 0;
    Check(api.WaitForSingleObject(info.hProcess, orv::INFINITE) == orv::WAIT_OBJECT_0, "wait");
    Check(api.GetExitCodeProcess(info.hProcess, &exitCode), "exit code");
    api.CloseHandle(info.hThread);
    api.CloseHandle(info.hProcess);
  }
  Check(api.OpenHandleCount() == 0, "a handle left open");
  return 0;
}
