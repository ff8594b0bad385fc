#include "platform/tracing_windows.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "frontend/run_operation.h"
#include "tests/packages/package_test_support.h"
#include "tests/support/sim_fixture.h"

namespace orv {
namespace {

using testing_support::SimMachine;

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(ORVCARD_SOURCE_DIR) + "/tests/wine/fixtures/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The simulated machine's own trace as the wrapper can see it: without the lines of the
// programs it runs itself, without the exit status it knows when CreateProcessW returns, and
// without the enumeration by which the wrapper counts a new set's members.
std::vector<std::string> SeenFromOutside(const std::vector<std::string>& lines) {
  static const std::regex kExit(R"(^(CreateProcessW\(.*\) = TRUE -> \S+, \S+), exit \S+$)");
  static const std::regex kNewSet(R"(^SetupDiGetClassDevsW\(.*\) = \S+ -> (\d+) members?$)");
  std::vector<std::string> seen;
  std::size_t counting = 0;
  for (const std::string& line : lines) {
    if (counting != 0 && line.starts_with("SetupDiEnumDeviceInfo(")) {
      --counting;
      continue;
    }
    if (line.starts_with("cmd(") || line.starts_with("DPInst(")) {
      continue;
    }
    if (std::smatch members; std::regex_match(line, members, kNewSet)) {
      counting = std::stoul(members[1]) + 1;
    }
    seen.push_back(std::regex_replace(line, kExit, "$1"));
  }
  return seen;
}

// The wrapper over the simulated machine writes, call for call, the simulated machine's own
// trace: the operations of the end-to-end scenarios, each on its fixture, with the device
// named as the simulated machine names it.
TEST(TracingWindows, WritesTheSimulatedMachinesTraceLineForLine) {
  struct Case {
    const char* fixture;
    DWORD operation;
  } cases[] = {
      {"parallel_ports.reg", kOpRemapParallelPorts},
      {"card_removal.reg", kOpReleaseSerialPortNumbers},
      {"card_removal.reg", kOpReleaseAndRemoveSerialPorts},
      {"serial_ports.reg", kOpRenumberSerialPorts},
      {"serial_ports.reg", kOpRestartDisplayDevices},
      {"package_record.reg", kOpCleanUpRaw},
      {"package_record_other_value.reg", kOpCleanUpMapped | kOpResponseFile},
      {"package_record.reg", kOpLaunchInstaller},
      {"package_record.reg", kOpInstall | kOpResponseFile},
  };
  for (const Case& c : cases) {
    const std::string fixture = Fixture(c.fixture);
    SimMachine sim(Fixture("winsim_machine.reg") + fixture.substr(fixture.find('\n') + 1));
    package_tests::AddPrograms(sim);
    std::vector<std::string> lines;
    winsim::SimWindows& inner = sim.api();
    TracingWindows tracing(
        inner, [&](const std::string& line) { lines.push_back(line); },
        [&](HDEVINFO, SP_DEVINFO_DATA*) { return inner.trace().back().device; });
    const WCHAR* argv[] = {u"orvcard-op", u"-f2result.ini", nullptr};
    RunOperation(tracing, c.operation, argv);
    EXPECT_FALSE(lines.empty()) << c.fixture;
    EXPECT_EQ(lines, SeenFromOutside(sim.api().TraceLines())) << c.fixture << " " << c.operation;
  }
}

}  // namespace
}  // namespace orv
