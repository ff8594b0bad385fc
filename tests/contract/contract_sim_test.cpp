#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "tests/contract/contract_cases.h"
#include "tests/packages/package_test_support.h"
#include "tests/support/sim_fixture.h"

namespace contract {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(std::string(ORVCARD_SOURCE_DIR) + "/" + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The simulated machine keeps every case of the contract suite, from the same starting state
// as the Wine prefixes: the machine the end-to-end test gives the simulated machine, and the
// suite's fixture.
TEST(Contract, TheSimulatedMachineKeepsEveryCase) {
  const std::string fixture = ReadFile("tests/contract/contract_fixture.reg");
  testing_support::SimMachine sim(ReadFile("tests/wine/fixtures/winsim_machine.reg") +
                                  fixture.substr(fixture.find('\n') + 1));
  package_tests::AddPrograms(sim);
  const std::vector<CaseResult> results = RunContract(sim.api(), Target::kSimulatedMachine);
  EXPECT_EQ(CountFailures(results), 0) << Report(results);
  EXPECT_EQ(sim.api().OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace contract
