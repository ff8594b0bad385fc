// --replay: what replaying a customer's export costs. Loading the machine's image as `winsim
// export` writes it (UTF-16LE) against loading the same image in its UTF-8 form, both in this
// process and interleaved, and `winsim diff` of the machine and a copy of it after
// `orvcard-op 0x40000`, as a child process.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/bench_modes.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace orvbench {

namespace {

// Loading the UTF-16 export within 1.5 times loading the UTF-8 image.
constexpr double kMaxUtf16Ratio = 1.5;

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
  ReplayFiles(const Options& options, std::size_t nodes)
      : machine(MachineDir(options, nodes)),
        utf8(machine / "registry.reg"),
        utf16(machine.string() + "-export.reg"),
        after(machine.string() + "-after") {}
};

// Writes the machine's registry.reg again as `winsim export` does.
void WriteExport(const ReplayFiles& files) {
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

// Builds the machine of `nodes` device nodes, its export and its copy after
// `orvcard-op 0x40000`.
ReplayReport PrepareReplay(const Options& options, std::size_t nodes) {
  ReplayReport report;
  report.nodes = nodes;
  const ReplayFiles files(options, nodes);
  fs::remove_all(files.machine);
  fs::remove_all(files.after);
  std::fprintf(stderr, "%zu device nodes: building the machine, its export and a run\n", nodes);
  BuildMachine(files.machine, nodes);
  WriteExport(files);
  fs::copy(files.machine, files.after, fs::copy_options::recursive);
  RunOperation(options, 0x40000, files.after);
  report.utf8Bytes = fs::file_size(files.utf8);
  report.utf16Bytes = fs::file_size(files.utf16);
  return report;
}

// One round of measurements of one size.
void MeasureRound(const Options& options, int round, ReplayReport& report) {
  const ReplayFiles files(options, report.nodes);
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

// Prepares every size first, then measures them round by round, every size in each round, so
// that a busy machine weighs on all sizes alike.
std::vector<ReplayReport> MeasureSizes(const Options& options) {
  std::vector<ReplayReport> reports;
  for (std::size_t nodes : options.sizes) {
    reports.push_back(PrepareReplay(options, nodes));
  }
  for (int round = 0; round < options.repeat; ++round) {
    std::fprintf(stderr, "round %d of %d\n", round + 1, options.repeat);
    for (ReplayReport& report : reports) {
      MeasureRound(options, round, report);
    }
  }
  if (!options.keep) {
    for (const ReplayReport& report : reports) {
      const ReplayFiles files(options, report.nodes);
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

}  // namespace

ReportPrinter MeasureReplays(const Options& options) {
  return [sizes = MeasureSizes(options), repeat = options.repeat] {
    PrintReplayReport(sizes, repeat);
  };
}

}  // namespace orvbench
