#include "bench/bench_support.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "bench/bench_machine.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace orvbench {

namespace {

std::vector<std::size_t> ParseSizes(const std::string& list) {
  std::vector<std::size_t> sizes;
  std::stringstream items(list);
  for (std::string item; std::getline(items, item, ',');) {
    const long long size = std::atoll(item.c_str());
    if (size <= 0) {
      Fail("not a size: " + item);
    }
    sizes.push_back(static_cast<std::size_t>(size));
  }
  if (sizes.empty()) {
    Fail("--sizes needs at least one size");
  }
  std::sort(sizes.begin(), sizes.end());
  return sizes;
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

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options options;
  options.op = ORVCARD_OP_PATH;
  options.winsim = WINSIM_PATH;
  const std::pair<const char*, bool*> flags[] = {{"--keep", &options.keep},
                                                 {"--replay", &options.replay},
                                                 {"--offline", &options.offline},
                                                 {"--shapes", &options.shapes},
                                                 {"--packages", &options.packages}};
  bool sizesGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto flag = std::find_if(std::begin(flags), std::end(flags),
                                   [&](const auto& f) { return arg == f.first; });
    if (flag != std::end(flags)) {
      *flag->second = true;
      continue;
    }
    if (i + 1 == argc) {
      Fail("unknown option or missing argument: " + arg);
    }
    const std::string value = argv[++i];
    if (arg == "--sizes") {
      options.sizes = ParseSizes(value);
      sizesGiven = true;
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
  // --packages counts INF files, not device nodes.
  if (options.packages && !sizesGiven) {
    options.sizes = {250, 500, 1000};
  }
  return options;
}

void Fail(const std::string& problem) {
  std::fprintf(stderr, "machine_bench: %s\n", problem.c_str());
  std::exit(1);
}

fs::path MachineDir(const Options& options, std::size_t nodes) {
  return options.work / ("machine-" + std::to_string(nodes));
}

// --- Machines ---

TreeCounts CountTree(const winsim::RegKey& top) {
  TreeCounts counts;
  std::vector<const winsim::RegKey*> pending = {&top};
  while (!pending.empty()) {
    const winsim::RegKey* key = pending.back();
    pending.pop_back();
    ++counts.keys;
    counts.values += key->values().size();
    key->ForEachSubkey([&](const winsim::RegKey& subkey) { pending.push_back(&subkey); });
  }
  return counts;
}

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

void MakeMachine(const fs::path& dir, const std::function<void(std::ostream&)>& writeImage) {
  const fs::path regFile = dir.string() + ".reg";
  {
    std::ofstream out(regFile, std::ios::binary);
    writeImage(out);
  }
  winsim::Machine::CreateFromImage(dir, regFile);
  fs::remove(regFile);
}

void WriteMachine(const fs::path& dir, const winsim::Registry& registry) {
  MakeMachine(dir, [&](std::ostream& out) { out << winsim::WriteRegImage(registry); });
}

TreeCounts BuildMachine(const fs::path& dir, std::size_t nodes) {
  const fs::path countsFile = dir.string() + ".counts";
  BuildInChild("the machine " + dir.string(), [&] {
    const winsim::Registry registry = BuildMachineRegistry(nodes);
    const TreeCounts counts = CountTree(registry.HKLM());
    WriteMachine(dir, registry);
    std::ofstream(countsFile) << counts.keys << ' ' << counts.values << '\n';
  });
  TreeCounts counts;
  std::ifstream(countsFile) >> counts.keys >> counts.values;
  fs::remove(countsFile);
  return counts;
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

namespace {

// Copies `dir` to `DIR-run`, replacing what stood there; the copy's path.
fs::path CopyBeside(const fs::path& dir) {
  fs::path copy = dir.string() + "-run";
  fs::remove_all(copy);
  fs::copy(dir, copy, fs::copy_options::recursive);
  return copy;
}

}  // namespace

FreshCopy::FreshCopy(const fs::path& dir) : OwnedFolder(CopyBeside(dir)) {}

// --- Running and measuring ---

Run RunChild(const std::vector<std::string>& argv, const fs::path& machineDir, int failure,
             fs::path folder) {
  if (folder.empty()) {
    folder = machineDir.parent_path();
  }
  const fs::path errors = machineDir.string() + ".stderr";
  std::vector<char*> args;
  for (const std::string& arg : argv) {
    args.push_back(const_cast<char*>(arg.c_str()));
  }
  args.push_back(nullptr);
  // A child's peak memory (ru_maxrss) counts what this process holds when it forks, so the
  // memory of the images it loaded and freed goes back to the system first.
  ::malloc_trim(0);
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

Run RunOperation(const Options& options, unsigned code, const fs::path& machineDir,
                 const fs::path& folder) {
  return RunChild({options.op.string(), Code(code)}, machineDir, 125, folder);
}

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double LoadAverage() {
  double load = 0;
  std::ifstream("/proc/loadavg") >> load;
  return load;
}

// --- The report ---

std::string Code(unsigned code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", code);
  return text;
}

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

double Growth(double seconds0, std::size_t nodes0, double seconds1, std::size_t nodes1) {
  return std::pow(seconds1 / seconds0, std::log(2.0) / std::log(static_cast<double>(nodes1) /
                                                                static_cast<double>(nodes0)));
}

void PrintHost(const std::vector<double>& loads) {
  std::printf("Host: %s; 1-minute load average %.1f to %.1f while measuring.\n\n",
              HostDescription().c_str(), *std::min_element(loads.begin(), loads.end()),
              *std::max_element(loads.begin(), loads.end()));
}

void PrintHeading(const std::vector<double>& loads, const char* what, int repeat) {
  PrintHost(loads);
  std::printf("%s; medians of %d runs:\n\n", what, repeat);
}

}  // namespace orvbench
