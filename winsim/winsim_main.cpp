// winsim: creates, inspects and exports simulated machines.
//
//   winsim init DIR [--from FILE.reg]      the sample machine, or one built from a .reg export
//   winsim show [DIR]                      a readable summary (reads only); without DIR, the
//                                          machine orvcard uses ($ORVCARD_MACHINE or the default)
//   winsim export DIR [--utf16] [-o FILE]  the registry image (stdout by default)
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "winsim/machine.h"
#include "winsim/reg_codec.h"
#include "winsim/show.h"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitMachineError = 125;
constexpr int kExitOutputError = 74;

constexpr const char* kUsage =
    "usage: winsim init DIR [--from FILE.reg]\n"
    "       winsim show [DIR]\n"
    "       winsim export DIR [--utf16] [-o FILE]\n";

struct UsageError {
  std::string problem;
};

struct Arguments {
  std::string command;
  std::string dir;
  std::optional<std::string> from;    // init --from
  std::optional<std::string> output;  // export -o
  bool utf16 = false;                 // export --utf16
};

Arguments ParseArguments(const std::vector<std::string>& args) {
  if (args.empty()) {
    throw UsageError{"missing command"};
  }
  Arguments parsed;
  parsed.command = args[0];
  if (parsed.command != "init" && parsed.command != "show" && parsed.command != "export") {
    throw UsageError{"unknown command '" + parsed.command + "'"};
  }
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto operand = [&]() -> std::string {
      if (i + 1 == args.size()) {
        throw UsageError{arg + " needs an argument"};
      }
      return args[++i];
    };
    if (arg == "--from" && parsed.command == "init") {
      parsed.from = operand();
    } else if (arg == "-o" && parsed.command == "export") {
      parsed.output = operand();
    } else if (arg == "--utf16" && parsed.command == "export") {
      parsed.utf16 = true;
    } else if (arg.starts_with("-") || !parsed.dir.empty()) {
      throw UsageError{"unexpected argument '" + arg + "'"};
    } else {
      parsed.dir = arg;
    }
  }
  if (parsed.dir.empty() && parsed.command != "show") {
    throw UsageError{"missing machine directory"};
  }
  return parsed;
}

bool WriteOutput(const std::optional<std::string>& file, const std::string& bytes) {
  if (!file) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
           std::fflush(stdout) == 0;
  }
  std::ofstream out(*file, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return static_cast<bool>(out);
}

int Run(const Arguments& args) {
  if (args.command == "init") {
    if (args.from) {
      winsim::Machine::CreateFromImage(args.dir, *args.from);
      std::printf("winsim: created a machine in %s from %s\n", args.dir.c_str(),
                  args.from->c_str());
    } else {
      winsim::Machine::CreateSample(args.dir);
      std::printf("winsim: created the sample machine in %s\n", args.dir.c_str());
    }
    return 0;
  }
  // show and export only read: no lock, nothing written to the machine. Without a folder, show
  // looks at the machine the programs use, created from the sample as they create it.
  std::filesystem::path dir = args.dir;
  if (dir.empty()) {
    bool created = false;
    dir = winsim::PrepareDefaultMachineDir(&created);
    if (created) {
      std::fprintf(stderr, "winsim: created the sample machine in %s\n", dir.c_str());
    }
  }
  const std::unique_ptr<winsim::Machine> machine = winsim::Machine::Load(dir);
  const std::string text = args.command == "show" ? winsim::ShowMachine(*machine)
                           : args.utf16           ? winsim::WriteRegImageUtf16(machine->registry())
                                                  : winsim::WriteRegImage(machine->registry());
  if (!WriteOutput(args.output, text)) {
    std::fprintf(stderr, "winsim: %s: cannot write: %s\n",
                 args.output ? args.output->c_str() : "standard output", std::strerror(errno));
    return kExitOutputError;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  try {
    return Run(ParseArguments(args));
  } catch (const UsageError& error) {
    std::fprintf(stderr, "winsim: %s\n%s", error.problem.c_str(), kUsage);
    return kExitUsage;
  } catch (const winsim::MachineError& error) {
    std::fprintf(stderr, "winsim: %s\n", error.what());
    return kExitMachineError;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "winsim: %s\n", error.what());
    return kExitMachineError;
  }
}
