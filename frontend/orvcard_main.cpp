// orvcard: the tool's command line.
#include "frontend/command_line.h"
#include "frontend/host.h"
#include "frontend/program_args.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  orv::ArgumentVector arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.Add(orv::Utf8ToUtf16(argv[i]));
  }
  return orv::RunOnHost([&](orv::WindowsApi& api) {
    return orv::RunCommandLineEntry(api, arguments.count(), arguments.data());
  });
}
