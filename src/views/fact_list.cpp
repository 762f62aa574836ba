#include "views/fact_list.hpp"

#include <cstdio>

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/facts.hpp"

namespace tarvik::views {

namespace {

std::string LanguageWords(const LanguageFacts& l) { return l.code.empty() ? l.name : l.name + " (" + l.code + ")"; }

// The key of a text given per language: "Name (UK English (EN))"; "Name (language 3)" when
// the list has no language at its position.
std::string KeyIn(const char* key, const LanguageText& t, std::size_t i) {
  return std::string(key) + " (" + (t.language ? LanguageWords(*t.language) : "language " + std::to_string(i + 1)) + ")";
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

std::string DependencyText(const DependencyFacts& d) {
  std::string text = UidText(d.uid);
  if (!d.names.empty() && !d.names.front().text.empty()) text += " " + d.names.front().text;
  if (d.platform && (d.names.empty() || d.names.front().text != *d.platform)) text += " (" + *d.platform + ")";
  if (d.from) {
    text += ", version " + VersionText(*d.from);
    if (d.to) text += " to " + VersionText(*d.to);
  }
  return text;
}

// The install type with what it means: "SA (application)"; the bare name of a pre-9.x
// type; "unknown".
std::string InstallTypeWords(const PackageFacts& p) {
  if (p.installType.empty()) return "unknown";
  if (p.generation != model::Generation::Sis9) return p.installType;
  static const char* const kMeanings[] = {"application", "patch", "partial upgrade", "preinstalled application",
                                          "preinstalled patch"};
  return p.installType + " (" + kMeanings[*p.installTypeCode] + ")";
}

// The install flags with what they mean: "SH (shutdown apps), H (hidden)".
std::string FlagWords(const PackageFacts& p) {
  static const char* const kWords[] = {"SH (shutdown apps)", "NR (non-removable)", "RU (ROM upgrade)", "H (hidden)"};
  std::string out;
  for (int bit = 0; bit < 4; ++bit)
    if (p.flagBits & (1u << bit)) out += (out.empty() ? "" : ", ") + std::string(kWords[bit]);
  return out.empty() ? "none" : out;
}

// "verified", "does not verify", "not checked": the verdict as the Facts read it.
std::string VerdictWords(signers::Verdict v) {
  return v == signers::Verdict::Failed ? "does not verify" : VerdictName(v);
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

void NameFacts(const PackageFacts& p, std::vector<Fact>& f) {
  f.emplace_back("Package UID", UidText(p.uid));
  f.emplace_back("Version", VersionText(p.package->version));
  for (std::size_t i = 0; i < p.names.size(); ++i) f.emplace_back(KeyIn("Name", p.names[i], i), p.names[i].text);
  if (!p.vendorUniqueName.empty()) f.emplace_back("Vendor", p.vendorUniqueName);
  for (std::size_t i = 0; i < p.vendorNames.size(); ++i)
    f.emplace_back(KeyIn("Vendor", p.vendorNames[i], i), p.vendorNames[i].text);
  std::string languages;
  for (const LanguageFacts& l : p.languages) languages += (languages.empty() ? "" : ", ") + LanguageWords(l);
  f.emplace_back("Languages", languages);
}

void InstallFacts(const PackageFacts& p, std::vector<Fact>& f) {
  const bool old = p.generation == model::Generation::Pre9;
  if (!old || p.hasInfo) f.emplace_back("Install type", InstallTypeWords(p));
  if (!old) {
    f.emplace_back("Install flags", FlagWords(p));
    for (const DependencyFacts& d : p.targetDevices) f.emplace_back("Target device", DependencyText(d));
  }
  for (const DependencyFacts& d : p.dependencies) f.emplace_back(old ? "Requisite" : "Dependency", DependencyText(d));
  for (const model::Property& prop : p.properties)
    f.emplace_back(old ? "Capability" : "Property", std::to_string(prop.key) + " = " + std::to_string(prop.value));
  for (std::size_t i = 0; i < p.options.size(); ++i) {
    std::string names;
    for (const LanguageText& n : p.options[i]) names += (names.empty() ? "" : " / ") + n.text;
    f.emplace_back("Option " + std::to_string(i + 1), names);
  }
  if (!old) f.emplace_back("Created", DateText(p.package->created, ' '));
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
  // A stub names the files already on the device and carries none of their bytes.
  if (p.stub) {
    f.emplace_back("File data", "none: a stub describes files and carries none of them");
    return;
  }
  f.emplace_back("Total size", SizeText(size));
  f.emplace_back("Total packed size", SizeText(packed));
}

// The common name of an RFC 2253 subject ("CN=Vendor,O=..." gives "Vendor"); the whole
// subject when it has none.
std::string CommonName(const std::string& subject) {
  std::size_t at = 0;
  while (at < subject.size()) {
    if (subject.compare(at, 3, "CN=") == 0) {
      std::string name;
      for (std::size_t i = at + 3; i < subject.size() && subject[i] != ','; ++i) {
        if (subject[i] == '\\' && i + 1 < subject.size()) ++i;
        name += subject[i];
      }
      return name;
    }
    // The next attribute: past the next comma that is not escaped.
    while (at < subject.size() && subject[at] != ',') at += subject[at] == '\\' ? 2 : 1;
    ++at;
  }
  return subject;
}

// One line on how a package is signed, for a glance: "unsigned"; "signed by CN, verifies,
// self-signed"; several chains are joined by "; ".
std::string SignatureSummary(const model::Package& p, const signers::Report& report) {
  std::string out;
  for (const signers::Chain& c : report.chains) {
    if (c.packageOrdinal != p.ordinal) continue;
    const signers::Certificate* first = c.certificates.empty() ? nullptr : &c.certificates.front();
    std::string line = "signed by " + (first && first->decoded ? CommonName(first->subject) : "an unreadable certificate");
    bool verified = !c.signatures.empty();
    for (const signers::SignatureCheck& s : c.signatures) verified = verified && s.verdict == signers::Verdict::Verified;
    line += verified ? ", verifies" : ", does not verify";
    line += std::string(", ") + TrustText(c.trust);
    if (!c.expiredAtCreation.empty()) line += ", a certificate had expired when the package was made";
    out += (out.empty() ? "" : "; ") + line;
  }
  return out.empty() ? "unsigned" : out;
}

void CertificateFacts(const std::string& key, const signers::Chain& c, std::vector<Fact>& f) {
  for (std::size_t i = 0; i < c.certificates.size(); ++i) {
    const signers::Certificate& cert = c.certificates[i];
    const std::string k = i == 0 ? key : key + " certificate " + std::to_string(i + 1);
    if (i > 0) f.emplace_back(k, cert.decoded ? cert.subject : "(not readable)");
    if (!cert.decoded) continue;
    if (i == 0) f.emplace_back(k + " issuer", cert.issuer);
    std::string valid = cert.notBefore + " to " + cert.notAfter;
    for (std::size_t e : c.expiredAtCreation)
      if (e == i) valid += " (had expired when the package was made)";
    for (std::size_t e : c.notYetValidAtCreation)
      if (e == i) valid += " (not valid yet when the package was made)";
    f.emplace_back(k + " valid", valid);
    f.emplace_back(k + " key", cert.keyType + (cert.keyBits ? " " + std::to_string(cert.keyBits) + " bits" : ""));
    f.emplace_back(k + " SHA-1 fingerprint", cert.sha1);
    f.emplace_back(k + " serial", cert.serial);
  }
}

void SignerFacts(const model::Package& p, const signers::Report& report, std::vector<Fact>& f) {
  if (p.generation != model::Generation::Sis9) return;
  f.emplace_back("Signature", SignatureSummary(p, report));
  int n = 0;
  for (const signers::Chain& c : report.chains) {
    if (c.packageOrdinal != p.ordinal) continue;
    const std::string key = "Signer " + std::to_string(++n);
    const signers::Certificate* first = c.certificates.empty() ? nullptr : &c.certificates.front();
    f.emplace_back(key, first && first->decoded ? first->subject : "(certificate not readable)");
    CertificateFacts(key, c, f);
    std::string sigs;
    for (const signers::SignatureCheck& s : c.signatures)
      sigs += (sigs.empty() ? "" : ", ") + s.algorithm + " " + VerdictWords(s.verdict);
    f.emplace_back(key + " signature", sigs.empty() ? "none" : sigs);
    f.emplace_back(key + " chain", TrustText(c.trust));
  }
  if (n == 0) f.emplace_back("Signers", "none (unsigned)");
}

// The capabilities the package's files ask for, each marked when a self-signed package
// cannot be granted it.
void CapabilityFacts(const model::Package& p, bool isMain, std::vector<Fact>& f) {
  if (p.generation != model::Generation::Sis9) return;
  std::uint32_t bits = 0;
  for (const signers::FileCapabilities& c : signers::CollectCapabilities(p).files)
    if (isMain || c.packageOrdinal == p.ordinal) bits |= c.bits;
  if (bits == 0) return;
  std::string text;
  const std::vector<std::string> names = signers::CapabilityNames(bits);
  std::size_t at = 0;
  for (std::uint32_t bit = 0; bit < 32; ++bit) {
    if (!(bits & (1u << bit)) || at >= names.size()) continue;
    text += (text.empty() ? "" : ", ") + names[at++];
    if (!(signers::kSelfSignable & (1u << bit))) text += " (not for self-signed)";
  }
  f.emplace_back("Capabilities asked for", text);
}

}  // namespace

std::vector<Fact> FactList(const PackageFacts& facts, const std::vector<FileRow>& files,
                           const signers::Report* report) {
  std::vector<Fact> f;
  const model::Package& p = *facts.package;
  const bool isMain = !facts.embedded;
  GenerationFacts(p, isMain, f);
  if (isMain && p.frame) FrameFacts(*p.frame, f);
  if (isMain && p.oldHeader) OldHeaderFacts(*p.oldHeader, f);
  NameFacts(facts, f);
  InstallFacts(facts, f);
  FileFacts(p, isMain, files, f);
  CapabilityFacts(p, isMain, f);
  if (report) SignerFacts(p, *report, f);
  return f;
}

}  // namespace tarvik::views
