// Condition expressions of If and ElseIf records, written as infix PKG text.

#include <memory>
#include <string>
#include <vector>

#include "bytes/tables.hpp"
#include "sis9/reader.hpp"

namespace tarvik::sis9 {

namespace {

enum Op : std::uint32_t {
  kEq = 1, kNe, kGt, kLt, kGe, kLe, kAnd, kOr, kNot, kExists, kAppProp, kPackage, kString, kOption, kVariable,
  kNumber,
};

constexpr std::uint32_t kLanguageAttribute = 0x1000;

struct Node {
  std::uint32_t op = 0;
  std::uint32_t value = 0;
  std::string text;
  std::vector<Node> operands;
  Pos next = 0;
};

int Arity(std::uint32_t op) {
  if (op >= kEq && op <= kOr) return 2;
  if (op == kNot || op == kPackage) return 1;
  if (op == kAppProp) return 2;
  return 0;
}

bool IsPrimary(std::uint32_t op) { return op >= kExists; }

class ExpressionReader {
 public:
  ExpressionReader(const FileBuffer& b) : b_(b) {}

  // Reads the expression record at `pos`; false when it is not one (or is damaged). The
  // node keeps whatever was read before the damage.
  bool Read(Pos pos, Pos limit, int depth, Node& node) {
    Field f = ReadField(b_, pos, limit);
    if (f.type != sistype::Expression || !f.ok || depth > kMaxExpressionDepth || f.length < 8) return false;
    node.op = Word(b_, f.index);
    node.value = Word(b_, f.index + 4);
    node.next = f.next;
    if (node.op < kEq || node.op > kNumber) return false;
    Pos p = f.index + 8;
    if (node.op == kExists || node.op == kString) {
      Field s = ReadField(b_, p, f.end);
      if (s.type != sistype::String || !s.ok) return false;
      node.text = FieldText(b_, s);
      p = s.next;
    }
    for (int i = 0; i < Arity(node.op); ++i) {
      Node child;
      const bool ok = Read(p, f.end, depth + 1, child);
      if (ok || child.op != 0) node.operands.push_back(std::move(child));
      if (!ok) return false;
      p = node.operands.back().next;
    }
    return true;
  }

 private:
  const FileBuffer& b_;
};

class Writer {
 public:
  std::string Render(const Node& n) {
    switch (n.op) {
      case kEq: case kNe: case kGt: case kLt: case kGe: case kLe: {
        static const char* const kOps[] = {"=", "<>", ">", "<", ">=", "<="};
        const Node* a = Operand(n, 0);
        const Node* c = Operand(n, 1);
        // A number compared with the Language variable gets its language name at the end.
        if (a && c && a->op == kVariable && a->value == kLanguageAttribute && c->op == kNumber) Comment(c->value);
        if (a && c && c->op == kVariable && c->value == kLanguageAttribute && a->op == kNumber) Comment(a->value);
        std::string left = Side(a);  // left first: language names follow the text's order
        return left + " " + kOps[n.op - kEq] + " " + Side(c);
      }
      case kAnd: case kOr: {
        const char* word = n.op == kAnd ? " AND " : " OR ";
        std::string left = Joined(Operand(n, 0), n.op);
        return left + word + Joined(Operand(n, 1), n.op);
      }
      case kNot: {
        const Node* a = Operand(n, 0);
        if (!a) return "NOT ";
        if (IsPrimary(a->op)) return "NOT " + Render(*a);
        return "NOT(" + Render(*a) + ")";
      }
      case kExists: return "EXISTS(\"" + n.text + "\")";
      case kAppProp: return "APPPROP(0x" + Value(n, 0) + ",0x" + Value(n, 1) + ")";
      case kPackage: return "PACKAGE(0x" + Value(n, 0) + ")";
      case kString: return n.text;
      case kOption: return "Option" + std::to_string(n.value);
      case kVariable: return GetAttribute(HexText(n.value, 8));
      case kNumber: return "0x" + HexText(n.value, 8);
      default: return {};
    }
  }

  std::string comments;

 private:
  static const Node* Operand(const Node& n, std::size_t i) { return i < n.operands.size() ? &n.operands[i] : nullptr; }
  static std::string Value(const Node& n, std::size_t i) {
    return HexText(i < n.operands.size() ? n.operands[i].value : 0, 8);
  }
  // An operand of a comparison: anything but a plain value keeps its grouping.
  std::string Side(const Node* a) {
    if (!a) return {};
    if (IsPrimary(a->op)) return Render(*a);
    return "(" + Render(*a) + ")";
  }
  // An operand of AND or OR: a chain of the same operator needs no parentheses.
  std::string Joined(const Node* a, std::uint32_t op) {
    if (!a) return {};
    if ((a->op == kAnd || a->op == kOr) && a->op != op) return "(" + Render(*a) + ")";
    return Render(*a);
  }
  void Comment(std::uint32_t number) {
    comments += ";" + LongLangTable(LangStr(static_cast<std::int32_t>(number))) + " Language";
  }
};

}  // namespace

std::string Reader::ReadCondition(Pos exprPos, Pos limit) {
  ExpressionReader reader(buf);
  Node root;
  if (!reader.Read(exprPos, limit, 0, root)) Fail("condition", exprPos);
  if (root.op == 0) return {};
  Writer w;
  std::string text = w.Render(root);
  if (text.empty() && w.comments.empty()) return {};
  return " " + text + w.comments;
}

}  // namespace tarvik::sis9
