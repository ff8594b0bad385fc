// Bad machines. A machine whose files cannot be read stops every run before anything is done:
// exit status 125, one line on stderr naming the file (and the line), the machine untouched.
// A machine that reads but holds what no sound Windows would (values of the wrong type or size,
// missing keys, far too many ports, texts longer than every buffer) goes through every
// operation without a crash, with every handle closed and a registry that still reads back.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/hardening/hardening_support.h"
#include "tests/programs/program_runner.h"
#include "tests/support/hive_files.h"
#include "winsim/hive_format.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"

namespace hardening {
namespace {

namespace fs = std::filesystem;
using testing_support::ProgramSandbox;

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

// ---------------------------------------------------------------------------------------------
// Machines that cannot be read

struct UnreadableMachine {
  const char* name;
  std::string registryBytes;  // the bytes of registry.reg
  int line;                   // the line the message names, 0 for none
  const char* problem;        // a part of the message
};

// A key line `levels` keys deep below HKEY_LOCAL_MACHINE.
std::string DeepKey(std::size_t levels) {
  std::string line = "[HKEY_LOCAL_MACHINE";
  for (std::size_t i = 0; i < levels; ++i) {
    line += "\\k";
  }
  return line + "]\n";
}

// An image as regedit writes it (UTF-16LE with a BOM, CR LF) of `text`.
std::string Utf16Image(std::u16string_view text) {
  std::string bytes = "\xff\xfe";
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::vector<UnreadableMachine> UnreadableMachines() {
  const std::string key = std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n";
  return {
      {"513 levels of keys", kHeader + DeepKey(513), 3, "deeper than 512 levels"},
      {"15,000 levels of keys", kHeader + DeepKey(15000), 3, "deeper than 512 levels"},
      {"an overlong line feed in a key name",
       std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\a\xE0\x80\x8A"
                              "b]\n",
       3, "overlong"},
      {"an overlong two-byte form", key + "\"\xC0\x8A\"=\"x\"\n", 4, "overlong"},
      {"an encoded surrogate", key + "\"a\"=\"\xED\xA0\x80\"\n", 4, "surrogate"},
      {"a value above U+10FFFF", key + "\"a\"=\"\xF4\x90\x80\x80\"\n", 4, "above U+10FFFF"},
      {"an unpaired surrogate in a UTF-16 key name",
       Utf16Image(u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\\xD800]\r\n"),
       3, "unpaired surrogate"},
      {"no header", "[HKEY_LOCAL_MACHINE\\X]\n", 1, "first line"},
      {"empty file", "", 1, "first line"},
      {"binary", std::string("\x00\x01\x02\xff\n", 5), 1, "first line"},
      {"odd UTF-16", "\xff\xfeW\x00i", 0, "odd number of bytes"},
      {"unknown root", std::string(kHeader) + "[HKEY_NOWHERE\\X]\n", 3, "unknown root key"},
      {"empty key name", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\\\X]\n", 3, "empty key"},
      {"root deleted", std::string(kHeader) + "[-HKEY_LOCAL_MACHINE]\n", 3, "root key"},
      {"no closing bracket", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\X\n", 3, "']'"},
      {"value outside a key", std::string(kHeader) + "\"a\"=\"b\"\n", 3, "outside a key"},
      {"unknown escape", key + "\"a\"=\"\\q\"\n", 4, "escape"},
      {"unclosed quote", key + "\"a\"=\"text\n", 4, "closing quote"},
      {"dword too long", key + "\"a\"=dword:123456789\n", 4, "hex digits"},
      {"hex byte too long", key + "\"a\"=hex:01,234\n", 4, "two hex digits"},
      {"hex type without colon", key + "\"a\"=hex(2)01,00\n", 4, "hex(N):"},
      {"unknown data", key + "\"a\"=qword:1\n", 4, "unknown value data"},
      {"continuation at the end", key + "\"a\"=hex:01,\\", 4, "continuation"},
      {"continuation into nothing", key + "\"a\"=hex:01,\\\n", 5, "two hex digits"},
      {"text after a key", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\X] x\n", 3, "after"},
      {"bad line after good ones",
       winsim::SampleMachineImage() + "[HKEY_LOCAL_MACHINE\\X]\n\"a\"=\n", 0, "value data"},
  };
}

std::vector<fs::path> MachineEntries(const fs::path& dir) {
  std::vector<fs::path> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    names.push_back(entry.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(BadMachines, AnUnreadableImageStopsTheRunAndChangesNothing) {
  int tried = 0;
  for (const UnreadableMachine& bad : UnreadableMachines()) {
    SCOPED_TRACE(bad.name);
    ProgramSandbox box;
    fs::create_directories(box.machine() / "drive_c");
    std::ofstream(box.machine() / "registry.reg", std::ios::binary) << bad.registryBytes;
    const std::vector<fs::path> before = MachineEntries(box.machine());

    const auto result = box.Run(ORVCARD_OP_BIN, "0x4000");
    ++tried;
    EXPECT_EQ(result.status, 125);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    std::string where = "orvcard: " + (box.machine() / "registry.reg").string() + ":";
    if (bad.line > 0) {
      where += std::to_string(bad.line) + ":";
    }
    EXPECT_EQ(result.err.rfind(where, 0), 0u) << result.err;
    EXPECT_NE(result.err.find(bad.problem), std::string::npos) << result.err;
    EXPECT_EQ(box.ReadFile(box.machine() / "registry.reg"), bad.registryBytes);
    // Nothing was written beside it, apart from the lock file.
    std::vector<fs::path> after = MachineEntries(box.machine());
    std::erase(after, fs::path(".lock"));
    EXPECT_EQ(after, before);
  }
  std::printf("[ bad      ] %d unreadable machine images tried\n", tried);
}

TEST(BadMachines, AMachineDirectoryThatIsNoMachineStopsTheRunAndGetsNothingWritten) {
  struct Case {
    const char* name;
    void (*make)(const fs::path& machine);
    const char* problem;  // what follows "orvcard: <machine folder>"
  };
  const Case cases[] = {
      {"empty folder", [](const fs::path& m) { fs::create_directories(m); },
       ": holds no registry.reg: create a machine with winsim init DIR"},
      {"missing image", [](const fs::path& m) { fs::create_directories(m / "drive_c"); },
       ": holds no registry.reg: create a machine with winsim init DIR"},
      {"image is a folder", [](const fs::path& m) { fs::create_directories(m / "registry.reg"); },
       "/registry.reg: is a directory, not a file"},
      {"machine is a file", [](const fs::path& m) { std::ofstream(m) << "not a folder\n"; },
       ": is a file, not a machine folder"},
      {"image is a FIFO",
       [](const fs::path& m) {
         fs::create_directories(m / "drive_c");
         ASSERT_EQ(::mkfifo((m / "registry.reg").c_str(), 0644), 0);
       },
       "/registry.reg: is not a regular file (a FIFO or a device), not read"},
  };
  for (const Case& bad : cases) {
    SCOPED_TRACE(bad.name);
    ProgramSandbox box;
    bad.make(box.machine());
    const std::vector<fs::path> before =
        fs::is_directory(box.machine()) ? MachineEntries(box.machine()) : std::vector<fs::path>{};
    const auto result = box.Run(ORVCARD_BIN, "");
    EXPECT_EQ(result.status, 125);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "orvcard: " + box.machine().string() + bad.problem + "\n");
    if (fs::is_directory(box.machine())) {
      EXPECT_EQ(MachineEntries(box.machine()), before);  // no lock file, no temporary image
    } else {
      EXPECT_EQ(box.ReadFile(box.machine()), "not a folder\n");
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Hives that cannot be trusted

namespace hive = winsim::hive;
using testing_support::HiveBytes;

// The sample machine as an offline installation in `root`, with keys under SYSTEM\Odd for the
// rows to spoil: names, values, and 41 levels of keys "a", each with a sibling "b".
void MakeOfflineSample(const fs::path& root, bool compact) {
  std::string deep;
  std::string level = "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\Deep";
  for (int i = 0; i < 41; ++i, level += "\\a") {
    deep += level + "\\b]\n" + level + "\\a]\n";
  }
  const winsim::Registry registry = winsim::ParseRegImage(
      testing_support::OfflineImage(winsim::ParseRegImage(winsim::SampleMachineImage()), 1) + deep +
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\Names\\empty]\n" +
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\Names\\evil]..[x]\n" +
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\Names\\backXslash]\n" +
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\Odd\\Values]\n\"ComDB\"=dword:1\n\"xomdb\"=dword:2\n" +
      "\"Port\"=\"a\"\n\"PortXname\"=\"b\"\n\"data\"=hex:01,02,03,04,05,06,07,08\n");
  testing_support::MakeOfflineInstallation(root, registry, compact);
}

// Gives the key `to` the subkeys of `from`: their list, shared.
void ShareSubkeys(HiveBytes& system, std::u16string_view from, std::u16string_view to) {
  const auto source = system.Get<hive::KeyNode>(system.Key(from));
  auto nk = system.Get<hive::KeyNode>(system.Key(to));
  nk.subkeyCount = source.subkeyCount;
  nk.subkeyList = source.subkeyList;
  system.Set(system.Key(to), nk);
}

// Changes field `field` of the record of type T in the cell of key `path` (a value of the key
// with `value` >= 0).
template <typename T, typename Field>
void Patch(HiveBytes& system, std::u16string_view path, int value, Field T::*field, Field to) {
  const std::uint32_t key = system.Key(path);
  const std::uint32_t cell = value < 0 ? key : system.Value(key, static_cast<std::size_t>(value));
  T record = system.Get<T>(cell);
  record.*field = to;
  system.Set(cell, record);
}

// Overwrites the name of a key (`value` < 0) or of one of its values from byte `at` on.
void PatchName(HiveBytes& system, std::u16string_view path, int value, std::size_t at,
               std::string_view to) {
  const std::uint32_t key = system.Key(path);
  for (std::size_t i = 0; i < to.size(); ++i) {
    if (value < 0) {
      system.Set(key, to[i], sizeof(hive::KeyNode) + at + i);
    } else {
      system.Set(system.Value(key, static_cast<std::size_t>(value)), to[i],
                 sizeof(hive::ValueKey) + at + i);
    }
  }
}

struct UntrustedHive {
  const char* name;
  void (*spoil)(HiveBytes& system);
  const char* problem;  // a part of the message
};

const UntrustedHive kUntrustedHives[] = {
    {"a subkey list shared",
     [](HiveBytes& h) {
       ShareSubkeys(h, u"ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_PARPECP",
                    u"ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP");
     },
     "the subkey list of key \\ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP is reached a "
     "second time"},
    {"subkey lists shared at 40 levels (2^40 keys)",
     [](HiveBytes& h) {
       std::u16string level = u"Odd\\Deep";
       for (int i = 0; i < 40; ++i, level += u"\\a") {
         ShareSubkeys(h, level + u"\\a", level + u"\\b");
       }
     },
     "\\b is reached a second time"},
    {"an offset outside the bins",
     [](HiveBytes& h) { Patch(h, u"Odd\\Values", -1, &hive::KeyNode::valueList, 0x7FFFFFF8u); },
     "the value list of key \\Odd\\Values lies outside the hive's bins"},
    {"a flipped byte in a card node that the run deletes",
     [](HiveBytes& h) {
       Patch(h, u"ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0000", -1,
             &hive::KeyNode::className, 0x00FFFFFFu);
     },
     "the class name of key \\ControlSet001\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0000 lies "
     "outside"},
    {"an empty key name",
     [](HiveBytes& h) {
       Patch(h, u"Odd\\Names\\empty", -1, &hive::KeyNode::nameLength, std::uint16_t{0});
     },
     "key \\Odd\\Names\\ has an empty name"},
    {"a key name with CR LF",
     [](HiveBytes& h) { PatchName(h, u"Odd\\Names\\evil]..[x", -1, 5, "\r\n"); },
     "key \\Odd\\Names\\evil]\\r\\n[x has a name holding a line break"},
    {"a key name with a backslash",
     [](HiveBytes& h) { PatchName(h, u"Odd\\Names\\backXslash", -1, 4, "\\"); },
     "key \\Odd\\Names\\back\\slash has a name holding a backslash"},
    {"value names equal without regard to case",
     [](HiveBytes& h) { PatchName(h, u"Odd\\Values", 1, 0, "c"); },
     "key \\Odd\\Values holds two values named \"ComDB\" and \"comdb\""},
    {"value names equal up to a NUL",
     [](HiveBytes& h) { PatchName(h, u"Odd\\Values", 3, 4, std::string_view("", 1)); },
     "key \\Odd\\Values holds two values named \"Port\" and \"Port\\x00name\""},
    {"a key listing its parent",
     [](HiveBytes& h) {
       h.Set(h.Get<hive::KeyNode>(h.Key(u"Odd\\Deep\\a")).subkeyList, h.Key(u"Odd\\Deep"), 4);
     },
     "a subkey of key \\Odd\\Deep\\a is reached a second time"},
    {"a value count beyond its list",
     [](HiveBytes& h) { Patch(h, u"Odd\\Values", -1, &hive::KeyNode::valueCount, 7u); },
     "the value list of key \\Odd\\Values has room for 5 values, its key counts 7"},
    {"value data beyond its cell",
     [](HiveBytes& h) { Patch(h, u"Odd\\Values", 4, &hive::ValueKey::dataSize, 256u); },
     "the data of a value of key \\Odd\\Values (256 bytes) is larger than its cell"},
};

TEST(BadMachines, AnUntrustworthyHiveStopsTheRunAndGetsNothingWritten) {
  for (bool compact : {false, true}) {  // as hivex and as Windows lay it out, the sample passes
    ProgramSandbox box;
    MakeOfflineSample(box.machine(), compact);
    const auto result = box.Run(ORVCARD_BIN, "-RemoveDeviceNode");
    EXPECT_EQ(result.status, 0) << result.err;
  }
  for (const UntrustedHive& bad : kUntrustedHives) {
    SCOPED_TRACE(bad.name);
    ProgramSandbox box;
    MakeOfflineSample(box.machine(), true);
    const fs::path config = box.machine() / "Windows" / "System32" / "config";
    HiveBytes system(config / "SYSTEM");
    bad.spoil(system);
    system.Save();
    const std::string before = box.ReadFile(config / "SYSTEM");

    const auto result = box.Run(ORVCARD_BIN, "-RemoveDeviceNode");
    EXPECT_EQ(result.status, 125);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_TRUE(result.err.starts_with("orvcard: " + (config / "SYSTEM").string() + ": cell 0x"))
        << result.err;
    EXPECT_NE(result.err.find(bad.problem), std::string::npos) << result.err;
    EXPECT_EQ(box.ReadFile(config / "SYSTEM"), before);
    EXPECT_EQ(MachineEntries(config), (std::vector<fs::path>{"SOFTWARE", "SYSTEM"}));
  }
}

// ---------------------------------------------------------------------------------------------
// Machines that read but make no sense

constexpr const char* kSerial0 =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0000";
constexpr const char* kParallel0 =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_PARPECP\\0000";
constexpr const char* kParallelMap = "HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\PARALLEL PORTS";
constexpr const char* kComArbiter =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";
constexpr const char* kEnvironment =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr const char* kVersion =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kRecord =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "ORVEK Multi-I/O Card Driver";

// "name"=hex(type):bytes.
std::string HexValue(const std::string& name, unsigned type, const std::string& bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "=hex(%x):", type);
  std::string line = "\"" + name + "\"" + text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(text, sizeof text, "%s%02x", i == 0 ? "" : ",",
                  static_cast<unsigned char>(bytes[i]));
    line += text;
  }
  return line + "\n";
}

// The same with `count` copies of `byte`.
std::string HexValue(const std::string& name, unsigned type, std::size_t count, char byte = 'A') {
  return HexValue(name, type, std::string(count, byte));
}

// A REG_MULTI_SZ of ASCII texts.
std::string MultiText(const std::string& name, const std::vector<std::string>& texts) {
  std::string bytes;
  for (const std::string& text : texts) {
    for (char c : text + '\0') {
      bytes += std::string{c, '\0'};
    }
  }
  return HexValue(name, 7, bytes + std::string(2, '\0'));
}

std::string Key(const std::string& path, const std::string& values) {
  return "\n[" + path + "]\n" + values;
}

// "name"="text" with `text` of `length` copies of `c`.
std::string LongText(const std::string& name, std::size_t length, char c = 'X') {
  return "\"" + name + "\"=\"" + std::string(length, c) + "\"\n";
}

struct OddMachine {
  const char* name;
  std::string additions;  // .reg text applied over the sample machine
};

std::vector<OddMachine> OddMachines() {
  const std::string serialParameters = std::string(kSerial0) + "\\Device Parameters";
  const std::string parallelParameters = std::string(kParallel0) + "\\Device Parameters";
  std::string manyPorts;
  std::string manyMapValues;
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i + 10);
    manyPorts += Key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\"
                     "ORVPCARD_SERP\\1" +
                         n + "\\Device Parameters",
                     "\"PortName\"=\"COM" + std::to_string(250 + i) + "\"\n") +
                 Key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\"
                     "ORVPCARD_PARPECP\\1" +
                         n + "\\Control",
                     "");
    manyMapValues += "\"\\\\Device\\\\Parallel" + n + "\"=\"\\\\DosDevices\\\\LPT" + n + "\"\n";
  }
  std::string manyRecords;
  for (int i = 0; i < 30; ++i) {
    manyRecords += "\"DriverStorePath" + std::to_string(i) + "\"=\"C:\\\\nowhere\\\\" +
                   std::to_string(i) + ".inf\"\n";
  }
  return {
      {"PortName a number", Key(serialParameters, "\"PortName\"=dword:00000005\n") +
                                Key(parallelParameters, "\"PortName\"=dword:00000002\n")},
      {"PortName empty", Key(serialParameters, "\"PortName\"=\"\"\n") +
                             Key(parallelParameters, HexValue("PortName", 1, 0))},
      {"PortName without terminator, odd size", Key(serialParameters, HexValue("PortName", 1, 7))},
      {"PortName longer than its buffer",
       Key(serialParameters, HexValue("PortName", 1, 700, '9')) +
           Key(parallelParameters, LongText("PortName", 600, '7'))},
      {"PortName digits beyond 32 bits",
       Key(serialParameters, "\"PortName\"=\"COM99999999999\"\n") +
           Key(parallelParameters, "\"PortName\"=\"LPT-2147483649\"\n")},
      {"no Device Parameters", "\n[-" + serialParameters + "]\n\n[-" + parallelParameters + "]\n"},
      {"no HardwareID, bad Driver", Key(kSerial0, "\"HardwareID\"=-\n\"Driver\"=\"\"\n") +
                                        Key(kParallel0, "\"Driver\"=\"{nowhere}\\\\..\\\\..\"\n")},
      {"HardwareID a text, not a list", Key(kSerial0, "\"HardwareID\"=\"ORVPCARD_ENUM\\\\X\"\n")},
      {"friendly names longer than every buffer",
       Key(kSerial0, LongText("FriendlyName", 2000) + LongText("LocationInformation", 2000)) +
           Key(kParallel0, LongText("FriendlyName", 2000))},
      {"parallel map of the wrong types",
       Key(kParallelMap, "\"\\\\Device\\\\Parallel0\"=dword:00000001\n" +
                             HexValue("\\\\Device\\\\Parallel1", 3, 3) +
                             HexValue("\\\\Device\\\\Parallel2", 1, 1000, '1'))},
      {"parallel map of fifty values", Key(kParallelMap, manyMapValues) + manyPorts},
      {"parallel map gone", "\n[-" + std::string(kParallelMap) + "]\n"},
      {"parallel map with a long name", Key(kParallelMap, "@=\"\"\n" + LongText("N", 700))},
      {"COM database empty", Key(kComArbiter, "\"ComDB\"=hex:\n")},
      {"COM database one byte", Key(kComArbiter, "\"ComDB\"=hex:ff\n")},
      {"COM database a text", Key(kComArbiter, "\"ComDB\"=\"COM1\"\n")},
      {"COM database gone", "\n[-" + std::string(kComArbiter) + "]\n"},
      {"COM database of 8192 bytes", Key(kComArbiter, HexValue("ComDB", 3, 8192, '\xff'))},
      {"no version", "\n[-" + std::string(kVersion) + "]\n"},
      {"version of the wrong types",
       Key(kVersion,
           "\"CurrentVersion\"=dword:00000006\n\"CurrentMajorVersionNumber\"=hex(4):0a\n"
           "\"CurrentMinorVersionNumber\"=\"x\"\n\"CurrentBuildNumber\"=\"\"\n" +
               LongText("CSDVersion", 500))},
      {"unknown product and processor",
       Key("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
           "\"ProductType\"=dword:00000002\n") +
           Key(kEnvironment, "\"PROCESSOR_ARCHITECTURE\"=\"MIPS\"\n")},
      {"no environment", "\n[-" + std::string(kEnvironment) + "]\n"},
      {"environment longer than every buffer",
       Key(kEnvironment, LongText("ComSpec", 1000) + LongText("SystemRoot", 1000) +
                             LongText("SystemDrive", 600) + LongText("Path", 4000, ';') +
                             LongText("PATHEXT", 300, '.'))},
      {"environment naming missing programs",
       Key(kEnvironment,
           "\"ComSpec\"=\"C:\\\\nowhere\\\\cmd.exe\"\n\"Path\"=\"\"\n"
           "\"SystemRoot\"=\"C:\\\\NoWindows\"\n")},
      {"records of every shape",
       Key(kRecord, manyRecords + "\"DriverStorePath30\"=dword:00000001\n" +
                        LongText("DriverStorePath31", 1000) + HexValue("DriverStorePath32", 1, 9) +
                        "\"DriverStorePath33\"=\"\"\n")},
      {"record key with subkeys only", Key(std::string(kRecord) + "\\Sub", "\"x\"=\"y\"\n")},
      {"device calls failing for a port, from the image",
       Key(kSerial0, MultiText("SimulateFailure",
                               {"SetupDiOpenDevRegKey", "SetupDiGetDeviceRegistryPropertyW",
                                "SetupDiSetDeviceRegistryPropertyW", "SetupDiCallClassInstaller",
                                "SetupDiRemoveDevice", "SetupDiDeleteDevRegKey"})) +
           Key(kParallel0, MultiText("SimulateFailure", {"SetupDiEnumDeviceInfo", ""}))},
  };
}

TEST(BadMachines, OddButReadableMachinesGoThroughEveryOperation) {
  int tried = 0;
  int runs = 0;
  for (const OddMachine& odd : OddMachines()) {
    ++tried;
    for (orv::DWORD code : kOperationCodes) {
      SCOPED_TRACE(std::string(odd.name) + ", operation " + std::to_string(code));
      auto sim = RepresentativeMachine(Start::kSample);
      // The additions are read over the sample, as a second image imported into the machine.
      winsim::ReadRegImage(kHeader + odd.additions, sim->registry());
      RunCode(*sim, code);
      ++runs;
      EXPECT_EQ(MachineProblems(*sim), "");
    }
  }
  std::printf("[ bad      ] %d odd machines tried, %d runs\n", tried, runs);
}

}  // namespace
}  // namespace hardening
