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

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
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
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
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

std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);  // a lone surrogate becomes U+FFFD
  }
  return out;
}

std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t units) {
  std::u16string s(units, u'\0');
  for (std::size_t i = 0; i < units; ++i) s[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  return Utf16ToUtf8(s);
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
    std::string_view rest = bytes.substr(2);
    std::u16string units(rest.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i) {
      const auto a = static_cast<std::uint8_t>(rest[2 * i]);
      const auto b = static_cast<std::uint8_t>(rest[2 * i + 1]);
      units[i] = static_cast<char16_t>(le ? (a | b << 8) : (b | a << 8));
    }
    if (rest.size() % 2) units.push_back(0xFFFD);  // a dangling byte
    return Utf16ToUtf8(units);
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
  std::string out;
  bool changed = false;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t cp = NextUtf8(text, i);
    const char32_t lower = FoldCase(cp);
    if (lower == cp || cp == 0xFFFD) {
      out.append(text, start, i - start);
    } else {
      AppendUtf8(out, lower);
      changed = true;
    }
  }
  if (changed) text.swap(out);
}

}  // namespace tarvik
