// The lines of a registry image, decoded one at a time.
#pragma once

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>

namespace winsim {

// The lines of an image, from bytes in memory or from a stream read a piece at a time:
// UTF-16LE after its BOM; otherwise UTF-8 (a BOM is dropped) when the bytes are UTF-8, else
// single-byte text in the Windows-1252 code page, as Windows reads an ANSI file on a western
// system (UseAnsi decides that at once, for a REGEDIT4 file). Lines end at LF; the blanks and
// CRs that end a line are dropped. A text that ends with LF has an empty last line after it.
// Problems throw RegFormatError with the line's number.
class ImageLines {
 public:
  explicit ImageLines(std::string_view bytes);
  explicit ImageLines(std::istream& in);

  // The next line into `line`; false after the last one.
  bool Next(std::u16string& line);
  int number() const { return number_; }  // of the line read last, from 1
  // The rest is single-byte text in Windows-1252 (what Windows reads a REGEDIT4 file as), unless
  // a BOM has named the encoding.
  void UseAnsi();

 private:
  // kAscii: no byte above 0x7F seen yet, so UTF-8 and Windows-1252 read alike so far.
  enum class Encoding { kUtf16, kAscii, kUtf8, kAnsi };
  static constexpr std::size_t kPieceBytes = 1 << 20;

  // Where the LF at or after `from` is, or where the search stopped for want of bytes.
  std::size_t FindLineEnd(std::size_t from) const;
  bool IsUtf16() const;
  void Start();
  // Reads another piece of the stream behind the unread bytes; false at its end.
  bool Refill();
  // The bytes of one line, without its LF, as text.
  void DecodeLine(std::string_view bytes, std::u16string& line);
  // At the first byte above 0x7F, in the line `bytes`: everything before it was ASCII, so the
  // rest of the image from that line on decides between UTF-8 and Windows-1252.
  void DecideEncoding(std::string_view bytes);
  // Decodes UTF-8 whose shape was checked, strictly: an overlong form (E0 80 8A for a line
  // feed), an encoded surrogate or a value above U+10FFFF is malformed.
  void DecodeUtf8(std::string_view bytes, std::u16string& out) const;

  std::istream* in_ = nullptr;
  std::string buffer_;     // the pieces of the stream not yet consumed
  std::string_view data_;  // the bytes at hand: the whole image, or buffer_
  std::size_t position_ = 0;
  bool inputEnded_ = false;
  bool finished_ = false;
  bool utf8Bom_ = false;
  Encoding encoding_ = Encoding::kAscii;
  int number_ = 0;
};

}  // namespace winsim
