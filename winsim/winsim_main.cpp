// winsim: creates, inspects, exports and compares simulated machines.
//
//   winsim init DIR [--from FILE.reg]      the sample machine, or one built from a .reg export
//                                          (or from the registry of an offline installation)
//   winsim show [DIR]                      a readable summary (reads only); without DIR, the
//                                          machine orvcard uses ($ORVCARD_MACHINE or the default)
//   winsim export DIR [--utf8] [-o FILE]   the registry image (stdout by default): UTF-16LE with
//                                          BOM and CR LF, what reg import and regedit read;
//                                          --utf8 gives the canonical UTF-8 form of registry.reg
//   winsim diff A B                        what differs from A to B (each a machine directory,
//                                          an offline installation or a .reg file); exit 0 when
//                                          nothing does, 1 when something does
// Wherever a machine directory goes, the root of an offline Windows installation (a folder with
// Windows/System32/config/SYSTEM and SOFTWARE) may go too.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "winsim/diff.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"
#include "winsim/show.h"

namespace {

constexpr int kExitDiffers = 1;
constexpr int kExitUsage = 64;
constexpr int kExitMachineError = 125;
constexpr int kExitOutputError = 74;

constexpr const char* kUsage =
    "usage: winsim init DIR [--from FILE.reg|WINDOWS_ROOT]\n"
    "       winsim show [DIR]\n"
    "       winsim export DIR [--utf8] [-o FILE]\n"
    "       winsim diff A B\n"
    "DIR, A and B may also be the root of an offline Windows installation.\n";

struct UsageError {
  std::string problem;
};

struct Arguments {
  std::string command;
  std::string dir;
  std::string other;                  // diff: the second machine or file
  std::optional<std::string> from;    // init --from
  std::optional<std::string> output;  // export -o
  bool utf8 = false;                  // export --utf8
};

Arguments ParseArguments(const std::vector<std::string>& args) {
  if (args.empty()) {
    throw UsageError{"missing command"};
  }
  Arguments parsed;
  parsed.command = args[0];
  if (parsed.command != "init" && parsed.command != "show" && parsed.command != "export" &&
      parsed.command != "diff") {
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
    } else if ((arg == "--utf8" || arg == "--utf16") && parsed.command == "export") {
      parsed.utf8 = arg == "--utf8";  // --utf16, the default, is still accepted
    } else if (arg.starts_with("-") ||
               !(parsed.dir.empty() || (parsed.command == "diff" && parsed.other.empty()))) {
      throw UsageError{"unexpected argument '" + arg + "'"};
    } else {
      (parsed.dir.empty() ? parsed.dir : parsed.other) = arg;
    }
  }
  if (parsed.command == "diff" && parsed.other.empty()) {
    throw UsageError{"diff needs two machines or .reg files"};
  }
  if (parsed.dir.empty() && parsed.command != "show") {
    throw UsageError{"missing machine directory"};
  }
  return parsed;
}

using Sink = std::function<void(std::string_view)>;

// Hands `produce` a sink that writes to `file` (stdout when there is none), opened at the first
// piece, so that a `produce` that fails before handing over anything leaves no file; false when
// a write fails (errno tells why).
bool WriteOutput(const std::optional<std::string>& file,
                 const std::function<void(const Sink&)>& produce) {
  std::FILE* out = file ? nullptr : stdout;
  bool written = true;
  try {
    produce([&](std::string_view bytes) {
      if (out == nullptr && written) {
        out = std::fopen(file->c_str(), "wb");
        written = out != nullptr;
      }
      written = written && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    });
  } catch (...) {
    if (file && out != nullptr) {
      std::fclose(out);
    }
    throw;
  }
  if (out == nullptr) {
    return written;
  }
  written = std::fflush(out) == 0 && written;
  if (file && std::fclose(out) != 0) {
    written = false;
  }
  return written;
}

// Every command here only reads: a hive that Windows did not close cleanly is read as it is,
// with one line on stderr.
void Notice(const std::string& line) {
  std::fprintf(stderr, "winsim: %s\n", line.c_str());
}

// A machine that a killed run left half-changed is recovered before it is read (its journal says
// how), with one line on stderr.
void Recover(const std::filesystem::path& machineOrFile) {
  if (const std::string line = winsim::RecoverBeforeReading(machineOrFile); !line.empty()) {
    Notice(line);
  }
}

// The registry of a machine directory (or offline installation), or of a .reg file.
winsim::Registry LoadRegistry(const std::string& path) {
  winsim::Registry registry;
  Recover(path);
  winsim::ReadRegistry(path, registry, Notice);
  return registry;
}

int Init(const Arguments& args) {
  if (args.from) {
    Recover(*args.from);
    const winsim::Registry registry =
        winsim::Machine::CreateFromImage(args.dir, *args.from, Notice);
    std::printf("winsim: created a machine in %s from %s\n", args.dir.c_str(), args.from->c_str());
    std::fflush(stdout);
    std::fputs(winsim::ReplaySummary(registry).c_str(), stderr);
  } else {
    winsim::Machine::CreateSample(args.dir);
    std::printf("winsim: created the sample machine in %s\n", args.dir.c_str());
  }
  return 0;
}

int Diff(const Arguments& args) {
  const winsim::Registry before = LoadRegistry(args.dir);
  const winsim::Registry after = LoadRegistry(args.other);
  bool differs = false;
  if (!WriteOutput(std::nullopt, [&](const Sink& sink) {
        differs = winsim::DiffRegistries(before, after, sink);
      })) {
    std::fprintf(stderr, "winsim: standard output: cannot write: %s\n", std::strerror(errno));
    return kExitOutputError;
  }
  // The output is flushed and nothing else is open: the process ends here, without freeing
  // the two registries key by key (a quarter of the run on large machines; the system takes the
  // memory back at once).
  std::_Exit(differs ? kExitDiffers : 0);
}

// The machine folder named, or without one the machine the programs use, created from the
// sample as they create it.
std::filesystem::path MachineDir(const std::string& named) {
  if (!named.empty()) {
    return named;
  }
  bool created = false;
  std::filesystem::path dir = winsim::PrepareDefaultMachineDir(&created);
  if (created) {
    std::fprintf(stderr, "winsim: created the sample machine in %s\n", dir.c_str());
  }
  return dir;
}

// show and export: the summary or the registry image, to standard output or the -o file.
int ShowOrExport(const Arguments& args) {
  const std::filesystem::path dir = MachineDir(args.dir);
  Recover(dir);
  const std::unique_ptr<winsim::Machine> machine = winsim::Machine::Load(dir, Notice);
  std::function<void(const Sink&)> produce;
  if (args.command == "show") {
    produce = [&](const Sink& sink) { sink(winsim::ShowMachine(*machine)); };
  } else if (args.utf8) {
    produce = [&](const Sink& sink) { winsim::WriteRegImage(machine->registry(), sink); };
  } else {
    produce = [&](const Sink& sink) { winsim::WriteRegImageUtf16(machine->registry(), sink); };
  }
  if (!WriteOutput(args.output, produce)) {
    std::fprintf(stderr, "winsim: %s: cannot write: %s\n",
                 args.output ? args.output->c_str() : "standard output", std::strerror(errno));
    return kExitOutputError;
  }
  return 0;
}

int Run(const Arguments& args) {
  if (args.command == "init") {
    return Init(args);
  }
  // show, export and diff only read: no lock (but to recover a machine that a killed run left),
  // nothing written to a machine.
  return args.command == "diff" ? Diff(args) : ShowOrExport(args);
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
  } catch (const std::exception& error) {  // a winsim::MachineError among them
    std::fprintf(stderr, "winsim: %s\n", error.what());
    return kExitMachineError;
  }
}
