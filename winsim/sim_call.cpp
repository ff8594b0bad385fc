#include "winsim/sim_call.h"

#include "platform/trace_text.h"

namespace winsim {

CallArg TextArg(const orv::WCHAR* text) {
  return text == nullptr ? CallArg{"null", std::nullopt, std::nullopt}
                         : TextArg(std::u16string_view(text));
}

CallArg TextArg(std::u16string_view text) {
  return {orv::Quoted(text), text, std::nullopt};
}

CallArg HexArg(orv::DWORD number) {
  return {orv::Hex(number), std::nullopt, number};
}

CallArg DecimalArg(orv::DWORD number) {
  return {std::to_string(number), std::nullopt, number};
}

CallArg ShownArg(std::string shown) {
  return {std::move(shown), std::nullopt, std::nullopt};
}

std::string Call::ArgsText() const {
  std::string text;
  for (const CallArg& arg : args) {
    if (&arg != args.data()) {
      text += ", ";
    }
    text += arg.shown;
  }
  return text;
}

}  // namespace winsim
