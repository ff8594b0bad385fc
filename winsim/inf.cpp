#include "winsim/inf.h"

#include <algorithm>

#include "platform/text.h"
#include "winsim/cmd_syntax.h"
#include "winsim/file_space.h"
#include "winsim/reg_data.h"
#include "winsim/registry.h"

namespace winsim {

namespace {

// INF text a line at a time: UTF-16LE after its byte-order mark, UTF-8 after its own, else one
// character per byte. Each line is decoded on its own, so that the file is never held a second
// time as a whole text.
class TextLines {
 public:
  explicit TextLines(std::string_view bytes) : rest_(bytes) {
    if (bytes.starts_with("\xFF\xFE")) {
      form_ = Form::kUtf16;
      rest_ = bytes.substr(2, (bytes.size() - 2) / 2 * 2);  // a last odd byte is no character
    } else if (bytes.starts_with("\xEF\xBB\xBF")) {
      form_ = Form::kUtf8;
      rest_ = bytes.substr(3);
    }
  }

  // At least as many as the characters left.
  std::size_t MaxChars() const { return form_ == Form::kUtf16 ? rest_.size() / 2 : rest_.size(); }
  bool AtEnd() const { return rest_.empty(); }

  // The next line, without its line feed.
  void Next(std::u16string& line) {
    std::size_t end = 0;  // of the line with its line feed
    if (form_ == Form::kUtf16) {
      while (end < rest_.size() && Utf16UnitAt(rest_, end / 2) != u'\n') {
        end += 2;
      }
      end = std::min(end + 2, rest_.size());
    } else {
      end = rest_.find('\n');
      end = end == std::string_view::npos ? rest_.size() : end + 1;
    }
    // UTF-8 is decoded with its line feed, which ends any sequence cut short before it just as
    // it would in the whole text.
    const std::string_view bytes = rest_.substr(0, end);
    rest_.remove_prefix(end);
    if (form_ == Form::kUtf16) {
      line = Utf16Units(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    } else if (form_ == Form::kUtf8) {
      line = orv::Utf8ToUtf16(bytes);
    } else {
      line.assign(bytes.begin(), bytes.end());  // each byte as the character of its value
    }
    if (!line.empty() && line.back() == u'\n') {
      line.pop_back();
    }
  }

 private:
  enum class Form { kBytes, kUtf16, kUtf8 };
  std::string_view rest_;
  Form form_ = Form::kBytes;
};

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

}  // namespace

std::u16string_view InfLine::key() const {
  return inf_->Text(inf_->lines_[index_].key);
}

std::size_t InfLine::FieldCount() const {
  return inf_->lines_[index_].fieldCount;
}

std::u16string_view InfLine::Field(std::size_t index) const {
  const Inf::Line& line = inf_->lines_[index_];
  return index < line.fieldCount ? inf_->Text(inf_->fields_[line.firstField + index])
                                 : std::u16string_view();
}

// The line is split into pieces at ',' (and the first '=') outside quotes, up to a ';' outside
// quotes. Each piece is written into chars_ as it is read.
bool Inf::AddLine(std::u16string_view line) {
  const std::size_t charsBefore = chars_.size();
  const std::size_t fieldsBefore = fields_.size();
  Line added{.key = {}, .firstField = static_cast<std::uint32_t>(fields_.size())};
  bool hasKey = false;
  for (std::size_t at = 0;; ++at) {  // past the ',' or '=' that ended the piece before
    Piece piece;
    at = ReadPiece(line, at, !hasKey && fields_.size() == fieldsBefore, &piece);
    if (at < line.size() && line[at] == u'=') {
      added.key = piece;
      hasKey = true;
    } else if (at < line.size() && line[at] == u',') {
      fields_.push_back(piece);
    } else {
      // The last piece: an empty one counts only after a key or another field.
      if (piece.size != 0 || fields_.size() != fieldsBefore || hasKey) {
        fields_.push_back(piece);
      }
      break;
    }
  }
  if (fields_.size() == fieldsBefore && !hasKey) {
    chars_.resize(charsBefore);
    return false;
  }
  added.fieldCount = static_cast<std::uint32_t>(fields_.size() - fieldsBefore);
  lines_.push_back(added);
  return true;
}

std::size_t Inf::ReadPiece(std::u16string_view line, std::size_t from, bool keyEnds, Piece* piece) {
  const std::size_t start = chars_.size();
  std::size_t quotedEnd = start;  // blanks before this position came from quotes and stay
  bool quoted = false;
  std::size_t at = from;
  for (; at < line.size(); ++at) {
    const char16_t c = line[at];
    if (quoted) {
      if (c == u'"' && at + 1 < line.size() && line[at + 1] == u'"') {
        chars_.push_back(u'"');
        ++at;
      } else if (c == u'"') {
        quoted = false;
      } else {
        chars_.push_back(c);
      }
      quotedEnd = chars_.size();
    } else if (c == u'"') {
      quoted = true;
    } else if (c == u';' || c == u',' || (c == u'=' && keyEnds)) {
      break;
    } else if (!IsBlank(c) || chars_.size() != start) {  // leading blanks are dropped
      chars_.push_back(c);
    }
  }
  std::size_t end = chars_.size();
  while (end > quotedEnd && IsBlank(chars_[end - 1])) {
    --end;
  }
  chars_.resize(end);
  *piece = Piece{static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(end - start)};
  return at;
}

orv::DWORD Inf::Parse(std::string_view bytes, Inf* inf) {
  *inf = Inf();
  if (const orv::DWORD status = inf->ReadSections(bytes); status != 0) {
    return status;
  }
  inf->IndexSections();
  inf->IndexStrings();
  return inf->HasKnownSignature() ? 0 : ERROR_WRONG_INF_STYLE;
}

orv::DWORD Inf::ReadSections(std::string_view bytes) {
  TextLines lines(bytes);
  if (lines.MaxChars() > UINT32_MAX) {
    return orv::ERROR_OUTOFMEMORY;  // beyond what the lists can index
  }
  chars_.reserve(lines.MaxChars());  // the pieces never hold more than the text
  std::u16string read;
  std::u16string logical;
  while (!lines.AtEnd()) {
    lines.Next(read);
    const std::u16string_view line = Trim(read);
    // A line ending in a backslash goes on in the next one.
    if (line.ends_with(u"\\") && !lines.AtEnd()) {
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
      const std::u16string_view name = Trim(whole.substr(1, close - 1));
      headers_.push_back(
          {{static_cast<std::uint32_t>(chars_.size()), static_cast<std::uint32_t>(name.size())},
           static_cast<std::uint32_t>(lines_.size())});
      chars_ += name;
    } else if (!headers_.empty() && !whole.empty() && !whole.starts_with(u";") && AddLine(whole)) {
      ++headers_.back().lineCount;
    }
    logical.clear();
  }
  return 0;
}

void Inf::IndexSections() {
  const auto headerName = [this](std::size_t header) { return Text(headers_[header].name); };
  sections_.Reset(headers_.size());
  std::vector<std::uint32_t> lastOfName(headers_.size());
  sections_.InGroups(headers_.size(), headerName, [&](std::size_t h, std::uint32_t hash) {
    const auto header = static_cast<std::uint32_t>(h);
    const std::size_t slot = sections_.Find(headerName(header), hash, headerName);
    const std::uint32_t first = sections_[slot].entry;
    if (first == 0) {
      sections_.Put(slot, header + 1, headerName(header));
      lastOfName[header] = header;
    } else {
      std::uint32_t& last = lastOfName[first - 1];
      headers_[last].nextSameName = header + 1;
      last = header;
    }
  });
}

void Inf::IndexStrings() {
  std::vector<std::uint32_t> strings;
  ForEachLine(u"Strings", [&](std::uint32_t line) { strings.push_back(line); });
  const auto keyOf = [this](std::size_t line) { return Text(lines_[line].key); };
  strings_.Reset(strings.size());
  for (std::uint32_t line : strings) {
    const std::size_t slot = strings_.Find(keyOf(line), keyOf);
    if (strings_[slot].entry == 0) {
      strings_.Put(slot, line + 1, keyOf(line));
    }
  }
}

bool Inf::HasKnownSignature() const {
  const std::optional<std::u16string> signature = Value(u"Version", u"Signature");
  for (std::u16string_view known : {u"$Windows NT$", u"$Chicago$", u"$Windows 95$"}) {
    if (signature && SameName(*signature, known)) {
      return true;
    }
  }
  return false;
}

template <typename Visit>
void Inf::ForEachLine(std::u16string_view section, Visit visit) const {
  if (sections_.empty()) {
    return;
  }
  const auto headerName = [this](std::size_t header) { return Text(headers_[header].name); };
  for (std::uint32_t next = sections_[sections_.Find(section, headerName)].entry; next != 0;
       next = headers_[next - 1].nextSameName) {
    const Header& found = headers_[next - 1];
    for (std::uint32_t line = found.firstLine; line < found.firstLine + found.lineCount; ++line) {
      visit(line);
    }
  }
}

std::vector<InfLine> Inf::Lines(std::u16string_view section) const {
  std::vector<InfLine> lines;
  ForEachLine(section, [&](std::uint32_t line) { lines.push_back(InfLine(*this, line)); });
  return lines;
}

std::optional<std::u16string> Inf::Value(std::u16string_view section,
                                         std::u16string_view key) const {
  std::optional<std::u16string> value;
  ForEachLine(section, [&](std::uint32_t index) {
    const InfLine line(*this, index);
    if (!value && !line.key().empty() && SameName(line.key(), key)) {
      value = Substitute(line.Field(0));
    }
  });
  return value;
}

std::u16string Inf::Substitute(std::u16string_view field) const {
  // %% is a percent sign; a name the Strings section lacks stays as written.
  const auto keyOf = [this](std::size_t line) { return Text(lines_[line].key); };
  return ReplacePercentRefs(field, [&](std::u16string_view name) -> std::u16string {
    if (name.empty()) {
      return u"%";
    }
    const std::uint32_t found = strings_.empty() ? 0 : strings_[strings_.Find(name, keyOf)].entry;
    if (found == 0) {
      return u"%" + std::u16string(name) + u"%";
    }
    return std::u16string(InfLine(*this, found - 1).Field(0));
  });
}

std::vector<std::u16string> Inf::DeviceIds() const {
  std::vector<std::u16string> ids;
  for (const InfLine& maker : Lines(u"Manufacturer")) {
    if (maker.FieldCount() == 0) {
      continue;
    }
    // The models section itself and its decorated forms (Models.NTamd64, ...).
    const std::u16string models(maker.Field(0));
    std::vector<std::u16string> names = {models};
    for (std::size_t i = 1; i < maker.FieldCount(); ++i) {
      names.push_back(models + u"." + std::u16string(maker.Field(i)));
    }
    for (const std::u16string& name : names) {
      ForEachLine(name, [&](std::uint32_t index) {
        const InfLine model(*this, index);
        for (std::size_t i = 1; i < model.FieldCount(); ++i) {
          if (!model.Field(i).empty()) {
            ids.push_back(Substitute(model.Field(i)));
          }
        }
      });
    }
  }
  return ids;
}

}  // namespace winsim
