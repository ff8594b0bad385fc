#include "tests/support/sim_fixture.h"

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <random>
#include <sstream>

#include "platform/text.h"

namespace testing_support {

namespace {

std::filesystem::path FreshTempDir(const std::string& prefix = "orvcard-test-") {
  std::random_device random;
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              (prefix + std::to_string(random()) + "-" + std::to_string(random()));
  std::filesystem::create_directories(dir);
  return dir;
}

bool IsOneOf(const std::string& api, const std::vector<std::string>& apis) {
  return apis.empty() || std::find(apis.begin(), apis.end(), api) != apis.end();
}

}  // namespace

TempFolder::TempFolder(const std::string& prefix) : OwnedFolder(FreshTempDir(prefix)) {}

void PrintTo(const Call& call, std::ostream* out) {
  *out << call.api << "(" << call.args << ") = " << call.result;
  if (!call.device.empty()) {
    *out << " [" << call.device << "]";
  }
}

SimMachine::SimMachine(const std::string& image, std::u16string currentDirectory, bool x86Process)
    : driveC_(FreshTempDir() / "drive_c") {
  std::filesystem::create_directories(driveC_ / "work");
  std::filesystem::create_directories(driveC_ / "Windows" / "inf");
  std::string text = image.rfind("Windows Registry Editor", 0) == 0 ? image : kImageHeader + image;
  machine_ = winsim::Machine::FromImage(text, driveC_);
  winsim::SimOptions options;
  options.currentDirectory = std::move(currentDirectory);
  options.x86Process = x86Process;
  api_ = std::make_unique<winsim::SimWindows>(*machine_, options);
}

SimMachine::~SimMachine() {
  api_.reset();
  machine_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(driveC_.parent_path(), ignored);
}

winsim::RegKey* SimMachine::Key(std::u16string_view path) {
  return winsim::Registry::Open(registry().HKLM(), path);
}

std::vector<std::uint8_t> SimMachine::Bytes(std::u16string_view keyPath,
                                            std::u16string_view value) {
  winsim::RegKey* key = Key(keyPath);
  const winsim::RegValue* found = key == nullptr ? nullptr : key->FindValue(value);
  return found == nullptr ? std::vector<std::uint8_t>{} : testing_support::BytesOf(found->data());
}

std::u16string SimMachine::Text(std::u16string_view keyPath, std::u16string_view value) {
  return TextOf(Bytes(keyPath, value));
}

bool SimMachine::HasValue(std::u16string_view keyPath, std::u16string_view value) {
  winsim::RegKey* key = Key(keyPath);
  return key != nullptr && key->FindValue(value) != nullptr;
}

void SimMachine::WriteFile(const std::string& relativePath, const std::string& bytes) {
  std::filesystem::path path = driveC_ / relativePath;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> SimMachine::Calls(const std::vector<std::string>& apis) const {
  std::vector<std::string> lines;
  for (const winsim::TraceEntry& entry : api_->trace()) {
    if (IsOneOf(entry.api, apis)) {
      lines.push_back(entry.Line());
    }
  }
  return lines;
}

std::vector<Call> SimMachine::CallsTo(const std::vector<std::string>& apis) const {
  std::vector<Call> calls;
  for (const winsim::TraceEntry& entry : api_->trace()) {
    if (IsOneOf(entry.api, apis)) {
      calls.push_back({entry.api, entry.args, entry.result, entry.device});
    }
  }
  return calls;
}

std::string StepOf(const Call& call) {
  return call.device.empty() ? call.api : call.api + " " + call.device;
}

std::vector<std::string> CallSteps(const SimMachine& sim, const std::vector<std::string>& apis) {
  std::vector<std::string> steps;
  for (const Call& call : sim.CallsTo(apis)) {
    steps.push_back(StepOf(call));
  }
  return steps;
}

std::u16string TextOf(const std::vector<std::uint8_t>& bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char16_t c = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
    if (c == 0) {
      break;
    }
    text.push_back(c);
  }
  return text;
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  before_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = before_;
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, handler_);
}

std::vector<std::uint8_t> BytesOf(std::span<const std::uint8_t> data) {
  return {data.begin(), data.end()};
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string EnvironmentImage(const std::string& values) {
  return "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session "
         "Manager\\Environment]\n" +
         values;
}

std::filesystem::path SamplePackages() {
  return std::filesystem::path(ORVCARD_SOURCE_DIR) / "samples" / "packages";
}

std::string DumpRegistry(const winsim::Registry& registry) {
  std::ostringstream out;
  const auto dumpKey = [&](const auto& self, const winsim::RegKey& key) -> void {
    out << orv::Utf16ToUtf8(key.Path()) << "\n";
    for (const winsim::RegValue& value : key.values()) {
      out << "  [" << orv::Utf16ToUtf8(value.name()) << "] " << value.type() << " "
          << value.data().size() << ":";
      for (std::uint8_t b : value.data()) {
        out << " " << static_cast<int>(b);
      }
      out << "\n";
    }
    for (const winsim::RegKey* subkey : key.Subkeys()) {
      self(self, *subkey);
    }
  };
  for (const winsim::RegKey* root : registry.Roots()) {
    dumpKey(dumpKey, *root);
  }
  return out.str();
}

}  // namespace testing_support
