#include "views/rebuild_script.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "bytes/encoding.hpp"
#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/script_text.hpp"

namespace tarvik::views {

namespace {

using model::Expression;
using model::ExprOp;
using model::FileEntry;
using model::InstallBlock;
using model::Package;
using text::Quoted;

constexpr const char* kCrLf = "\r\n";
constexpr const char* kEmbeddedFolder = "Embedded Components\\";

std::string Slashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

// VR wherever a file has it: the builder adds it by itself under \sys\ and \resource\, and
// a build that keeps options as written needs it stated everywhere.
std::string VerifyWord(const FileEntry& f) { return (f.options & text::kVerifyOnRestore) ? ", VR" : ""; }

// A text line's option as stored: TC only for its bit (the SDK's builder stores TC as 0, so
// both read back to what they were), no word for 0.
std::string TextWord(std::uint32_t options) {
  if (options == 0) return {};
  return text::TextOption(options == 0x200 ? 0 : options);
}

// Exactly `count` texts for a line that needs one per language: the ones given, the last
// repeated (or `fallback`) where some are missing. With no languages, the texts as they are.
std::vector<std::string> PerLanguage(const std::vector<std::string>& texts, std::size_t count,
                                     const std::string& fallback) {
  if (count == 0) return texts;
  std::vector<std::string> out(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(std::min(count, texts.size())));
  while (out.size() < count) out.push_back(out.empty() ? fallback : out.back());
  return out;
}

// Lower case of ASCII text, for comparing names.
std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string JoinQuoted(const std::vector<std::string>& items) { return text::JoinQuoted(items, ","); }

std::string Version(const model::Version& v) { return text::VersionText(v, true, ","); }

// One line (or If block) of an install block.
struct BlockItem {
  const FileEntry* file = nullptr;
  const Package* package = nullptr;
  const model::IfBlock* branch = nullptr;
  std::uint64_t key = 0;  // where its first data lies in the data unit
};

// The smallest data index of the files an If block installs (its branches, nested Ifs).
std::uint64_t FirstIndex(const InstallBlock& block, std::uint64_t none);
std::uint64_t FirstIndex(const model::IfBlock& b, std::uint64_t none) {
  std::uint64_t first = b.branch.block ? FirstIndex(*b.branch.block, none) : none;
  for (const model::ConditionalBlock& e : b.elseIfs)
    if (e.block) first = std::min(first, FirstIndex(*e.block, none));
  return first;
}
std::uint64_t FirstIndex(const InstallBlock& block, std::uint64_t none) {
  std::uint64_t first = none;
  for (const FileEntry& f : block.files)
    if (!text::IsNullFile(f)) first = std::min<std::uint64_t>(first, f.index);
  for (const model::IfBlock& b : block.ifs) first = std::min(first, FirstIndex(b, none));
  return first;
}

// The lines of a block in the order that numbers its files as stored: a builder numbers the
// files in script order, and a block stores its files, embedded packages and Ifs apart.
// A line without data of its own (a null file, an embedded package) stays after the line
// before it.
std::vector<BlockItem> InDataOrder(const InstallBlock& block) {
  constexpr std::uint64_t kNone = ~std::uint64_t{0};
  std::vector<BlockItem> items;
  std::uint64_t last = 0;
  auto add = [&](BlockItem item, std::uint64_t key) {
    item.key = last = key == kNone ? last : key;
    items.push_back(item);
  };
  for (const FileEntry& f : block.files) add({&f, nullptr, nullptr, 0}, text::IsNullFile(f) ? kNone : f.index);
  for (const Package& p : block.embedded) add({nullptr, &p, nullptr, 0}, kNone);
  for (const model::IfBlock& b : block.ifs) add({nullptr, nullptr, &b, 0}, FirstIndex(b, kNone));
  std::stable_sort(items.begin(), items.end(), [](const BlockItem& a, const BlockItem& b) { return a.key < b.key; });
  return items;
}

// ---- Package strings in the builder's syntax ------------------------------------------
// The builder's strings have no escape: a double quote ends one, and a line break ends the
// line. Such a string in a package would let the package write lines of its own into the
// PKG file the person builds, so the file is refused instead.

// Why `text` cannot be written inside a PKG string; nothing when it can.
std::optional<std::string> UnsafeInString(const std::string& text) {
  for (unsigned char c : text) {
    if (c == '"') return std::string("it holds a double quote, which would end the string");
    if (c == '\r' || c == '\n') return std::string("it holds a line break, which would end the line");
    if (c < 0x20 || c == 0x7F) return std::string("it holds a control character");
  }
  return std::nullopt;
}

// `text` for a comment line: control characters shown as \xNN, so that nothing ends the line.
std::string CommentText(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Whether `path` (relative, "\\" or "/") stays inside the folder it is relative to: not empty,
// not absolute, no drive, no "." or ".." or empty part, nothing a PKG string cannot hold.
bool InsideFolder(const std::string& path) {
  if (path.empty() || path.front() == '\\' || path.front() == '/' || UnsafeInString(path)) return false;
  if (path.size() >= 2 && path[1] == ':') return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find_first_of("\\/", start);
    const std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

class Writer {
 public:
  Writer(const Package& main, const PackageView& view, const std::vector<bool>* written)
      : main_(main), view_(view), written_(written) {
    for (const FileRow& row : view.files)
      if (row.entry) rows_.emplace(row.entry, &row);
    for (std::size_t i = 0; i < view.packages.size(); ++i) index_.emplace(view.packages[i].package, i);
    NameOutputs();
  }

  std::vector<RebuildScript> Run() {
    std::vector<RebuildScript> out;
    if (view_.packages.empty()) return out;
    // Children before their parents: a depth-first walk that writes a package once all the
    // packages inside it are written.
    std::vector<std::size_t> order;
    std::vector<std::vector<std::size_t>> children(view_.packages.size());
    for (std::size_t i = 1; i < view_.packages.size(); ++i) {
      const int parent = view_.packages[i].parent;
      if (parent >= 0 && static_cast<std::size_t>(parent) < view_.packages.size())
        children[static_cast<std::size_t>(parent)].push_back(i);
    }
    std::vector<std::pair<std::size_t, std::size_t>> stack{{0, 0}};  // package, next child
    while (!stack.empty()) {
      auto& [pkg, next] = stack.back();
      if (next < children[pkg].size()) {
        const std::size_t child = children[pkg][next++];
        stack.emplace_back(child, 0);
      } else {
        order.push_back(pkg);
        stack.pop_back();
      }
    }
    for (std::size_t i : order) {
      refused_ = Unreadable(*view_.packages[i].package);
      std::string text = Script(i);
      if (!refused_.empty()) text.clear();
      out.push_back({PkgPath(i), std::move(text), refused_});
    }
    return out;
  }

 private:
  // Why no PKG file can state a package whose information was read only in part (the lines
  // would have to make up what it does not hold, and build a different package without a
  // word); empty when it was read whole. The creation time is no PKG line.
  static std::string Unreadable(const Package& p) {
    const model::InfoRead& r = p.infoRead;
    std::vector<std::string> parts;
    const std::pair<bool, const char*> kParts[] = {{r.uid, "UID"}, {r.names, "names"}, {r.vendorNames, "vendor names"},
                                                  {r.vendorUniqueName, "unique vendor name"}, {r.version, "version"},
                                                  {r.installType, "install type"}};
    for (const auto& [read, what] : kParts)
      if (!read) parts.emplace_back(what);
    if (parts.empty()) return {};
    std::string listed = parts[0];
    for (std::size_t k = 1; k < parts.size(); ++k) listed += (k + 1 == parts.size() ? " and " : ", ") + parts[k];
    return "the package is damaged: its " + listed + " could not be read, and a PKG file would have to make them up";
  }

  // ---- Names of the PKG files and of the packages they build -----------------------------
  // Each embedded package's PKG file and .sis take its folder name, or "name (2)" and on when
  // an extracted file, or another package, already has that name (ignoring case).
  void NameOutputs() {
    std::unordered_set<std::string> taken;
    for (const FileRow& row : view_.files) taken.insert(Lower(row.extractPath));
    bases_.resize(view_.packages.size());
    for (std::size_t i = 0; i < view_.packages.size(); ++i) {
      const std::string& name = view_.packages[i].name;
      std::string base = name;
      for (int n = 2; taken.count(Lower(Folder(i) + base + ".pkg")) || taken.count(Lower(Folder(i) + base + ".sis")) ||
                      taken.count(Lower(Folder(i) + base));
           ++n)
        base = name + " (" + std::to_string(n) + ")";
      taken.insert(Lower(Folder(i) + base + ".pkg"));
      taken.insert(Lower(Folder(i) + base + ".sis"));
      taken.insert(Lower(Folder(i) + base));
      bases_[i] = base;
    }
  }

  // `text` as a PKG string; a text that cannot be one refuses the PKG file, naming `what`.
  std::string Q(const std::string& text, const std::string& what) {
    if (const auto why = UnsafeInString(text); why && refused_.empty())
      refused_ = "the " + what + " \"" + CommentText(text) + "\" cannot be written in a PKG file: " + *why;
    return Quoted(text);
  }
  std::string JoinQ(const std::vector<std::string>& items, const std::string& what) {
    for (const std::string& item : items) Q(item, what);
    return JoinQuoted(items);
  }
  // The texts of a condition (EXISTS paths, strings) are PKG strings too.
  void CheckCondition(const Expression& e) {
    std::vector<const Expression*> pending{&e};
    while (!pending.empty()) {
      const Expression* x = pending.back();
      pending.pop_back();
      if (x->op == ExprOp::Exists || x->op == ExprOp::String) Q(x->text, "condition text");
      for (const Expression& o : x->operands) pending.push_back(&o);
    }
  }
  std::string Condition(const Expression& e) {
    CheckCondition(e);
    return text::ConditionText(e, false);
  }

  // Whether the row of `f` may be named as a source: a file at a safe path inside the
  // extraction folder that this extraction wrote (or, in a pre-installed package, that the
  // person is to put there).
  const FileRow* SourceRow(const FileEntry& f) const {
    const auto row = rows_.find(&f);
    if (row == rows_.end() || !InsideFolder(row->second->extractPath)) return nullptr;
    if (!written_) return row->second;
    const std::size_t at = static_cast<std::size_t>(row->second - view_.files.data());
    const Package* owner = row->second->package;
    const bool preinstalled = owner && (owner->installType == 3 || owner->installType == 4);
    return preinstalled || (at < written_->size() && (*written_)[at]) ? row->second : nullptr;
  }
  void LeftOut(const std::string& target) {
    Q(target, "file target");
    Line(";Not written by this extraction, so left out: " + CommentText(target));
  }

  // The folder of package i's PKG file, relative to the extraction folder ("" for the main one).
  std::string Folder(std::size_t i) const {
    if (i == 0) return {};
    return "bin\\" + view_.packages[0].name + "\\" + kEmbeddedFolder;
  }
  std::string PkgPath(std::size_t i) const { return Folder(i) + bases_[i] + ".pkg"; }

  // `path` (relative to the extraction folder) relative to package i's PKG file, with "/".
  std::string Relative(std::size_t i, const std::string& path) const {
    const std::string folder = Folder(i);
    if (path.compare(0, folder.size(), folder) == 0) return Slashes(path.substr(folder.size()));
    return Slashes(path);
  }

  std::string Source(std::size_t i, const FileEntry& f) const {
    const FileRow* row = SourceRow(f);
    return row ? Relative(i, row->extractPath) : std::string();
  }

  void Line(std::string text) {
    script_ += text;
    script_ += kCrLf;
  }

  std::string Script(std::size_t i) {
    const Package& p = *view_.packages[i].package;
    script_.clear();
    Line(";Build-ready PKG file of " +
         CommentText(i == 0 ? main_.name : view_.packages[i].name + " (embedded in " + main_.name + ")"));
    if (i == 0 && view_.packages.size() > 1)
      Line(";Build the packages under bin/" + CommentText(Slashes(view_.packages[0].name)) +
           "/Embedded Components first, innermost first (each .pkg in its own folder), then this one.");
    Header(i, p);
    Block(i, p.body);
    for (const InstallBlock& b : p.laterBlocks) Block(i, b);
    return script_;
  }

  void Header(std::size_t i, const Package& p) {
    const std::size_t n = p.languages.size();
    std::string languages = "&";
    for (std::size_t k = 0; k < n; ++k) languages += (k ? "," : "") + BuilderLanguage(p.languages[k]);
    Line(languages);

    std::string head = "#{" + JoinQ(PerLanguage(p.names, n, std::string()), "component name") + "},(0x" + HexText(p.uid, 8) + ")," +
                       Version(p.version) + std::string(text::InstallTypeText(p.installType));
    const bool preinstalled = p.installType == 3 || p.installType == 4;
    static const char* const kFlagWords[] = {",SH", ",NR", ",RU", ",H"};
    std::string flags;
    for (int bit = 0; bit < 4; ++bit)
      if (p.installFlags & (1u << bit)) flags += kFlagWords[bit];
    if (i == 0 && main_.frame && main_.frame->hasCompressedController && main_.frame->controllerAlgorithm == 0)
      head += ",NC";
    if (preinstalled && !flags.empty())
      Line(";The SDK's builder refuses install flags with this install type; a build as written takes them.");
    Line(head + flags);
    if (preinstalled) {
      Line(";A pre-installed package carries no file data: its files are on the device's media already.");
      Line(";Each ;tarvik:preinstalled line states the description the package holds for a file; a build");
      Line(";as written uses it when the file is not at its source name, the SDK's builder needs the file.");
    }
    Line("%{" + JoinQ(PerLanguage(p.vendorNames, n, p.vendorUniqueName), "vendor name") + "}");
    Line(":" + Q(p.vendorUniqueName, "vendor unique name"));

    for (int list = 0; list < 2; ++list)
      for (const model::Dependency& d : list == 0 ? p.targetDevices : p.dependencies) {
        std::string versions = "0,0,0";
        if (d.versions) {
          versions = Version(d.versions->from);
          if (d.versions->to) versions += "~" + Version(*d.versions->to);
        }
        const std::string uid = "0x" + HexText(d.uid, 8);
        Line((list == 0 ? "[" + uid + "]," : "(" + uid + "),") + versions + ",{" +
             JoinQ(PerLanguage(d.names, n, std::string()), "dependency name") + "}");
      }
    if (!p.properties.empty()) {
      std::string line = "+(";
      for (std::size_t k = 0; k < p.properties.size(); ++k)
        line += (k ? "," : "") + std::to_string(p.properties[k].key) + "=" + std::to_string(p.properties[k].value);
      Line(line + ")");
    }
    if (!p.options.empty()) {
      std::string line = "!(";
      for (std::size_t k = 0; k < p.options.size(); ++k)
        line += (k ? ",{" : "{") + JoinQ(PerLanguage(p.options[k], n, std::string()), "option name") + "}";
      Line(line + ")");
    }
    if (p.logo && !SourceRow(*p.logo)) LeftOut(p.logo->target);
    else if (p.logo)
      Line("=" + Q(Source(i, *p.logo), "source name") + "," + Q(p.logo->mime, "MIME type") + "," +
           Q(p.logo->target, "file target"));
  }

  void Block(std::size_t i, const InstallBlock& block) {
    for (const BlockItem& item : InDataOrder(block)) {
      if (item.file) FileItem(i, *item.file);
      if (item.package) EmbeddedLine(i, *item.package);
      if (item.branch) IfLines(i, *item.branch);
    }
  }

  void FileItem(std::size_t i, const FileEntry& f) {
    if (text::IsNullFile(f) || SourceRow(f)) {
      Stated(i, f);
      Line(FileLine(i, f));
    } else {
      LeftOut(f.target);
    }
  }

  // The description a pre-installed package holds for a file it does not carry (digest,
  // length, stored length, capabilities), as a ;tarvik:preinstalled comment line.
  void Stated(std::size_t i, const FileEntry& f) {
    const Package& p = *view_.packages[i].package;
    if ((p.installType != 3 && p.installType != 4) || text::IsNullFile(f) || f.hashAlgorithm != 1 || f.hash.size() != 20)
      return;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t k = 0; k < f.hash.size(); ++k) {
      hex += kDigits[f.hash.data()[k] >> 4];
      hex += kDigits[f.hash.data()[k] & 15];
    }
    std::string line = ";tarvik:preinstalled " + Q(Source(i, f), "source name") + " sha1=" + hex +
                       " size=" + std::to_string(f.uncompressedSize) + " stored=" + std::to_string(f.compressedSize);
    if (f.capabilities) line += " caps=0x" + HexText(*f.capabilities, 8);
    Line(line);
  }

  void EmbeddedLine(std::size_t i, const Package& child) {
    const auto at = index_.find(&child);
    if (at == index_.end()) return;
    const std::string sis = Folder(at->second) + bases_[at->second] + ".sis";
    Line("@" + Q(Relative(i, sis), "embedded package name") + ",(0x" + HexText(child.uid, 8) + ")");
  }

  void IfLines(std::size_t i, const model::IfBlock& branch) {
    if (LanguageLine(i, branch)) return;
    Line("If" + Condition(branch.branch.condition));
    if (branch.branch.block) Block(i, *branch.branch.block);
    for (const model::ConditionalBlock& e : branch.elseIfs) {
      Line(text::IsElse(e.condition) ? std::string("Else") : "ElseIf" + Condition(e.condition));
      if (e.block) Block(i, *e.block);
    }
    Line("EndIf");
  }

  std::string FileLine(std::size_t i, const FileEntry& f) {
    const std::string target = Q(f.target, "file target");
    if (text::IsNullFile(f)) return "\"\"-" + target + ", FN";
    const std::string source = Q(Source(i, f), "source name");
    Q(f.mime, "MIME type");
    const std::uint32_t options = f.options & ~text::kVerifyOnRestore;
    const std::string vr = VerifyWord(f);
    switch (f.operation) {
      case 2: return source + "-" + target + text::RunOptions(options, f.mime) + vr;
      case 4: return source + "-\"\", FT" + TextWord(options);
      default: return source + "-" + target + ", FF" + vr;
    }
  }

  // A language-dependent file line, when the If block is what the builder makes of one: a
  // branch per declared language, in order, testing Language = that number, each holding
  // one file of one target with operation 0 and no options.
  bool LanguageLine(std::size_t i, const model::IfBlock& block) {
    const Package& p = *view_.packages[i].package;
    const std::size_t n = p.languages.size();
    if (n == 0 || block.elseIfs.size() + 1 != n) return false;
    std::vector<const FileEntry*> files;
    for (std::size_t k = 0; k < n; ++k) {
      const model::ConditionalBlock& b = k == 0 ? block.branch : block.elseIfs[k - 1];
      const Expression& c = b.condition;
      const bool test = c.op == ExprOp::Equal && c.operands.size() == 2 && c.operands[0].op == ExprOp::Variable &&
                        c.operands[0].value == text::kLanguageAttribute && c.operands[1].op == ExprOp::Number &&
                        c.operands[1].value == p.languages[k];
      if (!test || !b.block || b.block->files.size() != 1 || !b.block->embedded.empty() || !b.block->ifs.empty())
        return false;
      const FileEntry& f = b.block->files[0];
      if (f.operation != 0 || (f.options & ~text::kVerifyOnRestore) != 0 ||
          (k > 0 && (f.target != files[0]->target || f.options != files[0]->options)))
        return false;
      files.push_back(&f);
    }
    for (const FileEntry* f : files)
      if (!SourceRow(*f)) {
        LeftOut(files[0]->target);
        return true;
      }
    for (const FileEntry* f : files) Stated(i, *f);
    std::string line = "{";
    for (std::size_t k = 0; k < n; ++k) line += (k ? " " : "") + Q(Source(i, *files[k]), "source name");
    Line(line + "}-" + Q(files[0]->target, "file target") + VerifyWord(*files[0]));
    return true;
  }

  const Package& main_;
  const PackageView& view_;
  const std::vector<bool>* written_;
  std::vector<std::string> bases_;  // per package: the name of its PKG file and .sis
  std::string refused_;             // why the PKG file being written is refused
  std::unordered_map<const FileEntry*, const FileRow*> rows_;
  std::unordered_map<const Package*, std::size_t> index_;
  std::string script_;
};

}  // namespace

std::vector<RebuildScript> RebuildScripts(const model::Package& package, const PackageView& view,
                                          const std::vector<bool>* written) {
  if (package.generation != model::Generation::Sis9 || !package.controllerRead) return {};
  return Writer(package, view, written).Run();
}

std::string EncodePkgFile(const std::string& text) { return "\xFF\xFE" + Utf8ToUtf16Le(text); }

}  // namespace tarvik::views
