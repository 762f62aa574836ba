#include "extract/certificates.hpp"

#include <algorithm>
#include <cctype>

#include "extract/safe_path.hpp"
#include "signers/signers.hpp"

namespace tarvik::extract {

namespace {

// A file name part made of letters, digits, '-' and '_' only.
std::string SafePart(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) out += std::isalnum(ch) || ch == '-' || ch == '_' ? static_cast<char>(ch) : '_';
  if (out.size() > 40) out.resize(40);
  return out.empty() ? std::string("package") : out;
}

}  // namespace

std::vector<CertificateFile> CertificateFiles(const model::Package& package, std::span<const std::uint8_t> file) {
  std::vector<CertificateFile> out;
  const signers::Report report = signers::Inspect(package, file);
  for (const signers::Chain& c : report.chains)
    for (std::size_t i = 0; i < c.certificates.size(); ++i)
      out.push_back({"certificates/p" + std::to_string(c.packageOrdinal) + "-" + SafePart(c.packageName) + "-chain" +
                         std::to_string(c.index + 1) + "-cert" + std::to_string(i + 1) + ".der",
                     c.certificates[i].der});
  return out;
}

std::uint64_t CertificateCost(const std::vector<CertificateFile>& files) {
  std::uint64_t total = 0;
  for (const CertificateFile& f : files) total += std::max<std::uint64_t>(f.der.size(), kCertificateFileCost);
  return total;
}

std::vector<std::string> WriteCertificates(const std::string& folder, const std::vector<CertificateFile>& files,
                                           Reporter& reporter) {
  std::vector<std::string> written;
  if (files.empty()) return written;
  Destination destination(folder);
  for (const CertificateFile& f : files) {
    if (reporter.Cancelled()) break;
    OutputFile out;
    const bool ok = destination.MakeFolders(f.path) && out.Open(destination, f.path, f.der.size()) &&
                    out.Write(f.der.data(), f.der.size()) && out.Commit();
    if (ok)
      written.push_back(f.path);
    else
      reporter.Failed(kErrorExtracting + folder + f.path + ": " + ErrorText(out.Error()));
  }
  return written;
}

void ListCertificates(const std::string& folder, const std::vector<CertificateFile>& files, Result& result,
                      Reporter& reporter) {
  if (files.empty() || result.stopped) return;
  const std::vector<std::string> written = WriteCertificates(folder, files, reporter);
  if (written.empty()) return;
  result.list += (result.list.empty() ? "" : "\r\n") + std::string(kCertificatesHead) + folder + "\r\n";
  for (const std::string& path : written) result.list += path + "\r\n";
}

}  // namespace tarvik::extract
