#include "platform/text.h"

#include <climits>
#include <cstdint>

namespace orv {

std::size_t TextLength(const WCHAR* text, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && text[n] != 0) {
    ++n;
  }
  return n;
}

std::size_t TextLength(const WCHAR* text) {
  return TextLength(text, SIZE_MAX);
}

int TextToInt(const WCHAR* text, std::size_t capacity) {
  std::size_t i = 0;
  auto isSpace = [](WCHAR c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
  while (i < capacity && text[i] != 0 && isSpace(text[i])) {
    ++i;
  }
  bool negative = false;
  if (i < capacity && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  std::int64_t value = 0;
  while (i < capacity && text[i] >= u'0' && text[i] <= u'9') {
    value = value * 10 + (text[i] - u'0');
    if (value > static_cast<std::int64_t>(INT_MAX) + 1) {
      value = static_cast<std::int64_t>(INT_MAX) + 1;
    }
    ++i;
  }
  if (negative) {
    value = -value;
  }
  if (value > INT_MAX) {
    return INT_MAX;
  }
  return static_cast<int>(value);
}

bool TextContains(const WCHAR* haystack, std::size_t haystackCapacity, const WCHAR* needle) {
  std::u16string_view h(haystack, TextLength(haystack, haystackCapacity));
  return h.find(std::u16string_view(needle, TextLength(needle))) != std::u16string_view::npos;
}

bool TextEquals(const WCHAR* a, const WCHAR* b) {
  std::size_t i = 0;
  for (; a[i] != 0 && a[i] == b[i]; ++i) {
  }
  return a[i] == b[i];
}

int FormatText(WCHAR* buffer, std::size_t capacity, const WCHAR* format,
               std::initializer_list<FormatArg> args) {
  if (capacity == 0) {
    return -1;
  }
  std::size_t out = 0;
  bool truncated = false;
  auto put = [&](WCHAR c) {
    if (out + 1 < capacity) {
      buffer[out++] = c;
    } else {
      truncated = true;
    }
  };
  const FormatArg* arg = args.begin();
  for (const WCHAR* f = format; *f != 0; ++f) {
    if (*f != u'%') {
      put(*f);
      continue;
    }
    ++f;
    if (*f == u'%') {
      put(u'%');
    } else if (*f == u'd' && arg != args.end()) {
      std::string digits = std::to_string(arg->number);
      for (char c : digits) {
        put(static_cast<WCHAR>(c));
      }
      ++arg;
    } else if (*f == u's' && arg != args.end()) {
      for (const WCHAR* s = arg->text; s != nullptr && *s != 0; ++s) {
        put(*s);
      }
      ++arg;
    } else {
      break;  // unknown conversion or missing argument: stop, as a defensive measure
    }
  }
  buffer[out] = 0;
  return truncated ? -1 : static_cast<int>(out);
}

std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  return (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
}

char32_t DecodeUtf8Sequence(const char* bytes, std::size_t length) {
  if (length == 1) {
    return static_cast<unsigned char>(bytes[0]);
  }
  char32_t cp = static_cast<unsigned char>(bytes[0]) & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    cp = (cp << 6) | (static_cast<unsigned char>(bytes[k]) & 0x3F);
  }
  return cp;
}

char32_t CodePointAt(std::u16string_view text, std::size_t& i) {
  const char32_t cp = text[i];
  if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] <= 0xDFFF) {
    ++i;
    return 0x10000 + ((cp - 0xD800) << 10) + (text[i] - 0xDC00);
  }
  return cp;
}

std::size_t EncodeUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  std::size_t n = 0;
  if (cp < 0x800) {
    out[n++] = static_cast<char>(0xC0 | (cp >> 6));
  } else if (cp < 0x10000) {
    out[n++] = static_cast<char>(0xE0 | (cp >> 12));
    out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  } else {
    out[n++] = static_cast<char>(0xF0 | (cp >> 18));
    out[n++] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[n++] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  }
  out[n++] = static_cast<char>(0x80 | (cp & 0x3F));
  return n;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = Utf8SequenceLength(static_cast<unsigned char>(text[i]));
    char32_t cp = 0xFFFD;
    if (length == 0 || i + length > text.size()) {
      length = 1;
    } else {
      // A sequence cut short by a byte that continues nothing ends before that byte.
      for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
          length = k;
          break;
        }
      }
      if (length == Utf8SequenceLength(static_cast<unsigned char>(text[i]))) {
        cp = DecodeUtf8Sequence(text.data() + i, length);
      }
    }
    i += length;
    AppendUtf16(out, cp > 0x10FFFF ? 0xFFFD : cp);
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  char bytes[4];
  for (std::size_t i = 0; i < text.size(); ++i) {
    out.append(bytes, EncodeUtf8(CodePointAt(text, i), bytes));
  }
  return out;
}

bool CopyText(WCHAR* buffer, std::size_t capacity, const WCHAR* text) {
  std::size_t n = TextLength(text);
  if (capacity == 0) {
    return false;
  }
  if (n + 1 > capacity) {
    buffer[0] = 0;
    return false;
  }
  for (std::size_t i = 0; i <= n; ++i) {
    buffer[i] = text[i];
  }
  return true;
}

}  // namespace orv
