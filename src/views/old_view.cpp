// The view of a pre-9.x package: its PKG script and its file table. The script lists
// languages, names, requisites, options and records in the reverse of the file order; the
// head comes first, then the record lines last record first.
//
// A package whose reading ended early (Unreadable) gives no script and no files: half a
// package is not offered for extraction.

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "bytes/encoding.hpp"
#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/facts.hpp"
#include "views/script_text.hpp"
#include "views/views.hpp"

namespace tarvik::views {

namespace {

using model::Expression;
using model::ExprOp;
using model::Record;
using text::PathKey;

constexpr const char* kCrLf = "\r\n";
constexpr const char* kHeadBanner = ";<--------Pre Symbian 9.x SIS File-------->";

// File types.
enum : std::uint32_t {
  kFile = 0, kFileText = 1, kEmbedded = 2, kFileRun = 3, kFileNull = 4, kFileMime = 5,
};

constexpr const char* kAndToken = " AND ";
constexpr const char* kOrToken = " OR ";
constexpr const char* kNotToken = "Not ";
const char* const kCompareTokens[] = {" = ", " <> ", " > ", " < ", " >= ", " <= "};

std::string Q(const std::string& s) { return "\"" + s + "\""; }


// Names in script order (the last of the file first), quoted and joined by ", ".
std::string QuotedReversed(const std::vector<std::string>& names) {
  std::string out;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    if (it != names.rbegin()) out += ", ";
    out += Q(*it);
  }
  return out;
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  const std::size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// The option words, built from the option bits in the order the script gives them; a bit
// without a word (0x0004, compare to major version) is left out.
std::string OptionWords(const model::OldHeader& h) {
  if (h.optionsBytes != 2) return {};
  static const struct {
    std::uint16_t bit;
    const char* word;
  } kWords[] = {{0x0001, "IUNICODE"}, {0x0002, "DISTRIBUTABLE"}, {0x0010, "SHUTDOWNAPPS"}, {0x0008, "NOCOMPRESS"}};
  std::string out;
  for (const auto& w : kWords)
    if (h.options & w.bit) out += (out.empty() ? "" : ", ") + std::string(w.word);
  return out;
}

std::string TypeWord(const model::OldHeader& h) {
  if (h.typeBytes != 2) return {};
  switch (h.type) {
    case 0: return "TYPE=SISAPP";
    case 1: return "TYPE=SISSYSTEM";
    case 2: return "TYPE=SISOPTION";
    case 3: return "TYPE=SISCONFIG";
    case 4: return "TYPE=SISPATCH";
    default: return {};
  }
}

std::string FileTypeWord(std::uint32_t type) {
  switch (type) {
    case kFile: return "FILE";
    case kFileText: return "FILETEXT";
    case kEmbedded: return "EMBEDDED SIS";
    case kFileRun: return "FILERUN";
    case kFileNull: return "FILENULL";
    case kFileMime: return "FILEMIME";
    default: return {};
  }
}

std::string DetailsWord(std::uint32_t type, std::uint32_t details) {
  if (type == kFileText) {
    switch (details) {
      case 0: return "TEXTCONTINUE";
      case 1: return "TEXTSKIP";
      case 2: return "TEXTABORT";
      case 3: return "TEXTEXIT";
      default: return {};
    }
  }
  if (type == kFileRun) {
    switch (details) {
      case 0x000: return "RUNINSTALL";
      case 0x001: return "RUNREMOVE";
      case 0x002: return "RUNBOTH";
      case 0x100: return "RUNINSTALL, RUNSENDEND";
      case 0x200: return "RUNINSTALL, RUNWAITEND";
      case 0x201: return "RUNREMOVE,RUNWAITEND";
      case 0x202: return "RUNBOTH, RUNWAITEND";
      default: return {};
    }
  }
  if (type == kFileMime) {
    if (details == 0x100) return "RUNSENDEND";
    if (details == 0x200) return "RUNWAITEND";
  }
  return {};
}

std::string AfterLastBackslash(const std::string& path) {
  const std::size_t p = path.rfind('\\');
  return p == std::string::npos ? path : path.substr(p + 1);
}

// The extension with its dot, or nothing.
std::string Extension(const std::string& path) {
  const std::size_t p = path.rfind('.');
  return p == std::string::npos ? std::string() : path.substr(p);
}

// Drops the first `count` characters (code points) of UTF-8 text.
std::string DropChars(const std::string& text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t c = 0; c < count && i < text.size(); ++c) NextUtf8(text, i);
  return text.substr(i);
}

// ---- Conditions --------------------------------------------------------------------------

// Name of a device attribute; option variables (0x2000 + k) are the script's "optionk", and
// an attribute the table does not name keeps its number.
std::string VariableName(std::uint32_t number) {
  std::string name = tarvik::AttributeName(number);
  if (name.empty() && number > 0x2000 && number <= 0x20FF) name = "option" + std::to_string(number - 0x2000);
  if (name.empty()) name = UidText(number);
  return name;
}

// Values up to 2^31 in hexadecimal, larger ones as negative decimals.
std::string ValueText(std::uint32_t v) {
  if (v <= 0x80000000u) return UidText(v);
  return std::to_string(static_cast<std::int64_t>(v) - 0x100000000LL);
}

std::uint32_t OperandValue(const Expression& e, std::size_t k) {
  return k < e.operands.size() ? e.operands[k].value : 0;
}

bool IsCompare(ExprOp op) { return op >= ExprOp::Equal && op <= ExprOp::LessOrEqual; }
const char* CompareToken(ExprOp op) {
  return kCompareTokens[static_cast<int>(op) - static_cast<int>(ExprOp::Equal)];
}

// Text of a leaf, or of an operator word as a token.
std::string TokenText(const Expression& e) {
  switch (e.op) {
    case ExprOp::And: return kAndToken;
    case ExprOp::Or: return kOrToken;
    case ExprOp::Not: return kNotToken;
    case ExprOp::Exists: return "Exists(" + Q(e.text) + ")";
    case ExprOp::DeviceCapability: return "devcap(" + UidText(OperandValue(e, 0)) + ")";
    case ExprOp::AppCapability: return "appcap(" + UidText(OperandValue(e, 0)) + ", " + UidText(OperandValue(e, 1)) + ")";
    case ExprOp::String: return " " + Q(e.text);
    case ExprOp::Variable: return VariableName(e.value);
    case ExprOp::Number: return ValueText(e.value);
    default: return IsCompare(e.op) ? CompareToken(e.op) : std::string();
  }
}

// The infix text of a whole tree. Comparison operands that are not leaves, an AND or OR
// nested in the other operator, and anything but a leaf or a NOT under NOT are grouped in
// parentheses; a chain of one operator (two or more operands) is written left to right.
enum class Shape { Leaf, Not, Compare, And, Or };

Shape ShapeOf(const Expression& e) {
  if (IsCompare(e.op)) return Shape::Compare;
  switch (e.op) {
    case ExprOp::And: return Shape::And;
    case ExprOp::Or: return Shape::Or;
    case ExprOp::Not: return Shape::Not;
    default: return Shape::Leaf;
  }
}

std::string TreeText(const Expression& e);

std::string Grouped(const Expression& e, bool group) { return group ? "(" + TreeText(e) + ")" : TreeText(e); }

std::string TreeText(const Expression& e) {
  static const Expression kNone;
  const Expression& a = e.operands.size() > 0 ? e.operands[0] : kNone;
  const Expression& b = e.operands.size() > 1 ? e.operands[1] : kNone;
  const Shape shape = ShapeOf(e);
  switch (shape) {
    case Shape::Compare:
      return Grouped(a, ShapeOf(a) != Shape::Leaf) + CompareToken(e.op) + Grouped(b, ShapeOf(b) != Shape::Leaf);
    case Shape::And:
    case Shape::Or: {
      const Shape other = shape == Shape::And ? Shape::Or : Shape::And;
      const char* word = shape == Shape::And ? kAndToken : kOrToken;
      std::string out = Grouped(a, ShapeOf(a) == other);
      for (std::size_t i = 1; i < std::max<std::size_t>(2, e.operands.size()); ++i) {
        const Expression& next = i < e.operands.size() ? e.operands[i] : kNone;
        out += word;
        out += Grouped(next, ShapeOf(next) == other);
      }
      return out;
    }
    case Shape::Not: return kNotToken + Grouped(a, ShapeOf(a) != Shape::Leaf && ShapeOf(a) != Shape::Not);
    case Shape::Leaf: break;
  }
  return TokenText(e);
}

// One AND or OR pass over folded tokens; true when it joined anything.
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

bool IsCompareText(const std::string& t) {
  for (const char* c : kCompareTokens) {
    if (t == c) return true;
  }
  return false;
}

// The text of an expression that does not read as a whole tree, from its nodes in stored
// order: runs of NOT join the token after them, comparisons take the two tokens after them,
// then AND and OR join their neighbours pass by pass while a pass joins anything.
std::string FoldedText(const std::vector<Expression>& nodes) {
  std::vector<std::string> tokens;
  tokens.reserve(nodes.size());
  for (const Expression& e : nodes) tokens.push_back(TokenText(e));

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

  std::vector<std::string> folded;
  for (std::size_t i = 0; i < merged.size();) {
    const std::string& t = merged[i];
    auto at = [&](std::size_t k) { return k < merged.size() ? merged[k] : std::string(); };
    if (IsCompareText(t)) {
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

  for (;;) {
    const bool andJoined = JoinPass(folded, kAndToken);
    const bool orJoined = JoinPass(folded, kOrToken);
    if (!andJoined && !orJoined) break;
  }

  std::string text;
  for (const std::string& t : folded) text += t;
  return text;
}

// ---- Records -----------------------------------------------------------------------------

class RecordView {
 public:
  RecordView(const model::Package& pkg, PackageView& view) : pkg_(pkg), view_(view) {
    const std::string& name = pkg.name;
    prefix_ = "bin\\" + Trim(name.substr(0, name.find('.'))) + "\\";
  }

  // First pass: the file rows of a record, which install under `condition` (in words;
  // empty when always).
  void AddRows(const Record& r, const SharedText& condition) {
    if (&condition.str() != &condition_->str()) languageConditions_.clear();
    condition_ = &condition;
    if (r.kind == Record::Kind::File || r.kind == Record::Kind::LanguageFiles) File(r, nullptr);
  }

  // Between the passes: files with one path (variants of one target in different condition
  // branches) would overwrite one another. In script order (the last record first), the first
  // keeps its name; each later one becomes "name (2).ext", "name (3).ext", ..., in the table,
  // the extraction and the language blocks of the script alike.
  void MakePathsDistinct() {
    languageFiles_ = 0;
    rowAt_ = 0;
    std::vector<FileRow>& rows = view_.files;
    suffixes_.assign(rows.size(), std::string());
    std::string key;
    // Most packages have no two rows on one path: a table of the keys' hashes alone shows
    // that cheaply. Only when two hashes meet are the keys themselves compared.
    {
      text::HashSet hashes(rows.size());
      bool clash = false;
      for (std::size_t i = rows.size(); i-- > 0 && !clash;) {
        const std::string& path = rows[i].extractPath;
        if (rows[i].compressedSize == 0 || path.empty() || path.back() == '\\' || path.back() == '/') continue;
        PathKey(path, key);
        clash = !hashes.Insert(key);
      }
      if (!clash) return;
    }
    std::unordered_map<std::string, int> taken;
    taken.reserve(rows.size());
    for (std::size_t i = rows.size(); i-- > 0;) {
      // A row that is never written (no bytes stored, or no file name) takes no name.
      const std::string& path = rows[i].extractPath;
      if (rows[i].compressedSize == 0 || path.empty() || path.back() == '\\' || path.back() == '/') continue;
      PathKey(rows[i].extractPath, key);
      auto [at, fresh] = taken.emplace(key, 1);
      if (fresh) continue;
      std::string renamed;
      for (int n = at->second + 1;; ++n) {
        suffixes_[i] = " (" + std::to_string(n) + ")";
        renamed = text::WithSuffix(rows[i].extractPath, rows[i].extractPath.size(), suffixes_[i]);
        PathKey(renamed, key);
        if (!taken.count(key)) {
          at->second = n;
          break;
        }
      }
      taken.emplace(key, 1);
      rows[i].extractPath = std::move(renamed);
    }
  }

  // Second pass: the record's script line, when it has one.
  void Add(const Record& r, std::vector<std::string>& lines) {
    switch (r.kind) {
      case Record::Kind::EndIf: lines.push_back("EndIf"); break;
      case Record::Kind::Else: lines.push_back("Else"); break;
      case Record::Kind::If:
      case Record::Kind::ElseIf:
        lines.push_back((r.kind == Record::Kind::If ? "If " : "ElseIf ") +
                        (r.conditionComplete ? TreeText(r.condition) : FoldedText(r.conditionTokens)));
        break;
      case Record::Kind::Options: lines.push_back(OptionsLine(r)); break;
      case Record::Kind::File:
      case Record::Kind::LanguageFiles: File(r, &lines); break;
    }
  }

 private:
  static std::string OptionsLine(const Record& r) {
    std::string line = "!(";
    for (auto it = r.options.rbegin(); it != r.options.rend(); ++it) {
      if (it != r.options.rbegin()) line += ",";
      line += "{" + QuotedReversed(*it) + "}";
    }
    return line + ")";
  }

  // Long name of the language at file position k.
  std::string LongName(std::size_t k) const {
    const std::uint32_t number = k < pkg_.languages.size() ? pkg_.languages[k] : 0;
    return LanguageName(number);
  }

  // Adds the record's rows (`lines` null), or writes its line.
  void File(const Record& r, std::vector<std::string>* lines) {
    const bool single = r.kind == Record::Kind::File;
    const std::uint32_t type = r.fileType;
    // A FILENULL record names no source, and a FILETEXT record installs nowhere.
    static const std::string kNone;
    const std::string& src = type == kFileNull ? kNone : r.source;
    const std::string& dst = type == kFileText ? kNone : r.target;

    std::vector<std::string> parts;  // file part of each extraction path, file order
    for (std::size_t k = 0; k < r.entries.size(); ++k) {
      const model::FileEntry& e = r.entries[k];
      std::string part;
      if (single) {
        // The target (or the source) without its drive.
        part = DropChars(dst.empty() ? src : dst, 3);
      } else {
        // The first language's file keeps the source's name; the others are numbered
        // across all per-language records.
        ++languageFiles_;
        part = k == 0 ? AfterLastBackslash(src)
                      : LongName(k) + " Source file(" + std::to_string(languageFiles_) + ")" + Extension(src);
      }
      if (lines) {
        // The rows are there: only the name's suffix is wanted.
        const std::string& suffix = rowAt_ < suffixes_.size() ? suffixes_[rowAt_] : std::string();
        ++rowAt_;
        parts.push_back(suffix.empty() ? std::move(part) : text::WithSuffix(part, part.size(), suffix));
        continue;
      }
      FileRow row;
      row.extractPath = prefix_ + part;
      row.target = dst;
      row.hasData = e.dataOffset.has_value();
      row.offset = e.dataOffset.value_or(0);
      row.deflated = e.compression == 1;
      row.compressedSize = e.compressedSize;
      row.uncompressedSize = e.uncompressedSize;
      row.entry = &e;
      row.package = &pkg_;
      row.condition = single ? *condition_ : LanguageCondition(k);
      view_.files.push_back(std::move(row));
    }
    if (!lines) return;
    std::string line = ScriptLine(r, src, dst, parts);
    if (!line.empty()) lines->push_back(std::move(line));
  }

  // The script line of a file record; `parts` are the file names of a per-language record.
  std::string ScriptLine(const Record& r, const std::string& src, const std::string& dst,
                         const std::vector<std::string>& parts) const {
    const bool single = r.kind == Record::Kind::File;
    const std::uint32_t type = r.fileType;
    std::string source;
    if (single || type == kFileNull) {
      source = type == kFileNull ? Q("") : (type == kEmbedded ? "@" + Q(src) : Q(src));
    } else {
      source = "{";
      for (std::size_t k = parts.size(); k-- > 0;) {
        if (k + 1 != parts.size()) source += " ";
        source += (type == kEmbedded ? "@" : "") + Q(parts[k]);
      }
      source += "}";
    }
    const std::string opt = DetailsWord(type, r.details);
    std::string line;
    switch (type) {
      case kFile:
        line.reserve(source.size() + dst.size() + 9);
        line += source;
        line += "-\"";
        line += dst;
        line += "\", FILE";
        break;
      case kFileRun:
        line = source + "-" + Q(dst) + ", FILERUN";
        if (!opt.empty()) line += ", " + opt;
        break;
      case kFileNull: line = source + "-" + Q(dst) + ", FILENULL"; break;
      case kFileText:
        line = source + "-" + Q("") + "," + FileTypeWord(type);
        if (!opt.empty()) line += ", " + opt;
        break;
      case kEmbedded: line = source + ",(" + UidText(r.details) + ")"; break;
      case kFileMime:
        line = source + "-" + Q(dst) + ", FILEMIME";
        if (!r.mime.empty()) line += ", " + Q(r.mime);
        if (!opt.empty()) line += ", " + opt;
        break;
      default: break;
    }
    return line;
  }

  const model::Package& pkg_;
  PackageView& view_;
  std::string prefix_;
  std::int32_t languageFiles_ = 0;
  std::vector<std::string> suffixes_;  // per row: " (n)" when its path was made distinct
  std::size_t rowAt_ = 0;              // second pass: the row of the next entry
  // The condition of the record being read, and (per language) that condition with the
  // language added, made once for all the records under it.
  const SharedText* condition_ = &kNoCondition;
  std::vector<SharedText> languageConditions_;
  static inline const SharedText kNoCondition{};

  const SharedText& LanguageCondition(std::size_t k) {
    if (languageConditions_.size() <= k) languageConditions_.resize(k + 1);
    SharedText& shared = languageConditions_[k];
    if (shared.empty()) {
      const std::string language = "if language = " + LongName(k);
      shared = condition_->empty() ? SharedText(language) : SharedText(condition_->str() + "; " + language);
    }
    return shared;
  }
};

// The condition in words of each record, worked out in script order (the reverse of the
// file order): the branches open around it, joined by "; ".
std::vector<SharedText> RecordConditions(const std::vector<Record>& records) {
  std::vector<SharedText> out(records.size());
  // The records of one branch share one text, made when the first of them is met.
  SharedText current;
  bool valid = false;
  struct Branch {
    std::string ifText;    // the If's condition in words
    std::string text;      // the branch now open
    int branches = 0;      // If and ElseIf branches met
  };
  std::vector<Branch> open;
  auto joined = [&open]() {
    std::string text;
    for (const Branch& b : open) text += (text.empty() ? "" : "; ") + b.text;
    return text;
  };
  auto words = [](const Record& r) {
    return r.conditionComplete ? ReadableCondition(r.condition) : FoldedText(r.conditionTokens);
  };
  for (std::size_t i = records.size(); i-- > 0;) {
    const Record& r = records[i];
    switch (r.kind) {
      case Record::Kind::If: {
        const std::string text = words(r);
        open.push_back({text, "if " + text, 1});
        valid = false;
        break;
      }
      case Record::Kind::ElseIf:
        if (!open.empty()) {
          open.back().text = "else if " + words(r);
          ++open.back().branches;
        }
        valid = false;
        break;
      case Record::Kind::Else:
        if (!open.empty())
          open.back().text = open.back().branches == 1 ? "if not (" + open.back().ifText + ")" : "otherwise";
        valid = false;
        break;
      case Record::Kind::EndIf:
        if (!open.empty()) open.pop_back();
        valid = false;
        break;
      default:
        if (!valid) current = SharedText(joined());
        valid = true;
        out[i] = current;
        break;
    }
  }
  return out;
}

std::string HeadText(const model::Package& pkg, const model::OldHeader& h) {
  std::string head = std::string(kHeadBanner) + kCrLf + kCrLf;
  head += "&";
  for (auto it = pkg.languages.rbegin(); it != pkg.languages.rend(); ++it) {
    if (it != pkg.languages.rbegin()) head += ", ";
    head += ScriptLanguage(*it);
  }
  head += kCrLf;
  head += "#{";
  if (!pkg.names.empty()) head += QuotedReversed(pkg.names) + "}, (";
  head += "0x" + HexText(h.uid1, 2 * h.uid1Bytes) + "), " + std::to_string(pkg.version.major) + ", " +
          std::to_string(pkg.version.minor) + ", " + std::to_string(static_cast<std::uint32_t>(pkg.version.build));
  // Options and type, each only when there is one: no empty item between separators.
  for (const std::string& item : {OptionWords(h), TypeWord(h)})
    if (!item.empty()) head += ", " + item;
  head += kCrLf;
  for (std::size_t i = pkg.dependencies.size(); i-- > 0;) {
    const model::Dependency& d = pkg.dependencies[i];
    const model::Version v = d.versions ? d.versions->from : model::Version{};
    const int digits = i < h.requisiteUidBytes.size() ? 2 * h.requisiteUidBytes[i] : 8;
    head += "(0x" + HexText(d.uid, digits) + "), " + std::to_string(v.major) + ", " + std::to_string(v.minor) + ", " +
            std::to_string(static_cast<std::uint32_t>(v.build)) + ", {" + QuotedReversed(d.names) + "}" + kCrLf;
  }
  if (!pkg.properties.empty()) {
    // A package may carry tens of thousands of them: each number is written straight into
    // the text.
    auto number = [&head](std::int32_t n) {
      std::array<char, 12> digits{};
      head.append(digits.data(), std::to_chars(digits.data(), digits.data() + digits.size(), n).ptr);
    };
    head += "+(";
    head.reserve(head.size() + pkg.properties.size() * 16);
    for (std::size_t k = 0; k < pkg.properties.size(); ++k) {
      if (k) head += ", ";
      number(pkg.properties[k].key);
      head += '=';
      number(pkg.properties[k].value);
    }
    head += ")";
    head += kCrLf;
  }
  return head;
}

}  // namespace

PackageView DescribeOld(const model::Package& package, const ScriptSettings& /*settings*/) {
  PackageView view;
  if (!package.oldHeader) return view;
  for (const model::Problem& p : package.problems) {
    if (p.kind == model::Problem::Kind::Unreadable || p.kind == model::Problem::Kind::NotAPackage) return view;
  }

  std::vector<std::string> lines;
  lines.reserve(package.records.size());
  std::size_t rows = 0;
  for (const Record& r : package.records)
    if (r.kind == Record::Kind::File || r.kind == Record::Kind::LanguageFiles) rows += r.entries.size();
  view.files.reserve(rows);
  RecordView records(package, view);
  const std::vector<SharedText> conditions = RecordConditions(package.records);
  for (std::size_t i = 0; i < package.records.size(); ++i) records.AddRows(package.records[i], conditions[i]);
  records.MakePathsDistinct();
  for (const Record& r : package.records) records.Add(r, lines);

  std::string text = HeadText(package, *package.oldHeader);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    text += *it;
    text += kCrLf;
  }
  view.script = std::move(text);
  return view;
}

}  // namespace tarvik::views
