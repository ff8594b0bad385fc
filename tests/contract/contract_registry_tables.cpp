// The registry cases given as tables: value queries, value enumerations, and the calls on a
// key handle that no longer names a usable key.
#include "tests/contract/contract_check.h"

namespace contract {

namespace {

// A registry query of a fixture value into a buffer of `bytes` (null when kNoBuffer).
struct QueryCase {
  const char* name;
  const WCHAR* value;
  DWORD bytes;
  LONG status;
  DWORD type;
  DWORD size;
  const BYTE* data;  // compared when the call succeeded with a buffer
};

constexpr BYTE kNumber[] = {0x2a, 0, 0, 0};
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
  c.Status("status", status, static_cast<DWORD>(q.status));
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
  c.Status("status", status, static_cast<DWORD>(e.status));
  if (e.valueName != nullptr) {
    c.Text("name", name, e.valueName);
    c.Eq("name length written back", nameChars, TextLength(e.valueName));
    c.Eq("type", type, e.type);
    c.Eq("size written back", dataBytes, e.size);
  }
}

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
    c.Status("RegCreateKeyExW",
             c.api.RegCreateKeyExW(root, u"Scratch", 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_ALL_ACCESS, nullptr, &key, nullptr),
             ERROR_SUCCESS);
    if (state == kClosedKey) {
      c.api.RegCloseKey(key);
    }
    c.Status("RegDeleteKeyW", c.api.RegDeleteKeyW(root, u"Scratch"), ERROR_SUCCESS);
  }
  c.Status(call.call, call.run(c.api, key),
           state == kDeletedKey ? ERROR_KEY_DELETED : ERROR_INVALID_HANDLE);
  if (state == kDeletedKey) {
    c.api.RegCloseKey(key);
  }
}

}  // namespace

std::vector<Case> RegistryTableCases() {
  std::vector<Case> cases;
  for (const QueryCase& q : kQueries) {
    cases.push_back({q.name, WithRoot([&q](Check& c, HKEY root) { RunQuery(c, root, q); })});
  }
  for (const EnumCase& e : kEnums) {
    cases.push_back({e.name, WithRoot([&e](Check& c, HKEY root) { RunEnum(c, root, e); })});
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
        cases.push_back(
            {std::string(call.call) + entry.suffix, WithRoot([&call, state](Check& c, HKEY root) {
               RunOnUnusableKey(c, root, call, state);
             })});
      }
    }
  }
  return cases;
}

}  // namespace contract
