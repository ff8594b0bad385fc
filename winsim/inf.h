// INF files as the simulated driver store reads them: sections of lines, each line an optional
// key and comma-separated fields, with comments, quotes and %strkey% substitution from
// [Strings].
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win_types.h"

namespace winsim {

// Statuses of the device installation functions for INF files that cannot be used.
inline constexpr orv::DWORD ERROR_GENERAL_SYNTAX = 0xE0000003;   // a line is malformed
inline constexpr orv::DWORD ERROR_WRONG_INF_STYLE = 0xE0000100;  // no [Version] signature

struct InfLine {
  std::u16string key;                  // empty when the line has no '='
  std::vector<std::u16string> fields;  // quotes removed, not yet substituted
};

class Inf {
 public:
  // Reads INF text: UTF-16LE with a byte-order mark, UTF-8 with one, or else 8-bit text (each
  // byte one character). Returns ERROR_GENERAL_SYNTAX for a section header without its ']',
  // ERROR_WRONG_INF_STYLE when [Version] is missing or its Signature is not one of
  // "$Windows NT$", "$Chicago$", "$Windows 95$"; else 0.
  static orv::DWORD Parse(std::string_view bytes, Inf* inf);

  // The lines of a section (sections of the same name are merged), or null.
  const std::vector<InfLine>* Section(std::u16string_view name) const;
  // The first field of the first line with `key` in `section`, substituted; null when absent.
  std::optional<std::u16string> Value(std::u16string_view section, std::u16string_view key) const;
  // A field with its %strkey% references replaced from [Strings] ("%%" is one '%'); unknown
  // references stay as written.
  std::u16string Substitute(std::u16string_view field) const;

  // The hardware and compatible identifiers of the models that [Manufacturer] names, in file
  // order (each model line: "description = install-section, id, id...").
  std::vector<std::u16string> DeviceIds() const;

 private:
  struct NamedSection {
    std::u16string name;
    std::vector<InfLine> lines;
  };
  std::vector<NamedSection> sections_;
  // The sections by case-folded name, and the first value of each [Strings] key by case-folded
  // key, so that no look-up walks the whole file.
  std::unordered_map<std::u16string, std::size_t> sectionIndex_;
  std::unordered_map<std::u16string, std::u16string> strings_;
};

}  // namespace winsim
