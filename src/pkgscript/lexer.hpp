#pragma once
// Tokens of PKG text.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pkgscript/script.hpp"

namespace tarvik::pkgscript {

struct Token {
  enum class Kind : std::uint8_t { End, Newline, String, Number, Word, Punct, Bad };
  Kind kind = Kind::End;
  std::string text;        // string contents, the word, the punctuation, or the bad text
  std::int64_t value = 0;  // numbers
  Location at;
  bool unterminated = false;  // a string without its closing quote
};

// Splits `text` into tokens. Comments (";" to the end of the line) are dropped. Line breaks
// inside braces, parentheses or brackets are dropped too, so that a construct may span lines.
std::vector<Token> Tokenize(std::string_view text);

// How a token reads in a message: 'x', "text", end of line, end of file.
std::string Describe(const Token& t);

}  // namespace tarvik::pkgscript
