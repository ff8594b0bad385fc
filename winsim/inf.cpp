#include "winsim/inf.h"

#include "platform/text.h"
#include "winsim/file_space.h"
#include "winsim/reg_data.h"
#include "winsim/registry.h"

namespace winsim {

namespace {

std::u16string Decode(std::string_view bytes) {
  std::u16string text;
  if (bytes.starts_with("\xFF\xFE")) {
    return Utf16Units(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, bytes.size() - 2);
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    return orv::Utf8ToUtf16(bytes.substr(3));
  }
  for (char c : bytes) {
    text.push_back(static_cast<unsigned char>(c));
  }
  return text;
}

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r';
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

// One logical line split into pieces at ',' (and the first '=') outside quotes, up to a ';'
// outside quotes. Quotes are removed; "" inside quotes is one quote character.
struct RawLine {
  std::u16string key;
  bool hasKey = false;
  std::vector<std::u16string> fields;
};

RawLine SplitLine(std::u16string_view line) {
  RawLine raw;
  std::u16string piece;
  bool quoted = false;
  std::size_t quotedEnd = 0;  // blanks before this index came from quotes and stay
  auto finish = [&] {
    std::u16string value = std::move(piece);
    while (value.size() > quotedEnd && IsBlank(value.back())) {
      value.pop_back();
    }
    piece.clear();
    quotedEnd = 0;
    return value;
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (quoted) {
      if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"') {
        piece.push_back(u'"');
        ++i;
      } else if (c == u'"') {
        quoted = false;
      } else {
        piece.push_back(c);
      }
      quotedEnd = piece.size();
    } else if (c == u'"') {
      quoted = true;
    } else if (IsBlank(c) && piece.empty()) {
      continue;  // leading blanks
    } else if (c == u';') {
      break;
    } else if (c == u'=' && !raw.hasKey && raw.fields.empty()) {
      raw.key = finish();
      raw.hasKey = true;
    } else if (c == u',') {
      raw.fields.push_back(finish());
    } else {
      piece.push_back(c);
    }
  }
  std::u16string last = finish();
  if (!last.empty() || !raw.fields.empty() || raw.hasKey) {
    raw.fields.push_back(std::move(last));
  }
  return raw;
}

}  // namespace

orv::DWORD Inf::Parse(std::string_view bytes, Inf* inf) {
  const std::u16string text = Decode(bytes);
  inf->sections_.clear();
  inf->sectionIndex_.clear();
  inf->strings_.clear();
  std::vector<InfLine>* current = nullptr;
  std::u16string_view rest = text;
  std::u16string logical;
  while (!rest.empty()) {
    const std::size_t cut = rest.find(u'\n');
    std::u16string_view line = Trim(rest.substr(0, cut));
    rest = cut == std::u16string_view::npos ? std::u16string_view() : rest.substr(cut + 1);
    // A line ending in a backslash goes on in the next one.
    if (line.ends_with(u"\\") && !rest.empty()) {
      logical += line.substr(0, line.size() - 1);
      continue;
    }
    logical += line;
    const std::u16string_view whole = Trim(logical);
    if (whole.starts_with(u"[")) {
      const std::size_t close = whole.find(u']');
      if (close == std::u16string_view::npos) {
        return ERROR_GENERAL_SYNTAX;
      }
      const std::u16string name(Trim(whole.substr(1, close - 1)));
      const auto [entry, added] =
          inf->sectionIndex_.try_emplace(FoldCase(name), inf->sections_.size());
      if (added) {
        inf->sections_.push_back(NamedSection{name, {}});
      }
      current = &inf->sections_[entry->second].lines;
    } else if (current != nullptr && !whole.empty() && !whole.starts_with(u";")) {
      RawLine raw = SplitLine(whole);
      if (raw.hasKey || !raw.fields.empty()) {
        current->push_back(InfLine{std::move(raw.key), std::move(raw.fields)});
      }
    }
    logical.clear();
  }
  if (const std::vector<InfLine>* strings = inf->Section(u"Strings")) {
    for (const InfLine& line : *strings) {
      inf->strings_.try_emplace(FoldCase(line.key),
                                line.fields.empty() ? std::u16string() : line.fields[0]);
    }
  }
  const std::optional<std::u16string> signature = inf->Value(u"Version", u"Signature");
  for (std::u16string_view known : {u"$Windows NT$", u"$Chicago$", u"$Windows 95$"}) {
    if (signature && SameName(*signature, known)) {
      return 0;
    }
  }
  return ERROR_WRONG_INF_STYLE;
}

const std::vector<InfLine>* Inf::Section(std::u16string_view name) const {
  const auto found = sectionIndex_.find(FoldCase(name));
  return found == sectionIndex_.end() ? nullptr : &sections_[found->second].lines;
}

std::optional<std::u16string> Inf::Value(std::u16string_view section,
                                         std::u16string_view key) const {
  if (const std::vector<InfLine>* lines = Section(section)) {
    for (const InfLine& line : *lines) {
      if (SameName(line.key, key) && !line.key.empty()) {
        return line.fields.empty() ? std::u16string() : Substitute(line.fields[0]);
      }
    }
  }
  return std::nullopt;
}

std::u16string Inf::Substitute(std::u16string_view field) const {
  std::u16string out;
  std::size_t at = 0;
  while (at < field.size()) {
    const std::size_t open = field.find(u'%', at);
    const std::size_t close = open == std::u16string_view::npos ? open : field.find(u'%', open + 1);
    if (close == std::u16string_view::npos) {
      out += field.substr(at);
      break;
    }
    out += field.substr(at, open - at);
    const std::u16string_view name = field.substr(open + 1, close - open - 1);
    const auto found = name.empty() ? strings_.end() : strings_.find(FoldCase(name));
    if (name.empty()) {
      out += u'%';
    } else if (found != strings_.end()) {
      out += found->second;
    } else {
      out += field.substr(open, close - open + 1);
    }
    at = close + 1;
  }
  return out;
}

std::vector<std::u16string> Inf::DeviceIds() const {
  std::vector<std::u16string> ids;
  const std::vector<InfLine>* manufacturers = Section(u"Manufacturer");
  if (manufacturers == nullptr) {
    return ids;
  }
  for (const InfLine& maker : *manufacturers) {
    if (maker.fields.empty()) {
      continue;
    }
    // The models section itself and its decorated forms (Models.NTamd64, ...).
    std::vector<std::u16string> names = {maker.fields[0]};
    for (std::size_t i = 1; i < maker.fields.size(); ++i) {
      names.push_back(maker.fields[0] + u"." + maker.fields[i]);
    }
    for (const std::u16string& name : names) {
      if (const std::vector<InfLine>* models = Section(name)) {
        for (const InfLine& model : *models) {
          for (std::size_t i = 1; i < model.fields.size(); ++i) {
            if (!model.fields[i].empty()) {
              ids.push_back(Substitute(model.fields[i]));
            }
          }
        }
      }
    }
  }
  return ids;
}

}  // namespace winsim
