// Condition expressions of If and ElseIf records. The expression is a tree stored in
// prefix order. It is flattened into tokens and folded into infix text pass by pass; when
// the tree is well formed it is also converted recursively, which keeps the same text but
// adds the parentheses that the folding cannot express ((a OR b) AND c).

#include <string>
#include <vector>

#include "bytes/tables.hpp"
#include "sis_old/old_context.hpp"

namespace tarvik::sis_old {

namespace {

constexpr std::size_t kMaxTokens = 200;
constexpr int kMaxDepth = 100;

enum : std::uint32_t {
  kEq = 0, kNe = 1, kGt = 2, kLt = 3, kGe = 4, kLe = 5, kAnd = 6, kOr = 7, kExists = 8,
  kDevCap = 9, kAppCap = 10, kNot = 11, kString = 12, kAttribute = 13, kValue = 14,
};

const char* const kCompareTokens[] = {" = ", " <> ", " > ", " < ", " >= ", " <= "};
const char* const kAndToken = " AND ";
const char* const kOrToken = " OR ";
const char* const kNotToken = "Not ";

bool IsCompare(const std::string& t) {
  for (const char* c : kCompareTokens) {
    if (t == c) return true;
  }
  return false;
}

// Name of a device attribute; option variables (0x2000 + k) are the script's "optionk".
std::string AttributeName(std::uint32_t number) {
  std::string name = GetAttribute(HexText(number, 8));
  if (name.empty() && number > 0x2000 && number <= 0x20FF) name = "option" + std::to_string(number - 0x2000);
  return name;
}

std::string ValueText(std::uint32_t v) {
  if (v <= 0x80000000u) return Hex8(v);
  return std::to_string(static_cast<std::int64_t>(v) - 0x100000000LL);
}

std::string QuotedString(OldContext& ctx, Pos lengthField, Pos offsetField) {
  return "\"" + ctx.Text(lengthField, offsetField, ctx.wide) + "\"";
}

// ---- Flattening and folding ----------------------------------------------------------

class Tokens {
 public:
  explicit Tokens(std::vector<std::string>& list) : list_(list) {}
  void Add(std::string t) {
    if (list_.size() >= kMaxTokens) throw InternalError("too many tokens in a condition");
    list_.push_back(std::move(t));
  }

 private:
  std::vector<std::string>& list_;
};

// Appends the token of a leaf-like node at `pos` and returns the position of the last word
// it uses; nodes of other types add nothing.
Pos GetExpression(OldContext& ctx, Tokens& out, std::uint32_t type, Pos pos) {
  switch (type) {
    case kExists:
      out.Add("Exists(" + QuotedString(ctx, pos + 8, pos + 12) + ")");
      return pos + 12;
    case kDevCap:
      out.Add("devcap(" + Hex8(ctx.U32(pos + 8)) + ")");
      return pos + 8;
    case kAppCap:
      out.Add("appcap(" + Hex8(ctx.U32(pos + 8)) + ", " + Hex8(ctx.U32(pos + 20)) + ")");
      return pos + 20;
    case kNot:
      out.Add(kNotToken);
      return pos;
    case kString:
      out.Add(" " + QuotedString(ctx, pos + 4, pos + 8));
      return pos + 8;
    case kAttribute:
      out.Add(AttributeName(ctx.U32(pos + 4)));
      return pos + 4;
    case kValue:
      out.Add(ValueText(ctx.U32(pos + 4)));
      return pos + 4;
    default:
      return pos;
  }
}

std::vector<std::string> Flatten(OldContext& ctx, Pos start, Pos size) {
  std::vector<std::string> list;
  Tokens out(list);
  const Pos last = start + size - 4;
  for (Pos p = start; p <= last; p += 4) {
    const std::uint32_t t = ctx.U32(p);
    if (t == kAnd) {
      out.Add(kAndToken);
    } else if (t == kOr) {
      out.Add(kOrToken);
    } else if (t <= kLe) {
      out.Add(kCompareTokens[t]);
      p = GetExpression(ctx, out, ctx.U32(p + 4), p + 4);
    } else {
      p = GetExpression(ctx, out, t, p);
    }
  }
  return list;
}

// One AND or OR pass; true when it joined anything.
bool JoinPass(std::vector<std::string>& list, const char* op) {
  std::vector<std::string> next;
  next.reserve(list.size());
  bool joined = false;
  std::size_t i = 0;
  auto isOp = [](const std::string& t) { return t == kAndToken || t == kOrToken; };
  while (i < list.size()) {
    if (list[i] == op && i + 2 < list.size() && !isOp(list[i + 1]) && !isOp(list[i + 2])) {
      next.push_back(list[i + 1] + op + list[i + 2]);
      i += 3;
      joined = true;
    } else {
      next.push_back(std::move(list[i]));
      ++i;
    }
  }
  list.swap(next);
  return joined;
}

std::string Fold(OldContext& ctx, std::vector<std::string> tokens) {
  // A run of "Not " tokens joins the token after it.
  std::vector<std::string> merged;
  for (std::size_t i = 0; i < tokens.size();) {
    std::string nots;
    while (i < tokens.size() && tokens[i] == kNotToken) nots += tokens[i++];
    if (nots.empty()) {
      merged.push_back(std::move(tokens[i++]));
    } else if (i < tokens.size()) {
      merged.push_back(nots + tokens[i++]);
    } else {
      merged.push_back(nots);
    }
  }

  // Comparisons take the two tokens after them.
  std::vector<std::string> folded;
  for (std::size_t i = 0; i < merged.size();) {
    const std::string& t = merged[i];
    auto at = [&](std::size_t k) { return k < merged.size() ? merged[k] : std::string(); };
    if (IsCompare(t)) {
      folded.push_back(at(i + 1) + t + at(i + 2));
      i += 3;
    } else if (t == kNotToken) {
      folded.push_back(t + at(i + 1));
      i += 2;
    } else {
      folded.push_back(t);
      ++i;
    }
  }

  // AND and OR, in cycles, while a cycle joins anything.
  for (;;) {
    const bool andJoined = JoinPass(folded, kAndToken);
    const bool orJoined = JoinPass(folded, kOrToken);
    ctx.app.ui.DoEvents();
    if (!andJoined && !orJoined) break;
  }

  std::string text;
  for (const std::string& t : folded) text += t;
  return text;
}

// ---- Recursive conversion --------------------------------------------------------------

enum class Shape { Leaf, Not, Compare, And, Or };

struct Node {
  std::string text;
  Shape shape = Shape::Leaf;
  std::uint32_t type = 0;
  Pos at = 0;  // where the node starts
};

class TreeReader {
 public:
  TreeReader(OldContext& ctx, Pos start, Pos size) : ctx_(ctx), p_(start), end_(start + size) {}

  bool Read(Node& out) { return Parse(out, 0); }

 private:
  bool Word(std::uint32_t& v) {
    if (p_ + 4 > end_) return false;
    v = ctx_.U32(p_);
    p_ += 4;
    return true;
  }

  // Leaf nodes of 12 bytes: type, a word, a second word (text offset or unused).
  bool Leaf(Pos at) {
    if (at + 12 > end_) return false;
    p_ = at + 12;
    return true;
  }

  static std::string Grouped(const Node& n, bool group) { return group ? "(" + n.text + ")" : n.text; }

  bool Parse(Node& out, int depth) {
    if (depth > kMaxDepth) return false;
    out.at = p_;
    std::uint32_t t = 0;
    if (!Word(t)) return false;
    out.type = t;
    Node a, b;
    switch (t) {
      case kEq: case kNe: case kGt: case kLt: case kGe: case kLe:
        if (!Parse(a, depth + 1) || !Parse(b, depth + 1)) return false;
        out.text = Grouped(a, a.shape != Shape::Leaf) + kCompareTokens[t] + Grouped(b, b.shape != Shape::Leaf);
        out.shape = Shape::Compare;
        return true;
      case kAnd:
        if (!Parse(a, depth + 1) || !Parse(b, depth + 1)) return false;
        out.text = Grouped(a, a.shape == Shape::Or) + kAndToken + Grouped(b, b.shape == Shape::Or);
        out.shape = Shape::And;
        return true;
      case kOr:
        if (!Parse(a, depth + 1) || !Parse(b, depth + 1)) return false;
        out.text = a.text + kOrToken + b.text;
        out.shape = Shape::Or;
        return true;
      case kNot:
        if (!Parse(a, depth + 1)) return false;
        out.text = kNotToken + Grouped(a, a.shape != Shape::Leaf && a.shape != Shape::Not);
        out.shape = Shape::Not;
        return true;
      case kExists:
        if (!Parse(a, depth + 1) || a.type != kString) return false;
        out.text = "Exists(" + QuotedString(ctx_, a.at + 4, a.at + 8) + ")";
        return true;
      case kDevCap:
        if (!Parse(a, depth + 1) || a.type != kValue) return false;
        out.text = "devcap(" + Hex8(ctx_.U32(a.at + 4)) + ")";
        return true;
      case kAppCap:
        if (!Parse(a, depth + 1) || a.type != kValue || !Parse(b, depth + 1) || b.type != kValue) return false;
        out.text = "appcap(" + Hex8(ctx_.U32(a.at + 4)) + ", " + Hex8(ctx_.U32(b.at + 4)) + ")";
        return true;
      case kString:
        if (!Leaf(out.at)) return false;
        out.text = " " + QuotedString(ctx_, out.at + 4, out.at + 8);
        return true;
      case kAttribute:
        if (!Leaf(out.at)) return false;
        out.text = AttributeName(ctx_.U32(out.at + 4));
        return true;
      case kValue:
        if (!Leaf(out.at)) return false;
        out.text = ValueText(ctx_.U32(out.at + 4));
        return true;
      default:
        return false;
    }
  }

  OldContext& ctx_;
  Pos p_;
  Pos end_;
};

}  // namespace

std::string ConditionText(OldContext& ctx, Pos start, Pos size) {
  std::string text = Fold(ctx, Flatten(ctx, start, size));
  Node root;
  if (TreeReader(ctx, start, size).Read(root)) text = root.text;
  return text;
}

}  // namespace tarvik::sis_old
