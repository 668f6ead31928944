#include "engine/base/text.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <wctype.h>

namespace fornax {
namespace {

locale_t Utf8Locale() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return loc;
}

char32_t UpperChar(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  const locale_t loc = Utf8Locale();
  if (loc == static_cast<locale_t>(nullptr)) return c;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), loc));
}

}  // namespace

char32_t DecodeUtf8(std::string_view text, size_t& pos) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  int extra = 0;
  char32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1;
    c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2;
    c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3;
    c = lead & 0x07;
  } else {
    ++pos;
    return lead;  // stray byte: Latin-1
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return lead;
  }
  for (int i = 1; i <= extra; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return lead;
    }
    c = (c << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
  const bool overlong = (extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000);
  if (overlong || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
    ++pos;
    return lead;
  }
  pos += extra + 1;
  return c;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const char32_t c = DecodeUtf8(text, pos);
    if (c >= 0x10000) {
      const char32_t v = c - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone surrogate has no UTF-8 spelling
    }
    AppendUtf8(out, c);
  }
  return out;
}

size_t Utf16Length(std::string_view text) {
  size_t units = 0;
  size_t pos = 0;
  while (pos < text.size()) units += DecodeUtf8(text, pos) >= 0x10000 ? 2 : 1;
  return units;
}

std::string UpperCase(std::string_view text) {
  // Nearly every name is ASCII: changed in place up to the first other byte.
  std::string out(text);
  size_t pos = 0;
  for (; pos < out.size(); ++pos) {
    const unsigned char b = static_cast<unsigned char>(out[pos]);
    if (b >= 0x80) break;
    if (b >= 'a' && b <= 'z') out[pos] = static_cast<char>(b - 32);
  }
  if (pos == out.size()) return out;
  out.resize(pos);
  while (pos < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[pos]);
    if (b < 0x80) {
      out += static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
      ++pos;
      continue;
    }
    const size_t start = pos;
    const char32_t c = DecodeUtf8(text, pos);
    const bool stray = pos - start == 1;  // not UTF-8: kept as it is
    const char32_t u = stray ? c : UpperChar(c);
    if (u == c)
      out.append(text.substr(start, pos - start));
    else
      AppendUtf8(out, u);
  }
  return out;
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& ch : out)
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
  return out;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  return UpperCase(a) == UpperCase(b);
}

std::string PrintableText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const unsigned char b = static_cast<unsigned char>(ch);
    if (b >= 0x20 && b != 0x7F) {
      out += ch;
      continue;
    }
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 0x0F];
  }
  return out;
}

}  // namespace fornax
