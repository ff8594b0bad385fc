// The decimal conversion of port numbers, over texts in buffers of exactly their capacity (no
// terminator unless the input has one), so that a read past the capacity is an ASan report.
// Each result is compared with strtol over the same characters, and a number formatted into a
// port name reads back as itself.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/device_calls.h"
#include "platform/text.h"

namespace {

// What the conversion must give for `units`: strtol in base 10 over the text up to its first
// NUL, every non-ASCII unit standing for a character that is neither blank, sign nor digit,
// clamped to the 32-bit range.
int Expected(std::u16string_view units) {
  std::string text;
  for (char16_t c : units) {
    if (c == 0) {
      break;
    }
    text.push_back(c < 0x80 ? static_cast<char>(c) : 'x');
  }
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzzing::Check;
  if (size < 1) {
    return 0;
  }
  const std::size_t index = data[0] % 24;
  const std::u16string units = fuzzing::Utf16Of(data + 1, size - 1);
  const std::size_t capacity = units.size();
  const std::unique_ptr<orv::WCHAR[]> buffer(new orv::WCHAR[capacity]);
  std::copy(units.begin(), units.end(), buffer.get());

  Check(orv::TextToInt(buffer.get(), capacity) == Expected(units), "TextToInt");

  const std::size_t length = orv::TextLength(buffer.get(), capacity);
  const int fromIndex = orv::NumberFromIndex(buffer.get(), capacity, index);
  Check(fromIndex == (length > index ? Expected(std::u16string_view(units).substr(index)) : 0),
        "NumberFromIndex");

  // A number written as a port name reads back from index 3, as the operations rely on.
  orv::WCHAR name[16];
  const int written = orv::FormatText(name, std::size(name), u"COM%d", {fromIndex});
  Check(written > 3 && orv::NumberFromIndex(name, std::size(name), 3) == fromIndex,
        "a formatted port name does not read back");
  return 0;
}
