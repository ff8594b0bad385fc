// The default mode: what each device and record operation of orvcard-op costs as machines grow.
//
// For each size it builds a simulated machine with that many device nodes under ORVPCARD_ENUM
// and LPTENUM (bench_machine.h), then runs `orvcard-op CODE` as a child process on a fresh copy
// of it, for every operation and for 0x10000 (the floor: load, restart the machine's one
// display, which changes one value, and save), and takes the child's wall time and peak
// resident memory. Runs are interleaved (floor, each operation, floor, ...) so that a busy
// machine weighs on all of them alike, and the median of the repeats is reported. The report
// gives the host and its load, the table of the README, then the full tables.
// With --keep the machines stay in the work directory (machine-N), e.g. for a profiler.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_machine.h"
#include "bench/bench_modes.h"

namespace orvbench {

namespace {

// The targets: each operation within 1.5 times the floor and 4 times the image in memory at the
// largest size, and at most kMaxDoublingGrowth times the time for each doubling of the machine.
constexpr double kMaxFloorRatio = 1.5;
constexpr double kMaxImageRatio = 4.0;

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

struct SizeReport {
  std::size_t nodes = 0;
  NodeCounts counts;
  std::uintmax_t imageBytes = 0;
  TreeCounts tree;
  std::vector<Result> results;  // the floor, then kOperations in order
  std::vector<double> loads;    // the 1-minute load average before each round and at the end
  const Result& floor() const { return results.front(); }
};

Run MeasureOnCopy(const Options& options, unsigned code, const fs::path& machine) {
  const FreshCopy copy(machine);
  Run run = RunOperation(options, code, copy.path());
  run.imageAfter = fs::file_size(copy.path() / "registry.reg");
  run.changed = !SameFiles(machine / "registry.reg", copy.path() / "registry.reg");
  return run;
}

SizeReport MeasureSize(const Options& options, std::size_t nodes) {
  SizeReport report;
  report.nodes = nodes;
  report.counts = SplitNodes(nodes);
  const fs::path machine = MachineDir(options, nodes);
  fs::remove_all(machine);
  std::fprintf(stderr, "%zu device nodes: building the machine\n", nodes);
  report.tree = BuildMachine(machine, nodes);
  report.imageBytes = fs::file_size(machine / "registry.reg");
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

// The time growth per doubling from the size before `i` to size `i`, for row `k`.
double GrowthPerDoubling(const std::vector<SizeReport>& sizes, std::size_t i, std::size_t k) {
  return Growth(sizes[i - 1].results[k].Seconds(), sizes[i - 1].nodes,
                sizes[i].results[k].Seconds(), sizes[i].nodes);
}

// A column head for every size.
void PrintSizeColumns(const std::vector<SizeReport>& sizes) {
  for (const SizeReport& size : sizes) {
    std::printf(" %s nodes |", Grouped(size.nodes).c_str());
  }
}

// The rule of `count` right-aligned columns.
void PrintRightColumns(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::printf("---:|");
  }
}

// The time of row `k` at every size, with its ratio to the floor on the operations' rows.
void PrintTimeCells(const std::vector<SizeReport>& sizes, std::size_t k) {
  for (const SizeReport& size : sizes) {
    const double seconds = size.results[k].Seconds();
    std::printf(" %s%s |", Milliseconds(seconds).c_str(),
                k == 0 ? "" : Format(" (%.2f×)", seconds / size.floor().Seconds()).c_str());
  }
}

// What the rows of the summary show against the targets at the largest size.
struct Worst {
  double ratio = 0;        // time against the floor
  unsigned code = 0;       // the operation of `ratio`
  std::size_t within = 0;  // operations within kMaxFloorRatio of the floor
  double image = 0;        // peak memory against registry.reg
  double growth = 0;       // time growth per doubling to the largest size
};

// Row `k` of the README's table: times at every size, growth and memory at the largest.
void PrintSummaryRow(const std::vector<SizeReport>& sizes, std::size_t k, Worst& worst) {
  const SizeReport& largest = sizes.back();
  const Result& result = largest.results[k];
  std::printf("| %s%s |", Code(result.operation.code).c_str(), k == 0 ? " (floor)" : "");
  PrintTimeCells(sizes, k);
  if (sizes.size() >= 2) {
    const double perDoubling = GrowthPerDoubling(sizes, sizes.size() - 1, k);
    worst.growth = std::max(worst.growth, perDoubling);
    std::printf(" %s |", Format("%.2f", perDoubling).c_str());
  }
  const double image = result.PeakBytes() / static_cast<double>(largest.imageBytes);
  worst.image = std::max(worst.image, image);
  std::printf(" %s (%.2f×) |\n", Format("%.0f MB", result.PeakBytes() / 1e6).c_str(), image);
  const double ratio = result.Seconds() / largest.floor().Seconds();
  if (k > 0 && ratio <= kMaxFloorRatio) {
    ++worst.within;
  }
  if (k > 0 && ratio > worst.ratio) {
    worst.ratio = ratio;
    worst.code = result.operation.code;
  }
}

// The sentence under the README's table: what it shows against the targets.
void PrintSummaryVerdict(const std::vector<SizeReport>& sizes, int repeat, const Worst& worst) {
  const SizeReport& largest = sizes.back();
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
      Grouped(largest.nodes).c_str(), worst.within, largest.results.size() - 1, kMaxFloorRatio,
      Code(worst.code).c_str(), worst.ratio, worst.image, kMaxImageRatio);
  if (sizes.size() >= 2) {
    std::printf("; each doubling of the machine at most %.2f× the time (target %.1f×)",
                worst.growth, kMaxDoublingGrowth);
  }
  std::printf(".\n\n");
}

// The host, its load, and the table of the README: times at every size, growth and memory at
// the largest, and what they show against the targets.
void PrintSummary(const std::vector<SizeReport>& sizes, int repeat) {
  const SizeReport& largest = sizes.back();
  std::vector<double> loads;
  for (const SizeReport& size : sizes) {
    loads.insert(loads.end(), size.loads.begin(), size.loads.end());
  }
  PrintHost(loads);
  const std::string growth = sizes.size() < 2
                                 ? ""
                                 : " time growth " + Grouped(sizes[sizes.size() - 2].nodes) +
                                       " to " + Grouped(largest.nodes) + ", per doubling |";
  std::printf("| code |");
  PrintSizeColumns(sizes);
  std::printf("%s peak memory at %s (× registry.reg) |\n|---|", growth.c_str(),
              Grouped(largest.nodes).c_str());
  PrintRightColumns(sizes.size() + (growth.empty() ? 1 : 2));
  std::printf("\n");
  Worst worst;
  for (std::size_t k = 0; k < largest.results.size(); ++k) {
    PrintSummaryRow(sizes, k, worst);
  }
  PrintSummaryVerdict(sizes, repeat, worst);
}

void PrintMachines(const std::vector<SizeReport>& sizes) {
  std::printf("Machines (device nodes under ORVPCARD_ENUM and LPTENUM):\n\n");
  std::printf(
      "| device nodes | serial / parallel ports / printers | keys | values | registry.reg |\n");
  std::printf("|---:|---|---:|---:|---:|\n");
  for (const SizeReport& size : sizes) {
    std::printf("| %s | %s / %s / %s | %s | %s | %s |\n", Grouped(size.nodes).c_str(),
                Grouped(size.counts.serialPorts).c_str(),
                Grouped(size.counts.parallelPorts).c_str(), Grouped(size.counts.printers).c_str(),
                Grouped(size.tree.keys).c_str(), Grouped(size.tree.values).c_str(),
                Megabytes(static_cast<double>(size.imageBytes)).c_str());
  }
}

void PrintTimes(const std::vector<SizeReport>& sizes, int repeat) {
  std::printf(
      "\nWall time of `orvcard-op CODE` (median of %d runs), its ratio to the floor, and its "
      "growth for each doubling of the machine:\n\n",
      repeat);
  std::printf("| code | operation |");
  PrintSizeColumns(sizes);
  for (std::size_t i = 1; i < sizes.size(); ++i) {
    std::printf(" per doubling %s→%s |", Grouped(sizes[i - 1].nodes).c_str(),
                Grouped(sizes[i].nodes).c_str());
  }
  std::printf("\n|---|---|");
  PrintRightColumns(sizes.size() * 2 - 1);
  std::printf("\n");
  for (std::size_t k = 0; k < sizes.back().results.size(); ++k) {
    const Operation& operation = sizes.back().results[k].operation;
    std::printf("| %s | %s |", Code(operation.code).c_str(), operation.name);
    PrintTimeCells(sizes, k);
    for (std::size_t i = 1; i < sizes.size(); ++i) {
      std::printf(" %s |", Format("%.2f", GrowthPerDoubling(sizes, i, k)).c_str());
    }
    std::printf("\n");
  }
}

void PrintMemory(const std::vector<SizeReport>& sizes) {
  const SizeReport& largest = sizes.back();
  std::printf(
      "\nPeak resident memory of the run (median) and its ratio to the size of registry.reg; "
      "what the run left of registry.reg:\n\n");
  std::printf("| code |");
  PrintSizeColumns(sizes);
  std::printf(" registry.reg after, %s nodes |\n|---|", Grouped(largest.nodes).c_str());
  PrintRightColumns(sizes.size() + 1);
  std::printf("\n");
  for (std::size_t k = 0; k < largest.results.size(); ++k) {
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

void PrintReport(const std::vector<SizeReport>& sizes, int repeat) {
  PrintSummary(sizes, repeat);
  PrintMachines(sizes);
  PrintTimes(sizes, repeat);
  PrintMemory(sizes);
}

}  // namespace

ReportPrinter MeasureOperations(const Options& options) {
  std::vector<SizeReport> sizes;
  for (std::size_t nodes : options.sizes) {
    sizes.push_back(MeasureSize(options, nodes));
  }
  return [sizes = std::move(sizes), repeat = options.repeat] { PrintReport(sizes, repeat); };
}

}  // namespace orvbench
