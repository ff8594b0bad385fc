// The vendor search over the text window of a published INF: the fuzz input is
// C:\Windows\inf\oem1.inf of the sample machine. Each of the maker's names is found exactly when
// it lies in the first 65535 bytes before the first zero byte, and the vendor clean-up that
// reads the same file ends with every handle closed.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "packages/vendor_cleanup.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kWindowBytes = 0xFFFF;
constexpr orv::DWORD kNotNamed = 13;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzzing::Check;
  static fuzzing::FuzzMachine machine(winsim::SampleMachineImage());
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(machine.driveC() / "Windows" / "inf" / "oem1.inf", std::ios::binary) << bytes;

  std::string_view window = bytes.substr(0, std::min(size, kWindowBytes));
  window = window.substr(0, window.find('\0'));
  winsim::SimWindows& api = machine.Fresh();
  for (const char* vendor : {"Orvek Co., Ltd.", "ORVEK Co., Ltd.", "ORVEK GROUP", ""}) {
    const std::u16string wide = orv::Utf8ToUtf16(vendor);
    const orv::DWORD status =
        orv::InfNamesVendor(api, u"C:\\Windows\\inf", u"oem1.inf", wide.c_str());
    const bool named = window.find(vendor) != std::string_view::npos;
    Check(status == (named ? 0 : kNotNamed), "InfNamesVendor disagrees with a plain search");
  }
  Check(api.OpenHandleCount() == 0, "a handle left open by the vendor search");

  const orv::DWORD cleanup = orv::RemoveVendorPackages(api);
  Check(cleanup != kNotNamed, "the clean-up did not list the published INF");
  Check(api.OpenHandleCount() == 0, "a handle left open by the clean-up");
  return 0;
}
