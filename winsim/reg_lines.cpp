#include "winsim/reg_lines.h"

#include <bit>
#include <cstring>

#include "platform/text.h"
#include "winsim/reg_codec.h"
#include "winsim/reg_data.h"

namespace winsim {

namespace {

// Tells whether bytes fed in pieces have the shape of UTF-8: every lead byte is followed by the
// number of continuation bytes it announces. Text in a single-byte code page hardly ever has that
// shape, so it decides between UTF-8 and Windows-1252; whether each sequence is a valid character
// (not overlong, no surrogate, nothing above U+10FFFF) is for the decoder to say, with its line.
class Utf8Check {
 public:
  void Feed(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size() && valid_; ++i) {
      const unsigned char c = static_cast<unsigned char>(bytes[i]);
      if (continuations_ > 0) {
        valid_ = (c & 0xC0) == 0x80;
        --continuations_;
      } else if (c >= 0x80) {
        const std::size_t length = orv::Utf8SequenceLength(c);
        continuations_ = length > 1 ? static_cast<int>(length) - 1 : 0;
        valid_ = continuations_ != 0;
      }
    }
  }
  bool Valid() const { return valid_ && continuations_ == 0; }

 private:
  bool valid_ = true;
  int continuations_ = 0;
};

bool IsBlankOrCr(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r';
}

}  // namespace

ImageLines::ImageLines(std::string_view bytes) : data_(bytes) {
  if (IsUtf16() && bytes.size() % 2 != 0) {
    throw RegFormatError(0, "UTF-16 image with an odd number of bytes");
  }
  Start();
}

ImageLines::ImageLines(std::istream& in) : in_(&in) {
  while (data_.size() < 3 && Refill()) {
  }
  Start();
}

bool ImageLines::Next(std::u16string& line) {
  if (finished_) {
    return false;
  }
  ++number_;
  line.clear();
  const std::size_t unit = encoding_ == Encoding::kUtf16 ? 2 : 1;
  std::size_t end = position_;
  bool lineEnd = false;
  for (;;) {
    end = FindLineEnd(end);
    lineEnd = end + unit <= data_.size();
    const std::size_t scanned = end - position_;
    if (lineEnd || !Refill()) {
      break;
    }
    end = position_ + scanned;
  }
  if (!lineEnd) {
    if ((data_.size() - position_) % unit != 0) {
      throw RegFormatError(0, "UTF-16 image with an odd number of bytes");
    }
    end = data_.size();
    finished_ = true;
  }
  const std::string_view bytes = data_.substr(position_, end - position_);
  position_ = end + unit;
  DecodeLine(bytes, line);
  while (!line.empty() && IsBlankOrCr(line.back())) {
    line.pop_back();
  }
  return true;
}

void ImageLines::DecodeLine(std::string_view bytes, std::u16string& line) {
  if (encoding_ == Encoding::kUtf16) {
    line.resize(bytes.size() / 2);
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(line.data(), bytes.data(), line.size() * 2);
    } else {
      for (std::size_t i = 0; i < line.size(); ++i) {
        line[i] = Utf16UnitAt(bytes, i);
      }
    }
    return;
  }
  // Widen every byte (most lines are ASCII); in UTF-8 a line with a byte above 0x7F is decoded
  // from there on.
  line.resize(bytes.size());
  unsigned char any = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    any |= c;
    line[i] = c;
  }
  if (any < 0x80) {
    return;
  }
  if (encoding_ == Encoding::kAscii) {
    DecideEncoding(bytes);
  }
  if (encoding_ == Encoding::kAnsi) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      line[i] = FromWindows1252(static_cast<unsigned char>(bytes[i]));
    }
  } else if (encoding_ == Encoding::kUtf8) {
    std::size_t ascii = 0;
    while (static_cast<unsigned char>(bytes[ascii]) < 0x80) {
      ++ascii;
    }
    line.resize(ascii);
    DecodeUtf8(bytes.substr(ascii), line);
  }
}

void ImageLines::UseAnsi() {
  if (encoding_ == Encoding::kAscii && !utf8Bom_) {
    encoding_ = Encoding::kAnsi;
  }
}

std::size_t ImageLines::FindLineEnd(std::size_t from) const {
  if (encoding_ != Encoding::kUtf16) {
    const void* found = std::memchr(data_.data() + from, '\n', data_.size() - from);
    return found == nullptr
               ? data_.size()
               : static_cast<std::size_t>(static_cast<const char*>(found) - data_.data());
  }
  // An LF byte found at an even distance from `from` (units are aligned with it) and followed
  // by a zero byte is the character LF.
  while (from + 2 <= data_.size()) {
    const void* found = std::memchr(data_.data() + from, '\n', data_.size() - from - 1);
    if (found == nullptr) {
      break;
    }
    const auto at = static_cast<std::size_t>(static_cast<const char*>(found) - data_.data());
    if ((at - from) % 2 == 0 && data_[at + 1] == 0) {
      return at;
    }
    from = at + 2 - (at - from) % 2;  // the unit after the one that holds the byte
  }
  return from + (data_.size() - from) / 2 * 2;
}

bool ImageLines::IsUtf16() const {
  return data_.size() >= 2 && static_cast<unsigned char>(data_[0]) == 0xFF &&
         static_cast<unsigned char>(data_[1]) == 0xFE;
}

void ImageLines::Start() {
  if (IsUtf16()) {
    encoding_ = Encoding::kUtf16;
    position_ = 2;
  } else if (data_.starts_with("\xEF\xBB\xBF")) {
    position_ = 3;
    utf8Bom_ = true;
  }
}

bool ImageLines::Refill() {
  if (in_ == nullptr || inputEnded_) {
    return false;
  }
  buffer_.erase(0, position_);
  position_ = 0;
  const std::size_t kept = buffer_.size();
  buffer_.resize(kept + kPieceBytes);
  in_->read(buffer_.data() + kept, kPieceBytes);
  const auto got = static_cast<std::size_t>(in_->gcount());
  buffer_.resize(kept + got);
  data_ = buffer_;
  if (in_->bad()) {
    throw RegFormatError(0, "cannot read the image");
  }
  inputEnded_ = got < kPieceBytes;  // a stream reads short only at its end
  return got != 0;
}

void ImageLines::DecideEncoding(std::string_view bytes) {
  Utf8Check check;
  check.Feed(data_.substr(static_cast<std::size_t>(bytes.data() - data_.data())));
  if (in_ != nullptr && !inputEnded_ && check.Valid()) {
    const std::istream::pos_type resume = in_->tellg();
    std::string piece(kPieceBytes, '\0');
    while (check.Valid() && in_->read(piece.data(), kPieceBytes).gcount() > 0) {
      check.Feed(std::string_view(piece.data(), static_cast<std::size_t>(in_->gcount())));
    }
    in_->clear();
    if (resume == std::istream::pos_type(-1) || !in_->seekg(resume)) {
      throw RegFormatError(0, "cannot go back in the image after reading ahead");
    }
  }
  encoding_ = check.Valid() ? Encoding::kUtf8 : Encoding::kAnsi;
}

void ImageLines::DecodeUtf8(std::string_view bytes, std::u16string& out) const {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = orv::Utf8SequenceLength(static_cast<unsigned char>(bytes[i]));
    const char32_t cp = orv::DecodeUtf8Sequence(bytes.data() + i, length);
    i += length;
    if (cp < kSmallest[length]) {
      throw RegFormatError(number_, "malformed UTF-8: an overlong form");
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      throw RegFormatError(number_, "malformed UTF-8: an encoded surrogate");
    }
    if (cp > 0x10FFFF) {
      throw RegFormatError(number_, "malformed UTF-8: a value above U+10FFFF");
    }
    orv::AppendUtf16(out, cp);
  }
}

const char* RegNameProblem(std::u16string_view name, bool valueName) {
  if (!valueName && name.empty()) {
    return "empty key name";
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c == u'\n' || c == u'\r') {
      return valueName ? "a value name holds a line break, which a .reg file cannot hold"
                       : "a key name holds a line break, which a .reg file cannot hold";
    }
    if (!valueName && (c == u'\\' || c == 0)) {
      return c == 0 ? "a key name holds a NUL character"
                    : "a key name holds a backslash, which separates the keys of a path";
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 &&
        name[i + 1] <= 0xDFFF) {
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      return "unpaired surrogate in a name";
    }
  }
  return nullptr;
}

}  // namespace winsim
