#include "platform/platform_code.h"

#include <gtest/gtest.h>

#include "tests/support/sim_fixture.h"

namespace orv {
namespace {

// An image holding only what the classification reads.
std::string VersionImage(const std::string& version, const std::string& productType,
                         const std::string& architecture) {
  std::string image = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n";
  const auto dot = version.find('.');
  const int major = std::stoi(version.substr(0, dot));
  if (major >= 10) {
    char line[128];
    std::snprintf(
        line, sizeof line,
        "\"CurrentMajorVersionNumber\"=dword:%08x\n\"CurrentMinorVersionNumber\"=dword:%08x\n"
        "\"CurrentVersion\"=\"6.3\"\n",
        major, std::stoi(version.substr(dot + 1)));
    image += line;
  } else {
    image += "\"CurrentVersion\"=\"" + version + "\"\n";
  }
  image += "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions]\n";
  image += "\"ProductType\"=\"" + productType + "\"\n";
  image +=
      "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n";
  image += "\"PROCESSOR_ARCHITECTURE\"=\"" + architecture + "\"\n";
  return image;
}

TEST(GetPlatformCode, ClassifiesVersionProductTypeAndProcessor) {
  struct Case {
    const char* version;
    const char* productType;
    const char* architecture;
    DWORD code;
  } cases[] = {
      {"5.0", "ServerNT", "x86", 0x50000003},
      {"5.0", "WinNT", "IA64", 0x50000003},
      {"5.1", "WinNT", "AMD64", 0x51000003},
      {"5.2", "WinNT", "AMD64", 0x51000060},
      {"5.2", "ServerNT", "AMD64", 0x52000060},
      {"5.2", "WinNT", "x86", 0x52000003},
      {"5.2", "LanmanNT", "x86", 0x52000003},
      {"5.2", "ServerNT", "IA64", 0},
      {"5.3", "WinNT", "x86", 0},
      {"6.0", "WinNT", "x86", 0x60000003},
      {"6.0", "WinNT", "AMD64", 0x60000060},
      {"6.1", "WinNT", "AMD64", 0x61000060},
      {"6.1", "ServerNT", "AMD64", 0x60200860},
      {"6.0", "LanmanNT", "x86", 0x60200803},
      {"6.1", "WinNT", "IA64", 0},
      {"6.2", "WinNT", "AMD64", 0x60},
      {"6.3", "ServerNT", "x86", 0x03},
      {"6.2", "WinNT", "IA64", 0},
      // Windows 10 tells a program without a compatibility manifest (this one) 6.2.
      {"10.0", "WinNT", "AMD64", 0x60},
      {"10.0", "ServerNT", "x86", 0x03},
      {"4.0", "WinNT", "x86", 0},
  };
  for (const Case& c : cases) {
    testing_support::SimMachine sim(VersionImage(c.version, c.productType, c.architecture));
    EXPECT_EQ(GetPlatformCode(sim.api()), c.code)
        << c.version << " " << c.productType << " " << c.architecture;
  }
}

TEST(GetPlatformCode, AnUnreadableVersionCountsAsVersionZero) {
  testing_support::SimMachine sim(VersionImage("6.1", "WinNT", "AMD64"));
  sim.api().ArmFault(winsim::Fault{"GetVersionExW", "", 0, ERROR_ACCESS_DENIED});
  EXPECT_EQ(GetPlatformCode(sim.api()), 0u);
}

TEST(GetPlatformCode, FallsBackToGetSystemInfoWithoutTheNativeCall) {
  // Windows 2000's kernel32 has no GetNativeSystemInfo.
  testing_support::SimMachine sim(VersionImage("5.0", "WinNT", "x86"));
  EXPECT_EQ(GetPlatformCode(sim.api()), 0x50000003u);
  EXPECT_EQ(sim.Calls({"GetSystemInfo"}).size(), 1u);
}

}  // namespace
}  // namespace orv
