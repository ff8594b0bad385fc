// --offline: `orvcard-op 0x8000` (-RemoveDeviceNode) on an offline installation, whose SYSTEM
// and SOFTWARE hives are laid out as Windows lays them out (the Ports class entries with a
// security descriptor of their own) and written through hivex, against the same run on the .reg
// image of the same registry (the machine as its hives hold it: ControlSet001 with Select, no
// HARDWARE tree), interleaved, each on a fresh copy.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_machine.h"
#include "bench/bench_modes.h"
#include "tests/support/hive_files.h"
#include "winsim/reg_codec.h"

namespace orvbench {

namespace {

// A run on an offline installation's hives within 2 times the same run on the .reg image.
constexpr double kMaxHiveRatio = 2.0;

struct OfflineReport {
  std::size_t nodes = 0;
  std::size_t systemKeys = 0;
  std::uintmax_t imageBytes = 0;
  std::uintmax_t systemBytes = 0;
  Result image{{0x8000, "on the .reg image"}, {}};
  Result hives{{0x8000, "on the hives"}, {}};
};

fs::path InstallationDir(const Options& options, std::size_t nodes) {
  return options.work / ("offline-" + std::to_string(nodes));
}

fs::path HiveOf(const fs::path& installation, const char* name) {
  return installation / "Windows" / "System32" / "config" / name;
}

// Builds the machine of `nodes` device nodes as its hives hold it, once as a machine directory
// and once as an offline installation, in a child process.
OfflineReport PrepareOffline(const Options& options, std::size_t nodes) {
  OfflineReport report;
  report.nodes = nodes;
  const fs::path machine = MachineDir(options, nodes);
  const fs::path installation = InstallationDir(options, nodes);
  fs::remove_all(machine);
  fs::remove_all(installation);
  std::fprintf(stderr, "%zu device nodes: building the machine and its hives\n", nodes);
  const fs::path counts = installation.string() + ".counts";
  BuildInChild("the offline installation " + installation.string(), [&] {
    const winsim::Registry registry =
        winsim::ParseRegImage(testing_support::OfflineImage(BuildMachineRegistry(nodes), 1));
    WriteMachine(machine, registry);
    testing_support::MakeOfflineInstallation(installation, registry, true,
                                             testing_support::HiveSecurity::kWindows);
    std::ofstream(counts) << CountTree(*registry.HKLM().FindSubkey(u"SYSTEM")).keys << '\n';
  });
  std::ifstream(counts) >> report.systemKeys;
  fs::remove(counts);
  report.imageBytes = fs::file_size(machine / "registry.reg");
  report.systemBytes = fs::file_size(HiveOf(installation, "SYSTEM"));
  return report;
}

// Runs `orvcard-op 0x8000` on a fresh copy of the machine or installation `dir`, whose registry
// is the file `registry` below it.
Run MeasureRemovalOnCopy(const Options& options, const fs::path& dir, const fs::path& registry) {
  const FreshCopy copy(dir);
  Run run = RunOperation(options, 0x8000, copy.path());
  run.changed = !SameFiles(dir / registry, copy.path() / registry);
  if (!run.changed) {
    Fail("orvcard-op 0x8000 changed nothing in " + (copy.path() / registry).string());
  }
  return run;
}

// The reports of each size, and the 1-minute load average before each round and at the end.
std::vector<OfflineReport> MeasureSizes(const Options& options, std::vector<double>& loads) {
  std::vector<OfflineReport> reports;
  for (std::size_t nodes : options.sizes) {
    reports.push_back(PrepareOffline(options, nodes));
  }
  for (int round = 0; round < options.repeat; ++round) {
    std::fprintf(stderr, "round %d of %d\n", round + 1, options.repeat);
    loads.push_back(LoadAverage());
    for (OfflineReport& report : reports) {
      const fs::path installation = InstallationDir(options, report.nodes);
      report.image.runs.push_back(
          MeasureRemovalOnCopy(options, MachineDir(options, report.nodes), "registry.reg"));
      report.hives.runs.push_back(MeasureRemovalOnCopy(
          options, installation, fs::relative(HiveOf(installation, "SYSTEM"), installation)));
    }
  }
  loads.push_back(LoadAverage());
  if (!options.keep) {
    for (const OfflineReport& report : reports) {
      fs::remove_all(MachineDir(options, report.nodes));
      fs::remove_all(InstallationDir(options, report.nodes));
    }
  }
  return reports;
}

void PrintOfflineReport(const std::vector<OfflineReport>& sizes, const std::vector<double>& loads,
                        int repeat) {
  PrintHeading(loads,
               "`orvcard-op 0x8000` (-RemoveDeviceNode: load, release and remove the card's ports, "
               "save) on an offline installation's hives (laid out as Windows lays them out: the "
               "Ports class entries with a security descriptor of their own) against the same run "
               "on the .reg image of the same registry, each on a fresh copy, interleaved",
               repeat);
  std::printf(
      "| device nodes | keys in SYSTEM | registry.reg | SYSTEM hive | on the .reg image | on the "
      "hives | hives / image (CPU time) | hives, growth per doubling (CPU time) | peak memory, "
      "image | peak memory, hives |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  double worstRatio = 0;
  double worstGrowth = 0;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const OfflineReport& size = sizes[i];
    const double ratio = size.hives.Seconds() / size.image.Seconds();
    worstRatio = std::max(worstRatio, ratio);
    std::string growth = "-";
    if (i > 0) {
      const OfflineReport& before = sizes[i - 1];
      const double g =
          Growth(before.hives.Seconds(), before.nodes, size.hives.Seconds(), size.nodes);
      worstGrowth = std::max(worstGrowth, g);
      growth = Format("%.2f", g) + Format(" (%.2f)", Growth(before.hives.CpuSeconds(), before.nodes,
                                                            size.hives.CpuSeconds(), size.nodes));
    }
    std::printf(
        "| %s | %s | %s | %s | %s | %s | %.2f× (%.2f×) | %s | %s | %s |\n",
        Grouped(size.nodes).c_str(), Grouped(size.systemKeys).c_str(),
        Megabytes(static_cast<double>(size.imageBytes)).c_str(),
        Megabytes(static_cast<double>(size.systemBytes)).c_str(),
        Milliseconds(size.image.Seconds()).c_str(), Milliseconds(size.hives.Seconds()).c_str(),
        ratio, size.hives.CpuSeconds() / size.image.CpuSeconds(), growth.c_str(),
        Megabytes(size.image.PeakBytes()).c_str(), Megabytes(size.hives.PeakBytes()).c_str());
  }
  std::printf(
      "\nTargets: the run on the hives within %.1f× the run on the image at every size (at most "
      "%.2f×): %s; within %.1f× the time for each doubling of the machine (at most %s): %s\n",
      kMaxHiveRatio, worstRatio, Mark(worstRatio <= kMaxHiveRatio).c_str(), kMaxDoublingGrowth,
      sizes.size() < 2 ? "-" : Format("%.2f", worstGrowth).c_str(),
      sizes.size() < 2 ? "-" : Mark(worstGrowth <= kMaxDoublingGrowth).c_str());
}

}  // namespace

ReportPrinter MeasureOffline(const Options& options) {
  std::vector<double> loads;
  std::vector<OfflineReport> sizes = MeasureSizes(options, loads);
  return [sizes = std::move(sizes), loads = std::move(loads), repeat = options.repeat] {
    PrintOfflineReport(sizes, loads, repeat);
  };
}

}  // namespace orvbench
