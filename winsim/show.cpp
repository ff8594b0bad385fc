#include "winsim/show.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/platform_code.h"
#include "platform/text.h"
#include "platform/win_types.h"
#include "winsim/reg_data.h"
#include "winsim/sim_windows.h"

namespace winsim {

namespace {

namespace fs = std::filesystem;

constexpr std::u16string_view kEnum = u"SYSTEM\\CurrentControlSet\\Enum";
constexpr std::u16string_view kCardEnum = u"SYSTEM\\CurrentControlSet\\Enum\\ORVPCARD_ENUM";
constexpr std::u16string_view kUninstallRecord =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ORVEK Multi-I/O Card Driver";

std::string HexBytes(std::span<const std::uint8_t> data) {
  std::string text;
  for (std::uint8_t byte : data) {
    char digits[4];
    std::snprintf(digits, sizeof digits, text.empty() ? "%02x" : " %02x", byte);
    text += digits;
  }
  return text;
}

// A value as a reader wants it: a text as text (with its type and length when its data is not
// exactly the text and one terminator), a list joined by "; ", a DWORD in decimal, other data
// as hex bytes.
std::string ValueText(const RegValue* value) {
  if (value == nullptr) {
    return "(none)";
  }
  const std::span<const std::uint8_t> data = value->data();
  const std::string size = std::to_string(data.size()) + " bytes";
  switch (value->type()) {
    case orv::REG_SZ:
    case orv::REG_EXPAND_SZ: {
      const std::u16string text = SplitAtNul(data).front();
      std::string shown = Printable(text);
      if (data.size() != (text.size() + 1) * 2) {
        shown += " (" + RegTypeName(value->type()) + ", " + size + ")";
      } else if (value->type() == orv::REG_EXPAND_SZ) {
        shown += " (REG_EXPAND_SZ)";
      }
      return shown;
    }
    case orv::REG_MULTI_SZ: {
      std::vector<std::u16string> texts = SplitAtNul(data);
      while (!texts.empty() && texts.back().empty()) {
        texts.pop_back();
      }
      std::string shown;
      for (const std::u16string& text : texts) {
        shown += (shown.empty() ? "" : "; ") + Printable(text);
      }
      return shown;
    }
    case orv::REG_DWORD:
      if (data.size() == 4) {
        return std::to_string(DwordOf(data.data()));
      }
      break;
    default:
      break;
  }
  return HexBytes(data) + " (" + RegTypeName(value->type()) + ", " + size + ")";
}

std::string ValueText(const RegKey* key, std::u16string_view name) {
  return ValueText(key == nullptr ? nullptr : key->FindValue(name));
}

void ShowWindows(const Registry& registry, std::string& out) {
  RegKey& hklm = registry.HKLM();
  const RegKey* version = Registry::Open(hklm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
  const RegValue* major =
      version == nullptr ? nullptr : version->FindValue(u"CurrentMajorVersionNumber");
  std::string number;
  if (major != nullptr) {
    number = ValueText(major) + "." + ValueText(version, u"CurrentMinorVersionNumber");
  } else {
    number = ValueText(version, u"CurrentVersion");
  }
  const RegKey* options =
      Registry::Open(hklm, u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions");
  const std::string productType = ValueText(options, u"ProductType");
  std::string kind;
  if (productType == "WinNT") {
    kind = " (workstation)";
  } else if (productType == "LanmanNT") {
    kind = " (domain controller)";
  } else if (productType == "ServerNT") {
    kind = " (server)";
  }
  const RegKey* environment =
      Registry::Open(hklm, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
  out += "Windows\n";
  out += "  version:      " + number + "\n";
  out += "  build:        " + ValueText(version, u"CurrentBuildNumber") + "\n";
  out += "  product type: " + productType + kind + "\n";
  out += "  processor:    " + ValueText(environment, u"PROCESSOR_ARCHITECTURE") + "\n";
}

void ShowDevices(const Registry& registry, std::string& out) {
  out += "\nDevices (HKEY_LOCAL_MACHINE\\" + Printable(kEnum) + ")\n";
  const RegKey* devices = Registry::Open(registry.HKLM(), kEnum);
  if (devices == nullptr || devices->SubkeyCount() == 0) {
    out += "  (none)\n";
    return;
  }
  for (const RegKey* enumerator : devices->Subkeys()) {
    out += "  " + Printable(enumerator->name()) + "\n";
    for (const RegKey* device : enumerator->Subkeys()) {
      for (const RegKey* instance : device->Subkeys()) {
        const RegKey* control = instance->FindSubkey(u"Control");
        out += "    " +
               Printable(enumerator->name() + u"\\" + device->name() + u"\\" + instance->name()) +
               (control != nullptr ? "  present\n" : "  not present\n");
        out += "      location:      " + ValueText(instance, u"LocationInformation") + "\n";
        out += "      PortName:      " +
               ValueText(instance->FindSubkey(u"Device Parameters"), u"PortName") + "\n";
        out += "      friendly name: " + ValueText(instance, u"FriendlyName") + "\n";
        if (control != nullptr) {
          out += "      restarts:      " + ValueText(control, u"RestartCount") + "\n";
        }
      }
    }
  }
}

void ShowParallelPortMap(const Registry& registry, std::string& out) {
  constexpr std::u16string_view kMap = u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS";
  out += "\nParallel-port map (HKEY_LOCAL_MACHINE\\" + Printable(kMap) + ")\n";
  const RegKey* map = Registry::Open(registry.HKLM(), kMap);
  if (map == nullptr || map->values().empty()) {
    out += "  (none)\n";
    return;
  }
  for (const RegValue& value : map->values()) {
    out += "  " + Printable(value.name()) + " = " + ValueText(&value) + "\n";
  }
}

void ShowComDatabase(const Registry& registry, std::string& out) {
  const RegKey* arbiter =
      Registry::Open(registry.HKLM(), u"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter");
  const RegValue* comDb = arbiter == nullptr ? nullptr : arbiter->FindValue(u"ComDB");
  out += "\nCOM port database (ComDB)\n";
  if (comDb == nullptr) {
    out += "  (none)\n";
    return;
  }
  std::string reserved;
  for (std::size_t bit = 0; bit < comDb->data().size() * 8; ++bit) {
    if ((comDb->data()[bit / 8] >> (bit % 8)) & 1) {
      reserved += (reserved.empty() ? "COM" : ", COM") + std::to_string(bit + 1);
    }
  }
  out += "  reserved: " + (reserved.empty() ? std::string("(none)") : reserved) + "\n";
  out += "  size:     " + std::to_string(comDb->data().size()) + " bytes (COM1 to COM" +
         std::to_string(comDb->data().size() * 8) + ")\n";
}

void ShowUninstallRecord(const Registry& registry, std::string& out) {
  out += "\nUninstall record (HKEY_LOCAL_MACHINE\\" + Printable(kUninstallRecord) + ")\n";
  const RegKey* record = Registry::Open(registry.HKLM(), kUninstallRecord);
  if (record == nullptr) {
    out += "  (none)\n";
    return;
  }
  if (record->values().empty()) {
    out += "  (no values)\n";
  }
  for (const RegValue& value : record->values()) {
    out += "  " + (value.name().empty() ? std::string("(default)") : Printable(value.name())) +
           " = " + ValueText(&value) + "\n";
  }
}

// Names of the entries of a folder that `wanted` accepts, sorted.
template <typename Wanted>
std::vector<std::string> ListFolder(const fs::path& folder, Wanted wanted) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (wanted(*it)) {
      names.push_back(Printable(orv::Utf8ToUtf16(it->path().filename().string())));
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

void ShowDriverStore(const fs::path& driveC, std::string& out) {
  const fs::path repository = driveC / "Windows" / "System32" / "DriverStore" / "FileRepository";
  out += "\nDriver store (C:\\Windows\\System32\\DriverStore\\FileRepository)\n";
  const std::vector<std::string> packages =
      ListFolder(repository, [](const fs::directory_entry& entry) { return entry.is_directory(); });
  for (const std::string& package : packages) {
    std::string files;
    for (const std::string& file :
         ListFolder(repository / package, [](const auto&) { return true; })) {
      files += (files.empty() ? "" : ", ") + file;
    }
    out += "  " + package + ": " + (files.empty() ? "(empty)" : files) + "\n";
  }
  if (packages.empty()) {
    out += "  (none)\n";
  }

  out += "\nPublished INF files (C:\\Windows\\inf\\oem*.inf)\n";
  const std::vector<std::string> infs =
      ListFolder(driveC / "Windows" / "inf", [](const fs::directory_entry& entry) {
        std::string name =
            orv::Utf16ToUtf8(FoldCase(orv::Utf8ToUtf16(entry.path().filename().string())));
        return !entry.is_directory() && name.starts_with("OEM") && name.ends_with(".INF");
      });
  for (const std::string& inf : infs) {
    out += "  " + inf + "\n";
  }
  if (infs.empty()) {
    out += "  (none)\n";
  }
}

}  // namespace

std::string ReplaySummary(const Registry& registry) {
  std::string out = "Replay\n  control set:  ";
  const RegKey* system = registry.HKLM().FindSubkey(u"SYSTEM");
  const RegKey* current = system == nullptr ? nullptr : system->FindSubkey(u"CurrentControlSet");
  // What SYSTEM\Select holds when it names no control set of the image.
  const std::string selectedText = ControlSetSelectProblem(registry);
  if (current == nullptr) {
    out += "none (no SYSTEM\\CurrentControlSet; " + selectedText + ")\n";
  } else if (CompareFolded(current->name(), u"CurrentControlSet") != 0) {
    out += Printable(current->name()) + " (SYSTEM\\Select), linked as CurrentControlSet\n";
  } else {
    out += "CurrentControlSet, a key of its own (" + selectedText + ")\n";
  }
  std::size_t nodes = 0;
  std::size_t present = 0;
  ForEachDeviceInstance(registry.HKLM(), {u"ORVPCARD_ENUM"},
                        [&](RegKey&, RegKey&, RegKey& instance) {
                          ++nodes;
                          present += instance.FindSubkey(u"Control") != nullptr ? 1 : 0;
                        });
  out += "  card devices: " + std::to_string(nodes) + " device nodes under ORVPCARD_ENUM, " +
         std::to_string(present) + " present\n";
  if (nodes == 0) {
    out += "  note: orvcard finds no card here: nothing under HKEY_LOCAL_MACHINE\\" +
           Printable(kCardEnum) + "\n";
  } else if (present == 0) {
    out +=
        "  note: no card device is present (none has a Control subkey, which Windows keeps for "
        "started devices and Wine never creates): the port renumbering finds no port\n";
  }
  return out;
}

// What the tool reads of the platform on this machine: the version it is told and the platform
// code it computes from it.
void ShowPlatformCode(Machine& machine, std::string& out) {
  SimOptions options;
  options.keepTrace = false;
  SimWindows api(machine, options);
  orv::OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof version;
  api.GetVersionExW(&version);
  char line[96];
  std::snprintf(line, sizeof line, "  as the tool reads it: version %u.%u, platform code 0x%08X\n",
                static_cast<unsigned>(version.dwMajorVersion),
                static_cast<unsigned>(version.dwMinorVersion),
                static_cast<unsigned>(orv::GetPlatformCode(api)));
  out += line;
}

std::string ShowMachine(Machine& machine) {
  std::string out;
  ShowWindows(machine.registry(), out);
  ShowPlatformCode(machine, out);
  out += "\n" + ReplaySummary(machine.registry());
  ShowDevices(machine.registry(), out);
  ShowParallelPortMap(machine.registry(), out);
  ShowComDatabase(machine.registry(), out);
  ShowUninstallRecord(machine.registry(), out);
  ShowDriverStore(machine.driveC(), out);
  return out;
}

}  // namespace winsim
