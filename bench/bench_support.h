// What every mode of machine_bench shares: its options, building machines, running a program as
// a child process and measuring it, and the pieces of the printed report.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "tests/support/owned_folder.h"
#include "winsim/registry.h"

namespace orvbench {

namespace fs = std::filesystem;

// The target for the operations and for `winsim diff` alike: at most 2.2 times the time for
// each doubling of the machine.
constexpr double kMaxDoublingGrowth = 2.2;

struct Options {
  std::vector<std::size_t> sizes = {1000, 10000, 100000};
  int repeat = 5;
  fs::path work;
  bool keep = false;
  bool replay = false;
  bool offline = false;
  bool shapes = false;
  bool packages = false;
  fs::path op;      // the orvcard-op to measure (--op)
  fs::path winsim;  // the winsim whose diff --replay measures (--winsim)
};

// The options of the command line; a bad one stops the program.
Options ParseOptions(int argc, char** argv);

// Says `problem` on stderr and stops the program.
[[noreturn]] void Fail(const std::string& problem);

// The machine directory of `nodes` device nodes in the work folder.
fs::path MachineDir(const Options& options, std::size_t nodes);

struct Operation {
  unsigned code;
  const char* name;
};

// One measured run.
struct Run {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of a child
  long peakKb = 0;
  std::uintmax_t imageAfter = 0;  // bytes of registry.reg after the run
  bool changed = false;           // whether the run changed registry.reg
};

// The runs of one operation, and their medians.
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

// --- Machines ---

struct TreeCounts {
  std::size_t keys = 0;
  std::size_t values = 0;
};
// The keys and values of `top` and everything below it.
TreeCounts CountTree(const winsim::RegKey& top);

// Runs `build` in a child process: a child forked later from a process that held a machine
// would start with that memory resident, and its peak would count it. A failure stops the
// program.
void BuildInChild(const std::string& what, const std::function<void()>& build);

// Makes the machine directory `dir` from the .reg image `writeImage` writes (through a .reg file
// beside it, as `winsim init DIR --from` does).
void MakeMachine(const fs::path& dir, const std::function<void(std::ostream&)>& writeImage);
// The same from `registry`.
void WriteMachine(const fs::path& dir, const winsim::Registry& registry);

// Builds the machine directory `dir` of `nodes` device nodes (bench_machine.h), in a child
// process; the keys and values of its registry.
TreeCounts BuildMachine(const fs::path& dir, std::size_t nodes);

// Whether the files `a` and `b` hold the same bytes.
bool SameFiles(const fs::path& a, const fs::path& b);

// A fresh copy `DIR-run` of the machine or installation `dir`, removed when it goes.
class FreshCopy : public testing_support::OwnedFolder {
 public:
  explicit FreshCopy(const fs::path& dir);
};

// --- Running and measuring ---

// Runs the program `argv` (with ORVCARD_MACHINE set to `machineDir`, in `folder`, by default
// the folder above it, stdout to /dev/null) and measures it. An exit status of `failure` or
// more stops the program.
Run RunChild(const std::vector<std::string>& argv, const fs::path& machineDir, int failure,
             fs::path folder = {});

// Runs `orvcard-op CODE` on the machine `machineDir` and measures it. Device operations give 0;
// the package operation its mapped status. 125 is a machine that could not be loaded or saved,
// 126 and 127 a child that did not start.
Run RunOperation(const Options& options, unsigned code, const fs::path& machineDir,
                 const fs::path& folder = {});

// User and system time of `usage`.
double CpuSeconds(const rusage& usage);

// The 1-minute load average of the host (0 when it cannot be read).
double LoadAverage();

// --- The report ---

std::string Code(unsigned code);        // 0x40000
std::string Grouped(std::uintmax_t n);  // 100,000
std::string Format(const char* format, double value);
std::string Milliseconds(double seconds);  // 812.3 ms, 4321 ms, 12,345 ms
std::string Megabytes(double bytes);       // 12.3 MB
std::string Mark(bool holds);              // yes, **no**

// Time growth per doubling of the machine, from `seconds0` at `nodes0` to `seconds1` at `nodes1`.
double Growth(double seconds0, std::size_t nodes0, double seconds1, std::size_t nodes1);

// The host line: processor, cores, kernel, compiler and the range of `loads` while measuring.
void PrintHost(const std::vector<double>& loads);
// The host line, then "`what`; medians of `repeat` runs:" heading a report's table.
void PrintHeading(const std::vector<double>& loads, const char* what, int repeat);

}  // namespace orvbench
