// The built-in sample machine: a Windows 7 x64 workstation with an ORVEK multi-I/O card (four
// serial and two parallel ports), an onboard serial and parallel port, a printer on the card's
// first parallel port and a monitor.
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "winsim/machine.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"

namespace winsim {

namespace {

constexpr std::u16string_view kPortsClass = u"{4d36e978-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kPrinterClass = u"{4d36e979-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kMonitorClass = u"{4d36e96e-e325-11ce-bfc1-08002be10318}";
constexpr std::u16string_view kStandardPorts = u"(Standard port types)";
constexpr std::u16string_view kStandardMonitors = u"(Standard monitor types)";

void SetSz(RegKey& key, std::u16string_view name, std::u16string_view text) {
  key.SetValue(name, orv::REG_SZ, StringData(text));
}

void SetExpandSz(RegKey& key, std::u16string_view name, std::u16string_view text) {
  key.SetValue(name, orv::REG_EXPAND_SZ, StringData(text));
}

void SetDword(RegKey& key, std::u16string_view name, std::uint32_t number) {
  key.SetValue(name, orv::REG_DWORD, DwordData(number));
}

struct Device {
  std::u16string instance;  // <enumerator>\<device>\<instance>
  std::vector<std::u16string> hardwareIds;
  std::u16string_view classGuid;
  std::u16string driverIndex;  // the software key below Control\Class\<classGuid>
  std::u16string description;  // DeviceDesc, and DriverDesc of the software key
  std::u16string friendlyName;
  std::u16string location;    // empty: no LocationInformation
  std::u16string portName;    // empty: no PortName
  std::u16string_view maker;  // Mfg, and ProviderName of the software key
  bool present;
};

// The device instance key (with its Device Parameters and, when present, Control subkeys) and
// the device's software key.
void AddDevice(RegKey& hklm, const Device& device) {
  const std::u16string driver = std::u16string(device.classGuid) + u"\\" + device.driverIndex;
  RegKey& instance = Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Enum\\" + device.instance);
  instance.SetValue(u"HardwareID", orv::REG_MULTI_SZ, MultiStringData(device.hardwareIds));
  SetSz(instance, u"ClassGUID", device.classGuid);
  SetSz(instance, u"DeviceDesc", device.description);
  if (!device.location.empty()) {
    SetSz(instance, u"LocationInformation", device.location);
  }
  SetSz(instance, u"FriendlyName", device.friendlyName);
  SetSz(instance, u"Driver", driver);
  SetSz(instance, u"Mfg", device.maker);
  RegKey& parameters = instance.CreateSubkey(u"Device Parameters");
  if (!device.portName.empty()) {
    SetSz(parameters, u"PortName", device.portName);
    if (device.portName.starts_with(u"COM")) {
      SetDword(parameters, u"PollingPeriod", 0);
    }
  }
  if (device.present) {
    instance.CreateSubkey(u"Control");
  }

  RegKey& software =
      Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\Class\\" + driver);
  SetSz(software, u"DriverDesc", device.description);
  SetSz(software, u"ProviderName", device.maker);
  SetSz(software, u"DriverVersion", u"1.0.0.0");
  SetSz(software, u"MatchingDeviceId", device.hardwareIds.front());
}

std::u16string Digit(int n) {
  return std::u16string(1, static_cast<char16_t>(u'0' + n));
}

// The devices beside the card: onboard LPT1 and COM1, a printer at LPT3, two monitors.
std::vector<Device> OtherDevices() {
  return {
      {u"ACPI\\PNP0401\\1",
       {u"ACPI\\PNP0401", u"*PNP0401"},
       kPortsClass,
       u"0000",
       u"ECP Printer Port",
       u"ECP Printer Port (LPT1)",
       u"ISA bus",
       u"LPT1",
       kStandardPorts,
       true},
      {u"ACPI\\PNP0501\\1",
       {u"ACPI\\PNP0501", u"*PNP0501"},
       kPortsClass,
       u"0001",
       u"Communications Port",
       u"Communications Port (COM1)",
       u"ISA bus",
       u"COM1",
       kStandardPorts,
       true},
      {u"LPTENUM\\OrvekTestPrinter\\5&2a1b3c4d&0&LPT3",
       {u"LPTENUM\\OrvekTestPrinter", u"OrvekTestPrinter"},
       kPrinterClass,
       u"0000",
       u"ORVEK Test Printer",
       u"ORVEK Test Printer",
       u"LPT3",
       u"",
       u"ORVEK",
       true},
      {u"DISPLAY\\Default_Monitor\\4&1f2e3d4c&0&UID0",
       {u"MONITOR\\Default_Monitor"},
       kMonitorClass,
       u"0000",
       u"Generic PnP Monitor",
       u"Generic PnP Monitor",
       u"",
       u"",
       kStandardMonitors,
       true},
      {u"DISPLAY\\Default_Monitor\\4&1f2e3d4c&0&UID1",
       {u"MONITOR\\Default_Monitor"},
       kMonitorClass,
       u"0001",
       u"Generic PnP Monitor",
       u"Generic PnP Monitor (not connected)",
       u"",
       u"",
       kStandardMonitors,
       false},
  };
}

// The card's ports, in port order: serial ports whose COM numbers are out of order, and
// parallel ports after the onboard LPT1.
void AddCardPorts(std::vector<Device>& devices) {
  struct CardPort {
    std::u16string_view hardwareId;
    std::u16string_view model;
    std::u16string_view portName;
    int port;  // among the ports of its kind, from 0
  };
  static constexpr CardPort kPorts[] = {
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP", u"ORVEK COM Port", u"COM5", 0},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP", u"ORVEK COM Port", u"COM3", 1},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP", u"ORVEK COM Port", u"COM6", 2},
      {u"ORVPCARD_ENUM\\ORVPCARD_SERP", u"ORVEK COM Port", u"COM4", 3},
      {u"ORVPCARD_ENUM\\ORVPCARD_PARPECP", u"ORVEK LPT Port", u"LPT3", 0},
      {u"ORVPCARD_ENUM\\ORVPCARD_PARPECP", u"ORVEK LPT Port", u"LPT4", 1},
  };
  int driverIndex = 2;  // after the onboard ports' software keys
  for (const CardPort& card : kPorts) {
    const std::u16string hardwareId(card.hardwareId);
    const std::u16string model(card.model);
    const std::u16string name(card.portName);
    devices.push_back({hardwareId + u"\\000" + Digit(card.port),
                       {hardwareId},
                       kPortsClass,
                       u"000" + Digit(driverIndex++),
                       model,
                       model + u" (" + name + u")",
                       model + u" " + Digit(card.port + 1),
                       name,
                       u"ORVEK",
                       true});
  }
}

void AddDevices(RegKey& hklm) {
  std::vector<Device> devices = OtherDevices();
  AddCardPorts(devices);
  for (const Device& device : devices) {
    AddDevice(hklm, device);
  }
  RegKey& ports = Registry::Create(
      hklm, u"SYSTEM\\CurrentControlSet\\Control\\Class\\" + std::u16string(kPortsClass));
  ports.SetValue(u"", orv::REG_SZ, StringData(u"Ports (COM & LPT)"));
  SetSz(ports, u"Class", u"Ports");
  SetSz(Registry::Create(
            hklm, u"SYSTEM\\CurrentControlSet\\Control\\Class\\" + std::u16string(kPrinterClass)),
        u"Class", u"Printer");
  SetSz(Registry::Create(
            hklm, u"SYSTEM\\CurrentControlSet\\Control\\Class\\" + std::u16string(kMonitorClass)),
        u"Class", u"Monitor");
}

void AddSystem(RegKey& hklm) {
  RegKey& version = Registry::Create(hklm, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
  SetSz(version, u"CurrentVersion", u"6.1");
  SetSz(version, u"CurrentBuildNumber", u"7601");
  SetSz(version, u"CSDVersion", u"Service Pack 1");
  SetSz(version, u"ProductName", u"Windows 7 Professional");
  SetSz(version, u"SystemRoot", u"C:\\Windows");

  RegKey& windows = Registry::Create(hklm, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion");
  SetSz(windows, u"ProgramFilesDir", u"C:\\Program Files");
  SetExpandSz(windows, u"DevicePath", u"%SystemRoot%\\inf");
  RegKey& product = Registry::Create(windows, u"Uninstall\\{6A0F3C2E-5B1D-4E7A-9C84-2D3F1B0E7A51}");
  SetSz(product, u"DisplayName", u"Sample Text Editor");
  SetSz(product, u"DisplayVersion", u"2.4.1");
  SetSz(product, u"Publisher", u"Example Software");
  SetSz(product, u"UninstallString", u"\"C:\\Program Files\\Sample Text Editor\\uninstall.exe\"");
  // The 32-bit view of SOFTWARE that 64-bit Windows keeps for x86 programs.
  RegKey& windows32 =
      Registry::Create(hklm, u"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion");
  SetSz(windows32, u"ProgramFilesDir", u"C:\\Program Files (x86)");
  Registry::Create(windows32, u"Uninstall");

  SetSz(Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\ProductOptions"),
        u"ProductType", u"WinNT");

  RegKey& environment =
      Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment");
  SetExpandSz(environment, u"ComSpec", u"%SystemRoot%\\system32\\cmd.exe");
  SetSz(environment, u"NUMBER_OF_PROCESSORS", u"2");
  SetSz(environment, u"OS", u"Windows_NT");
  SetExpandSz(environment, u"Path", u"%SystemRoot%\\system32;%SystemRoot%");
  SetSz(environment, u"PATHEXT", u".COM;.EXE;.BAT;.CMD");
  SetSz(environment, u"PROCESSOR_ARCHITECTURE", u"AMD64");
  SetSz(environment, u"SystemDrive", u"C:");
  SetSz(environment, u"SystemRoot", u"C:\\Windows");
  SetExpandSz(environment, u"TEMP", u"%SystemRoot%\\TEMP");
  SetExpandSz(environment, u"windir", u"%SystemRoot%");
}

void AddPortMaps(RegKey& hklm) {
  // COM1, COM3, COM4, COM5 and COM6 are reserved: bit (n-1) % 8 of byte (n-1) / 8.
  std::vector<std::uint8_t> comDb(32, 0);
  for (int n : {1, 3, 4, 5, 6}) {
    comDb[static_cast<std::size_t>(n - 1) / 8] |= static_cast<std::uint8_t>(1 << ((n - 1) % 8));
  }
  Registry::Create(hklm, u"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter")
      .SetValue(u"ComDB", orv::REG_BINARY, std::move(comDb));

  RegKey& parallel = Registry::Create(hklm, u"HARDWARE\\DEVICEMAP\\PARALLEL PORTS");
  SetSz(parallel, u"\\Device\\Parallel0", u"\\DosDevices\\LPT1");
  SetSz(parallel, u"\\Device\\Parallel1", u"\\DosDevices\\LPT3");
  SetSz(parallel, u"\\Device\\Parallel2", u"\\DosDevices\\LPT4");
}

}  // namespace

std::string SampleMachineImage() {
  Registry registry;
  RegKey& hklm = registry.HKLM();
  AddSystem(hklm);
  AddDevices(hklm);
  AddPortMaps(hklm);
  return WriteRegImage(registry);
}

}  // namespace winsim
