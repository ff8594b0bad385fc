// --packages: `orvcard-op 0x11` (install the driver package of every INF file of the current
// folder, record their driver-store paths) on the sample machine, with 250, 500 and 1,000
// distinct signed packages in the folder by default, each round on a fresh copy of the machine,
// every size in each round. The report gives the time of each size and its growth per doubling.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_modes.h"
#include "winsim/machine.h"

namespace orvbench {

namespace {

struct PackagesReport {
  std::size_t infs = 0;
  Result result{{0x11, "install the packages, record their paths"}, {}};
};

fs::path PackagesDir(const Options& options, std::size_t infs) {
  return options.work / ("packages-" + std::to_string(infs));
}

// `count` packages that differ in their version and device, all signed through one catalog and
// holding one driver file, as a maker's folder of packages is.
void WritePackages(const fs::path& folder, std::size_t count) {
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "bench.cat", std::ios::binary) << "catalog\r\n";
  std::ofstream(folder / "bench.sys", std::ios::binary) << "driver\r\n";
  for (std::size_t i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "pkg%05zu.inf", i);
    const std::string n = std::to_string(i);
    std::ofstream(folder / name, std::ios::binary)
        << "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\nProvider=%Mfg%\r\n"
           "CatalogFile=bench.cat\r\nDriverVer=03/18/2011,1.0.0."
        << n
        << "\r\n\r\n[SourceDisksFiles]\r\nbench.sys=1\r\n\r\n[Manufacturer]\r\n"
           "%Mfg%=Models,NTamd64\r\n\r\n[Models.NTamd64]\r\n%Port%=Install,ORVPCARD_ENUM\\BENCH"
        << n << "\r\n\r\n[Strings]\r\nMfg=\"ORVEK Co., Ltd.\"\r\nPort=\"ORVEK Bench Port " << n
        << "\"\r\n";
  }
}

// One run on a fresh copy of `machine`, which must publish every package.
Run MeasureInstall(const Options& options, const fs::path& machine, std::size_t infs) {
  const FreshCopy copy(machine);
  const fs::path response = options.work / "packages-result.ini";
  fs::remove(response);
  // What the last run and the copy left to write goes to the disk first, not into this run.
  ::sync();
  // Any status but 0 is a failed install.
  Run run = RunChild({options.op.string(), "0x11", "-f2" + response.string()}, copy.path(), 1,
                     PackagesDir(options, infs));
  std::size_t published = 0;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(copy.path() / "drive_c" / "Windows" / "inf")) {
    published += entry.path().filename().string().starts_with("oem") ? 1 : 0;
  }
  if (published != infs) {
    Fail("orvcard-op 0x11 published " + std::to_string(published) + " of " + std::to_string(infs) +
         " packages");
  }
  return run;
}

void PrintPackagesReport(const std::vector<PackagesReport>& sizes, const std::vector<double>& loads,
                         int repeat) {
  PrintHeading(loads,
               "`orvcard-op 0x11` (install the package of every INF file of the current folder, "
               "record DriverStorePath0..N-1) on the sample machine, each run on a fresh copy",
               repeat);
  std::printf(
      "| INF files | time | CPU time | per doubling | per doubling (CPU time) | peak memory |\n"
      "|---:|---:|---:|---:|---:|---:|\n");
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const Result& result = sizes[i].result;
    std::string growth = "-";
    std::string cpuGrowth = "-";
    if (i > 0) {
      const Result& before = sizes[i - 1].result;
      growth = Format("%.2f",
                      Growth(before.Seconds(), sizes[i - 1].infs, result.Seconds(), sizes[i].infs));
      cpuGrowth = Format("%.2f", Growth(before.CpuSeconds(), sizes[i - 1].infs, result.CpuSeconds(),
                                        sizes[i].infs));
    }
    std::printf("| %s | %s | %s | %s | %s | %s |\n", Grouped(sizes[i].infs).c_str(),
                Milliseconds(result.Seconds()).c_str(), Milliseconds(result.CpuSeconds()).c_str(),
                growth.c_str(), cpuGrowth.c_str(), Megabytes(result.PeakBytes()).c_str());
  }
  const PackagesReport& first = sizes.front();
  const PackagesReport& last = sizes.back();
  if (last.infs > first.infs) {
    const double growth =
        Growth(first.result.Seconds(), first.infs, last.result.Seconds(), last.infs);
    std::printf(
        "\nTarget: at most %.1f times the time for each doubling of the INF files, %s to "
        "%s: %.2f: %s\n",
        kMaxDoublingGrowth, Grouped(first.infs).c_str(), Grouped(last.infs).c_str(), growth,
        Mark(growth <= kMaxDoublingGrowth).c_str());
  }
}

}  // namespace

ReportPrinter MeasurePackages(const Options& options) {
  const fs::path machine = options.work / "packages-machine";
  fs::remove_all(machine);
  MakeMachine(machine, [](std::ostream& out) { out << winsim::SampleMachineImage(); });
  std::vector<PackagesReport> sizes;
  for (std::size_t infs : options.sizes) {
    WritePackages(PackagesDir(options, infs), infs);
    sizes.push_back({infs, {}});
  }
  std::vector<double> loads;
  for (int round = 0; round < options.repeat; ++round) {
    std::fprintf(stderr, "round %d of %d\n", round + 1, options.repeat);
    loads.push_back(LoadAverage());
    for (PackagesReport& size : sizes) {
      size.result.runs.push_back(MeasureInstall(options, machine, size.infs));
    }
  }
  loads.push_back(LoadAverage());
  if (!options.keep) {
    fs::remove_all(machine);
    for (const PackagesReport& size : sizes) {
      fs::remove_all(PackagesDir(options, size.infs));
    }
  }
  return [sizes = std::move(sizes), loads = std::move(loads), repeat = options.repeat] {
    PrintPackagesReport(sizes, loads, repeat);
  };
}

}  // namespace orvbench
