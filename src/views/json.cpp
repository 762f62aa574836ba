#include "views/json.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "signers/signers.hpp"
#include "views/facts.hpp"

namespace tarvik::views {

namespace {

using model::Expression;
using model::ExprOp;
using model::FileEntry;
using model::Generation;
using model::Package;

constexpr std::uint32_t kLanguageAttribute = 0x1000;

Json LanguageJson(const LanguageFacts& f) {
  Json j;
  j["number"] = f.number;
  j["code"] = f.code.empty() ? Json() : Json(f.code);
  j["name"] = f.name.empty() ? Json() : Json(f.name);
  return j;
}
Json LanguageJson(std::uint32_t number) { return LanguageJson(Language(number)); }

Json Bits(std::uint64_t bits, const std::vector<std::string>& names) {
  Json j;
  j["bits"] = bits;
  j["names"] = names;
  return j;
}

Json VersionJson(const model::Version& v) {
  Json j;
  j["major"] = v.major;
  j["minor"] = v.minor;
  j["build"] = v.build;
  j["text"] = VersionText(v);
  return j;
}

Json PerLanguage(const std::vector<LanguageText>& texts) {
  Json out = Json::array();
  for (const LanguageText& t : texts) {
    Json j;
    j["language"] = t.language ? LanguageJson(*t.language) : Json();
    j["text"] = t.text;
    out.push_back(std::move(j));
  }
  return out;
}

Json DependencyJson(const DependencyFacts& d, bool platform) {
  Json j;
  j["uid"] = d.uid;
  j["uidHex"] = UidText(d.uid);
  if (platform) j["platform"] = d.platform ? Json(*d.platform) : Json();
  j["from"] = d.from ? VersionJson(*d.from) : Json();
  j["to"] = d.to ? VersionJson(*d.to) : Json();
  j["names"] = PerLanguage(d.names);
  return j;
}

const char* OpName(const Expression& e) {
  if (e.unknownOp != 0) return "unknown";
  switch (e.op) {
    case ExprOp::None: return "none";
    case ExprOp::Equal: return "equal";
    case ExprOp::NotEqual: return "notEqual";
    case ExprOp::Greater: return "greater";
    case ExprOp::Less: return "less";
    case ExprOp::GreaterOrEqual: return "greaterOrEqual";
    case ExprOp::LessOrEqual: return "lessOrEqual";
    case ExprOp::And: return "and";
    case ExprOp::Or: return "or";
    case ExprOp::Not: return "not";
    case ExprOp::Exists: return "exists";
    case ExprOp::AppProperty: return "appProperty";
    case ExprOp::Package: return "package";
    case ExprOp::String: return "string";
    case ExprOp::Option: return "option";
    case ExprOp::Variable: return "variable";
    case ExprOp::Number: return "number";
    case ExprOp::DeviceCapability: return "deviceCapability";
    case ExprOp::AppCapability: return "appCapability";
  }
  return "none";
}

bool IsComparison(ExprOp op) { return op >= ExprOp::Equal && op <= ExprOp::LessOrEqual; }
bool IsLanguageVariable(const Expression& e) { return e.op == ExprOp::Variable && e.value == kLanguageAttribute; }

// A condition expression as nested objects. A number compared with the Language variable
// also names the language.
Json ExprJson(const Expression& e, bool languageNumber = false) {
  Json j;
  j["op"] = OpName(e);
  if (e.unknownOp != 0) j["unknownOp"] = e.unknownOp;
  switch (e.op) {
    case ExprOp::Exists:
    case ExprOp::String: j["text"] = e.text; break;
    case ExprOp::Variable: {
      j["value"] = e.value;
      const std::string name = AttributeName(e.value);
      j["name"] = name.empty() ? Json() : Json(name);
      break;
    }
    case ExprOp::Option:
    case ExprOp::Number:
      j["value"] = e.value;
      if (languageNumber && e.op == ExprOp::Number) j["language"] = LanguageJson(e.value);
      break;
    default: break;
  }
  if (!e.operands.empty()) {
    const bool comparesLanguage =
        IsComparison(e.op) && std::any_of(e.operands.begin(), e.operands.end(), IsLanguageVariable);
    Json ops = Json::array();
    for (const Expression& o : e.operands) ops.push_back(ExprJson(o, comparesLanguage));
    j["operands"] = std::move(ops);
  }
  return j;
}

// The language a branch condition selects: "Language = n" (either way round).
std::optional<std::uint32_t> SelectedLanguage(const Expression& e) {
  if (e.op != ExprOp::Equal || e.operands.size() != 2) return std::nullopt;
  const Expression& a = e.operands[0];
  const Expression& b = e.operands[1];
  if (IsLanguageVariable(a) && b.op == ExprOp::Number) return b.value;
  if (IsLanguageVariable(b) && a.op == ExprOp::Number) return a.value;
  return std::nullopt;
}

// The conditions a file (or embedded package) is installed under, outermost first: each
// expression with the truth value it must have. An ElseIf or Else branch requires the
// branches before it to be false.
struct Condition {
  const Expression* expression = nullptr;
  Json json;
  bool mustBe = true;
  std::size_t node = 0;  // the node standing for this condition and those outside it
};

// The conditions met while walking a package's blocks, and the package's condition nodes:
// each node is one condition (expression and the truth value it must have) with the node of
// the conditions outside it as its parent. A file names the innermost node it is installed
// under, so a condition is written once however many files sit under it. A node's number
// is its position in the package's list; a parent comes before its children.
class ConditionStack {
 public:
  void Push(const Expression* e, Json json, bool mustBe) {
    items_.push_back({e, std::move(json), mustBe});
    MakeNode(items_.size() - 1);
  }
  void Pop() {
    items_.pop_back();
    languageKnown_ = false;
  }
  void Flip(std::size_t from) {  // the branches from `from` on are now ones that must be false
    bool changed = false;
    for (std::size_t i = from; i < items_.size(); ++i) {
      if (items_[i].mustBe) {
        items_[i].mustBe = false;
        changed = true;
      }
      if (changed) MakeNode(i);  // a new truth value, or a new parent
    }
  }
  std::size_t Size() const { return items_.size(); }

  // The innermost node, or null outside every condition.
  Json Innermost() const { return items_.empty() ? Json() : Json(items_.back().node); }
  std::optional<std::uint32_t> LanguageSelected() {
    if (!languageKnown_) {
      language_.reset();
      for (const Condition& c : items_)
        if (c.mustBe && c.expression)
          if (auto l = SelectedLanguage(*c.expression)) language_ = l;
      languageKnown_ = true;
    }
    return language_;
  }
  Json TakeNodes() { return std::move(nodes_); }

 private:
  void MakeNode(std::size_t i) {
    Condition& c = items_[i];
    c.node = nodes_.size();
    Json n;
    n["id"] = c.node;
    n["parent"] = i == 0 ? Json() : Json(items_[i - 1].node);
    n["expression"] = c.json;
    n["mustBe"] = c.mustBe;
    nodes_.push_back(std::move(n));
    languageKnown_ = false;
  }

  std::vector<Condition> items_;
  Json nodes_ = Json::array();
  std::optional<std::uint32_t> language_;
  bool languageKnown_ = true;
};

// A file's "executable" member: what its own header says.
Json ExecutableJson(const ExecutableFacts& x) {
  const e32::ImageHeader& h = x.image.header;
  const bool uids = !x.image.emulator || x.image.symbianSection;
  auto word = [](const std::optional<std::uint32_t>& w) { return w ? Json(*w) : Json(); };
  auto hex = [](const std::optional<std::uint32_t>& w) { return w ? Json(UidText(*w)) : Json(); };
  Json j;
  j["kind"] = *x.KindName() ? Json(x.KindName()) : Json();
  j["emulator"] = x.image.emulator;
  j["uid1"] = uids ? Json(h.uid1) : Json();
  j["uid2"] = uids ? Json(h.uid2) : Json();
  j["uid3"] = uids ? Json(h.uid3) : Json();
  j["uid3Hex"] = uids ? Json(UidText(h.uid3)) : Json();
  j["uidChecksumMatches"] = x.image.emulator ? Json() : Json(h.uidChecksumMatches);
  j["secureId"] = word(h.secureId);
  j["secureIdHex"] = hex(h.secureId);
  j["vendorId"] = word(h.vendorId);
  j["vendorIdHex"] = hex(h.vendorId);
  j["capabilities"] = h.capabilities ? Bits(*h.capabilities, x.CapabilityNames()) : Json();
  j["headerFormat"] = x.image.emulator ? Json() : Json(h.headerFormat);
  j["format"] = x.FormatText();
  j["compression"] = x.image.emulator ? Json() : Json(x.CompressionText());
  j["compressionCode"] = x.image.emulator ? Json() : Json(h.compression);
  return j;
}

const char* CompressionName(std::uint32_t c) {
  switch (c) {
    case 0: return "stored";
    case 1: return "deflate";
    default: return "unknown";
  }
}

// A package's "files": the array of file objects, or, when the document is written as text
// as it is made, the file objects' text (each written by the library as soon as it is
// filled) and their number.
struct FileList {
  Json array = Json::array();
  std::string text;
  std::size_t count = 0;
  std::size_t size() const { return count; }
};

// The members of a file object. A document written as text fills one object again for each
// file: its texts keep their storage, and the values many files share (operation, options,
// language) are copied in only when they differ from the previous file's.
class FileFiller {
 public:
  FileFiller(Json& object, std::size_t members)
      : members_(static_cast<Members&>(object.get_ref<Json::object_t&>())), reuse_(!members_.empty()) {
    if (!reuse_) members_.reserve(members);
  }
  template <typename V>
  void Add(const char* key, V&& value) {
    if (!reuse_) {
      members_.emplace_back(key, Json(std::forward<V>(value)));
    } else {
      Json& slot = members_[next_].second;
      if constexpr (std::is_convertible_v<V, std::string_view> && !std::is_same_v<std::decay_t<V>, Json>) {
        if (slot.is_string())
          slot.get_ref<std::string&>() = std::string_view(value);
        else
          slot = Json(std::forward<V>(value));
      } else {
        slot = Json(std::forward<V>(value));
      }
    }
    ++next_;
  }
  // A value shared by many files; `identity` tells one value from another.
  void AddShared(const char* key, const Json& value, std::pair<const void*, std::uint64_t> identity,
                 std::vector<std::pair<const void*, std::uint64_t>>& identities) {
    if (identities.size() <= next_) identities.resize(next_ + 1, {nullptr, ~std::uint64_t{0}});
    if (!reuse_) {
      members_.emplace_back(key, value);
    } else if (identities[next_] != identity) {
      members_[next_].second = value;
    }
    identities[next_] = identity;
    ++next_;
  }

 private:
  using Members = std::vector<std::pair<const std::string, Json>>;
  Members& members_;
  bool reuse_;
  std::size_t next_ = 0;
};

class FactsWriter {
 public:
  FactsWriter(const Package& main, std::span<const std::uint8_t> file, const PackageView& view, bool asText)
      : main_(main), file_(file), asText_(asText), filesGuess_(view.files.size()) {
    rows_.reserve(view.files.size());
    for (const FileRow& r : view.files)
      if (r.entry) rows_.emplace(r.entry, &r);
    executableList_ = ExecutablesOf(main, file);
    for (const ExecutableFacts& x : executableList_) executables_.emplace(x.entry, &x);
  }

  Json Run(const std::string& path) {
    Json doc;
    doc["format"] = "tarvik-package-facts";
    doc["version"] = kFactsVersion;
    Json f;
    f["path"] = path;
    f["name"] = main_.name;
    f["size"] = file_.size();
    f["sha1"] = fileSha1_.empty() ? Sha1Hex(file_) : fileSha1_;
    doc["file"] = std::move(f);
    // A file that is no package of either generation has none.
    const bool notPackage = !main_.problems.empty() && main_.problems.front().kind == model::Problem::Kind::NotAPackage;
    doc["generation"] = GenerationName(notPackage ? Generation::Unknown : main_.generation);
    doc["stub"] = main_.stub;
    doc["readable"] = Readable(main_);
    doc["frame"] = FrameJson();
    doc["header"] = OldHeaderJson();
    const bool hasInfo = main_.generation == Generation::Sis9 ? main_.controllerRead : main_.oldHeader.has_value();
    ConditionStack none;
    doc["package"] = hasInfo ? PackageJson(main_, none) : Json();
    SignersJson(doc);
    Json problems = Json::array();
    for (const model::Problem& p : main_.problems) problems.push_back(ProblemJson(p));
    doc["problems"] = std::move(problems);
    return doc;
  }

 private:
  static Json ProblemJson(const model::Problem& p) {
    Json j;
    j["kind"] = ProblemKindName(p.kind);
    j["what"] = p.what;
    j["where"] = p.where;
    if (p.kind == model::Problem::Kind::Inflate) j["status"] = p.status;
    j["text"] = ProblemText(p);
    return j;
  }

  Json FrameJson() const {
    if (!main_.frame) return Json();
    const model::Frame& fr = *main_.frame;
    Json j;
    j["uid1"] = fr.uid1;
    j["uid2"] = fr.uid2;
    j["uid3"] = fr.uid3;
    j["uidChecksum"] = fr.uidChecksum;
    j["controllerChecksum"] = fr.controllerChecksum ? Json(*fr.controllerChecksum) : Json();
    j["dataChecksum"] = fr.dataChecksum ? Json(*fr.dataChecksum) : Json();
    Json c;
    c["present"] = fr.hasCompressedController;
    c["algorithm"] = fr.controllerAlgorithm;
    c["compression"] = CompressionName(fr.controllerAlgorithm);
    c["uncompressedSize"] = fr.controllerUncompressedSize;
    c["compressedSize"] = fr.controllerCompressedSize;
    c["offset"] = fr.controllerOffset;
    j["controller"] = std::move(c);
    return j;
  }

  Json OldHeaderJson() const {
    if (!main_.oldHeader) return Json();
    const model::OldHeader& h = *main_.oldHeader;
    Json j;
    j["uid1"] = h.uid1;
    j["uid2"] = h.uid2;
    j["uid3"] = h.uid3;
    j["uid4"] = h.uid4;
    j["checksum"] = h.checksum;
    j["languageCount"] = h.languageCount;
    j["fileCount"] = h.fileCount;
    j["requisiteCount"] = h.requisiteCount;
    j["capabilityCount"] = h.capabilityCount;
    j["installerVersion"] = h.installerVersion;
    j["options"] = h.options;
    j["type"] = h.type;
    j["release6Layout"] = h.release6Layout;
    j["deflated"] = h.deflated;
    return j;
  }

  // Adds the object of one file to `files`.
  void AddFile(FileList& files, const Package& owner, const FileEntry& e, const char* role,
               ConditionStack& conditions, std::optional<std::uint32_t> language) {
    ++files.count;
    if (!asText_) {
      Json j = Json::object();
      FillFile(j, owner, e, role, conditions, language);
      files.array.push_back(std::move(j));
      return;
    }
    FillFile(fileObject_, owner, e, role, conditions, language);
    const std::string one = fileObject_.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (files.count == 1) {
      // Room for the package's other files, guessed from the first one's text, so that the
      // text is not moved as it grows.
      files.text.reserve((one.size() + one.size() / 4 + 1) * std::max<std::size_t>(1, filesGuess_));
    } else {
      files.text += ',';
    }
    files.text += one;
  }

  // The members of a file's object, in order, without the key lookups of operator[]: a
  // package can describe a great many files.
  void FillFile(Json& object, const Package& owner, const FileEntry& e, const char* role, ConditionStack& conditions,
                std::optional<std::uint32_t> language) {
    const Generation g = main_.generation;
    FileFiller j(object, 20);
    j.Add("role", role);
    j.Add("package", owner.ordinal);
    j.Add("target", e.target);
    j.Add("source", g == Generation::Pre9 ? Json(e.source) : Json());
    j.AddShared("operation", OperationJson(e.operation), {nullptr, e.operation}, identities_);
    j.AddShared("options", OptionsJson(e.operation, e.options),
                {&options_, (static_cast<std::uint64_t>(e.operation) << 32) | e.options}, identities_);
    j.Add("mime", e.mime);
    j.Add("compressedSize", e.compressedSize);
    j.Add("uncompressedSize", e.uncompressedSize);
    j.Add("compression", CompressionName(e.compression));
    j.Add("dataOffset", e.dataOffset ? Json(*e.dataOffset) : Json());
    j.Add("hashAlgorithm", e.hashAlgorithm);
    j.Add("sha1", e.hashAlgorithm == 1 && e.hash.size() == 20 ? Json(HexBytes(e.hash)) : Json());
    j.Add("capabilities", e.capabilities ? Bits(*e.capabilities, signers::CapabilityNames(*e.capabilities)) : Json());
    j.Add("index", e.index);
    j.Add("complete", e.complete);
    if (!language) language = conditions.LanguageSelected();
    if (language)
      j.AddShared("language", FileLanguageJson(*language), {&languages_, *language}, identities_);
    else
      j.AddShared("language", Json(), {nullptr, 0}, identities_);
    j.Add("condition", conditions.Innermost());
    const auto row = rows_.find(&e);
    if (row == rows_.end())
      j.Add("extractPath", Json());
    else
      j.Add("extractPath", row->second->extractPath);
    const auto executable = executables_.find(&e);
    j.Add("executable", executable == executables_.end() ? Json() : ExecutableJson(*executable->second));
  }

  const Json& FileLanguageJson(std::uint32_t number) {
    Json& j = languages_[number];
    if (j.is_null()) j = LanguageJson(number);
    return j;
  }

  // The operation and options objects, made once per distinct value.
  const Json& OperationJson(std::uint32_t operation) {
    Json& j = operations_[operation];
    if (j.is_null()) {
      const std::string name = OperationName(main_.generation, operation);
      j = Json{{"code", operation}, {"name", name.empty() ? Json() : Json(name)}};
    }
    return j;
  }
  const Json& OptionsJson(std::uint32_t operation, std::uint32_t options) {
    Json& j = options_[(static_cast<std::uint64_t>(operation) << 32) | options];
    if (j.is_null()) j = Bits(options, OptionNames(main_.generation, operation, options));
    return j;
  }

  Json PackageJson(const Package& p, ConditionStack& outer) {
    const PackageFacts f = FactsOf(p, &p != &main_);
    Json j;
    j["ordinal"] = f.ordinal;
    j["embedded"] = f.embedded;
    j["condition"] = outer.Innermost();
    j["uid"] = f.uid;
    j["uidHex"] = UidText(f.uid);
    j["names"] = PerLanguage(f.names);
    j["vendorNames"] = PerLanguage(f.vendorNames);
    j["vendorUniqueName"] = f.generation == Generation::Sis9 ? Json(f.vendorUniqueName) : Json();
    // Members a damaged package information left unread are null, as the lists leave them out.
    j["version"] = f.version ? VersionJson(*f.version) : Json();
    j["created"] = f.created ? CreatedJson(*f.created) : Json();
    j["installType"] = Json{{"code", f.installTypeCode ? Json(*f.installTypeCode) : Json()},
                            {"name", f.installType.empty() ? Json() : Json(f.installType)}};
    j["installFlags"] = Bits(f.flagBits, f.flags);
    Requirements(f, j);
    j["ended"] = p.generation == Generation::Sis9 ? Json(p.ended) : Json();
    Content(p, f, j);
    return j;
  }

  static Json CreatedJson(const model::DateTime& d) {
    Json c;
    c["year"] = d.year;
    c["month"] = d.month0 + 1;
    c["day"] = d.day;
    c["hour"] = d.hour;
    c["minute"] = d.minute;
    c["second"] = d.second;
    c["text"] = DateText(d, 'T');
    return c;
  }

  // Languages, target devices, dependencies and properties.
  static void Requirements(const PackageFacts& f, Json& j) {
    Json langs = Json::array();
    for (const LanguageFacts& l : f.languages) langs.push_back(LanguageJson(l));
    j["languages"] = std::move(langs);
    Json targets = Json::array();
    for (const DependencyFacts& d : f.targetDevices) targets.push_back(DependencyJson(d, true));
    j["targetDevices"] = std::move(targets);
    Json deps = Json::array();
    for (const DependencyFacts& d : f.dependencies) deps.push_back(DependencyJson(d, false));
    j["dependencies"] = std::move(deps);
    Json props = Json::array();
    for (const model::Property& pr : f.properties) props.push_back(Json{{"key", pr.key}, {"value", pr.value}});
    j["properties"] = std::move(props);
  }

  // Options, the condition tree, the files and the embedded packages.
  void Content(const Package& p, const PackageFacts& f, Json& j) {
    Json options = Json::array();
    for (const std::vector<LanguageText>& names : f.options)
      options.push_back(Json{{"number", options.size() + 1}, {"names", PerLanguage(names)}});
    FileList files;
    Json tree = Json::array();
    Json embedded = Json::array();
    ConditionStack conditions;
    if (p.generation == Generation::Pre9) {
      OldRecords(p, files, tree, conditions);
    } else {
      if (p.logo) AddFile(files, p, *p.logo, "logo", conditions, std::nullopt);
      Block(p, p.body, files, tree, embedded, conditions);
      for (const model::InstallBlock& b : p.laterBlocks) Block(p, b, files, tree, embedded, conditions);
    }
    j["options"] = std::move(options);
    j["conditionTree"] = std::move(tree);
    j["conditionNodes"] = conditions.TakeNodes();
    if (asText_) {
      // A number stands for the files' text until the document is written out.
      j["files"] = filesTexts_.size();
      filesTexts_.push_back(std::move(files.text));
    } else {
      j["files"] = std::move(files.array);
    }
    j["embeddedPackages"] = std::move(embedded);
  }

  // A 9.x install block: its files, its embedded packages, then its condition blocks.
  void Block(const Package& p, const model::InstallBlock& block, FileList& files, Json& tree, Json& embedded,
             ConditionStack& conditions) {
    std::vector<std::size_t> fileIndexes;
    for (const FileEntry& f : block.files) AddFile(files, p, f, "file", conditions, std::nullopt);
    for (const Package& child : block.embedded) embedded.push_back(PackageJson(child, conditions));
    for (const model::IfBlock& i : block.ifs) {
      Json node;
      Json branches = Json::array();
      const std::size_t base = conditions.Size();
      std::size_t count = 0;
      auto branch = [&](const char* kind, const model::ConditionalBlock& c) {
        conditions.Flip(base);  // the branches before this one are false
        Json expression = ExprJson(c.condition);
        conditions.Push(&c.condition, expression, true);
        ++count;
        Json b;
        b["kind"] = kind;
        b["expression"] = std::move(expression);
        b["readable"] = c.block.has_value();
        const std::size_t firstFile = files.size(), firstEmbedded = embedded.size();
        Json inner = Json::array();
        if (c.block) Block(p, *c.block, files, inner, embedded, conditions);
        b["files"] = Range(firstFile, files.size());
        b["embeddedPackages"] = Ordinals(embedded, firstEmbedded);
        b["conditionTree"] = std::move(inner);
        branches.push_back(std::move(b));
      };
      branch("if", i.branch);
      for (const model::ConditionalBlock& e : i.elseIfs) branch("elseIf", e);
      for (; count > 0; --count) conditions.Pop();
      node["branches"] = std::move(branches);
      tree.push_back(std::move(node));
    }
  }

  static Json Range(std::size_t from, std::size_t to) {
    Json out = Json::array();
    for (std::size_t i = from; i < to; ++i) out.push_back(i);
    return out;
  }
  static Json Ordinals(const Json& embedded, std::size_t from) {
    Json out = Json::array();
    for (std::size_t i = from; i < embedded.size(); ++i) out.push_back(embedded[i]["ordinal"]);
    return out;
  }

  // Pre-9.x records, in the order the script lists them (the last of the file first), with
  // the If/ElseIf/Else/EndIf records giving the conditions of the files between them.
  void OldRecords(const Package& p, FileList& files, Json& tree, ConditionStack& conditions) {
    struct Open {
      Json node;
      std::size_t base;      // the stack's size before its If
      std::size_t branches;  // conditions it pushed
    };
    std::vector<Open> open;
    auto addBranch = [&](const char* kind, const model::Record* r) {
      Open& o = open.back();
      conditions.Flip(o.base);
      Json b;
      b["kind"] = kind;
      if (r) {
        Json expression = ExprJson(r->condition);
        if (!r->conditionComplete) {
          expression["complete"] = false;
          Json tokens = Json::array();
          for (const Expression& t : r->conditionTokens) tokens.push_back(ExprJson(t));
          expression["tokens"] = std::move(tokens);
        }
        conditions.Push(&r->condition, expression, true);
        ++o.branches;
        b["expression"] = std::move(expression);
      } else {
        b["expression"] = Json();  // Else: only the branches before it must be false
      }
      b["readable"] = true;
      b["files"] = Json::array();
      b["embeddedPackages"] = Json::array();
      b["conditionTree"] = Json::array();
      o.node["branches"].push_back(std::move(b));
    };
    auto close = [&]() {
      Open o = std::move(open.back());
      open.pop_back();
      for (; o.branches > 0; --o.branches) conditions.Pop();
      if (open.empty())
        tree.push_back(std::move(o.node));
      else
        open.back().node["branches"].back()["conditionTree"].push_back(std::move(o.node));
    };
    for (auto it = p.records.rbegin(); it != p.records.rend(); ++it) {
      const model::Record& r = *it;
      switch (r.kind) {
        case model::Record::Kind::If:
          open.push_back({Json{{"branches", Json::array()}}, conditions.Size(), 0});
          addBranch("if", &r);
          break;
        case model::Record::Kind::ElseIf:
          if (!open.empty()) addBranch("elseIf", &r);
          break;
        case model::Record::Kind::Else:
          if (!open.empty()) addBranch("else", nullptr);
          break;
        case model::Record::Kind::EndIf:
          if (!open.empty()) close();
          break;
        case model::Record::Kind::Options: break;
        case model::Record::Kind::File:
        case model::Record::Kind::LanguageFiles:
          for (const FileEntry& e : r.entries) {
            std::optional<std::uint32_t> language;
            if (r.kind == model::Record::Kind::LanguageFiles && e.language >= 0 &&
                static_cast<std::size_t>(e.language) < p.languages.size())
              language = p.languages[static_cast<std::size_t>(e.language)];
            if (!open.empty()) open.back().node["branches"].back()["files"].push_back(files.size());
            AddFile(files, p, e, "file", conditions, language);
          }
          break;
      }
    }
    while (!open.empty()) close();
  }

  void SignersJson(Json& doc) const {
    if (main_.generation != Generation::Sis9 || !main_.controllerRead) {
      doc["signers"] = Json();
      doc["capabilities"] = Json();
      return;
    }
    const signers::Report report = signers::Inspect(main_, file_);
    Json chains = Json::array();
    for (const signers::Chain& c : report.chains) {
      Json j;
      j["package"] = c.packageOrdinal;
      j["packageName"] = c.packageName;
      j["embedded"] = c.embedded;
      j["index"] = c.index;
      Json sigs = Json::array();
      for (const signers::SignatureCheck& s : c.signatures) {
        sigs.push_back(Json{{"oid", s.oid},
                            {"algorithm", s.algorithm},
                            {"verdict", VerdictName(s.verdict)},
                            {"why", s.why}});
      }
      j["signatures"] = std::move(sigs);
      Json certs = Json::array();
      for (const signers::Certificate& k : c.certificates) {
        Json cj;
        cj["decoded"] = k.decoded;
        cj["subject"] = k.subject;
        cj["issuer"] = k.issuer;
        cj["serial"] = k.serial;
        cj["notBefore"] = k.notBefore;
        cj["notAfter"] = k.notAfter;
        cj["keyType"] = k.keyType;
        cj["keyBits"] = k.keyBits;
        cj["sha1"] = k.sha1;
        certs.push_back(std::move(cj));
      }
      j["certificates"] = std::move(certs);
      j["trust"] = TrustName(c.trust);
      j["endIssuer"] = c.endIssuer;
      j["expiredAtCreation"] = c.expiredAtCreation;
      j["notYetValidAtCreation"] = c.notYetValidAtCreation;
      chains.push_back(std::move(j));
    }
    Json problems = Json::array();
    for (const model::Problem& p : report.problems) problems.push_back(ProblemJson(p));
    doc["signers"] = Json{{"chains", std::move(chains)}, {"problems", std::move(problems)}};

    const signers::Capabilities caps = signers::CollectCapabilities(main_);
    Json capFiles = Json::array();
    for (const signers::FileCapabilities& f : caps.files)
      capFiles.push_back(Json{{"package", f.packageOrdinal},
                              {"target", f.target},
                              {"bits", f.bits},
                              {"names", signers::CapabilityNames(f.bits)}});
    Json capJson;
    capJson["all"] = Bits(caps.all, signers::CapabilityNames(caps.all));
    capJson["beyondSelfSigned"] = Bits(caps.beyondSelfSigned(), signers::CapabilityNames(caps.beyondSelfSigned()));
    capJson["files"] = std::move(capFiles);
    doc["capabilities"] = std::move(capJson);
  }

  const Package& main_;
  std::span<const std::uint8_t> file_;
  bool asText_;
  std::size_t filesGuess_ = 0;  // the files of the whole package file, embedded ones included
  Json fileObject_ = Json::object();
  std::vector<std::pair<const void*, std::uint64_t>> identities_;
  std::unordered_map<std::uint32_t, Json> languages_;
  std::unordered_map<const FileEntry*, const FileRow*> rows_;
  std::vector<ExecutableFacts> executableList_;
  std::unordered_map<const FileEntry*, const ExecutableFacts*> executables_;
  std::unordered_map<std::uint32_t, Json> operations_;
  std::unordered_map<std::uint64_t, Json> options_;

 public:
  // The files' texts, in the order of the numbers standing for them.
  std::vector<std::string> filesTexts_;
  std::string fileSha1_;  // the file's SHA-1 when the caller has it already
};

}  // namespace

Json FactsDocument(const model::Package& pkg, std::span<const std::uint8_t> file, const PackageView& view,
                  const std::string& path) {
  return FactsWriter(pkg, file, view, false).Run(path);
}

std::string FactsLine(const Json& facts) { return facts.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string FactsDocumentLine(const model::Package& pkg, std::span<const std::uint8_t> file, const PackageView& view,
                              const std::string& path, std::string fileSha1) {
  FactsWriter writer(pkg, file, view, true);
  writer.fileSha1_ = std::move(fileSha1);
  const std::string skeleton = FactsLine(writer.Run(path));
  std::vector<std::string>& texts = writer.filesTexts_;
  // Each package's "files" holds the number of its files' text. Inside a string every
  // quotation mark is escaped, and only the packages' "files" members hold a number, so
  // the pattern below meets exactly those members.
  struct Splice {
    std::size_t at, end, text;  // the number's place in the skeleton, and the text it stands for
  };
  std::vector<Splice> splices;
  static constexpr std::string_view kKey = "\"files\":";
  for (std::size_t at = skeleton.find(kKey); at != std::string::npos; at = skeleton.find(kKey, at + 1)) {
    const std::size_t digits = at + kKey.size();
    std::size_t end = digits;
    while (end < skeleton.size() && skeleton[end] >= '0' && skeleton[end] <= '9') ++end;
    if (end == digits) continue;  // an array of file positions, in a condition branch or the capabilities
    const std::size_t n = std::stoul(skeleton.substr(digits, end - digits));
    if (n < texts.size()) splices.push_back({digits, end, n});
  }
  // The largest text (a package's files are most of its document) becomes the document:
  // what goes before it is put in front, the rest after, so that it is not copied into a
  // buffer of its own size.
  std::size_t largest = 0;
  for (std::size_t i = 1; i < splices.size(); ++i)
    if (texts[splices[i].text].size() > texts[splices[largest].text].size()) largest = i;
  auto piece = [&](std::string& to, std::size_t i) {  // the skeleton up to splice i, then its text
    const std::size_t from = i == 0 ? 0 : splices[i - 1].end;
    to.append(skeleton, from, splices[i].at - from);
    to += '[';
    if (i != largest) {
      to += texts[splices[i].text];
      to += ']';
    }
  };
  if (splices.empty()) return skeleton;
  std::string head;
  for (std::size_t i = 0; i <= largest; ++i) piece(head, i);
  std::string out = std::move(texts[splices[largest].text]);
  out.insert(0, head);
  out += ']';
  for (std::size_t i = largest + 1; i < splices.size(); ++i) piece(out, i);
  out.append(skeleton, splices.back().end, std::string::npos);
  return out;
}

}  // namespace tarvik::views
