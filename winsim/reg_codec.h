// The registry image: the .reg text that regedit and `reg export` write.
#pragma once

#include <functional>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "winsim/registry.h"

namespace winsim {

// A malformed image: the line (1-based, 0 when the problem is not on one line) and what is wrong.
class RegFormatError : public std::runtime_error {
 public:
  RegFormatError(int line, const std::string& problem) : std::runtime_error(problem), line_(line) {}
  int line() const { return line_; }

 private:
  int line_;
};

// Reads an image: "Windows Registry Editor Version 5.00" or "REGEDIT4", as UTF-16LE with a BOM
// or as UTF-8 (with or without a BOM), CR LF or LF line ends. Keys with a leading '-' are
// deleted, values set to '-' are deleted. Throws RegFormatError for a malformed line.
// A REGEDIT4 file without a BOM, and a file without a BOM that is not UTF-8, is read in the
// Windows-1252 code page, as Windows and Wine read an ANSI file; in a REGEDIT4 image the hex form
// of REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ holds one byte per character, which becomes
// UTF-16LE the same way, as when regedit imports such a file. At the end, the control set is
// linked (Registry::LinkControlSet).
void ReadRegImage(std::string_view bytes, Registry& into);
// The same from a stream, read a piece at a time, so that the image is never held whole.
// Where the encoding is in doubt (a byte above 0x7F in a file without a BOM), the rest of the
// stream is read once ahead to decide it; the stream must then be able to seek back.
void ReadRegImage(std::istream& in, Registry& into);
Registry ParseRegImage(std::string_view bytes);

// Why a .reg file cannot hold `name` (a key name, or with `valueName` a value name), or null when
// it can. A key name cannot be empty nor hold a backslash (which separates the names of a key
// path), a line break or a NUL; a value name cannot hold a line break (regedit reads no escape for
// one); no name can hold an unpaired surrogate, which UTF-8 cannot carry. The reader refuses such
// names and the writers never write them.
const char* RegNameProblem(std::u16string_view name, bool valueName);

// Writes the canonical form: UTF-8 without BOM, the version 5 header, LF line ends, keys in tree
// order (subkeys in name order), values in their order. A REG_SZ is written as "text" only when
// its data is exactly the text and one terminator; every other value as hex or hex(N). A registry
// holding a name that the form cannot hold (RegNameProblem) is refused with RegFormatError (line
// 0, naming the key) before anything is written.
std::string WriteRegImage(const Registry& registry);
// The same text handed to `sink` in pieces, in order, each of about a megabyte or less, so that
// it can be written or compared without being held whole.
void WriteRegImage(const Registry& registry, const std::function<void(std::string_view)>& sink);

// The same content as regedit writes it: UTF-16LE with a BOM and CR LF line ends, the form that
// `reg import` and regedit read without loss (they read a version 5 file without BOM as ANSI).
std::string WriteRegImageUtf16(const Registry& registry);
void WriteRegImageUtf16(const Registry& registry,
                        const std::function<void(std::string_view)>& sink);

}  // namespace winsim
