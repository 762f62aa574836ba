#include "pkgscript/parser.hpp"

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"

namespace tarvik::pkgscript {

namespace {

using model::Expression;
using model::ExprOp;

constexpr int kMaxDepth = 64;
constexpr std::size_t kMaxTerms = 4096;
constexpr std::uint32_t kLanguageVariable = 0x1000;

Expression Node(ExprOp op, std::uint32_t value = 0) {
  Expression e;
  e.op = op;
  e.value = value;
  return e;
}

Expression Binary(ExprOp op, Expression a, Expression b) {
  Expression e = Node(op);
  e.operands.push_back(std::move(a));
  e.operands.push_back(std::move(b));
  return e;
}

// The attribute number of a variable name (case ignored), or -1.
std::int64_t AttributeNumber(const std::string& word) {
  if (EqualsIgnoringCase(word, "LANGUAGE")) return kLanguageVariable;
  for (std::uint32_t n = 0; n <= 0x1001; ++n) {
    if (n == 128) n = 0x1000;
    const std::string name = AttributeName(n);
    if (!name.empty() && EqualsIgnoringCase(name, word)) return n;
  }
  return -1;
}

class ExpressionReader {
 public:
  explicit ExpressionReader(TokenReader& in) : in_(in) {}

  // logical := unary ((AND | OR) unary)*  -- right-nested, one precedence, as the builder
  // stores a chain: a AND b OR c is AND(a, OR(b, c)).
  Expression Logical(int depth) {
    if (depth > kMaxDepth) in_.Fail(in_.Peek(), "condition nested too deep, expected at most " + std::to_string(kMaxDepth) + " levels of parentheses and NOT");
    std::vector<Expression> terms;
    std::vector<ExprOp> ops;
    terms.push_back(Unary(depth + 1));
    while (in_.IsWord("AND") || in_.IsWord("OR")) {
      if (terms.size() >= kMaxTerms) in_.Fail(in_.Peek(), "condition too long, expected at most " + std::to_string(kMaxTerms) + " terms joined by AND and OR");
      ops.push_back(in_.IsWord("AND") ? ExprOp::And : ExprOp::Or);
      in_.Take();
      terms.push_back(Unary(depth + 1));
    }
    Expression e = std::move(terms.back());
    for (std::size_t i = ops.size(); i-- > 0;) e = Binary(ops[i], std::move(terms[i]), std::move(e));
    return e;
  }

 private:
  Expression Unary(int depth) {
    if (depth > kMaxDepth) in_.Fail(in_.Peek(), "condition nested too deep");
    if (in_.IsWord("NOT")) {
      in_.Take();
      Expression e = Node(ExprOp::Not);
      e.operands.push_back(Unary(depth + 1));
      return e;
    }
    return Relation(depth + 1);
  }

  Expression Relation(int depth) {
    Expression left = Primary(depth);
    static const struct {
      const char* text;
      ExprOp op;
    } kOps[] = {{"=", ExprOp::Equal},  {"<>", ExprOp::NotEqual}, {">", ExprOp::Greater},
                {"<", ExprOp::Less},   {">=", ExprOp::GreaterOrEqual}, {"<=", ExprOp::LessOrEqual}};
    for (const auto& o : kOps)
      if (in_.IsPunct(o.text)) {
        in_.Take();
        return Binary(o.op, std::move(left), Primary(depth));
      }
    return left;
  }

  Expression Primary(int depth) {
    const Token& t = in_.Peek();
    if (in_.TakePunct("(")) {
      Expression e = Logical(depth + 1);
      in_.ExpectPunct(")", "')' to close the '('");
      return e;
    }
    if (t.kind == Token::Kind::Number) return Node(ExprOp::Number, static_cast<std::uint32_t>(in_.Take().value));
    if (t.kind == Token::Kind::String) {
      Expression e = Node(ExprOp::String);
      e.text = in_.ExpectString("a text");
      return e;
    }
    if (in_.IsPunct("-") && in_.Peek(1).kind == Token::Kind::Number)
      return Node(ExprOp::Number, static_cast<std::uint32_t>(in_.ExpectSigned("a number")));
    if (t.kind != Token::Kind::Word) in_.Expected("a condition: a number, a text, a variable, option<n>, exists(), package(), appprop(), version() or '('");
    return Function();
  }

  Expression Function() {
    const std::string word = in_.Peek().text;
    if (in_.IsWord("exists") && in_.IsPunct("(", 1)) {
      in_.Take();
      in_.Take();
      Expression e = Node(ExprOp::Exists);
      e.text = in_.ExpectString("the file name in exists(\"...\")");
      in_.ExpectPunct(")", "')' after the file name");
      return e;
    }
    if (in_.IsWord("package") && in_.IsPunct("(", 1)) {
      in_.Take();
      in_.Take();
      Expression e = Node(ExprOp::Package);
      e.operands.push_back(Node(ExprOp::Number, in_.ExpectUnsigned("the package UID in package(0x...)")));
      in_.ExpectPunct(")", "')' after the UID");
      return e;
    }
    if (in_.IsWord("appprop") && in_.IsPunct("(", 1)) return AppProp();
    if (in_.IsWord("version") && in_.IsPunct("(", 1)) return VersionCall();
    if (word.size() > 6 && EqualsIgnoringCase(word.substr(0, 6), "option")) {
      std::uint32_t n = 0;
      for (char c : word.substr(6)) {
        if (c < '0' || c > '9' || n > 100000000) in_.Fail(in_.Peek(), "unknown option variable '" + word + "', expected option<n>");
        n = n * 10 + static_cast<std::uint32_t>(c - '0');
      }
      in_.Take();
      return Node(ExprOp::Option, n);
    }
    const std::int64_t attribute = AttributeNumber(word);
    if (attribute < 0) in_.Fail(in_.Peek(), "unknown variable '" + word + "' in a condition, expected a device attribute such as LANGUAGE or MANUFACTURER, or option<n>");
    in_.Take();
    return Node(ExprOp::Variable, static_cast<std::uint32_t>(attribute));
  }

  Expression AppProp() {
    in_.Take();
    in_.Take();
    Expression e = Node(ExprOp::AppProperty);
    e.operands.push_back(Node(ExprOp::Number, in_.ExpectUnsigned("the package UID in appprop(0x...,key)")));
    in_.ExpectPunct(",", "',' after the UID in appprop()");
    e.operands.push_back(Node(ExprOp::Number, static_cast<std::uint32_t>(in_.ExpectSigned("the property key in appprop()"))));
    in_.ExpectPunct(")", "')' after the property key");
    return e;
  }

  // version(0xUID, OP, major, minor, build) tests an installed package's version; it is kept
  // as an exists() test of the installer's version query path.
  Expression VersionCall() {
    in_.Take();
    in_.Take();
    const std::uint32_t uid = in_.ExpectUnsigned("the package UID in version(0x...,...)");
    in_.ExpectPunct(",", "',' after the UID in version()");
    static const struct {
      const char* text;
      const char* code;
    } kOps[] = {{"=", "ET"}, {"<>", "NE"}, {">", "GT"}, {"<", "LT"}, {">=", "GE"}, {"<=", "LE"}};
    std::string code;
    for (const auto& o : kOps)
      if (in_.IsPunct(o.text)) code = o.code;
    if (code.empty()) in_.Expected("a relational operator (=, <>, >, <, >=, <=) in version()");
    in_.Take();
    std::string text = "\\sys\\install\\pkgversion\\?0x" + HexText(uid, 8) + "," + code;
    for (int i = 0; i < 3; ++i) {
      in_.ExpectPunct(",", "',' between the parts of the version in version()");
      text += "," + std::to_string(in_.ExpectSigned("a version number in version()"));
    }
    in_.ExpectPunct(")", "')' after the version");
    Expression e = Node(ExprOp::Exists);
    e.text = text;
    return e;
  }

  TokenReader& in_;
};

}  // namespace

model::Expression ReadCondition(TokenReader& in) {
  ExpressionReader reader(in);
  model::Expression e = reader.Logical(0);
  if (!in.AtLineEnd()) in.Expected("AND, OR, a relational operator or the end of the condition");
  return e;
}

}  // namespace tarvik::pkgscript
