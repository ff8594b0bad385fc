#include "platform/trace_text.h"

#include <cstdio>

#include "platform/text.h"

namespace orv {

namespace {

// The UTF-16 text of registry data, up to its first NUL or its last whole unit.
std::u16string TextUpToNul(const BYTE* data, DWORD size) {
  std::u16string text;
  for (DWORD i = 0; i + 1 < size; i += 2) {
    const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) {
      break;
    }
    text.push_back(unit);
  }
  return text;
}

}  // namespace

std::string TraceLine(std::string_view api, std::string_view args, std::string_view result,
                      std::string_view device) {
  std::string line = std::string(api) + "(" + std::string(args) + ") = " + std::string(result);
  if (!device.empty()) {
    line += " [" + std::string(device) + "]";
  }
  return line;
}

std::string Narrow(const WCHAR* text) {
  return text == nullptr ? "null" : Utf16ToUtf8(text);
}

std::string Hex(DWORD value) {
  if (value == 0) {
    return "0";
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Quoted(const WCHAR* text) {
  return text == nullptr ? "null" : Quoted(std::u16string_view(text));
}

std::string Quoted(std::u16string_view text) {
  std::string quoted = "\"";
  for (char c : Utf16ToUtf8(text)) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"') {
      quoted += "\\\"";
    } else if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (u < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", u);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string DataText(DWORD type, const BYTE* data, DWORD size) {
  std::string text;
  if (data == nullptr) {
    text = "null";
  } else if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    text = Quoted(TextUpToNul(data, size));
  } else if (type == REG_DWORD && size == 4) {
    text = Hex(static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
               (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24));
  } else {
    constexpr DWORD kShown = 16;
    text = "hex:";
    for (DWORD i = 0; i < size && i < kShown; ++i) {
      char byte[4];
      std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : ",%02X", data[i]);
      text += byte;
    }
    if (size > kShown) {
      text += ",...";
    }
  }
  return text + ", " + std::to_string(size);
}

std::string HandleText(const char* kind, const void* handle, std::uintptr_t rank) {
  if (handle == nullptr) {
    return "null";
  }
  if (handle == INVALID_HANDLE_VALUE) {
    return "INVALID_HANDLE_VALUE";
  }
  if (handle == static_cast<const void*>(HKEY_LOCAL_MACHINE)) {
    return "HKLM";
  }
  if (rank != 0) {
    return std::string(kind) + "#" + std::to_string(rank);
  }
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
  return text;
}

std::string GuidText(const GUID* guid) {
  if (guid == nullptr) {
    return "null";
  }
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid->Data1), guid->Data2, guid->Data3, guid->Data4[0],
                guid->Data4[1], guid->Data4[2], guid->Data4[3], guid->Data4[4], guid->Data4[5],
                guid->Data4[6], guid->Data4[7]);
  return text;
}

}  // namespace orv
