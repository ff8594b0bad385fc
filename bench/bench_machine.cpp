#include "bench/bench_machine.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "winsim/reg_data.h"

namespace orvbench {

namespace {

using winsim::DwordData;
using winsim::MultiStringData;
using winsim::Registry;
using winsim::RegKey;
using winsim::StringData;

constexpr std::size_t kPortsPerCard = 4;

constexpr std::u16string_view kPortsClass = u"{4d36e978-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kPrinterClass = u"{4d36e979-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kMonitorClass = u"{4d36e96e-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kSystemClass = u"{4d36e97d-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kDisplayClass = u"{4d36e968-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kUsbClass = u"{36fc9e60-c465-11cf-8056-444553540000}";
constexpr std::u16string_view kHidClass = u"{745a17a0-74d3-11d0-b6fe-00a0c90f57da}";
constexpr std::u16string_view kVolumeClass = u"{71a27cdd-812a-11d0-bec7-08002be2092f}";
constexpr std::u16string_view kDiskClass = u"{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kNetClass = u"{4d36e972-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kProcessorClass = u"{50127dc3-0f36-415e-a6cc-4cb3be910b65}";
constexpr std::u16string_view kMultiportClass = u"{50906cb8-ba12-11d1-bf5d-0000f805f530}";
constexpr std::u16string_view kLegacyClass = u"{8ecc055d-047f-11d1-a537-0000f8753ed1}";

constexpr std::u16string_view kEnumPath = u"SYSTEM\\CurrentControlSet\\Enum\\";
constexpr std::u16string_view kClassPath = u"SYSTEM\\CurrentControlSet\\Control\\Class\\";

std::u16string Number(std::size_t n, std::size_t width = 0) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  if (digits.size() < width) {
    digits.insert(0, width - digits.size(), u'0');
  }
  return digits;
}

std::u16string Text(std::u16string_view text) {
  return std::u16string(text);
}

void SetSz(RegKey& key, std::u16string_view name, std::u16string_view text,
           std::uint32_t type = orv::REG_SZ) {
  key.SetValue(name, type, StringData(text));
}

void SetMultiSz(RegKey& key, std::u16string_view name,
                std::initializer_list<std::u16string_view> texts) {
  key.SetValue(name, orv::REG_MULTI_SZ,
               MultiStringData(std::vector<std::u16string>(texts.begin(), texts.end())));
}

void SetDword(RegKey& key, std::u16string_view name, std::uint32_t number) {
  key.SetValue(name, orv::REG_DWORD, DwordData(number));
}

// Hands out the software keys of each device class: <class>\\0000, <class>\\0001, ...
class SoftwareKeys {
 public:
  std::u16string Next(std::u16string_view classGuid) {
    return Text(classGuid) + u"\\" + Number(next_[classGuid]++, 4);
  }

 private:
  std::map<std::u16string_view, std::size_t> next_;
};

struct Device {
  std::u16string instance;  // <enumerator>\<device>\<instance>
  std::u16string hardwareId;
  std::u16string_view classGuid;
  std::u16string driver;  // <class>\<number>: the software key
  std::u16string description;
  std::u16string friendlyName;  // empty: none
  std::u16string location;      // empty: none
  std::u16string portName;      // empty: none
  std::u16string_view maker;
  std::u16string_view service;
  bool present = true;
};

// The instance key with Device Parameters (and Control when present), and the software key.
void AddDevice(RegKey& hklm, const Device& device) {
  RegKey& instance = Registry::Create(hklm, Text(kEnumPath) + device.instance);
  SetMultiSz(instance, u"HardwareID", {device.hardwareId});
  SetSz(instance, u"ClassGUID", device.classGuid);
  SetSz(instance, u"DeviceDesc", device.description);
  if (!device.location.empty()) {
    SetSz(instance, u"LocationInformation", device.location);
  }
  if (!device.friendlyName.empty()) {
    SetSz(instance, u"FriendlyName", device.friendlyName);
  }
  SetSz(instance, u"Driver", device.driver);
  SetSz(instance, u"Mfg", device.maker);
  if (!device.service.empty()) {
    SetSz(instance, u"Service", device.service);
  }
  SetDword(instance, u"ConfigFlags", 0);
  RegKey& parameters = instance.CreateSubkey(u"Device Parameters");
  if (!device.portName.empty()) {
    SetSz(parameters, u"PortName", device.portName);
    if (device.portName.starts_with(u"COM")) {
      SetDword(parameters, u"PollingPeriod", 0);
    }
  }
  if (device.present) {
    RegKey& control = instance.CreateSubkey(u"Control");
    if (!device.service.empty()) {
      SetSz(control, u"ActiveService", device.service);
    }
  }
  RegKey& software = Registry::Create(hklm, Text(kClassPath) + device.driver);
  SetSz(software, u"DriverDesc", device.description);
  SetSz(software, u"ProviderName", device.maker);
  SetSz(software, u"DriverDate", u"6-21-2006");
  SetSz(software, u"DriverVersion", u"6.1.7601.17514");
  SetSz(software, u"MatchingDeviceId", device.hardwareId);
}

// A family of devices of the fixed system, `count` instances of one hardware identifier.
struct Family {
  std::u16string_view enumerator;
  std::u16string_view device;
  std::size_t count;
  std::u16string_view classGuid;
  std::u16string_view description;
  std::u16string_view service;
};

constexpr Family kSystemDevices[] = {
    {u"ACPI", u"PNP0A08", 1, kSystemClass, u"PCI Express Root Complex", u"pci"},
    {u"ACPI", u"PNP0C0F", 8, kSystemClass, u"PCI Interrupt Link", u""},
    {u"ACPI", u"PNP0C02", 6, kSystemClass, u"Motherboard resources", u""},
    {u"ACPI", u"PNP0B00", 1, kSystemClass, u"System CMOS/real time clock", u""},
    {u"ACPI", u"PNP0303", 1, kSystemClass, u"Standard PS/2 Keyboard", u"i8042prt"},
    {u"ACPI", u"PROCESSOR", 2, kProcessorClass, u"Processor", u"processr"},
    {u"PCI", u"VEN_F1A0&DEV_0150&SUBSYS_00000000&REV_09", 1, kSystemClass, u"PCI Express Root Port",
     u"pci"},
    {u"PCI", u"VEN_F1A0&DEV_1E31&SUBSYS_00000000&REV_04", 1, kUsbClass,
     u"USB 3.0 eXtensible Host Controller", u"usbxhci"},
    {u"PCI", u"VEN_F1A0&DEV_1E2D&SUBSYS_00000000&REV_04", 2, kUsbClass, u"Enhanced Host Controller",
     u"usbehci"},
    {u"PCI", u"VEN_F1C0&DEV_1502&SUBSYS_00000000&REV_04", 1, kNetClass, u"Network Connection",
     u"netdrv"},
    {u"PCI", u"VEN_F1B0&DEV_0FC6&SUBSYS_00000000&REV_A1", 1, kDisplayClass, u"Display Adapter",
     u"dispdrv"},
    {u"PCI", u"VEN_4F52&DEV_0C01&SUBSYS_00011AF4&REV_01", 1, kMultiportClass,
     u"ORVEK Multi-I/O Card", u"orvbus"},
    {u"USB", u"ROOT_HUB20", 2, kUsbClass, u"USB Root Hub", u"usbhub"},
    {u"USB", u"VID_F1D0&PID_0001", 1, kUsbClass, u"USB Composite Device", u"usbccgp"},
    {u"HID", u"VID_F1D0&PID_0001&MI_00", 3, kHidClass, u"HID Keyboard Device", u"kbdhid"},
    {u"ROOT", u"LEGACY_BEEP", 1, kLegacyClass, u"Beep", u"Beep"},
    {u"ROOT", u"LEGACY_NULL", 1, kLegacyClass, u"Null", u"Null"},
    {u"ROOT", u"VIRTUAL_KBD", 1, kHidClass, u"Virtual Keyboard", u"vkbd"},
    {u"STORAGE", u"Volume", 4, kVolumeClass, u"Generic volume", u"volsnap"},
    {u"IDE", u"DiskGeneric_1TB", 1, kDiskClass, u"Disk drive", u"disk"},
    {u"SWD", u"PRINTENUM", 3, kPrinterClass, u"Document Writer", u""},
    // One display: restarting it (0x10000) is the benchmark's floor, a run that changes one
    // value and saves.
    {u"DISPLAY", u"Default_Monitor", 1, kMonitorClass, u"Generic PnP Monitor", u"monitor"},
};

constexpr std::u16string_view kClassNames[][2] = {
    {kPortsClass, u"Ports"},         {kPrinterClass, u"Printer"},
    {kMonitorClass, u"Monitor"},     {kSystemClass, u"System"},
    {kDisplayClass, u"Display"},     {kUsbClass, u"USB"},
    {kHidClass, u"HIDClass"},        {kVolumeClass, u"Volume"},
    {kDiskClass, u"DiskDrive"},      {kNetClass, u"Net"},
    {kProcessorClass, u"Processor"}, {kMultiportClass, u"MultiPortSerial"},
    {kLegacyClass, u"LegacyDriver"},
};

void AddSystemDevices(RegKey& hklm, SoftwareKeys& softwareKeys) {
  for (const auto& [guid, name] : kClassNames) {
    RegKey& classKey = Registry::Create(hklm, Text(kClassPath) + Text(guid));
    SetSz(classKey, u"", name);
    SetSz(classKey, u"Class", name);
  }
  // The onboard ports: COM1 and LPT1.
  AddDevice(hklm,
            {u"ACPI\\PNP0501\\1", u"ACPI\\PNP0501", kPortsClass, softwareKeys.Next(kPortsClass),
             u"Communications Port", u"Communications Port (COM1)", u"", u"COM1",
             u"(Standard port types)", u"Serial"});
  AddDevice(hklm, {u"ACPI\\PNP0401\\1", u"ACPI\\PNP0401", kPortsClass,
                   softwareKeys.Next(kPortsClass), u"ECP Printer Port", u"ECP Printer Port (LPT1)",
                   u"", u"LPT1", u"(Standard port types)", u"Parport"});
  for (const Family& family : kSystemDevices) {
    for (std::size_t i = 0; i < family.count; ++i) {
      Device device;
      device.instance =
          Text(family.enumerator) + u"\\" + Text(family.device) + u"\\4&1f2e3d4c&0&UID" + Number(i);
      device.hardwareId = Text(family.enumerator) + u"\\" + Text(family.device);
      device.classGuid = family.classGuid;
      device.driver = softwareKeys.Next(family.classGuid);
      device.description = family.description;
      device.maker = u"(Standard system devices)";
      device.service = family.service;
      AddDevice(hklm, device);
    }
  }
}

// The card's ports and the printers on its parallel ports; returns the highest COM number.
std::size_t AddCardDevices(RegKey& hklm, const NodeCounts& counts, SoftwareKeys& softwareKeys) {
  // Instance names of one width, so that registry order is port order.
  const std::size_t width =
      std::max<std::size_t>(4, Number(std::max(counts.serialPorts, counts.parallelPorts)).size());
  for (std::size_t i = 0; i < counts.serialPorts; ++i) {
    const std::u16string portName = u"COM" + Number(3 + (i ^ 1));
    AddDevice(hklm, {u"ORVPCARD_ENUM\\ORVPCARD_SERP\\" + Number(i, width),
                     u"ORVPCARD_ENUM\\ORVPCARD_SERP", kPortsClass, softwareKeys.Next(kPortsClass),
                     u"ORVEK COM Port", u"ORVEK COM Port (" + portName + u")",
                     u"ORVEK COM Port " + Number(i % kPortsPerCard + 1), portName, u"ORVEK",
                     u"Serial", (i / kPortsPerCard) % 10 != 9});
  }
  for (std::size_t i = 0; i < counts.parallelPorts; ++i) {
    const std::u16string portName = u"LPT" + Number(2 + i);
    AddDevice(hklm,
              {u"ORVPCARD_ENUM\\ORVPCARD_PARPECP\\" + Number(i, width),
               u"ORVPCARD_ENUM\\ORVPCARD_PARPECP", kPortsClass, softwareKeys.Next(kPortsClass),
               u"ORVEK LPT Port", u"ORVEK LPT Port (" + portName + u")",
               u"ORVEK LPT Port " + Number(i % kPortsPerCard + 1), portName, u"ORVEK", u"Parport",
               (i / kPortsPerCard) % 10 != 9});
  }
  for (std::size_t j = 0; j < counts.printers; ++j) {
    // Spread over the parallel ports: the printer's location is its port's LPT name.
    const std::size_t port =
        counts.parallelPorts == 0 ? 0 : j * counts.parallelPorts / counts.printers;
    const std::u16string lpt = u"LPT" + Number(2 + port);
    AddDevice(hklm, {u"LPTENUM\\ORVEKLaser_500\\5&2a1b3c4d&0&" + lpt, u"LPTENUM\\ORVEKLaser_500",
                     kPrinterClass, softwareKeys.Next(kPrinterClass), u"ORVEK Laser 500", u"", lpt,
                     u"", u"ORVEK", u"", true});
  }
  return counts.serialPorts + 2;
}

// ComDB with COM1 to `highestCom` reserved, and the parallel-port map with LPT1 (onboard) and
// one value per card parallel port.
void AddPortDatabases(RegKey& hklm, std::size_t highestCom, std::size_t parallelPorts) {
  std::vector<std::uint8_t> comDb(std::max<std::size_t>(32, (highestCom + 7) / 8 + 31) / 32 * 32);
  for (std::size_t n = 1; n <= highestCom; ++n) {
    comDb[(n - 1) / 8] |= static_cast<std::uint8_t>(1u << ((n - 1) % 8));
  }
  Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter")
      .SetValue(u"ComDB", orv::REG_BINARY, std::move(comDb));

  RegKey& serialMap = Registry::Create(hklm, u"HARDWARE\\DEVICEMAP\\SERIALCOMM");
  SetSz(serialMap, u"\\Device\\Serial0", u"COM1");

  RegKey& parallelMap = Registry::Create(hklm, u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS");
  for (std::size_t i = 0; i <= parallelPorts; ++i) {
    SetSz(parallelMap, u"\\Device\\Parallel" + Number(i), u"\\DosDevices\\LPT" + Number(1 + i));
  }
}

void AddServices(RegKey& hklm) {
  constexpr std::u16string_view kDrivers[] = {
      u"ACPI",    u"afd",      u"atapi",    u"Beep",    u"cdrom",   u"disk",     u"netdrv",
      u"hidusb",  u"i8042prt", u"processr", u"kbdhid",  u"monitor", u"msisadrv", u"Null",
      u"dispdrv", u"orvbus",   u"Parport",  u"partmgr", u"pci",     u"Serial",   u"serenum",
      u"vkbd",    u"usbccgp",  u"usbehci",  u"usbhub",  u"usbxhci", u"volmgr",   u"volsnap"};
  RegKey& services = Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Services");
  for (std::u16string_view name : kDrivers) {
    RegKey& service = services.CreateSubkey(name);
    SetDword(service, u"Type", 1);
    SetDword(service, u"Start", 3);
    SetDword(service, u"ErrorControl", 1);
    SetSz(service, u"ImagePath", u"system32\\DRIVERS\\" + Text(name) + u".sys", orv::REG_EXPAND_SZ);
    SetSz(service, u"DisplayName", name);
    SetSz(service.CreateSubkey(u"Enum"), u"0", u"ROOT\\LEGACY_" + Text(name) + u"\\0000");
  }
  // The Windows services that every installation carries, as far as a registry holds them.
  for (std::size_t i = 0; i < 120; ++i) {
    RegKey& service = services.CreateSubkey(u"WinService" + Number(i, 3));
    SetDword(service, u"Type", 32);
    SetDword(service, u"Start", 2 + i % 3);
    SetDword(service, u"ErrorControl", 1);
    SetSz(service, u"ImagePath", u"%SystemRoot%\\system32\\svchost.exe -k netsvcs",
          orv::REG_EXPAND_SZ);
    SetSz(service, u"ObjectName", u"LocalSystem");
    SetSz(service, u"Description", u"@%SystemRoot%\\system32\\svc.dll,-" + Number(100 + i));
    SetSz(service.CreateSubkey(u"Parameters"), u"ServiceDll",
          u"%SystemRoot%\\system32\\svc" + Number(i) + u".dll", orv::REG_EXPAND_SZ);
  }
}

// A driver-store path value as the tool records it: the path and zeros up to 522 bytes.
std::vector<std::uint8_t> StorePath(std::u16string_view path) {
  std::vector<std::uint8_t> data = StringData(path);
  data.resize(522, 0);
  return data;
}

void AddSoftware(RegKey& hklm) {
  RegKey& version = Registry::Create(hklm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
  SetSz(version, u"CurrentVersion", u"6.1");
  SetSz(version, u"CurrentBuildNumber", u"7601");
  SetSz(version, u"CSDVersion", u"Service Pack 1");
  SetSz(version, u"ProductName", u"Windows 7 Professional");
  SetSz(version, u"EditionID", u"Professional");
  SetSz(version, u"InstallationType", u"Client");
  SetSz(version, u"SystemRoot", u"C:\\Windows");
  SetSz(version, u"RegisteredOwner", u"Lab");

  RegKey& windows = Registry::Create(hklm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  SetSz(windows, u"ProgramFilesDir", u"C:\\Program Files");
  SetSz(windows, u"CommonFilesDir", u"C:\\Program Files\\Common Files");
  SetSz(windows, u"DevicePath", u"%SystemRoot%\\inf", orv::REG_EXPAND_SZ);

  RegKey& uninstall = windows.CreateSubkey(u"Uninstall");
  for (std::size_t i = 0; i < 30; ++i) {
    RegKey& product =
        uninstall.CreateSubkey(u"{6A0F3C2E-5B1D-4E7A-9C84-2D3F1B0E7" + Number(i, 3) + u"}");
    SetSz(product, u"DisplayName", u"Installed Program " + Number(i));
    SetSz(product, u"DisplayVersion", u"2." + Number(i) + u".1");
    SetSz(product, u"Publisher", u"Example Software");
    SetSz(product, u"InstallLocation", u"C:\\Program Files\\Program " + Number(i) + u"\\");
    SetSz(product, u"UninstallString",
          u"C:\\Program Files\\Program " + Number(i) + u"\\uninstall.exe");
    SetDword(product, u"EstimatedSize", 1024 * (i + 1));
  }
  RegKey& record = uninstall.CreateSubkey(u"ORVEK Multi-I/O Card Driver");
  constexpr std::u16string_view kPackages[] = {u"orvbus", u"orvser", u"orvpar", u"orvmf"};
  for (std::size_t i = 0; i < std::size(kPackages); ++i) {
    const std::u16string inf = Text(kPackages[i]) + u".inf";
    record.SetValue(u"DriverStorePath" + Number(i), orv::REG_SZ,
                    StorePath(u"C:\\Windows\\System32\\DriverStore\\FileRepository\\" + inf +
                              u"_amd64_neutral_3f2a9c1d7b6e5a40\\" + inf));
  }

  SetSz(Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions"),
        u"ProductType", u"WinNT");
  RegKey& environment =
      Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
  SetSz(environment, u"ComSpec", u"%SystemRoot%\\system32\\cmd.exe", orv::REG_EXPAND_SZ);
  SetSz(environment, u"NUMBER_OF_PROCESSORS", u"2");
  SetSz(environment, u"OS", u"Windows_NT");
  SetSz(environment, u"Path", u"%SystemRoot%\\system32;%SystemRoot%", orv::REG_EXPAND_SZ);
  SetSz(environment, u"PATHEXT", u".COM;.EXE;.BAT;.CMD");
  SetSz(environment, u"PROCESSOR_ARCHITECTURE", u"AMD64");
  SetSz(environment, u"SystemDrive", u"C:");
  SetSz(environment, u"SystemRoot", u"C:\\Windows");
  SetSz(environment, u"TEMP", u"%SystemRoot%\\TEMP", orv::REG_EXPAND_SZ);
  SetSz(environment, u"windir", u"%SystemRoot%", orv::REG_EXPAND_SZ);
}

}  // namespace

NodeCounts SplitNodes(std::size_t nodes) {
  NodeCounts counts;
  counts.serialPorts = nodes * 2 / 5;
  counts.parallelPorts = nodes * 2 / 5;
  counts.printers = nodes - counts.serialPorts - counts.parallelPorts;
  return counts;
}

Registry BuildMachineRegistry(std::size_t nodes) {
  Registry registry;
  RegKey& hklm = registry.HKLM();
  const NodeCounts counts = SplitNodes(nodes);
  AddSoftware(hklm);
  AddServices(hklm);
  SoftwareKeys softwareKeys;
  AddSystemDevices(hklm, softwareKeys);
  const std::size_t highestCom = AddCardDevices(hklm, counts, softwareKeys);
  AddPortDatabases(hklm, highestCom, counts.parallelPorts);
  return registry;
}

}  // namespace orvbench
