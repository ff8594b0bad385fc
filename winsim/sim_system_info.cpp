#include "winsim/sim_system_info.h"

#include <algorithm>
#include <cstring>

#include "platform/text.h"
#include "winsim/reg_data.h"

namespace winsim {

using namespace orv;

namespace {

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

std::optional<std::u16string> StringValue(const RegKey* key, std::u16string_view name) {
  const RegValue* value = key == nullptr ? nullptr : key->FindValue(name);
  if (value == nullptr || (value->type() != REG_SZ && value->type() != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  return TextOfData(value->data());
}

std::optional<DWORD> DwordValue(const RegKey* key, std::u16string_view name) {
  const RegValue* value = key == nullptr ? nullptr : key->FindValue(name);
  if (value == nullptr || value->type() != REG_DWORD || value->data().size() != 4) {
    return std::nullopt;
  }
  return DwordOf(value->data().data());
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

// The arguments of a call whose one argument, a record, is traced only when it is null.
std::vector<CallArg> NullArgIf(bool null) {
  return null ? std::vector<CallArg>{ShownArg("null")} : std::vector<CallArg>{};
}

// kernel32.dll of Windows 2000 (5.0) exports neither GetNativeSystemInfo nor IsWow64Process.
bool IsWindows2000(const Machine& machine) {
  const VersionNumbers version =
      ReadVersion(Registry::Open(machine.registry().HKLM(), kCurrentVersionKey));
  return version.major == 5 && version.minor == 0;
}

// The product type of ProductOptions; a machine without it counts as a workstation.
BYTE ProductType(RegKey& hklm) {
  const std::optional<std::u16string> product =
      StringValue(Registry::Open(hklm, kProductOptionsKey), u"ProductType");
  const std::u16string folded = product ? FoldCase(*product) : std::u16string();
  return folded == u"LANMANNT"   ? VER_NT_DOMAIN_CONTROLLER
         : folded == u"SERVERNT" ? VER_NT_SERVER
                                 : VER_NT_WORKSTATION;
}

// A value of the Environment key; REG_EXPAND_SZ data has its %NAME% references expanded from the
// same key (an unknown name stays as written; `depth` stops reference cycles).
std::optional<std::u16string> EnvironmentValue(const RegKey* environment, std::u16string_view name,
                                               int depth) {
  const RegValue* value = environment == nullptr ? nullptr : environment->FindValue(name);
  std::optional<std::u16string> text = StringValue(environment, name);
  if (!text || value->type() != REG_EXPAND_SZ || depth >= 8) {
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

BOOL SimSystemInfo::GetVersionExW(OSVERSIONINFOEXW* info) {
  const DWORD size = info == nullptr ? 0 : info->dwOSVersionInfoSize;
  const Call call{"GetVersionExW", {info == nullptr ? ShownArg("null") : DecimalArg(size)}};
  if (info == nullptr) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_PARAMETER);
  }
  if (size != sizeof(OSVERSIONINFOEXW) && size != kPlainVersionRecordSize) {
    return sim_.tracer.EndBool(call, ERROR_INSUFFICIENT_BUFFER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return sim_.tracer.EndBool(call, *fault);
  }
  RegKey& hklm = sim_.machine.registry().HKLM();
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
  version.wProductType = ProductType(hklm);
  // The plain record ends before the service-pack and product fields.
  std::memcpy(info, &version, size);
  std::string outputs =
      std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion);
  if (size == sizeof(OSVERSIONINFOEXW)) {
    outputs += ", " + Hex(version.wProductType);
  }
  return sim_.tracer.EndBool(call, ERROR_SUCCESS, outputs);
}

void SimSystemInfo::FillSystemInfo(SYSTEM_INFO* info) const {
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

BOOL SimSystemInfo::GetNativeSystemInfo(SYSTEM_INFO* info) {
  // The trace shows the record only when it is missing (and the call exists).
  const bool missing = IsWindows2000(sim_.machine);
  const Call call{"GetNativeSystemInfo", NullArgIf(info == nullptr && !missing)};
  if (missing) {
    return sim_.tracer.EndBool(call, ERROR_PROC_NOT_FOUND);
  }
  if (info == nullptr) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return sim_.tracer.EndBool(call, *fault);
  }
  FillSystemInfo(info);
  return sim_.tracer.EndBool(call, ERROR_SUCCESS, std::to_string(info->wProcessorArchitecture));
}

// A native process sees the native architecture here too; a process under WOW64 sees x86.
void SimSystemInfo::GetSystemInfo(SYSTEM_INFO* info) {
  const Call call{"GetSystemInfo", NullArgIf(info == nullptr)};
  if (info == nullptr) {
    sim_.tracer.End(call, "void");
    return;
  }
  const bool wow64 = Wow64();
  FillSystemInfo(info);
  if (wow64) {
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    info->lpMaximumApplicationAddress = reinterpret_cast<void*>(std::uintptr_t{0x7FFEFFFF});
  }
  sim_.tracer.End(call, "void", ERROR_SUCCESS, std::to_string(info->wProcessorArchitecture));
}

bool SimSystemInfo::Wow64() const {
  if (!sim_.options.x86Process) {
    return false;
  }
  SYSTEM_INFO native;
  FillSystemInfo(&native);
  return native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ||
         native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64 ||
         native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64;
}

BOOL SimSystemInfo::IsWow64Process(HANDLE process, BOOL* wow64) {
  const Call call{"IsWow64Process",
                  {process == kCurrentProcess ? ShownArg("GetCurrentProcess()")
                                              : sim_.tracer.HandleArg("process", process)}};
  if (IsWindows2000(sim_.machine)) {
    return sim_.tracer.EndBool(call, ERROR_PROC_NOT_FOUND);
  }
  if (process != kCurrentProcess || wow64 == nullptr) {
    return sim_.tracer.EndBool(call, ERROR_INVALID_PARAMETER);
  }
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    return sim_.tracer.EndBool(call, *fault);
  }
  *wow64 = Wow64() ? TRUE : FALSE;
  return sim_.tracer.EndBool(call, ERROR_SUCCESS, *wow64 ? "TRUE" : "FALSE");
}

UINT SimSystemInfo::GetWindowsDirectoryW(WCHAR* buffer, UINT bufferChars) {
  return CopyDirectory("GetWindowsDirectoryW", WindowsDirectory(), buffer, bufferChars);
}

UINT SimSystemInfo::GetSystemDirectoryW(WCHAR* buffer, UINT bufferChars) {
  return CopyDirectory("GetSystemDirectoryW", SystemDirectory(), buffer, bufferChars);
}

UINT SimSystemInfo::CopyDirectory(const char* api, const std::u16string& folder, WCHAR* buffer,
                                  UINT bufferChars) {
  const Call call{api, {DecimalArg(bufferChars)}};
  if (std::optional<DWORD> fault = sim_.faults.For(call)) {
    sim_.tracer.End(call, "0", *fault);
    return 0;
  }
  const auto length = static_cast<UINT>(folder.size());
  if (buffer == nullptr || bufferChars <= length) {
    sim_.tracer.End(call, std::to_string(length + 1), ERROR_SUCCESS, "too small");
    return length + 1;
  }
  std::memcpy(buffer, folder.c_str(), (folder.size() + 1) * sizeof(WCHAR));
  sim_.tracer.End(call, std::to_string(length), ERROR_SUCCESS, Quoted(folder));
  return length;
}

std::optional<std::u16string> SimSystemInfo::Environment(std::u16string_view name) const {
  return EnvironmentValue(Registry::Open(sim_.machine.registry().HKLM(), kEnvironmentKey), name, 0);
}

std::u16string SimSystemInfo::WindowsDirectory() const {
  return Environment(u"SystemRoot").value_or(u"C:\\Windows");
}

std::u16string SimSystemInfo::SystemDirectory() const {
  return WindowsDirectory() + (Wow64() ? u"\\SysWOW64" : u"\\System32");
}

std::u16string SimSystemInfo::FileSystemViewPath(std::u16string_view path) const {
  const std::u16string full = sim_.files.FullPath(path);
  const std::u16string native = WindowsDirectory() + u"\\System32";
  if (!Wow64() || full.size() < native.size() ||
      FoldCase(full.substr(0, native.size())) != FoldCase(native) ||
      (full.size() > native.size() && full[native.size()] != u'\\')) {
    return full;
  }
  return SystemDirectory() + full.substr(native.size());
}

}  // namespace winsim
