// The simulated platform's core: trace, faults, handles, version and system information, the
// machine's environment and the console.
#include "winsim/sim_windows.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"

namespace winsim {

namespace {

constexpr std::uintptr_t kFirstHandle = 0x1000;
constexpr DWORD ERROR_ENVVAR_NOT_FOUND = 203;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
constexpr WORD PROCESSOR_ARCHITECTURE_UNKNOWN = 0xFFFF;
constexpr DWORD kPlainVersionRecordSize = 276;  // OSVERSIONINFOW
constexpr DWORD kWindows8Build = 9200;

constexpr std::u16string_view kEnvironmentKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr std::u16string_view kCurrentVersionKey =
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::u16string_view kProductOptionsKey =
    u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions";

bool ContainsNoCase(std::string_view haystack, std::string_view needle) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != haystack.end();
}

// The UTF-16LE text in `size` bytes of data, up to its first NUL.
std::u16string TextOfData(const BYTE* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) {
      break;
    }
    text.push_back(c);
  }
  return text;
}

std::optional<std::u16string> StringValue(const RegKey* key, std::u16string_view name) {
  const RegValue* value = key == nullptr ? nullptr : key->FindValue(name);
  if (value == nullptr || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  return TextOfData(value->data.data(), value->data.size());
}

std::optional<DWORD> DwordValue(const RegKey* key, std::u16string_view name) {
  const RegValue* value = key == nullptr ? nullptr : key->FindValue(name);
  if (value == nullptr || value->type != REG_DWORD || value->data.size() != 4) {
    return std::nullopt;
  }
  DWORD number = 0;
  std::memcpy(&number, value->data.data(), 4);
  return number;
}

DWORD LeadingNumber(std::u16string_view text, std::size_t* end = nullptr) {
  DWORD number = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    number = number * 10 + static_cast<DWORD>(text[i] - u'0');
  }
  if (end != nullptr) {
    *end = i;
  }
  return number;
}

struct VersionNumbers {
  DWORD major = 0;
  DWORD minor = 0;
};

// CurrentMajorVersionNumber and CurrentMinorVersionNumber when present (Windows 10 and later),
// else the "major.minor" text of CurrentVersion; 0.0 when neither is there.
VersionNumbers ReadVersion(const RegKey* current) {
  VersionNumbers version;
  if (std::optional<DWORD> major = DwordValue(current, u"CurrentMajorVersionNumber")) {
    version.major = *major;
    version.minor = DwordValue(current, u"CurrentMinorVersionNumber").value_or(0);
  } else if (std::optional<std::u16string> text = StringValue(current, u"CurrentVersion")) {
    std::size_t dot = 0;
    version.major = LeadingNumber(*text, &dot);
    if (dot < text->size() && (*text)[dot] == u'.') {
      version.minor = LeadingNumber(std::u16string_view(*text).substr(dot + 1));
    }
  }
  return version;
}

// A value of the Environment key; REG_EXPAND_SZ data has its %NAME% references expanded from the
// same key (an unknown name stays as written; `depth` stops reference cycles).
std::optional<std::u16string> EnvironmentValue(const RegKey* environment, std::u16string_view name,
                                               int depth) {
  const RegValue* value = environment == nullptr ? nullptr : environment->FindValue(name);
  std::optional<std::u16string> text = StringValue(environment, name);
  if (!text || value->type != REG_EXPAND_SZ || depth >= 8) {
    return text;
  }
  std::u16string expanded;
  std::size_t at = 0;
  while (at < text->size()) {
    const std::size_t open = text->find(u'%', at);
    const std::size_t close = open == std::u16string::npos ? open : text->find(u'%', open + 1);
    if (close == std::u16string::npos) {
      expanded.append(*text, at);
      break;
    }
    expanded.append(*text, at, open - at);
    const std::u16string_view reference =
        std::u16string_view(*text).substr(open + 1, close - open - 1);
    std::optional<std::u16string> replacement =
        reference.empty() ? std::nullopt : EnvironmentValue(environment, reference, depth + 1);
    if (replacement) {
      expanded += *replacement;
      at = close + 1;
    } else {
      // Not a known name: keep the first '%' and look for a reference from the second one.
      expanded.append(*text, open, close - open);
      at = close;
    }
  }
  return expanded;
}

}  // namespace

std::string TraceEntry::Line() const {
  std::string line = api + "(" + args + ") = " + result;
  if (!device.empty()) {
    line += " [" + device + "]";
  }
  return line;
}

SimWindows::SimWindows(Machine& machine, SimOptions options)
    : machine_(machine),
      options_(std::move(options)),
      files_(machine.driveC(), options_.currentDirectory) {}

// Handles left open are dropped with the maps that hold them; only the trace file is closed.
SimWindows::~SimWindows() {
  if (traceOut_ != nullptr) {
    std::fclose(traceOut_);
  }
}

std::vector<std::string> SimWindows::TraceLines() const {
  std::vector<std::string> lines;
  lines.reserve(trace_.size());
  for (const TraceEntry& entry : trace_) {
    lines.push_back(entry.Line());
  }
  return lines;
}

std::size_t SimWindows::OpenHandleCount() const {
  return keys_.size() + sets_.size() + comDatabases_.size() + searches_.size() +
         files_open_.size() + crtFiles_.size() + processes_.size();
}

void SimWindows::Trace(std::string api, std::string args, std::string result, std::string device) {
  TraceEntry entry{std::move(api), std::move(args), std::move(result), std::move(device)};
  if (!options_.traceFile.empty() && !traceOutFailed_) {
    if (traceOut_ == nullptr) {
      traceOut_ = std::fopen(options_.traceFile.c_str(), "a");
      if (traceOut_ == nullptr) {
        traceOutFailed_ = true;
        std::fprintf(stderr, "winsim: cannot append to the trace file %s\n",
                     options_.traceFile.c_str());
      }
    }
    if (traceOut_ != nullptr) {
      const std::string line = entry.Line() + "\n";
      std::fwrite(line.data(), 1, line.size(), traceOut_);
      std::fflush(traceOut_);
    }
  }
  if (options_.keepTrace) {
    trace_.push_back(std::move(entry));
  }
}

std::optional<DWORD> SimWindows::FaultFor(std::string_view api, std::string_view args,
                                          std::string_view device, const RegKey* deviceInstance) {
  for (Fault& fault : faults_) {
    if (fault.api != api) {
      continue;
    }
    if (!fault.target.empty() && !ContainsNoCase(args, fault.target) &&
        !ContainsNoCase(device, fault.target)) {
      continue;
    }
    ++fault.seen;
    if (fault.nth == 0 || fault.seen == fault.nth) {
      return fault.status;
    }
  }
  if (deviceInstance != nullptr) {
    const RegValue* failures = deviceInstance->FindValue(u"SimulateFailure");
    if (failures != nullptr && failures->type == REG_MULTI_SZ) {
      // The names are NUL-separated; each is compared whole.
      const std::u16string wanted = Utf8ToUtf16(api);
      std::u16string name;
      for (std::size_t i = 0; i + 1 < failures->data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(failures->data[i] | (failures->data[i + 1] << 8));
        if (c != 0) {
          name.push_back(c);
          continue;
        }
        if (FoldCase(name) == FoldCase(wanted)) {
          return ERROR_ACCESS_DENIED;
        }
        name.clear();
      }
      if (!name.empty() && FoldCase(name) == FoldCase(wanted)) {
        return ERROR_ACCESS_DENIED;
      }
    }
  }
  return std::nullopt;
}

std::optional<std::u16string> SimWindows::Environment(std::u16string_view name) const {
  return EnvironmentValue(Registry::Open(machine_.registry().HKLM(), kEnvironmentKey), name, 0);
}

BOOL SimWindows::TraceBool(std::string api, std::string args, DWORD status, std::string device,
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

LONG SimWindows::TraceStatus(std::string api, std::string args, DWORD status, std::string device,
                             std::string outputs) {
  std::string result = Hex(status);
  if (!outputs.empty()) {
    result += " -> " + outputs;
  }
  Trace(std::move(api), std::move(args), std::move(result), std::move(device));
  return static_cast<LONG>(status);
}

std::string SimWindows::HandleText(const char* kind, const void* handle) const {
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
  if (value >= kFirstHandle && value < nextHandle_) {
    return std::string(kind) + "#" + std::to_string(value - kFirstHandle + 1);
  }
  char text[32];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string SimWindows::Quoted(const WCHAR* text) {
  return text == nullptr ? "null" : Quoted(std::u16string_view(text));
}

std::string SimWindows::Quoted(std::u16string_view text) {
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

std::string SimWindows::DataText(DWORD type, const BYTE* data, DWORD size) {
  std::string text;
  if (data == nullptr) {
    text = "null";
  } else if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ) {
    text = Quoted(TextOfData(data, size));
  } else if (type == REG_DWORD && size == 4) {
    DWORD number = 0;
    std::memcpy(&number, data, 4);
    text = Hex(number);
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

std::u16string SimWindows::ValueText(const RegKey& key, std::u16string_view name) {
  const RegValue* value = key.FindValue(name);
  return value == nullptr ? std::u16string() : TextOfData(value->data.data(), value->data.size());
}

// --- Version and system information ---

BOOL SimWindows::GetVersionExW(OSVERSIONINFOEXW* info) {
  const DWORD size = info == nullptr ? 0 : info->dwOSVersionInfoSize;
  const std::string args = info == nullptr ? "null" : std::to_string(size);
  if (info == nullptr) {
    return TraceBool("GetVersionExW", args, ERROR_INVALID_PARAMETER);
  }
  if (size != sizeof(OSVERSIONINFOEXW) && size != kPlainVersionRecordSize) {
    return TraceBool("GetVersionExW", args, ERROR_INSUFFICIENT_BUFFER);
  }
  if (std::optional<DWORD> fault = FaultFor("GetVersionExW", args, {})) {
    return TraceBool("GetVersionExW", args, *fault);
  }
  RegKey& hklm = machine_.registry().HKLM();
  const RegKey* current = Registry::Open(hklm, kCurrentVersionKey);
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = size;
  version.dwPlatformId = VER_PLATFORM_WIN32_NT;
  const VersionNumbers numbers = ReadVersion(current);
  version.dwMajorVersion = numbers.major;
  version.dwMinorVersion = numbers.minor;
  if (std::optional<std::u16string> build = StringValue(current, u"CurrentBuildNumber")) {
    version.dwBuildNumber = LeadingNumber(*build);
  }
  // Windows tells a program whose manifest names no supported version (this tool) that any
  // version after Windows 8 is Windows 8: 6.2, build 9200.
  if (numbers.major > 6 || (numbers.major == 6 && numbers.minor > 2)) {
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 2;
    version.dwBuildNumber = kWindows8Build;
  }
  if (std::optional<std::u16string> servicePack = StringValue(current, u"CSDVersion")) {
    CopyText(version.szCSDVersion, std::size(version.szCSDVersion),
             servicePack->substr(0, std::size(version.szCSDVersion) - 1).c_str());
  }
  // A machine without ProductOptions counts as a workstation.
  version.wProductType = VER_NT_WORKSTATION;
  if (std::optional<std::u16string> product =
          StringValue(Registry::Open(hklm, kProductOptionsKey), u"ProductType")) {
    const std::u16string folded = FoldCase(*product);
    version.wProductType = folded == u"LANMANNT"   ? VER_NT_DOMAIN_CONTROLLER
                           : folded == u"SERVERNT" ? VER_NT_SERVER
                                                   : VER_NT_WORKSTATION;
  }
  // The plain record ends before the service-pack and product fields.
  std::memcpy(info, &version, size);
  std::string outputs =
      std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion);
  if (size == sizeof(OSVERSIONINFOEXW)) {
    outputs += ", " + Hex(version.wProductType);
  }
  return TraceBool("GetVersionExW", args, ERROR_SUCCESS, {}, outputs);
}

void SimWindows::FillSystemInfo(SYSTEM_INFO* info) const {
  static constexpr std::pair<std::u16string_view, WORD> kArchitectures[] = {
      {u"X86", PROCESSOR_ARCHITECTURE_INTEL},
      {u"AMD64", PROCESSOR_ARCHITECTURE_AMD64},
      {u"IA64", PROCESSOR_ARCHITECTURE_IA64},
      {u"ARM64", PROCESSOR_ARCHITECTURE_ARM64}};
  *info = SYSTEM_INFO{};
  info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_UNKNOWN;
  if (std::optional<std::u16string> name = Environment(u"PROCESSOR_ARCHITECTURE")) {
    const std::u16string folded = FoldCase(*name);
    for (const auto& [known, value] : kArchitectures) {
      if (folded == known) {
        info->wProcessorArchitecture = value;
      }
    }
  }
  const bool wide = info->wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
  DWORD processors = 1;
  if (std::optional<std::u16string> count = Environment(u"NUMBER_OF_PROCESSORS")) {
    processors = std::clamp<DWORD>(LeadingNumber(*count), 1, 64);
  }
  info->dwPageSize = 4096;
  info->lpMinimumApplicationAddress = reinterpret_cast<void*>(std::uintptr_t{0x10000});
  info->lpMaximumApplicationAddress = reinterpret_cast<void*>(
      wide ? static_cast<std::uintptr_t>(0x7FFFFFFEFFFFULL) : std::uintptr_t{0x7FFEFFFF});
  info->dwActiveProcessorMask = processors >= 64 ? ~ULONG_PTR{0} : (ULONG_PTR{1} << processors) - 1;
  info->dwNumberOfProcessors = processors;
  info->dwAllocationGranularity = 0x10000;
}

BOOL SimWindows::GetNativeSystemInfo(SYSTEM_INFO* info) {
  // kernel32.dll of Windows 2000 (5.0) does not export the function.
  const VersionNumbers version =
      ReadVersion(Registry::Open(machine_.registry().HKLM(), kCurrentVersionKey));
  if (version.major == 5 && version.minor == 0) {
    return TraceBool("GetNativeSystemInfo", {}, ERROR_PROC_NOT_FOUND);
  }
  if (info == nullptr) {
    return TraceBool("GetNativeSystemInfo", "null", ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = FaultFor("GetNativeSystemInfo", {}, {})) {
    return TraceBool("GetNativeSystemInfo", {}, *fault);
  }
  FillSystemInfo(info);
  return TraceBool("GetNativeSystemInfo", {}, ERROR_SUCCESS, {},
                   std::to_string(info->wProcessorArchitecture));
}

// A native process sees the native architecture here too; a process under WOW64 sees x86.
void SimWindows::GetSystemInfo(SYSTEM_INFO* info) {
  if (info == nullptr) {
    Trace("GetSystemInfo", "null", "void");
    return;
  }
  const bool wow64 = Wow64();
  FillSystemInfo(info);
  if (wow64) {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    info->lpMaximumApplicationAddress = reinterpret_cast<void*>(std::uintptr_t{0x7FFEFFFF});
  }
  Trace("GetSystemInfo", {}, "void -> " + std::to_string(info->wProcessorArchitecture));
}

bool SimWindows::Wow64() const {
  if (!options_.x86Process) {
    return false;
  }
  SYSTEM_INFO native;
  FillSystemInfo(&native);
  return native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
         native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

BOOL SimWindows::IsWow64Process(HANDLE process, BOOL* wow64) {
  const std::string args =
      process == kCurrentProcess ? "GetCurrentProcess()" : HandleText("process", process);
  // kernel32.dll exports the function from Windows XP on.
  const VersionNumbers version =
      ReadVersion(Registry::Open(machine_.registry().HKLM(), kCurrentVersionKey));
  if (version.major == 5 && version.minor == 0) {
    return TraceBool("IsWow64Process", args, ERROR_PROC_NOT_FOUND);
  }
  if (process != kCurrentProcess || wow64 == nullptr) {
    return TraceBool("IsWow64Process", args, ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = FaultFor("IsWow64Process", args, {})) {
    return TraceBool("IsWow64Process", args, *fault);
  }
  *wow64 = Wow64() ? TRUE : FALSE;
  return TraceBool("IsWow64Process", args, ERROR_SUCCESS, {}, *wow64 ? "TRUE" : "FALSE");
}

// --- Environment and console ---

DWORD SimWindows::GetEnvironmentVariableW(const WCHAR* name, WCHAR* buffer, DWORD bufferChars) {
  const std::string args = Quoted(name) + ", " + std::to_string(bufferChars);
  auto traced = [&](DWORD returned, const std::string& suffix) {
    Trace("GetEnvironmentVariableW", args, std::to_string(returned) + suffix);
    return returned;
  };
  DWORD status = name == nullptr ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  if (status == ERROR_SUCCESS) {
    status = FaultFor("GetEnvironmentVariableW", args, {}).value_or(ERROR_SUCCESS);
  }
  std::optional<std::u16string> value;
  if (status == ERROR_SUCCESS) {
    value = Environment(name);
    status = value ? ERROR_SUCCESS : ERROR_ENVVAR_NOT_FOUND;
  }
  if (status != ERROR_SUCCESS) {
    lastError_ = status;
    return traced(0, " (" + Hex(status) + ")");
  }
  const auto length = static_cast<DWORD>(value->size());
  if (buffer == nullptr || bufferChars <= length) {
    return traced(length + 1, " -> too small");
  }
  std::memcpy(buffer, value->c_str(), (value->size() + 1) * sizeof(WCHAR));
  if (length == 0) {
    lastError_ = ERROR_SUCCESS;  // tells an empty value from a failure
  }
  return traced(length, " -> " + Quoted(*value));
}

void SimWindows::CrtWriteStdout(const WCHAR* text) {
  if (text == nullptr) {
    Trace("CrtWriteStdout", "null", "void");
    return;
  }
  const std::string utf8 = Utf16ToUtf8(text);
  stdout_ += utf8;
  if (options_.stdoutSink != nullptr) {
    std::fwrite(utf8.data(), 1, utf8.size(), options_.stdoutSink);
  }
  Trace("CrtWriteStdout", Quoted(text), "void");
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

}  // namespace winsim
