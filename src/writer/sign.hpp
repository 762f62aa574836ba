#pragma once
// Signature chains of 9.x packages: appending one (RSA or DSA over SHA-1, as the format
// requires, with OpenSSL's EVP interface), removing the last one, and making a self-signed
// key and certificate. A chain signs the controller's members from the package information
// up to where the chain itself begins, so earlier chains stay valid when one is added.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarvik::writer {

using Bytes = std::vector<std::uint8_t>;

// Told of each temporary file made (true) and gone (false), as BuildSettings::tempFile.
using TempFileHook = std::function<void(const std::string& path, bool made)>;

struct SignRequest {
  std::string keyPem;   // path of the private key (PEM)
  std::string certPem;  // path of its certificate (PEM)
  std::vector<std::string> chainPems;  // further certificates, the signer's issuer first
  std::string passphrase;
};

// The package `package` (whole file or stub) with one more chain; empty `error` on success.
Bytes SignPackage(const Bytes& package, const SignRequest& request, std::string& error);
// The package without its last chain.
Bytes UnsignPackage(const Bytes& package, std::string& error);

// The same from file to file (written under a temporary name, then renamed). Empty on
// success, else what went wrong.
std::string SignFile(const std::string& in, const std::string& out, const SignRequest& request,
                     const TempFileHook& tempFile = {});
std::string UnsignFile(const std::string& in, const std::string& out, const TempFileHook& tempFile = {});

// Writes DIR/key.pem (mode 0600) and DIR/cert.pem: a new RSA key and a self-signed
// certificate for `subject` ("CN=...,O=...") valid for `days`. Refuses to replace a key.
std::string MakeKeys(const std::string& dir, const std::string& subject, int days, int bits);

}  // namespace tarvik::writer
