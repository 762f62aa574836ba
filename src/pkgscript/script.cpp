#include "pkgscript/script.hpp"

#include "bytes/encoding.hpp"
#include "bytes/tables.hpp"
#include "pkgscript/parser.hpp"

namespace tarvik::pkgscript {

namespace {

using model::Expression;
using model::ExprOp;
using model::FileEntry;
using model::InstallBlock;

constexpr std::uint32_t kVerify = 0x8000;
constexpr std::size_t kMaxNesting = 100;  // IF blocks inside one another
constexpr std::uint32_t kLanguageVariable = 0x1000;

// Operation codes and option bits of file descriptions.
enum : std::uint32_t { kOpNone = 0, kOpInstall = 1, kOpRun = 2, kOpInstallRun = 3, kOpText = 4, kOpNull = 8 };
enum : std::uint32_t {
  kRunInstall = 0x2, kRunRemove = 0x4, kByMime = 0x8, kRunWait = 0x10, kRunSendEnd = 0x20,
  kTextContinue = 0x200, kTextSkip = 0x400, kTextAbort = 0x800, kTextExit = 0x1000,
};

Expression Number(std::uint32_t v) {
  Expression e;
  e.op = ExprOp::Number;
  e.value = v;
  return e;
}

Expression LanguageIs(std::uint32_t language) {
  Expression var;
  var.op = ExprOp::Variable;
  var.value = kLanguageVariable;
  Expression e;
  e.op = ExprOp::Equal;
  e.operands = {var, Number(language)};
  return e;
}

Expression ElseCondition() {
  Expression e;
  e.op = ExprOp::Not;
  e.operands.push_back(Number(0));
  return e;
}

std::string Backslashes(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// A file line's options as read.
struct LineOptions {
  std::uint32_t operation = kOpInstall;
  std::uint32_t options = 0;
  std::string mime;
  bool any = false;        // the line gave at least one option
  bool hasOperation = false;  // ... and among them an operation (FF, FT, FR, FN, FM)
};

}  // namespace

class ScriptReader {
 public:
  ScriptReader(std::vector<Token> tokens, Mode mode) : in_(std::move(tokens)), mode_(mode) {
    out_.package.generation = model::Generation::Sis9;
    out_.package.controllerRead = true;
  }

  Script Run() {
    while (in_.Peek().kind != Token::Kind::End) {
      if (in_.Peek().kind == Token::Kind::Newline) {
        in_.Take();
        continue;
      }
      try {
        Statement();
        in_.ExpectLineEnd();
      } catch (const ParseError& e) {
        out_.errors.push_back(e.diagnostic);
        in_.SkipLine();
      }
    }
    for (const Open& o : open_) out_.errors.push_back({o.at, "IF without its ENDIF, expected ENDIF before the end of the file"});
    if (!sawHeader_) out_.errors.push_back({in_.Peek().at, "no package header, expected a line #{\"name\"...},(0xUID),major,minor,build"});
    return std::move(out_);
  }

 private:
  struct Open {
    model::IfBlock block;
    bool sawElse = false;
    Location at;
  };

  void Statement();
  void Languages();
  void Header();
  void HeaderOptions(const Token& headerAt);
  void VendorNames();
  void UniqueVendor();
  void Logo();
  void Dependency(bool target);
  void Properties();
  void Options();
  void Embedded();
  void LanguageBlock();
  void LanguageFiles(const Token& open, std::vector<std::pair<std::string, Location>> sources);
  void LanguagePackages(const Token& open);
  void FileLine();
  LineOptions ReadLineOptions();
  std::uint32_t OptionWord(const Token& word, LineOptions& o);
  void Condition(const Token& keyword);
  FileEntry MakeFile(const std::string& source, const std::string& target, const LineOptions& o, bool inChain);
  std::vector<std::string> NameList(const std::string& what, bool perLanguage);
  InstallBlock& Current();
  void NeedLanguages(const Token& at);
  void AddSource(const std::string& name, Location at, bool embedded) {
    out_.sources.push_back({name, at, embedded});
  }

  TokenReader in_;
  Mode mode_;
  Script out_;
  std::vector<Open> open_;
  bool sawLanguages_ = false, sawHeader_ = false;
  std::uint32_t nextIndex_ = 0;
};

InstallBlock& ScriptReader::Current() {
  if (open_.empty()) return out_.package.body;
  model::IfBlock& b = open_.back().block;
  return b.elseIfs.empty() ? *b.branch.block : *b.elseIfs.back().block;
}

void ScriptReader::NeedLanguages(const Token& at) {
  if (!sawLanguages_) {
    // Without a language line the package is in English alone.
    out_.package.languages = {1};
    sawLanguages_ = true;
  }
  (void)at;
}

void ScriptReader::Statement() {
  const Token& t = in_.Peek();
  if (t.kind == Token::Kind::String) return FileLine();
  if (t.kind == Token::Kind::Word) return Condition(t);
  if (t.kind == Token::Kind::Punct) {
    const std::string p = t.text;
    if (p == "&") return Languages();
    if (p == "#") return Header();
    if (p == "%") return VendorNames();
    if (p == ":") return UniqueVendor();
    if (p == "=") return Logo();
    if (p == "[") return Dependency(true);
    if (p == "(") return Dependency(false);
    if (p == "+") return Properties();
    if (p == "!") return Options();
    if (p == "@") return Embedded();
    if (p == "{") return LanguageBlock();
    if (p == "*") in_.Fail(t, "signature lines are not read, expected a package line (sign a built package with `tarvik-cli sign`)");
  }
  in_.Expected("a PKG line: &, #, %, :, =, [, (, +, !, @, {, a file line \"source\"-\"target\", IF, ELSEIF, ELSE or ENDIF");
}

void ScriptReader::Languages() {
  const Token& amp = in_.Take();
  if (sawLanguages_) in_.Fail(amp, "a second language line, expected one & line before the header");
  std::vector<std::uint32_t> languages;
  do {
    const Token& t = in_.Peek();
    if (t.kind != Token::Kind::Word && t.kind != Token::Kind::Number) in_.Expected("a language code such as EN or a language number");
    const std::int32_t n = LanguageNumber(t.text);
    if (n < 0) in_.Fail(t, "unknown language specified: '" + t.text + "', expected a two-letter code such as EN or a language number");
    for (std::uint32_t l : languages)
      if (l == static_cast<std::uint32_t>(n)) in_.Fail(t, "language '" + t.text + "' given twice, expected each language once");
    languages.push_back(static_cast<std::uint32_t>(n));
    in_.Take();
    // A dialect number in parentheses after a code is accepted and not stored.
    if (in_.TakePunct("(")) {
      in_.ExpectUnsigned("a dialect number");
      in_.ExpectPunct(")", "')' after the dialect number");
    }
  } while (in_.TakePunct(","));
  out_.package.languages = std::move(languages);
  sawLanguages_ = true;
}

std::vector<std::string> ScriptReader::NameList(const std::string& what, bool perLanguage) {
  const Token& open = in_.Peek();
  in_.ExpectPunct("{", "'{' to open the " + what);
  std::vector<std::string> names;
  if (!in_.IsPunct("}")) {
    do names.push_back(in_.ExpectString("a quoted name in the " + what));
    while (in_.TakePunct(","));
  }
  in_.ExpectPunct("}", "',' or '}' in the " + what);
  const std::size_t n = out_.package.languages.size();
  if (perLanguage && names.size() != n)
    in_.Fail(open, "the " + what + " has " + std::to_string(names.size()) + (names.size() == 1 ? " name" : " names") +
                       ", expected one per language (" + std::to_string(n) + ")");
  return names;
}

void ScriptReader::Header() {
  const Token& hash = in_.Take();
  NeedLanguages(hash);
  if (sawHeader_) in_.Fail(hash, "a second package header, expected one # line");
  model::Package& p = out_.package;
  p.names = NameList("package names", true);
  in_.ExpectPunct(",", "',' after the package names");
  in_.ExpectPunct("(", "'(' before the package UID");
  p.uid = in_.ExpectUnsigned("the package UID");
  in_.ExpectPunct(")", "')' after the package UID");
  in_.ExpectPunct(",", "',' and the major version after the package UID");
  p.version.major = in_.ExpectSigned("the major version");
  in_.ExpectPunct(",", "',' and the minor version");
  p.version.minor = in_.ExpectSigned("the minor version");
  in_.ExpectPunct(",", "',' and the build number");
  p.version.build = in_.ExpectSigned("the build number");
  HeaderOptions(hash);
  sawHeader_ = true;
}

void ScriptReader::HeaderOptions(const Token& headerAt) {
  model::Package& p = out_.package;
  static const struct {
    const char* word;
    std::uint8_t type;
  } kTypes[] = {{"SA", 0}, {"SP", 1}, {"PU", 2}, {"PA", 3}, {"PP", 4}, {"SU", 0}, {"SC", 0}, {"SO", 0}, {"SY", 0},
                {"SISAPP", 0}, {"SISSYSTEM", 0}, {"SISOPTION", 0}, {"SISCONFIG", 0}, {"SISPATCH", 1}, {"SISUPGRADE", 2}};
  static const struct {
    const char* word;
    std::uint8_t bit;
  } kFlags[] = {{"SH", 1}, {"SHUTDOWNAPPS", 1}, {"NR", 2}, {"NONREMOVABLE", 2}, {"RU", 4}, {"ROMUPGRADE", 4}, {"H", 8}, {"HIDE", 8}};
  while (in_.TakePunct(",")) {
    const Token& t = in_.Peek();
    if (in_.IsWord("TYPE") && in_.IsPunct("=", 1)) {
      in_.Take();
      in_.Take();
      const Token& w = in_.Peek();
      bool known = false;
      for (const auto& k : kTypes)
        if (in_.IsWord(k.word)) p.installType = k.type, known = true;
      if (!known) in_.Fail(w, "unknown install type '" + w.text + "', expected TYPE=SA, SP, PU, PA or PP");
      in_.Take();
      continue;
    }
    bool known = false;
    for (const auto& k : kFlags)
      if (in_.IsWord(k.word)) p.installFlags |= k.bit, known = true;
    if (in_.IsWord("NC") || in_.IsWord("NOCOMPRESS")) out_.noCompress = known = true;
    if (in_.IsWord("IU") || in_.IsWord("IUNICODE")) known = true;  // the file is read by its byte-order mark
    if (!known) in_.Fail(t, "unknown header option " + Describe(t) + ", expected TYPE=..., SH, NR, RU, H, NC or IU");
    in_.Take();
  }
  // Real pre-installed packages with install flags exist, so only the builder's mode refuses them.
  if ((p.installType == 3 || p.installType == 4) && p.installFlags != 0 && mode_ == Mode::Builder)
    in_.Fail(headerAt, "Install flag option is not supported with the given install type (TYPE=PA or PP), expected no SH, NR, RU or H");
}

void ScriptReader::VendorNames() {
  const Token& t = in_.Take();
  NeedLanguages(t);
  out_.package.vendorNames = NameList("vendor names", true);
}

void ScriptReader::UniqueVendor() {
  in_.Take();
  out_.package.vendorUniqueName = in_.ExpectString("the unique vendor name in quotes");
}

void ScriptReader::Logo() {
  const Token& t = in_.Take();
  const Location at = in_.Peek().at;
  const std::string source = in_.ExpectString("the logo's source file name");
  in_.ExpectPunct(",", "',' and the logo's MIME type");
  const std::string mime = in_.ExpectString("the logo's MIME type");
  std::string target;
  if (in_.TakePunct(",")) target = Backslashes(in_.ExpectString("the logo's target"));
  if (out_.package.logo) in_.Fail(t, "a second logo line, expected one");
  if (source.empty()) in_.Fail(t, "the logo line names no source file, expected its file name");
  FileEntry f;
  f.source = source;
  f.target = target;
  f.mime = mime;
  f.operation = kOpInstallRun;
  f.options = kByMime | kRunInstall | (BuilderAddsVerify(target) ? kVerify : 0);
  f.hashAlgorithm = 1;
  f.index = nextIndex_++;
  out_.package.logo = std::move(f);
  AddSource(source, at, false);
}

void ScriptReader::Dependency(bool target) {
  const Token& open = in_.Take();
  NeedLanguages(open);
  const char* close = target ? "]" : ")";
  const std::string what = target ? "target device" : "dependency";
  model::Dependency d;
  d.uid = in_.ExpectUnsigned("the " + what + " UID");
  in_.ExpectPunct(close, std::string("'") + close + "' after the UID");
  model::VersionRange range;
  std::int32_t* words[] = {&range.from.major, &range.from.minor, &range.from.build};
  for (std::int32_t* w : words) {
    in_.ExpectPunct(",", "',' and a version number");
    *w = in_.ExpectVersionWord("a version number or '*'");
  }
  if (in_.TakePunct("~")) {
    model::Version to;
    to.major = in_.ExpectVersionWord("the upper version's major number or '*'");
    in_.ExpectPunct(",", "',' and the upper version's minor number");
    to.minor = in_.ExpectVersionWord("the upper version's minor number or '*'");
    in_.ExpectPunct(",", "',' and the upper version's build number");
    to.build = in_.ExpectVersionWord("the upper version's build number or '*'");
    range.to = to;
  }
  d.versions = range;
  in_.ExpectPunct(",", "',' and the " + what + " names");
  d.names = NameList(what + " names", true);
  (target ? out_.package.targetDevices : out_.package.dependencies).push_back(std::move(d));
}

void ScriptReader::Properties() {
  in_.Take();
  in_.ExpectPunct("(", "'(' after '+'");
  do {
    model::Property p;
    p.key = in_.ExpectSigned("a property key");
    in_.ExpectPunct("=", "'=' after the property key");
    p.value = in_.ExpectSigned("a property value");
    out_.package.properties.push_back(p);
  } while (in_.TakePunct(","));
  in_.ExpectPunct(")", "',' or ')' after a property");
}

void ScriptReader::Options() {
  const Token& t = in_.Take();
  NeedLanguages(t);
  in_.ExpectPunct("(", "'(' after '!'");
  do out_.package.options.push_back(NameList("option names", true));
  while (in_.TakePunct(","));
  in_.ExpectPunct(")", "',' or ')' after an option");
}

void ScriptReader::Embedded() {
  in_.Take();
  const Location at = in_.Peek().at;
  const std::string source = in_.ExpectString("the embedded package's file name");
  in_.ExpectPunct(",", "',' and the embedded package's UID");
  in_.ExpectPunct("(", "'(' before the embedded package's UID");
  model::Package child;
  child.generation = model::Generation::Sis9;
  child.name = source;
  child.uid = in_.ExpectUnsigned("the embedded package's UID");
  in_.ExpectPunct(")", "')' after the embedded package's UID");
  if (source.empty()) in_.Fail(in_.Peek(), "the embedded package's file name is empty, expected a .sis file name");
  AddSource(source, at, true);
  Current().embedded.push_back(std::move(child));
}

void ScriptReader::LanguageBlock() {
  const Token& open = in_.Take();
  NeedLanguages(open);
  if (in_.IsPunct("@")) return LanguagePackages(open);
  std::vector<std::pair<std::string, Location>> sources;
  while (!in_.IsPunct("}")) {
    const Location at = in_.Peek().at;
    sources.emplace_back(in_.ExpectString("a quoted source file name or '}'"), at);
    in_.TakePunct(",");
  }
  in_.Take();
  LanguageFiles(open, std::move(sources));
}

void ScriptReader::LanguageFiles(const Token& open, std::vector<std::pair<std::string, Location>> sources) {
  in_.ExpectPunct("-", "'-' and the target after the language block");
  const std::string target = Backslashes(in_.ExpectString("the target in quotes"));
  const LineOptions o = ReadLineOptions();
  const std::vector<std::uint32_t>& languages = out_.package.languages;
  if (sources.size() != languages.size())
    in_.Fail(open, "the language-dependent file line has " + std::to_string(sources.size()) +
                       " sources, expected one per language (" + std::to_string(languages.size()) + ")");
  model::IfBlock block;
  for (std::size_t k = 0; k < sources.size(); ++k) {
    if (sources[k].first.empty()) in_.Fail(open, "an empty source name in the language-dependent file line, expected a file name");
    model::ConditionalBlock branch;
    branch.condition = LanguageIs(languages[k]);
    branch.block.emplace();
    branch.block->files.push_back(MakeFile(sources[k].first, target, o, true));
    AddSource(sources[k].first, sources[k].second, false);
    if (k == 0)
      block.branch = std::move(branch);
    else
      block.elseIfs.push_back(std::move(branch));
  }
  Current().ifs.push_back(std::move(block));
}

void ScriptReader::LanguagePackages(const Token& open) {
  std::vector<std::pair<std::string, Location>> sources;
  while (in_.TakePunct("@")) {
    const Location at = in_.Peek().at;
    sources.emplace_back(in_.ExpectString("the embedded package's file name"), at);
    in_.TakePunct(",");
  }
  in_.ExpectPunct("}", "'@\"file.sis\"' or '}' in the language block");
  in_.ExpectPunct(",", "',' and the embedded packages' UID");
  in_.ExpectPunct("(", "'(' before the embedded packages' UID");
  const std::uint32_t uid = in_.ExpectUnsigned("the embedded packages' UID");
  in_.ExpectPunct(")", "')' after the UID");
  const std::vector<std::uint32_t>& languages = out_.package.languages;
  if (sources.size() != languages.size())
    in_.Fail(open, "the language-dependent package line has " + std::to_string(sources.size()) +
                       " packages, expected one per language (" + std::to_string(languages.size()) + ")");
  model::IfBlock block;
  for (std::size_t k = 0; k < sources.size(); ++k) {
    model::ConditionalBlock branch;
    branch.condition = LanguageIs(languages[k]);
    branch.block.emplace();
    model::Package child;
    child.generation = model::Generation::Sis9;
    child.name = sources[k].first;
    child.uid = uid;
    branch.block->embedded.push_back(std::move(child));
    AddSource(sources[k].first, sources[k].second, true);
    if (k == 0)
      block.branch = std::move(branch);
    else
      block.elseIfs.push_back(std::move(branch));
  }
  Current().ifs.push_back(std::move(block));
}

void ScriptReader::FileLine() {
  const Location at = in_.Peek().at;
  const std::string source = in_.ExpectString("a source file name");
  in_.ExpectPunct("-", "'-' and the target after the source file name");
  const std::string target = Backslashes(in_.ExpectString("the target in quotes"));
  const LineOptions o = ReadLineOptions();
  if (source.empty() && o.operation != kOpNull) {
    const bool preinstalled = out_.package.installType == 3 || out_.package.installType == 4;
    in_.Fail(Token{Token::Kind::String, "", 0, at, false},
             preinstalled ? "Source file is missing for PreInstalled APP, expected a source file name"
                          : "the file line names no source file, expected a file name (or FN for a file made on the device)");
  }
  Current().files.push_back(MakeFile(source, target, o, false));
  if (!source.empty()) AddSource(source, at, false);
}

LineOptions ScriptReader::ReadLineOptions() {
  LineOptions o;
  std::uint32_t timing = 0;
  while (in_.TakePunct(",")) {
    const Token& t = in_.Peek();
    if (t.kind == Token::Kind::String) {
      o.mime = in_.Take().text;
      continue;
    }
    if (t.kind != Token::Kind::Word) in_.Expected("a file option (FF, FT, FR, FN, FM, TC, TS, TA, TE, RI, RR, RB, RE, RW, VR) or a MIME type");
    timing |= OptionWord(t, o);
    in_.Take();
    o.any = true;
  }
  // A file shown by its MIME type runs at install unless the line says when.
  if ((o.options & kByMime) && !(timing & (kRunInstall | kRunRemove))) o.options |= kRunInstall;
  return o;
}

std::uint32_t ScriptReader::OptionWord(const Token& word, LineOptions& o) {
  static const struct {
    const char* word;
    const char* longWord;
    int operation;  // -1: leaves the operation
    std::uint32_t bits;
  } kWords[] = {
      {"FF", "FILE", kOpInstall, 0},        {"FT", "FILETEXT", kOpText, 0},       {"FR", "FILERUN", kOpRun, 0},
      {"FN", "FILENULL", kOpNull, 0},       {"FM", "FILEMIME", kOpRun, kByMime}, {"TC", "TEXTCONTINUE", -1, kTextContinue},
      {"TS", "TEXTSKIP", -1, kTextSkip},    {"TA", "TEXTABORT", -1, kTextAbort},  {"TE", "TEXTEXIT", -1, kTextExit},
      {"RI", "RUNINSTALL", -1, kRunInstall}, {"RR", "RUNREMOVE", -1, kRunRemove}, {"RB", "RUNBOTH", -1, kRunInstall | kRunRemove},
      {"RE", "RUNSENDEND", -1, kRunSendEnd}, {"RS", "RUNSENDEND", -1, kRunSendEnd}, {"RW", "RUNWAITEND", -1, kRunWait},
      {"VR", "VERIFY", -1, kVerify},
  };
  for (const auto& k : kWords) {
    if (!EqualsIgnoringCase(word.text, k.word) && !EqualsIgnoringCase(word.text, k.longWord)) continue;
    if (k.operation >= 0) {
      o.operation = static_cast<std::uint32_t>(k.operation);
      o.hasOperation = true;
    }
    std::uint32_t bits = k.bits;
    // The SDK's builder stores TC, the default, as no option at all.
    if (bits == kTextContinue && mode_ == Mode::Builder) bits = 0;
    o.options |= bits;
    return k.bits;
  }
  in_.Fail(word, "unknown file option '" + word.text + "', expected FF, FT, FR, FN, FM, TC, TS, TA, TE, RI, RR, RB, RE, RW or VR");
}

FileEntry ScriptReader::MakeFile(const std::string& source, const std::string& target, const LineOptions& o, bool inChain) {
  FileEntry f;
  f.source = source;
  // Files that carry data are numbered in script order; a null file says 0.
  if (!source.empty() && o.operation != kOpNull) f.index = nextIndex_++;
  f.target = o.operation == kOpText && mode_ == Mode::Builder ? std::string() : target;
  f.mime = o.mime;
  f.hashAlgorithm = 1;
  if (inChain && !o.any) {
    // A language-dependent line without options: the builder leaves operation and options unset.
    f.operation = kOpNone;
    return f;
  }
  if (inChain && !o.hasOperation && mode_ == Mode::AsWritten) {
    // As written, options without an operation leave the operation unset too (VR alone).
    f.operation = kOpNone;
    f.options = o.options;
    return f;
  }
  f.operation = o.operation;
  f.options = o.options;
  if (mode_ == Mode::Builder && BuilderAddsVerify(f.target)) f.options |= kVerify;
  return f;
}

void ScriptReader::Condition(const Token& keyword) {
  const Token at = keyword;
  if (in_.IsWord("IF")) {
    if (open_.size() >= kMaxNesting)
      in_.Fail(at, "IF nested deeper than " + std::to_string(kMaxNesting) + " levels, expected ENDIF before another IF");
    in_.Take();
    Open o;
    o.at = at.at;
    o.block.branch.condition = ReadCondition(in_);
    o.block.branch.block.emplace();
    open_.push_back(std::move(o));
    return;
  }
  const bool elseIf = in_.IsWord("ELSEIF"), isElse = in_.IsWord("ELSE"), endIf = in_.IsWord("ENDIF");
  if (!elseIf && !isElse && !endIf)
    in_.Fail(at, "unknown word '" + at.text + "', expected a PKG line, IF, ELSEIF, ELSE or ENDIF");
  in_.Take();
  if (open_.empty()) in_.Fail(at, at.text + " without IF, expected IF before it");
  Open& top = open_.back();
  if (endIf) {
    model::IfBlock done = std::move(top.block);
    open_.pop_back();
    Current().ifs.push_back(std::move(done));
    return;
  }
  if (top.sawElse) in_.Fail(at, at.text + " after ELSE, expected ENDIF");
  model::ConditionalBlock branch;
  branch.condition = isElse ? ElseCondition() : ReadCondition(in_);
  branch.block.emplace();
  top.sawElse = isElse;
  top.block.elseIfs.push_back(std::move(branch));
}

// ---------------------------------------------------------------------------------------

Script ParseText(std::string_view text, Mode mode) {
  Script script = ScriptReader(Tokenize(text), mode).Run();
  // The SDK's builder reads comments as nothing; built as written, a pre-installed package
  // takes the descriptions its PKG file states for files that are not at hand.
  if (mode == Mode::AsWritten) ApplyStatedFiles(text, script);
  return script;
}

std::string DecodePkgBytes(std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size();
  if (n >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    const bool big = bytes[0] == 0xFE;
    std::u16string units;
    units.reserve((n - 2) / 2);
    for (std::size_t i = 2; i + 1 < n; i += 2)
      units.push_back(static_cast<char16_t>(big ? (bytes[i] << 8 | bytes[i + 1]) : (bytes[i + 1] << 8 | bytes[i])));
    return Utf16ToUtf8(units);
  }
  const std::size_t skip = n >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
  return std::string(reinterpret_cast<const char*>(bytes.data()) + skip, n - skip);
}

Script ParseFile(std::span<const std::uint8_t> bytes, Mode mode) { return ParseText(DecodePkgBytes(bytes), mode); }

std::string FormatDiagnostic(const std::string& file, const Diagnostic& d) {
  return file + ":" + std::to_string(d.at.line) + ":" + std::to_string(d.at.column) + ": error: " + d.message;
}

std::int32_t LanguageNumber(std::string_view code) {
  if (!code.empty() && code[0] >= '0' && code[0] <= '9') {
    std::int64_t n = 0;
    for (char c : code) {
      if (c < '0' || c > '9' || n > 0x7FFFFFFF) return -1;
      n = n * 10 + (c - '0');
    }
    return n > 0x7FFFFFFF ? -1 : static_cast<std::int32_t>(n);
  }
  for (std::int32_t n = 1; n <= 98; ++n)
    if (EqualsIgnoringCase(LangStr(n), code)) return n;
  return -1;
}

bool BuilderAddsVerify(std::string_view target) {
  std::size_t start = target.size() >= 2 && target[1] == ':' ? 2 : 0;
  auto under = [&](std::string_view folder) {
    if (target.size() - start < folder.size()) return false;
    for (std::size_t i = 0; i < folder.size(); ++i) {
      char c = target[start + i];
      if (c == '/') c = '\\';
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
      if (c != folder[i]) return false;
    }
    return true;
  };
  return under("\\sys\\") || under("\\resource\\");
}

}  // namespace tarvik::pkgscript
