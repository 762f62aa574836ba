// The view of a 9.x package: the PKG script (one section per package, embedded packages
// innermost first), the header list and the file table, made from the model alone.
//
// The walk over the model yields the script's rows in reading order: the lines, and a start
// and an end marker per package (no end marker for a package whose end was never reached).
// Sections are then put together from those rows: a package's lines go to the section open
// on top, and a package whose end is missing stays open, so that what follows it lands in
// its section until the enclosing sections close at the very end.

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/facts.hpp"
#include "views/script_text.hpp"
#include "views/views.hpp"

namespace tarvik::views {

namespace {

using model::Expression;
using model::ExprOp;
using model::FileEntry;
using model::InstallBlock;
using model::Package;
using text::JoinQuoted;
using text::PathKey;
using text::AppendPathKey;
using text::FinishPathKey;
using text::WithSuffix;
using text::Quoted;
using text::VersionText;

// Made-up source names carry this tag where the package's folder goes; each section
// replaces it with the folder of the package it belongs to.
constexpr std::string_view kTag = "$TEMP_TAG_TO_REMOVE$";
constexpr std::string_view kCrLf = "\r\n";

char LowerChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = LowerChar(c);
  return out;
}

// A package name as a folder and file name: characters that cannot stand in a file name on
// common systems become "_".
std::string SafeName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (unsigned char c : name) {
    const bool bad = c < 0x20 || c == 0x7F || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' ||
                     c == '"' || c == '<' || c == '>' || c == '|';
    out += bad ? '_' : static_cast<char>(c);
  }
  return out;
}

// A folder name that stays one level: a name of dots alone ("." or "..") would name this
// folder or its parent, so its dots become '_'.
std::string OneLevel(std::string name) {
  if (!name.empty() && name.find_first_not_of('.') == std::string::npos) std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

std::string LogoExtension(const std::string& mime) {
  static const char* const kExt[][2] = {{"gif", ".gif"},   {"png", ".png"},   {"jpeg", ".jpeg"},
                                        {"jpg", ".jpg"},   {"wbmp", ".wbmp"}, {"bmp", ".bmp"},
                                        {"taga", ".taga"}, {"mbm", ".mbm"}};
  for (const auto& e : kExt)
    if (mime.find(e[0]) != std::string::npos) return e[1];
  return ".bmp";
}

// Appends every piece to `out`, growing it once.
template <class... Pieces>
void AppendPieces(std::string& out, const Pieces&... pieces) {
  const std::size_t at = out.size();
  out.resize(at + (std::string_view(pieces).size() + ...));
  char* to = out.data() + at;
  ((to = std::copy(std::string_view(pieces).begin(), std::string_view(pieces).end(), to)), ...);
}

enum class RowKind : std::uint8_t { Line, Start, End };

// A row of the walk. The texts of the lines lie end to end in one buffer
// (`Describer::text_`), in row order, so that a row costs no allocation of its own and
// need not say where its text begins.
struct ScriptRow {
  RowKind kind = RowKind::Line;
  int pkg = -1;          // the package of a marker
  std::size_t size = 0;  // a line: how long its text is
};

struct PackageSlot {
  const Package* pkg = nullptr;
  int parent = -1;
  std::string folderName;  // "Embedded Components\<name>" names its folder
  std::string tagFolder;   // what the tag stands for in its section
  // Where its files are extracted: "bin\\<main>\\", or for an embedded package
  // "bin\\<main>\\Embedded Components\\<name>\\".
  std::string extractFolder;
};

// A carried file before its path is final.
struct PendingFile {
  const FileEntry* entry = nullptr;
  std::string_view rest;      // the extraction path after the package's folder
  int pkg = 0;
  std::size_t line = 0;       // its row in `rows`
  std::size_t sourceEnd = 0;  // where the source name ends in that row's text
  std::uint32_t condition = 0;  // its condition in words (Describer::conditions_)
  int suffix = 0;             // n of the " (n)" its path was given to make it distinct; 0: none
};

std::string SuffixText(int n) { return " (" + std::to_string(n) + ")"; }

// The path keys in use, each with the last number tried for it: one open-addressing table
// whose keys lie end to end in one buffer, so that a key costs no allocation of its own.
class PathKeyTable {
 public:
  explicit PathKeyTable(std::size_t expected) {
    std::size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    slots_.assign(capacity, kEmpty);
    entries_.reserve(expected);
  }

  // The number kept for `key`, or null when the key is not in use.
  int* Find(std::string_view key) {
    const std::size_t slot = SlotOf(key, std::hash<std::string_view>{}(key));
    return slots_[slot] == kEmpty ? nullptr : &entries_[slots_[slot]].number;
  }

  // Puts `key` in use with the number `initial`; false (and nothing changed) when it already
  // is. Either way `number` then points at the number kept for it.
  bool Insert(std::string_view key, int initial, int*& number) {
    const std::size_t hash = std::hash<std::string_view>{}(key);
    std::size_t slot = SlotOf(key, hash);
    if (slots_[slot] != kEmpty) {
      number = &entries_[slots_[slot]].number;
      return false;
    }
    if ((entries_.size() + 1) * 2 > slots_.size()) {
      Grow();
      slot = SlotOf(key, hash);
    }
    slots_[slot] = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back({hash, keys_.size(), key.size(), initial});
    keys_.append(key);
    number = &entries_.back().number;
    return true;
  }

 private:
  static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
  struct Entry {
    std::size_t hash;
    std::size_t at, size;  // the key in `keys_`
    int number;
  };

  std::string_view KeyOf(const Entry& e) const { return std::string_view(keys_).substr(e.at, e.size); }

  // The slot that holds `key`, or the empty slot where it would go.
  std::size_t SlotOf(std::string_view key, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const std::uint32_t i = slots_[slot];
      if (i == kEmpty) return slot;
      const Entry& e = entries_[i];
      if (e.hash == hash && KeyOf(e) == key) return slot;
    }
  }

  void Grow() {
    slots_.assign(slots_.size() * 2, kEmpty);
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
      std::size_t slot = entries_[i].hash & mask;
      while (slots_[slot] != kEmpty) slot = (slot + 1) & mask;
      slots_[slot] = i;
    }
  }

  std::vector<std::uint32_t> slots_;  // index into `entries_`, or kEmpty
  std::vector<Entry> entries_;
  std::string keys_;
};

class Describer {
 public:
  Describer(const Package& main, const ScriptSettings& settings) : main_(main) {
    const std::string& name = main.name;
    const std::size_t slash = name.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    const auto dot = base.rfind('.');
    packageFolder_ = OneLevel(dot == std::string::npos ? base : base.substr(0, dot));
    sourceFolder_ = settings.sourceFolder;
    // Source names use one separator throughout, the Working Directory's own, so that they
    // name the extracted files in that folder.
    sep_ = SourceSeparator(sourceFolder_);
    if (sourceFolder_.empty() || (sourceFolder_.back() != '\\' && sourceFolder_.back() != '/')) sourceFolder_ += sep_;
    conditions_.emplace_back();
    if (main.frame) {
      const model::Frame& f = *main.frame;
      const bool stored = static_cast<std::uint64_t>(static_cast<std::uint32_t>(f.controllerCompressedSize)) ==
                          f.controllerUncompressedSize;
      mainOptions_ = stored ? ", NC" : ", IU";
    }
  }

  // The whole view, or (`fileTable` false) the script and header list without the file
  // table, whose rows the script does not need.
  PackageView Run(bool fileTable = true) {
    PackageView view;
    FrameHeader(view.header);
    header_ = &view.header;
    if (!main_.controllerRead) return view;
    // A file takes a row and at most one pending file; its line is about as long as the
    // source prefix and its target twice over.
    FileCount count;
    CountFiles(main_, count);
    const std::size_t files = count.files;
    // Without embedded packages every line lands in the main section: source names can name
    // its folder straight away, with no tag to replace.
    tagged_ = HasEmbedded(main_);
    sourcePrefix_ = sourceFolder_ + "bin" + sep_ + (tagged_ ? std::string(kTag) : packageFolder_) + sep_;
    rows_.reserve(files + 64);
    files_.reserve(files);
    text_.reserve(files * (sourcePrefix_.size() + 24) + 2 * count.targetBytes + 256);
    WalkPackage(main_, -1);
    NameEmbedded();
    for (const PackageSlot& slot : slots_)
      view.packages.push_back({slot.pkg, slot.parent, slot.parent < 0 ? packageFolder_ : slot.folderName});
    if (fileTable)
      view.files = FileRows();
    else
      DistinctPaths(nullptr);
    view.script = Assemble();
    return view;
  }

 private:
  void FrameHeader(std::vector<std::string>& h) const {
    if (!main_.frame) return;
    const model::Frame& f = *main_.frame;
    h.push_back("UID1: " + HexText(f.uid1, 8));
    h.push_back("UID2: " + HexText(f.uid2, 8));
    h.push_back("UID3: " + HexText(f.uid3, 8));
    h.push_back("UID Checksum: " + HexText(f.uidChecksum, 8));
    if (f.controllerChecksum) h.push_back("SIS Controller Checksum: " + HexText(*f.controllerChecksum, 8));
    if (f.dataChecksum) h.push_back("SIS Data Checksum: " + HexText(*f.dataChecksum, 8));
    if (f.hasCompressedController) {
      h.push_back("SISController Compression Algorithm: " + HexText(f.controllerAlgorithm, 8));
      h.push_back("SISController UnCompressed Data Size: " + HexText(f.controllerUncompressedSize & 0xFFFFFFFFu));
      h.push_back("SISController Compress Data Size: " + HexText(static_cast<std::uint64_t>(f.controllerCompressedSize)));
    }
  }

  void Line(std::string_view text) {
    rows_.push_back({RowKind::Line, -1, text.size()});
    text_.append(text);
  }

  void AddFile(const FileEntry& e, std::string_view rest, int pkg, std::size_t sourceEnd) {
    files_.push_back({&e, rest, pkg, rows_.size() - 1, sourceEnd, condition_, 0});
  }

  // A package path written into a source name: with the source separator.
  void AppendSource(std::string& out, std::string_view path) const {
    if (sep_ == '\\') {
      out += path;
      return;
    }
    const std::size_t at = out.size();
    out += path;
    for (std::size_t i = at; i < out.size(); ++i)
      if (out[i] == '\\') out[i] = sep_;
  }

  // Enters a condition branch: the files met until Leave install under `text` (and the
  // conditions around it).
  std::uint32_t Enter(const std::string& text) {
    const std::uint32_t outer = condition_;
    const std::string& around = conditions_[outer];
    conditions_.push_back(around.empty() ? text : around + "; " + text);
    condition_ = static_cast<std::uint32_t>(conditions_.size() - 1);
    return outer;
  }
  void Leave(std::uint32_t outer) { condition_ = outer; }

  // A made-up name, kept for as long as the walk's file rows refer to it.
  std::string_view MadeUp(std::string name) { return madeUpNames_.emplace_back(std::move(name)); }

  // How many file descriptions the package holds, embedded packages included, and how long
  // their targets are in all.
  struct FileCount {
    std::size_t files = 0;
    std::size_t targetBytes = 0;
  };
  static void CountFiles(const InstallBlock& block, FileCount& n) {
    n.files += block.files.size();
    for (const FileEntry& f : block.files) n.targetBytes += f.target.size();
    for (const Package& p : block.embedded) CountFiles(p, n);
    for (const model::IfBlock& i : block.ifs) {
      if (i.branch.block) CountFiles(*i.branch.block, n);
      for (const model::ConditionalBlock& e : i.elseIfs)
        if (e.block) CountFiles(*e.block, n);
    }
  }
  static bool HasEmbedded(const InstallBlock& block) {
    if (!block.embedded.empty()) return true;
    for (const model::IfBlock& i : block.ifs) {
      if (i.branch.block && HasEmbedded(*i.branch.block)) return true;
      for (const model::ConditionalBlock& e : i.elseIfs)
        if (e.block && HasEmbedded(*e.block)) return true;
    }
    return false;
  }
  static bool HasEmbedded(const Package& p) {
    if (HasEmbedded(p.body)) return true;
    for (const InstallBlock& b : p.laterBlocks)
      if (HasEmbedded(b)) return true;
    return false;
  }
  static void CountFiles(const Package& p, FileCount& n) {
    CountFiles(p.body, n);
    if (p.logo) {
      ++n.files;
      n.targetBytes += p.logo->target.size();
    }
    for (const InstallBlock& b : p.laterBlocks) CountFiles(b, n);
  }

  void WalkPackage(const Package& p, int parent) {
    const int id = static_cast<int>(slots_.size());
    slots_.push_back({&p, parent, {}, {}, {}});
    ++ordinal_;
    rows_.push_back({RowKind::Start, id, 0});
    Info(p, id);
    WalkBlock(p.body, id);
    for (const InstallBlock& b : p.laterBlocks) WalkBlock(b, id);
    if (p.ended) rows_.push_back({RowKind::End, id, 0});
  }

  void Info(const Package& p, int id) {
    std::vector<std::string>& h = *header_;
    // The header list is written from the package's facts: only what was read where it
    // belongs is shown, so a damaged package information leaves out the members that could
    // not be read. The script writes what the package holds.
    const PackageFacts facts = FactsOf(p, id != 0);
    const model::InfoRead& read = p.infoRead;
    const std::string uid = HexText(facts.uid, 8);
    const std::string version = VersionText(p.version, false);
    if (read.uid) h.push_back("SIS UID: " + uid);
    if (facts.version) h.push_back("SIS Version: " + version);
    if (facts.created) {
      const model::DateTime& t = *facts.created;
      const std::string date =
          std::to_string(t.day) + "-" + std::to_string(t.month0 + 1) + "-" + std::to_string(t.year);
      const std::string time =
          std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second);
      h.push_back("SIS Date: " + date);
      Line(";Date " + date);
      h.push_back("SIS Time: " + time);
      Line(";Time " + time);
    }
    const char* type = facts.installTypeCode ? text::InstallTypeText(p.installType) : "";
    if (facts.installTypeCode) h.push_back(std::string("SIS Type: ") + type);
    std::string options = id == 0 ? mainOptions_ : std::string();
    for (const std::string& flag : facts.flags) options += ", " + flag;
    h.push_back("SIS Install Flag: " + options);

    std::string languages = "&";
    for (std::size_t i = 0; i < facts.languages.size(); ++i) {
      h.push_back("Language: " + facts.languages[i].name);
      languages += (i ? ", " : "") + ScriptLanguage(facts.languages[i].number);
    }
    Line(languages);
    Line("#{" + JoinQuoted(p.names, ",") + "}, (0x" + uid + ")" + (read.version ? "," + version : std::string()) +
         options + type);
    Line(":" + Quoted(p.vendorUniqueName));
    Line("%{" + JoinQuoted(p.vendorNames, ",") + "}");

    for (int list = 0; list < 2; ++list)
      for (const model::Dependency& d : list == 0 ? p.targetDevices : p.dependencies) {
        std::string versions;
        if (d.versions) {
          versions = VersionText(d.versions->from, true);
          if (d.versions->to) versions += "~" + VersionText(*d.versions->to, true);
        }
        std::string line = list == 0 ? "[0x" + HexText(d.uid, 8) + "], " : "(0x" + HexText(d.uid, 8) + "), ";
        Line(line + versions + ", {" + JoinQuoted(d.names, ", ") + "}");
      }

    if (!p.properties.empty()) {
      std::string line = "+(";
      for (std::size_t i = 0; i < p.properties.size(); ++i)
        line += (i ? ", " : "") + std::to_string(p.properties[i].key) + "=" + std::to_string(p.properties[i].value);
      Line(line + ")");
    }
    if (!p.options.empty()) {
      std::string line = "!(";
      for (std::size_t i = 0; i < p.options.size(); ++i)
        line += (i ? ",{" : "{") + JoinQuoted(p.options[i], ",") + "}";
      Line(line + ")");
    }

    if (p.logo) {
      const FileEntry& d = *p.logo;
      // The logo is named like any other file; only an empty target needs a made-up name.
      std::string_view rest;
      if (d.target.empty())
        rest = MadeUp("LogoFileIndex" + std::to_string(ordinal_) + std::to_string(d.index) + LogoExtension(d.mime));
      else if (d.target.size() >= 3 && d.target.compare(1, 2, ":\\") == 0)
        rest = std::string_view(d.target).substr(3);
      else
        rest = d.target;
      std::string source = sourcePrefix_;
      AppendSource(source, rest);
      Line("=" + Quoted(source) + ", " + Quoted(d.mime) + "," + Quoted(d.target));
      if (d.operation != 8) AddFile(d, rest, id, 2 + source.size());
    }
  }

  void WalkBlock(const InstallBlock& block, int id) {
    for (const FileEntry& f : block.files) File(f, id);
    for (const Package& p : block.embedded) WalkPackage(p, id);
    for (const model::IfBlock& i : block.ifs) {
      Line("If " + text::ConditionText(i.branch.condition, true));
      const std::string ifText = ReadableCondition(i.branch.condition);
      if (i.branch.block) {
        const std::uint32_t outer = Enter("if " + ifText);
        WalkBlock(*i.branch.block, id);
        Leave(outer);
      }
      for (const model::ConditionalBlock& e : i.elseIfs) {
        Line("ElseIf " + text::ConditionText(e.condition, true));
        if (e.block) {
          std::string text;
          if (!text::IsElse(e.condition))
            text = "else if " + ReadableCondition(e.condition);
          else if (i.elseIfs.size() == 1)
            text = "if not (" + ifText + ")";
          else
            text = "otherwise";
          const std::uint32_t outer = Enter(text);
          WalkBlock(*e.block, id);
          Leave(outer);
        }
      }
      Line("EndIf ");
    }
  }

  void File(const FileEntry& d, int id) {
    const std::string& t = d.target;
    const bool textNamed = t.empty() && d.operation == 4;
    const std::string_view textName =
        textNamed ? MadeUp("TextFileIndex" + std::to_string(ordinal_) + std::to_string(d.index) + ".txt")
                  : std::string_view();
    const std::string_view afterDrive = t.size() > 3 ? std::string_view(t).substr(3) : std::string_view();
    std::string_view rest;
    if (!t.empty())
      rest = (t.size() >= 3 && t[1] == ':' && t[2] == '\\') ? afterDrive : std::string_view(t);
    else if (textNamed)
      rest = textName;
    const std::uint32_t options = d.options & ~0x8000u;

    // The line, written straight into the text buffer: the made-up source, "-", the target,
    // then the options of the operation.
    std::string& line = text_;
    const std::size_t start = line.size();
    std::size_t sourceEnd = 0;  // the source name is the line's first quoted text
    // The made-up source name is the prefix and the package path, with the source separator.
    auto withSource = [&](std::string_view path, const auto&... tail) {
      AppendPieces(line, "\"", sourcePrefix_, path, tail...);
      sourceEnd = start + 1 + sourcePrefix_.size() + path.size();
      if (sep_ != '\\')
        std::replace(line.begin() + static_cast<std::ptrdiff_t>(start + 1 + sourcePrefix_.size()),
                     line.begin() + static_cast<std::ptrdiff_t>(sourceEnd), '\\', sep_);
    };
    const bool null = text::IsNullFile(d);
    switch (null ? 8 : d.operation) {
      case 2:
        withSource(afterDrive, "\"-\"", t, "\"", text::RunOptions(options, d.mime), kCrLf);
        break;
      case 4:
        withSource(t.empty() ? textName : afterDrive, "\"-\"\", FT", text::TextOption(options), kCrLf);
        break;
      case 8:
        AppendPieces(line, "\"\"-\"", t, "\", FN");
        break;
      default:
        withSource(afterDrive, "\"-\"", t, "\", FF");
        break;
    }
    rows_.push_back({RowKind::Line, -1, line.size() - start});
    if (!null) AddFile(d, rest, id, sourceEnd - start);
  }

  // The part of the rows that the sections are made of: the main package's own markers are
  // left out.
  std::pair<std::size_t, std::size_t> Span() const {
    std::size_t first = 0, last = rows_.size();
    if (last > 0 && rows_[0].kind == RowKind::Start && rows_[0].pkg == 0) first = 1;
    if (last > first && rows_[last - 1].kind == RowKind::End && rows_[last - 1].pkg == 0) --last;
    return {first, last};
  }

  // Embedded packages are named in the order their sections close, "name (2)" for a name
  // already taken (ignoring case). Each package then knows what the tag stands for in its
  // section.
  void NameEmbedded() {
    std::vector<int> open{0};
    std::unordered_set<std::string> taken;  // names handed out, in lower case
    std::unordered_map<std::string, int> lastNumber;
    auto name = [&](int pkg) {
      PackageSlot& slot = slots_[static_cast<std::size_t>(pkg)];
      const std::string given = OneLevel(SafeName(slot.pkg->names.empty() ? std::string() : slot.pkg->names.front()));
      // A name already handed out, also as an earlier one's "name (2)", takes the next number
      // that is free.
      std::string folder = given;
      int& last = lastNumber[Lower(given)];
      while (!taken.insert(Lower(folder)).second) {
        last = std::max(last + 1, 2);
        folder = given + " (" + std::to_string(last) + ")";
      }
      slot.folderName = std::move(folder);
    };
    const auto [first, last] = Span();
    for (std::size_t i = first; i < last; ++i) {
      if (rows_[i].kind == RowKind::Start) {
        open.push_back(rows_[i].pkg);
      } else if (rows_[i].kind == RowKind::End && open.size() > 1 && open.back() == rows_[i].pkg) {
        name(open.back());
        open.pop_back();
      }
    }
    while (open.size() > 1) {
      name(open.back());
      open.pop_back();
    }
    for (PackageSlot& slot : slots_) {
      const std::string folder =
          slot.parent < 0 ? packageFolder_ : packageFolder_ + "\\Embedded Components\\" + slot.folderName;
      slot.extractFolder = "bin\\" + folder + "\\";
      slot.tagFolder = folder;
      if (sep_ != '\\') std::replace(slot.tagFolder.begin(), slot.tagFolder.end(), '\\', sep_);
    }
  }

  // The text of condition `n`, made into one shared copy the first time a row asks for it.
  const SharedText& SharedCondition(std::uint32_t n) {
    if (sharedConditions_.size() < conditions_.size()) sharedConditions_.resize(conditions_.size());
    SharedText& shared = sharedConditions_[n];
    if (shared.empty() && !conditions_[n].empty()) shared = SharedText(conditions_[n]);
    return shared;
  }

  std::vector<FileRow> FileRows() {
    std::vector<FileRow> out;
    out.reserve(files_.size());
    for (const PendingFile& f : files_) {
      const PackageSlot& slot = slots_[static_cast<std::size_t>(f.pkg)];
      const FileEntry& e = *f.entry;
      FileRow& r = out.emplace_back();
      r.target = e.target;
      r.hasData = e.dataOffset.has_value();
      r.offset = e.dataOffset.value_or(0);
      r.deflated = e.compression == 1;
      r.compressedSize = e.compressedSize;
      r.uncompressedSize = e.uncompressedSize;
      if (e.hashAlgorithm == 1 && e.hash.size() == 20) {
        Sha1Digest d{};
        std::copy(e.hash.begin(), e.hash.end(), d.begin());
        r.sha1 = d;
      }
      r.entry = &e;
      r.package = slot.pkg;
      if (f.condition != 0) r.condition = SharedCondition(f.condition);
    }
    DistinctPaths(&out);
    return out;
  }

  // The extraction path of a pending file: "bin\<package>\" (and the embedded package's
  // folder), then its path in the package.
  void ExtractPath(const PendingFile& f, std::string& path) const {
    const std::string& folder = slots_[static_cast<std::size_t>(f.pkg)].extractFolder;
    path.reserve(folder.size() + f.rest.size());
    path = folder;
    path += f.rest;
  }

  // Gives every pending file its extraction path (into the rows of `out`, when there are
  // rows) and makes the paths distinct.
  //
  // Files with one target in different condition branches (per-language variants, for
  // example) would otherwise share a path, and extraction would keep only the last one.
  // The first keeps its name; each later one becomes "name (2).ext", "name (3).ext", ...,
  // and so does the source name of its script line (the suffix is kept with the pending
  // file and put in when the script is assembled). The table keeps, per path key in use,
  // the last number tried for it, so that a name is never handed out twice and each number
  // is tried at most once per key.
  void DistinctPaths(std::vector<FileRow>* out) {
    // Each package's folder as the start of a path key, made once.
    struct FolderKey {
      std::string key;
      bool wide = false;
    };
    std::vector<FolderKey> folderKeys(slots_.size());
    for (std::size_t j = 0; j < slots_.size(); ++j)
      folderKeys[j].wide = AppendPathKey(folderKeys[j].key, slots_[j].extractFolder);
    std::string path, key, suffix, renamed;
    auto keyOf = [&](const PendingFile& f) {
      const FolderKey& folder = folderKeys[static_cast<std::size_t>(f.pkg)];
      key = folder.key;
      FinishPathKey(key, AppendPathKey(key, f.rest) || folder.wide);
    };
    if (out)
      for (std::size_t i = 0; i < files_.size(); ++i) ExtractPath(files_[i], (*out)[i].extractPath);
    // Most packages have no two files on one path: a table of the keys' hashes alone shows
    // that cheaply. Only when two hashes meet are the keys themselves compared.
    {
      text::HashSet hashes(files_.size());
      bool clash = false;
      for (std::size_t i = 0; i < files_.size() && !clash; ++i) {
        keyOf(files_[i]);
        clash = !hashes.Insert(key);
      }
      if (!clash) return;
    }
    PathKeyTable taken(files_.size());
    for (std::size_t i = 0; i < files_.size(); ++i) {
      const PendingFile& f = files_[i];
      keyOf(f);
      int* number = nullptr;
      if (taken.Insert(key, 1, number)) continue;
      ExtractPath(f, path);
      int chosen = *number + 1;
      for (;; ++chosen) {
        suffix = SuffixText(chosen);
        renamed = WithSuffix(path, path.size(), suffix);
        PathKey(renamed, key);
        if (!taken.Find(key)) {
          *number = chosen;
          break;
        }
      }
      taken.Insert(key, 1, number);
      if (out) (*out)[i].extractPath = renamed;
      files_[i].suffix = chosen;
    }
  }

  // Appends `text` to `out` with every tag replaced by `folder`.
  static void AppendReplacing(std::string& out, std::string_view text, std::string_view folder) {
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(kTag, start)) != std::string_view::npos; start = at + kTag.size()) {
      out.append(text, start, at - start);
      out.append(folder);
    }
    out.append(text, start, std::string_view::npos);
  }

  // Without embedded packages and with no source name to edit, the script is the header, the
  // lines one after another, and the closing line: it is made in the text buffer itself, each
  // line moved back to make room for the line breaks, so that a package of a million lines
  // never holds its text twice.
  bool AssembleInPlace(std::string& script) {
    if (tagged_) return false;
    for (const PendingFile& f : files_)
      if (f.suffix != 0) return false;
    const auto [first, last] = Span();
    std::size_t total = 0;
    for (std::size_t i = first; i < last; ++i) {
      if (rows_[i].kind != RowKind::Line) return false;
      total += rows_[i].size;
    }
    if (total != text_.size()) return false;
    constexpr std::string_view kHead = ";<---Main SIS File PKG--->\r\n\r\n";
    constexpr std::string_view kTail = "  \r\n";
    const std::size_t lines = last - first;
    std::size_t from = text_.size();
    text_.resize(kHead.size() + from + 2 * lines + kTail.size());
    char* const d = text_.data();
    std::size_t to = text_.size() - kTail.size();
    std::memcpy(d + to, kTail.data(), kTail.size());
    for (std::size_t i = last; i-- > first;) {
      to -= 2;
      std::memcpy(d + to, kCrLf.data(), 2);
      from -= rows_[i].size;
      to -= rows_[i].size;
      std::memmove(d + to, d + from, rows_[i].size);
    }
    std::memcpy(d, kHead.data(), kHead.size());
    script = std::move(text_);
    return true;
  }

  // Where the script's lines go while it is assembled: the main section straight into the
  // script, an embedded one into a text of its own while it is open, and into `closed` once
  // it is closed.
  struct Sections {
    struct Open {
      int pkg;
      std::string text;
    };
    std::string script;
    std::vector<Open> stack;
    std::vector<std::string> closed;
    std::string embedFolder;  // where the @ lines find the embedded packages
  };

  // A line goes to the section on top, with the tag replaced by that section's folder.
  void Append(Sections& s, std::string_view line) const {
    const std::string& folder = slots_[static_cast<std::size_t>(s.stack.back().pkg)].tagFolder;
    if (!tagged_) {
      s.script += line;
      s.script += kCrLf;
    } else if (s.stack.size() == 1) {
      AppendReplacing(s.script, line, folder);
      s.script += kCrLf;
    } else {
      s.stack.back().text += kCrLf;
      AppendReplacing(s.stack.back().text, line, folder);
    }
  }

  // Closes the section on top; its parent refers to it with an @ line.
  void Finish(Sections& s) const {
    Sections::Open top = std::move(s.stack.back());
    s.stack.pop_back();
    const PackageSlot& slot = slots_[static_cast<std::size_t>(top.pkg)];
    top.text += "  ";
    s.closed.push_back(std::move(top.text));
    Append(s, "@\"" + s.embedFolder + slot.folderName + ".sis\", (0x" + HexText(slot.pkg->uid, 8) + ")");
  }

  // Every row of the span into its section, with the suffixes of pending source names.
  void WriteRows(Sections& s) const {
    std::size_t nextFile = 0;
    std::string edited;
    const auto [first, last] = Span();
    std::size_t at = 0;  // where the text of row `first` begins (the main package's start has none)
    for (std::size_t i = first; i < last; ++i) {
      const ScriptRow& row = rows_[i];
      if (row.kind == RowKind::Start) {
        s.stack.push_back({row.pkg, {}});
      } else if (row.kind == RowKind::End) {
        if (s.stack.size() > 1 && s.stack.back().pkg == row.pkg) Finish(s);
      } else {
        std::string_view text = std::string_view(text_).substr(at, row.size);
        at += row.size;
        while (nextFile < files_.size() && files_[nextFile].line < i) ++nextFile;
        for (; nextFile < files_.size() && files_[nextFile].line == i; ++nextFile) {
          const PendingFile& f = files_[nextFile];
          if (f.suffix == 0 || f.sourceEnd > text.size()) continue;
          edited = WithSuffix(std::string(text), f.sourceEnd, SuffixText(f.suffix));
          text = edited;
        }
        Append(s, text);
      }
    }
  }

  std::string Assemble() {
    std::string whole;
    if (AssembleInPlace(whole)) return whole;
    Sections s;
    s.embedFolder = sourceFolder_;
    AppendSource(s.embedFolder, "bin\\" + packageFolder_ + "\\Embedded Components\\");
    s.script = ";<---Main SIS File PKG--->";
    s.script += kCrLf;
    s.script += kCrLf;
    s.script.reserve(text_.size() + 2 * rows_.size() + 64);
    s.stack.push_back({0, {}});
    WriteRows(s);
    while (s.stack.size() > 1) Finish(s);
    s.script += "  ";
    s.script += kCrLf;
    for (std::size_t j = 0; j < s.closed.size(); ++j) {
      s.script += kCrLf;
      s.script += ";<---Embedded SIS File Index " + std::to_string(j + 1) + " PKG--->";
      s.script += kCrLf;
      s.script += s.closed[j];
      s.script += kCrLf;
    }
    return std::move(s.script);
  }

  const Package& main_;
  std::string packageFolder_;  // the file name up to its last "."
  std::string sourceFolder_;   // the Working Directory, ending in a separator
  std::string sourcePrefix_;   // made-up source names begin with this
  bool tagged_ = false;        // source names hold the tag in place of their package's folder
  char sep_ = '\\';            // the separator of source names
  std::vector<std::string> conditions_;  // conditions in words; [0] is none
  std::vector<SharedText> sharedConditions_;  // the same, shared by the rows
  std::uint32_t condition_ = 0;          // the one the walk is in
  std::string mainOptions_;    // ", IU" or ", NC" of a whole package's main controller
  std::vector<std::string>* header_ = nullptr;
  int ordinal_ = 0;            // packages met so far in the walk
  std::string text_;           // the text of every line, end to end
  std::vector<ScriptRow> rows_;
  std::vector<PackageSlot> slots_;
  std::vector<PendingFile> files_;
  std::deque<std::string> madeUpNames_;  // names the walk made up (pending files refer to them)
};

}  // namespace

PackageView DescribeSis9(const model::Package& package, const ScriptSettings& settings) {
  return Describer(package, settings).Run();
}

std::string ScriptSis9(const model::Package& package, const ScriptSettings& settings) {
  return Describer(package, settings).Run(false).script;
}

}  // namespace tarvik::views
