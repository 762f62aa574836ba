#include "pkgscript/parser.hpp"

namespace tarvik::pkgscript {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool TokenReader::IsWord(const char* w, std::size_t ahead) const {
  return Peek(ahead).kind == Token::Kind::Word && EqualsIgnoringCase(Peek(ahead).text, w);
}

void TokenReader::Fail(const Token& at, const std::string& message) const {
  throw ParseError{Diagnostic{at.at, message}};
}

void TokenReader::Expected(std::string_view what) const {
  const Token& t = Peek();
  if (t.kind == Token::Kind::String && t.unterminated) Fail(t, "text without its closing '\"'");
  Fail(t, "expected " + std::string(what) + ", found " + Describe(t));
}

void TokenReader::ExpectPunct(const char* p, std::string_view what) {
  if (!TakePunct(p)) Expected(what);
}

std::string TokenReader::ExpectString(std::string_view what) {
  const Token& t = Peek();
  if (t.kind != Token::Kind::String || t.unterminated) Expected(what);
  // The reader never goes back to a token it took: its text is moved out, not copied.
  std::string text = std::move(tokens_[pos_].text);
  Take();
  return text;
}

std::uint32_t TokenReader::ExpectUnsigned(std::string_view what) {
  if (Peek().kind != Token::Kind::Number) Expected(what);
  return static_cast<std::uint32_t>(Take().value);
}

std::int32_t TokenReader::ExpectSigned(std::string_view what) {
  const bool negative = IsPunct("-") && Peek(1).kind == Token::Kind::Number;
  if (negative) Take();
  if (Peek().kind != Token::Kind::Number) Expected(what);
  const std::int64_t v = Take().value;
  return static_cast<std::int32_t>(negative ? -v : v);
}

std::int32_t TokenReader::ExpectVersionWord(std::string_view what) {
  if (TakePunct("*")) return -1;
  return ExpectSigned(what);
}

void TokenReader::ExpectLineEnd() {
  if (!AtLineEnd()) Expected("the end of the line");
}

void TokenReader::SkipLine() {
  while (!AtLineEnd()) Take();
}

}  // namespace tarvik::pkgscript
