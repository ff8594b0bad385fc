// Command-line text as the simulated command interpreter and programs read it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// The first token of a command line (the program): quoted (up to the next quote, quotes
// removed) or up to the first blank; `rest` gets the text after it, leading blanks removed.
std::u16string FirstToken(std::u16string_view commandLine, std::u16string_view* rest);

// The arguments after the program, split as the C runtime of a Windows program splits them:
// blanks separate, quotes group, 2n backslashes before a quote give n and the quote groups,
// 2n+1 give n and a literal quote, "" inside quotes is a literal quote.
std::vector<std::u16string> SplitArguments(std::u16string_view arguments);

// What the interpreter was asked to run: the text after its /C (or /K) switch, leading blanks
// removed, and whether /S came before it. Null when there is no /C or /K.
struct InterpreterRequest {
  std::u16string text;
  bool s = false;
};
std::optional<InterpreterRequest> ParseInterpreterSwitches(std::u16string_view arguments);

// The interpreter's rule for quotes in the text after /C: the quotes stay when /S is absent,
// the text holds exactly two quote characters, nothing of &<>()@^| lies between them, at
// least one blank does, and the quoted text names an executable file (`isProgram`).
// Otherwise, when the text begins with a quote, that first character and the last quote
// character are removed, and any text after the last quote is kept.
std::u16string ApplyQuoteRule(std::u16string_view text, bool s,
                              const std::function<bool(std::u16string_view)>& isProgram);

// What a %NAME% reference stands for, or nothing when it stands for no value.
using PercentLookup = std::function<std::optional<std::u16string>(std::u16string_view)>;

// Each %NAME% of `text` (NAME possibly empty) replaced by what `lookup` gives for NAME; where it
// gives nothing, the first '%' stays and the second may open the next reference. The
// interpreter's variables and an INF file's strings both expand through it.
std::u16string ReplacePercentRefs(std::u16string_view text, const PercentLookup& lookup);

// %NAME% references replaced by `lookup`; a name that it does not know, or an empty one, stays
// as written, percent signs included, as the interpreter leaves it on a command line.
std::u16string ExpandVariables(std::u16string_view text, const PercentLookup& lookup);

// One command of a line, and when it runs: always (the first, or after '&'), only after
// success ("&&") or only after failure ("||").
struct ChainedCommand {
  enum class When { kAlways, kOnSuccess, kOnFailure };
  std::u16string text;
  When when = When::kAlways;
};
// Splits a line at &, && and || outside quotes; '^' outside quotes makes the next character
// plain and is removed. Null when the line pipes or redirects (| < > outside quotes), which
// the simulated interpreter does not do.
std::optional<std::vector<ChainedCommand>> SplitCommands(std::u16string_view line);

}  // namespace winsim
