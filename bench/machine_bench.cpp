// machine_bench: what each device and record operation of orvcard-op costs as machines grow.
//
//   machine_bench [--sizes 1000,10000,100000] [--repeat N] [--work DIR] [--keep] [--op PATH]
//   machine_bench --shapes [--repeat N] [--work DIR] [--op PATH]
//
// For each size it builds a simulated machine with that many device nodes under ORVPCARD_ENUM
// and LPTENUM (bench_machine.h), then runs `orvcard-op CODE` as a child process on a fresh copy
// of it, for every operation and for 0x1000 (load and save, no operation: the floor), and
// takes the child's wall time and peak resident memory. Runs are interleaved (floor, each
// operation, floor, ...) so that a busy machine weighs on all of them alike, and the median of
// the repeats is reported. The report, a markdown table, goes to stdout; progress to stderr.
// With --keep the machines stay in the work directory (machine-N), e.g. for a profiler.
//
// With --shapes it measures instead inputs of one kind that grow alone, each doubled twice, on
// the sample machine: an INF file of many sections (install, 0x1), an uninstall record of many
// values (0x8), one key of many values and one value of many megabytes (the serial
// renumbering, 0x4000, which changes the sample machine and so saves it). The report gives the
// time growth per doubling and the peak memory against registry.reg (and the INF).
#include <fcntl.h>
#include <sys/resource.h>
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
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_machine.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace fs = std::filesystem;

namespace {

// The targets: each operation within 1.5 times the floor and 4 times the image in memory at the
// largest size, and at most 2.2 times the time for each doubling of the machine.
constexpr double kMaxFloorRatio = 1.5;
constexpr double kMaxImageRatio = 4.0;
constexpr double kMaxDoublingGrowth = 2.2;

struct Operation {
  unsigned code;
  const char* name;
};

constexpr Operation kFloor = {0x1000, "load and save, no operation (floor)"};

// Every operation code that works on device nodes or on the uninstall record. 0x8 stands for
// 0x2000 and 0x3000 too: the three run the same two procedures and differ only in how the
// result is mapped.
constexpr Operation kOperations[] = {
    {0x40000, "renumber the parallel ports, remove their printers (no argument)"},
    {0x20000, "release the serial ports' COM numbers (-RemoveCOMdb)"},
    {0x8000, "release and remove the serial ports, remove the bus (-RemoveDeviceNode)"},
    {0x4000, "renumber the serial ports"},
    {0x10000, "restart the display devices"},
    {0x8, "uninstall the recorded packages, remove the vendor packages"},
};

struct Options {
  std::vector<std::size_t> sizes = {1000, 10000, 100000};
  int repeat = 5;
  fs::path work;
  bool keep = false;
  fs::path op = ORVCARD_OP_PATH;
  bool shapes = false;
};

struct Run {
  double seconds = 0;
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
  const Result& floor() const { return results.front(); }
};

[[noreturn]] void Fail(const std::string& problem) {
  std::fprintf(stderr, "machine_bench: %s\n", problem.c_str());
  std::exit(1);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--keep") {
      options.keep = true;
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

// Builds the machine directory `dir` (through a .reg file, as `winsim init DIR --from` does).
// A child process builds it: a child forked later from a process that held the machine would
// start with that memory resident, and its peak would count it.
void BuildMachine(const fs::path& dir, SizeReport& report) {
  const fs::path counts = dir.string() + ".counts";
  const pid_t builder = ::fork();
  if (builder < 0) {
    Fail(std::string("fork: ") + std::strerror(errno));
  }
  if (builder == 0) {
    try {
      const winsim::Registry registry = orvbench::BuildMachineRegistry(report.nodes);
      CountTree(registry.HKLM(), report);
      const fs::path regFile = dir.string() + ".reg";
      std::ofstream(regFile, std::ios::binary) << winsim::WriteRegImage(registry);
      winsim::Machine::CreateFromImage(dir, regFile);
      fs::remove(regFile);
      std::ofstream(counts) << report.keys << ' ' << report.values << '\n';
    } catch (const std::exception& error) {
      std::fprintf(stderr, "machine_bench: %s\n", error.what());
      std::_Exit(1);
    }
    std::_Exit(0);
  }
  int status = 0;
  if (::waitpid(builder, &status, 0) != builder || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    Fail("cannot build the machine " + dir.string());
  }
  std::ifstream(counts) >> report.keys >> report.values;
  fs::remove(counts);
  report.imageBytes = fs::file_size(dir / "registry.reg");
}

// Runs `orvcard-op CODE` on the machine `machineDir`, in `folder` (by default the folder that
// holds the machine), and measures it.
Run RunOperation(const Options& options, unsigned code, const fs::path& machineDir,
                 fs::path folder = {}) {
  if (folder.empty()) {
    folder = machineDir.parent_path();
  }
  char codeText[16];
  std::snprintf(codeText, sizeof codeText, "0x%x", code);
  const fs::path errors = machineDir.string() + ".stderr";
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child < 0) {
    Fail(std::string("fork: ") + std::strerror(errno));
  }
  if (child == 0) {
    // A directory without INF files as the current directory; no trace.
    const int null = ::open("/dev/null", O_WRONLY);
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null < 0 || err < 0 || ::dup2(null, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::chdir(folder.c_str()) != 0 || ::setenv("ORVCARD_MACHINE", machineDir.c_str(), 1) != 0 ||
        ::unsetenv("ORVCARD_TRACE") != 0) {
      ::_exit(126);
    }
    ::execl(options.op.c_str(), options.op.c_str(), codeText, static_cast<char*>(nullptr));
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
  // Device operations give 0; the package operation its mapped status. 125 is a machine that
  // could not be loaded or saved, 126 and 127 a child that did not start.
  if (!WIFEXITED(status) || WEXITSTATUS(status) >= 125) {
    std::ifstream in(errors);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Fail(std::string("orvcard-op ") + codeText + " failed (status " + std::to_string(status) +
         "): " + text);
  }
  fs::remove(errors);
  return run;
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
    for (Result& result : report.results) {
      result.runs.push_back(MeasureOnCopy(options, result.operation.code, machine));
    }
  }
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

std::string Code(unsigned code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", code);
  return text;
}

// Time growth per doubling of the machine, from the size before `i` to size `i`, for row `k`.
double GrowthPerDoubling(const std::vector<SizeReport>& sizes, std::size_t i, std::size_t k) {
  return std::pow(sizes[i].results[k].Seconds() / sizes[i - 1].results[k].Seconds(),
                  std::log(2.0) / std::log(static_cast<double>(sizes[i].nodes) /
                                           static_cast<double>(sizes[i - 1].nodes)));
}

void PrintReport(const std::vector<SizeReport>& sizes, int repeat) {
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

  std::printf(
      "\nTargets at %s device nodes: time within %.1f× the floor, peak memory within %.0f× "
      "registry.reg, at most %.1f× the time for each doubling of the machine:\n\n",
      Grouped(largest.nodes).c_str(), kMaxFloorRatio, kMaxImageRatio, kMaxDoublingGrowth);
  std::printf("| code | time | memory | growth |\n|---|---|---|---|\n");
  for (std::size_t k = 0; k < rows; ++k) {
    const Result& result = largest.results[k];
    double worstGrowth = 0;
    for (std::size_t i = 1; i < sizes.size(); ++i) {
      worstGrowth = std::max(worstGrowth, GrowthPerDoubling(sizes, i, k));
    }
    const double image = result.PeakBytes() / static_cast<double>(largest.imageBytes);
    std::printf("| %s | %s | %s | %s |\n", Code(result.operation.code).c_str(),
                k == 0
                    ? "(the floor)"
                    : Mark(result.Seconds() <= kMaxFloorRatio * largest.floor().Seconds()).c_str(),
                Mark(image <= kMaxImageRatio).c_str(),
                sizes.size() < 2 ? "-" : Mark(worstGrowth <= kMaxDoublingGrowth).c_str());
  }
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
  if (::access(options.op.c_str(), X_OK) != 0) {
    Fail("cannot run " + options.op.string());
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
  try {
    for (std::size_t nodes : options.sizes) {
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
  PrintReport(sizes, options.repeat);
  return 0;
}
