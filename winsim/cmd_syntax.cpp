#include "winsim/cmd_syntax.h"

#include <algorithm>

namespace winsim {

namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t';
}

std::u16string_view SkipBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  return text;
}

bool IsSwitch(std::u16string_view token, char16_t letter) {
  return token.size() >= 2 && token[0] == u'/' &&
         (token[1] == letter || token[1] == letter - (u'a' - u'A'));
}

}  // namespace

std::u16string FirstToken(std::u16string_view commandLine, std::u16string_view* rest) {
  std::u16string_view text = SkipBlanks(commandLine);
  std::size_t end;
  std::u16string token;
  if (!text.empty() && text[0] == u'"') {
    const std::size_t close = text.find(u'"', 1);
    token = text.substr(1, close == std::u16string_view::npos ? close : close - 1);
    end = close == std::u16string_view::npos ? text.size() : close + 1;
  } else {
    end = std::min(text.find(u' '), text.find(u'\t'));
    end = end == std::u16string_view::npos ? text.size() : end;
    token = text.substr(0, end);
  }
  if (rest != nullptr) {
    *rest = SkipBlanks(text.substr(end));
  }
  return token;
}

std::vector<std::u16string> SplitArguments(std::u16string_view arguments) {
  std::vector<std::u16string> args;
  std::size_t i = 0;
  while (true) {
    while (i < arguments.size() && IsBlank(arguments[i])) {
      ++i;
    }
    if (i >= arguments.size()) {
      return args;
    }
    std::u16string arg;
    bool quoted = false;
    while (i < arguments.size() && (quoted || !IsBlank(arguments[i]))) {
      std::size_t slashes = 0;
      while (i < arguments.size() && arguments[i] == u'\\') {
        ++slashes;
        ++i;
      }
      if (i < arguments.size() && arguments[i] == u'"') {
        arg.append(slashes / 2, u'\\');
        if (slashes % 2 == 1) {
          arg.push_back(u'"');
        } else if (quoted && i + 1 < arguments.size() && arguments[i + 1] == u'"') {
          arg.push_back(u'"');
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(slashes, u'\\');
        if (i < arguments.size() && (quoted || !IsBlank(arguments[i]))) {
          arg.push_back(arguments[i++]);
        }
      }
    }
    args.push_back(std::move(arg));
  }
}

std::optional<InterpreterRequest> ParseInterpreterSwitches(std::u16string_view arguments) {
  InterpreterRequest request;
  std::u16string_view text = SkipBlanks(arguments);
  while (!text.empty() && text[0] == u'/') {
    if (IsSwitch(text, u'c') || IsSwitch(text, u'k')) {
      request.text = SkipBlanks(text.substr(2));
      return request;
    }
    request.s = request.s || IsSwitch(text, u's');
    std::u16string_view rest;
    FirstToken(text, &rest);
    text = rest;
  }
  return std::nullopt;
}

std::u16string ApplyQuoteRule(std::u16string_view text, bool s,
                              const std::function<bool(std::u16string_view)>& isProgram) {
  if (text.empty() || text[0] != u'"') {
    return std::u16string(text);
  }
  const std::size_t last = text.find_last_of(u'"');
  if (!s && std::count(text.begin(), text.end(), u'"') == 2) {
    const std::u16string_view inside = text.substr(1, last - 1);
    const bool special = inside.find_first_of(u"&<>()@^|") != std::u16string_view::npos;
    const bool blank = std::any_of(inside.begin(), inside.end(), IsBlank);
    if (!special && blank && isProgram(inside)) {
      return std::u16string(text);
    }
  }
  if (last == 0) {
    return std::u16string(text.substr(1));  // a lone quote: only the first character goes
  }
  return std::u16string(text.substr(1, last - 1)) + std::u16string(text.substr(last + 1));
}

std::u16string ReplacePercentRefs(std::u16string_view text, const PercentLookup& lookup) {
  std::u16string out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find(u'%', at);
    const std::size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
    if (close == std::u16string_view::npos) {
      out += text.substr(at);
      break;
    }
    out += text.substr(at, open - at);
    std::optional<std::u16string> value = lookup(text.substr(open + 1, close - open - 1));
    if (value) {
      out += *value;
      at = close + 1;
    } else {
      out += text.substr(open, close - open);
      at = close;
    }
  }
  return out;
}

std::u16string ExpandVariables(std::u16string_view text, const PercentLookup& lookup) {
  return ReplacePercentRefs(
      text, [&](std::u16string_view name) { return name.empty() ? std::nullopt : lookup(name); });
}

std::optional<std::vector<ChainedCommand>> SplitCommands(std::u16string_view line) {
  std::vector<ChainedCommand> commands(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char16_t c = line[i];
    std::u16string& text = commands.back().text;
    if (c == u'"') {
      quoted = !quoted;
      text.push_back(c);
    } else if (quoted) {
      text.push_back(c);
    } else if (c == u'^') {
      if (i + 1 < line.size()) {
        text.push_back(line[++i]);
      }
    } else if (c == u'<' || c == u'>' ||
               (c == u'|' && (i + 1 >= line.size() || line[i + 1] != u'|'))) {
      return std::nullopt;
    } else if (c == u'&' || c == u'|') {
      const bool doubled = i + 1 < line.size() && line[i + 1] == c;
      using When = ChainedCommand::When;
      const When when = !doubled ? When::kAlways : c == u'&' ? When::kOnSuccess : When::kOnFailure;
      i += doubled ? 1 : 0;
      commands.push_back(ChainedCommand{{}, when});
    } else {
      text.push_back(c);
    }
  }
  return commands;
}

}  // namespace winsim
