#include "tests/support/device_images.h"

#include <cstdio>

#include "platform/text.h"

namespace testing_support {

namespace {

constexpr const char* kEnumRoot = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\";
constexpr const char* kClassRoot =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr const char* kPortsClass = "{4d36e978-e325-11ce-bfc1-08002be10318}";

std::string MemberPath(const char* device, int member) {
  char path[96];
  std::snprintf(path, sizeof path, "%s\\%04d", device, member);
  return path;
}

std::u16string Wide(const std::string& text) {
  return orv::Utf8ToUtf16(text);
}

}  // namespace

std::string Quote(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') {
      quoted.push_back('\\');
    }
    quoted.push_back(c);
  }
  return quoted + "\"";
}

std::string HexLine(int type, const std::vector<std::uint8_t>& bytes) {
  std::string line = type == 3 ? "hex:" : "hex(" + std::to_string(type) + "):";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", bytes[i]);
    line += (i == 0 ? "" : ",") + std::string(byte);
  }
  return line;
}

std::vector<std::uint8_t> Utf16Bytes(const std::string& text, std::size_t bytes) {
  std::vector<std::uint8_t> data;
  for (char16_t c : Wide(text)) {
    data.push_back(static_cast<std::uint8_t>(c & 0xFF));
    data.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  data.push_back(0);
  data.push_back(0);
  if (data.size() < bytes) {
    data.resize(bytes, 0);
  }
  return data;
}

std::string DeviceImage(const DeviceNode& node) {
  const std::string instance = kEnumRoot + node.path;
  const std::string hardwareId = node.path.substr(0, node.path.rfind('\\'));
  const std::string driver =
      std::string(kPortsClass) + "\\" + node.path.substr(node.path.rfind('\\') + 1);
  std::string image = "[" + instance + "]\n";
  std::vector<std::uint8_t> ids = Utf16Bytes(hardwareId);
  ids.push_back(0);
  ids.push_back(0);
  image += "\"HardwareID\"=" + HexLine(7, ids) + "\n";
  image += "\"ClassGUID\"=" + Quote(kPortsClass) + "\n";
  if (node.location) {
    image += "\"LocationInformation\"=" + Quote(*node.location) + "\n";
  }
  if (node.portName) {
    image += "\"FriendlyName\"=" + Quote("Port (" + *node.portName + ")") + "\n";
  }
  image += "\"Driver\"=" + Quote(driver) + "\n" + node.extraInstanceLines + "\n";
  if (node.hasDeviceParameters) {
    image += "[" + instance + "\\Device Parameters]\n";
    if (node.portName) {
      image += "\"PortName\"=" + Quote(*node.portName) + "\n";
    }
    image += node.extraParameterLines + "\n";
  }
  if (node.present) {
    image += "[" + instance + "\\Control]\n\n";
  }
  image += "[" + std::string(kClassRoot) + driver + "]\n\"DriverDesc\"=\"Port\"\n\n";
  return image;
}

std::string ParallelPortPath(int member) {
  return MemberPath("ORVPCARD_ENUM\\ORVPCARD_PARPECP", member);
}
std::string SerialPortPath(int member) {
  return MemberPath("ORVPCARD_ENUM\\ORVPCARD_SERP", member);
}
std::string PrinterPath(int member) {
  return MemberPath("LPTENUM\\ORVPRINTER", member);
}

std::string ParallelPortMapImage(const std::vector<std::string>& texts) {
  std::string image = "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\PARALLEL PORTS]\n";
  for (std::size_t e = 0; e < texts.size(); ++e) {
    image += Quote("\\Device\\Parallel" + std::to_string(e)) + "=" + Quote(texts[e]) + "\n";
  }
  return image + "\n";
}

std::string ComDbImage(const std::vector<int>& reserved, int bytes) {
  std::vector<std::uint8_t> bitmap(static_cast<std::size_t>(bytes), 0);
  for (int n : reserved) {
    bitmap[static_cast<std::size_t>((n - 1) / 8)] |= static_cast<std::uint8_t>(1 << ((n - 1) % 8));
  }
  return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter]\n\"ComDB\"=" +
         HexLine(3, bitmap) + "\n\n";
}

std::string VersionImage(const std::string& version, const std::string& productType,
                         const std::string& architecture) {
  std::string image = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n";
  const std::size_t dot = version.find('.');
  const int major = std::stoi(version.substr(0, dot));
  if (major >= 10) {
    // From Windows 10 on the version is in two DWORDs; CurrentVersion stays "6.3".
    char numbers[128];
    std::snprintf(
        numbers, sizeof numbers,
        "\"CurrentMajorVersionNumber\"=dword:%08x\n\"CurrentMinorVersionNumber\"=dword:%08x\n",
        major, std::stoi(version.substr(dot + 1)));
    image += numbers + std::string("\"CurrentVersion\"=\"6.3\"\n");
  } else {
    image += "\"CurrentVersion\"=" + Quote(version) + "\n";
  }
  return image +
         "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ProductOptions]\n"
         "\"ProductType\"=" +
         Quote(productType) +
         "\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
         "Manager\\Environment]\n\"PROCESSOR_ARCHITECTURE\"=" +
         Quote(architecture) + "\n\n";
}

std::u16string InstanceKey(const std::string& path) {
  return u"SYSTEM\\CurrentControlSet\\Enum\\" + Wide(path);
}
std::u16string ParametersKey(const std::string& path) {
  return InstanceKey(path) + u"\\Device Parameters";
}
std::u16string ControlKey(const std::string& path) {
  return InstanceKey(path) + u"\\Control";
}

std::uint32_t RestartCount(SimMachine& sim, const std::string& path) {
  const std::vector<std::uint8_t> data = sim.Bytes(ControlKey(path), u"RestartCount");
  std::uint32_t count = 0;
  for (std::size_t i = 0; i < data.size() && i < 4; ++i) {
    count |= static_cast<std::uint32_t>(data[i]) << (8 * i);
  }
  return count;
}

bool DeviceExists(SimMachine& sim, const std::string& path) {
  return sim.Key(InstanceKey(path)) != nullptr;
}

std::vector<std::uint8_t> MapValue(SimMachine& sim, int e) {
  return sim.Bytes(kParallelPortMapKey, u"\\Device\\Parallel" + Wide(std::to_string(e)));
}

}  // namespace testing_support
