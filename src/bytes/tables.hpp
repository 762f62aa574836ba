#pragma once
// Language codes, long language names and device-attribute names of the PKG vocabulary.

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvik {

// Two-letter code of a language number given as decimal text ("Test" for "0"); empty when
// the text is not one of 0..98 written without leading zeros.
std::string GetLanguage(std::string_view number);
// Two-letter code of a language number (one blank for 0); empty outside 0..98.
std::string LangStr(std::int32_t number);
// Long name of the first code that occurs in `code` (a search in a fixed order), then a blank
// and the characters from the third on when `code` is longer than 2; "Reserved" for X.
std::string LongLangTable(std::string_view code);
// Attribute name for an 8-digit hexadecimal key (case ignored); empty when unknown.
std::string GetAttribute(std::string_view key);

}  // namespace tarvik
