// A stand-in for the package installer DPInst, for the Windows end-to-end test. It appends one
// line per run to dpinst-calls.log beside itself: the file name it was started as and each
// argument it received in brackets, e.g. "DPInst.exe [/s] [/u] [C:\x\y.inf]". It then exits
// with the number in the environment variable ORV_FAKE_DPINST_EXIT (decimal or 0x-hex), or 0.
#include <windows.h>

#include <cwchar>
#include <string>

#include "tests/wine/fake_log.h"

int wmain(int argc, wchar_t** argv) {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring self(module, length);
  const std::size_t slash = self.find_last_of(L'\\');

  std::wstring line = self.substr(slash + 1);
  for (int i = 1; i < argc; ++i) {
    line += L" [";
    line += argv[i];
    line += L"]";
  }
  if (!fake::AppendLine(self.substr(0, slash + 1) + L"dpinst-calls.log", line)) {
    return 254;
  }

  wchar_t exitText[32];
  const DWORD exitLength = ::GetEnvironmentVariableW(L"ORV_FAKE_DPINST_EXIT", exitText, 32);
  if (exitLength == 0 || exitLength >= 32) {
    return 0;
  }
  return static_cast<int>(std::wcstoul(exitText, nullptr, 0));
}
