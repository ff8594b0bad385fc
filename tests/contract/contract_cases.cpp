#include "tests/contract/contract_cases.h"

#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace contract {

using namespace orv;

namespace {

// Where Wine's Win32 backend does not do what Windows documents, and why. A case listed here
// must fail under Wine (else the list is out of date); it must hold on the simulated machine.
struct WineDifference {
  const char* name;
  const char* reason;
};
constexpr WineDifference kWineDifferences[] = {
    {"SetupDiSetClassInstallParamsW, SetupDiCallClassInstaller: a property-change restart",
     "Wine's SetupDiSetClassInstallParamsW is a stub that returns FALSE, so no restart follows"},
    {"SetupDiSetClassInstallParamsW wrong header size: ERROR_INVALID_USER_BUFFER",
     "Wine's SetupDiSetClassInstallParamsW is a stub: FALSE without a last error"},
    {"SetupDiSetDeviceRegistryPropertyW location of a device without one",
     "Wine stores an empty value where Windows clears the property for a null buffer of size 0 "
     "(documented: the property is deleted), so a later read needs a buffer instead of finding "
     "no property"},
    {"SetupDiGetDeviceRegistryPropertyW class GUID",
     "Wine writes the class GUID from its device record in upper case; the property is the "
     "ClassGUID value as stored, lower case here"},
    {"SetupDiGetDeviceRegistryPropertyW unknown property code: ERROR_INVALID_REG_PROPERTY",
     "Wine returns FALSE without a last error for a property code it does not know"},
    {"GetVersionExW record size 0: ERROR_INSUFFICIENT_BUFFER",
     "Wine's GetVersionExW returns FALSE without setting the last error; Windows sets "
     "ERROR_INSUFFICIENT_BUFFER, as Wine's own conformance test of GetVersionEx expects"},
};

// What a case checks, failure by failure.
class Check {
 public:
  Check(WindowsApi& api, Target target) : api(api), target(target) {}

  void Eq(std::string_view what, unsigned long long actual, unsigned long long expected) {
    if (actual != expected) {
      Fail(std::string(what) + " " + std::to_string(actual) + ", expected " +
           std::to_string(expected));
    }
  }
  void Text(std::string_view what, std::u16string_view actual, std::u16string_view expected) {
    if (actual != expected) {
      Fail(std::string(what) + " \"" + Utf16ToUtf8(actual) + "\", expected \"" +
           Utf16ToUtf8(expected) + "\"");
    }
  }
  // Without regard to letter case (Wine spells C:\windows in lower case).
  void TextNoCase(std::string_view what, std::u16string_view actual, std::u16string_view expected) {
    if (FoldCase(actual) != FoldCase(expected)) {
      Text(what, actual, expected);
    }
  }
  void True(std::string_view what, bool condition) {
    if (!condition) {
      Fail(std::string(what));
    }
  }
  // The result of a call and the last error it left.
  void Error(std::string_view what, unsigned long long returned, unsigned long long expected,
             DWORD expectedError) {
    const DWORD error = api.GetLastError();
    Eq(std::string(what) + " returned", returned, expected);
    Eq(std::string(what) + " last error", error, expectedError);
  }
  void Fail(const std::string& message) { failure += failure.empty() ? message : "; " + message; }

  WindowsApi& api;
  Target target;
  std::string failure;

 private:
  static std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& c : folded) {
      if (c >= u'a' && c <= u'z') {
        c = static_cast<char16_t>(c - u'a' + u'A');
      }
    }
    return folded;
  }
};

struct Case {
  std::string name;
  std::function<void(Check&)> run;
};

constexpr const WCHAR* kRoot = u"SOFTWARE\\ORVEK Contract";
constexpr DWORD kTextBytes = 10;  // "LPT3" and its terminator

// The fixture's key, open for all access; null (and a failure) when it does not open.
HKEY OpenRoot(Check& c) {
  HKEY key = nullptr;
  c.Eq("opening the fixture key",
       static_cast<DWORD>(c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_ALL_ACCESS, &key)),
       ERROR_SUCCESS);
  return key;
}

// Runs `body` with the fixture key open, and closes it.
std::function<void(Check&)> WithRoot(std::function<void(Check&, HKEY)> body) {
  return [body](Check& c) {
    HKEY root = OpenRoot(c);
    if (root != nullptr) {
      body(c, root);
      c.api.RegCloseKey(root);
    }
  };
}

// A registry query of a fixture value into a buffer of `bytes` (null when kNoBuffer).
constexpr DWORD kNoBuffer = 0xFFFFFFFF;
struct QueryCase {
  const char* name;
  const WCHAR* value;
  DWORD bytes;
  LONG status;
  DWORD type;
  DWORD size;
  const BYTE* data;  // compared when the call succeeded with a buffer
};
constexpr BYTE kLpt3[] = {'L', 0, 'P', 0, 'T', 0, '3', 0, 0, 0};
constexpr BYTE kNumber[] = {0x2a, 0, 0, 0};
constexpr BYTE kBinary[] = {1, 2, 3};
constexpr BYTE kEmpty[] = {0, 0};
constexpr BYTE kList[] = {'A', 0, 0, 0, 'B', 0, 0, 0, 0, 0};

const QueryCase kQueries[] = {
    {"RegQueryValueExW REG_SZ, exact buffer", u"a Text", 10, ERROR_SUCCESS, REG_SZ, 10, kLpt3},
    {"RegQueryValueExW REG_SZ, buffer one byte short", u"a Text", 9, ERROR_MORE_DATA, REG_SZ, 10,
     nullptr},
    {"RegQueryValueExW REG_SZ, buffer of 0 bytes", u"a Text", 0, ERROR_MORE_DATA, REG_SZ, 10,
     nullptr},
    {"RegQueryValueExW REG_SZ, no buffer: the size", u"a Text", kNoBuffer, ERROR_SUCCESS, REG_SZ,
     10, nullptr},
    {"RegQueryValueExW REG_SZ, larger buffer", u"a Text", 64, ERROR_SUCCESS, REG_SZ, 10, kLpt3},
    {"RegQueryValueExW REG_DWORD", u"b Number", 4, ERROR_SUCCESS, REG_DWORD, 4, kNumber},
    {"RegQueryValueExW REG_DWORD, 3-byte buffer", u"b Number", 3, ERROR_MORE_DATA, REG_DWORD, 4,
     nullptr},
    {"RegQueryValueExW REG_BINARY", u"c Binary", 16, ERROR_SUCCESS, REG_BINARY, 3, kBinary},
    {"RegQueryValueExW empty REG_SZ", u"d Empty", 16, ERROR_SUCCESS, REG_SZ, 2, kEmpty},
    {"RegQueryValueExW REG_MULTI_SZ", u"e List", 16, ERROR_SUCCESS, REG_MULTI_SZ, 10, kList},
    {"RegQueryValueExW REG_MULTI_SZ, no buffer", u"e List", kNoBuffer, ERROR_SUCCESS, REG_MULTI_SZ,
     10, nullptr},
    {"RegQueryValueExW name in other letter case", u"A TEXT", 10, ERROR_SUCCESS, REG_SZ, 10, kLpt3},
    {"RegQueryValueExW REG_DWORD, no buffer", u"b Number", kNoBuffer, ERROR_SUCCESS, REG_DWORD, 4,
     nullptr},
    {"RegQueryValueExW REG_BINARY, 2-byte buffer", u"c Binary", 2, ERROR_MORE_DATA, REG_BINARY, 3,
     nullptr},
    {"RegQueryValueExW empty REG_SZ, buffer of 0 bytes", u"d Empty", 0, ERROR_MORE_DATA, REG_SZ, 2,
     nullptr},
    {"RegQueryValueExW missing value", u"z Missing", 16, ERROR_FILE_NOT_FOUND, 0, 16, nullptr},
    {"RegQueryValueExW default value the key lacks", nullptr, 16, ERROR_FILE_NOT_FOUND, 0, 16,
     nullptr},
    {"RegQueryValueExW empty name: the default value the key lacks", u"", 16, ERROR_FILE_NOT_FOUND,
     0, 16, nullptr},
    {"RegQueryValueExW REG_MULTI_SZ, exact buffer", u"e List", 10, ERROR_SUCCESS, REG_MULTI_SZ, 10,
     kList},
    {"RegQueryValueExW REG_MULTI_SZ, buffer one byte short", u"e List", 9, ERROR_MORE_DATA,
     REG_MULTI_SZ, 10, nullptr},
    {"RegQueryValueExW REG_BINARY, exact buffer", u"c Binary", 3, ERROR_SUCCESS, REG_BINARY, 3,
     kBinary},
    {"RegQueryValueExW REG_DWORD, buffer of 0 bytes", u"b Number", 0, ERROR_MORE_DATA, REG_DWORD, 4,
     nullptr},
    {"RegQueryValueExW empty REG_SZ, exact buffer", u"d Empty", 2, ERROR_SUCCESS, REG_SZ, 2,
     kEmpty},
    {"RegQueryValueExW name in other letter case, no buffer", u"E list", kNoBuffer, ERROR_SUCCESS,
     REG_MULTI_SZ, 10, nullptr},
    {"RegQueryValueExW name with a trailing space: another value", u"a Text ", 16,
     ERROR_FILE_NOT_FOUND, 0, 16, nullptr},
};

// A registry enumeration of the fixture key's values.
struct EnumCase {
  const char* name;
  DWORD index;
  DWORD nameChars;
  DWORD dataBytes;  // kNoBuffer: no data buffer and no size
  LONG status;
  const WCHAR* valueName;  // when the name was delivered
  DWORD type;
  DWORD size;
};
const EnumCase kEnums[] = {
    {"RegEnumValueW index 0", 0, 32, 32, ERROR_SUCCESS, u"a Text", REG_SZ, 10},
    {"RegEnumValueW index 1", 1, 32, 32, ERROR_SUCCESS, u"b Number", REG_DWORD, 4},
    {"RegEnumValueW last index", 4, 32, 32, ERROR_SUCCESS, u"e List", REG_MULTI_SZ, 10},
    {"RegEnumValueW past the last value", 5, 32, 32, ERROR_NO_MORE_ITEMS, nullptr, 0, 32},
    {"RegEnumValueW far past the last value", 1000, 32, 32, ERROR_NO_MORE_ITEMS, nullptr, 0, 32},
    {"RegEnumValueW name only", 2, 32, kNoBuffer, ERROR_SUCCESS, u"c Binary", REG_BINARY, 0},
    {"RegEnumValueW name buffer without room for the terminator", 0, 6, 32, ERROR_MORE_DATA,
     nullptr, 0, 0},
    {"RegEnumValueW data buffer of the exact size", 0, 32, 10, ERROR_SUCCESS, u"a Text", REG_SZ,
     10},
    {"RegEnumValueW empty REG_SZ", 3, 32, 32, ERROR_SUCCESS, u"d Empty", REG_SZ, 2},
    {"RegEnumValueW name buffer with just room", 0, 7, 32, ERROR_SUCCESS, u"a Text", REG_SZ, 10},
    {"RegEnumValueW REG_BINARY, data buffer of the exact size", 2, 32, 3, ERROR_SUCCESS,
     u"c Binary", REG_BINARY, 3},
    {"RegEnumValueW REG_DWORD, data buffer of the exact size", 1, 32, 4, ERROR_SUCCESS, u"b Number",
     REG_DWORD, 4},
    {"RegEnumValueW name buffer of 0 characters", 0, 0, 32, ERROR_MORE_DATA, nullptr, 0, 0},
    {"RegEnumValueW last index, name only", 4, 32, kNoBuffer, ERROR_SUCCESS, u"e List",
     REG_MULTI_SZ, 0},
};

void RunQuery(Check& c, HKEY root, const QueryCase& q) {
  BYTE buffer[64] = {};
  DWORD type = 0;
  DWORD size = q.bytes == kNoBuffer ? 0 : q.bytes;
  const LONG status = c.api.RegQueryValueExW(root, q.value, nullptr, &type,
                                             q.bytes == kNoBuffer ? nullptr : buffer, &size);
  c.Eq("status", static_cast<DWORD>(status), static_cast<DWORD>(q.status));
  if (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
    c.Eq("type", type, q.type);
  }
  c.Eq("size written back", size, q.size);
  if (q.data != nullptr && status == ERROR_SUCCESS) {
    c.True("data", std::memcmp(buffer, q.data, q.size) == 0);
  }
}

void RunEnum(Check& c, HKEY root, const EnumCase& e) {
  WCHAR name[32] = {};
  DWORD nameChars = e.nameChars;
  BYTE data[32] = {};
  DWORD dataBytes = e.dataBytes == kNoBuffer ? 0 : e.dataBytes;
  DWORD type = 0;
  const bool withData = e.dataBytes != kNoBuffer;
  const LONG status =
      c.api.RegEnumValueW(root, e.index, name, &nameChars, nullptr, &type,
                          withData ? data : nullptr, withData ? &dataBytes : nullptr);
  c.Eq("status", static_cast<DWORD>(status), static_cast<DWORD>(e.status));
  if (e.valueName != nullptr) {
    c.Text("name", name, e.valueName);
    c.Eq("name length written back", nameChars, TextLength(e.valueName));
    c.Eq("type", type, e.type);
    c.Eq("size written back", dataBytes, e.size);
  }
}

// A key below the fixture key made for one case and deleted after it.
constexpr const WCHAR* kScratch = u"SOFTWARE\\ORVEK Contract\\Scratch";

// A call on a key handle that no longer names a usable key: the key was deleted under it
// (ERROR_KEY_DELETED), the handle was closed, or it is null (ERROR_INVALID_HANDLE).
enum KeyState : unsigned { kDeletedKey = 1, kClosedKey = 2, kNullKey = 4 };
struct KeyHandleCall {
  const char* call;
  unsigned states;  // the KeyStates it is run in
  std::function<LONG(WindowsApi&, HKEY)> run;
};
const KeyHandleCall kKeyHandleCalls[] = {
    {"RegQueryValueExW", kClosedKey,
     [](WindowsApi& api, HKEY key) {
       DWORD size = 0;
       return api.RegQueryValueExW(key, u"x", nullptr, nullptr, nullptr, &size);
     }},
    {"RegSetValueExW", kClosedKey | kNullKey,
     [](WindowsApi& api, HKEY key) {
       const BYTE one[4] = {1, 0, 0, 0};
       return api.RegSetValueExW(key, u"x", 0, REG_DWORD, one, 4);
     }},
    {"RegEnumValueW", kDeletedKey | kClosedKey | kNullKey,
     [](WindowsApi& api, HKEY key) {
       WCHAR name[16] = {};
       DWORD chars = 16;
       return api.RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
     }},
    {"RegDeleteValueW", kDeletedKey | kClosedKey | kNullKey,
     [](WindowsApi& api, HKEY key) { return api.RegDeleteValueW(key, u"x"); }},
    {"RegOpenKeyExW of the empty name", kDeletedKey | kClosedKey,
     [](WindowsApi& api, HKEY key) {
       HKEY again = nullptr;
       const LONG status = api.RegOpenKeyExW(key, u"", 0, KEY_READ, &again);
       if (status == ERROR_SUCCESS) {
         api.RegCloseKey(again);
       }
       return status;
     }},
    {"RegCreateKeyExW of a subkey", kDeletedKey | kClosedKey | kNullKey,
     [](WindowsApi& api, HKEY key) {
       HKEY created = nullptr;
       const LONG status = api.RegCreateKeyExW(key, u"Sub", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                               KEY_ALL_ACCESS, nullptr, &created, nullptr);
       if (status == ERROR_SUCCESS) {
         api.RegCloseKey(created);
       }
       return status;
     }},
    {"RegDeleteKeyW of a subkey", kDeletedKey | kClosedKey | kNullKey,
     [](WindowsApi& api, HKEY key) { return api.RegDeleteKeyW(key, u"Sub"); }},
    {"RegCloseKey", kClosedKey, [](WindowsApi& api, HKEY key) { return api.RegCloseKey(key); }},
};

void RunOnUnusableKey(Check& c, HKEY root, const KeyHandleCall& call, KeyState state) {
  HKEY key = nullptr;
  if (state != kNullKey) {
    c.Eq("RegCreateKeyExW",
         static_cast<DWORD>(c.api.RegCreateKeyExW(root, u"Scratch", 0, nullptr,
                                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                                                  &key, nullptr)),
         ERROR_SUCCESS);
    if (state == kClosedKey) {
      c.api.RegCloseKey(key);
    }
    c.Eq("RegDeleteKeyW", static_cast<DWORD>(c.api.RegDeleteKeyW(root, u"Scratch")), ERROR_SUCCESS);
  }
  c.Eq(call.call, static_cast<DWORD>(call.run(c.api, key)),
       state == kDeletedKey ? ERROR_KEY_DELETED : ERROR_INVALID_HANDLE);
  if (state == kDeletedKey) {
    c.api.RegCloseKey(key);
  }
}

const Case kRegistryCases[] = {
    {"RegOpenKeyExW existing key",
     WithRoot([](Check& c, HKEY root) { c.True("a handle", root != nullptr); })},
    {"RegOpenKeyExW name in other letter case",
     [](Check& c) {
       HKEY key = nullptr;
       c.Eq("status",
            static_cast<DWORD>(c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\orvek CONTRACT",
                                                   0, KEY_READ, &key)),
            ERROR_SUCCESS);
       c.api.RegCloseKey(key);
     }},
    {"RegOpenKeyExW missing key: ERROR_FILE_NOT_FOUND and a null handle",
     [](Check& c) {
       HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{0x1234});
       c.Eq("status",
            static_cast<DWORD>(c.api.RegOpenKeyExW(
                HKEY_LOCAL_MACHINE, u"SOFTWARE\\ORVEK Contract\\Missing", 0, KEY_READ, &key)),
            ERROR_FILE_NOT_FOUND);
       c.True("null handle", key == nullptr);
     }},
    {"RegOpenKeyExW missing parent of the key",
     [](Check& c) {
       HKEY key = nullptr;
       c.Eq("status",
            static_cast<DWORD>(c.api.RegOpenKeyExW(
                HKEY_LOCAL_MACHINE, u"SOFTWARE\\ORVEK Contract\\No\\Such\\Key", 0, KEY_READ, &key)),
            ERROR_FILE_NOT_FOUND);
     }},
    {"RegOpenKeyExW empty subkey: a new handle to the same key", WithRoot([](Check& c, HKEY root) {
       HKEY again = nullptr;
       c.Eq("status", static_cast<DWORD>(c.api.RegOpenKeyExW(root, u"", 0, KEY_READ, &again)),
            ERROR_SUCCESS);
       c.True("another handle", again != nullptr && again != root);
       DWORD size = 0;
       c.Eq("a value of the key through it",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(again, u"a Text", nullptr, nullptr, nullptr, &size)),
            ERROR_SUCCESS);
       c.api.RegCloseKey(again);
     })},
    {"RegOpenKeyExW two levels down", WithRoot([](Check& c, HKEY root) {
       HKEY child = nullptr;
       c.Eq("status",
            static_cast<DWORD>(c.api.RegOpenKeyExW(root, u"Parent\\Child", 0, KEY_READ, &child)),
            ERROR_SUCCESS);
       c.Eq("RegCloseKey", static_cast<DWORD>(c.api.RegCloseKey(child)), ERROR_SUCCESS);
     })},
    {"RegOpenKeyExW null parent: ERROR_INVALID_HANDLE",
     [](Check& c) {
       HKEY key = nullptr;
       c.Eq("status",
            static_cast<DWORD>(c.api.RegOpenKeyExW(nullptr, u"SOFTWARE", 0, KEY_READ, &key)),
            ERROR_INVALID_HANDLE);
     }},
    {"RegOpenKeyExW without a place for the handle: ERROR_INVALID_PARAMETER",
     [](Check& c) {
       c.Eq(
           "status",
           static_cast<DWORD>(c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_READ, nullptr)),
           ERROR_INVALID_PARAMETER);
     }},
    {"RegQueryValueExW with a buffer but no size: ERROR_INVALID_PARAMETER",
     WithRoot([](Check& c, HKEY root) {
       BYTE data[16];
       c.Eq("status",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(root, u"a Text", nullptr, nullptr, data, nullptr)),
            ERROR_INVALID_PARAMETER);
     })},
    {"RegQueryValueExW with the reserved argument: ERROR_INVALID_PARAMETER",
     WithRoot([](Check& c, HKEY root) {
       DWORD reserved = 0;
       DWORD size = 0;
       c.Eq("status",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(root, u"a Text", &reserved, nullptr, nullptr, &size)),
            ERROR_INVALID_PARAMETER);
     })},
    {"RegEnumValueW with the reserved argument: ERROR_INVALID_PARAMETER",
     WithRoot([](Check& c, HKEY root) {
       WCHAR name[16] = {};
       DWORD chars = 16;
       DWORD reserved = 0;
       c.Eq("status",
            static_cast<DWORD>(
                c.api.RegEnumValueW(root, 0, name, &chars, &reserved, nullptr, nullptr, nullptr)),
            ERROR_INVALID_PARAMETER);
     })},
    {"RegDeleteKeyW without a name: ERROR_INVALID_PARAMETER", WithRoot([](Check& c, HKEY root) {
       c.Eq("status", static_cast<DWORD>(c.api.RegDeleteKeyW(root, nullptr)),
            ERROR_INVALID_PARAMETER);
     })},
    {"RegCloseKey null handle: ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Eq("status", static_cast<DWORD>(c.api.RegCloseKey(nullptr)), ERROR_INVALID_HANDLE);
     }},
    {"RegCreateKeyExW existing key: REG_OPENED_EXISTING_KEY",
     [](Check& c) {
       HKEY key = nullptr;
       DWORD disposition = 0;
       c.Eq("status",
            static_cast<DWORD>(c.api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, nullptr,
                                                     REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                                     nullptr, &key, &disposition)),
            ERROR_SUCCESS);
       c.Eq("disposition", disposition, REG_OPENED_EXISTING_KEY);
       c.api.RegCloseKey(key);
     }},
    {"RegCreateKeyExW new key, then again, then RegDeleteKeyW",
     [](Check& c) {
       HKEY key = nullptr;
       DWORD disposition = 0;
       for (DWORD expected : {REG_CREATED_NEW_KEY, REG_OPENED_EXISTING_KEY}) {
         c.Eq("status",
              static_cast<DWORD>(c.api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kScratch, 0, nullptr,
                                                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                                       nullptr, &key, &disposition)),
              ERROR_SUCCESS);
         c.Eq("disposition", disposition, expected);
         c.api.RegCloseKey(key);
       }
       c.Eq("RegDeleteKeyW", static_cast<DWORD>(c.api.RegDeleteKeyW(HKEY_LOCAL_MACHINE, kScratch)),
            ERROR_SUCCESS);
       c.Eq(
           "RegOpenKeyExW after the delete",
           static_cast<DWORD>(c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kScratch, 0, KEY_READ, &key)),
           ERROR_FILE_NOT_FOUND);
     }},
    {"RegCreateKeyExW two new levels at once", WithRoot([](Check& c, HKEY root) {
       HKEY key = nullptr;
       DWORD disposition = 0;
       c.Eq("status",
            static_cast<DWORD>(c.api.RegCreateKeyExW(root, u"Scratch\\Deeper", 0, nullptr,
                                                     REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                                     nullptr, &key, &disposition)),
            ERROR_SUCCESS);
       c.Eq("disposition", disposition, REG_CREATED_NEW_KEY);
       c.api.RegCloseKey(key);
       c.Eq("RegDeleteKeyW of the upper one while it has a subkey",
            static_cast<DWORD>(c.api.RegDeleteKeyW(root, u"Scratch")), ERROR_ACCESS_DENIED);
       c.Eq("RegDeleteKeyW of the lower one",
            static_cast<DWORD>(c.api.RegDeleteKeyW(root, u"Scratch\\Deeper")), ERROR_SUCCESS);
       c.Eq("RegDeleteKeyW of the upper one",
            static_cast<DWORD>(c.api.RegDeleteKeyW(root, u"Scratch")), ERROR_SUCCESS);
     })},
    {"RegDeleteKeyW key with subkeys: ERROR_ACCESS_DENIED", WithRoot([](Check& c, HKEY root) {
       c.Eq("status", static_cast<DWORD>(c.api.RegDeleteKeyW(root, u"Parent")),
            ERROR_ACCESS_DENIED);
       HKEY child = nullptr;
       c.Eq("the subkey is still there",
            static_cast<DWORD>(c.api.RegOpenKeyExW(root, u"Parent\\Child", 0, KEY_READ, &child)),
            ERROR_SUCCESS);
       c.api.RegCloseKey(child);
     })},
    {"RegDeleteKeyW missing key: ERROR_FILE_NOT_FOUND", WithRoot([](Check& c, HKEY root) {
       c.Eq("status", static_cast<DWORD>(c.api.RegDeleteKeyW(root, u"Missing")),
            ERROR_FILE_NOT_FOUND);
     })},
    {"RegQueryValueExW, RegSetValueExW on a key deleted under an open handle: ERROR_KEY_DELETED",
     WithRoot([](Check& c, HKEY root) {
       HKEY key = nullptr;
       c.api.RegCreateKeyExW(root, u"Scratch", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr);
       c.Eq("RegDeleteKeyW", static_cast<DWORD>(c.api.RegDeleteKeyW(root, u"Scratch")),
            ERROR_SUCCESS);
       DWORD size = 0;
       c.Eq("RegQueryValueExW",
            static_cast<DWORD>(c.api.RegQueryValueExW(key, u"x", nullptr, nullptr, nullptr, &size)),
            ERROR_KEY_DELETED);
       const BYTE one[4] = {1, 0, 0, 0};
       c.Eq("RegSetValueExW",
            static_cast<DWORD>(c.api.RegSetValueExW(key, u"x", 0, REG_DWORD, one, 4)),
            ERROR_KEY_DELETED);
       c.Eq("RegCloseKey", static_cast<DWORD>(c.api.RegCloseKey(key)), ERROR_SUCCESS);
     })},
    {"RegQueryValueExW on a null key: ERROR_INVALID_HANDLE",
     [](Check& c) {
       DWORD size = 0;
       c.Eq("status",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(nullptr, u"a Text", nullptr, nullptr, nullptr, &size)),
            ERROR_INVALID_HANDLE);
     }},
    {"RegQueryValueExW without buffer nor size: the value's existence",
     WithRoot([](Check& c, HKEY root) {
       DWORD type = 0;
       c.Eq("status",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(root, u"b Number", nullptr, &type, nullptr, nullptr)),
            ERROR_SUCCESS);
       c.Eq("type", type, REG_DWORD);
     })},
    {"RegSetValueExW REG_SZ, read back, RegDeleteValueW twice", WithRoot([](Check& c, HKEY root) {
       const WCHAR text[] = u"COM12";
       c.Eq("RegSetValueExW",
            static_cast<DWORD>(c.api.RegSetValueExW(
                root, u"x Scratch", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text)),
            ERROR_SUCCESS);
       WCHAR back[16] = {};
       DWORD size = sizeof back;
       DWORD type = 0;
       c.Eq("RegQueryValueExW",
            static_cast<DWORD>(c.api.RegQueryValueExW(root, u"x Scratch", nullptr, &type,
                                                      reinterpret_cast<BYTE*>(back), &size)),
            ERROR_SUCCESS);
       c.Eq("size", size, sizeof text);
       c.Text("text", back, text);
       c.Eq("RegDeleteValueW", static_cast<DWORD>(c.api.RegDeleteValueW(root, u"x Scratch")),
            ERROR_SUCCESS);
       c.Eq("RegDeleteValueW again", static_cast<DWORD>(c.api.RegDeleteValueW(root, u"x Scratch")),
            ERROR_FILE_NOT_FOUND);
     })},
    {"RegSetValueExW replaces type and size", WithRoot([](Check& c, HKEY root) {
       const BYTE number[4] = {7, 0, 0, 0};
       const BYTE bytes[6] = {1, 2, 3, 4, 5, 6};
       c.api.RegSetValueExW(root, u"x Scratch", 0, REG_DWORD, number, 4);
       c.api.RegSetValueExW(root, u"x Scratch", 0, REG_BINARY, bytes, 6);
       BYTE back[8] = {};
       DWORD size = sizeof back;
       DWORD type = 0;
       c.api.RegQueryValueExW(root, u"x Scratch", nullptr, &type, back, &size);
       c.Eq("type", type, REG_BINARY);
       c.Eq("size", size, 6);
       c.True("data", std::memcmp(back, bytes, 6) == 0);
       c.api.RegDeleteValueW(root, u"x Scratch");
     })},
    {"RegSetValueExW of no data: an empty value", WithRoot([](Check& c, HKEY root) {
       c.Eq("RegSetValueExW",
            static_cast<DWORD>(c.api.RegSetValueExW(root, u"x Scratch", 0, REG_BINARY, nullptr, 0)),
            ERROR_SUCCESS);
       DWORD size = 99;
       DWORD type = 0;
       c.Eq("RegQueryValueExW",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(root, u"x Scratch", nullptr, &type, nullptr, &size)),
            ERROR_SUCCESS);
       c.Eq("size", size, 0);
       c.api.RegDeleteValueW(root, u"x Scratch");
     })},
    {"RegSetValueExW of a new value appends it to the enumeration",
     WithRoot([](Check& c, HKEY root) {
       const BYTE one[4] = {1, 0, 0, 0};
       c.api.RegSetValueExW(root, u"z Last", 0, REG_DWORD, one, 4);
       WCHAR name[16] = {};
       DWORD chars = 16;
       c.Eq("RegEnumValueW index 5",
            static_cast<DWORD>(
                c.api.RegEnumValueW(root, 5, name, &chars, nullptr, nullptr, nullptr, nullptr)),
            ERROR_SUCCESS);
       c.Text("name", name, u"z Last");
       c.api.RegDeleteValueW(root, u"z Last");
     })},
    {"RegDeleteValueW missing value: ERROR_FILE_NOT_FOUND", WithRoot([](Check& c, HKEY root) {
       c.Eq("status", static_cast<DWORD>(c.api.RegDeleteValueW(root, u"z Missing")),
            ERROR_FILE_NOT_FOUND);
     })},
    {"RegEnumValueW on a key without values: ERROR_NO_MORE_ITEMS",
     WithRoot([](Check& c, HKEY root) {
       HKEY parent = nullptr;
       c.api.RegOpenKeyExW(root, u"Parent", 0, KEY_READ, &parent);
       WCHAR name[16] = {};
       DWORD chars = 16;
       c.Eq("status",
            static_cast<DWORD>(
                c.api.RegEnumValueW(parent, 0, name, &chars, nullptr, nullptr, nullptr, nullptr)),
            ERROR_NO_MORE_ITEMS);
       c.api.RegCloseKey(parent);
     })},
    {"RegEnumValueW data buffer too small: ERROR_MORE_DATA and the size",
     WithRoot([](Check& c, HKEY root) {
       WCHAR name[16] = {};
       DWORD chars = 16;
       BYTE data[4] = {};
       DWORD size = sizeof data;
       c.Eq("status",
            static_cast<DWORD>(
                c.api.RegEnumValueW(root, 0, name, &chars, nullptr, nullptr, data, &size)),
            ERROR_MORE_DATA);
       c.Eq("size written back", size, kTextBytes);
     })},
    {"RegCreateKeyExW name in other letter case: REG_OPENED_EXISTING_KEY",
     WithRoot([](Check& c, HKEY root) {
       HKEY key = nullptr;
       DWORD disposition = 0;
       c.Eq("status",
            static_cast<DWORD>(c.api.RegCreateKeyExW(root, u"PARENT\\child", 0, nullptr,
                                                     REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                                     nullptr, &key, &disposition)),
            ERROR_SUCCESS);
       c.Eq("disposition", disposition, REG_OPENED_EXISTING_KEY);
       c.api.RegCloseKey(key);
     })},
    {"RegSetValueExW name in other letter case: the value keeps its name and place",
     WithRoot([](Check& c, HKEY root) {
       c.Eq("RegSetValueExW",
            static_cast<DWORD>(c.api.RegSetValueExW(root, u"D EMPTY", 0, REG_SZ, kEmpty, 2)),
            ERROR_SUCCESS);
       WCHAR name[16] = {};
       DWORD chars = 16;
       c.Eq("RegEnumValueW index 3",
            static_cast<DWORD>(
                c.api.RegEnumValueW(root, 3, name, &chars, nullptr, nullptr, nullptr, nullptr)),
            ERROR_SUCCESS);
       c.Text("name", name, u"d Empty");
       c.Eq("RegEnumValueW index 5",
            static_cast<DWORD>(
                c.api.RegEnumValueW(root, 5, name, &chars, nullptr, nullptr, nullptr, nullptr)),
            ERROR_NO_MORE_ITEMS);
     })},
    {"RegDeleteValueW name in other letter case", WithRoot([](Check& c, HKEY root) {
       c.api.RegSetValueExW(root, u"x Scratch", 0, REG_BINARY, kBinary, 3);
       c.Eq("RegDeleteValueW", static_cast<DWORD>(c.api.RegDeleteValueW(root, u"X SCRATCH")),
            ERROR_SUCCESS);
       DWORD size = 0;
       c.Eq("RegQueryValueExW after it",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(root, u"x Scratch", nullptr, nullptr, nullptr, &size)),
            ERROR_FILE_NOT_FOUND);
     })},
    {"RegSetValueExW default value (null name), read and deleted through the empty name",
     WithRoot([](Check& c, HKEY root) {
       c.Eq("RegSetValueExW",
            static_cast<DWORD>(c.api.RegSetValueExW(root, nullptr, 0, REG_SZ, kLpt3, kTextBytes)),
            ERROR_SUCCESS);
       BYTE back[16] = {};
       DWORD size = sizeof back;
       c.Eq("RegQueryValueExW of the empty name",
            static_cast<DWORD>(c.api.RegQueryValueExW(root, u"", nullptr, nullptr, back, &size)),
            ERROR_SUCCESS);
       c.True("data", size == kTextBytes && std::memcmp(back, kLpt3, kTextBytes) == 0);
       c.Eq("RegDeleteValueW of the empty name",
            static_cast<DWORD>(c.api.RegDeleteValueW(root, u"")), ERROR_SUCCESS);
       c.Eq("RegQueryValueExW of the null name after it",
            static_cast<DWORD>(
                c.api.RegQueryValueExW(root, nullptr, nullptr, nullptr, nullptr, &size)),
            ERROR_FILE_NOT_FOUND);
     })},
    {"RegDeleteKeyW empty name: the key of the handle itself", WithRoot([](Check& c, HKEY root) {
       HKEY key = nullptr;
       c.api.RegCreateKeyExW(root, u"Scratch", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr);
       c.Eq("RegDeleteKeyW", static_cast<DWORD>(c.api.RegDeleteKeyW(key, u"")), ERROR_SUCCESS);
       HKEY again = nullptr;
       c.Eq("RegOpenKeyExW after it",
            static_cast<DWORD>(c.api.RegOpenKeyExW(root, u"Scratch", 0, KEY_READ, &again)),
            ERROR_FILE_NOT_FOUND);
       c.Eq("RegCloseKey", static_cast<DWORD>(c.api.RegCloseKey(key)), ERROR_SUCCESS);
     })},
};

// --- Devices (setupapi) ---

constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr const WCHAR* kEnumerator = u"ORVCONTRACT";

// Runs `body` on the set of the fixture's two devices, with its members 0 and 1.
std::function<void(Check&)> WithDevices(
    std::function<void(Check&, HDEVINFO, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*)> body) {
  return [body](Check& c) {
    HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) {
      c.Fail("SetupDiGetClassDevsW failed with " + std::to_string(c.api.GetLastError()));
      return;
    }
    SP_DEVINFO_DATA first{};
    SP_DEVINFO_DATA second{};
    first.cbSize = second.cbSize = sizeof(SP_DEVINFO_DATA);
    if (c.api.SetupDiEnumDeviceInfo(set, 0, &first) == FALSE ||
        c.api.SetupDiEnumDeviceInfo(set, 1, &second) == FALSE) {
      c.Fail("the fixture's devices are not both in the set");
    } else {
      body(c, set, &first, &second);
    }
    c.api.SetupDiDestroyDeviceInfoList(set);
  };
}

DWORD MemberCount(WindowsApi& api, HDEVINFO set) {
  SP_DEVINFO_DATA member{};
  member.cbSize = sizeof member;
  DWORD count = 0;
  while (api.SetupDiEnumDeviceInfo(set, count, &member) != FALSE) {
    ++count;
  }
  return count;
}

// A device registry property read into a buffer of `bytes` (null when kNoBuffer).
struct PropertyCase {
  const char* name;
  bool second;  // of member 1, else member 0
  DWORD property;
  DWORD bytes;
  BOOL returned;
  DWORD error;  // when it failed
  DWORD type;   // 0: not checked
  DWORD required;
  const WCHAR* text;  // compared when it succeeded
};
const PropertyCase kProperties[] = {
    {"SetupDiGetDeviceRegistryPropertyW class GUID", false, 8, 128, TRUE, 0, REG_SZ, 78,
     u"{4d36e978-e325-11ce-bfc1-08002be10318}"},
    {"SetupDiGetDeviceRegistryPropertyW driver key name", false, 9, 128, TRUE, 0, REG_SZ, 88,
     u"{4d36e978-e325-11ce-bfc1-08002be10318}\\0042"},
    {"SetupDiGetDeviceRegistryPropertyW null buffer: the size needed", false, SPDRP_FRIENDLYNAME,
     kNoBuffer, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 42, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW exact buffer", false, SPDRP_FRIENDLYNAME, 42, TRUE, 0,
     REG_SZ, 42, u"Contract Port (COM3)"},
    {"SetupDiGetDeviceRegistryPropertyW buffer one byte short", false, SPDRP_FRIENDLYNAME, 41,
     FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 42, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs: REG_MULTI_SZ", false, 1, 64, TRUE, 0,
     REG_MULTI_SZ, 36, u"ORVCONTRACT\\PORT"},
    {"SetupDiGetDeviceRegistryPropertyW missing property: ERROR_INVALID_DATA", true,
     SPDRP_FRIENDLYNAME, 64, FALSE, ERROR_INVALID_DATA, 0, 0, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW unknown property code: ERROR_INVALID_REG_PROPERTY", false,
     0x1000, 64, FALSE, ERROR_INVALID_REG_PROPERTY, 0, 0, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs, null buffer: the size needed", false, 1,
     kNoBuffer, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_MULTI_SZ, 36, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs, exact buffer", false, 1, 36, TRUE, 0,
     REG_MULTI_SZ, 36, u"ORVCONTRACT\\PORT"},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs, buffer one byte short", false, 1, 35, FALSE,
     ERROR_INSUFFICIENT_BUFFER, REG_MULTI_SZ, 36, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW hardware IDs of member 1", true, 1, 64, TRUE, 0,
     REG_MULTI_SZ, 36, u"ORVCONTRACT\\PORT"},
    {"SetupDiGetDeviceRegistryPropertyW driver key name, null buffer: the size needed", false, 9,
     kNoBuffer, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 88, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW friendly name, buffer of 0 bytes", false,
     SPDRP_FRIENDLYNAME, 0, FALSE, ERROR_INSUFFICIENT_BUFFER, REG_SZ, 42, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW missing property, null buffer: ERROR_INVALID_DATA", true,
     SPDRP_FRIENDLYNAME, kNoBuffer, FALSE, ERROR_INVALID_DATA, 0, 0, nullptr},
    {"SetupDiGetDeviceRegistryPropertyW missing device description: ERROR_INVALID_DATA", false, 0,
     64, FALSE, ERROR_INVALID_DATA, 0, 0, nullptr},
};

void RunProperty(Check& c, HDEVINFO set, SP_DEVINFO_DATA* device, const PropertyCase& p) {
  BYTE buffer[128] = {};
  DWORD type = 0;
  DWORD required = 0;
  const bool withBuffer = p.bytes != kNoBuffer;
  const BOOL ok = c.api.SetupDiGetDeviceRegistryPropertyW(set, device, p.property, &type,
                                                          withBuffer ? buffer : nullptr,
                                                          withBuffer ? p.bytes : 0, &required);
  if (ok != FALSE) {
    c.Eq("returned", ok, TRUE);
  } else {
    c.Error("SetupDiGetDeviceRegistryPropertyW", ok, p.returned, p.error);
  }
  if (p.type != 0) {
    c.Eq("type", type, p.type);
    c.Eq("size needed", required, p.required);
  }
  if (p.text != nullptr && ok != FALSE) {
    c.Text("text", reinterpret_cast<const WCHAR*>(buffer), p.text);
  }
}

const Case kDeviceCases[] = {
    {"SetupDiGetClassDevsW of an enumerator, all classes: its devices",
     [](Check& c) {
       HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
       c.True("a set", set != INVALID_HANDLE_VALUE);
       c.Eq("members", MemberCount(c.api, set), 2);
       c.Eq("SetupDiDestroyDeviceInfoList", c.api.SetupDiDestroyDeviceInfoList(set), TRUE);
     }},
    {"SetupDiGetClassDevsW of a class and an enumerator",
     [](Check& c) {
       HDEVINFO set = c.api.SetupDiGetClassDevsW(&kPortsClass, kEnumerator, nullptr, 0);
       c.Eq("members", MemberCount(c.api, set), 2);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
    {"SetupDiGetClassDevsW of an enumerator and a device",
     [](Check& c) {
       HDEVINFO set =
           c.api.SetupDiGetClassDevsW(nullptr, u"ORVCONTRACT\\PORT", nullptr, DIGCF_ALLCLASSES);
       c.Eq("members", MemberCount(c.api, set), 2);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
    {"SetupDiGetClassDevsW of another class: none of the enumerator's devices",
     [](Check& c) {
       const GUID other = {
           0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
       HDEVINFO set = c.api.SetupDiGetClassDevsW(&other, kEnumerator, nullptr, 0);
       c.Eq("members", MemberCount(c.api, set), 0);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
    {"SetupDiGetClassDevsW without class nor DIGCF_ALLCLASSES: ERROR_INVALID_PARAMETER",
     [](Check& c) {
       HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, 0);
       c.Error("SetupDiGetClassDevsW", set == INVALID_HANDLE_VALUE, true, ERROR_INVALID_PARAMETER);
     }},
    {"SetupDiEnumDeviceInfo member 0: its class",
     WithDevices([](Check& c, HDEVINFO, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       c.True("class GUID", std::memcmp(&first->ClassGuid, &kPortsClass, sizeof(GUID)) == 0);
       c.Eq("cbSize kept", first->cbSize, sizeof(SP_DEVINFO_DATA));
     })},
    {"SetupDiEnumDeviceInfo past the end: FALSE, ERROR_NO_MORE_ITEMS",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       SP_DEVINFO_DATA member{};
       member.cbSize = sizeof member;
       c.Error("SetupDiEnumDeviceInfo", c.api.SetupDiEnumDeviceInfo(set, 2, &member), FALSE,
               ERROR_NO_MORE_ITEMS);
     })},
    {"SetupDiEnumDeviceInfo wrong cbSize: ERROR_INVALID_USER_BUFFER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       SP_DEVINFO_DATA member{};
       member.cbSize = 0;
       c.Error("SetupDiEnumDeviceInfo", c.api.SetupDiEnumDeviceInfo(set, 0, &member), FALSE,
               ERROR_INVALID_USER_BUFFER);
     })},
    {"SetupDiEnumDeviceInfo of no set: ERROR_INVALID_HANDLE",
     [](Check& c) {
       SP_DEVINFO_DATA member{};
       member.cbSize = sizeof member;
       c.Error("SetupDiEnumDeviceInfo",
               c.api.SetupDiEnumDeviceInfo(INVALID_HANDLE_VALUE, 0, &member), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"SetupDiDestroyDeviceInfoList of no set: ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Error("SetupDiDestroyDeviceInfoList",
               c.api.SetupDiDestroyDeviceInfoList(INVALID_HANDLE_VALUE), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"SetupDiEnumDeviceInfo far past the end, then member 1: its class",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       SP_DEVINFO_DATA member{};
       member.cbSize = sizeof member;
       c.Error("SetupDiEnumDeviceInfo 1000", c.api.SetupDiEnumDeviceInfo(set, 1000, &member), FALSE,
               ERROR_NO_MORE_ITEMS);
       c.Eq("SetupDiEnumDeviceInfo 1", c.api.SetupDiEnumDeviceInfo(set, 1, &member), TRUE);
       c.True("class GUID", std::memcmp(&member.ClassGuid, &kPortsClass, sizeof(GUID)) == 0);
     })},
    {"SetupDiGetDeviceRegistryPropertyW of no set: ERROR_INVALID_HANDLE",
     WithDevices([](Check& c, HDEVINFO, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       DWORD required = 0;
       c.Error("SetupDiGetDeviceRegistryPropertyW",
               c.api.SetupDiGetDeviceRegistryPropertyW(
                   INVALID_HANDLE_VALUE, first, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0, &required),
               FALSE, ERROR_INVALID_HANDLE);
     })},
    {"SetupDiGetDeviceRegistryPropertyW without a device: ERROR_INVALID_PARAMETER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       DWORD required = 0;
       c.Error("SetupDiGetDeviceRegistryPropertyW",
               c.api.SetupDiGetDeviceRegistryPropertyW(set, nullptr, SPDRP_FRIENDLYNAME, nullptr,
                                                       nullptr, 0, &required),
               FALSE, ERROR_INVALID_PARAMETER);
     })},
    {"SetupDiOpenDevRegKey of no set: ERROR_INVALID_HANDLE",
     WithDevices([](Check& c, HDEVINFO, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       HKEY key = c.api.SetupDiOpenDevRegKey(INVALID_HANDLE_VALUE, first, DICS_FLAG_GLOBAL, 0,
                                             DIREG_DEV, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), true,
               ERROR_INVALID_HANDLE);
     })},
    {"SetupDiOpenDevRegKey without a device: ERROR_INVALID_PARAMETER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA*) {
       HKEY key =
           c.api.SetupDiOpenDevRegKey(set, nullptr, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), true,
               ERROR_INVALID_PARAMETER);
     })},
    {"SetupDiOpenDevRegKey hardware key: the device's parameters",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       HKEY key = c.api.SetupDiOpenDevRegKey(set, first, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
       c.True("a key", key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
       WCHAR name[8] = {};
       DWORD size = sizeof name;
       c.Eq("PortName",
            static_cast<DWORD>(c.api.RegQueryValueExW(key, u"PortName", nullptr, nullptr,
                                                      reinterpret_cast<BYTE*>(name), &size)),
            ERROR_SUCCESS);
       c.Text("port name", name, u"COM3");
       c.api.RegCloseKey(key);
     })},
    {"SetupDiOpenDevRegKey software key: the driver's key",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       HKEY key = c.api.SetupDiOpenDevRegKey(set, first, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
       c.True("a key", key != reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE));
       WCHAR text[32] = {};
       DWORD size = sizeof text;
       c.api.RegQueryValueExW(key, u"DriverDesc", nullptr, nullptr, reinterpret_cast<BYTE*>(text),
                              &size);
       c.Text("DriverDesc", text, u"Contract Port");
       c.api.RegCloseKey(key);
     })},
    {"SetupDiOpenDevRegKey hardware key that does not exist: INVALID_HANDLE_VALUE",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA* second) {
       HKEY key = c.api.SetupDiOpenDevRegKey(set, second, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), true,
               ERROR_KEY_DOES_NOT_EXIST);
     })},
    {"SetupDiOpenDevRegKey software key of a device without driver: INVALID_HANDLE_VALUE",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA* second) {
       HKEY key = c.api.SetupDiOpenDevRegKey(set, second, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), true,
               ERROR_KEY_DOES_NOT_EXIST);
     })},
    {"SetupDiOpenDevRegKey unknown scope: ERROR_INVALID_FLAGS",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       HKEY key = c.api.SetupDiOpenDevRegKey(set, first, 0x10, 0, DIREG_DEV, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), true,
               ERROR_INVALID_FLAGS);
     })},
    {"SetupDiOpenDevRegKey unknown key type: ERROR_INVALID_FLAGS",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       HKEY key = c.api.SetupDiOpenDevRegKey(set, first, DICS_FLAG_GLOBAL, 0, 0x10, KEY_READ);
       c.Error("SetupDiOpenDevRegKey", key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), true,
               ERROR_INVALID_FLAGS);
     })},
    {"SetupDiSetDeviceRegistryPropertyW friendly name, read back, restored",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       const WCHAR renamed[] = u"Contract Port (COM9)";
       c.Eq("SetupDiSetDeviceRegistryPropertyW",
            c.api.SetupDiSetDeviceRegistryPropertyW(set, first, SPDRP_FRIENDLYNAME,
                                                    reinterpret_cast<const BYTE*>(renamed),
                                                    sizeof renamed),
            TRUE);
       WCHAR back[32] = {};
       DWORD type = 0;
       c.api.SetupDiGetDeviceRegistryPropertyW(set, first, SPDRP_FRIENDLYNAME, &type,
                                               reinterpret_cast<BYTE*>(back), sizeof back, nullptr);
       c.Text("read back", back, renamed);
       c.Eq("type", type, REG_SZ);
       const WCHAR original[] = u"Contract Port (COM3)";
       c.api.SetupDiSetDeviceRegistryPropertyW(set, first, SPDRP_FRIENDLYNAME,
                                               reinterpret_cast<const BYTE*>(original),
                                               sizeof original);
     })},
    {"SetupDiSetDeviceRegistryPropertyW location of a device without one",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA*, SP_DEVINFO_DATA* second) {
       const WCHAR location[] = u"Contract slot";
       c.Eq("SetupDiSetDeviceRegistryPropertyW",
            c.api.SetupDiSetDeviceRegistryPropertyW(set, second, SPDRP_LOCATION_INFORMATION,
                                                    reinterpret_cast<const BYTE*>(location),
                                                    sizeof location),
            TRUE);
       DWORD required = 0;
       c.api.SetupDiGetDeviceRegistryPropertyW(set, second, SPDRP_LOCATION_INFORMATION, nullptr,
                                               nullptr, 0, &required);
       c.Eq("size needed", required, sizeof location);
       // No data deletes the property again.
       c.Eq("SetupDiSetDeviceRegistryPropertyW of no data",
            c.api.SetupDiSetDeviceRegistryPropertyW(set, second, SPDRP_LOCATION_INFORMATION,
                                                    nullptr, 0),
            TRUE);
       c.Error("SetupDiGetDeviceRegistryPropertyW after it",
               c.api.SetupDiGetDeviceRegistryPropertyW(set, second, SPDRP_LOCATION_INFORMATION,
                                                       nullptr, nullptr, 0, &required),
               FALSE, ERROR_INVALID_DATA);
     })},
    {"SetupDiSetClassInstallParamsW, SetupDiCallClassInstaller: a property-change restart",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       SP_PROPCHANGE_PARAMS params{};
       params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
       params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
       params.StateChange = DICS_PROPCHANGE;
       params.Scope = DICS_FLAG_GLOBAL;
       c.Eq("SetupDiSetClassInstallParamsW",
            c.api.SetupDiSetClassInstallParamsW(set, first, &params.ClassInstallHeader,
                                                sizeof params),
            TRUE);
       c.Eq("SetupDiCallClassInstaller",
            c.api.SetupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, first), TRUE);
     })},
    {"SetupDiSetClassInstallParamsW wrong header size: ERROR_INVALID_USER_BUFFER",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       SP_PROPCHANGE_PARAMS params{};
       params.ClassInstallHeader.cbSize = 1;
       params.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
       c.Error("SetupDiSetClassInstallParamsW",
               c.api.SetupDiSetClassInstallParamsW(set, first, &params.ClassInstallHeader,
                                                   sizeof params),
               FALSE, ERROR_INVALID_USER_BUFFER);
     })},
    {"SetupDiDeleteDevRegKey unknown key type: ERROR_INVALID_FLAGS",
     WithDevices([](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first, SP_DEVINFO_DATA*) {
       c.Error("SetupDiDeleteDevRegKey",
               c.api.SetupDiDeleteDevRegKey(set, first, DICS_FLAG_GLOBAL, 0, 0x10), FALSE,
               ERROR_INVALID_FLAGS);
     })},
    {"SetupDiRemoveDevice, SetupDiDeleteDevRegKey of a device made for the case",
     [](Check& c) {
       constexpr const WCHAR* kThird =
           u"SYSTEM\\CurrentControlSet\\Enum\\ORVCONTRACT\\PORT\\0002\\Device Parameters";
       constexpr WCHAR kClass[] = u"{4d36e978-e325-11ce-bfc1-08002be10318}";
       HKEY key = nullptr;
       c.api.RegCreateKeyExW(HKEY_LOCAL_MACHINE, kThird, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &key, nullptr);
       c.api.RegCloseKey(key);
       // The instance key, with the class the device lists need.
       c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                           u"SYSTEM\\CurrentControlSet\\Enum\\ORVCONTRACT\\PORT\\0002", 0,
                           KEY_ALL_ACCESS, &key);
       c.api.RegSetValueExW(key, u"ClassGUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(kClass),
                            sizeof kClass);
       c.api.RegCloseKey(key);
       HDEVINFO set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
       c.Eq("members with the new device", MemberCount(c.api, set), 3);
       SP_DEVINFO_DATA third{};
       third.cbSize = sizeof third;
       c.api.SetupDiEnumDeviceInfo(set, 2, &third);
       c.Eq("SetupDiDeleteDevRegKey of its hardware key",
            c.api.SetupDiDeleteDevRegKey(set, &third, DICS_FLAG_GLOBAL, 0, DIREG_DEV), TRUE);
       c.Eq("its hardware key is gone",
            static_cast<DWORD>(c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kThird, 0, KEY_READ, &key)),
            ERROR_FILE_NOT_FOUND);
       c.Eq("SetupDiRemoveDevice", c.api.SetupDiRemoveDevice(set, &third), TRUE);
       c.api.SetupDiDestroyDeviceInfoList(set);
       set = c.api.SetupDiGetClassDevsW(nullptr, kEnumerator, nullptr, DIGCF_ALLCLASSES);
       c.Eq("members after the removal", MemberCount(c.api, set), 2);
       c.api.SetupDiDestroyDeviceInfoList(set);
     }},
};

// --- Files ---

constexpr const WCHAR* kFile = u"contract.txt";

// Makes contract.txt in the current directory through the C runtime calls: "abc" and a line
// end, which the text-mode stream writes as CR LF.
void MakeFile(Check& c) {
  void* file = c.api.CrtOpenAppend(kFile);
  if (file == nullptr) {
    c.Fail("CrtOpenAppend failed");
    return;
  }
  c.True("CrtWriteText", c.api.CrtWriteText(file, u"abc\n") >= 0);
  c.Eq("CrtClose", static_cast<DWORD>(c.api.CrtClose(file)), 0);
}

const Case kFileCases[] = {
    {"CrtOpenAppend, CrtWriteText, CrtClose, CreateFileW, ReadFile: CR LF, then end of file",
     [](Check& c) {
       MakeFile(c);
       HANDLE file = c.api.CreateFileW(kFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
       c.True("CreateFileW", file != INVALID_HANDLE_VALUE);
       char bytes[16] = {};
       DWORD read = 99;
       c.Eq("ReadFile", c.api.ReadFile(file, bytes, sizeof bytes, &read, nullptr), TRUE);
       c.Eq("bytes read", read, 5);
       c.True("abc CR LF", std::memcmp(bytes, "abc\r\n", 5) == 0);
       read = 99;
       c.Eq("ReadFile at the end", c.api.ReadFile(file, bytes, sizeof bytes, &read, nullptr), TRUE);
       c.Eq("bytes read at the end", read, 0);
       c.Eq("ReadFile of 0 bytes", c.api.ReadFile(file, bytes, 0, &read, nullptr), TRUE);
       c.Eq("CloseHandle", c.api.CloseHandle(file), TRUE);
     }},
    {"CrtOpenAppend appends",
     [](Check& c) {
       MakeFile(c);
       HANDLE file = c.api.CreateFileW(kFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
       char bytes[32] = {};
       DWORD read = 0;
       c.api.ReadFile(file, bytes, sizeof bytes, &read, nullptr);
       c.Eq("bytes: two writes", read, 10);
       c.api.CloseHandle(file);
     }},
    {"CrtOpenAppend of a folder that does not exist: null",
     [](Check& c) { c.True("null", c.api.CrtOpenAppend(u"no-such-folder\\r.ini") == nullptr); }},
    {"CreateFileW missing file: ERROR_FILE_NOT_FOUND",
     [](Check& c) {
       HANDLE file = c.api.CreateFileW(u"missing.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
       c.Error("CreateFileW", file == INVALID_HANDLE_VALUE, true, ERROR_FILE_NOT_FOUND);
     }},
    {"CreateFileW in a missing folder: ERROR_PATH_NOT_FOUND",
     [](Check& c) {
       HANDLE file =
           c.api.CreateFileW(u"no-such-folder\\missing.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
       c.Error("CreateFileW", file == INVALID_HANDLE_VALUE, true, ERROR_PATH_NOT_FOUND);
     }},
    {"ReadFile of no file: ERROR_INVALID_HANDLE",
     [](Check& c) {
       char bytes[4];
       DWORD read = 0;
       c.Error("ReadFile", c.api.ReadFile(nullptr, bytes, sizeof bytes, &read, nullptr), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"CloseHandle of no handle: ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Error("CloseHandle", c.api.CloseHandle(nullptr), FALSE, ERROR_INVALID_HANDLE);
     }},
    {"FindFirstFileW of a file: its name, not a folder",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(kFile, &found);
       c.True("a search", search != INVALID_HANDLE_VALUE);
       c.Text("name", found.cFileName, kFile);
       c.Eq("folder attribute", found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0);
       c.Eq("FindClose", c.api.FindClose(search), TRUE);
     }},
    {"FindFirstFileW wildcard, FindNextFileW past the last: ERROR_NO_MORE_FILES",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"contr*.txt", &found);
       c.Text("name", found.cFileName, kFile);
       c.Error("FindNextFileW", c.api.FindNextFileW(search, &found), FALSE, ERROR_NO_MORE_FILES);
       c.api.FindClose(search);
     }},
    {"FindFirstFileW without a match: ERROR_FILE_NOT_FOUND",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"nomatch*.xyz", &found);
       c.Error("FindFirstFileW", search == INVALID_HANDLE_VALUE, true, ERROR_FILE_NOT_FOUND);
     }},
    {"FindFirstFileW in a missing folder: ERROR_PATH_NOT_FOUND",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"no-such-folder\\*.inf", &found);
       c.Error("FindFirstFileW", search == INVALID_HANDLE_VALUE, true, ERROR_PATH_NOT_FOUND);
     }},
    {"GetFullPathNameW relative name: the current folder's path and the file part",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       WCHAR* part = nullptr;
       const DWORD length = c.api.GetFullPathNameW(kFile, MAX_PATH, full, &part);
       c.Eq("length", length, TextLength(full));
       c.True("a drive", full[1] == u':' && full[2] == u'\\');
       c.True("file part", part != nullptr && TextEquals(part, kFile));
       WCHAR small[4] = {};
       c.Eq("too small: the size needed", c.api.GetFullPathNameW(kFile, 4, small, nullptr),
            length + 1);
       c.Eq("one unit short: the size needed", c.api.GetFullPathNameW(kFile, length, full, nullptr),
            length + 1);
     }},
    {"GetFullPathNameW resolves . and ..",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       c.Eq("length", c.api.GetFullPathNameW(u"C:\\a\\.\\b\\..\\c.inf", MAX_PATH, full, nullptr),
            10);
       c.Text("path", full, u"C:\\a\\c.inf");
     }},
    {"GetFullPathNameW of a folder: no file part",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       WCHAR* part = full;
       c.Eq("length", c.api.GetFullPathNameW(u"C:\\a\\", MAX_PATH, full, &part), 5);
       c.True("no file part", part == nullptr);
     }},
    {"GetWindowsDirectoryW, then into a short buffer",
     [](Check& c) {
       WCHAR folder[MAX_PATH] = {};
       const UINT length = c.api.GetWindowsDirectoryW(folder, MAX_PATH);
       c.TextNoCase("folder", folder, u"C:\\Windows");
       c.Eq("length", length, 10);
       c.Eq("short buffer: the size needed", c.api.GetWindowsDirectoryW(folder, 10), 11);
       c.Eq("no buffer: the size needed", c.api.GetWindowsDirectoryW(nullptr, 0), 11);
     }},
    {"GetSystemDirectoryW, then into a short buffer",
     [](Check& c) {
       WCHAR folder[MAX_PATH] = {};
       const UINT length = c.api.GetSystemDirectoryW(folder, MAX_PATH);
       c.TextNoCase("folder", folder, u"C:\\Windows\\System32");
       c.Eq("length", length, 19);
       c.Eq("short buffer: the size needed", c.api.GetSystemDirectoryW(folder, 19), 20);
     }},
    {"GetWindowsDirectoryW exact buffer, GetSystemDirectoryW no buffer",
     [](Check& c) {
       WCHAR folder[11] = {};
       c.Eq("GetWindowsDirectoryW into 11", c.api.GetWindowsDirectoryW(folder, 11), 10);
       c.TextNoCase("folder", folder, u"C:\\Windows");
       c.Eq("GetSystemDirectoryW no buffer: the size needed", c.api.GetSystemDirectoryW(nullptr, 0),
            20);
     }},
    {"GetFullPathNameW no buffer, then a buffer of just the size",
     [](Check& c) {
       const DWORD needed = c.api.GetFullPathNameW(u"C:\\a\\b.inf", 0, nullptr, nullptr);
       c.Eq("no buffer: the size needed", needed, 11);
       WCHAR full[11] = {};
       c.Eq("buffer of just the size", c.api.GetFullPathNameW(u"C:\\a\\b.inf", 11, full, nullptr),
            10);
       c.Text("path", full, u"C:\\a\\b.inf");
     }},
    {"GetFullPathNameW forward slashes and .. above the root",
     [](Check& c) {
       WCHAR full[MAX_PATH] = {};
       c.Eq("length", c.api.GetFullPathNameW(u"C:/../a/b.inf", MAX_PATH, full, nullptr), 10);
       c.Text("path", full, u"C:\\a\\b.inf");
     }},
    {"FindNextFileW after the last match, again: ERROR_NO_MORE_FILES",
     [](Check& c) {
       MakeFile(c);
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(kFile, &found);
       c.Error("FindNextFileW", c.api.FindNextFileW(search, &found), FALSE, ERROR_NO_MORE_FILES);
       c.Error("FindNextFileW again", c.api.FindNextFileW(search, &found), FALSE,
               ERROR_NO_MORE_FILES);
       c.Eq("FindClose", c.api.FindClose(search), TRUE);
     }},
    {"FindNextFileW, FindClose of no search: ERROR_INVALID_HANDLE",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       c.Error("FindNextFileW", c.api.FindNextFileW(INVALID_HANDLE_VALUE, &found), FALSE,
               ERROR_INVALID_HANDLE);
       c.Error("FindClose", c.api.FindClose(INVALID_HANDLE_VALUE), FALSE, ERROR_INVALID_HANDLE);
     }},
    {"FindFirstFileW name in other letter case: the name as stored",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"CONTRACT.TXT", &found);
       c.True("a search", search != INVALID_HANDLE_VALUE);
       c.Text("name", found.cFileName, kFile);
       c.api.FindClose(search);
     }},
    {"FindFirstFileW of a folder: its entry, a folder",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"C:\\Windows", &found);
       c.True("a search", search != INVALID_HANDLE_VALUE);
       c.TextNoCase("name", found.cFileName, u"Windows");
       c.Eq("folder attribute", found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
            FILE_ATTRIBUTE_DIRECTORY);
       c.api.FindClose(search);
     }},
    {"FindFirstFileW of a folder with a trailing backslash: ERROR_FILE_NOT_FOUND",
     [](Check& c) {
       WIN32_FIND_DATAW found{};
       HANDLE search = c.api.FindFirstFileW(u"C:\\Windows\\", &found);
       c.Error("FindFirstFileW", search == INVALID_HANDLE_VALUE, true, ERROR_FILE_NOT_FOUND);
     }},
    {"CreateFileW of a folder: ERROR_ACCESS_DENIED",
     [](Check& c) {
       HANDLE file = c.api.CreateFileW(u"C:\\Windows", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
       c.Error("CreateFileW", file == INVALID_HANDLE_VALUE, true, ERROR_ACCESS_DENIED);
     }},
    {"CreateFileW with a wildcard: ERROR_INVALID_NAME",
     [](Check& c) {
       HANDLE file = c.api.CreateFileW(u"contr*.txt", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
       c.Error("CreateFileW", file == INVALID_HANDLE_VALUE, true, ERROR_INVALID_NAME);
     }},
    {"CreateFileW name in other letter case, ReadFile in two parts, then a closed handle",
     [](Check& c) {
       HANDLE file = c.api.CreateFileW(u"CONTRACT.TXT", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
       if (file == INVALID_HANDLE_VALUE) {
         c.Fail("CreateFileW failed with " + std::to_string(c.api.GetLastError()));
         return;
       }
       char bytes[32] = {};
       DWORD read = 0;
       c.Eq("ReadFile of 3", c.api.ReadFile(file, bytes, 3, &read, nullptr), TRUE);
       c.Eq("bytes read", read, 3);
       c.Eq("ReadFile of the rest", c.api.ReadFile(file, bytes + 3, 29, &read, nullptr), TRUE);
       c.Eq("bytes read then", read, 12);
       c.True("the file's bytes", std::memcmp(bytes, "abc\r\nabc\r\nabc\r\n", 15) == 0);
       c.Eq("CloseHandle", c.api.CloseHandle(file), TRUE);
       c.Error("ReadFile after CloseHandle", c.api.ReadFile(file, bytes, 3, &read, nullptr), FALSE,
               ERROR_INVALID_HANDLE);
       c.Error("CloseHandle again", c.api.CloseHandle(file), FALSE, ERROR_INVALID_HANDLE);
     }},
};

// --- Environment and processes ---

const Case kProcessCases[] = {
    {"GetEnvironmentVariableW: the length without the terminator",
     [](Check& c) {
       WCHAR value[8] = {};
       c.Eq("length", c.api.GetEnvironmentVariableW(u"ORV_CONTRACT", value, 8), 3);
       c.Text("value", value, u"abc");
     }},
    {"GetEnvironmentVariableW name in other letter case",
     [](Check& c) {
       WCHAR value[8] = {};
       c.Eq("length", c.api.GetEnvironmentVariableW(u"orv_contract", value, 8), 3);
     }},
    {"GetEnvironmentVariableW buffer without room for the terminator: the size needed",
     [](Check& c) {
       WCHAR value[3] = {};
       c.Eq("size needed", c.api.GetEnvironmentVariableW(u"ORV_CONTRACT", value, 3), 4);
     }},
    {"GetEnvironmentVariableW buffer of just the size: the length",
     [](Check& c) {
       WCHAR value[4] = {};
       c.Eq("length", c.api.GetEnvironmentVariableW(u"ORV_CONTRACT", value, 4), 3);
       c.Text("value", value, u"abc");
     }},
    {"GetEnvironmentVariableW no buffer: the size needed",
     [](Check& c) {
       c.Eq("size needed", c.api.GetEnvironmentVariableW(u"ORV_CONTRACT", nullptr, 0), 4);
     }},
    {"GetEnvironmentVariableW buffer of 0 characters: the size needed",
     [](Check& c) {
       WCHAR value[4] = {u'x'};
       c.Eq("size needed", c.api.GetEnvironmentVariableW(u"ORV_CONTRACT", value, 0), 4);
       c.Eq("the buffer untouched", value[0], u'x');
     }},
    {"GetEnvironmentVariableW unset, no buffer: 0, ERROR_ENVVAR_NOT_FOUND",
     [](Check& c) {
       c.Error("GetEnvironmentVariableW",
               c.api.GetEnvironmentVariableW(u"ORV_CONTRACT_UNSET", nullptr, 0), 0, 203);
     }},
    {"GetEnvironmentVariableW name that is a prefix of a set one: ERROR_ENVVAR_NOT_FOUND",
     [](Check& c) {
       WCHAR value[8] = {};
       c.Error("GetEnvironmentVariableW", c.api.GetEnvironmentVariableW(u"ORV_CONTR", value, 8), 0,
               203);
     }},
    {"GetEnvironmentVariableW unset: 0, ERROR_ENVVAR_NOT_FOUND",
     [](Check& c) {
       WCHAR value[8] = {};
       c.Error("GetEnvironmentVariableW",
               c.api.GetEnvironmentVariableW(u"ORV_CONTRACT_UNSET", value, 8), 0, 203);
     }},
    {"CreateProcessW of the interpreter, WaitForSingleObject, GetExitCodeProcess (9009: no such "
     "command), CloseHandle",
     [](Check& c) {
       WCHAR comspec[MAX_PATH] = {};
       c.True("COMSPEC", c.api.GetEnvironmentVariableW(u"COMSPEC", comspec, MAX_PATH) > 0);
       std::u16string line = std::u16string(u"cmd.exe /c orv-no-such-command");
       PROCESS_INFORMATION process{};
       if (c.api.CreateProcessW(comspec, line.data(), &process) == FALSE) {
         c.Fail("CreateProcessW failed with " + std::to_string(c.api.GetLastError()));
         return;
       }
       c.Eq("WaitForSingleObject", c.api.WaitForSingleObject(process.hProcess, INFINITE),
            WAIT_OBJECT_0);
       DWORD exitCode = 0;
       c.Eq("GetExitCodeProcess", c.api.GetExitCodeProcess(process.hProcess, &exitCode), TRUE);
       c.Eq("exit code", exitCode, 9009);
       c.Error("GetExitCodeProcess of the thread handle",
               c.api.GetExitCodeProcess(process.hThread, &exitCode), FALSE, ERROR_INVALID_HANDLE);
       c.Eq("CloseHandle of the thread", c.api.CloseHandle(process.hThread), TRUE);
       c.Eq("CloseHandle of the process", c.api.CloseHandle(process.hProcess), TRUE);
     }},
    {"CreateProcessW of a missing program: ERROR_FILE_NOT_FOUND",
     [](Check& c) {
       std::u16string path = u"C:\\Windows\\orv-no-such-program.exe";
       PROCESS_INFORMATION process{};
       c.Error("CreateProcessW", c.api.CreateProcessW(path.c_str(), path.data(), &process), FALSE,
               ERROR_FILE_NOT_FOUND);
     }},
    {"CreateProcessW of a missing program named on the command line only",
     [](Check& c) {
       std::u16string line = u"orv-no-such-program.exe /x";
       PROCESS_INFORMATION process{};
       c.Error("CreateProcessW", c.api.CreateProcessW(nullptr, line.data(), &process), FALSE,
               ERROR_FILE_NOT_FOUND);
     }},
    {"CreateProcessW in a missing folder: ERROR_PATH_NOT_FOUND",
     [](Check& c) {
       std::u16string path = u"C:\\orv-no-such-folder\\program.exe";
       PROCESS_INFORMATION process{};
       c.Error("CreateProcessW", c.api.CreateProcessW(path.c_str(), path.data(), &process), FALSE,
               ERROR_PATH_NOT_FOUND);
     }},
    {"WaitForSingleObject of an ended process without waiting; its handles once closed",
     [](Check& c) {
       WCHAR comspec[MAX_PATH] = {};
       c.api.GetEnvironmentVariableW(u"COMSPEC", comspec, MAX_PATH);
       std::u16string line = std::u16string(u"cmd.exe /c orv-no-such-command");
       PROCESS_INFORMATION process{};
       if (c.api.CreateProcessW(comspec, line.data(), &process) == FALSE) {
         c.Fail("CreateProcessW failed with " + std::to_string(c.api.GetLastError()));
         return;
       }
       c.api.WaitForSingleObject(process.hProcess, INFINITE);
       c.Eq("WaitForSingleObject 0 ms", c.api.WaitForSingleObject(process.hProcess, 0),
            WAIT_OBJECT_0);
       c.api.CloseHandle(process.hThread);
       c.Eq("CloseHandle", c.api.CloseHandle(process.hProcess), TRUE);
       DWORD exitCode = 0;
       c.Error("GetExitCodeProcess", c.api.GetExitCodeProcess(process.hProcess, &exitCode), FALSE,
               ERROR_INVALID_HANDLE);
       c.Error("WaitForSingleObject", c.api.WaitForSingleObject(process.hProcess, 0), WAIT_FAILED,
               ERROR_INVALID_HANDLE);
       c.Error("CloseHandle again", c.api.CloseHandle(process.hProcess), FALSE,
               ERROR_INVALID_HANDLE);
     }},
    {"WaitForSingleObject of no handle: WAIT_FAILED, ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Error("WaitForSingleObject", c.api.WaitForSingleObject(nullptr, 0), WAIT_FAILED,
               ERROR_INVALID_HANDLE);
     }},
    {"GetExitCodeProcess of no handle: ERROR_INVALID_HANDLE",
     [](Check& c) {
       DWORD exitCode = 0;
       c.Error("GetExitCodeProcess", c.api.GetExitCodeProcess(nullptr, &exitCode), FALSE,
               ERROR_INVALID_HANDLE);
     }},
};

// --- System information ---

const Case kSystemCases[] = {
    {"GetVersionExW record size 0: ERROR_INSUFFICIENT_BUFFER",
     [](Check& c) {
       OSVERSIONINFOEXW info{};
       info.dwOSVersionInfoSize = 0;
       c.Error("GetVersionExW", c.api.GetVersionExW(&info), FALSE, ERROR_INSUFFICIENT_BUFFER);
     }},
    {"GetVersionExW plain record: NT, 5.0 or later",
     [](Check& c) {
       OSVERSIONINFOEXW info{};
       info.dwOSVersionInfoSize = 276;  // OSVERSIONINFOW
       c.Eq("GetVersionExW", c.api.GetVersionExW(&info), TRUE);
       c.Eq("platform", info.dwPlatformId, 2);
       c.True("version 5.0 or later", info.dwMajorVersion >= 5);
     }},
    {"GetVersionExW extended record: a product type",
     [](Check& c) {
       OSVERSIONINFOEXW info{};
       info.dwOSVersionInfoSize = sizeof info;
       c.Eq("GetVersionExW", c.api.GetVersionExW(&info), TRUE);
       c.True("product type 1 to 3", info.wProductType >= 1 && info.wProductType <= 3);
     }},
    {"GetNativeSystemInfo, GetSystemInfo: the same processor, 4 KB pages",
     [](Check& c) {
       SYSTEM_INFO native{};
       SYSTEM_INFO own{};
       c.Eq("GetNativeSystemInfo", c.api.GetNativeSystemInfo(&native), TRUE);
       c.api.GetSystemInfo(&own);
       c.Eq("processor", own.wProcessorArchitecture, native.wProcessorArchitecture);
       c.True("x86 or x64", native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ||
                                native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64);
       c.Eq("page size", own.dwPageSize, 4096);
       c.True("processors", own.dwNumberOfProcessors >= 1);
     }},
    {"IsWow64Process of this process: not under WOW64",
     [](Check& c) {
       BOOL wow64 = TRUE;
       c.Eq("IsWow64Process", c.api.IsWow64Process(kCurrentProcess, &wow64), TRUE);
       c.Eq("WOW64", wow64, FALSE);
     }},
};

// --- COM port database and driver packages (simulated machine only: under Wine they are
// stand-ins of our own, so they would state nothing about Windows) ---

const Case kSimulatedOnlyCases[] = {
    {"ComDBOpen, ComDBReleasePort of 0 and of a number, ComDBClose",
     [](Check& c) {
       HCOMDB database = nullptr;
       c.Eq("ComDBOpen", static_cast<DWORD>(c.api.ComDBOpen(&database)), ERROR_SUCCESS);
       c.Eq("ComDBReleasePort 0", static_cast<DWORD>(c.api.ComDBReleasePort(database, 0)),
            ERROR_INVALID_PARAMETER);
       c.Eq("ComDBReleasePort 3", static_cast<DWORD>(c.api.ComDBReleasePort(database, 3)),
            ERROR_SUCCESS);
       c.Eq("ComDBClose", static_cast<DWORD>(c.api.ComDBClose(database)), ERROR_SUCCESS);
     }},
    {"DriverPackageGetPathW, DriverPackageUninstallW of a package not in the store",
     [](Check& c) {
       void* file = c.api.CrtOpenAppend(u"orv-contract.inf");
       c.api.CrtWriteText(file, u"[Version]\nSignature=\"$WINDOWS NT$\"\nProvider=\"Orvek\"\n");
       c.api.CrtClose(file);
       WCHAR full[MAX_PATH] = {};
       c.api.GetFullPathNameW(u"orv-contract.inf", MAX_PATH, full, nullptr);
       WCHAR path[MAX_PATH] = {};
       DWORD chars = MAX_PATH;
       c.Eq("DriverPackageGetPathW", c.api.DriverPackageGetPathW(full, path, &chars),
            ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
       BOOL reboot = TRUE;
       c.Eq("DriverPackageUninstallW", c.api.DriverPackageUninstallW(full, 0, nullptr, &reboot),
            ERROR_DRIVER_PACKAGE_NOT_IN_STORE);
     }},
    {"DriverPackageGetPathW of a missing INF file: ERROR_FILE_NOT_FOUND",
     [](Check& c) {
       WCHAR path[MAX_PATH] = {};
       DWORD chars = MAX_PATH;
       c.Eq("status", c.api.DriverPackageGetPathW(u"C:\\orv-missing.inf", path, &chars),
            ERROR_FILE_NOT_FOUND);
     }},
};

std::vector<CaseResult> Run(Check& base, const char* area, const Case* cases, std::size_t count) {
  std::vector<CaseResult> results;
  for (std::size_t i = 0; i < count; ++i) {
    Check check(base.api, base.target);
    cases[i].run(check);
    CaseResult result{area, cases[i].name, check.failure, {}};
    if (base.target == Target::kWine) {
      for (const WineDifference& difference : kWineDifferences) {
        if (result.name == difference.name) {
          result.listedDifference = difference.reason;
        }
      }
    }
    results.push_back(std::move(result));
  }
  return results;
}

}  // namespace

std::vector<CaseResult> RunContract(WindowsApi& api, Target target) {
  Check base(api, target);
  std::vector<CaseResult> results;
  auto add = [&](const char* area, const Case* cases, std::size_t count) {
    std::vector<CaseResult> more = Run(base, area, cases, count);
    results.insert(results.end(), more.begin(), more.end());
  };
  std::vector<Case> registry(std::begin(kRegistryCases), std::end(kRegistryCases));
  for (const QueryCase& q : kQueries) {
    registry.push_back({q.name, WithRoot([&q](Check& c, HKEY root) { RunQuery(c, root, q); })});
  }
  for (const EnumCase& e : kEnums) {
    registry.push_back({e.name, WithRoot([&e](Check& c, HKEY root) { RunEnum(c, root, e); })});
  }
  constexpr struct {
    KeyState state;
    const char* suffix;
  } kKeyStates[] = {
      {kDeletedKey, " on a key deleted under an open handle: ERROR_KEY_DELETED"},
      {kClosedKey, " through a closed handle: ERROR_INVALID_HANDLE"},
      {kNullKey, " on a null key: ERROR_INVALID_HANDLE"},
  };
  for (const KeyHandleCall& call : kKeyHandleCalls) {
    for (const auto& entry : kKeyStates) {
      const KeyState state = entry.state;
      if ((call.states & state) != 0) {
        registry.push_back(
            {std::string(call.call) + entry.suffix, WithRoot([&call, state](Check& c, HKEY root) {
               RunOnUnusableKey(c, root, call, state);
             })});
      }
    }
  }
  add("registry", registry.data(), registry.size());
  std::vector<Case> devices(std::begin(kDeviceCases), std::end(kDeviceCases));
  for (const PropertyCase& p : kProperties) {
    devices.push_back({p.name, WithDevices([&p](Check& c, HDEVINFO set, SP_DEVINFO_DATA* first,
                                                SP_DEVINFO_DATA* second) {
                         RunProperty(c, set, p.second ? second : first, p);
                       })});
  }
  add("devices", devices.data(), devices.size());
  add("files", std::begin(kFileCases), std::size(kFileCases));
  add("environment and processes", std::begin(kProcessCases), std::size(kProcessCases));
  add("system information", std::begin(kSystemCases), std::size(kSystemCases));
  if (target == Target::kSimulatedMachine) {
    add("COM port database and driver packages", std::begin(kSimulatedOnlyCases),
        std::size(kSimulatedOnlyCases));
  }
  return results;
}

int CountFailures(const std::vector<CaseResult>& results) {
  int failures = 0;
  for (const CaseResult& result : results) {
    const bool listed = !result.listedDifference.empty();
    failures += (result.failure.empty() == listed) ? 1 : 0;
  }
  return failures;
}

std::string Report(const std::vector<CaseResult>& results) {
  std::string text;
  for (const CaseResult& result : results) {
    const bool listed = !result.listedDifference.empty();
    if (listed) {
      text += result.failure.empty() ? "FAIL (listed as differing, but agrees): "
                                     : "differs as listed: ";
    } else {
      text += result.failure.empty() ? "ok: " : "FAIL: ";
    }
    text += result.area + ": " + result.name;
    if (!result.failure.empty()) {
      text += ": " + result.failure;
    }
    if (listed) {
      text += " [" + result.listedDifference + "]";
    }
    text += "\n";
  }
  return text;
}

}  // namespace contract
