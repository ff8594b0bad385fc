// INF files as the simulated driver store reads them: sections of lines, each line an optional
// key and comma-separated fields, with comments, quotes and %strkey% substitution from
// [Strings].
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"
#include "winsim/name_table.h"

namespace winsim {

// Statuses of the device installation functions for INF files that cannot be used.
inline constexpr orv::DWORD ERROR_GENERAL_SYNTAX = 0xE0000003;   // a line is malformed
inline constexpr orv::DWORD ERROR_WRONG_INF_STYLE = 0xE0000100;  // no [Version] signature

class Inf;

// One line of a section: an optional key and comma-separated fields, quotes removed, not yet
// substituted. A view into its Inf, valid while that Inf is neither parsed again nor gone.
class InfLine {
 public:
  std::u16string_view key() const;  // empty when the line has no '='
  std::size_t FieldCount() const;
  std::u16string_view Field(std::size_t index) const;  // empty past the last field

 private:
  friend class Inf;
  InfLine(const Inf& inf, std::uint32_t index) : inf_(&inf), index_(index) {}
  const Inf* inf_;
  std::uint32_t index_;  // in Inf::lines_
};

class Inf {
 public:
  // Reads INF text: UTF-16LE with a byte-order mark, UTF-8 with one, or else 8-bit text (each
  // byte one character). Returns ERROR_GENERAL_SYNTAX for a section header without its ']',
  // ERROR_WRONG_INF_STYLE when [Version] is missing or its Signature is not one of
  // "$Windows NT$", "$Chicago$", "$Windows 95$"; else 0.
  static orv::DWORD Parse(std::string_view bytes, Inf* inf);

  // The lines of a section in file order (sections of the same name are merged); none when
  // there is no such section.
  std::vector<InfLine> Lines(std::u16string_view section) const;
  // The first field of the first line with `key` in `section`, substituted; null when absent.
  std::optional<std::u16string> Value(std::u16string_view section, std::u16string_view key) const;
  // A field with its %strkey% references replaced from [Strings] ("%%" is one '%'); unknown
  // references stay as written.
  std::u16string Substitute(std::u16string_view field) const;

  // The hardware and compatible identifiers of the models that [Manufacturer] names, in file
  // order (each model line: "description = install-section, id, id...").
  std::vector<std::u16string> DeviceIds() const;

 private:
  friend class InfLine;
  // The whole file is held in a few flat lists, without a block per section, line or field: an
  // INF of many small sections then costs a few times its text, however many there are.
  struct Piece {  // of chars_
    std::uint32_t start = 0;
    std::uint32_t size = 0;
  };
  struct Line {
    Piece key;
    std::uint32_t firstField = 0;  // in fields_
    std::uint32_t fieldCount = 0;
  };
  struct Header {  // a section header and the lines after it
    Piece name;
    std::uint32_t firstLine = 0;  // in lines_
    std::uint32_t lineCount = 0;
    std::uint32_t nextSameName = 0;  // position + 1 in headers_ of the next one of its name
  };

  std::u16string_view Text(Piece piece) const {
    return std::u16string_view(chars_).substr(piece.start, piece.size);
  }
  // Calls visit(index in lines_) for each line of `section`, in file order.
  template <typename Visit>
  void ForEachLine(std::u16string_view section, Visit visit) const;
  // Reads the section headers and their lines, joining lines that end in a backslash; 0, or
  // ERROR_OUTOFMEMORY for a text too long to index, ERROR_GENERAL_SYNTAX for a header without
  // its ']'.
  orv::DWORD ReadSections(std::string_view bytes);
  // Chains the sections of each name in file order, from the first, which sections_ finds.
  void IndexSections();
  void IndexStrings();             // the first line of each key of [Strings], by strings_
  bool HasKnownSignature() const;  // of [Version]
  // Splits one logical line into lines_, fields_ and chars_; false (nothing kept) for a line
  // that holds neither a key nor a field.
  bool AddLine(std::u16string_view line);
  // Reads one piece of `line`, from `from` up to a ',' or ';' outside quotes (or a '=' when
  // `keyEnds`), into chars_; returns where it stopped. Quotes are removed and "" inside quotes
  // is one quote character; blanks around the piece are dropped unless quoted.
  std::size_t ReadPiece(std::u16string_view line, std::size_t from, bool keyEnds, Piece* piece);

  std::u16string chars_;  // every section name, key and field, one after another
  std::vector<Piece> fields_;
  std::vector<Line> lines_;
  std::vector<Header> headers_;  // in file order
  // By case-folded name: the first section of each name in headers_, and the first line of each
  // key of [Strings] in lines_ (the first value of a key counts).
  NameTable sections_;
  NameTable strings_;
};

}  // namespace winsim
