#include "views/fact_list.hpp"

#include <cstdio>

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/facts.hpp"

namespace tarvik::views {

namespace {

std::string LanguageText(std::uint32_t number) {
  const LanguageFacts l = Language(number);
  return l.code.empty() ? l.name : l.name + " (" + l.code + ")";
}

// A name per language: "Name (UK English)"; the language of position i.
std::string LanguageAt(const model::Package& p, std::size_t i) {
  return i < p.languages.size() ? LanguageText(p.languages[i]) : "language " + std::to_string(i + 1);
}

std::string SizeText(std::uint64_t bytes) {
  char buf[64];
  if (bytes < 1024) return std::to_string(bytes) + " bytes";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double v = static_cast<double>(bytes);
  int u = -1;
  while (v >= 1024 && u < 3) {
    v /= 1024;
    ++u;
  }
  std::snprintf(buf, sizeof buf, "%.1f %s (%llu bytes)", v, units[u], static_cast<unsigned long long>(bytes));
  return buf;
}

std::string DependencyText(const model::Dependency& d) {
  std::string text = UidText(d.uid);
  if (!d.names.empty() && !d.names.front().empty()) text += " " + d.names.front();
  if (d.versions) {
    text += ", version " + VersionText(d.versions->from);
    if (d.versions->to) text += " to " + VersionText(*d.versions->to);
  }
  return text;
}

const char* InstallTypeText(std::uint8_t type) {
  switch (type) {
    case 0: return "SA (application)";
    case 1: return "SP (patch)";
    case 2: return "PU (partial upgrade)";
    case 3: return "PA (preinstalled application)";
    case 4: return "PP (preinstalled patch)";
    default: return "unknown";
  }
}

void Walk(const model::InstallBlock& block, int parent, std::vector<std::pair<const model::Package*, int>>& out);

void Add(const model::Package& p, int parent, std::vector<std::pair<const model::Package*, int>>& out) {
  const int me = static_cast<int>(out.size());
  out.emplace_back(&p, parent);
  Walk(p.body, me, out);
  for (const model::InstallBlock& b : p.laterBlocks) Walk(b, me, out);
}

void Walk(const model::InstallBlock& block, int parent, std::vector<std::pair<const model::Package*, int>>& out) {
  for (const model::Package& e : block.embedded) Add(e, parent, out);
  for (const model::IfBlock& i : block.ifs) {
    if (i.branch.block) Walk(*i.branch.block, parent, out);
    for (const model::ConditionalBlock& c : i.elseIfs)
      if (c.block) Walk(*c.block, parent, out);
  }
}

const char* VerdictText(signers::Verdict v) {
  switch (v) {
    case signers::Verdict::Verified: return "verified";
    case signers::Verdict::Failed: return "does not verify";
    case signers::Verdict::NotChecked: return "not checked";
  }
  return "";
}

const char* TrustText(signers::Trust t) {
  switch (t) {
    case signers::Trust::SelfSigned: return "self-signed";
    case signers::Trust::ChainedInPackage: return "chained to a root the package carries";
    case signers::Trust::IssuerNotCarried: return "ends at an issuer the package does not carry";
    case signers::Trust::Broken: return "broken";
  }
  return "";
}

}  // namespace

std::vector<std::pair<const model::Package*, int>> PackageTree(const model::Package& main) {
  std::vector<std::pair<const model::Package*, int>> out;
  Add(main, -1, out);
  return out;
}

namespace {

void GenerationFacts(const model::Package& p, bool isMain, std::vector<Fact>& f) {
  if (p.generation == model::Generation::Pre9) {
    f.emplace_back("Generation", "pre-9.x (EPOC)");
  } else if (p.generation == model::Generation::Sis9) {
    f.emplace_back("Generation", p.stub ? "Symbian 9.x stub (controller only, no files)"
                                        : isMain ? "Symbian 9.x" : "Symbian 9.x, embedded package");
  }
}

void FrameFacts(const model::Frame& fr, std::vector<Fact>& f) {
  f.emplace_back("UID1", UidText(fr.uid1));
  f.emplace_back("UID2", UidText(fr.uid2));
  f.emplace_back("UID3", UidText(fr.uid3));
  f.emplace_back("UID checksum", UidText(fr.uidChecksum));
  if (fr.controllerChecksum) f.emplace_back("Controller checksum", UidText(*fr.controllerChecksum));
  if (fr.dataChecksum) f.emplace_back("Data checksum", UidText(*fr.dataChecksum));
  if (fr.hasCompressedController)
    f.emplace_back("Controller", std::string(fr.controllerAlgorithm == 1 ? "deflated" : "stored") + ", " +
                                     SizeText(fr.controllerUncompressedSize) + " unpacked, " +
                                     SizeText(static_cast<std::uint64_t>(fr.controllerCompressedSize)) + " stored");
}

void OldHeaderFacts(const model::OldHeader& h, std::vector<Fact>& f) {
  f.emplace_back("UID1", UidText(h.uid1));
  f.emplace_back("UID2", UidText(h.uid2));
  f.emplace_back("UID3", UidText(h.uid3));
  f.emplace_back("UID4", UidText(h.uid4));
  f.emplace_back("Checksum", "0x" + HexText(h.checksum, 4));
  f.emplace_back("Installer version", std::to_string(h.installerVersion));
  f.emplace_back("Files compressed", h.deflated ? "yes (deflate)" : "no");
}

void NameFacts(const model::Package& p, std::vector<Fact>& f) {
  f.emplace_back("Package UID", UidText(p.uid));
  f.emplace_back("Version", VersionText(p.version));
  for (std::size_t i = 0; i < p.names.size(); ++i) f.emplace_back("Name (" + LanguageAt(p, i) + ")", p.names[i]);
  if (!p.vendorUniqueName.empty()) f.emplace_back("Vendor", p.vendorUniqueName);
  for (std::size_t i = 0; i < p.vendorNames.size(); ++i)
    f.emplace_back("Vendor (" + LanguageAt(p, i) + ")", p.vendorNames[i]);
  std::string languages;
  for (std::uint32_t l : p.languages) languages += (languages.empty() ? "" : ", ") + LanguageText(l);
  f.emplace_back("Languages", languages);
}

void InstallFacts(const model::Package& p, std::vector<Fact>& f) {
  if (p.generation == model::Generation::Sis9) {
    f.emplace_back("Install type", InstallTypeText(p.installType));
    std::string flags;
    static const char* const kFlags[] = {"SH (shutdown apps)", "NR (non-removable)", "RU (ROM upgrade)", "H (hidden)"};
    for (int bit = 0; bit < 4; ++bit)
      if (p.installFlags & (1u << bit)) flags += (flags.empty() ? "" : ", ") + std::string(kFlags[bit]);
    f.emplace_back("Install flags", flags.empty() ? "none" : flags);
    for (const model::Dependency& d : p.targetDevices) f.emplace_back("Target device", DependencyText(d));
  } else if (p.oldHeader) {
    const std::string type = InstallTypeName(p);
    f.emplace_back("Install type", type.empty() ? "unknown" : type);
  }
  const bool old = p.generation == model::Generation::Pre9;
  for (const model::Dependency& d : p.dependencies) f.emplace_back(old ? "Requisite" : "Dependency", DependencyText(d));
  for (const model::Property& prop : p.properties)
    f.emplace_back(old ? "Capability" : "Property", std::to_string(prop.key) + " = " + std::to_string(prop.value));
  for (std::size_t i = 0; i < p.options.size(); ++i) {
    std::string names;
    for (const std::string& n : p.options[i]) names += (names.empty() ? "" : " / ") + n;
    f.emplace_back("Option " + std::to_string(i + 1), names);
  }
  if (p.generation == model::Generation::Sis9) {
    char date[64];
    const model::DateTime& t = p.created;
    std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month0 + 1u, unsigned{t.day},
                  unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
    f.emplace_back("Created", date);
  }
}

// The package's own files, and (for the main package) every file of the view.
void FileFacts(const model::Package& p, bool isMain, const std::vector<FileRow>& files, std::vector<Fact>& f) {
  std::size_t count = 0;
  std::uint64_t size = 0, packed = 0;
  for (const FileRow& r : files) {
    if (!isMain && r.package != &p) continue;
    ++count;
    size += r.uncompressedSize;
    if (r.hasData) packed += r.compressedSize;
  }
  f.emplace_back(isMain ? "Files" : "Files of this package", std::to_string(count));
  f.emplace_back("Total size", SizeText(size));
  f.emplace_back("Total packed size", SizeText(packed));
}

void SignerFacts(const model::Package& p, const signers::Report& report, std::vector<Fact>& f) {
  int n = 0;
  for (const signers::Chain& c : report.chains) {
    if (c.packageOrdinal != p.ordinal) continue;
    const std::string key = "Signer " + std::to_string(++n);
    const signers::Certificate* first = c.certificates.empty() ? nullptr : &c.certificates.front();
    f.emplace_back(key, first && first->decoded ? first->subject : "(certificate not readable)");
    if (first && first->decoded) {
      f.emplace_back(key + " issuer", first->issuer);
      f.emplace_back(key + " valid", first->notBefore + " to " + first->notAfter);
    }
    std::string sigs;
    for (const signers::SignatureCheck& s : c.signatures)
      sigs += (sigs.empty() ? "" : ", ") + s.algorithm + " " + VerdictText(s.verdict);
    f.emplace_back(key + " signature", sigs.empty() ? "none" : sigs);
    f.emplace_back(key + " chain", TrustText(c.trust));
  }
  if (n == 0 && p.generation == model::Generation::Sis9) f.emplace_back("Signers", "none (unsigned)");
}

}  // namespace

std::vector<Fact> FactList(const model::Package& main, const model::Package& p, const std::vector<FileRow>& files,
                           const signers::Report* report) {
  std::vector<Fact> f;
  const bool isMain = &main == &p;
  GenerationFacts(p, isMain, f);
  if (isMain && p.frame) FrameFacts(*p.frame, f);
  if (isMain && p.oldHeader) OldHeaderFacts(*p.oldHeader, f);
  NameFacts(p, f);
  InstallFacts(p, f);
  FileFacts(p, isMain, files, f);
  if (report) SignerFacts(p, *report, f);
  return f;
}

}  // namespace tarvik::views
