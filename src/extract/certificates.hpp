#pragma once
// The signature certificates of a 9.x package, written as DER files beside the extracted
// files: DIR/certificates/p<package>-<name>-chain<n>-cert<m>.der. They go through the
// extraction's safe writer (no link is followed, nothing leaves DIR, no special file is
// written into) and count in its budget.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "extract/extract.hpp"
#include "model/package.hpp"

namespace tarvik::extract {

// Heads the list of the certificates in the extraction result (the folder follows).
inline constexpr const char* kCertificatesHead = "Signature certificates, in ";
// What one certificate file counts in the budget at least: a file costs its folder entry and
// a block of the file system, however few its bytes (a small package can hold many thousands
// of tiny certificates).
inline constexpr std::uint64_t kCertificateFileCost = 4096;

struct CertificateFile {
  std::string path;  // relative to the extraction folder, "certificates/..."
  model::Bytes der;
};

// Every certificate of every signature chain of `package` (read from `file`), named.
std::vector<CertificateFile> CertificateFiles(const model::Package& package, std::span<const std::uint8_t> file);

// What they count in the extraction's budget.
std::uint64_t CertificateCost(const std::vector<CertificateFile>& files);

// Writes them below `folder` (a native path ending in a separator); returns the paths
// written. A file that cannot be written is reported through `reporter.Failed` with the
// system's reason.
std::vector<std::string> WriteCertificates(const std::string& folder, const std::vector<CertificateFile>& files,
                                           Reporter& reporter);

// After the extraction `result` into `folder`: writes `files` (unless the extraction
// stopped) and lists them at the end of `result.list` under kCertificatesHead.
void ListCertificates(const std::string& folder, const std::vector<CertificateFile>& files, Result& result,
                      Reporter& reporter);

}  // namespace tarvik::extract
