// The registry cases: keys and values opened, created, set, enumerated and deleted.
#include "tests/contract/contract_check.h"

namespace contract {

namespace {

// The fixture's key, open for all access; null (and a failure) when it does not open.
HKEY OpenRoot(Check& c) {
  HKEY key = nullptr;
  c.Status("opening the fixture key",
           c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  return key;
}

// RegQueryValueExW of `name` for its size only: the status.
LONG QuerySize(WindowsApi& api, HKEY key, const WCHAR* name) {
  DWORD size = 0;
  return api.RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size);
}

// RegEnumValueW of the value name only, at `index`: the status, and the name in `name`.
LONG EnumName(WindowsApi& api, HKEY key, DWORD index, std::u16string& name) {
  WCHAR buffer[16] = {};
  DWORD chars = 16;
  const LONG status =
      api.RegEnumValueW(key, index, buffer, &chars, nullptr, nullptr, nullptr, nullptr);
  name = buffer;
  return status;
}

// Creates `name` below `parent` (or opens it, as `disposition` says it must), and closes it.
void CreateKey(Check& c, HKEY parent, const WCHAR* name, DWORD disposition) {
  HKEY key = nullptr;
  DWORD got = 0;
  c.Status("status",
           c.api.RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, &key, &got),
           ERROR_SUCCESS);
  c.Eq("disposition", got, disposition);
  c.api.RegCloseKey(key);
}

const Case kRegistryCases[] = {
    {"RegOpenKeyExW existing key",
     WithRoot([](Check& c, HKEY root) { c.True("a handle", root != nullptr); })},
    {"RegOpenKeyExW name in other letter case",
     [](Check& c) {
       HKEY key = nullptr;
       c.Status(
           "status",
           c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"software\\orvek CONTRACT", 0, KEY_READ, &key),
           ERROR_SUCCESS);
       c.api.RegCloseKey(key);
     }},
    {"RegOpenKeyExW missing key: ERROR_FILE_NOT_FOUND and a null handle",
     [](Check& c) {
       HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{0x1234});
       c.Status("status",
                c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ORVEK Contract\\Missing", 0,
                                    KEY_READ, &key),
                ERROR_FILE_NOT_FOUND);
       c.True("null handle", key == nullptr);
     }},
    {"RegOpenKeyExW missing parent of the key",
     [](Check& c) {
       HKEY key = nullptr;
       c.Status("status",
                c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ORVEK Contract\\No\\Such\\Key",
                                    0, KEY_READ, &key),
                ERROR_FILE_NOT_FOUND);
     }},
    {"RegOpenKeyExW empty subkey: a new handle to the same key", WithRoot([](Check& c, HKEY root) {
       HKEY again = nullptr;
       c.Status("status", c.api.RegOpenKeyExW(root, u"", 0, KEY_READ, &again), ERROR_SUCCESS);
       c.True("another handle", again != nullptr && again != root);
       c.Status("a value of the key through it", QuerySize(c.api, again, u"a Text"), ERROR_SUCCESS);
       c.api.RegCloseKey(again);
     })},
    {"RegOpenKeyExW two levels down", WithRoot([](Check& c, HKEY root) {
       HKEY child = nullptr;
       c.Status("status", c.api.RegOpenKeyExW(root, u"Parent\\Child", 0, KEY_READ, &child),
                ERROR_SUCCESS);
       c.Status("RegCloseKey", c.api.RegCloseKey(child), ERROR_SUCCESS);
     })},
    {"RegOpenKeyExW null parent: ERROR_INVALID_HANDLE",
     [](Check& c) {
       HKEY key = nullptr;
       c.Status("status", c.api.RegOpenKeyExW(nullptr, u"SOFTWARE", 0, KEY_READ, &key),
                ERROR_INVALID_HANDLE);
     }},
    {"RegOpenKeyExW without a place for the handle: ERROR_INVALID_PARAMETER",
     [](Check& c) {
       c.Status("status", c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRoot, 0, KEY_READ, nullptr),
                ERROR_INVALID_PARAMETER);
     }},
    {"RegQueryValueExW with a buffer but no size: ERROR_INVALID_PARAMETER",
     WithRoot([](Check& c, HKEY root) {
       BYTE data[16];
       c.Status("status", c.api.RegQueryValueExW(root, u"a Text", nullptr, nullptr, data, nullptr),
                ERROR_INVALID_PARAMETER);
     })},
    {"RegQueryValueExW with the reserved argument: ERROR_INVALID_PARAMETER",
     WithRoot([](Check& c, HKEY root) {
       DWORD reserved = 0;
       DWORD size = 0;
       c.Status("status",
                c.api.RegQueryValueExW(root, u"a Text", &reserved, nullptr, nullptr, &size),
                ERROR_INVALID_PARAMETER);
     })},
    {"RegEnumValueW with the reserved argument: ERROR_INVALID_PARAMETER",
     WithRoot([](Check& c, HKEY root) {
       WCHAR name[16] = {};
       DWORD chars = 16;
       DWORD reserved = 0;
       c.Status("status",
                c.api.RegEnumValueW(root, 0, name, &chars, &reserved, nullptr, nullptr, nullptr),
                ERROR_INVALID_PARAMETER);
     })},
    {"RegDeleteKeyW without a name: ERROR_INVALID_PARAMETER", WithRoot([](Check& c, HKEY root) {
       c.Status("status", c.api.RegDeleteKeyW(root, nullptr), ERROR_INVALID_PARAMETER);
     })},
    {"RegCloseKey null handle: ERROR_INVALID_HANDLE",
     [](Check& c) { c.Status("status", c.api.RegCloseKey(nullptr), ERROR_INVALID_HANDLE); }},
    {"RegCreateKeyExW existing key: REG_OPENED_EXISTING_KEY",
     [](Check& c) { CreateKey(c, HKEY_LOCAL_MACHINE, kRoot, REG_OPENED_EXISTING_KEY); }},
    {"RegCreateKeyExW new key, then again, then RegDeleteKeyW",
     [](Check& c) {
       HKEY key = nullptr;
       for (DWORD expected : {REG_CREATED_NEW_KEY, REG_OPENED_EXISTING_KEY}) {
         CreateKey(c, HKEY_LOCAL_MACHINE, kScratch, expected);
       }
       c.Status("RegDeleteKeyW", c.api.RegDeleteKeyW(HKEY_LOCAL_MACHINE, kScratch), ERROR_SUCCESS);
       c.Status("RegOpenKeyExW after the delete",
                c.api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kScratch, 0, KEY_READ, &key),
                ERROR_FILE_NOT_FOUND);
     }},
    {"RegCreateKeyExW two new levels at once", WithRoot([](Check& c, HKEY root) {
       CreateKey(c, root, u"Scratch\\Deeper", REG_CREATED_NEW_KEY);
       c.Status("RegDeleteKeyW of the upper one while it has a subkey",
                c.api.RegDeleteKeyW(root, u"Scratch"), ERROR_ACCESS_DENIED);
       c.Status("RegDeleteKeyW of the lower one", c.api.RegDeleteKeyW(root, u"Scratch\\Deeper"),
                ERROR_SUCCESS);
       c.Status("RegDeleteKeyW of the upper one", c.api.RegDeleteKeyW(root, u"Scratch"),
                ERROR_SUCCESS);
     })},
    {"RegDeleteKeyW key with subkeys: ERROR_ACCESS_DENIED", WithRoot([](Check& c, HKEY root) {
       c.Status("status", c.api.RegDeleteKeyW(root, u"Parent"), ERROR_ACCESS_DENIED);
       HKEY child = nullptr;
       c.Status("the subkey is still there",
                c.api.RegOpenKeyExW(root, u"Parent\\Child", 0, KEY_READ, &child), ERROR_SUCCESS);
       c.api.RegCloseKey(child);
     })},
    {"RegDeleteKeyW missing key: ERROR_FILE_NOT_FOUND", WithRoot([](Check& c, HKEY root) {
       c.Status("status", c.api.RegDeleteKeyW(root, u"Missing"), ERROR_FILE_NOT_FOUND);
     })},
    {"RegQueryValueExW, RegSetValueExW on a key deleted under an open handle: ERROR_KEY_DELETED",
     WithRoot([](Check& c, HKEY root) {
       HKEY key = nullptr;
       c.api.RegCreateKeyExW(root, u"Scratch", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr);
       c.Status("RegDeleteKeyW", c.api.RegDeleteKeyW(root, u"Scratch"), ERROR_SUCCESS);
       c.Status("RegQueryValueExW", QuerySize(c.api, key, u"x"), ERROR_KEY_DELETED);
       const BYTE one[4] = {1, 0, 0, 0};
       c.Status("RegSetValueExW", c.api.RegSetValueExW(key, u"x", 0, REG_DWORD, one, 4),
                ERROR_KEY_DELETED);
       c.Status("RegCloseKey", c.api.RegCloseKey(key), ERROR_SUCCESS);
     })},
    {"RegQueryValueExW on a null key: ERROR_INVALID_HANDLE",
     [](Check& c) {
       c.Status("status", QuerySize(c.api, nullptr, u"a Text"), ERROR_INVALID_HANDLE);
     }},
    {"RegQueryValueExW without buffer nor size: the value's existence",
     WithRoot([](Check& c, HKEY root) {
       DWORD type = 0;
       c.Status("status",
                c.api.RegQueryValueExW(root, u"b Number", nullptr, &type, nullptr, nullptr),
                ERROR_SUCCESS);
       c.Eq("type", type, REG_DWORD);
     })},
    {"RegSetValueExW REG_SZ, read back, RegDeleteValueW twice", WithRoot([](Check& c, HKEY root) {
       const WCHAR text[] = u"COM12";
       c.Status("RegSetValueExW",
                c.api.RegSetValueExW(root, u"x Scratch", 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text), sizeof text),
                ERROR_SUCCESS);
       WCHAR back[16] = {};
       DWORD size = sizeof back;
       DWORD type = 0;
       c.Status("RegQueryValueExW",
                c.api.RegQueryValueExW(root, u"x Scratch", nullptr, &type,
                                       reinterpret_cast<BYTE*>(back), &size),
                ERROR_SUCCESS);
       c.Eq("size", size, sizeof text);
       c.Text("text", back, text);
       c.Status("RegDeleteValueW", c.api.RegDeleteValueW(root, u"x Scratch"), ERROR_SUCCESS);
       c.Status("RegDeleteValueW again", c.api.RegDeleteValueW(root, u"x Scratch"),
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
       c.Status("RegSetValueExW",
                c.api.RegSetValueExW(root, u"x Scratch", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
       DWORD size = 99;
       DWORD type = 0;
       c.Status("RegQueryValueExW",
                c.api.RegQueryValueExW(root, u"x Scratch", nullptr, &type, nullptr, &size),
                ERROR_SUCCESS);
       c.Eq("size", size, 0);
       c.api.RegDeleteValueW(root, u"x Scratch");
     })},
    {"RegSetValueExW of a new value appends it to the enumeration",
     WithRoot([](Check& c, HKEY root) {
       const BYTE one[4] = {1, 0, 0, 0};
       c.api.RegSetValueExW(root, u"z Last", 0, REG_DWORD, one, 4);
       std::u16string name;
       c.Status("RegEnumValueW index 5", EnumName(c.api, root, 5, name), ERROR_SUCCESS);
       c.Text("name", name, u"z Last");
       c.api.RegDeleteValueW(root, u"z Last");
     })},
    {"RegDeleteValueW missing value: ERROR_FILE_NOT_FOUND", WithRoot([](Check& c, HKEY root) {
       c.Status("status", c.api.RegDeleteValueW(root, u"z Missing"), ERROR_FILE_NOT_FOUND);
     })},
    {"RegEnumValueW on a key without values: ERROR_NO_MORE_ITEMS",
     WithRoot([](Check& c, HKEY root) {
       HKEY parent = nullptr;
       c.api.RegOpenKeyExW(root, u"Parent", 0, KEY_READ, &parent);
       std::u16string name;
       c.Status("status", EnumName(c.api, parent, 0, name), ERROR_NO_MORE_ITEMS);
       c.api.RegCloseKey(parent);
     })},
    {"RegEnumValueW data buffer too small: ERROR_MORE_DATA and the size",
     WithRoot([](Check& c, HKEY root) {
       WCHAR name[16] = {};
       DWORD chars = 16;
       BYTE data[4] = {};
       DWORD size = sizeof data;
       c.Status("status", c.api.RegEnumValueW(root, 0, name, &chars, nullptr, nullptr, data, &size),
                ERROR_MORE_DATA);
       c.Eq("size written back", size, kTextBytes);
     })},
    {"RegCreateKeyExW name in other letter case: REG_OPENED_EXISTING_KEY",
     WithRoot([](Check& c, HKEY root) {
       CreateKey(c, root, u"PARENT\\child", REG_OPENED_EXISTING_KEY);
     })},
    {"RegSetValueExW name in other letter case: the value keeps its name and place",
     WithRoot([](Check& c, HKEY root) {
       c.Status("RegSetValueExW", c.api.RegSetValueExW(root, u"D EMPTY", 0, REG_SZ, kEmpty, 2),
                ERROR_SUCCESS);
       std::u16string name;
       c.Status("RegEnumValueW index 3", EnumName(c.api, root, 3, name), ERROR_SUCCESS);
       c.Text("name", name, u"d Empty");
       c.Status("RegEnumValueW index 5", EnumName(c.api, root, 5, name), ERROR_NO_MORE_ITEMS);
     })},
    {"RegDeleteValueW name in other letter case", WithRoot([](Check& c, HKEY root) {
       c.api.RegSetValueExW(root, u"x Scratch", 0, REG_BINARY, kBinary, 3);
       c.Status("RegDeleteValueW", c.api.RegDeleteValueW(root, u"X SCRATCH"), ERROR_SUCCESS);
       c.Status("RegQueryValueExW after it", QuerySize(c.api, root, u"x Scratch"),
                ERROR_FILE_NOT_FOUND);
     })},
    {"RegSetValueExW default value (null name), read and deleted through the empty name",
     WithRoot([](Check& c, HKEY root) {
       c.Status("RegSetValueExW", c.api.RegSetValueExW(root, nullptr, 0, REG_SZ, kLpt3, kTextBytes),
                ERROR_SUCCESS);
       BYTE back[16] = {};
       DWORD size = sizeof back;
       c.Status("RegQueryValueExW of the empty name",
                c.api.RegQueryValueExW(root, u"", nullptr, nullptr, back, &size), ERROR_SUCCESS);
       c.True("data", size == kTextBytes && std::memcmp(back, kLpt3, kTextBytes) == 0);
       c.Status("RegDeleteValueW of the empty name", c.api.RegDeleteValueW(root, u""),
                ERROR_SUCCESS);
       c.Status("RegQueryValueExW of the null name after it", QuerySize(c.api, root, nullptr),
                ERROR_FILE_NOT_FOUND);
     })},
    {"RegDeleteKeyW empty name: the key of the handle itself", WithRoot([](Check& c, HKEY root) {
       HKEY key = nullptr;
       c.api.RegCreateKeyExW(root, u"Scratch", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &key, nullptr);
       c.Status("RegDeleteKeyW", c.api.RegDeleteKeyW(key, u""), ERROR_SUCCESS);
       HKEY again = nullptr;
       c.Status("RegOpenKeyExW after it",
                c.api.RegOpenKeyExW(root, u"Scratch", 0, KEY_READ, &again), ERROR_FILE_NOT_FOUND);
       c.Status("RegCloseKey", c.api.RegCloseKey(key), ERROR_SUCCESS);
     })},
};

}  // namespace

std::function<void(Check&)> WithRoot(std::function<void(Check&, HKEY)> body) {
  return [body](Check& c) {
    HKEY root = OpenRoot(c);
    if (root != nullptr) {
      body(c, root);
      c.api.RegCloseKey(root);
    }
  };
}

std::vector<Case> RegistryCases() {
  return {std::begin(kRegistryCases), std::end(kRegistryCases)};
}

}  // namespace contract
