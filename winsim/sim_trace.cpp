#include "winsim/sim_trace.h"

#include <unistd.h>

#include <cstring>

#include "platform/text.h"
#include "winsim/drive_changes.h"
#include "winsim/reg_data.h"

namespace winsim {

using namespace orv;

std::string TraceEntry::Line() const {
  std::string line = api + "(" + args + ") = " + result;
  if (!device.empty()) {
    line += " [" + device + "]";
  }
  return line;
}

SimTracer::SimTracer(int traceFd, bool keep, const HandleNumbers& handles, DWORD& lastError)
    : traceFd_(traceFd), keep_(keep), handles_(handles), lastError_(lastError) {}

SimTracer::~SimTracer() {
  if (traceFd_ >= 0) {
    ::close(traceFd_);
  }
}

void SimTracer::Trace(std::string api, std::string args, std::string result, std::string device) {
  TraceEntry entry{std::move(api), std::move(args), std::move(result), std::move(device)};
  if (traceFd_ >= 0) {
    if (const int error = WriteAll(traceFd_, entry.Line() + "\n"); error != 0) {
      // Said once; the run goes on without its trace.
      std::fprintf(stderr, "orvcard: the trace file (ORVCARD_TRACE) cannot be written: %s\n",
                   std::strerror(error));
      ::close(traceFd_);
      traceFd_ = -1;
    }
  }
  if (keep_) {
    entries_.push_back(std::move(entry));
  }
}

BOOL SimTracer::TraceBool(std::string api, std::string args, DWORD status, std::string device,
                          std::string outputs) {
  std::string result = status == ERROR_SUCCESS ? "TRUE" : "FALSE (" + Hex(status) + ")";
  if (!outputs.empty()) {
    result += " -> " + outputs;
  }
  if (status != ERROR_SUCCESS) {
    lastError_ = status;
  }
  Trace(std::move(api), std::move(args), std::move(result), std::move(device));
  return status == ERROR_SUCCESS ? TRUE : FALSE;
}

LONG SimTracer::TraceStatus(std::string api, std::string args, DWORD status, std::string device,
                            std::string outputs) {
  std::string result = Hex(status);
  if (!outputs.empty()) {
    result += " -> " + outputs;
  }
  Trace(std::move(api), std::move(args), std::move(result), std::move(device));
  return static_cast<LONG>(status);
}

void SimTracer::TraceError(std::string api, std::string args, std::string_view returned,
                           DWORD status, std::string device) {
  lastError_ = status;
  Trace(std::move(api), std::move(args), std::string(returned) + " (" + Hex(status) + ")",
        std::move(device));
}

std::string SimTracer::HandleText(const char* kind, const void* handle) const {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (handle == nullptr) {
    return "null";
  }
  if (handle == INVALID_HANDLE_VALUE) {
    return "INVALID_HANDLE_VALUE";
  }
  if (handle == static_cast<const void*>(HKEY_LOCAL_MACHINE)) {
    return "HKLM";
  }
  if (const std::uintptr_t rank = handles_.Rank(value); rank != 0) {
    return std::string(kind) + "#" + std::to_string(rank);
  }
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
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
    text = Quoted(TextOfData(data, size));
  } else if (type == REG_DWORD && size == 4) {
    text = Hex(DwordOf(data));
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

}  // namespace winsim
