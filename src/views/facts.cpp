#include "views/facts.hpp"

#include <openssl/evp.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/script_text.hpp"

namespace tarvik::views {

const char* GenerationName(model::Generation generation) {
  switch (generation) {
    case model::Generation::Sis9: return "9.x";
    case model::Generation::Pre9: return "pre-9.x";
    case model::Generation::Unknown: break;
  }
  return "unknown";
}

LanguageFacts Language(std::uint32_t number) {
  LanguageFacts out;
  out.number = number;
  out.code = LanguageCode(number);
  out.name = LanguageName(number);
  return out;
}

std::string InstallTypeName(const model::Package& pkg) {
  if (pkg.generation == model::Generation::Pre9) {
    if (!pkg.oldHeader) return {};
    static const char* const kOld[] = {"SISAPP", "SISSYSTEM", "SISOPTION", "SISCONFIG", "SISPATCH", "SISUPGRADE"};
    return pkg.oldHeader->type < 6 ? kOld[pkg.oldHeader->type] : "";
  }
  static const char* const kTypes[] = {"SA", "SP", "PU", "PA", "PP"};
  return pkg.installType < 5 ? kTypes[pkg.installType] : "";
}

std::uint32_t InstallFlagBits(const model::Package& pkg) {
  if (pkg.generation == model::Generation::Pre9) return pkg.oldHeader ? pkg.oldHeader->options : 0;
  return pkg.installFlags;
}

std::vector<std::string> InstallFlagNames(const model::Package& pkg) {
  struct Bit {
    std::uint32_t bit;
    const char* name;
  };
  static constexpr Bit kSis9[] = {{0x1, "SH"}, {0x2, "NR"}, {0x4, "RU"}, {0x8, "H"}};
  static constexpr Bit kOld[] = {{0x1, "IUNICODE"}, {0x2, "DISTRIBUTABLE"}, {0x8, "NOCOMPRESS"}, {0x10, "SHUTDOWNAPPS"}};
  const std::uint32_t bits = InstallFlagBits(pkg);
  std::vector<std::string> out;
  if (pkg.generation == model::Generation::Pre9) {
    for (const Bit& b : kOld)
      if (bits & b.bit) out.emplace_back(b.name);
  } else {
    for (const Bit& b : kSis9)
      if (bits & b.bit) out.emplace_back(b.name);
  }
  return out;
}

std::string OperationName(model::Generation generation, std::uint32_t operation) {
  if (generation == model::Generation::Pre9) {
    static const char* const kOld[] = {"FILE", "FILETEXT", "EMBEDDED SIS", "FILERUN", "FILENULL", "FILEMIME"};
    return operation < 6 ? kOld[operation] : "";
  }
  switch (operation) {
    case 1: return "install";
    case 2: return "run";
    case 4: return "text";
    case 8: return "null";
    default: return {};
  }
}

std::vector<std::string> OptionNames(model::Generation generation, std::uint32_t operation, std::uint32_t options) {
  std::vector<std::string> out;
  if (generation == model::Generation::Pre9) {
    switch (operation) {
      case 1: {  // FILETEXT: what to do when the user declines
        static const char* const kText[] = {"TEXTCONTINUE", "TEXTSKIP", "TEXTABORT", "TEXTEXIT"};
        if (options < 4) out.emplace_back(kText[options]);
        break;
      }
      case 3:    // FILERUN
      case 5: {  // FILEMIME
        if (operation == 3) {
          static const char* const kRun[] = {"RUNINSTALL", "RUNREMOVE", "RUNBOTH"};
          if ((options & 0xFF) < 3) out.emplace_back(kRun[options & 0xFF]);
        }
        if (options & 0x100) out.emplace_back("RUNSENDEND");
        if (options & 0x200) out.emplace_back("RUNWAITEND");
        break;
      }
      default: break;
    }
    return out;
  }
  if (operation == 2) {
    switch (options & 0x06) {
      case 0x02: out.emplace_back("RI"); break;
      case 0x04: out.emplace_back("RR"); break;
      case 0x06: out.emplace_back("RB"); break;
      default: break;
    }
    if (options & 0x08) out.emplace_back("FM");
    if (options & 0x10) out.emplace_back("RW");
    if (options & 0x20) out.emplace_back("RS");
  } else if (operation == 4) {
    if ((options & 0x1E00) == 0 || (options & 0x0200)) out.emplace_back("TC");
    if (options & 0x0400) out.emplace_back("TS");
    if (options & 0x0800) out.emplace_back("TA");
    if (options & 0x1000) out.emplace_back("TE");
  }
  if (options & 0x8000) out.emplace_back("VR");
  return out;
}

std::string OptionWords(const std::string& name) {
  static const std::pair<const char*, const char*> kWords[] = {
      {"RI", "runs when installed"},
      {"RR", "runs when removed"},
      {"RB", "runs when installed and when removed"},
      {"FM", "opened by the program for its MIME type"},
      {"RW", "the install waits until it ends"},
      {"RS", "ended when the install ends"},
      {"TC", "shown with Continue"},
      {"TS", "shown with Skip: declining skips the next file"},
      {"TA", "shown with Abort: declining stops the install"},
      {"TE", "shown with Exit: declining undoes the install"},
      {"VR", "checked when the install is restored"},
      {"RUNINSTALL", "runs when installed"},
      {"RUNREMOVE", "runs when removed"},
      {"RUNBOTH", "runs when installed and when removed"},
      {"RUNSENDEND", "ended when the install ends"},
      {"RUNWAITEND", "the install waits until it ends"},
      {"TEXTCONTINUE", "shown with Continue"},
      {"TEXTSKIP", "shown with Skip: declining skips the next file"},
      {"TEXTABORT", "shown with Abort: declining stops the install"},
      {"TEXTEXIT", "shown with Exit: declining undoes the install"},
  };
  for (const auto& [code, words] : kWords)
    if (name == code) return words;
  return name;
}

std::string FileOperationText(model::Generation generation, const model::FileEntry& file) {
  std::string text = OperationName(generation, file.operation);
  if (text.empty()) text = "operation " + std::to_string(file.operation);
  const std::vector<std::string> names = OptionNames(generation, file.operation, file.options);
  if (names.empty()) return text;
  std::string words, codes;
  for (const std::string& n : names) {
    words += (words.empty() ? "" : ", ") + OptionWords(n);
    codes += (codes.empty() ? "" : ", ") + n;
  }
  return text + ": " + words + " (" + codes + ")";
}

const std::vector<Platform>& Platforms() {
  enum Family { kOldS60 = 1, kS60, kUiq };
  static const std::vector<Platform> kPlatforms = {
      {0x101F6F88, "Series 60 1st Edition", "s60v1", true, kOldS60, 1},
      {0x101F7960, "S60 2nd Edition", "s60v2", true, kOldS60, 2},
      {0x101F7961, "S60 3rd Edition", "s60v3", false, kS60, 1},
      {0x102032BE, "S60 3rd Edition FP1", "s60v3fp1", false, kS60, 2},
      {0x102752AE, "S60 3rd Edition FP2", "s60v3fp2", false, kS60, 3},
      {0x1028315F, "S60 5th Edition", "s60v5", false, kS60, 4},
      {0x20022E6D, "Symbian^3", "symbian3", false, kS60, 5},
      {0x2003A678, "Symbian Belle", "belle", false, kS60, 6},
      {0x10009D8D, "UIQ 3", "uiq3", false, kUiq, 1},
  };
  return kPlatforms;
}

const Platform* PlatformByUid(std::uint32_t uid) {
  for (const Platform& p : Platforms())
    if (p.uid == uid) return &p;
  return nullptr;
}

const Platform* PlatformByName(const std::string& text) {
  auto lower = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
  };
  const std::string wanted = lower(text);
  for (const Platform& p : Platforms())
    if (wanted == lower(p.name) || wanted == p.shortName) return &p;
  char* end = nullptr;
  const unsigned long long uid = std::strtoull(text.c_str(), &end, 0);
  if (!text.empty() && end && *end == '\0' && uid <= 0xFFFFFFFFull) return PlatformByUid(static_cast<std::uint32_t>(uid));
  return nullptr;
}

bool DeviceRuns(const Platform& device, std::uint32_t target) {
  const Platform* t = PlatformByUid(target);
  if (!t) return target == device.uid;
  return t->family == device.family && t->level <= device.level;
}

std::optional<std::string> PlatformName(std::uint32_t uid) {
  const Platform* p = PlatformByUid(uid);
  if (!p || p->pre9) return std::nullopt;
  return p->name;
}

const char* ProblemKindName(model::Problem::Kind kind) {
  using Kind = model::Problem::Kind;
  switch (kind) {
    case Kind::NotAPackage: return "not a package";
    case Kind::UnknownVersion: return "unknown version";
    case Kind::Unreadable: return "unreadable";
    case Kind::Inflate: return "inflate";
    case Kind::Damaged: break;
  }
  return "damaged";
}

std::string ProblemText(const model::Problem& p) {
  using Kind = model::Problem::Kind;
  switch (p.kind) {
    case Kind::NotAPackage: return "not a package" + (p.what.empty() ? std::string() : ": " + p.what);
    case Kind::UnknownVersion: return "unknown package format release";
    case Kind::Unreadable:
      return "reading ended: " + (p.what.empty() ? std::string("a value beyond what can be held") : p.what) + " at " +
             std::to_string(p.where);
    case Kind::Inflate: return "the controller could not be inflated (zlib status " + std::to_string(p.status) + ")";
    case Kind::Damaged: break;
  }
  // What was found missing ("no signature in ...") says so itself.
  if (p.what.rfind("no ", 0) == 0) return p.what + " at " + std::to_string(p.where);
  return "could not read " + p.what + " at " + std::to_string(p.where);
}

bool Readable(const model::Package& pkg) {
  using Kind = model::Problem::Kind;
  for (const model::Problem& p : pkg.problems)
    if (p.kind == Kind::NotAPackage || p.kind == Kind::Unreadable || p.kind == Kind::Inflate) return false;
  switch (pkg.generation) {
    case model::Generation::Sis9: return pkg.controllerRead;
    case model::Generation::Pre9: return pkg.oldHeader.has_value();
    case model::Generation::Unknown: break;
  }
  return false;
}

std::string UidText(std::uint32_t uid) { return "0x" + HexText(uid, 8); }

std::string VersionText(const model::Version& v) { return text::VersionText(v, true, "."); }

std::string DateText(const model::DateTime& t, char between) {
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u:%02u", unsigned{t.year}, unsigned{t.month0} + 1u,
                unsigned{t.day}, between, unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
  return text;
}

const char* VerdictName(signers::Verdict verdict) {
  switch (verdict) {
    case signers::Verdict::Verified: return "verified";
    case signers::Verdict::Failed: return "failed";
    case signers::Verdict::NotChecked: break;
  }
  return "not checked";
}

const char* TrustName(signers::Trust trust) {
  switch (trust) {
    case signers::Trust::SelfSigned: return "self-signed";
    case signers::Trust::ChainedInPackage: return "chained in package";
    case signers::Trust::IssuerNotCarried: return "issuer not carried";
    case signers::Trust::Broken: break;
  }
  return "broken";
}

const char* ChainVerdictName(const signers::Chain& chain) {
  bool allVerified = !chain.signatures.empty();
  for (const signers::SignatureCheck& s : chain.signatures) {
    if (s.verdict == signers::Verdict::Failed) return "failed";
    allVerified = allVerified && s.verdict == signers::Verdict::Verified;
  }
  return allVerified ? "verified" : "not checked";
}

// ---- Gathered facts ----------------------------------------------------------------------

namespace {

std::vector<LanguageText> PerLanguage(const model::Package& pkg, const std::vector<std::string>& texts) {
  std::vector<LanguageText> out;
  out.reserve(texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    LanguageText t;
    if (i < pkg.languages.size()) t.language = Language(pkg.languages[i]);
    t.text = texts[i];
    out.push_back(std::move(t));
  }
  return out;
}

std::vector<DependencyFacts> Dependencies(const model::Package& pkg, const std::vector<model::Dependency>& list,
                                          bool targets) {
  std::vector<DependencyFacts> out;
  out.reserve(list.size());
  for (const model::Dependency& d : list) {
    DependencyFacts f;
    f.uid = d.uid;
    if (targets) f.platform = PlatformName(d.uid);
    if (d.versions) {
      f.from = d.versions->from;
      f.to = d.versions->to;
    }
    f.names = PerLanguage(pkg, d.names);
    out.push_back(std::move(f));
  }
  return out;
}

void Options(const model::Package& pkg, PackageFacts& f) {
  auto add = [&](const std::vector<std::vector<std::string>>& list) {
    for (const std::vector<std::string>& names : list) f.options.push_back(PerLanguage(pkg, names));
  };
  if (pkg.generation != model::Generation::Pre9) {
    add(pkg.options);
    return;
  }
  // A pre-9.x package gives its options in option records among its files.
  for (const model::Record& r : pkg.records)
    if (r.kind == model::Record::Kind::Options) add(r.options);
}

using Tree = std::vector<std::pair<const model::Package*, int>>;

void AddToTree(const model::Package& p, int parent, Tree& out);

void WalkBlock(const model::InstallBlock& block, int parent, Tree& out) {
  for (const model::Package& e : block.embedded) AddToTree(e, parent, out);
  for (const model::IfBlock& i : block.ifs) {
    if (i.branch.block) WalkBlock(*i.branch.block, parent, out);
    for (const model::ConditionalBlock& c : i.elseIfs)
      if (c.block) WalkBlock(*c.block, parent, out);
  }
}

void AddToTree(const model::Package& p, int parent, Tree& out) {
  const int me = static_cast<int>(out.size());
  out.emplace_back(&p, parent);
  WalkBlock(p.body, me, out);
  for (const model::InstallBlock& b : p.laterBlocks) WalkBlock(b, me, out);
}

}  // namespace

PackageFacts FactsOf(const model::Package& pkg, bool embedded) {
  PackageFacts f;
  f.package = &pkg;
  f.ordinal = pkg.ordinal;
  f.embedded = embedded;
  f.generation = pkg.generation;
  f.stub = pkg.stub;
  f.hasInfo = pkg.generation == model::Generation::Sis9 ? pkg.controllerRead : pkg.oldHeader.has_value();
  f.uid = pkg.uid;
  const model::InfoRead& read = pkg.infoRead;
  if (read.version) f.version = pkg.version;
  f.names = PerLanguage(pkg, pkg.names);
  f.vendorNames = PerLanguage(pkg, pkg.vendorNames);
  f.vendorUniqueName = pkg.vendorUniqueName;
  for (std::uint32_t l : pkg.languages) f.languages.push_back(Language(l));
  if (read.installType) {
    f.installTypeCode = pkg.generation == model::Generation::Pre9 && pkg.oldHeader ? pkg.oldHeader->type : pkg.installType;
    f.installType = InstallTypeName(pkg);
  }
  f.flagBits = InstallFlagBits(pkg);
  f.flags = InstallFlagNames(pkg);
  if (pkg.generation == model::Generation::Sis9 && read.created) f.created = pkg.created;
  f.targetDevices = Dependencies(pkg, pkg.targetDevices, true);
  f.dependencies = Dependencies(pkg, pkg.dependencies, false);
  f.properties = pkg.properties;
  Options(pkg, f);
  return f;
}

std::vector<std::pair<const model::Package*, int>> PackageTree(const model::Package& main) {
  Tree out;
  AddToTree(main, -1, out);
  return out;
}

std::vector<PackageInTree> FactsOfTree(const model::Package& main) {
  std::vector<PackageInTree> out;
  for (const auto& [pkg, parent] : PackageTree(main)) out.push_back({FactsOf(*pkg, parent >= 0), parent});
  return out;
}

std::string PackageFacts::Name() const { return names.empty() ? std::string() : names.front().text; }

std::string PackageFacts::Vendor() const {
  if (!vendorNames.empty() && !vendorNames.front().text.empty()) return vendorNames.front().text;
  return vendorUniqueName;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string Sha1Hex(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha1(), nullptr) != 1) return {};
  return HexBytes(std::span<const std::uint8_t>(digest.data(), size));
}

}  // namespace tarvik::views
