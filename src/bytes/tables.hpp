#pragma once
// Language codes, long language names and device-attribute names of the PKG vocabulary.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik {

// Two-letter code of a language number ("Test" for 0); empty above 98.
std::string LanguageCode(std::uint32_t number);
// Two-letter code of a language number (one blank for 0); empty outside 0..98.
std::string LangStr(std::int32_t number);
// Long name of the first code that occurs in `code` (a search in a fixed order), then a blank
// and the characters from the third on when `code` is longer than 2; "Reserved" for X.
std::string LongLangTable(std::string_view code);
// Long name of a language number for lists and comments: the long name of its code
// ("Swahili" for 84, which shares SW with Swedish), "Language N" for a number without a code.
std::string LanguageName(std::uint32_t number);
// A language as the script's language line writes it: its code ("Test" for 0), or its decimal
// number when the table has no code for it.
std::string ScriptLanguage(std::uint32_t number);
// A language as a package builder reads it back to the same number: the two-letter code when
// it belongs to this number first, otherwise the decimal number (0, 84, 86, 95, 99 and up...).
std::string BuilderLanguage(std::uint32_t number);
// Name of a device attribute by its number; empty when unknown.
std::string AttributeName(std::uint32_t number);

}  // namespace tarvik
