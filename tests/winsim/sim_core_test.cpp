// The core of the simulated platform: version, product type and processor read from the
// machine, its environment, the console, the trace, faults and handle counting.
#include <fcntl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/sim_fixture.h"

namespace winsim {
namespace {

using namespace orv;

using testing_support::EnvironmentImage;
using testing_support::SimMachine;

std::string MachineImage(const std::string& versionValues, const std::string& productType,
                         const std::string& architecture) {
  std::string image =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n" + versionValues +
      "\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions]\n";
  if (!productType.empty()) {
    image += "\"ProductType\"=\"" + productType + "\"\n";
  }
  return image + "\n" +
         EnvironmentImage(
             architecture.empty() ? "" : "\"PROCESSOR_ARCHITECTURE\"=\"" + architecture + "\"\n");
}

TEST(SimCoreTest, VersionProductAndProcessorComeFromTheMachine) {
  struct Case {
    std::string versionValues;
    std::string productType;
    std::string architecture;
    DWORD major, minor;
    BYTE product;
    WORD processor;
    bool nativeInfo;
  };
  const Case cases[] = {
      {"\"CurrentVersion\"=\"5.0\"", "WinNT", "x86", 5, 0, 1, 0, false},
      {"\"CurrentVersion\"=\"5.2\"", "ServerNT", "AMD64", 5, 2, 3, 9, true},
      {"\"CurrentVersion\"=\"6.1\"", "LanmanNT", "IA64", 6, 1, 2, 6, true},
      {"\"CurrentVersion\"=\"6.1\"", "winnt", "amd64", 6, 1, 1, 9, true},
      {"\"CurrentVersion\"=\"6.3\"\n\"CurrentMajorVersionNumber\"=dword:0000000a\n"
       "\"CurrentMinorVersionNumber\"=dword:00000000",
       "WinNT", "ARM64", 6, 2, 1, 12, true},  // after 8, Windows says 6.2 to this program
      {"\"CurrentVersion\"=\"6.0\"", "", "MIPS", 6, 0, 1, 0xFFFF, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.versionValues + " " + c.productType + " " + c.architecture);
    SimMachine sim(MachineImage(c.versionValues, c.productType, c.architecture));
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(sim.api().GetVersionExW(&version));
    EXPECT_EQ(version.dwMajorVersion, c.major);
    EXPECT_EQ(version.dwMinorVersion, c.minor);
    EXPECT_EQ(version.wProductType, c.product);
    EXPECT_EQ(version.dwOSVersionInfoSize, sizeof version);
    // No row has a build number; Windows 8's is what a later version says.
    EXPECT_EQ(version.dwBuildNumber, c.major == 6 && c.minor == 2 ? 9200u : 0u);

    SYSTEM_INFO native{};
    native.wProcessorArchitecture = 0x5555;
    EXPECT_EQ(sim.api().GetNativeSystemInfo(&native) != FALSE, c.nativeInfo);
    EXPECT_EQ(native.wProcessorArchitecture, c.nativeInfo ? c.processor : 0x5555);
    SYSTEM_INFO info{};
    sim.api().GetSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture, c.processor);
    EXPECT_EQ(info.dwPageSize, 4096u);
  }
}

TEST(SimCoreTest, VersionRecordSizeIsChecked) {
  SimMachine sim(MachineImage("\"CurrentVersion\"=\"6.1\"", "ServerNT", "AMD64"));
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = 100;
  EXPECT_FALSE(sim.api().GetVersionExW(&version));
  EXPECT_EQ(sim.api().GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(version.dwMajorVersion, 0u);

  // The plain record has no product type: the bytes after it stay as they were.
  version.dwOSVersionInfoSize = 276;
  version.wProductType = 0x77;
  ASSERT_TRUE(sim.api().GetVersionExW(&version));
  EXPECT_EQ(version.dwMajorVersion, 6u);
  EXPECT_EQ(version.dwMinorVersion, 1u);
  EXPECT_EQ(version.wProductType, 0x77);
  EXPECT_EQ(sim.api().TraceLines(), (std::vector<std::string>{"GetVersionExW(100) = FALSE (0x7A)",
                                                              "GetVersionExW(276) = TRUE -> 6.1"}));
}

constexpr const char* kEnvironment = R"(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]
"SystemRoot"="C:\\Windows"
"ComSpec"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,5c,00,73,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,63,00,6d,00,64,00,2e,00,65,00,78,00,65,00,00,00
"Odd"=hex(2):25,00,4e,00,4f,00,50,00,45,00,25,00,5c,00,25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,00,25,00,00,00
"Loop"=hex(2):25,00,4c,00,6f,00,6f,00,70,00,25,00,00,00
"Empty"=""
"Number"=dword:00000001
)";

TEST(SimCoreTest, TheX86BuildOnA64BitMachineRunsUnderWow64) {
  struct Case {
    const char* versionValues;
    const char* architecture;
    bool x86Process;
    bool wow64;
  } cases[] = {
      {"\"CurrentVersion\"=\"6.1\"", "AMD64", true, true},
      {"\"CurrentVersion\"=\"6.1\"", "AMD64", false, false},
      {"\"CurrentVersion\"=\"6.1\"", "x86", true, false},
      {"\"CurrentVersion\"=\"5.1\"", "x86", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.architecture) + (c.x86Process ? " x86 process" : ""));
    SimMachine sim(MachineImage(c.versionValues, "WinNT", c.architecture) + kEnvironment,
                   u"C:\\work", c.x86Process);
    BOOL wow64 = 7;
    ASSERT_TRUE(sim.api().IsWow64Process(kCurrentProcess, &wow64));
    EXPECT_EQ(wow64, c.wow64 ? TRUE : FALSE);

    SYSTEM_INFO native{};
    SYSTEM_INFO info{};
    ASSERT_TRUE(sim.api().GetNativeSystemInfo(&native));
    sim.api().GetSystemInfo(&info);
    EXPECT_EQ(native.wProcessorArchitecture, std::string(c.architecture) == "AMD64" ? 9 : 0);
    EXPECT_EQ(info.wProcessorArchitecture, c.wow64 ? 0 : native.wProcessorArchitecture);

    WCHAR folder[MAX_PATH];
    ASSERT_GT(sim.api().GetSystemDirectoryW(folder, MAX_PATH), 0u);
    EXPECT_EQ(Narrow(folder), c.wow64 ? "C:\\Windows\\SysWOW64" : "C:\\Windows\\System32");

    // SOFTWARE is the 32-bit view; SYSTEM is shared.
    for (const char16_t* path : {u"SOFTWARE\\Vendor", u"SYSTEM\\Vendor"}) {
      HKEY key = nullptr;
      ASSERT_EQ(sim.api().RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                          nullptr, &key, nullptr),
                ERROR_SUCCESS);
      sim.api().RegCloseKey(key);
    }
    EXPECT_EQ(sim.Key(u"SOFTWARE\\WOW6432Node\\Vendor") != nullptr, c.wow64);
    EXPECT_EQ(sim.Key(u"SOFTWARE\\Vendor") != nullptr, !c.wow64);
    EXPECT_NE(sim.Key(u"SYSTEM\\Vendor"), nullptr);

    BOOL reboot = FALSE;
    const DWORD refused = c.wow64 ? ERROR_IN_WOW64 : ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(sim.api().DriverPackageInstallW(u"C:\\work\\none.inf", 0, nullptr, &reboot), refused);
    EXPECT_EQ(sim.api().DriverPackageUninstallW(u"C:\\work\\none.inf", 0, nullptr, &reboot),
              refused);
  }
  // Windows 2000 has no IsWow64Process.
  SimMachine old(MachineImage("\"CurrentVersion\"=\"5.0\"", "WinNT", "x86"));
  BOOL wow64 = FALSE;
  EXPECT_FALSE(old.api().IsWow64Process(kCurrentProcess, &wow64));
  EXPECT_EQ(old.api().GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST(SimCoreTest, EnvironmentIsTheMachinesEnvironmentKey) {
  SimMachine sim(kEnvironment);
  struct Case {
    const char16_t* name;
    std::optional<std::u16string> value;
  };
  const Case cases[] = {
      {u"SYSTEMROOT", u"C:\\Windows"},
      {u"ComSpec", u"C:\\Windows\\system32\\cmd.exe"},
      {u"Odd", u"%NOPE%\\C:\\Windows"},  // an unknown name stays as written
      {u"Loop", u"%Loop%"},              // a reference cycle ends
      {u"Empty", u""},
      {u"Number", std::nullopt},
      {u"PATH", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.name));
    WCHAR buffer[260];
    const DWORD length = sim.api().GetEnvironmentVariableW(c.name, buffer, 260);
    if (!c.value) {
      EXPECT_EQ(length, 0u);
      EXPECT_EQ(sim.api().GetLastError(), 203u);  // ERROR_ENVVAR_NOT_FOUND
      continue;
    }
    EXPECT_EQ(length, c.value->size());
    EXPECT_EQ(std::u16string(buffer), *c.value);
  }
}

TEST(SimCoreTest, EnvironmentBufferTooSmallGivesTheSizeWithTerminator) {
  SimMachine sim(kEnvironment);
  WCHAR buffer[10];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  // "C:\Windows" has 10 characters: it needs 11.
  EXPECT_EQ(sim.api().GetEnvironmentVariableW(u"SystemRoot", buffer, 10), 11u);
  EXPECT_EQ(buffer[0], u'#');
  EXPECT_EQ(sim.api().GetEnvironmentVariableW(u"SystemRoot", nullptr, 0), 11u);
  WCHAR exact[11];
  EXPECT_EQ(sim.api().GetEnvironmentVariableW(u"SystemRoot", exact, 11), 10u);
  EXPECT_EQ(std::u16string(exact), u"C:\\Windows");
  EXPECT_EQ(sim.Calls({"GetEnvironmentVariableW"}).back(),
            R"(GetEnvironmentVariableW("SystemRoot", 11) = 10 -> "C:\Windows")");
}

TEST(SimCoreTest, StdoutIsKeptAndCopiedToTheSink) {
  SimMachine sim("");
  std::FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  SimOptions options;
  options.stdoutSink = sink;
  SimWindows api(sim.machine(), options);
  api.CrtWriteStdout(u"Install succeeded\n");
  api.CrtWriteStdout(u"Gr\u00fc\u00dfe\n");
  EXPECT_EQ(api.stdoutText(),
            "Install succeeded\nGr\xc3\xbc\xc3\x9f"
            "e\n");
  std::rewind(sink);
  char bytes[64] = {};
  const std::size_t read = std::fread(bytes, 1, sizeof bytes, sink);
  std::fclose(sink);
  EXPECT_EQ(std::string(bytes, read), api.stdoutText());
  EXPECT_EQ(api.TraceLines()[0], R"(CrtWriteStdout("Install succeeded\n") = void)");
}

TEST(SimCoreTest, TraceFileGetsOneLinePerCall) {
  SimMachine sim(kEnvironment);
  const std::filesystem::path file = sim.driveC().parent_path() / "trace.txt";
  std::ofstream(file) << "earlier run\n";
  {
    SimOptions options;
    options.traceFd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    SimWindows api(sim.machine(), options);
    HKEY key = nullptr;
    api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\Nothing", 0, KEY_READ, &key);
    WCHAR buffer[64];
    api.GetEnvironmentVariableW(u"NOPE", buffer, 64);
  }
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "earlier run\n"
            "RegOpenKeyExW(HKLM, \"SYSTEM\\Nothing\", 0, 0x20019) = 0x2\n"
            "GetEnvironmentVariableW(\"NOPE\", 64) = 0 (0xCB)\n");
}

TEST(SimCoreTest, TraceEntryLineAndTextHelpers) {
  EXPECT_EQ((TraceEntry{"RegCloseKey", "key#3", "0", ""}.Line()), "RegCloseKey(key#3) = 0");
  EXPECT_EQ((TraceEntry{"SetupDiRemoveDevice", "set#1[0]", "TRUE", "A\\B\\0"}.Line()),
            "SetupDiRemoveDevice(set#1[0]) = TRUE [A\\B\\0]");
  EXPECT_EQ(Hex(0), "0");
  EXPECT_EQ(Hex(0x12), "0x12");
  EXPECT_EQ(Hex(0xE0000204), "0xE0000204");
  EXPECT_EQ(Narrow(nullptr), "null");
  EXPECT_EQ(Narrow(u"LPT\u00e9"), "LPT\xc3\xa9");
}

TEST(SimCoreTest, ArmedFaultsCountMatchingCallsOnly) {
  SimMachine sim(kEnvironment);
  SimWindows& api = sim.api();
  // The second GetEnvironmentVariableW call that names ComSpec fails; others do not count.
  api.ArmFault({.api = "GetEnvironmentVariableW",
                .text = "comspec",
                .nth = 2,
                .status = ERROR_ACCESS_DENIED});
  api.ArmFault({.api = "GetVersionExW", .status = ERROR_INVALID_FUNCTION});
  WCHAR buffer[64];
  std::vector<DWORD> lengths;
  for (const char16_t* name : {u"ComSpec", u"SystemRoot", u"ComSpec", u"ComSpec"}) {
    lengths.push_back(api.GetEnvironmentVariableW(name, buffer, 64));
  }
  EXPECT_EQ(lengths, (std::vector<DWORD>{27, 10, 0, 27}));
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  EXPECT_FALSE(api.GetVersionExW(&version));
  EXPECT_EQ(api.GetLastError(), ERROR_INVALID_FUNCTION);
}

TEST(SimCoreTest, OpenHandlesAreCountedUntilClosed) {
  SimMachine sim("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum]\n");
  SimWindows& api = sim.api();
  HKEY key = nullptr;
  ASSERT_EQ(api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_READ, &key), 0);
  HDEVINFO set = api.SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  HCOMDB database = nullptr;
  ASSERT_EQ(api.ComDBOpen(&database), 0);
  EXPECT_EQ(api.OpenHandleCount(), 3u);
  for (void* handle : {static_cast<void*>(key), set, database}) {
    EXPECT_NE(handle, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
  }
  api.RegCloseKey(key);
  api.SetupDiDestroyDeviceInfoList(set);
  api.ComDBClose(database);
  EXPECT_EQ(api.OpenHandleCount(), 0u);
  EXPECT_EQ(sim.Calls({"ComDBOpen"}), std::vector<std::string>{"ComDBOpen() = 0 -> comdb#3"});
}

}  // namespace
}  // namespace winsim
