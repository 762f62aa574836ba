#include "pkgscript/lexer.hpp"

#include <algorithm>

#include "bytes/encoding.hpp"

namespace tarvik::pkgscript {

namespace {

bool IsWordStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) { out_.reserve(text.size() / 8 + 16); }

  std::vector<Token> Run() {
    while (pos_ < text_.size()) Next();
    Token end;
    end.kind = Token::Kind::End;
    end.at = Here();
    out_.push_back(end);
    return std::move(out_);
  }

 private:
  Location Here() const { return {line_, column_}; }

  // Moves past one character (a whole UTF-8 sequence).
  void Advance() {
    const char c = text_[pos_];
    if (c == '\n') {
      ++line_;
      column_ = 1;
      ++pos_;
      return;
    }
    if (static_cast<unsigned char>(c) < 0x80) {
      ++pos_;
    } else {
      std::size_t i = pos_;
      NextUtf8(text_, i);
      pos_ = i;
    }
    ++column_;
  }

  void Next() {
    const char c = text_[pos_];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') return Advance();
    if (c == '\n') {
      if (depth_ == 0 && (out_.empty() || out_.back().kind != Token::Kind::Newline)) Push(Token::Kind::Newline, "", Here());
      return Advance();
    }
    if (c == ';') {
      while (pos_ < text_.size() && text_[pos_] != '\n') Advance();
      return;
    }
    if (c == '"') return String();
    if (IsDigit(c)) return Number();
    if (IsWordStart(c)) return Word();
    Punct();
  }

  void Push(Token::Kind kind, std::string text, Location at) {
    Token& t = out_.emplace_back();
    t.kind = kind;
    t.text = std::move(text);
    t.at = at;
  }

  void String() {
    const Location at = Here();
    Advance();
    const std::size_t start = pos_;
    // Up to the closing quote or the end of the line in one search; ASCII text moves the
    // column by its length, other text character by character.
    const std::size_t end = std::min(text_.find_first_of("\"\n", start), text_.size());
    bool ascii = true;
    for (std::size_t i = start; i < end && ascii; ++i) ascii = static_cast<unsigned char>(text_[i]) < 0x80;
    if (ascii) {
      column_ += static_cast<int>(end - start);
      pos_ = end;
    } else {
      while (pos_ < end) Advance();
    }
    Push(Token::Kind::String, std::string(text_.substr(start, pos_ - start)), at);
    if (pos_ < text_.size() && text_[pos_] == '"')
      Advance();
    else
      out_.back().unterminated = true;
  }

  void Number() {
    const Location at = Here();
    const std::size_t start = pos_;
    std::uint64_t value = 0;
    bool overflow = false;
    if (text_[pos_] == '0' && pos_ + 1 < text_.size() && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X') &&
        pos_ + 2 < text_.size() && IsHexDigit(text_[pos_ + 2])) {
      Advance();
      Advance();
      while (pos_ < text_.size() && IsHexDigit(text_[pos_])) {
        const char d = text_[pos_];
        const unsigned digit = IsDigit(d) ? static_cast<unsigned>(d - '0') : static_cast<unsigned>((d | 0x20) - 'a' + 10);
        overflow |= value > 0xFFFFFFFFu;
        value = value * 16 + digit;
        Advance();
      }
    } else {
      while (pos_ < text_.size() && IsDigit(text_[pos_])) {
        overflow |= value > 0xFFFFFFFFu;
        value = value * 10 + static_cast<unsigned>(text_[pos_] - '0');
        Advance();
      }
    }
    if (pos_ < text_.size() && IsWordStart(text_[pos_])) {
      // Digits run into letters: one bad token.
      while (pos_ < text_.size() && (IsWordStart(text_[pos_]) || IsDigit(text_[pos_]))) Advance();
      Push(Token::Kind::Bad, std::string(text_.substr(start, pos_ - start)), at);
      return;
    }
    Push(overflow || value > 0xFFFFFFFFu ? Token::Kind::Bad : Token::Kind::Number,
         std::string(text_.substr(start, pos_ - start)), at);
    out_.back().value = static_cast<std::int64_t>(value);
  }

  void Word() {
    const Location at = Here();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && (IsWordStart(text_[pos_]) || IsDigit(text_[pos_]))) Advance();
    Push(Token::Kind::Word, std::string(text_.substr(start, pos_ - start)), at);
  }

  void Punct() {
    const Location at = Here();
    const char c = text_[pos_];
    if ((c == '<' || c == '>') && pos_ + 1 < text_.size()) {
      const char d = text_[pos_ + 1];
      if (d == '=' || (c == '<' && d == '>')) {
        Advance();
        Advance();
        return Push(Token::Kind::Punct, std::string{c, d}, at);
      }
    }
    static constexpr std::string_view kPunct = "#{}()[],-%:=+!@&~*<>";
    const std::size_t from = pos_;
    Advance();
    const std::string piece(text_.substr(from, pos_ - from));
    if (kPunct.find(c) == std::string_view::npos) return Push(Token::Kind::Bad, piece, at);
    if (c == '{' || c == '(' || c == '[') ++depth_;
    if ((c == '}' || c == ')' || c == ']') && depth_ > 0) --depth_;
    Push(Token::Kind::Punct, piece, at);
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1, column_ = 1;
  int depth_ = 0;
  std::vector<Token> out_;
};

}  // namespace

std::vector<Token> Tokenize(std::string_view text) { return Lexer(text).Run(); }

std::string Describe(const Token& t) {
  switch (t.kind) {
    case Token::Kind::End: return "the end of the file";
    case Token::Kind::Newline: return "the end of the line";
    case Token::Kind::String: return "\"" + t.text + "\"";
    default: return "'" + t.text + "'";
  }
}

}  // namespace tarvik::pkgscript
