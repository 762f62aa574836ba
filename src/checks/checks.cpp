#include "checks/checks.hpp"

#include <algorithm>
#include <ctime>

#include "checks/context.hpp"

namespace tarvik::checks {

namespace {

using model::Generation;

// "YYYY-MM-DD HH:MM:SS UTC" of a moment.
std::string MomentText(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return buf;
}

std::string ChainName(const signers::Chain& chain) {
  std::string name = "chain " + std::to_string(chain.index + 1);
  if (chain.embedded) name += " of embedded package " + std::to_string(chain.packageOrdinal);
  return name;
}

std::string Subject(const signers::Certificate& k) { return k.subject.empty() ? "(no subject)" : k.subject; }

}  // namespace

const char* SeverityName(Severity severity) {
  switch (severity) {
    case Severity::Error: return "error";
    case Severity::Warning: return "warning";
    case Severity::Note: break;
  }
  return "note";
}

Context::Context(const model::Package& main, std::span<const std::uint8_t> file, const Options& options)
    : main(main), file(file), options(options) {
  tree = views::FactsOfTree(main);
  files = views::OwnFiles(main);
  executables = views::ExecutablesOf(main, file);
  for (const views::ExecutableFacts& x : executables) byEntry_.emplace(x.entry, &x);
  if (main.generation == Generation::Sis9) signers = signers::Inspect(main, file);
}

void Context::Add(const char* check, Severity severity, std::string reason, std::string fact, std::int32_t package,
                  std::string target) {
  findings.push_back({check, severity, std::move(reason), std::move(fact), package, std::move(target)});
}

bool Context::SelfSigned(std::int32_t ordinal) const {
  for (const signers::Chain& chain : signers.chains)
    if (chain.packageOrdinal == ordinal && chain.trust != signers::Trust::SelfSigned &&
        chain.trust != signers::Trust::Broken)
      return false;
  return true;
}

const views::ExecutableFacts* Context::ExecutableOf(const model::FileEntry* entry) const {
  const auto it = byEntry_.find(entry);
  return it == byEntry_.end() ? nullptr : it->second;
}

std::string CapabilityList(std::uint64_t bits) {
  std::string out;
  for (const std::string& name : signers::CapabilityNames(bits)) out += (out.empty() ? "" : ", ") + name;
  return out.empty() ? "none" : out;
}

void CheckSignatures(Context& c) {
  if (c.main.generation != Generation::Sis9 || !c.main.controllerRead) return;
  if (c.signers.chains.empty() && !c.main.stub)
    c.Add("unsigned", Severity::Warning,
          "The package carries no signature: devices install only signed packages unless their installer is set to "
          "allow unsigned ones.",
          "no signature chain");
  for (const signers::Chain& chain : c.signers.chains) {
    std::string why;
    for (const signers::SignatureCheck& s : chain.signatures)
      if (s.verdict == signers::Verdict::Failed) why = s.algorithm + " signature does not verify: " + s.why;
    if (why.empty() && chain.trust == signers::Trust::Broken)
      why = "its certificates could not be read or do not verify each other";
    if (why.empty()) continue;
    c.Add("signature", Severity::Error, "A signature chain does not verify: the installer refuses the package.",
          ChainName(chain) + ": " + why, chain.packageOrdinal);
  }
}

void CheckCertificateDates(Context& c) {
  const std::string on = MomentText(c.options.date);
  for (const signers::Chain& chain : c.signers.chains) {
    for (std::size_t i = 0; i < chain.certificates.size(); ++i) {
      const signers::Certificate& k = chain.certificates[i];
      if (!k.decoded) continue;
      const std::string fact = ChainName(chain) + ", certificate " + std::to_string(i + 1) + " (" + Subject(k) +
                               "): valid from " + k.notBefore + " to " + k.notAfter;
      if (c.options.date > k.notAfterTime)
        c.Add("certificate-date", Severity::Error,
              "A certificate had expired on " + on + ": the installer refuses the package on a device set to that date.",
              fact, chain.packageOrdinal);
      else if (c.options.date < k.notBeforeTime)
        c.Add("certificate-date", Severity::Error,
              "A certificate is not valid yet on " + on + ": the installer refuses the package on a device set to that "
              "date.",
              fact, chain.packageOrdinal);
    }
    const bool odd = !chain.expiredAtCreation.empty() || !chain.notYetValidAtCreation.empty();
    if (odd)
      c.Add("certificate-at-creation", Severity::Warning,
            "The package's creation date lies outside the validity of a certificate that signed it: the package was "
            "made, or signed, with a clock or a certificate that does not fit.",
            ChainName(chain) + ": " + std::to_string(chain.expiredAtCreation.size()) + " certificate(s) expired and " +
                std::to_string(chain.notYetValidAtCreation.size()) + " not yet valid at the creation date",
            chain.packageOrdinal);
  }
}

void CheckCapabilities(Context& c) {
  for (const auto& [pkg, entry] : c.files) {
    if (pkg->generation != Generation::Sis9) continue;
    const views::ExecutableFacts* x = c.ExecutableOf(entry);
    const std::optional<std::uint64_t> image = x ? x->image.header.capabilities : std::nullopt;
    const std::uint64_t asked = image.value_or(0) | entry->capabilities.value_or(0);
    const std::uint64_t beyond = asked & ~static_cast<std::uint64_t>(signers::kSelfSignable);
    if (beyond != 0 && c.SelfSigned(pkg->ordinal))
      c.Add("self-signed-capabilities", Severity::Error,
            "The package is self-signed (or unsigned) and a file asks for capabilities that a user cannot grant: the "
            "installer refuses it.",
            entry->target + " asks for " + CapabilityList(beyond) + " (a self-signed package can be granted only " +
                CapabilityList(signers::kSelfSignable) + ")",
            pkg->ordinal, entry->target);
    // A description without capabilities records none.
    if (image && entry->capabilities.value_or(0) != *image)
      c.Add("capabilities-differ", Severity::Error,
            "The capabilities the package records for an executable differ from those in its own header: the "
            "installer checks one against the other and refuses the package.",
            entry->target + ": the package records " +
                CapabilityList(entry->capabilities.value_or(0)) +
                ", the image asks for " + CapabilityList(*image),
            pkg->ordinal, entry->target);
  }
}

void CheckUids(Context& c) {
  const std::string why = "0xA0000000-0xAFFFFFFF and, for tests, 0xE0000000-0xEFFFFFFF";
  for (const views::PackageInTree& p : c.tree) {
    const views::PackageFacts& f = p.facts;
    if (f.generation != Generation::Sis9 || !f.hasInfo || f.stub || Unprotected(f.uid) || !c.SelfSigned(f.ordinal))
      continue;
    c.Add("protected-uid", Severity::Error,
          "The package is self-signed (or unsigned) and its UID lies outside the unprotected ranges (" + why +
              "): the installer refuses it.",
          "package UID " + views::UidText(f.uid), f.ordinal);
  }
  for (const views::ExecutableFacts& x : c.executables) {
    const e32::ImageHeader& h = x.image.header;
    if (x.package->generation != Generation::Sis9 || h.uid1 != e32::kExecutableUid || !h.secureId ||
        Unprotected(*h.secureId) || !c.SelfSigned(x.package->ordinal))
      continue;
    c.Add("protected-sid", Severity::Error,
          "The package is self-signed (or unsigned) and an executable's secure ID lies outside the unprotected ranges (" +
              why + "): the installer refuses it.",
          x.entry->target + ": SID " + views::UidText(*h.secureId), x.package->ordinal, x.entry->target);
  }
}

std::optional<Device> DeviceNamed(const std::string& text) {
  if (const views::Platform* p = views::PlatformByName(text)) return Device{p->uid, p->name};
  char* end = nullptr;
  const unsigned long long uid = std::strtoull(text.c_str(), &end, 0);
  if (text.empty() || !end || *end != '\0' || uid > 0xFFFFFFFFull) return std::nullopt;
  return Device{static_cast<std::uint32_t>(uid), views::UidText(static_cast<std::uint32_t>(uid))};
}

std::vector<Finding> Check(const model::Package& pkg, std::span<const std::uint8_t> file, const Options& options) {
  Context c(pkg, file, options);
  if (!views::Readable(pkg)) {
    c.Add("unreadable", Severity::Error, "The package could not be read: an installer cannot read it either.",
          pkg.problems.empty() ? std::string("no package information") : views::ProblemText(pkg.problems.front()));
    return std::move(c.findings);
  }
  CheckSignatures(c);
  CheckCertificateDates(c);
  CheckCapabilities(c);
  CheckUids(c);
  CheckExecutables(c);
  CheckTargets(c);
  CheckPlatforms(c);
  CheckContents(c);
  std::stable_sort(c.findings.begin(), c.findings.end(),
                   [](const Finding& a, const Finding& b) { return a.severity < b.severity; });
  return std::move(c.findings);
}

bool HasError(const std::vector<Finding>& findings) {
  return std::any_of(findings.begin(), findings.end(), [](const Finding& f) { return f.severity == Severity::Error; });
}

}  // namespace tarvik::checks
