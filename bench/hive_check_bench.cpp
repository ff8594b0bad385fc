// The cost of the hive check: CheckHive over the SYSTEM hive of the benchmark's machines (laid
// out as Windows lays hives out), at sizes a doubling apart, each checked in a process of its own
// so that its peak memory is the check's (the file's bytes, which the check reads, included).
//
//   hive_check_bench [--sizes N,N,...] [--repeat N] [--work DIR]
//
// Prints per size: device nodes, hive size, the best of --repeat checks, nanoseconds per byte,
// the ratio to the size before, and the checking process's peak resident memory.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/bench_machine.h"
#include "tests/support/hive_files.h"
#include "winsim/hive_check.h"
#include "winsim/reg_codec.h"

namespace {

namespace fs = std::filesystem;

// The child: checks `file` `repeat` times and prints the best time in nanoseconds and its peak
// memory in KB.
int CheckFile(const fs::path& file, int repeat) {
  std::vector<std::uint8_t> bytes(fs::file_size(file));  // as HiveImage reads it: at once
  std::ifstream(file, std::ios::binary)
      .read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  long long best = -1;
  for (int i = 0; i < repeat; ++i) {
    const auto start = std::chrono::steady_clock::now();
    winsim::CheckHive(file, bytes);
    const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    best = best < 0 || ns < best ? ns : best;
  }
  // The peak resident memory of this process (its own, which rusage mixes with its parent's).
  std::ifstream status("/proc/self/status");
  long kb = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      kb = std::atol(line.c_str() + 6);
    }
  }
  std::printf("%lld %ld\n", best, kb);
  return 0;
}

// Runs this program as the child for `file`; its best time (ns) and peak memory (KB).
std::pair<long long, long> Measure(const char* self, const fs::path& file, int repeat) {
  const fs::path out = file.string() + ".time";
  const std::string count = std::to_string(repeat);
  const char* args[] = {self, "--check", file.c_str(), count.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, self, &actions, nullptr, const_cast<char**>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::exit(1);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || status != 0) {
    std::fprintf(stderr, "the check of %s failed\n", file.c_str());
    std::exit(1);
  }
  long long ns = 0;
  long kb = 0;
  std::ifstream(out) >> ns >> kb;
  fs::remove(out);
  return {ns, kb};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--check") {
    return CheckFile(argv[2], std::atoi(argv[3]));
  }
  std::vector<std::size_t> sizes = {25000, 50000, 100000, 200000};
  int repeat = 5;
  fs::path work = fs::temp_directory_path() / "orvcard-hive-check-bench";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--sizes") {
      sizes.clear();
      for (const char* at = argv[i + 1]; *at != 0; at += *at == ',') {
        char* end = nullptr;
        sizes.push_back(std::strtoul(at, &end, 10));
        at = end;
      }
    } else if (option == "--repeat") {
      repeat = std::atoi(argv[i + 1]);
    } else if (option == "--work") {
      work = argv[i + 1];
    }
  }
  fs::create_directories(work);
  std::printf("%8s %10s %10s %8s %10s %12s %10s\n", "nodes", "hive MB", "check ms", "ns/byte",
              "x previous", "peak RSS MB", "RSS/hive");
  double previous = 0;
  for (std::size_t nodes : sizes) {
    const fs::path file = work / ("SYSTEM-" + std::to_string(nodes));
    {
      const winsim::Registry registry = winsim::ParseRegImage(
          testing_support::OfflineImage(orvbench::BuildMachineRegistry(nodes), 1));
      testing_support::WriteCompactHive(file, *registry.HKLM().FindSubkey(u"SYSTEM"));
    }
    const auto [ns, kb] = Measure(argv[0], file, repeat);
    const double bytes = static_cast<double>(fs::file_size(file));
    std::printf("%8zu %10.1f %10.1f %8.2f %10.2f %12.1f %10.2f\n", nodes, bytes / 1e6, ns / 1e6,
                ns / bytes, previous > 0 ? ns / previous : 0.0, kb / 1024.0, kb * 1024.0 / bytes);
    previous = static_cast<double>(ns);
    fs::remove(file);
  }
  return 0;
}
