#pragma once
// The statement reader of PKG text, shared by the line and expression readers.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pkgscript/lexer.hpp"
#include "pkgscript/script.hpp"

namespace tarvik::pkgscript {

// Reading stops at the first error of a statement; the reader then skips to the next line
// and goes on, so that one run reports every broken line.
struct ParseError {
  Diagnostic diagnostic;
};

class TokenReader {
 public:
  explicit TokenReader(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  const Token& Peek(std::size_t ahead = 0) const {
    const std::size_t i = pos_ + ahead;
    return i < tokens_.size() ? tokens_[i] : tokens_.back();
  }
  const Token& Take() {
    const Token& t = Peek();
    if (pos_ < tokens_.size() - 1) ++pos_;
    return t;
  }
  bool IsPunct(const char* p, std::size_t ahead = 0) const {
    return Peek(ahead).kind == Token::Kind::Punct && Peek(ahead).text == p;
  }
  bool IsWord(const char* w, std::size_t ahead = 0) const;  // case ignored
  bool TakePunct(const char* p) {
    if (!IsPunct(p)) return false;
    Take();
    return true;
  }
  bool AtLineEnd() const { return Peek().kind == Token::Kind::Newline || Peek().kind == Token::Kind::End; }

  [[noreturn]] void Fail(const Token& at, const std::string& message) const;
  // "expected WHAT, found X".
  [[noreturn]] void Expected(std::string_view what) const;
  void ExpectPunct(const char* p, std::string_view what);
  std::string ExpectString(std::string_view what);
  // A number that fits 32 bits, read as unsigned (a UID) or signed; "-" is allowed before
  // a signed one.
  std::uint32_t ExpectUnsigned(std::string_view what);
  std::int32_t ExpectSigned(std::string_view what);
  // A version word: a number or "*" (-1).
  std::int32_t ExpectVersionWord(std::string_view what);
  void ExpectLineEnd();
  // Moves past the rest of the line.
  void SkipLine();

 private:
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
};

// Reads a condition expression (IF and ELSEIF lines) up to the end of the line.
model::Expression ReadCondition(TokenReader& in);

bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Reads the descriptions of pre-installed files stated in `text` (comment lines
// ";tarvik:preinstalled ...") into the file entries of `script` that name their sources;
// malformed or misplaced ones are errors of `script`.
void ApplyStatedFiles(std::string_view text, Script& script);

}  // namespace tarvik::pkgscript
