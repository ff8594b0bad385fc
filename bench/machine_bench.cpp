// machine_bench: what each device and record operation of orvcard-op costs as machines grow.
//
//   machine_bench [--sizes 1000,10000,100000] [--repeat N] [--work DIR] [--keep] [--op PATH]
//   machine_bench --shapes [--repeat N] [--work DIR] [--op PATH]
//   machine_bench --replay [--sizes ...] [--repeat N] [--work DIR] [--keep] [--winsim PATH]
//   machine_bench --offline [--sizes ...] [--repeat N] [--work DIR] [--keep] [--op PATH]
//   machine_bench --packages [--sizes 250,500,1000] [--repeat N] [--work DIR] [--keep] [--op PATH]
//
// Each mode is a file of its own (bench_modes.h): the operations on machines of every size by
// default (bench_operations.cpp), inputs of one kind that grow alone (--shapes), replaying a
// customer's export (--replay), offline installations (--offline), folders of many INF files
// (--packages). The report goes to stdout,
// progress to stderr. Without --work the machines are made in a new temporary folder, removed at
// the end unless --keep keeps them.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "bench/bench_modes.h"
#include "bench/bench_support.h"

namespace {

namespace fs = std::filesystem;
using orvbench::Fail;
using orvbench::Options;

// Makes the work folder, a new temporary one when the options name none; whether it was made so.
bool MakeWorkFolder(Options& options) {
  const bool temporary = options.work.empty();
  if (temporary) {
    std::string pattern = (fs::temp_directory_path() / "orvcard-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      Fail(std::string("mkdtemp: ") + std::strerror(errno));
    }
    options.work = pattern;
  }
  fs::create_directories(options.work);
  options.work = fs::absolute(options.work);
  return temporary;
}

orvbench::ReportPrinter Measure(const Options& options) {
  if (options.shapes) {
    return orvbench::MeasureShapes(options);
  }
  if (options.replay) {
    return orvbench::MeasureReplays(options);
  }
  if (options.offline) {
    return orvbench::MeasureOffline(options);
  }
  if (options.packages) {
    return orvbench::MeasurePackages(options);
  }
  return orvbench::MeasureOperations(options);
}

}  // namespace

int main(int argc, char** argv) {
  Options options = orvbench::ParseOptions(argc, argv);
  const bool temporaryWork = MakeWorkFolder(options);
  for (const fs::path& program : {options.op, options.winsim}) {
    if (::access(program.c_str(), X_OK) != 0) {
      Fail("cannot run " + program.string());
    }
  }
  orvbench::ReportPrinter printReport;
  try {
    printReport = Measure(options);
  } catch (const std::exception& error) {
    Fail(error.what());
  }
  // --shapes keeps no machines.
  if (options.keep && !options.shapes) {
    std::fprintf(stderr, "the machines are in %s\n", options.work.c_str());
  } else if (temporaryWork) {
    fs::remove_all(options.work);
  }
  printReport();
  return 0;
}
