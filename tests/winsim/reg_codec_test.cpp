#include "winsim/reg_codec.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/text.h"
#include "platform/win_types.h"
#include "tests/support/sim_fixture.h"
#include "winsim/reg_data.h"

namespace winsim {
namespace {

using testing_support::DumpRegistry;

using Bytes = std::vector<std::uint8_t>;
using namespace std::literals;

Bytes Utf16(std::u16string_view text, std::size_t terminators = 1) {
  Bytes data;
  for (char16_t c : text) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  data.insert(data.end(), terminators * 2, 0);
  return data;
}

Bytes Padded(std::u16string_view text, std::size_t size) {
  Bytes data = Utf16(text);
  data.resize(size, 0);
  return data;
}

// The UTF-16LE file that regedit writes for `text` (LF line ends become CR LF).
std::string AsRegeditFile(std::string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : orv::Utf8ToUtf16(text)) {
    if (c == u'\n') {
      bytes += std::string_view("\r\0", 2);
    }
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

const RegValue& ValueAt(const Registry& registry, std::u16string_view key,
                        std::u16string_view name) {
  const RegKey* found = registry.OpenFull(key);
  if (found == nullptr || found->FindValue(name) == nullptr) {
    throw std::runtime_error("missing value " + orv::Utf16ToUtf8(name));
  }
  return *found->FindValue(name);
}

Bytes DataAt(const Registry& registry, std::u16string_view key, std::u16string_view name) {
  return testing_support::BytesOf(ValueAt(registry, key, name).data());
}

struct ValueCase {
  const char* what;
  std::u16string name;
  std::uint32_t type;
  Bytes data;
  std::string line;  // the canonical line, or its beginning when it is continued
};

std::vector<ValueCase> ValueCases() {
  Bytes kilobyte(1000);
  for (std::size_t i = 0; i < kilobyte.size(); ++i) {
    kilobyte[i] = static_cast<std::uint8_t>(i * 7);
  }
  return {
      {"plain text", u"Text", orv::REG_SZ, Utf16(u"C:\\Program Files\\\"x\""),
       R"("Text"="C:\\Program Files\\\"x\"")"},
      {"empty text", u"Empty", orv::REG_SZ, Utf16(u""), R"("Empty"="")"},
      {"non-ASCII text", u"Gr\u00fc\u00dfe", orv::REG_SZ, Utf16(u"\u00e9\u4e2d\U0001F600"),
       "\"Gr\xC3\xBC\xC3\x9F"
       "e\"=\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\""},
      {"default value", u"", orv::REG_SZ, Utf16(u"x"), R"(@="x")"},
      {"260-byte map value", u"\\Device\\Parallel1", orv::REG_SZ,
       Padded(u"\\DosDevices\\LPT2", 260), R"("\\Device\\Parallel1"=hex(1):5c,00,44,00,)"},
      {"522-byte store path", u"DriverStorePath0", orv::REG_SZ,
       Padded(u"C:\\Windows\\System32\\DriverStore\\FileRepository\\a.inf_1\\a.inf", 522),
       R"("DriverStorePath0"=hex(1):43,00,3a,00,)"},
      {"text of odd length", u"Odd", orv::REG_SZ, {0x41, 0x00, 0x42}, R"("Odd"=hex(1):41,00,42)"},
      {"text without terminator", u"Bare", orv::REG_SZ, {0x41, 0x00}, R"("Bare"=hex(1):41,00)"},
      {"text of no bytes", u"None", orv::REG_SZ, {}, R"("None"=hex(1):)"},
      {"text with a NUL inside", u"Nul", orv::REG_SZ, Utf16(u"a\0b"sv, 1),
       R"("Nul"=hex(1):61,00,00,00,62,00,00,00)"},
      {"text with two terminators", u"Two", orv::REG_SZ, Utf16(u"a", 2),
       R"("Two"=hex(1):61,00,00,00,00,00)"},
      {"text with a line break", u"Break", orv::REG_SZ, Utf16(u"a\nb"),
       R"("Break"=hex(1):61,00,0a,00,62,00,00,00)"},
      {"text with an unpaired surrogate", u"Lone", orv::REG_SZ, Utf16(u"\xD800z"),
       R"("Lone"=hex(1):00,d8,7a,00,00,00)"},
      {"expandable text", u"Path", orv::REG_EXPAND_SZ, Utf16(u"%A%"),
       R"("Path"=hex(2):25,00,41,00,25,00,00,00)"},
      {"text list", u"HardwareID", orv::REG_MULTI_SZ, Utf16(u"a\0b"sv, 2),
       R"("HardwareID"=hex(7):61,00,00,00,62,00,00,00,00,00)"},
      {"dword",
       u"RestartCount",
       orv::REG_DWORD,
       {0x2a, 0x01, 0x00, 0xff},
       R"("RestartCount"=dword:ff00012a)"},
      {"dword of 3 bytes", u"Short", orv::REG_DWORD, {1, 2, 3}, R"("Short"=hex(4):01,02,03)"},
      {"dword of no bytes", u"Nothing", orv::REG_DWORD, {}, R"("Nothing"=hex(4):)"},
      {"qword",
       u"Q",
       orv::REG_QWORD,
       {1, 2, 3, 4, 5, 6, 7, 8},
       R"("Q"=hex(b):01,02,03,04,05,06,07,08)"},
      {"none, empty", u"N0", orv::REG_NONE, {}, R"("N0"=hex(0):)"},
      {"none with data", u"N1", orv::REG_NONE, {0xab}, R"("N1"=hex(0):ab)"},
      {"binary, empty", u"B0", orv::REG_BINARY, {}, R"("B0"=hex:)"},
      {"binary, long", u"B1", orv::REG_BINARY, kilobyte, R"("B1"=hex:00,07,0e,15,)"},
      {"arbitrary type", u"T", 0x100000, {9}, R"("T"=hex(100000):09)"},
      {"largest type", u"Max", 0xffffffff, {9, 8}, R"("Max"=hex(ffffffff):09,08)"},
      // The quote after a 4-byte character that fills the writer's buffer to its last byte.
      {"name ending in a 4-byte character at 252 bytes",
       std::u16string(251, u'a') + u"\U0001F600",
       orv::REG_BINARY,
       {1},
       "\"" + std::string(251, 'a') + "\xF0\x9F\x98\x80\"=hex:01"},
      {"name with escapes",
       std::u16string(u"a\"b\\c\0d"sv),
       orv::REG_BINARY,
       {1},
       R"("a\"b\\c\0d"=hex:01)"},
  };
}

TEST(RegCodecTest, EveryValueRoundTripsByteForByte) {
  Registry registry;
  RegKey& key = Registry::Create(registry.HKLM(), u"SOFTWARE\\Values");
  for (const ValueCase& c : ValueCases()) {
    key.SetValue(c.name, c.type, c.data);
  }
  const std::string canonical = WriteRegImage(registry);
  for (const ValueCase& c : ValueCases()) {
    EXPECT_NE(canonical.find("\n" + c.line), std::string::npos) << c.what << "\n" << canonical;
  }

  for (const std::string& image : {canonical, WriteRegImageUtf16(registry)}) {
    const Registry parsed = ParseRegImage(image);
    EXPECT_EQ(DumpRegistry(parsed), DumpRegistry(registry));
    for (const ValueCase& c : ValueCases()) {
      const RegValue& value = ValueAt(parsed, u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Values", c.name);
      EXPECT_EQ(value.name(), c.name) << c.what;
      EXPECT_EQ(value.type(), c.type) << c.what;
      EXPECT_EQ(testing_support::BytesOf(value.data()), c.data) << c.what;
    }
    EXPECT_EQ(WriteRegImage(parsed), canonical);
  }
}

TEST(RegCodecTest, CanonicalFormIsOrderedAndStable) {
  Registry registry;
  RegKey& hklm = registry.HKLM();
  Registry::Create(hklm, u"SYSTEM\\b");
  RegKey& upper = Registry::Create(hklm, u"SYSTEM\\A");
  upper.SetValue(u"z", orv::REG_DWORD, Bytes{1, 0, 0, 0});
  upper.SetValue(u"a", orv::REG_SZ, Utf16(u"first"));
  Registry::Create(hklm, u"SYSTEM\\c d");
  Registry::Create(*registry.Root(u"HKEY_USERS"), u".DEFAULT");

  const std::string expected =
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE]\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM]\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\A]\n"
      "\"z\"=dword:00000001\n"
      "\"a\"=\"first\"\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\b]\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\c d]\n"
      "\n"
      "[HKEY_USERS]\n"
      "\n"
      "[HKEY_USERS\\.DEFAULT]\n"
      "\n";
  EXPECT_EQ(WriteRegImage(registry), expected);
  EXPECT_EQ(WriteRegImage(ParseRegImage(expected)), expected);
  EXPECT_EQ(WriteRegImageUtf16(registry), AsRegeditFile(expected));
}

TEST(RegCodecTest, LongHexDataIsWrappedWithinEightyColumns) {
  Registry registry;
  Registry::Create(registry.HKLM(), u"K").SetValue(u"Blob", orv::REG_BINARY, Bytes(300, 0x5a));
  const std::string image = WriteRegImage(registry);
  std::istringstream lines(image);
  int continued = 0;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_LE(line.size(), 80u) << line;
    if (line.starts_with("  5a")) {
      ++continued;
    }
  }
  EXPECT_GE(continued, 10);
  EXPECT_EQ(DataAt(ParseRegImage(image), u"HKLM\\K", u"Blob"), Bytes(300, 0x5a));
}

TEST(RegCodecTest, ReadsRegeditUtf16Export) {
  const std::string file = AsRegeditFile(
      "Windows Registry Editor Version 5.00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\PARALLEL PORTS]\n"
      "\"\\\\Device\\\\Parallel0\"=\"\\\\DosDevices\\\\LPT1\"\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0000]\n"
      "\"HardwareID\"=hex(7):4f,00,52,00,56,00,50,00,43,00,41,00,52,00,44,00,5f,00,45,\\\n"
      "  00,4e,00,55,00,4d,00,00,00,00,00\n"
      "\"Count\"=dword:00000010\n"
      "\"Caf\xC3\xA9\"=\"\xE2\x82\xAC\"\n"
      "\"\xE0\xA8\x8A\xC4\x80\"=\"\xC4\x8A\"\n"  // U+0A0A, U+0100, U+010A: bytes 0a 0a 00 01
      "\n");
  std::istringstream stream(file);
  Registry streamed;
  ReadRegImage(stream, streamed);
  const Registry registry = ParseRegImage(file);
  EXPECT_EQ(WriteRegImage(streamed), WriteRegImage(registry));
  EXPECT_EQ(
      DataAt(registry, u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0000",
             u"\u0a0a\u0100"),
      Utf16(u"\u010a"));
  EXPECT_EQ(DataAt(registry, u"HKLM\\HARDWARE\\DEVICEMAP\\PARALLEL PORTS", u"\\Device\\Parallel0"),
            Utf16(u"\\DosDevices\\LPT1"));
  const std::u16string instance =
      u"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM\\ORVPCARD_SERP\\0000";
  EXPECT_EQ(DataAt(registry, instance, u"HardwareID"), Utf16(u"ORVPCARD_ENUM", 2));
  EXPECT_EQ(ValueAt(registry, instance, u"HardwareID").type(), orv::REG_MULTI_SZ);
  EXPECT_EQ(DataAt(registry, instance, u"Count"), (Bytes{0x10, 0, 0, 0}));
  EXPECT_EQ(DataAt(registry, instance, u"Caf\u00e9"), Utf16(u"\u20ac"));
}

TEST(RegCodecTest, ReadsUtf8WithAndWithoutByteOrderMark) {
  const std::string text =
      "Windows Registry Editor Version "
      "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"v\"=\"\xC3\xA9\"\r\n";
  for (const std::string& image : {text, "\xEF\xBB\xBF" + text}) {
    EXPECT_EQ(DataAt(ParseRegImage(image), u"HKLM\\K", u"v"), Utf16(u"\u00e9"));
  }
}

TEST(RegCodecTest, ReadsRegedit4AsSingleByteText) {
  // REGEDIT4 files are ANSI, read in Windows-1252 even where the bytes would be UTF-8 (0x80 is
  // the euro sign, the undefined 0x81 and 0x9D stay control characters), and the string types in
  // hex form hold one byte per character.
  const std::string image =
      "REGEDIT4\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Old]\r\n"
      "\"Name\"=\"Caf\xE9 \x80\x81\x8A\x9D\x9F\"\r\n"
      "\"Utf8\"=\"\xC3\xA9\"\r\n"
      "\"Expand\"=hex(2):25,41,80,25,00\r\n"
      "\"List\"=hex(7):61,00,62,00,00\r\n"
      "\"Raw\"=hex:25,41\r\n"
      "@=dword:00000002\r\n";
  const Registry registry = ParseRegImage(image);
  const std::u16string key = u"HKLM\\SOFTWARE\\Old";
  EXPECT_EQ(DataAt(registry, key, u"Name"), Utf16(u"Caf\u00e9 \u20ac\u0081\u0160\u009d\u0178"));
  EXPECT_EQ(DataAt(registry, key, u"Utf8"), Utf16(u"\u00c3\u00a9"));
  EXPECT_EQ(ValueAt(registry, key, u"Expand").type(), orv::REG_EXPAND_SZ);
  EXPECT_EQ(DataAt(registry, key, u"Expand"), Utf16(u"%A\u20ac%"));
  // A version 5 file without BOM that is not UTF-8 is ANSI too.
  EXPECT_EQ(DataAt(ParseRegImage("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n"
                                 "\"v\"=\"\x80\"\n"),
                   u"HKLM\\K", u"v"),
            Utf16(u"\u20ac"));
  EXPECT_EQ(DataAt(registry, key, u"List"), Utf16(u"a\0b"sv, 2));
  EXPECT_EQ(DataAt(registry, key, u"Raw"), (Bytes{0x25, 0x41}));
  EXPECT_EQ(DataAt(registry, key, u""), (Bytes{2, 0, 0, 0}));
}

TEST(RegCodecTest, ControlSetsLoadAsALinkAndKeepTheirForm) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n";
  const std::string system = "[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\SYSTEM]\n\n";
  const std::string set1 =
      "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001]\n\"Old\"=dword:00000001\n\n";
  const auto set = [](const std::string& name, const std::string& value) {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\" + name + "]\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\" + name +
           "\\Enum]\n\"v\"=\"" + value + "\"\n\n";
  };
  const auto select = [](int current) {
    return "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=dword:0000000" +
           std::to_string(current) + "\n\n";
  };
  struct Case {
    const char* what;
    std::string image;
    bool linked;
    std::string canonical;  // after writing "w" through CurrentControlSet
  };
  const Case cases[] = {
      {"both trees",
       header + set1 + set("ControlSet002", "2") + set("CurrentControlSet", "2") + select(2), true,
       header + system + set1 + set("ControlSet002", "2\"\n\"w\"=\"new") +
           set("CurrentControlSet", "2\"\n\"w\"=\"new") + select(2)},
      {"a copy that differs is read through the link",
       header + set1 + set("ControlSet002", "2") + set("currentcontrolset", "copy") + select(2),
       true,
       header + system + set1 + set("ControlSet002", "copy\"\n\"w\"=\"new") +
           set("currentcontrolset", "copy\"\n\"w\"=\"new") + select(2)},
      {"control set only", header + set("ControlSet002", "2") + select(2) + set1, true,
       header + system + set1 + set("ControlSet002", "2\"\n\"w\"=\"new") + select(2)},
      {"current control set only", header + set("CurrentControlSet", "2"), false,
       header + system + set("CurrentControlSet", "2\"\n\"w\"=\"new")},
      {"Select names a missing set", header + set1 + set("CurrentControlSet", "2") + select(3),
       false, header + system + set1 + set("CurrentControlSet", "2\"\n\"w\"=\"new") + select(3)},
  };
  for (const Case& c : cases) {
    Registry registry = ParseRegImage(c.image);
    RegKey& hklm = registry.HKLM();
    RegKey* current = Registry::Open(hklm, u"SYSTEM\\CurrentControlSet\\Enum");
    ASSERT_NE(current, nullptr) << c.what;
    EXPECT_EQ(current == Registry::Open(hklm, u"SYSTEM\\ControlSet002\\Enum"), c.linked) << c.what;
    Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Enum")
        .SetValue(u"w", orv::REG_SZ, Utf16(u"new"));
    EXPECT_EQ(WriteRegImage(registry), c.canonical) << c.what;
    EXPECT_EQ(WriteRegImage(ParseRegImage(c.canonical)), c.canonical) << c.what;
  }

  // The link goes with its target; deleting the link leaves the target.
  Registry registry = ParseRegImage(cases[0].image);
  RegKey& system2 = *registry.HKLM().FindSubkey(u"SYSTEM");
  EXPECT_TRUE(system2.DeleteSubkeyTree(u"CurrentControlSet"));
  EXPECT_NE(system2.FindSubkey(u"ControlSet002"), nullptr);
  registry.LinkControlSet();
  EXPECT_TRUE(system2.DeleteSubkeyTree(u"controlset002"));
  EXPECT_EQ(system2.FindSubkey(u"CurrentControlSet"), nullptr);
  EXPECT_EQ(WriteRegImage(registry), header + system + set1 + select(2));
}

TEST(RegCodecTest, AcceptsCommentsBlankLinesAndLooseSpacing) {
  const std::string image =
      "Windows Registry Editor Version 5.00\n"
      "; a comment\n"
      "   ; an indented comment ending in a backslash \\\n"
      "\n"
      "  [hkey_local_machine\\Software\\K]  \n"
      "\"a\" = \"x\"\t\n"
      "\"b\"=HEX( 3 ):01, 02 ,03\n"
      "\"c\"=hex:  0a,\\\n"
      "\t0b,\\\n"
      "      c\n"
      "\"d\"=DWORD:1\n";
  EXPECT_THROW(ParseRegImage(image), RegFormatError);  // "hex( 3 )" is not a type number
  std::string fixed = image;
  fixed.replace(fixed.find("HEX( 3 )"), 8, "HEX(3)");
  const Registry registry = ParseRegImage(fixed);
  const std::u16string key = u"HKLM\\SOFTWARE\\K";
  EXPECT_EQ(DataAt(registry, key, u"a"), Utf16(u"x"));
  EXPECT_EQ(DataAt(registry, key, u"b"), (Bytes{1, 2, 3}));
  EXPECT_EQ(DataAt(registry, key, u"c"), (Bytes{0x0a, 0x0b, 0x0c}));
  EXPECT_EQ(DataAt(registry, key, u"d"), (Bytes{1, 0, 0, 0}));
  EXPECT_EQ(registry.OpenFull(key)->Path(), u"HKEY_LOCAL_MACHINE\\Software\\K");
}

TEST(RegCodecTest, DeletesKeysAndValues) {
  const std::string image =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n"
      "\"keep\"=\"1\"\n"
      "[HKEY_LOCAL_MACHINE\\A\\Other]\n"
      "\"gone\"=\"1\"\n"
      "\"stay\"=\"2\"\n"
      "[-HKEY_LOCAL_MACHINE\\a\\b]\n"
      "[-HKEY_LOCAL_MACHINE\\A\\Missing\\Deeper]\n"
      "[HKEY_LOCAL_MACHINE\\A\\Other]\n"
      "\"GONE\"=-\n"
      "\"never\"=-\n";
  const Registry registry = ParseRegImage(image);
  EXPECT_EQ(registry.OpenFull(u"HKLM\\A\\B"), nullptr);
  EXPECT_NE(registry.OpenFull(u"HKLM\\A"), nullptr);
  const RegKey* other = registry.OpenFull(u"HKLM\\A\\Other");
  ASSERT_NE(other, nullptr);
  ASSERT_EQ(other->values().size(), 1u);
  EXPECT_EQ(other->values()[0].name(), u"stay");
}

TEST(RegCodecTest, ReportsTheLineOfEachMalformedEntry) {
  const std::string header = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n";
  struct Case {
    const char* what;
    std::string image;
    int line;
  };
  const Case cases[] = {
      {"no header", "[HKEY_LOCAL_MACHINE\\K]\n", 1},
      {"empty file", "", 1},
      {"wrong version", "Windows Registry Editor Version 4.00\n", 1},
      {"value before any key", "Windows Registry Editor Version 5.00\n\n\"a\"=\"b\"\n", 3},
      {"value after a key deletion", header + "[-HKEY_LOCAL_MACHINE\\K]\n\"a\"=\"b\"\n", 5},
      {"unknown root", header + "[HKEY_NOWHERE\\K]\n", 4},
      {"key without ]", header + "[HKEY_LOCAL_MACHINE\\K\n", 4},
      {"text after ]", header + "[HKEY_LOCAL_MACHINE\\K] x\n", 4},
      {"empty key name", header + "[HKEY_LOCAL_MACHINE\\\\K]\n", 4},
      {"root deletion", header + "[-HKEY_LOCAL_MACHINE]\n", 4},
      {"stray text", header + "hello\n", 4},
      {"missing =", header + "\"a\" \"b\"\n", 4},
      {"unterminated name", header + "\"a=\"b\n", 4},
      {"unterminated text", header + "\"a\"=\"b\n", 4},
      {"unknown escape", header + "\"a\"=\"b\\q\"\n", 4},
      {"text after a string", header + "\"a\"=\"b\" c\n", 4},
      {"text after -", header + "\"a\"=- x\n", 4},
      {"unknown data form", header + "\"a\"=word:1\n", 4},
      {"dword of nine digits", header + "\"a\"=dword:000000001\n", 4},
      {"dword without digits", header + "\"a\"=dword:\n", 4},
      {"dword not hex", header + "\"a\"=dword:0000000g\n", 4},
      {"hex byte not hex", header + "\"a\"=hex:0g\n", 4},
      {"hex byte of three digits", header + "\"a\"=hex:123\n", 4},
      {"empty hex byte", header + "\"a\"=hex:01,,02\n", 4},
      {"bad hex type", header + "\"a\"=hex(zz):01\n", 4},
      {"hex type too large", header + "\"a\"=hex(100000000):01\n", 4},
      {"hex( without :", header + "\"a\"=hex(2)01\n", 4},
      {"bad byte on a continuation line", header + "\"a\"=hex:01,\\\n  02,\\\n  0x\n\"b\"=\"c\"\n",
       6},
      {"continuation at the end", header + "\"a\"=hex:01,\\", 4},
      {"UTF-16 of odd length", std::string("\xFF\xFE\x57", 3), 0},
      {"line break in a value name", header + "\"a\\nb\"=dword:1\n", 4},
      {"NUL in a key name", header + "[HKEY_LOCAL_MACHINE\\a"s + '\0' + "b]\n", 4},
  };
  for (const Case& c : cases) {
    try {
      ParseRegImage(c.image);
      ADD_FAILURE() << c.what << ": accepted";
    } catch (const RegFormatError& error) {
      EXPECT_EQ(error.line(), c.line) << c.what << ": " << error.what();
      EXPECT_NE(std::string(error.what()), "") << c.what;
    }
  }
}

// A name the image cannot hold (it would read back as something else, or not at all) is never
// written: the writer refuses before it hands over any text.
TEST(RegCodecTest, NamesTheImageCannotHoldAreNeverWritten) {
  struct Case {
    std::u16string key;    // below HKEY_LOCAL_MACHINE\SOFTWARE
    std::u16string value;  // a value of that key
    const char* problem;
  };
  const Case cases[] = {
      {u"evil]\r\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n[HKEY_LOCAL_MACHINE\\SYSTEM\\x", u"",
       "key HKEY_LOCAL_MACHINE\\SOFTWARE\\evil]\\r\\n[-HKEY_LOCAL_MACHINE\\SOFTWARE]\\r\\n"},
      {u"back\\slash", u"", "a backslash"},
      {u"", u"", "empty key name"},
      {u"a\0b"s, u"", "NUL"},
      {u"fine", u"a\rb", "value \"a\\rb\" of HKEY_LOCAL_MACHINE\\SOFTWARE\\fine: a value name"},
  };
  for (const Case& c : cases) {
    Registry registry;
    RegKey& key = registry.HKLM().CreateSubkey(u"SOFTWARE").CreateSubkey(c.key);
    key.SetValue(c.value, orv::REG_DWORD, DwordData(1));
    std::string written;
    try {
      WriteRegImageUtf16(registry, [&](std::string_view piece) { written += piece; });
      ADD_FAILURE() << c.problem << ": written";
    } catch (const RegFormatError& error) {
      EXPECT_NE(std::string(error.what()).find(c.problem), std::string::npos) << error.what();
      EXPECT_EQ(std::string(error.what()).find_first_of("\r\n"), std::string::npos);
    }
    EXPECT_EQ(written, "") << c.problem;
  }
}

TEST(RegCodecTest, ReadingIntoAnExistingRegistryMerges) {
  Registry registry;
  Registry::Create(registry.HKLM(), u"K").SetValue(u"first", orv::REG_SZ, Utf16(u"1"));
  ReadRegImage(
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\K]\n\"second\"=\"2\"\n"
      "\"FIRST\"=dword:00000003\n",
      registry);
  const RegKey* key = registry.OpenFull(u"HKLM\\K");
  ASSERT_EQ(key->values().size(), 2u);
  EXPECT_EQ(key->values()[0].name(), u"first");  // replaced in place, name kept
  EXPECT_EQ(key->values()[0].type(), orv::REG_DWORD);
  EXPECT_EQ(key->values()[1].name(), u"second");
}

}  // namespace
}  // namespace winsim
