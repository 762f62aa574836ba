#include "writer/sign.hpp"


#include <cstdio>
#include <filesystem>
#include <memory>

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include "bytes/field_reader.hpp"
#include "writer/package_parts.hpp"

namespace tarvik::writer {

namespace {

using detail::PackageParts;

constexpr const char* kRsaSha1 = "1.2.840.113549.1.1.5";
constexpr const char* kDsaSha1 = "1.2.840.10040.4.3";

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct MdFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using X509Ptr = std::unique_ptr<X509, X509Free>;

std::unique_ptr<BIO, BioFree> OpenPem(const std::string& path) { return std::unique_ptr<BIO, BioFree>(BIO_new_file(path.c_str(), "rb")); }

// The DER bytes of every certificate in the PEM file at `path` (at least one).
bool ReadCertificates(const std::string& path, std::vector<X509Ptr>& out) {
  auto bio = OpenPem(path);
  if (!bio) return false;
  const std::size_t before = out.size();
  while (X509* x = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) out.emplace_back(x);
  return out.size() > before;
}

Bytes Der(X509* x) {
  const int n = i2d_X509(x, nullptr);
  if (n <= 0) return {};
  Bytes der(static_cast<std::size_t>(n));
  unsigned char* p = der.data();
  i2d_X509(x, &p);
  return der;
}

// SHA-1 signature of `data` with `key`: RSA (PKCS #1 v1.5) or DSA (DER).
Bytes SignSha1(EVP_PKEY* key, const std::uint8_t* data, std::size_t n, std::string& error) {
  std::unique_ptr<EVP_MD_CTX, MdFree> ctx(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key) != 1 ||
      EVP_DigestSign(ctx.get(), nullptr, &length, data, n) != 1) {
    error = "OpenSSL refused to sign with SHA-1 and this key";
    return {};
  }
  Bytes sig(length);
  if (EVP_DigestSign(ctx.get(), sig.data(), &length, data, n) != 1) {
    error = "signing failed";
    return {};
  }
  sig.resize(length);
  return sig;
}

Bytes ChainField(const std::string& oid, const Bytes& signature, const std::vector<X509Ptr>& certs) {
  Bytes sig;
  Bytes algorithm;
  PutString(algorithm, oid);
  PutField(sig, sistype::SignatureAlgorithm, algorithm);
  PutField(sig, sistype::Blob, signature);
  Bytes der;
  for (const X509Ptr& c : certs) {
    const Bytes one = Der(c.get());
    der.insert(der.end(), one.begin(), one.end());
  }
  Bytes chain;
  PutField(chain, sistype::Blob, der);
  Bytes v;
  PutArray(v, sistype::Signature, {sig});
  PutField(v, sistype::CertificateChain, chain);
  Bytes field;
  PutField(field, sistype::SignatureCertificateChain, v);
  return field;
}

}  // namespace

Bytes SignPackage(const Bytes& package, const SignRequest& request, std::string& error) {
  PackageParts parts;
  error = detail::SplitPackage(package, parts);
  if (!error.empty()) return {};
  KeyPtr key;
  if (auto bio = OpenPem(request.keyPem))
    key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, const_cast<char*>(request.passphrase.c_str())));
  if (!key) return error = "cannot read the private key " + request.keyPem, Bytes{};
  std::vector<X509Ptr> certs;
  if (!ReadCertificates(request.certPem, certs)) return error = "cannot read a certificate from " + request.certPem, Bytes{};
  certs.resize(1);  // the signer's certificate; further ones come from --chain
  for (const std::string& pem : request.chainPems)
    if (!ReadCertificates(pem, certs)) return error = "cannot read a certificate from " + pem, Bytes{};
  if (X509_check_private_key(certs.front().get(), key.get()) != 1)
    return error = "the key does not belong to the certificate " + request.certPem, Bytes{};
  const int type = EVP_PKEY_get_base_id(key.get());
  if (type != EVP_PKEY_RSA && type != EVP_PKEY_DSA) return error = "the key is neither RSA nor DSA, which are all a package can carry", Bytes{};
  // The chain signs the members up to where it goes: before the data index.
  const Bytes signature = SignSha1(key.get(), parts.members.data(), parts.dataIndexAt, error);
  if (!error.empty()) return {};
  const Bytes field = ChainField(type == EVP_PKEY_RSA ? kRsaSha1 : kDsaSha1, signature, certs);
  parts.members.insert(parts.members.begin() + static_cast<std::ptrdiff_t>(parts.dataIndexAt), field.begin(), field.end());
  return detail::JoinPackage(parts, error);
}

Bytes UnsignPackage(const Bytes& package, std::string& error) {
  PackageParts parts;
  error = detail::SplitPackage(package, parts);
  if (!error.empty()) return {};
  if (parts.chains == 0) return error = "the package has no signature chain", Bytes{};
  parts.members.erase(parts.members.begin() + static_cast<std::ptrdiff_t>(parts.lastChainAt),
                      parts.members.begin() + static_cast<std::ptrdiff_t>(parts.lastChainEnd));
  return detail::JoinPackage(parts, error);
}

std::string SignFile(const std::string& in, const std::string& out, const SignRequest& request,
                     const TempFileHook& tempFile) {
  std::string error;
  const Bytes bytes = detail::ReadFileBytes(in, error);
  if (!error.empty()) return error;
  const Bytes signedBytes = SignPackage(bytes, request, error);
  if (!error.empty()) return in + ": " + error;
  return detail::WriteWhole(out, signedBytes, 0644, tempFile);
}

std::string UnsignFile(const std::string& in, const std::string& out, const TempFileHook& tempFile) {
  std::string error;
  const Bytes bytes = detail::ReadFileBytes(in, error);
  if (!error.empty()) return error;
  const Bytes plain = UnsignPackage(bytes, error);
  if (!error.empty()) return in + ": " + error;
  return detail::WriteWhole(out, plain, 0644, tempFile);
}

namespace {

// Adds the parts of "CN=Me,O=Company,C=FI" to `name`; false when a part is not KEY=VALUE or
// names an unknown attribute. "\," keeps a comma in a value.
bool ParseSubject(const std::string& subject, X509_NAME* name) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < subject.size(); ++i) {
    if (subject[i] == '\\' && i + 1 < subject.size()) parts.back() += subject[++i];
    else if (subject[i] == ',') parts.emplace_back();
    else parts.back() += subject[i];
  }
  for (std::string part : parts) {
    while (!part.empty() && part.front() == ' ') part.erase(0, 1);
    const std::size_t eq = part.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    const std::string value = part.substr(eq + 1);
    if (X509_NAME_add_entry_by_txt(name, part.substr(0, eq).c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1, 0) != 1)
      return false;
  }
  return !parts.empty();
}

X509Ptr SelfSigned(EVP_PKEY* key, const std::string& subject, int days, std::string& error) {
  X509Ptr x(X509_new());
  unsigned char serial[16];
  if (!x || RAND_bytes(serial, sizeof serial) != 1) return error = "cannot make a certificate", nullptr;
  serial[0] &= 0x7F;  // a positive serial number
  std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(BN_bin2bn(serial, sizeof serial, nullptr), BN_free);
  X509_set_version(x.get(), 2);
  BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(x.get()));
  X509_gmtime_adj(X509_getm_notBefore(x.get()), 0);
  X509_gmtime_adj(X509_getm_notAfter(x.get()), static_cast<long>(days) * 24 * 3600);
  X509_set_pubkey(x.get(), key);
  X509_NAME* name = X509_get_subject_name(x.get());
  if (!ParseSubject(subject, name)) return error = "cannot read the subject \"" + subject + "\", expected KEY=VALUE parts such as CN=Me,O=Company", nullptr;
  X509_set_issuer_name(x.get(), name);
  // Signed with SHA-1, which is what the devices that install these packages check.
  if (X509_sign(x.get(), key, EVP_sha1()) <= 0) return error = "cannot sign the certificate", nullptr;
  return x;
}

}  // namespace

std::string MakeKeys(const std::string& dir, const std::string& subject, int days, int bits) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string keyPath = (fs::path(dir) / "key.pem").string(), certPath = (fs::path(dir) / "cert.pem").string();
  if (fs::exists(keyPath, ec)) return keyPath + " exists; no key made (a key is never replaced)";
  if (bits < 1024 || bits > 16384) return "an RSA key of " + std::to_string(bits) + " bits cannot be made, expected 1024 to 16384";
  if (days < 1) return "the certificate must be valid for at least one day";
  KeyPtr key(EVP_RSA_gen(static_cast<unsigned>(bits)));
  if (!key) return "cannot make an RSA key";
  std::string error;
  const X509Ptr cert = SelfSigned(key.get(), subject, days, error);
  if (!cert) return error;
  std::unique_ptr<BIO, BioFree> keyOut(BIO_new(BIO_s_mem())), certOut(BIO_new(BIO_s_mem()));
  if (!keyOut || !certOut || PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_X509(certOut.get(), cert.get()) != 1)
    return "cannot write the key or certificate";
  auto bytesOf = [](BIO* b) {
    char* data = nullptr;
    const long n = BIO_get_mem_data(b, &data);
    return Bytes(data, data + n);
  };
  // The key's file is private from the moment it is made.
  const std::string keyError = detail::WriteWhole(keyPath, bytesOf(keyOut.get()), 0600);
  if (!keyError.empty()) return keyError;
  return detail::WriteWhole(certPath, bytesOf(certOut.get()));
}

}  // namespace tarvik::writer
