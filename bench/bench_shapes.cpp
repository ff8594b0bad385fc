// --shapes: inputs of one kind that grow alone, each doubled twice, on the sample machine: an
// INF file of many sections (install, 0x1), an uninstall record of many values (0x8), one key of
// many values and one value of many megabytes (the serial renumbering, 0x4000, which changes the
// sample machine and so saves it). The report gives the time growth per doubling and the peak
// memory against registry.reg (and the INF). Its rows are printed as they are measured.
#include <cstdio>
#include <fstream>
#include <ostream>
#include <string>

#include "bench/bench_modes.h"
#include "winsim/machine.h"

namespace orvbench {

namespace {

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
    {"sections in an INF file", 0x1, {60000, 120000, 240000}, NoText, InfOfSections},
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
  MakeMachine(machine,
              [&](std::ostream& out) { out << winsim::SampleMachineImage() << shape.image(n); });
  if (const std::string inf = shape.inf(n); !inf.empty()) {
    std::ofstream(folder / "bench.inf", std::ios::binary) << inf;
    run.infBytes = inf.size();
  }
  run.imageBytes = fs::file_size(machine / "registry.reg");
  run.result.operation = {shape.code, shape.name};
  for (int round = 0; round < options.repeat; ++round) {
    const FreshCopy copy(machine);
    run.result.runs.push_back(RunOperation(options, shape.code, copy.path(), folder));
  }
  fs::remove_all(machine);
  fs::remove_all(folder);
  return run;
}

}  // namespace

ReportPrinter MeasureShapes(const Options& options) {
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
  return [] {};
}

}  // namespace orvbench
