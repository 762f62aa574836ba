#include "views/script_text.hpp"

#include <algorithm>

#include "bytes/encoding.hpp"
#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"

namespace tarvik::views::text {

using model::Expression;
using model::ExprOp;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string JoinQuoted(const std::vector<std::string>& items, const char* sep) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += sep;
    out += Quoted(items[i]);
  }
  return out;
}

std::string VersionText(const model::Version& v, bool star, const char* separator) {
  std::string out;
  for (std::int32_t w : {v.major, v.minor, v.build}) {
    if (!out.empty()) out += separator;
    out += (star && w == -1) ? std::string("*") : std::to_string(w);
  }
  return out;
}

const char* InstallTypeText(std::uint8_t type) {
  switch (type) {
    case 1: return ",TYPE=SP";
    case 2: return ",TYPE=PU";
    case 3: return ",TYPE=PA";
    case 4: return ",TYPE=PP";
    default: return ",TYPE=SA";
  }
}

namespace {

// Run options (VR bit masked off) that have a fixed text.
struct RunText {
  std::uint32_t options;
  const char* text;  // "%" stands for the MIME type in quotes
};
constexpr RunText kRunTexts[] = {
    {0x02, ", FR, RI"},          {0x14, ", FR, RR, RW"}, {0x16, ", FR, RB, RW"}, {0x22, ", FR, RI, RS"},
    {0x12, ", FR, RI, RW"},      {0x1A, ", FM, %, RW"},  {0x2A, ", FM, %, RS"},
};

bool IsLanguage(const Expression& e) { return e.op == ExprOp::Variable && e.value == kLanguageAttribute; }
// Values and nodes of an unknown operator stand alone (an unknown one renders as nothing).
bool IsPrimary(const Expression& e) { return e.unknownOp != 0 || e.op >= ExprOp::Exists; }
bool IsJoin(ExprOp op) { return op == ExprOp::And || op == ExprOp::Or; }

class ConditionWriter {
 public:
  explicit ConditionWriter(bool comments) : withComments_(comments) {}

  std::string Render(const Expression& n) {
    switch (n.op) {
      case ExprOp::Equal: case ExprOp::NotEqual: case ExprOp::Greater: case ExprOp::Less:
      case ExprOp::GreaterOrEqual: case ExprOp::LessOrEqual: {
        static const char* const kOps[] = {"=", "<>", ">", "<", ">=", "<="};
        const Expression* a = Operand(n, 0);
        const Expression* c = Operand(n, 1);
        if (a && c && IsLanguage(*a) && c->op == ExprOp::Number) Comment(c->value);
        if (a && c && IsLanguage(*c) && a->op == ExprOp::Number) Comment(a->value);
        std::string left = Side(a);  // left first: language names follow the text's order
        return left + " " + kOps[static_cast<int>(n.op) - static_cast<int>(ExprOp::Equal)] + " " + Side(c);
      }
      case ExprOp::And: case ExprOp::Or: {
        // Two operands, or a longer chain of the same operator: one line, left to right.
        const char* word = n.op == ExprOp::And ? " AND " : " OR ";
        std::string out = Joined(Operand(n, 0), n.op);
        for (std::size_t i = 1; i < std::max<std::size_t>(2, n.operands.size()); ++i) {
          out += word;
          out += Joined(Operand(n, i), n.op);
        }
        return out;
      }
      case ExprOp::Not: {
        const Expression* a = Operand(n, 0);
        if (!a) return "NOT ";
        if (IsPrimary(*a)) return "NOT " + Render(*a);
        return "NOT(" + Render(*a) + ")";
      }
      case ExprOp::Exists: return "EXISTS(\"" + n.text + "\")";
      case ExprOp::AppProperty: return "APPPROP(0x" + Value(n, 0) + ",0x" + Value(n, 1) + ")";
      case ExprOp::Package: return "PACKAGE(0x" + Value(n, 0) + ")";
      case ExprOp::String: return Quoted(n.text);
      case ExprOp::Option: return "Option" + std::to_string(n.value);
      case ExprOp::Variable: {
        // An attribute the table does not name keeps its number.
        std::string name = AttributeName(n.value);
        return name.empty() ? "0x" + HexText(n.value, 8) : name;
      }
      case ExprOp::Number: return "0x" + HexText(n.value, 8);
      default: return {};
    }
  }

  std::string comments;

 private:
  static const Expression* Operand(const Expression& n, std::size_t i) {
    return i < n.operands.size() ? &n.operands[i] : nullptr;
  }
  static std::string Value(const Expression& n, std::size_t i) {
    return HexText(i < n.operands.size() ? n.operands[i].value : 0, 8);
  }
  // An operand of a comparison: anything but a plain value keeps its grouping.
  std::string Side(const Expression* a) {
    if (!a) return {};
    if (IsPrimary(*a)) return Render(*a);
    return "(" + Render(*a) + ")";
  }
  // An operand of AND or OR: a chain of the same operator needs no parentheses.
  std::string Joined(const Expression* a, ExprOp op) {
    if (!a) return {};
    if (IsJoin(a->op) && a->op != op) return "(" + Render(*a) + ")";
    return Render(*a);
  }
  void Comment(std::uint32_t number) {
    if (!withComments_) return;
    const std::string name = LanguageName(number);
    comments += ";" + name;
    if (name.rfind("Language ", 0) != 0) comments += " Language";
  }

  bool withComments_;
};

}  // namespace

std::string RunOptions(std::uint32_t options, const std::string& mime) {
  std::string out;
  for (const RunText& t : kRunTexts)
    if (t.options == options) {
      out = t.text;
      break;
    }
  if (out.empty()) {
    // Combinations without a fixed text are built from their bits.
    out = (options & 0x08) ? ", FM, %" : ", FR";
    switch (options & 0x06) {
      case 0x02: out += ", RI"; break;
      case 0x04: out += ", RR"; break;
      case 0x06: out += ", RB"; break;
      default: break;
    }
    if (options & 0x10) out += ", RW";
    if (options & 0x20) out += ", RS";
  }
  const auto at = out.find('%');
  if (at != std::string::npos) out.replace(at, 1, Quoted(mime));
  return out;
}

std::string TextOption(std::uint32_t options) {
  switch (options) {
    case 0x0400: return ", TS";
    case 0x0800: return ", TA";
    case 0x0000: return ", TC";
    case 0x1000: return ", TE";
    default: return {};
  }
}

bool AppendPathKey(std::string& key, std::string_view piece) {
  const std::size_t at = key.size();
  const std::size_t n = piece.size();
  key.resize(at + n);
  char* const d = key.data() + at;
  const auto* const from = reinterpret_cast<const unsigned char*>(piece.data());
  // Passes the compiler can vectorise, reading the piece itself (not what was just written):
  // ASCII letters to lower case, "/" to "\\", whether any byte lies beyond ASCII, and whether
  // a separator follows another.
  unsigned wide = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const unsigned char c = from[i];
    wide |= c & 0x80u;
    const unsigned char lower = static_cast<unsigned char>(c - 'A') < 26 ? static_cast<unsigned char>(c + 32) : c;
    d[i] = static_cast<char>(c == '/' ? '\\' : lower);
  }
  unsigned doubled = 0;
  for (std::size_t i = 1; i < n; ++i)
    doubled |= static_cast<unsigned>(from[i] == '\\' || from[i] == '/') &
               static_cast<unsigned>(from[i - 1] == '\\' || from[i - 1] == '/');
  // A separator at the start of the key, or one after another (also across the join), is
  // rare: only then is the piece compacted.
  if (n > 0 && (from[0] == '\\' || from[0] == '/')) doubled = 1;
  if (doubled) {
    char* const begin = key.data();
    char* out = d;
    for (std::size_t i = 0; i < n; ++i)
      if (d[i] != '\\' || (out != begin && out[-1] != '\\')) *out++ = d[i];
    key.resize(static_cast<std::size_t>(out - begin));
  }
  return wide != 0;
}

void FinishPathKey(std::string& key, bool wide) {
  if (!key.empty() && key.back() == '\\') key.pop_back();
  if (wide) FoldCaseUtf8(key);
}

void PathKey(std::string_view path, std::string& key) {
  key.clear();
  FinishPathKey(key, AppendPathKey(key, path));
}

namespace {
std::size_t SuffixAt(std::string_view text, std::size_t end) {
  const std::string_view path = text.substr(0, std::min(end, text.size()));
  const std::size_t sep = path.find_last_of("\\/");
  const std::size_t name = sep == std::string_view::npos ? 0 : sep + 1;
  const std::size_t dot = path.rfind('.');
  return dot != std::string_view::npos && dot > name ? dot : path.size();
}
}  // namespace

std::string WithSuffix(std::string text, std::size_t end, const std::string& suffix) {
  text.insert(SuffixAt(text, end), suffix);
  return text;
}

bool IsNullFile(const model::FileEntry& f) {
  return f.operation == 8 || (f.operation == 5 && f.compressedSize == 0 && f.uncompressedSize == 0);
}

bool IsElse(const Expression& e) {
  return e.op == ExprOp::Not && e.operands.size() == 1 && e.operands[0].op == ExprOp::Number &&
         e.operands[0].value == 0 && e.operands[0].operands.empty();
}

std::string ConditionText(const Expression& root, bool comments) {
  if (root.op == ExprOp::None && root.unknownOp == 0) return {};
  ConditionWriter w(comments);
  std::string text = w.Render(root);
  if (text.empty() && w.comments.empty()) return {};
  return " " + text + w.comments;
}

}  // namespace tarvik::views::text
