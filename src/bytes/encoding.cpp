#include "bytes/encoding.hpp"

namespace tarvik {

namespace {

// Code points of the Windows-1252 bytes 0x80..0x9F; 0 marks the five undefined bytes,
// which map to the C1 control of the same number.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// Writes the UTF-8 bytes of a code point at `d` (room for four) and returns the end; a code
// point beyond Unicode or a surrogate is written as U+FFFD.
char* PutUtf8(char* d, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    *d++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *d++ = static_cast<char>(0xC0 | (cp >> 6));
    *d++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *d++ = static_cast<char>(0xE0 | (cp >> 12));
    *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *d++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *d++ = static_cast<char>(0xF0 | (cp >> 18));
    *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *d++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return d;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  char bytes[4];
  out.append(bytes, static_cast<std::size_t>(PutUtf8(bytes, cp) - bytes));
}

char32_t Cp1252ToUnicode(std::uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) {
    const char16_t c = kHigh[byte - 0x80];
    return c ? c : byte;
  }
  return byte;
}

std::optional<std::uint8_t> UnicodeToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<std::uint8_t>(cp);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == cp || (kHigh[i] == 0 && cp == static_cast<char32_t>(0x80 + i)))
      return static_cast<std::uint8_t>(0x80 + i);
  }
  return std::nullopt;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
  // A byte beyond ASCII becomes at most three bytes (the code page's code points lie below
  // U+10000): the text is written into a buffer of that bound and cut to what was written.
  std::size_t high = 0;
  for (char c : bytes) high += static_cast<std::uint8_t>(c) >> 7;
  std::string out(bytes.size() + 2 * high, '\0');
  char* d = out.data();
  for (char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (b < 0x80)
      *d++ = c;
    else
      d = PutUtf8(d, Cp1252ToUnicode(b));
  }
  out.resize(static_cast<std::size_t>(d - out.data()));
  return out;
}

char32_t NextUtf8(std::string_view text, std::size_t& i) {
  const auto b0 = static_cast<std::uint8_t>(text[i++]);
  if (b0 < 0x80) return b0;
  int extra = 0;
  char32_t cp = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    return 0xFFFD;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size()) return 0xFFFD;
    const auto b = static_cast<std::uint8_t>(text[i]);
    if ((b & 0xC0) != 0x80) return 0xFFFD;
    cp = (cp << 6) | (b & 0x3F);
    ++i;
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
  return cp;
}

std::string Utf8ToCp1252(std::string_view utf8, std::optional<char32_t>* firstBad) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextUtf8(utf8, i);
    if (auto b = UnicodeToCp1252(cp)) {
      out.push_back(static_cast<char>(*b));
    } else {
      if (firstBad && !*firstBad) *firstBad = cp;
      out.push_back('?');
    }
  }
  return out;
}

namespace {

// UTF-16 code units, read by `unit(i)`, to UTF-8.
template <class Unit>
std::string Utf16Units(std::size_t n, Unit unit) {
  // A unit beyond ASCII becomes at most three bytes, and a surrogate pair (two such units)
  // four: the text is written into a buffer of that bound and cut to what was written.
  std::size_t high = 0;
  for (std::size_t i = 0; i < n; ++i) high += unit(i) >= 0x80;
  std::string out(n + 2 * high, '\0');
  char* d = out.data();
  for (std::size_t i = 0; i < n; ++i) {
    char32_t c = unit(i);
    if (c < 0x80) {
      *d++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
      const char32_t next = unit(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
        ++i;
      }
    }
    d = PutUtf8(d, c);  // a lone surrogate becomes U+FFFD
  }
  out.resize(static_cast<std::size_t>(d - out.data()));
  return out;
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view units) {
  return Utf16Units(units.size(), [units](std::size_t i) { return units[i]; });
}

std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t units) {
  return Utf16Units(units, [data](std::size_t i) {
    return static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  });
}

std::string Utf8ToUtf16Le(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size() * 2);
  auto put = [&out](char32_t u) {
    out.push_back(static_cast<char>(u & 0xFF));
    out.push_back(static_cast<char>((u >> 8) & 0xFF));
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = NextUtf8(utf8, i);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

std::string DecodeTextFile(std::string_view bytes) {
  auto starts = [&](std::string_view bom) { return bytes.substr(0, bom.size()) == bom; };
  if (starts("\xEF\xBB\xBF")) {
    // Keep valid UTF-8 as it is; replace invalid sequences.
    std::string out;
    std::string_view rest = bytes.substr(3);
    out.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size();) AppendUtf8(out, NextUtf8(rest, i));
    return out;
  }
  const bool le = starts("\xFF\xFE");
  const bool be = starts("\xFE\xFF");
  if (le || be) {
    const std::string_view rest = bytes.substr(2);
    const std::size_t whole = rest.size() / 2;
    return Utf16Units(whole + rest.size() % 2, [rest, whole, le](std::size_t i) {
      if (i == whole) return char16_t{0xFFFD};  // a dangling byte
      const auto a = static_cast<std::uint8_t>(rest[2 * i]);
      const auto b = static_cast<std::uint8_t>(rest[2 * i + 1]);
      return static_cast<char16_t>(le ? (a | b << 8) : (b | a << 8));
    });
  }
  return Cp1252ToUtf8(bytes);
}

char32_t FoldCase(char32_t cp) {
  if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 0x20 : cp;
  if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) return cp + 0x20;
  if (cp >= 0x100 && cp <= 0x17F) {
    // Latin Extended-A: capital and small alternate, on even capitals below U+0138 and from
    // U+014A, on odd capitals in between and from U+0179; U+0178 is the capital of U+00FF.
    if (cp == 0x178) return 0xFF;
    const bool evenCapitals = (cp < 0x138 && cp != 0x130 && cp != 0x131) || (cp >= 0x14A && cp < 0x178);
    const bool oddCapitals = (cp > 0x138 && cp < 0x149) || (cp > 0x178 && cp < 0x17F);
    if ((evenCapitals && cp % 2 == 0) || (oddCapitals && cp % 2 == 1)) return cp + 1;
    return cp;
  }
  if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) return cp + 0x20;
  if (cp >= 0x400 && cp <= 0x40F) return cp + 0x50;
  if (cp >= 0x410 && cp <= 0x42F) return cp + 0x20;
  return cp;
}

void FoldCaseUtf8(std::string& text) {
  // Only code points below U+0430 change, and each keeps its number of bytes: ASCII letters,
  // and two-byte sequences led by 0xC3 to 0xD0. Every other byte is left as it is: bytes that
  // continue a sequence are never such a lead, so the walk stays in step with NextUtf8.
  auto* p = reinterpret_cast<unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      p[i++] = static_cast<unsigned char>(FoldCase(c));
      continue;
    }
    if (c >= 0xC3 && c <= 0xD0 && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
      const char32_t cp = static_cast<char32_t>((c & 0x1F) << 6 | (p[i + 1] & 0x3F));
      const char32_t lower = FoldCase(cp);
      if (lower != cp) {
        p[i] = static_cast<unsigned char>(0xC0 | (lower >> 6));
        p[i + 1] = static_cast<unsigned char>(0x80 | (lower & 0x3F));
      }
      i += 2;
      continue;
    }
    ++i;
  }
}

}  // namespace tarvik
