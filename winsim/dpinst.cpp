#include "winsim/dpinst.h"

#include <algorithm>

#include "winsim/file_space.h"

namespace winsim {

InstallerOptions ParseInstallerOptions(const std::vector<std::u16string>& args) {
  static constexpr std::u16string_view kIgnored[] = {u"a", u"c",  u"d",  u"el", u"hd",
                                                     u"p", u"sa", u"se", u"sh", u"sw"};
  InstallerOptions options;
  for (std::size_t i = 0; i < args.size() && options.invalid.empty(); ++i) {
    const std::u16string& arg = args[i];
    const std::u16string_view name = arg.size() > 1 && (arg[0] == u'/' || arg[0] == u'-')
                                         ? std::u16string_view(arg).substr(1)
                                         : std::u16string_view();
    const bool hasValue = i + 1 < args.size();
    if (SameName(name, u"s")) {
      options.silent = true;
    } else if (SameName(name, u"q")) {
      options.quiet = true;
    } else if (SameName(name, u"lm")) {
      options.legacyMode = true;
    } else if (SameName(name, u"f")) {
      options.force = true;
    } else if (SameName(name, u"u") && hasValue) {
      options.uninstallInf = args[++i];
    } else if (SameName(name, u"path") && hasValue) {
      options.path = args[++i];
    } else if (name.empty() ||
               std::none_of(std::begin(kIgnored), std::end(kIgnored),
                            [&](std::u16string_view known) { return SameName(name, known); })) {
      options.invalid = arg;
    }
  }
  return options;
}

orv::DWORD InstallerExitStatus(unsigned installed, unsigned storeOnly, unsigned failed,
                               bool restart) {
  const orv::DWORD flags = (failed != 0 ? 0x80u : 0u) | (restart ? 0x40u : 0u);
  return flags << 24 | std::min(failed, 0xFFu) << 16 | std::min(storeOnly, 0xFFu) << 8 |
         std::min(installed, 0xFFu);
}

}  // namespace winsim
