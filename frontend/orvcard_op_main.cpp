// orvcard-op: runs one engine operation, orvcard-op CODE [ARG1 [ARG2]].
#include <cstdio>

#include "frontend/host.h"
#include "frontend/op_code.h"
#include "frontend/program_args.h"
#include "frontend/run_operation.h"
#include "platform/text.h"

namespace {

constexpr int kExitUsage = 64;

constexpr const char* kUsage =
    "usage: orvcard-op CODE [ARG1 [ARG2]]\n"
    "  CODE is the operation code, hexadecimal (0x4000) or decimal (16384)\n";

// orvcard-op --help: the usage and every operation code.
constexpr const char* kOperationCodes =
    "\n"
    "  0x1, 0x11        install the driver packages (*.inf) of the current folder and record\n"
    "                   their driver-store paths; on failure, uninstall them again\n"
    "  0x2, 0x12        uninstall the driver packages (*.inf) of the current folder\n"
    "  0x4              run the package installer (DPInst32.exe or DPInst64.exe), then record\n"
    "                   the driver-store paths\n"
    "  0x8              uninstall the recorded packages, then the maker's oem*.inf packages\n"
    "  0x1000           nothing (result 0)\n"
    "  0x2000, 0x3000   as 0x8, but the result is the platform's status, not mapped\n"
    "  0x4000           renumber the card's serial ports (COM numbers)\n"
    "  0x8000           release the serial ports' COM numbers and remove the card's device\n"
    "                   nodes (orvcard -RemoveDeviceNode)\n"
    "  0x10000          restart the display devices\n"
    "  0x20000          release the serial ports' COM numbers (orvcard -RemoveCOMdb)\n"
    "  0x40000          renumber the card's parallel ports (orvcard with no argument)\n"
    "  any other code   print \"Invalid command line option.\" (result 10)\n"
    "\n"
    "Codes with bit 0x10 (0x11, 0x12, ...) append [ResponseResult] and ResultCode = N to\n"
    "the file named by ARG1 or ARG2 of the form -f2PATH. The exit status is the result.\n";

// The program's arguments as UTF-16: UTF-8 on POSIX, wchar_t (UTF-16 already) on Windows.
#ifdef _WIN32
std::u16string ArgumentText(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}
#else
std::u16string ArgumentText(const char* text) {
  return orv::Utf8ToUtf16(text);
}
#endif

template <typename Char>
int RunProgram(int argc, Char** argv) {
  if (argc == 2 && orv::Utf16ToUtf8(ArgumentText(argv[1])) == "--help") {
    std::fputs(kUsage, stdout);
    std::fputs(kOperationCodes, stdout);
    return 0;
  }
  const std::optional<orv::DWORD> code =
      argc >= 2 && argc <= 4 ? orv::ParseOperationCode(orv::Utf16ToUtf8(ArgumentText(argv[1])))
                             : std::nullopt;
  if (!code) {
    std::fprintf(stderr, "%s  orvcard-op --help lists the operation codes\n", kUsage);
    return kExitUsage;
  }
  orv::ArgumentVector arguments;
  arguments.Add(ArgumentText(argv[0]));
  for (int i = 2; i < argc; ++i) {
    arguments.Add(ArgumentText(argv[i]));
  }
  return orv::RunOnHost(
      [&](orv::WindowsApi& api) { return orv::RunOperation(api, *code, arguments.data()); });
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  return RunProgram(argc, argv);
}
#else
int main(int argc, char** argv) {
  return RunProgram(argc, argv);
}
#endif
