// orvcard-op: runs one engine operation, orvcard-op CODE [ARG1 [ARG2]].
#include <cstdio>

#include "frontend/host.h"
#include "frontend/op_code.h"
#include "frontend/program_args.h"
#include "frontend/run_operation.h"
#include "platform/text.h"

namespace {

constexpr int kExitUsage = 64;

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
  const std::optional<orv::DWORD> code =
      argc >= 2 && argc <= 4 ? orv::ParseOperationCode(orv::Utf16ToUtf8(ArgumentText(argv[1])))
                             : std::nullopt;
  if (!code) {
    std::fprintf(stderr,
                 "usage: orvcard-op CODE [ARG1 [ARG2]]\n"
                 "  CODE is the operation code, hexadecimal (0x4000) or decimal (16384)\n");
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
