#pragma once
// Keys, certificates and signed 9.x packages made on the spot with libcrypto, so that every
// kind of chain can be written into a package whose signatures really verify.

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "parse/parse.hpp"
#include "signers/signers.hpp"
#include "support/sis9_writer.hpp"

namespace tarvik::test::signing {

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using Key = std::shared_ptr<EVP_PKEY>;

inline Key NewKey() { return Key(EVP_RSA_gen(1024), KeyFree()); }

inline std::time_t Utc(int year, int month, int day) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  return timegm(&tm);
}

struct CertSpec {
  std::string subject;  // a common name
  std::string issuer;   // a common name
  Key key;              // the certified key
  Key issuerKey;        // the key that signs the certificate
  std::time_t from = Utc(2006, 1, 1), to = Utc(2030, 1, 1);
  long serial = 0x1234;
};

// `serialHex`, when given, is a serial number of any length in hexadecimal (instead of
// `spec.serial`).
inline Bytes MakeCertificate(const CertSpec& spec, const std::string& serialHex = {}) {
  std::unique_ptr<X509, decltype(&X509_free)> x(X509_new(), &X509_free);
  X509_set_version(x.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x.get()), spec.serial);
  if (!serialHex.empty()) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, serialHex.c_str());
    BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x.get()));
    BN_free(bn);
  }
  ASN1_TIME_set(X509_getm_notBefore(x.get()), spec.from);
  ASN1_TIME_set(X509_getm_notAfter(x.get()), spec.to);
  auto name = [](const std::string& cn) {
    X509_NAME* n = X509_NAME_new();
    X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    return n;
  };
  X509_NAME* subject = name(spec.subject);
  X509_NAME* issuer = name(spec.issuer);
  X509_set_subject_name(x.get(), subject);
  X509_set_issuer_name(x.get(), issuer);
  X509_NAME_free(subject);
  X509_NAME_free(issuer);
  X509_set_pubkey(x.get(), spec.key.get());
  X509_sign(x.get(), spec.issuerKey.get(), EVP_sha1());
  unsigned char* der = nullptr;
  const int n = i2d_X509(x.get(), &der);
  Bytes out(der, der + (n > 0 ? n : 0));
  OPENSSL_free(der);
  return out;
}

inline Bytes Sign(const Key& key, const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  std::size_t n = 0;
  EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha1(), nullptr, key.get());
  EVP_DigestSign(ctx.get(), nullptr, &n, data, size);
  Bytes sig(n);
  EVP_DigestSign(ctx.get(), sig.data(), &n, data, size);
  sig.resize(n);
  return sig;
}

// An RSA-SHA1 chain of `certificates`, its signature to be made by BuildSigned.
inline sis9w::Chain CarryingCertificates(std::vector<Bytes> certificates) {
  sis9w::Chain c;
  c.certificates = std::move(certificates);
  return c;
}

// Builds `main` with each chain's signature made by `signer` over the bytes the chain
// covers: written once with a placeholder of the right length, then again with the real
// signature (the covered bytes lie before the chain, so the second writing keeps them).
inline Bytes BuildSigned(sis9w::Controller main, const Key& signer) {
  const std::size_t size = static_cast<std::size_t>(EVP_PKEY_get_size(signer.get()));
  for (sis9w::Chain& c : main.chains) c.signature.assign(size, 0);
  for (std::size_t i = 0; i < main.chains.size(); ++i) {
    const Bytes file = sis9w::Build(main);
    const model::Package pkg = Parse(file, "signed.sis");
    const auto controller = signers::ControllerBytes(pkg, file);
    const auto [begin, end] = signers::SignedRange(pkg, pkg.signatures.at(i));
    main.chains[i].signature = Sign(signer, controller.data() + begin, static_cast<std::size_t>(end - begin));
  }
  return sis9w::Build(main);
}

}  // namespace tarvik::test::signing
