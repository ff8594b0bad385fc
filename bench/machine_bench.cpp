// machine_bench: what each device and record operation of orvcard-op costs as machines grow.
//
//   machine_bench [--sizes 1000,10000,100000] [--repeat N] [--work DIR] [--keep] [--op PATH]
//   machine_bench --shapes [--repeat N] [--work DIR] [--op PATH]
//   machine_bench --replay [--sizes ...] [--repeat N] [--work DIR] [--keep] [--winsim PATH]
//   machine_bench --offline [--sizes ...] [--repeat N] [--work DIR] [--keep] [--op PATH]
//
// For each size it builds a simulated machine with that many device nodes under ORVPCARD_ENUM
// and LPTENUM (bench_machine.h), then runs `orvcard-op CODE` as a child process on a fresh copy
// of it, for every operation and for 0x10000 (the floor: load, restart the machine's one
// display, which changes one value, and save), and takes the child's wall time and peak
// resident memory. Runs are interleaved (floor, each operation, floor, ...) so that a busy
// machine weighs on all of them alike, and the median of the repeats is reported. The report
// goes to stdout: the host and its load, the table of the README, then the full tables;
// progress goes to stderr.
// With --keep the machines stay in the work directory (machine-N), e.g. for a profiler.
//
// With --shapes it measures instead inputs of one kind that grow alone, each doubled twice, on
// the sample machine: an INF file of many sections (install, 0x1), an uninstall record of many
// values (0x8), one key of many values and one value of many megabytes (the serial
// renumbering, 0x4000, which changes the sample machine and so saves it). The report gives the
// time growth per doubling and the peak memory against registry.reg (and the INF).
//
// With --replay it measures instead what replaying a customer's export costs: loading the
// machine's image as `winsim export` writes it (UTF-16LE) against loading the same image in its
// UTF-8 form, both in this process and interleaved, and `winsim diff` of the machine and a copy
// of it after `orvcard-op 0x40000`, as a child process.
//
// With --offline it measures `orvcard-op 0x8000` (-RemoveDeviceNode) on an offline installation,
// whose SYSTEM and SOFTWARE hives are written through hivex, against the same run on the .reg
// image of the same registry (the machine as its hives hold it: ControlSet001 with Select, no
// HARDWARE tree), interleaved, each on a fresh copy.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_machine.h"
#include "tests/support/hive_files.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace fs = std::filesystem;

namespace {

// The targets: each operation within 1.5 times the floor and 4 times the image in memory at the
// largest size, and at most 2.2 times the time for each doubling of the machine.
constexpr double kMaxFloorRatio = 1.5;
constexpr double kMaxImageRatio = 4.0;
constexpr double kMaxDoublingGrowth = 2.2;
// Loading the UTF-16 export within 1.5 times loading the UTF-8 image.
constexpr double kMaxUtf16Ratio = 1.5;
// A run on an offline installation's hives within 2 times the same run on the .reg image.
constexpr double kMaxHiveRatio = 2.0;

struct Operation {
  unsigned code;
  const char* name;
};

// The floor: a run that loads the machine, changes one value and saves it all.
constexpr Operation kFloor = {0x10000, "load, restart the one display, save (floor)"};

// Every other operation code that works on device nodes or on the uninstall record. 0x8 stands
// for 0x2000 and 0x3000 too: the three run the same two procedures and differ only in how the
// result is mapped.
constexpr Operation kOperations[] = {
    {0x40000, "renumber the parallel ports, remove their printers (no argument)"},
    {0x20000, "release the serial ports' COM numbers (-RemoveCOMdb)"},
    {0x8000, "release and remove the serial ports, remove the bus (-RemoveDeviceNode)"},
    {0x4000, "renumber the serial ports"},
    {0x8, "uninstall the recorded packages, remove the vendor packages"},
};

struct Options {
  std::vector<std::size_t> sizes = {1000, 10000, 100000};
  int repeat = 5;
  fs::path work;
  bool keep = false;
  bool replay = false;
  bool offline = false;
  fs::path op = ORVCARD_OP_PATH;
  bool shapes = false;
  fs::path winsim = WINSIM_PATH;
};

struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of a child
  long peakKb = 0;
  std::uintmax_t imageAfter = 0;  // bytes of registry.reg after the run
  bool changed = false;           // whether the run changed registry.reg
};

struct Result {
  Operation operation;
  std::vector<Run> runs;
  double Seconds() const {
    return Median([](const Run& r) { return r.seconds; });
  }
  double CpuSeconds() const {
    return Median([](const Run& r) { return r.cpuSeconds; });
  }
  double PeakBytes() const {
    return Median([](const Run& r) { return static_cast<double>(r.peakKb); }) * 1024;
  }
  template <typename Field>
  double Median(Field field) const {
    std::vector<double> values;
    for (const Run& run : runs) {
      values.push_back(field(run));
    }
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
  }
};

struct SizeReport {
  std::size_t nodes = 0;
  orvbench::NodeCounts counts;
  std::uintmax_t imageBytes = 0;
  std::size_t keys = 0;
  std::size_t values = 0;
  std::vector<Result> results;  // the floor, then kOperations in order
  std::vector<double> loads;    // the 1-minute load average before each round and at the end
  const Result& floor() const { return results.front(); }
};

std::string Code(unsigned code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", code);
  return text;
}

[[noreturn]] void Fail(const std::string& problem) {
  std::fprintf(stderr, "machine_bench: %s\n", problem.c_str());
  std::exit(1);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keep" || arg == "--replay" || arg == "--offline") {
      (arg == "--keep"     ? options.keep
       : arg == "--replay" ? options.replay
                           : options.offline) = true;
      continue;
    }
    if (arg == "--shapes") {
      options.shapes = true;
      continue;
    }
    if (i + 1 == argc) {
      Fail("unknown option or missing argument: " + arg);
    }
    const std::string value = argv[++i];
    if (arg == "--sizes") {
      options.sizes.clear();
      std::stringstream list(value);
      for (std::string item; std::getline(list, item, ',');) {
        const long long size = std::atoll(item.c_str());
        if (size <= 0) {
          Fail("not a size: " + item);
        }
        options.sizes.push_back(static_cast<std::size_t>(size));
      }
      std::sort(options.sizes.begin(), options.sizes.end());
    } else if (arg == "--repeat") {
      options.repeat = std::atoi(value.c_str());
      if (options.repeat < 1) {
        Fail("--repeat needs a positive count");
      }
    } else if (arg == "--work") {
      options.work = value;
    } else if (arg == "--op") {
      options.op = value;
    } else if (arg == "--winsim") {
      options.winsim = value;
    } else {
      Fail("unknown option: " + arg);
    }
  }
  return options;
}

void CountTree(const winsim::RegKey& top, SizeReport& report) {
  std::vector<const winsim::RegKey*> pending = {&top};
  while (!pending.empty()) {
    const winsim::RegKey* key = pending.back();
    pending.pop_back();
    ++report.keys;
    report.values += key->values().size();
    key->ForEachSubkey([&](const winsim::RegKey& subkey) { pending.push_back(&subkey); });
  }
}

// Runs `build` in a child process: a child forked later from a process that held a machine
// would start with that memory resident, and its peak would count it.
void BuildInChild(const std::string& what, const std::function<void()>& build) {
  const pid_t builder = ::fork();
  if (builder < 0) {
    Fail(std::string("fork: ") + std::strerror(errno));
  }
  if (builder == 0) {
    try {
      build();
    } catch (const std::exception& error) {
      std::fprintf(stderr, "machine_bench: %s\n", error.what());
      std::_Exit(1);
    }
    std::_Exit(0);
  }
  int status = 0;
  if (::waitpid(builder, &status, 0) != builder || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Fail("cannot build " + what);
  }
}

// Writes `registry` as the machine directory `dir` (through a .reg file, as `winsim init DIR
// --from` does).
void WriteMachine(const fs::path& dir, const winsim::Registry& registry) {
  const fs::path regFile = dir.string() + ".reg";
  std::ofstream(regFile, std::ios::binary) << winsim::WriteRegImage(registry);
  winsim::Machine::CreateFromImage(dir, regFile);
  fs::remove(regFile);
}

// Builds the machine directory `dir`, in a child process.
void BuildMachine(const fs::path& dir, SizeReport& report) {
  const fs::path counts = dir.string() + ".counts";
  BuildInChild("the machine " + dir.string(), [&] {
    const winsim::Registry registry = orvbench::BuildMachineRegistry(report.nodes);
    CountTree(registry.HKLM(), report);
    WriteMachine(dir, registry);
    std::ofstream(counts) << report.keys << ' ' << report.values << '\n';
  });
  std::ifstream(counts) >> report.keys >> report.values;
  fs::remove(counts);
  report.imageBytes = fs::file_size(dir / "registry.reg");
}

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the program `argv` (with ORVCARD_MACHINE set to `machineDir`, in `folder`, by default
// the folder above it, stdout to /dev/null) and measures it. An exit status of `failure` or
// more stops the benchmark.
Run RunChild(const std::vector<std::string>& argv, const fs::path& machineDir, int failure,
             fs::path folder = {}) {
  if (folder.empty()) {
    folder = machineDir.parent_path();
  }
  const fs::path errors = machineDir.string() + ".stderr";
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    Fail(std::string("fork: ") + std::strerror(errno));
  }
  if (child == 0) {
    // The folder as the current directory (one without INF files, unless a shape put one
    // there); no trace.
    const int null = ::open("/dev/null", O_WRONLY);
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null < 0 || err < 0 || ::dup2(null, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::chdir(folder.c_str()) != 0 || ::setenv("ORVCARD_MACHINE", machineDir.c_str(), 1) != 0 ||
        ::unsetenv("ORVCARD_TRACE") != 0) {
      ::_exit(126);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  if (::wait4(child, &status, 0, &usage) != child) {
    Fail(std::string("wait4: ") + std::strerror(errno));
  }
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKb = usage.ru_maxrss;
  run.cpuSeconds = CpuSeconds(usage);
  if (!WIFEXITED(status) || WEXITSTATUS(status) >= failure) {
    std::ifstream in(errors);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Fail(argv[0] + " " + argv[1] + " failed (status " + std::to_string(status) + "): " + text);
  }
  fs::remove(errors);
  return run;
}

// Runs `orvcard-op CODE` on the machine `machineDir` and measures it. Device operations give 0;
// the package operation its mapped status. 125 is a machine that could not be loaded or saved,
// 126 and 127 a child that did not start.
Run RunOperation(const Options& options, unsigned code, const fs::path& machineDir,
                 const fs::path& folder = {}) {
  return RunChild({options.op.string(), Code(code)}, machineDir, 125, folder);
}

bool SameFiles(const fs::path& a, const fs::path& b) {
  if (fs::file_size(a) != fs::file_size(b)) {
    return false;
  }
  std::ifstream inA(a, std::ios::binary);
  std::ifstream inB(b, std::ios::binary);
  std::string pieceA(1 << 20, '\0');
  std::string pieceB(1 << 20, '\0');
  while (inA.read(pieceA.data(), 1 << 20).gcount() > 0) {
    inB.read(pieceB.data(), 1 << 20);
    if (pieceA.compare(0, static_cast<std::size_t>(inA.gcount()), pieceB, 0,
                       static_cast<std::size_t>(inB.gcount())) != 0) {
      return false;
    }
  }
  return true;
}

// The 1-minute load average of the host (0 when it cannot be read).
double LoadAverage() {
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

Run MeasureOnCopy(const Options& options, unsigned code, const fs::path& machine) {
  const fs::path copy = machine.string() + "-run";
  fs::remove_all(copy);
  fs::copy(machine, copy, fs::copy_options::recursive);
  Run run = RunOperation(options, code, copy);
  run.imageAfter = fs::file_size(copy / "registry.reg");
  run.changed = !SameFiles(machine / "registry.reg", copy / "registry.reg");
  fs::remove_all(copy);
  return run;
}

SizeReport MeasureSize(const Options& options, std::size_t nodes) {
  SizeReport report;
  report.nodes = nodes;
  report.counts = orvbench::SplitNodes(nodes);
  const fs::path machine = options.work / ("machine-" + std::to_string(nodes));
  fs::remove_all(machine);
  std::fprintf(stderr, "%zu device nodes: building the machine\n", nodes);
  BuildMachine(machine, report);
  report.results.push_back(Result{kFloor, {}});
  for (const Operation& operation : kOperations) {
    report.results.push_back(Result{operation, {}});
  }
  for (int round = 0; round < options.repeat; ++round) {
    std::fprintf(stderr, "%zu device nodes: round %d of %d\n", nodes, round + 1, options.repeat);
    report.loads.push_back(LoadAverage());
    for (Result& result : report.results) {
      result.runs.push_back(MeasureOnCopy(options, result.operation.code, machine));
    }
  }
  report.loads.push_back(LoadAverage());
  if (!options.keep) {
    fs::remove_all(machine);
  }
  return report;
}

// --- The report ---

std::string Grouped(std::uintmax_t n) {
  const std::string digits = std::to_string(n);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      grouped += ',';
    }
    grouped += digits[i];
  }
  return grouped;
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string Milliseconds(double seconds) {
  return seconds >= 10 ? Grouped(static_cast<std::uintmax_t>(std::lround(seconds * 1000))) + " ms"
                       : Format(seconds >= 1 ? "%.0f ms" : "%.1f ms", seconds * 1000);
}

std::string Megabytes(double bytes) {
  return Format("%.1f MB", bytes / 1e6);
}

std::string Mark(bool holds) {
  return holds ? "yes" : "**no**";
}

// Time growth per doubling of the machine, from `seconds0` at `nodes0` to `seconds1` at `nodes1`.
double Growth(double seconds0, std::size_t nodes0, double seconds1, std::size_t nodes1) {
  return std::pow(seconds1 / seconds0, std::log(2.0) / std::log(static_cast<double>(nodes1) /
                                                                static_cast<double>(nodes0)));
}

// The same from the size before `i` to size `i`, for row `k`.
double GrowthPerDoubling(const std::vector<SizeReport>& sizes, std::size_t i, std::size_t k) {
  return Growth(sizes[i - 1].results[k].Seconds(), sizes[i - 1].nodes,
                sizes[i].results[k].Seconds(), sizes[i].nodes);
}

// The host: processor, cores, kernel and the compiler of this build.
std::string HostDescription() {
  std::string processor = "unknown processor";
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.starts_with("model name") && line.find(": ") != std::string::npos) {
      processor = line.substr(line.find(": ") + 2);
      break;
    }
  }
  utsname host{};
  ::uname(&host);
#ifdef __clang__
  const std::string compiler = "clang " __clang_version__;
#else
  const std::string compiler = "GCC " __VERSION__;
#endif
  return processor + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, " +
         host.sysname + " " + host.release + ", " + compiler + ", release build";
}

// The machine, its load, and the table of the README: times at every size, growth and memory at
// the largest, and what they show against the targets.
void PrintSummary(const std::vector<SizeReport>& sizes, int repeat) {
  const SizeReport& largest = sizes.back();
  std::vector<double> loads;
  for (const SizeReport& size : sizes) {
    loads.insert(loads.end(), size.loads.begin(), size.loads.end());
  }
  std::printf("Host: %s; 1-minute load average %.1f to %.1f while measuring.\n\n",
              HostDescription().c_str(), *std::min_element(loads.begin(), loads.end()),
              *std::max_element(loads.begin(), loads.end()));
  const std::string growth = sizes.size() < 2
                                 ? ""
                                 : " time growth " + Grouped(sizes[sizes.size() - 2].nodes) +
                                       " to " + Grouped(largest.nodes) + ", per doubling |";
  std::printf("| code |");
  for (const SizeReport& size : sizes) {
    std::printf(" %s nodes |", Grouped(size.nodes).c_str());
  }
  std::printf("%s peak memory at %s (× registry.reg) |\n|---|", growth.c_str(),
              Grouped(largest.nodes).c_str());
  for (std::size_t i = 0; i < sizes.size() + (growth.empty() ? 1 : 2); ++i) {
    std::printf("---:|");
  }
  std::printf("\n");
  double worstRatio = 0;
  double worstImage = 0;
  double worstGrowth = 0;
  std::size_t within = 0;
  unsigned worstCode = 0;
  for (std::size_t k = 0; k < largest.results.size(); ++k) {
    const Result& result = largest.results[k];
    std::printf("| %s%s |", Code(result.operation.code).c_str(), k == 0 ? " (floor)" : "");
    for (const SizeReport& size : sizes) {
      const double seconds = size.results[k].Seconds();
      std::printf(" %s%s |", Milliseconds(seconds).c_str(),
                  k == 0 ? "" : Format(" (%.2f×)", seconds / size.floor().Seconds()).c_str());
    }
    if (!growth.empty()) {
      const double perDoubling = GrowthPerDoubling(sizes, sizes.size() - 1, k);
      worstGrowth = std::max(worstGrowth, perDoubling);
      std::printf(" %s |", Format("%.2f", perDoubling).c_str());
    }
    const double image = result.PeakBytes() / static_cast<double>(largest.imageBytes);
    worstImage = std::max(worstImage, image);
    std::printf(" %s (%.2f×) |\n", Format("%.0f MB", result.PeakBytes() / 1e6).c_str(), image);
    const double ratio = result.Seconds() / largest.floor().Seconds();
    if (k > 0 && ratio <= kMaxFloorRatio) {
      ++within;
    }
    if (k > 0 && ratio > worstRatio) {
      worstRatio = ratio;
      worstCode = result.operation.code;
    }
  }
  std::printf(
      "\n%s; ratio to the floor in parentheses. registry.reg is",
      repeat == 1 ? "One run each" : ("Medians of " + std::to_string(repeat) + " runs").c_str());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    std::printf("%s %s",
                i == 0                  ? ""
                : i + 1 == sizes.size() ? " and"
                                        : ",",
                Megabytes(static_cast<double>(sizes[i].imageBytes)).c_str());
  }
  std::printf(
      ". At %s nodes: %zu of %zu operations within %.1f× the floor (slowest %s, %.2f×); peak "
      "memory at most %.2f× registry.reg (target %.0f×)",
      Grouped(largest.nodes).c_str(), within, largest.results.size() - 1, kMaxFloorRatio,
      Code(worstCode).c_str(), worstRatio, worstImage, kMaxImageRatio);
  if (!growth.empty()) {
    std::printf("; each doubling of the machine at most %.2f× the time (target %.1f×)", worstGrowth,
                kMaxDoublingGrowth);
  }
  std::printf(".\n\n");
}

void PrintReport(const std::vector<SizeReport>& sizes, int repeat) {
  PrintSummary(sizes, repeat);
  const SizeReport& largest = sizes.back();
  const std::size_t rows = largest.results.size();
  std::printf("Machines (device nodes under ORVPCARD_ENUM and LPTENUM):\n\n");
  std::printf(
      "| device nodes | serial / parallel ports / printers | keys | values | registry.reg |\n");
  std::printf("|---:|---|---:|---:|---:|\n");
  for (const SizeReport& size : sizes) {
    std::printf("| %s | %s / %s / %s | %s | %s | %s |\n", Grouped(size.nodes).c_str(),
                Grouped(size.counts.serialPorts).c_str(),
                Grouped(size.counts.parallelPorts).c_str(), Grouped(size.counts.printers).c_str(),
                Grouped(size.keys).c_str(), Grouped(size.values).c_str(),
                Megabytes(static_cast<double>(size.imageBytes)).c_str());
  }

  std::printf(
      "\nWall time of `orvcard-op CODE` (median of %d runs), its ratio to the floor, and its "
      "growth for each doubling of the machine:\n\n",
      repeat);
  std::printf("| code | operation |");
  for (const SizeReport& size : sizes) {
    std::printf(" %s nodes |", Grouped(size.nodes).c_str());
  }
  for (std::size_t i = 1; i < sizes.size(); ++i) {
    std::printf(" per doubling %s→%s |", Grouped(sizes[i - 1].nodes).c_str(),
                Grouped(sizes[i].nodes).c_str());
  }
  std::printf("\n|---|---|");
  for (std::size_t i = 0; i + 1 < sizes.size() * 2; ++i) {
    std::printf("---:|");
  }
  std::printf("\n");
  for (std::size_t k = 0; k < rows; ++k) {
    const Operation& operation = largest.results[k].operation;
    std::printf("| %s | %s |", Code(operation.code).c_str(), operation.name);
    for (const SizeReport& size : sizes) {
      const double seconds = size.results[k].Seconds();
      std::printf(" %s%s |", Milliseconds(seconds).c_str(),
                  k == 0 ? "" : Format(" (%.2f×)", seconds / size.floor().Seconds()).c_str());
    }
    for (std::size_t i = 1; i < sizes.size(); ++i) {
      std::printf(" %s |", Format("%.2f", GrowthPerDoubling(sizes, i, k)).c_str());
    }
    std::printf("\n");
  }

  std::printf(
      "\nPeak resident memory of the run (median) and its ratio to the size of registry.reg; "
      "what the run left of registry.reg:\n\n");
  std::printf("| code |");
  for (const SizeReport& size : sizes) {
    std::printf(" %s nodes |", Grouped(size.nodes).c_str());
  }
  std::printf(" registry.reg after, %s nodes |\n|---|", Grouped(largest.nodes).c_str());
  for (std::size_t i = 0; i <= sizes.size(); ++i) {
    std::printf("---:|");
  }
  std::printf("\n");
  for (std::size_t k = 0; k < rows; ++k) {
    std::printf("| %s |", Code(largest.results[k].operation.code).c_str());
    for (const SizeReport& size : sizes) {
      const double peak = size.results[k].PeakBytes();
      std::printf(" %s (%.2f×) |", Megabytes(peak).c_str(),
                  peak / static_cast<double>(size.imageBytes));
    }
    const Run& run = largest.results[k].runs.front();
    std::printf(" %s, %s |\n", Megabytes(static_cast<double>(run.imageAfter)).c_str(),
                run.changed ? "changed" : "unchanged");
  }
}

// --- Replaying a customer's export ---

struct ReplayReport {
  std::size_t nodes = 0;
  std::uintmax_t utf8Bytes = 0;
  std::uintmax_t utf16Bytes = 0;
  Result utf8{{0, "load registry.reg (UTF-8)"}, {}};
  Result utf16{{0, "load the export (UTF-16LE)"}, {}};
  Result diff{{0x40000, "winsim diff, before and after 0x40000"}, {}};
};

// Loads the image `file` in this process; the wall and CPU time of the load alone.
Run TimeLoad(const fs::path& file) {
  winsim::Registry registry;
  rusage before{};
  rusage after{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto start = std::chrono::steady_clock::now();
  winsim::ReadImageFile(file, registry);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::getrusage(RUSAGE_SELF, &after);
  run.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  return run;
}

// The paths of a size's machine, its export and its copy after a run.
struct ReplayFiles {
  fs::path machine, utf8, utf16, after;
  explicit ReplayFiles(const fs::path& m)
      : machine(m),
        utf8(m / "registry.reg"),
        utf16(m.string() + "-export.reg"),
        after(m.string() + "-after") {}
};

// Builds every size's machine, its export and its copy after `orvcard-op 0x40000` first, then
// measures them round by round, every size in each round, so that a busy machine weighs on all
// sizes alike.
std::vector<ReplayReport> MeasureReplays(const Options& options) {
  std::vector<ReplayReport> reports;
  for (std::size_t nodes : options.sizes) {
    ReplayReport& report = reports.emplace_back();
    report.nodes = nodes;
    SizeReport size;
    size.nodes = nodes;
    const ReplayFiles files(options.work / ("machine-" + std::to_string(nodes)));
    fs::remove_all(files.machine);
    fs::remove_all(files.after);
    std::fprintf(stderr, "%zu device nodes: building the machine, its export and a run\n", nodes);
    BuildMachine(files.machine, size);
    {
      winsim::Registry registry;
      winsim::ReadImageFile(files.utf8, registry);
      std::ofstream out(files.utf16, std::ios::binary);
      winsim::WriteRegImageUtf16(registry, [&](std::string_view bytes) {
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
      });
      if (!out.flush()) {
        Fail("cannot write " + files.utf16.string());
      }
    }
    fs::copy(files.machine, files.after, fs::copy_options::recursive);
    RunOperation(options, 0x40000, files.after);
    report.utf8Bytes = fs::file_size(files.utf8);
    report.utf16Bytes = fs::file_size(files.utf16);
  }
  for (int round = 0; round < options.repeat; ++round) {
    std::fprintf(stderr, "round %d of %d\n", round + 1, options.repeat);
    for (ReplayReport& report : reports) {
      const ReplayFiles files(options.work / ("machine-" + std::to_string(report.nodes)));
      // Alternate which form goes first, so that neither always finds the other's pages cached.
      if (round % 2 == 0) {
        report.utf8.runs.push_back(TimeLoad(files.utf8));
      }
      report.utf16.runs.push_back(TimeLoad(files.utf16));
      if (round % 2 != 0) {
        report.utf8.runs.push_back(TimeLoad(files.utf8));
      }
      // winsim diff exits with 1: the machines differ.
      report.diff.runs.push_back(
          RunChild({options.winsim.string(), "diff", files.machine.string(), files.after.string()},
                   files.after, 2));
    }
  }
  for (const ReplayReport& report : reports) {
    const ReplayFiles files(options.work / ("machine-" + std::to_string(report.nodes)));
    if (!options.keep) {
      fs::remove_all(files.machine);
      fs::remove_all(files.after);
      fs::remove(files.utf16);
    }
  }
  return reports;
}

void PrintReplayReport(const std::vector<ReplayReport>& sizes, int repeat) {
  std::printf(
      "Loading a machine's export as `winsim export` writes it (UTF-16LE, BOM, CR LF) against the "
      "same image in UTF-8 (registry.reg), in this process, and `winsim diff` of the machine and "
      "a copy after `orvcard-op 0x40000`, as a child process; medians of %d runs:\n\n",
      repeat);
  std::printf(
      "| device nodes | registry.reg | export | load UTF-8 | load UTF-16 | UTF-16 / UTF-8 (CPU "
      "time) | winsim diff | diff growth per doubling (CPU time) | diff peak memory |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  double worstGrowth = 0;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const ReplayReport& size = sizes[i];
    std::string growth = "-";
    if (i > 0) {
      const ReplayReport& before = sizes[i - 1];
      const double g = Growth(before.diff.Seconds(), before.nodes, size.diff.Seconds(), size.nodes);
      worstGrowth = std::max(worstGrowth, g);
      growth = Format("%.2f", g) + Format(" (%.2f)", Growth(before.diff.CpuSeconds(), before.nodes,
                                                            size.diff.CpuSeconds(), size.nodes));
    }
    std::printf(
        "| %s | %s | %s | %s | %s | %.2f× (%.2f×) | %s | %s | %s |\n", Grouped(size.nodes).c_str(),
        Megabytes(static_cast<double>(size.utf8Bytes)).c_str(),
        Megabytes(static_cast<double>(size.utf16Bytes)).c_str(),
        Milliseconds(size.utf8.Seconds()).c_str(), Milliseconds(size.utf16.Seconds()).c_str(),
        size.utf16.Seconds() / size.utf8.Seconds(),
        size.utf16.CpuSeconds() / size.utf8.CpuSeconds(), Milliseconds(size.diff.Seconds()).c_str(),
        growth.c_str(), Megabytes(size.diff.PeakBytes()).c_str());
  }
  const ReplayReport& largest = sizes.back();
  std::printf(
      "\nTargets at %s device nodes: loading the UTF-16 export within %.1f× loading the UTF-8 "
      "image: %s; winsim diff at most %.1f× the time for each doubling of the machine: %s\n",
      Grouped(largest.nodes).c_str(), kMaxUtf16Ratio,
      Mark(largest.utf16.Seconds() <= kMaxUtf16Ratio * largest.utf8.Seconds()).c_str(),
      kMaxDoublingGrowth, sizes.size() < 2 ? "-" : Mark(worstGrowth <= kMaxDoublingGrowth).c_str());
}

// --- Shapes: inputs of one kind that grow alone ---

struct Shape {
  const char* name;  // what grows, for the report
  unsigned code;     // the operation run on it
  std::size_t sizes[3];
  // Registry text added to the sample machine's image, for size n (may be empty).
  std::string (*image)(std::size_t n);
  // An INF file put in the run's current folder, for size n (empty for none).
  std::string (*inf)(std::size_t n);
};

std::string NoText(std::size_t) {
  return {};
}

// An INF that installs, with n sections of one line each after its own.
std::string InfOfSections(std::size_t n) {
  std::string text =
      "[Version]\nSignature=\"$Windows NT$\"\nClass=Ports\nProvider=%Maker%\n\n"
      "[Manufacturer]\n%Maker%=Models\n\n[Models]\n%Port%=Install,ORVPCARD_ENUM\\BENCH\n\n";
  for (std::size_t i = 0; i < n; ++i) {
    text += "[Section" + std::to_string(i) + "]\nAddReg=Section" + std::to_string(i + 1) + "\n\n";
  }
  return text + "[Strings]\nMaker=\"ORVEK\"\nPort=\"ORVEK Bench Port\"\n";
}

// The card's uninstall record with n driver-store paths, as installs write them (522 bytes).
std::string RecordOfValues(std::size_t n) {
  std::string text =
      "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
      "ORVEK Multi-I/O Card Driver]\n";
  for (std::size_t i = 0; i < n; ++i) {
    const std::string path = "C:\\Windows\\System32\\DriverStore\\FileRepository\\orvser.inf_" +
                             std::to_string(i) + "\\orvser.inf";
    std::string bytes;
    for (char c : path) {
      bytes += std::string{c, '\0'};
    }
    bytes.resize(522, '\0');
    text += "\"DriverStorePath" + std::to_string(i) + "\"=hex(1):";
    for (std::size_t b = 0; b < bytes.size(); ++b) {
      char hex[4];
      std::snprintf(hex, sizeof hex, b == 0 ? "%02x" : ",%02x",
                    static_cast<unsigned char>(bytes[b]));
      text += hex;
    }
    text += "\n";
  }
  return text;
}

// One key with n small values (a DWORD each).
std::string KeyOfValues(std::size_t n) {
  std::string text = "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench]\n";
  char line[64];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(line, sizeof line, "\"Value%07zu\"=dword:%08zx\n", i, i);
    text += line;
  }
  return text;
}

// One value of n megabytes, in lines of 25 bytes as regedit wraps hex data.
std::string ValueOfMegabytes(std::size_t n) {
  std::string text = "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench]\n\"Blob\"=hex:";
  const std::size_t bytes = n * 1000 * 1000;
  text.reserve(bytes * 3 + bytes / 8 + 64);
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < bytes; ++i) {
    const auto byte = static_cast<unsigned char>(i * 7);
    if (i > 0) {
      text += i % 25 == 0 ? ",\\\n  " : ",";
    }
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text + "\n";
}

constexpr Shape kShapes[] = {
    {"sections in an INF file", 0x1, {15000, 30000, 60000}, NoText, InfOfSections},
    {"values in the uninstall record", 0x8, {25000, 50000, 100000}, RecordOfValues, NoText},
    {"values in one key", 0x4000, {250000, 500000, 1000000}, KeyOfValues, NoText},
    {"megabytes in one value", 0x4000, {25, 50, 100}, ValueOfMegabytes, NoText},
};

struct ShapeRun {
  std::uintmax_t imageBytes = 0;
  std::uintmax_t infBytes = 0;
  Result result;
};

ShapeRun MeasureShape(const Options& options, const Shape& shape, std::size_t n) {
  const fs::path machine = options.work / "shape-machine";
  const fs::path folder = options.work / "shape-folder";
  fs::remove_all(machine);
  fs::remove_all(folder);
  fs::create_directories(folder);
  ShapeRun run;
  {
    const fs::path regFile = options.work / "shape.reg";
    {
      std::ofstream out(regFile, std::ios::binary);
      out << winsim::SampleMachineImage() << shape.image(n);
    }
    winsim::Machine::CreateFromImage(machine, regFile);
    fs::remove(regFile);
  }
  if (const std::string inf = shape.inf(n); !inf.empty()) {
    std::ofstream(folder / "bench.inf", std::ios::binary) << inf;
    run.infBytes = inf.size();
  }
  run.imageBytes = fs::file_size(machine / "registry.reg");
  run.result.operation = {shape.code, shape.name};
  for (int round = 0; round < options.repeat; ++round) {
    const fs::path copy = machine.string() + "-run";
    fs::remove_all(copy);
    fs::copy(machine, copy, fs::copy_options::recursive);
    run.result.runs.push_back(RunOperation(options, shape.code, copy, folder));
    fs::remove_all(copy);
  }
  fs::remove_all(machine);
  fs::remove_all(folder);
  return run;
}

void MeasureShapes(const Options& options) {
  std::printf(
      "Inputs of one kind growing alone on the sample machine: wall time of `orvcard-op CODE` "
      "(median of %d runs), its growth per doubling, and peak memory against registry.reg "
      "(and the INF file):\n\n",
      options.repeat);
  std::printf(
      "| what grows | code | size | registry.reg | INF file | time | per doubling | peak memory | "
      "memory / (image + INF) |\n|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const Shape& shape : kShapes) {
    double before = 0;
    for (std::size_t n : shape.sizes) {
      std::fprintf(stderr, "%s: %zu\n", shape.name, n);
      const ShapeRun run = MeasureShape(options, shape, n);
      const double seconds = run.result.Seconds();
      const double input = static_cast<double>(run.imageBytes + run.infBytes);
      std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %.2f× |\n", shape.name,
                  Code(shape.code).c_str(), Grouped(n).c_str(),
                  Megabytes(static_cast<double>(run.imageBytes)).c_str(),
                  run.infBytes == 0 ? "-" : Megabytes(static_cast<double>(run.infBytes)).c_str(),
                  Milliseconds(seconds).c_str(),
                  before == 0 ? "-" : Format("%.2f", seconds / before).c_str(),
                  Megabytes(run.result.PeakBytes()).c_str(), run.result.PeakBytes() / input);
      std::fflush(stdout);
      before = seconds;
    }
  }
}

// --- Offline installations ---

struct OfflineReport {
  std::size_t nodes = 0;
  std::size_t systemKeys = 0;
  std::uintmax_t imageBytes = 0;
  std::uintmax_t systemBytes = 0;
  Result image{{0x8000, "on the .reg image"}, {}};
  Result hives{{0x8000, "on the hives"}, {}};
};

fs::path HiveOf(const fs::path& installation, const char* name) {
  return installation / "Windows" / "System32" / "config" / name;
}

// Runs `orvcard-op 0x8000` on a fresh copy of the machine or installation `dir`, whose registry
// is the file `registry` below it.
Run MeasureRemovalOnCopy(const Options& options, const fs::path& dir, const fs::path& registry) {
  const fs::path copy = dir.string() + "-run";
  fs::remove_all(copy);
  fs::copy(dir, copy, fs::copy_options::recursive);
  Run run = RunOperation(options, 0x8000, copy);
  run.changed = !SameFiles(dir / registry, copy / registry);
  if (!run.changed) {
    Fail("orvcard-op 0x8000 changed nothing in " + (copy / registry).string());
  }
  fs::remove_all(copy);
  return run;
}

// The reports of each size, and the 1-minute load average before each round and at the end.
std::vector<OfflineReport> MeasureOffline(const Options& options, std::vector<double>& loads) {
  std::vector<OfflineReport> reports;
  for (std::size_t nodes : options.sizes) {
    OfflineReport& report = reports.emplace_back();
    report.nodes = nodes;
    const fs::path machine = options.work / ("machine-" + std::to_string(nodes));
    const fs::path installation = options.work / ("offline-" + std::to_string(nodes));
    fs::remove_all(machine);
    fs::remove_all(installation);
    std::fprintf(stderr, "%zu device nodes: building the machine and its hives\n", nodes);
    const fs::path counts = installation.string() + ".counts";
    BuildInChild("the offline installation " + installation.string(), [&] {
      const winsim::Registry registry = winsim::ParseRegImage(
          testing_support::OfflineImage(orvbench::BuildMachineRegistry(nodes), 1));
      WriteMachine(machine, registry);
      testing_support::MakeOfflineInstallation(installation, registry, true);
      SizeReport system;
      CountTree(*registry.HKLM().FindSubkey(u"SYSTEM"), system);
      std::ofstream(counts) << system.keys << '\n';
    });
    std::ifstream(counts) >> report.systemKeys;
    fs::remove(counts);
    report.imageBytes = fs::file_size(machine / "registry.reg");
    report.systemBytes = fs::file_size(HiveOf(installation, "SYSTEM"));
  }
  for (int round = 0; round < options.repeat; ++round) {
    std::fprintf(stderr, "round %d of %d\n", round + 1, options.repeat);
    loads.push_back(LoadAverage());
    for (OfflineReport& report : reports) {
      const fs::path machine = options.work / ("machine-" + std::to_string(report.nodes));
      const fs::path installation = options.work / ("offline-" + std::to_string(report.nodes));
      report.image.runs.push_back(MeasureRemovalOnCopy(options, machine, "registry.reg"));
      report.hives.runs.push_back(MeasureRemovalOnCopy(
          options, installation, fs::relative(HiveOf(installation, "SYSTEM"), installation)));
    }
  }
  loads.push_back(LoadAverage());
  if (!options.keep) {
    for (const OfflineReport& report : reports) {
      fs::remove_all(options.work / ("machine-" + std::to_string(report.nodes)));
      fs::remove_all(options.work / ("offline-" + std::to_string(report.nodes)));
    }
  }
  return reports;
}

void PrintOfflineReport(const std::vector<OfflineReport>& sizes, const std::vector<double>& loads,
                        int repeat) {
  std::printf("Host: %s; 1-minute load average %.1f to %.1f while measuring.\n\n",
              HostDescription().c_str(), *std::min_element(loads.begin(), loads.end()),
              *std::max_element(loads.begin(), loads.end()));
  std::printf(
      "`orvcard-op 0x8000` (-RemoveDeviceNode: load, release and remove the card's ports, save) on "
      "an offline installation's hives against the same run on the .reg image of the same "
      "registry, each on a fresh copy, interleaved; medians of %d runs:\n\n",
      repeat);
  std::printf(
      "| device nodes | keys in SYSTEM | registry.reg | SYSTEM hive | on the .reg image | on the "
      "hives | hives / image (CPU time) | peak memory, image | peak memory, hives |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (const OfflineReport& size : sizes) {
    std::printf(
        "| %s | %s | %s | %s | %s | %s | %.2f× (%.2f×) | %s | %s |\n", Grouped(size.nodes).c_str(),
        Grouped(size.systemKeys).c_str(), Megabytes(static_cast<double>(size.imageBytes)).c_str(),
        Megabytes(static_cast<double>(size.systemBytes)).c_str(),
        Milliseconds(size.image.Seconds()).c_str(), Milliseconds(size.hives.Seconds()).c_str(),
        size.hives.Seconds() / size.image.Seconds(),
        size.hives.CpuSeconds() / size.image.CpuSeconds(),
        Megabytes(size.image.PeakBytes()).c_str(), Megabytes(size.hives.PeakBytes()).c_str());
  }
  const OfflineReport& largest = sizes.back();
  std::printf(
      "\nTarget at %s device nodes (%s keys in SYSTEM): the run on the hives within %.1f× the run "
      "on the image: %s\n",
      Grouped(largest.nodes).c_str(), Grouped(largest.systemKeys).c_str(), kMaxHiveRatio,
      Mark(largest.hives.Seconds() <= kMaxHiveRatio * largest.image.Seconds()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  Options options = ParseOptions(argc, argv);
  const bool ownWork = options.work.empty();
  if (ownWork) {
    std::string pattern = (fs::temp_directory_path() / "orvcard-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      Fail(std::string("mkdtemp: ") + std::strerror(errno));
    }
    options.work = pattern;
  }
  fs::create_directories(options.work);
  options.work = fs::absolute(options.work);
  for (const fs::path& program : {options.op, options.winsim}) {
    if (::access(program.c_str(), X_OK) != 0) {
      Fail("cannot run " + program.string());
    }
  }
  if (options.shapes) {
    try {
      MeasureShapes(options);
    } catch (const std::exception& error) {
      Fail(error.what());
    }
    if (ownWork) {
      fs::remove_all(options.work);
    }
    return 0;
  }
  std::vector<SizeReport> sizes;
  std::vector<ReplayReport> replays;
  std::vector<OfflineReport> offline;
  std::vector<double> offlineLoads;
  try {
    if (options.replay) {
      replays = MeasureReplays(options);
    } else if (options.offline) {
      offline = MeasureOffline(options, offlineLoads);
    }
    for (std::size_t nodes :
         options.replay || options.offline ? std::vector<std::size_t>{} : options.sizes) {
      sizes.push_back(MeasureSize(options, nodes));
    }
  } catch (const std::exception& error) {
    Fail(error.what());
  }
  if (options.keep) {
    std::fprintf(stderr, "the machines are in %s\n", options.work.c_str());
  } else if (ownWork) {
    fs::remove_all(options.work);
  }
  if (options.replay) {
    PrintReplayReport(replays, options.repeat);
  } else if (options.offline) {
    PrintOfflineReport(offline, offlineLoads, options.repeat);
  } else {
    PrintReport(sizes, options.repeat);
  }
  return 0;
}
