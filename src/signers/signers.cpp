// Signature chains and capabilities of 9.x packages, decoded with libcrypto.

#include "signers/signers.hpp"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <memory>

#include "bytes/inflate.hpp"
#include "sis9/parser.hpp"

namespace tarvik::signers {

namespace {

constexpr const char* kRsaSha1 = "1.2.840.113549.1.1.5";
constexpr const char* kDsaSha1 = "1.2.840.10040.4.3";
constexpr std::int64_t kZoneSlack = 14 * 3600;

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

X509Ptr ReadX509(std::span<const std::uint8_t> der) {
  if (der.empty() || der.size() > 0x7FFFFFFF) return nullptr;
  const unsigned char* p = der.data();
  X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  return x;
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio, &data);
  return n > 0 && data ? std::string(data, static_cast<std::size_t>(n)) : std::string();
}

std::string NameText(const X509_NAME* name) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || !name) return {};
  X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
  return BioText(bio.get());
}

// "YYYY-MM-DD HH:MM:SS UTC" and seconds since 1970, of an ASN.1 time.
std::pair<std::string, std::int64_t> TimeText(const ASN1_TIME* t) {
  std::tm tm{};
  if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return {"(unreadable)", 0};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d UTC", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec);
  return {buf, static_cast<std::int64_t>(timegm(&tm))};
}

std::string Hex(const unsigned char* p, std::size_t n, bool colons) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    if (colons && i) out += ':';
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

// A DER signature value (DSA's SEQUENCE of r and s) without the padding bytes that follow
// it in the blob: libcrypto reads only an exact encoding.
std::span<const std::uint8_t> TrimDer(std::span<const std::uint8_t> sig) {
  if (sig.size() < 2 || sig[0] != 0x30) return sig;
  std::size_t length = sig[1], header = 2;
  if (length & 0x80) {
    const std::size_t n = length & 0x7F;
    if (n == 0 || n > 2 || sig.size() < 2 + n) return sig;
    length = 0;
    for (std::size_t i = 0; i < n; ++i) length = length << 8 | sig[2 + i];
    header += n;
  }
  return header + length <= sig.size() ? sig.first(header + length) : sig;
}

std::int64_t CreatedTime(const model::DateTime& d) {
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month0;
  tm.tm_mday = d.day;
  tm.tm_hour = d.hour;
  tm.tm_min = d.minute;
  tm.tm_sec = d.second;
  return static_cast<std::int64_t>(timegm(&tm));
}

std::string FirstName(const model::Package& pkg) { return pkg.names.empty() ? std::string() : pkg.names.front(); }

void AddProblem(Report& report, std::string what, std::int64_t where) {
  report.problems.push_back({model::Problem::Kind::Damaged, std::move(what), where, 0});
}

// How chain `c` ends: from its first certificate, issuer by issuer among those it carries.
void Classify(Chain& c, const std::vector<X509Ptr>& x509s) {
  if (x509s.empty() || !x509s[0]) {
    c.trust = Trust::Broken;
    return;
  }
  std::size_t at = 0;
  std::vector<bool> seen(x509s.size(), false);
  for (;;) {
    seen[at] = true;
    X509* cert = x509s[at].get();
    const Certificate& info = c.certificates[at];
    if (X509_NAME_cmp(X509_get_issuer_name(cert), X509_get_subject_name(cert)) == 0) {
      EVP_PKEY* key = X509_get0_pubkey(cert);
      if (key && X509_verify(cert, key) == 1) {
        c.trust = at == 0 ? Trust::SelfSigned : Trust::ChainedInPackage;
        c.endIssuer = info.subject;
      } else {
        c.trust = Trust::Broken;
        c.endIssuer = info.subject;
      }
      return;
    }
    std::size_t next = x509s.size();
    for (std::size_t i = 0; i < x509s.size(); ++i)
      if (i != at && x509s[i] && X509_NAME_cmp(X509_get_subject_name(x509s[i].get()), X509_get_issuer_name(cert)) == 0) {
        next = i;
        break;
      }
    if (next == x509s.size()) {
      c.trust = Trust::IssuerNotCarried;
      c.endIssuer = info.issuer;
      return;
    }
    EVP_PKEY* issuerKey = X509_get0_pubkey(x509s[next].get());
    if (seen[next] || !issuerKey || X509_verify(cert, issuerKey) != 1) {
      c.trust = Trust::Broken;
      c.endIssuer = info.issuer;
      return;
    }
    at = next;
  }
}

// The SHA-1 of a controller's bytes from one start up to any later end, asked for in
// increasing order of ends: each byte is hashed once, however many chains ask. (A package's
// chains each cover everything before them, earlier chains included; hashing each range
// afresh cost the square of the controller's size.)
class PrefixHasher {
 public:
  PrefixHasher(std::span<const std::uint8_t> controller, std::int64_t begin)
      : controller_(controller), begin_(begin), at_(begin), ctx_(EVP_MD_CTX_new()) {
    ok_ = ctx_ && begin >= 0 && static_cast<std::uint64_t>(begin) <= controller.size() &&
          EVP_DigestInit_ex(ctx_.get(), EVP_sha1(), nullptr) == 1;
  }
  // The digest of [begin, end); false when the range lies outside the controller, goes
  // backwards, or libcrypto fails.
  bool Digest(std::int64_t end, std::array<unsigned char, EVP_MAX_MD_SIZE>& md, unsigned int& size) {
    if (!ok_ || end < at_ || static_cast<std::uint64_t>(end) > controller_.size()) return false;
    if (end > at_ && EVP_DigestUpdate(ctx_.get(), controller_.data() + at_, static_cast<std::size_t>(end - at_)) != 1)
      return ok_ = false;
    at_ = end;
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> copy(EVP_MD_CTX_new());
    return copy && EVP_MD_CTX_copy_ex(copy.get(), ctx_.get()) == 1 &&
           EVP_DigestFinal_ex(copy.get(), md.data(), &size) == 1;
  }
  std::int64_t Begin() const { return begin_; }
  std::uint64_t Hashed() const { return static_cast<std::uint64_t>(at_ - begin_); }

 private:
  std::span<const std::uint8_t> controller_;
  std::int64_t begin_, at_;
  std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx_;
  bool ok_ = false;
};

// Whether `sig` is the signature of `key` over the SHA-1 digest `md`.
bool VerifyDigest(EVP_PKEY* key, std::span<const std::uint8_t> sig, const unsigned char* md, unsigned int size) {
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr), &EVP_PKEY_CTX_free);
  return ctx && EVP_PKEY_verify_init(ctx.get()) == 1 && EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha1()) == 1 &&
         EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), md, size) == 1;
}

// Checks `chain`'s signatures against its first certificate over SignedRange, the digest
// taken from `hasher` (which starts at the owner's controller start).
std::vector<SignatureCheck> CheckChain(const model::Package& owner, const model::SignatureChain& chain,
                                       std::span<const std::uint8_t> controller, PrefixHasher& hasher) {
  std::vector<SignatureCheck> out;
  X509Ptr signer = chain.certificates.empty() ? nullptr : ReadX509(chain.certificates.front());
  EVP_PKEY* key = signer ? X509_get0_pubkey(signer.get()) : nullptr;
  const auto [begin, end] = SignedRange(owner, chain);
  const bool rangeOk = begin >= 0 && begin <= end && static_cast<std::uint64_t>(end) <= controller.size() &&
                       begin == hasher.Begin();
  std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
  unsigned int mdSize = 0;
  bool hashed = false, triedHash = false;
  for (const model::SignatureChain::Signature& s : chain.signatures) {
    SignatureCheck check;
    check.oid = s.algorithm;
    const bool rsa = s.algorithm == kRsaSha1, dsa = s.algorithm == kDsaSha1;
    check.algorithm = rsa ? "RSA-SHA1" : dsa ? "DSA-SHA1" : s.algorithm;
    const int wantKey = rsa ? EVP_PKEY_RSA : EVP_PKEY_DSA;
    if (s.algorithm.empty()) {
      check.why = "the algorithm field is damaged";
    } else if (!rsa && !dsa) {
      check.why = "unknown algorithm";
    } else if (!key) {
      check.why = "no readable certificate";
    } else if (!rangeOk) {
      check.why = "the signed bytes lie outside the controller";
    } else if (EVP_PKEY_get_base_id(key) != wantKey) {
      check.verdict = Verdict::Failed;
      check.why = "the certificate's key is not of the signature's algorithm";
    } else if (s.signature.empty()) {
      check.verdict = Verdict::Failed;
      check.why = "empty signature";
    } else {
      if (!triedHash) hashed = hasher.Digest(end, md, mdSize);
      triedHash = true;
      std::span<const std::uint8_t> sig(s.signature);
      if (dsa) sig = TrimDer(sig);
      const bool ok = hashed && VerifyDigest(key, sig, md.data(), mdSize);
      check.verdict = ok ? Verdict::Verified : Verdict::Failed;
      if (!ok) check.why = "does not match the signed bytes";
    }
    out.push_back(std::move(check));
  }
  return out;
}

void InspectPackage(const model::Package& pkg, bool embedded, std::span<const std::uint8_t> controller, Report& report);

// A signature that matches the bytes before its chain still leaves what follows the last
// chain unsigned: the package does not verify as a whole, and no verdict may say it does.
void RefusePartialCover(const model::Package& pkg, std::vector<SignatureCheck>& checks) {
  if (pkg.unsignedContentAt < 0) return;
  for (SignatureCheck& s : checks) {
    if (s.verdict != Verdict::Verified) continue;
    s.verdict = Verdict::Failed;
    s.why = kUnsignedContent;
  }
}

void InspectBlock(const model::InstallBlock& block, std::span<const std::uint8_t> controller, Report& report) {
  for (const model::Package& p : block.embedded) InspectPackage(p, true, controller, report);
  for (const model::IfBlock& i : block.ifs) {
    if (i.branch.block) InspectBlock(*i.branch.block, controller, report);
    for (const model::ConditionalBlock& e : i.elseIfs)
      if (e.block) InspectBlock(*e.block, controller, report);
  }
}

void InspectPackage(const model::Package& pkg, bool embedded, std::span<const std::uint8_t> controller, Report& report) {
  const std::int64_t created = CreatedTime(pkg.created);
  PrefixHasher hasher(controller, pkg.controllerStart);
  for (std::size_t n = 0; n < pkg.signatures.size(); ++n) {
    const model::SignatureChain& sc = pkg.signatures[n];
    Chain c;
    c.packageOrdinal = pkg.ordinal;
    c.packageName = FirstName(pkg);
    c.embedded = embedded;
    c.index = n;
    const std::string where = "signature chain " + std::to_string(n + 1) + " of package " + std::to_string(pkg.ordinal);
    if (sc.certificates.empty()) AddProblem(report, "no certificate in " + where, sc.offset);
    if (sc.signatures.empty()) AddProblem(report, "no signature in " + where, sc.offset);
    std::vector<X509Ptr> x509s;
    for (std::size_t i = 0; i < sc.certificates.size(); ++i) {
      x509s.push_back(ReadX509(sc.certificates[i]));
      c.certificates.push_back(DecodeCertificate(sc.certificates[i]));
      const Certificate& cert = c.certificates.back();
      if (!cert.decoded) {
        AddProblem(report, "certificate " + std::to_string(i + 1) + " of " + where, sc.offset);
        continue;
      }
      // The creation date is the maker's wall-clock time, of no stated zone: only a gap wider
      // than any zone's offset counts.
      if (pkg.created.year != 0 && cert.notAfterTime < created - kZoneSlack) c.expiredAtCreation.push_back(i);
      if (pkg.created.year != 0 && cert.notBeforeTime > created + kZoneSlack) c.notYetValidAtCreation.push_back(i);
    }
    c.signatures = CheckChain(pkg, sc, controller, hasher);
    RefusePartialCover(pkg, c.signatures);
    for (std::size_t i = 0; i < c.signatures.size(); ++i) {
      const bool unread = sc.signatures[i].signature.empty();
      const bool unchecked = c.signatures[i].verdict == Verdict::NotChecked && !sc.certificates.empty() && c.certificates[0].decoded;
      if (unread) AddProblem(report, "signature " + std::to_string(i + 1) + " of " + where + " is empty or unreadable", sc.offset);
      else if (unchecked) AddProblem(report, "signature " + std::to_string(i + 1) + " of " + where + ": " + c.signatures[i].why, sc.offset);
    }
    Classify(c, x509s);
    report.chains.push_back(std::move(c));
  }
  report.hashedBytes += hasher.Hashed();
  if (pkg.unsignedContentAt >= 0 && !pkg.signatures.empty())
    AddProblem(report, "no signature covers the content after the last signature chain of package " +
                           std::to_string(pkg.ordinal), pkg.unsignedContentAt);
  InspectBlock(pkg.body, controller, report);
  for (const model::InstallBlock& b : pkg.laterBlocks) InspectBlock(b, controller, report);
}

void CollectBlock(const model::InstallBlock& block, std::int32_t ordinal, Capabilities& caps);
void CollectPackage(const model::Package& pkg, Capabilities& caps) {
  CollectBlock(pkg.body, pkg.ordinal, caps);
  for (const model::InstallBlock& b : pkg.laterBlocks) CollectBlock(b, pkg.ordinal, caps);
}
void CollectBlock(const model::InstallBlock& block, std::int32_t ordinal, Capabilities& caps) {
  for (const model::FileEntry& f : block.files) {
    if (!f.capabilities || *f.capabilities == 0) continue;
    caps.files.push_back({ordinal, f.target, *f.capabilities});
    caps.all |= *f.capabilities;
  }
  for (const model::IfBlock& i : block.ifs) {
    if (i.branch.block) CollectBlock(*i.branch.block, ordinal, caps);
    for (const model::ConditionalBlock& e : i.elseIfs)
      if (e.block) CollectBlock(*e.block, ordinal, caps);
  }
  for (const model::Package& p : block.embedded) CollectPackage(p, caps);
}

}  // namespace

Certificate DecodeCertificate(std::span<const std::uint8_t> der) {
  Certificate out;
  out.der.assign(der.begin(), der.end());
  X509Ptr x = ReadX509(der);
  if (!x) return out;
  out.decoded = true;
  out.subject = NameText(X509_get_subject_name(x.get()));
  out.issuer = NameText(X509_get_issuer_name(x.get()));
  if (std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem())); bio) {
    i2a_ASN1_INTEGER(bio.get(), X509_get0_serialNumber(x.get()));
    // Long numbers come broken into lines ("\\" and a line break): one line is kept.
    for (char c : BioText(bio.get()))
      if (c != '\\' && c != '\n' && c != '\r') out.serial += c;
  }
  std::tie(out.notBefore, out.notBeforeTime) = TimeText(X509_get0_notBefore(x.get()));
  std::tie(out.notAfter, out.notAfterTime) = TimeText(X509_get0_notAfter(x.get()));
  if (EVP_PKEY* key = X509_get0_pubkey(x.get())) {
    switch (EVP_PKEY_get_base_id(key)) {
      case EVP_PKEY_RSA: out.keyType = "RSA"; break;
      case EVP_PKEY_DSA: out.keyType = "DSA"; break;
      case EVP_PKEY_EC: out.keyType = "EC"; break;
      default: {
        const char* name = OBJ_nid2sn(EVP_PKEY_get_base_id(key));
        out.keyType = name ? name : "unknown";
      }
    }
    out.keyBits = EVP_PKEY_get_bits(key);
  } else {
    out.keyType = "unreadable";
  }
  std::array<unsigned char, EVP_MAX_MD_SIZE> md{};
  unsigned int n = 0;
  if (X509_digest(x.get(), EVP_sha1(), md.data(), &n) == 1) out.sha1 = Hex(md.data(), n, true);
  return out;
}

std::pair<std::int64_t, std::int64_t> SignedRange(const model::Package& owner, const model::SignatureChain& chain) {
  return {owner.controllerStart, chain.offset};
}

std::vector<SignatureCheck> CheckSignatures(const model::Package& owner, const model::SignatureChain& chain,
                                            std::span<const std::uint8_t> controller) {
  PrefixHasher hasher(controller, owner.controllerStart);
  return CheckChain(owner, chain, controller, hasher);
}

std::span<const std::uint8_t> ControllerBytes(const model::Package& pkg, std::span<const std::uint8_t> file) {
  if (pkg.stub) return file;
  if (!pkg.controller) return {};
  return *pkg.controller;
}

namespace {

// Whether the package or one it embeds carries a signature chain.
bool HasChains(const model::Package& pkg);
bool HasChains(const model::InstallBlock& block) {
  for (const model::Package& p : block.embedded)
    if (HasChains(p)) return true;
  for (const model::IfBlock& i : block.ifs) {
    if (i.branch.block && HasChains(*i.branch.block)) return true;
    for (const model::ConditionalBlock& e : i.elseIfs)
      if (e.block && HasChains(*e.block)) return true;
  }
  return false;
}
bool HasChains(const model::Package& pkg) {
  if (!pkg.signatures.empty() || HasChains(pkg.body)) return true;
  for (const model::InstallBlock& b : pkg.laterBlocks)
    if (HasChains(b)) return true;
  return false;
}

}  // namespace

Report Inspect(const model::Package& pkg, std::span<const std::uint8_t> file) {
  Report report;
  if (pkg.generation != model::Generation::Sis9 || !pkg.controllerRead) return report;
  if (!HasChains(pkg)) return report;
  InspectPackage(pkg, false, ControllerBytes(pkg, file), report);
  return report;
}

std::vector<std::string> CapabilityNames(std::uint64_t bits) {
  static constexpr std::array<const char*, 20> kNames = {
      "TCB",           "CommDD",         "PowerMgmt",      "MultimediaDD",    "ReadDeviceData",
      "WriteDeviceData", "DRM",          "TrustedUI",      "ProtServ",        "DiskAdmin",
      "NetworkControl", "AllFiles",      "SwEvent",        "NetworkServices", "LocalServices",
      "ReadUserData",  "WriteUserData",  "Location",       "SurroundingsDD",  "UserEnvironment"};
  std::vector<std::string> out;
  for (unsigned i = 0; i < 64; ++i)
    if (bits >> i & 1u) out.push_back(i < kNames.size() ? kNames[i] : "bit " + std::to_string(i));
  return out;
}

Capabilities CollectCapabilities(const model::Package& pkg) {
  Capabilities caps;
  if (pkg.generation == model::Generation::Sis9) CollectPackage(pkg, caps);
  return caps;
}

}  // namespace tarvik::signers
