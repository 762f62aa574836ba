#pragma once
// Text encodings: internal text is UTF-8; package fields are UTF-16LE or Windows-1252.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik {

void AppendUtf8(std::string& out, char32_t cp);
// Windows-1252 byte to its Unicode code point (the five undefined bytes map to themselves).
char32_t Cp1252ToUnicode(std::uint8_t byte);
// Unicode code point to its Windows-1252 byte, or nothing when the code page lacks it.
std::optional<std::uint8_t> UnicodeToCp1252(char32_t cp);
std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252; characters the code page lacks become '?'. When `firstBad` is given
// it receives the first such character (or stays untouched when every character fits).
std::string Utf8ToCp1252(std::string_view utf8, std::optional<char32_t>* firstBad = nullptr);
// UTF-16 code units (little-endian pairs) to UTF-8; surrogate pairs are joined, a lone
// surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(const std::uint8_t* data, std::size_t units);
std::string Utf16ToUtf8(std::u16string_view units);
std::string Utf8ToUtf16Le(std::string_view utf8);
// Decodes the next code point of UTF-8 text at `i` (advancing it); invalid bytes give U+FFFD.
char32_t NextUtf8(std::string_view text, std::size_t& i);
// Lower case of a code point for comparing names without regard to case: ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic capitals; every other code point is itself. The lower
// case has as many UTF-8 bytes as the capital.
char32_t FoldCase(char32_t cp);
// Folds the case of UTF-8 text in place (FoldCase per code point; invalid bytes stay).
void FoldCaseUtf8(std::string& text);
// Decodes a text file: by its byte-order mark (UTF-8, UTF-16LE, UTF-16BE) when it has one,
// otherwise as Windows-1252.
std::string DecodeTextFile(std::string_view bytes);

}  // namespace tarvik
