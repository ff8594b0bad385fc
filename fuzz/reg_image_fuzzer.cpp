// The registry image reader: any bytes either read or fail with a line inside the text; the
// reader over a stream agrees with the one over the whole text; whatever reads saves (as a run
// saves it, in pieces) into an image that reads back to the same registry, key for key and
// value for value; and the canonical form reads back to itself, from UTF-8 and from UTF-16.
#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "winsim/reg_codec.h"

namespace {

// The canonical image the bytes read to, or "error N" for a malformed image failing on line N.
template <typename Source>
std::string Outcome(Source&& source, int lines) {
  using fuzzing::Check;
  winsim::Registry registry;
  try {
    winsim::ReadRegImage(source, registry);
  } catch (const winsim::RegFormatError& error) {
    Check(error.line() >= 0 && error.line() <= lines, "error line outside the image");
    Check(*error.what() != 0, "error without a problem text");
    return "error " + std::to_string(error.line());
  }
  return winsim::WriteRegImage(registry);
}

// True when the two registries hold the same keys (same names, same order) with the same values
// (name, type and data, in order). The walk keeps its own list, as deep as the trees are.
bool SameRegistry(const winsim::Registry& a, const winsim::Registry& b) {
  std::vector<std::pair<const winsim::RegKey*, const winsim::RegKey*>> pending;
  const std::vector<winsim::RegKey*> rootsA = a.Roots();
  const std::vector<winsim::RegKey*> rootsB = b.Roots();
  for (std::size_t i = 0; i < rootsA.size(); ++i) {
    pending.emplace_back(rootsA[i], rootsB[i]);
  }
  while (!pending.empty()) {
    const auto [x, y] = pending.back();
    pending.pop_back();
    if (x->name() != y->name() || x->values().size() != y->values().size() ||
        x->SubkeyCount() != y->SubkeyCount()) {
      return false;
    }
    for (std::size_t i = 0; i < x->values().size(); ++i) {
      if (x->values()[i] != y->values()[i]) {
        return false;
      }
    }
    std::size_t px = 0;
    std::size_t py = 0;
    while (const winsim::RegKey* subkey = x->NextSubkey(px)) {
      pending.emplace_back(subkey, y->NextSubkey(py));
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using fuzzing::Check;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // Each line ends in a line feed (two bytes in UTF-16), so no line lies beyond this.
  const auto lines = static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
  const std::string canonical = Outcome(bytes, lines);
  // One input in four (by its size) also goes through the stream reader, whose set-up costs
  // several small parses. It may meet a different problem of a malformed image first (it cannot
  // see an odd UTF-16 length before the end), but it fails exactly when the text reader fails.
  const bool malformed = canonical.starts_with("error ");
  if (size % 4 == 0) {
    std::istringstream stream{std::string(bytes)};
    const std::string streamed = Outcome(stream, lines);
    Check(malformed ? streamed.starts_with("error ") : streamed == canonical,
          "the stream reader disagrees with the text reader");
  }
  if (malformed) {
    return 0;
  }
  // Saved as a run saves it, the image loads back to the very registry that was loaded.
  const winsim::Registry loaded = winsim::ParseRegImage(bytes);
  std::string saved;
  winsim::WriteRegImage(loaded, [&](std::string_view piece) { saved += piece; });
  winsim::Registry reloaded;
  try {
    winsim::ReadRegImage(saved, reloaded);
  } catch (const winsim::RegFormatError&) {
    Check(false, "the saved image does not load");
  }
  Check(SameRegistry(loaded, reloaded), "the saved image loads back to another registry");
  const winsim::Registry registry = winsim::ParseRegImage(canonical);
  Check(winsim::WriteRegImage(registry) == canonical,
        "the canonical image does not read back to itself");
  Check(winsim::WriteRegImage(winsim::ParseRegImage(winsim::WriteRegImageUtf16(registry))) ==
            canonical,
        "the UTF-16 image does not read back to the canonical one");
  return 0;
}
