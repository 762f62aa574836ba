// Conditions in words, for the file listings: what a person reads in a table column
// rather than the PKG syntax.

#include <algorithm>
#include <string>

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/views.hpp"

namespace tarvik::views {

namespace {

using model::Expression;
using model::ExprOp;

constexpr std::uint32_t kLanguageAttribute = 0x1000;

bool IsLanguage(const Expression& e) { return e.op == ExprOp::Variable && e.value == kLanguageAttribute; }

std::string Hex(std::uint32_t v) { return "0x" + HexText(v, 8); }

bool IsValue(const Expression& e) { return e.op >= ExprOp::Exists || e.op == ExprOp::None; }

std::string Text(const Expression& e);

std::string Operand(const Expression& e, std::size_t i) { return i < e.operands.size() ? Text(e.operands[i]) : "?"; }

// An operand of `parent`: grouped unless it is a value or the same joining word.
std::string Grouped(const Expression& parent, std::size_t i) {
  if (i >= parent.operands.size()) return "?";
  const Expression& a = parent.operands[i];
  const bool notOfValue = a.op == ExprOp::Not && !a.operands.empty() && IsValue(a.operands[0]);
  if (IsValue(a) || a.op == parent.op || notOfValue) return Text(a);
  return "(" + Text(a) + ")";
}

std::string Text(const Expression& e) {
  switch (e.op) {
    case ExprOp::Equal: case ExprOp::NotEqual: case ExprOp::Greater: case ExprOp::Less:
    case ExprOp::GreaterOrEqual: case ExprOp::LessOrEqual: {
      static const char* const kOps[] = {" = ", " \xE2\x89\xA0 ", " > ", " < ", " \xE2\x89\xA5 ", " \xE2\x89\xA4 "};
      const char* word = kOps[static_cast<int>(e.op) - static_cast<int>(ExprOp::Equal)];
      if (e.operands.size() == 2) {
        const Expression& a = e.operands[0];
        const Expression& b = e.operands[1];
        if (IsLanguage(a) && b.op == ExprOp::Number) return "language" + std::string(word) + LanguageName(b.value);
        if (IsLanguage(b) && a.op == ExprOp::Number) return "language" + std::string(word) + LanguageName(a.value);
      }
      return Grouped(e, 0) + word + Grouped(e, 1);
    }
    case ExprOp::And:
    case ExprOp::Or: {
      // A chain of one operator is one node with all its operands.
      const char* word = e.op == ExprOp::And ? " and " : " or ";
      std::string text = Grouped(e, 0);
      for (std::size_t i = 1; i < std::max<std::size_t>(e.operands.size(), 2); ++i) text += word + Grouped(e, i);
      return text;
    }
    case ExprOp::Not: return "not " + Grouped(e, 0);
    case ExprOp::Exists: return "\"" + e.text + "\" exists";
    case ExprOp::AppProperty: return "property " + Operand(e, 1) + " of package " + Operand(e, 0);
    case ExprOp::Package: return "package " + Operand(e, 0) + " installed";
    case ExprOp::String: return "\"" + e.text + "\"";
    case ExprOp::Option: return "option " + std::to_string(e.value);
    case ExprOp::Variable: {
      if (e.value == kLanguageAttribute) return "language";
      const std::string name = AttributeName(e.value);
      return name.empty() ? "attribute " + Hex(e.value) : name;
    }
    case ExprOp::Number: return e.value < 0x10000 ? std::to_string(e.value) : Hex(e.value);
    case ExprOp::DeviceCapability: return "device capability " + Operand(e, 0);
    case ExprOp::AppCapability: return "capability " + Operand(e, 1) + " of " + Operand(e, 0);
    case ExprOp::None: break;
  }
  return e.unknownOp != 0 ? "unknown operator " + Hex(e.unknownOp) : "?";
}

}  // namespace

std::string ReadableCondition(const model::Expression& condition) { return Text(condition); }

char SourceSeparator(const std::string& folder) {
  return folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos ? '/' : '\\';
}

}  // namespace tarvik::views
