// The "Signers" and "Capabilities" sections of `info`, as plain lines.

#include <algorithm>
#include <unordered_map>

#include "views/fact_list.hpp"

namespace tarvik::views {

using signers::Capabilities;
using signers::CapabilityNames;
using signers::Certificate;
using signers::Chain;
using signers::FileCapabilities;
using signers::Report;
using signers::SignatureCheck;
using signers::Trust;
using signers::Verdict;

namespace {

std::string Join(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out.empty() ? "none" : out;
}

std::string TrustText(const Chain& c) {
  switch (c.trust) {
    case Trust::SelfSigned: return "self-signed";
    case Trust::ChainedInPackage: return "chained to a certificate in the package (" + c.endIssuer + ")";
    case Trust::IssuerNotCarried: return "chained to an issuer the package does not carry: " + c.endIssuer;
    case Trust::Broken: break;
  }
  return c.endIssuer.empty() ? "no readable certificate" : "broken chain at " + c.endIssuer;
}

}  // namespace

std::vector<std::string> SignerLines(const model::Package& pkg, const Report& report, const Capabilities& caps) {
  std::vector<std::string> out;
  if (report.chains.empty()) {
    out.push_back("Signers: none");
  } else {
    out.push_back("Signers:");
    std::unordered_map<std::int32_t, const model::Package*> packages;
    for (const auto& [p, parent] : PackageTree(pkg)) packages.emplace(p->ordinal, p);
    for (const Chain& c : report.chains) {
      const auto found = packages.find(c.packageOrdinal);
      const model::Package* owner = found == packages.end() ? nullptr : found->second;
      out.push_back("  " + std::string(c.embedded ? "Embedded package " : "Package ") + std::to_string(c.packageOrdinal) +
                    " \"" + c.packageName + "\", chain " + std::to_string(c.index + 1) + ": " + TrustText(c));
      for (std::size_t i = 0; i < c.signatures.size(); ++i) {
        const SignatureCheck& s = c.signatures[i];
        std::string verdict = s.verdict == Verdict::Verified ? "verifies"
                              : s.verdict == Verdict::Failed ? "does NOT verify (" + s.why + ")"
                                                             : "not checked (" + s.why + ")";
        out.push_back("    Signature " + std::to_string(i + 1) + ": " + s.algorithm + ", " + verdict);
      }
      if (c.certificates.empty()) out.push_back("    No certificate");
      for (std::size_t i = 0; i < c.certificates.size(); ++i) {
        const Certificate& cert = c.certificates[i];
        out.push_back("    Certificate " + std::to_string(i + 1) + ":");
        if (!cert.decoded) {
          out.push_back("      unreadable (" + std::to_string(cert.der.size()) + " bytes)");
          continue;
        }
        out.push_back("      Subject: " + cert.subject);
        out.push_back("      Issuer: " + cert.issuer);
        out.push_back("      Serial: " + cert.serial);
        out.push_back("      Valid: " + cert.notBefore + " to " + cert.notAfter);
        out.push_back("      Key: " + cert.keyType + " " + std::to_string(cert.keyBits) + " bits");
        out.push_back("      SHA-1: " + cert.sha1);
        const std::string when = owner ? DateText(owner->created, ' ') : std::string("?");
        if (std::find(c.expiredAtCreation.begin(), c.expiredAtCreation.end(), i) != c.expiredAtCreation.end())
          out.push_back("      Expired before the package was created (" + when + ")");
        if (std::find(c.notYetValidAtCreation.begin(), c.notYetValidAtCreation.end(), i) !=
            c.notYetValidAtCreation.end())
          out.push_back("      Not yet valid when the package was created (" + when + ")");
      }
    }
  }
  for (const model::Problem& p : report.problems) out.push_back("  Problem: " + p.what);
  if (caps.files.empty()) {
    out.push_back("Capabilities: none");
    return out;
  }
  out.push_back("Capabilities:");
  for (const FileCapabilities& f : caps.files) {
    std::string who = f.packageOrdinal == pkg.ordinal ? "" : " (package " + std::to_string(f.packageOrdinal) + ")";
    out.push_back("  " + f.target + who + ": " + Join(CapabilityNames(f.bits)));
  }
  out.push_back("  Package (all files): " + Join(CapabilityNames(caps.all)));
  out.push_back("  Not granted to a self-signed package: " + Join(CapabilityNames(caps.beyondSelfSigned())));
  return out;
}

std::vector<std::string> ExecutableLines(const std::vector<ExecutableFacts>& executables) {
  std::vector<std::string> out;
  if (executables.empty()) return out;
  out.push_back("Executables (" + std::to_string(executables.size()) + "):");
  out.push_back("Target\tKind\tUID1\tUID2\tUID3\tSID\tVID\tCapabilities\tFormat\tCompression");
  for (const ExecutableFacts& x : executables) {
    const e32::ImageHeader& h = x.image.header;
    const bool uids = !x.image.emulator || x.image.symbianSection;
    auto word = [](const std::optional<std::uint32_t>& w) { return w ? UidText(*w) : std::string(); };
    std::string line = x.entry->target + '\t' + x.KindName() + '\t';
    line += uids ? UidText(h.uid1) + '\t' + UidText(h.uid2) + '\t' + UidText(h.uid3) : std::string("\t\t");
    line += '\t' + word(h.secureId) + '\t' + word(h.vendorId) + '\t';
    line += h.capabilities ? Join(x.CapabilityNames()) : std::string();
    line += '\t' + x.FormatText() + '\t' + (x.image.emulator ? std::string() : x.CompressionText());
    out.push_back(std::move(line));
  }
  return out;
}

}  // namespace tarvik::views
