#pragma once
// Who signed a 9.x package and what its files may do: the signature chains of the main and
// embedded controllers decoded with libcrypto (certificates, signature checks, how each
// chain ends), and the capability bits of the files named. Functions of the model and the
// package bytes; plain structs out, no text formatting.

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "model/package.hpp"

namespace tarvik::signers {

struct Certificate {
  bool decoded = false;         // libcrypto could read it; the rest is empty otherwise
  std::string subject, issuer;  // one line, RFC 2253 order, UTF-8
  std::string serial;           // hexadecimal
  std::string notBefore, notAfter;  // "YYYY-MM-DD HH:MM:SS UTC"
  std::int64_t notBeforeTime = 0, notAfterTime = 0;  // seconds since 1970 (UTC)
  std::string keyType;          // "RSA", "DSA", "EC" or the key's short name
  int keyBits = 0;
  std::string sha1;             // fingerprint of the DER bytes, "AB:CD:..."
  model::Bytes der;
};

enum class Verdict : std::uint8_t { Verified, Failed, NotChecked };

// Why a signature that matches the bytes before its chain fails all the same: an install
// block follows the package's last chain, and no signature covers it.
inline constexpr const char* kUnsignedContent =
    "content follows the last signature chain and no signature covers it (the bytes before the chain match)";

struct SignatureCheck {
  std::string oid;        // as stored
  std::string algorithm;  // "RSA-SHA1", "DSA-SHA1", or the OID when unknown
  Verdict verdict = Verdict::NotChecked;
  std::string why;        // for Failed and NotChecked: what went wrong
};

enum class Trust : std::uint8_t {
  SelfSigned,        // the signing certificate issued itself
  ChainedInPackage,  // its issuers lead to a self-signed certificate the package carries
  IssuerNotCarried,  // the chain ends at an issuer the package does not carry (`endIssuer`)
  Broken,            // no certificate could be read, or an issuer's key does not verify its child
};

struct Chain {
  std::int32_t packageOrdinal = 1;
  std::string packageName;   // the package's first name
  bool embedded = false;
  std::size_t index = 0;     // 0-based position among the package's chains
  std::vector<SignatureCheck> signatures;
  std::vector<Certificate> certificates;
  Trust trust = Trust::Broken;
  std::string endIssuer;     // the issuer the chain ends at (the root's subject when carried)
  // Positions (0-based) of certificates whose validity ended before the package's creation
  // date, and of those not valid yet then.
  std::vector<std::size_t> expiredAtCreation, notYetValidAtCreation;
};

struct Report {
  std::vector<Chain> chains;  // main package first, then embedded ones in the order met
  std::vector<model::Problem> problems;
  // Controller bytes hashed for the checks: each package's signed bytes once, however many
  // chains it has.
  std::uint64_t hashedBytes = 0;
};

// Decodes and checks every chain of `pkg` (a 9.x package read from `file`).
Report Inspect(const model::Package& pkg, std::span<const std::uint8_t> file);

// The controller buffer the parser read `pkg` from: the stub file itself, or the controller
// the parser inflated (which the package holds); empty when it could not be had.
std::span<const std::uint8_t> ControllerBytes(const model::Package& pkg, std::span<const std::uint8_t> file);

// The bytes a chain's signatures cover, as [begin, end) in the controller buffer: from the
// owning controller's first member up to the chain's own field (earlier chains included).
std::pair<std::int64_t, std::int64_t> SignedRange(const model::Package& owner, const model::SignatureChain& chain);

// Checks `chain`'s signatures against its first certificate over SignedRange of `controller`.
std::vector<SignatureCheck> CheckSignatures(const model::Package& owner, const model::SignatureChain& chain,
                                            std::span<const std::uint8_t> controller);

Certificate DecodeCertificate(std::span<const std::uint8_t> der);

// Capabilities, bit 0 first (bits without a name as "bit N").
std::vector<std::string> CapabilityNames(std::uint64_t bits);
// What a self-signed package may be granted: LocalServices, Location, NetworkServices,
// ReadUserData, UserEnvironment, WriteUserData.
inline constexpr std::uint32_t kSelfSignable = (1u << 13) | (1u << 14) | (1u << 15) | (1u << 16) | (1u << 17) | (1u << 19);

struct FileCapabilities {
  std::int32_t packageOrdinal = 1;
  std::string target;
  std::uint32_t bits = 0;
};
struct Capabilities {
  std::vector<FileCapabilities> files;  // files that give capabilities, in the order met
  std::uint32_t all = 0;                // the union over every file, embedded ones included
  std::uint32_t beyondSelfSigned() const { return all & ~kSelfSignable; }
};
Capabilities CollectCapabilities(const model::Package& pkg);

}  // namespace tarvik::signers
