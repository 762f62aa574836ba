// Property: no verdict says "verified" when an install block follows the main package's last
// signature chain. The controller's top-level fields are walked here on their own, apart
// from the parser, and the verdicts of the signature check and of the JSON facts are held
// against that walk.
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "bytes/field_reader.hpp"
#include "parse/parse.hpp"
#include "signers/signers.hpp"
#include "views/json.hpp"
#include "views/views.hpp"

namespace {

// Whether an install block follows the last signature chain among the main controller's
// members, walked from `begin` to `end`.
bool BlockAfterLastChain(tarvik::ByteView b, tarvik::Pos begin, tarvik::Pos end) {
  using namespace tarvik;
  Pos lastChain = -1, lastBlock = -1;
  for (Pos p = begin; p + 8 <= end;) {
    const Field f = ReadField(b, p, end);
    if (!f.ok) break;
    if (f.type == sistype::InstallBlock) lastBlock = f.start;
    if (f.type == sistype::SignatureCertificateChain) lastChain = f.start;
    if (f.type == sistype::DataIndex) break;
    p = f.next;
  }
  return lastChain >= 0 && lastBlock > lastChain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tarvik;
  const std::span<const std::uint8_t> bytes(data, size);
  const model::Package package = Parse(bytes, "input.sis");
  if (package.generation != model::Generation::Sis9 || !package.controllerRead) return 0;
  const auto controller = signers::ControllerBytes(package, bytes);
  const ByteView b(std::span<const std::uint8_t>(controller.data(), controller.size()));
  const Pos end = std::min<Pos>(package.controllerEnd, static_cast<Pos>(controller.size()));
  if (!BlockAfterLastChain(b, package.controllerStart, end)) return 0;
  const signers::Report report = signers::Inspect(package, bytes);
  for (const signers::Chain& c : report.chains)
    for (const signers::SignatureCheck& s : c.signatures)
      if (c.packageOrdinal == package.ordinal && s.verdict == signers::Verdict::Verified) {
        std::fprintf(stderr, "a chain verifies while an install block follows it\n");
        std::abort();
      }
  const std::string json = views::FactsDocumentLine(package, bytes, views::Describe(package, {}), "input.sis");
  if (json.find("\"verdict\":\"verified\"") != std::string::npos) {
    std::fprintf(stderr, "the JSON says verified while an install block follows the last chain\n");
    std::abort();
  }
  return 0;
}
