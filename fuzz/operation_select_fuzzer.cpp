// The command line and the response-file arguments: fuzzed argument vectors (decoded from UTF-8
// as the programs decode theirs) go through the operation selection, the operation-code
// argument of orvcard-op, and the dispatcher with its response file on the sample machine.
//
// Input: one mode byte, then up to three arguments separated by zero bytes.
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/op_code.h"
#include "frontend/operation_select.h"
#include "frontend/program_args.h"
#include "frontend/run_operation.h"
#include "fuzz/fuzz_support.h"
#include "platform/text.h"
#include "winsim/reg_codec.h"

namespace {

namespace fs = std::filesystem;
using fuzzing::Check;

// The operation code a command line must select.
orv::DWORD ExpectedSelection(const std::vector<std::u16string>& arguments) {
  if (arguments.empty()) {
    return orv::kOpRemapParallelPorts;
  }
  if (arguments.size() == 1 && arguments[0] == u"-RemoveDeviceNode") {
    return orv::kOpReleaseAndRemoveSerialPorts;
  }
  if (arguments.size() == 1 && arguments[0] == u"-RemoveCOMdb") {
    return orv::kOpReleaseSerialPortNumbers;
  }
  return 0;
}

// The CODE argument as it must read: 0x and hex digits, or decimal digits, within 32 bits.
std::optional<orv::DWORD> ExpectedCode(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      value > 0xFFFFFFFFu) {
    return std::nullopt;
  }
  return static_cast<orv::DWORD>(value);
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The sample machine with the sample packages in its current directory C:\work.
fuzzing::FuzzMachine& SampleMachine() {
  static fuzzing::FuzzMachine machine(winsim::SampleMachineImage());
  return machine;
}

// Puts back what a response file may have replaced or grown: the programs of drive C: and the
// sample packages.
void RestoreFiles(const fs::path& driveC) {
  winsim::CreateDriveSkeleton(driveC);
  fs::copy(fs::path(ORVCARD_SOURCE_DIR) / "samples" / "packages", driveC / "work",
           fs::copy_options::recursive | fs::copy_options::skip_existing);
}

// The arguments in the input after its first byte: up to three NUL-separated texts, none when
// the input is a single byte.
std::vector<std::u16string> ArgumentsOf(const std::uint8_t* data, std::size_t size) {
  std::vector<std::u16string> arguments;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  for (std::size_t start = 0; start <= rest.size() && arguments.size() < 3 && size > 1;) {
    const std::size_t end = std::min(rest.find('\0', start), rest.size());
    arguments.push_back(orv::Utf8ToUtf16(rest.substr(start, end - start)));
    start = end + 1;
  }
  return arguments;
}

// The response file: the first -f2 argument among arguments 1 and 2 is appended the result when
// the code asks for it and its path fits.
void CheckResponseFile(winsim::SimWindows& api, const std::vector<std::u16string>& arguments,
                       const orv::WCHAR* const* argv, orv::DWORD code, orv::DWORD result) {
  const orv::WCHAR* path = nullptr;
  for (std::size_t i = 0; i < 2 && i < arguments.size() && path == nullptr; ++i) {
    const std::u16string& argument = arguments[i];
    if (argument.size() >= 3 && argument[0] == u'-' && (argument[1] | 0x20) == u'f' &&
        argument[2] == u'2') {
      path = argv[i + 1] + 3;
    }
  }
  const bool written = (code & orv::kOpResponseFile) != 0 && path != nullptr && *path != 0 &&
                       orv::TextLength(path) < orv::kResponsePathChars;
  const std::optional<fs::path> host = api.files().Resolve(path == nullptr ? u"" : path);
  std::error_code error;
  if (written && host && fs::is_regular_file(*host, error)) {
    const std::string expected =
        "[ResponseResult]\r\nResultCode = " + std::to_string(static_cast<int>(result)) + "\r\n";
    const std::string content = ReadFile(*host);
    Check(content.size() >= expected.size() &&
              content.compare(content.size() - expected.size(), expected.size(), expected) == 0,
          "the response file does not end with the result");
    fs::remove(*host, error);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) {
    return 0;
  }
  const std::vector<std::u16string> arguments = ArgumentsOf(data, size);
  for (const std::u16string& argument : arguments) {
    if (fuzzing::NamesHostDrive(argument)) {
      return 0;  // a response file there would be written on the host
    }
  }
  orv::ArgumentVector vector;
  vector.Add(u"orvcard");
  for (const std::u16string& argument : arguments) {
    vector.Add(argument);
  }
  const orv::WCHAR* const* argv = vector.data();

  const orv::DWORD selected = orv::SelectOperation(vector.count(), argv);
  Check(selected == ExpectedSelection(arguments), "SelectOperation");
  if (!arguments.empty()) {
    const std::string code = orv::Utf16ToUtf8(arguments[0]);
    Check(orv::ParseOperationCode(code) == ExpectedCode(code), "ParseOperationCode");
  }

  const orv::DWORD codes[] = {selected, selected | orv::kOpResponseFile, 0x11, 0x12, 0x10};
  const orv::DWORD code = codes[data[0] % std::size(codes)];
  fuzzing::FuzzMachine& machine = SampleMachine();
  RestoreFiles(machine.driveC());
  winsim::SimWindows& api = machine.Fresh();
  const orv::DWORD result = orv::RunOperation(api, code, argv);
  Check(api.OpenHandleCount() == 0, "a handle left open");
  winsim::ParseRegImage(winsim::WriteRegImage(machine.machine().registry()));
  CheckResponseFile(api, arguments, argv, code, result);
  return 0;
}
