// orvcard-op: runs one engine operation, orvcard-op CODE [ARG1 [ARG2]].
#include <cstdio>

#include "frontend/host.h"
#include "frontend/op_code.h"
#include "frontend/program_args.h"
#include "frontend/run_operation.h"
#include "platform/text.h"

namespace {
constexpr int kExitUsage = 64;
}

int main(int argc, char** argv) {
  const std::optional<orv::DWORD> code =
      argc >= 2 && argc <= 4 ? orv::ParseOperationCode(argv[1]) : std::nullopt;
  if (!code) {
    std::fprintf(stderr,
                 "usage: orvcard-op CODE [ARG1 [ARG2]]\n"
                 "  CODE is the operation code, hexadecimal (0x4000) or decimal (16384)\n");
    return kExitUsage;
  }
  orv::ArgumentVector arguments;
  arguments.Add(orv::Utf8ToUtf16(argv[0]));
  for (int i = 2; i < argc; ++i) {
    arguments.Add(orv::Utf8ToUtf16(argv[i]));
  }
  return orv::RunOnHost(
      [&](orv::WindowsApi& api) { return orv::RunOperation(api, *code, arguments.data()); });
}
