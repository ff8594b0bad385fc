// orvcard: the tool's command line.
#include "frontend/host.h"
#include "frontend/operation_select.h"
#include "frontend/program_args.h"
#include "platform/text.h"

#ifdef _WIN32
// The wide argument vector as Windows split it; wchar_t is UTF-16 there, so it is handed on
// unchanged, with its closing null pointer.
int wmain(int argc, wchar_t** argv) {
  const auto* arguments = reinterpret_cast<const orv::WCHAR* const*>(argv);
  return orv::RunOnHost(
      [&](orv::WindowsApi& api) { return orv::RunCommandLineEntry(api, argc, arguments); });
}
#else
int main(int argc, char** argv) {
  orv::ArgumentVector arguments;
  for (int i = 0; i < argc; ++i) {
    arguments.Add(orv::Utf8ToUtf16(argv[i]));
  }
  return orv::RunOnHost([&](orv::WindowsApi& api) {
    return orv::RunCommandLineEntry(api, arguments.count(), arguments.data());
  });
}
#endif
