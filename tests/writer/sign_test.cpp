// Signing: chains appended with fresh keys verify with the signer checks and with the openssl
// command over the signed range; unsign removes the last chain.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "parse/parse.hpp"
#include "signers/signers.hpp"
#include "support/package_facts.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"
#include "writer/sign.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

bool HaveOpenssl() { return std::system("openssl version >/dev/null 2>&1") == 0; }

std::string Q(const std::string& s) { return "'" + s + "'"; }

// Checks every chain of the package at `path` with the openssl command: the signed range of
// the controller (its members up to the chain), the signature, the signer's public key.
void ExpectOpensslVerifies(const std::string& path, const TempDir& dir, std::size_t chains) {
  const Bytes file = ReadBytes(path);
  const model::Package p = Parse(file, "p.sis");
  ASSERT_EQ(p.signatures.size(), chains);
  const auto bytes = signers::ControllerBytes(p, file);
  const Bytes controller(bytes.begin(), bytes.end());
  for (std::size_t k = 0; k < chains; ++k) {
    SCOPED_TRACE("chain " + std::to_string(k + 1));
    const model::SignatureChain& c = p.signatures[k];
    const auto begin = controller.begin() + p.controllerStart, end = controller.begin() + c.offset;
    const std::string range = dir.Write("range.bin", Bytes(begin, end));
    const std::string sig = dir.Write("sig.bin", c.signatures.at(0).signature);
    const std::string cert = dir.Write("cert.der", c.certificates.at(0));
    const std::string pub = dir / "pub.pem";
    ASSERT_EQ(std::system(("openssl x509 -inform DER -in " + Q(cert) + " -pubkey -noout > " + Q(pub)).c_str()), 0);
    EXPECT_EQ(std::system(("openssl dgst -sha1 -verify " + Q(pub) + " -signature " + Q(sig) + " " + Q(range) + " >/dev/null").c_str()), 0);
    // A changed byte in the range no longer verifies.
    Bytes changed(begin, end);
    changed[changed.size() / 2] ^= 1;
    dir.Write("range.bin", changed);
    EXPECT_NE(std::system(("openssl dgst -sha1 -verify " + Q(pub) + " -signature " + Q(sig) + " " + Q(range) + " >/dev/null 2>&1").c_str()), 0);
  }
}

TEST(SignPackage, ChainsVerifyAndUnsignRemovesTheLast) {
  if (!HaveOpenssl()) GTEST_SKIP() << "no openssl command";
  TempDir dir;
  const std::string plain = dir.Write("plain.sis", sis9w::MakeDemoPackage());
  const CliResult keys = RunCli("keys " + Q(dir / "k") + " --subject 'CN=Tarvik Test,O=Peers'", dir);
  ASSERT_EQ(keys.status, 0) << keys.err;
  EXPECT_EQ(fs::status(dir / "k/key.pem").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  // A DSA key made by openssl itself.
  ASSERT_EQ(std::system(("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 -out " + Q(dir / "dp.pem") +
                         " 2>/dev/null && openssl genpkey -paramfile " + Q(dir / "dp.pem") + " -out " + Q(dir / "dsa.pem") +
                         " 2>/dev/null && openssl req -new -x509 -key " + Q(dir / "dsa.pem") + " -sha1 -subj /CN=DSA -days 9 -out " +
                         Q(dir / "dsa.crt") + " 2>/dev/null").c_str()), 0);

  ASSERT_EQ(RunCli("sign " + Q(plain) + " " + Q(dir / "s1.sis") + " --key " + Q(dir / "k/key.pem") + " --cert " + Q(dir / "k/cert.pem"), dir).status, 0);
  ASSERT_EQ(RunCli("sign " + Q(dir / "s1.sis") + " " + Q(dir / "s2.sis") + " --key " + Q(dir / "dsa.pem") + " --cert " + Q(dir / "dsa.crt"), dir).status, 0);
  ExpectOpensslVerifies(dir / "s2.sis", dir, 2);

  const Bytes s2 = ReadBytes(dir / "s2.sis");
  const model::Package p = Parse(s2, "s2.sis");
  const signers::Report report = signers::Inspect(p, s2);
  ASSERT_EQ(report.chains.size(), 2u);
  EXPECT_EQ(report.chains[0].signatures.at(0).algorithm, "RSA-SHA1");
  EXPECT_EQ(report.chains[1].signatures.at(0).algorithm, "DSA-SHA1");
  for (const signers::Chain& c : report.chains) {
    EXPECT_EQ(c.signatures.at(0).verdict, signers::Verdict::Verified);
    EXPECT_EQ(c.trust, signers::Trust::SelfSigned);
  }
  EXPECT_EQ(report.chains[0].certificates.at(0).subject.find("CN=Tarvik Test") != std::string::npos, true);

  // Unsign: back to one chain, then to none; the rest of the package is unchanged.
  ASSERT_EQ(RunCli("unsign " + Q(dir / "s2.sis") + " " + Q(dir / "u1.sis"), dir).status, 0);
  ExpectOpensslVerifies(dir / "u1.sis", dir, 1);
  ASSERT_EQ(RunCli("unsign " + Q(dir / "u1.sis") + " " + Q(dir / "u0.sis"), dir).status, 0);
  EXPECT_TRUE(FactDifferences(ComparableFacts(ReadBytes(plain)), ComparableFacts(ReadBytes(dir / "u0.sis"))).empty());
  EXPECT_EQ(Parse(ReadBytes(dir / "u0.sis"), "u0.sis").signatures.size(), 0u);
  const CliResult none = RunCli("unsign " + Q(dir / "u0.sis") + " " + Q(dir / "x.sis"), dir);
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("no signature chain"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "x.sis"));
}

TEST(SignPackage, RefusesWhatCannotSign) {
  if (!HaveOpenssl()) GTEST_SKIP() << "no openssl command";
  TempDir dir;
  const std::string plain = dir.Write("plain.sis", sis9w::MakeDemoPackage());
  ASSERT_EQ(RunCli("keys " + Q(dir / "a") + " --subject CN=A", dir).status, 0);
  ASSERT_EQ(RunCli("keys " + Q(dir / "b") + " --subject CN=B", dir).status, 0);
  // Key and certificate of different pairs; an EC key; not a package; a key already there.
  ASSERT_EQ(std::system(("openssl req -new -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + Q(dir / "ec.pem") +
                         " -subj /CN=EC -days 9 -out " + Q(dir / "ec.crt") + " 2>/dev/null").c_str()), 0);
  struct Case {
    std::string args, message;
  };
  const Case cases[] = {
      {"sign " + Q(plain) + " " + Q(dir / "o.sis") + " --key " + Q(dir / "a/key.pem") + " --cert " + Q(dir / "b/cert.pem"), "does not belong"},
      {"sign " + Q(plain) + " " + Q(dir / "o.sis") + " --key " + Q(dir / "ec.pem") + " --cert " + Q(dir / "ec.crt"), "neither RSA nor DSA"},
      {"sign " + Q(dir / "a/cert.pem") + " " + Q(dir / "o.sis") + " --key " + Q(dir / "a/key.pem") + " --cert " + Q(dir / "a/cert.pem"), "not a readable"},
      {"keys " + Q(dir / "a") + " --subject CN=C", "no key made"},
      {"keys " + Q(dir / "c") + " --subject Nonsense", "cannot read the subject"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const CliResult r = RunCli(c.args, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(dir / "o.sis"));
  EXPECT_FALSE(fs::exists(dir / "c/key.pem"));
}

}  // namespace
}  // namespace tarvik::test

namespace tarvik::test {
namespace {

// Every truncation and every flipped byte of a signed package is refused or taken apart
// without reading outside it (the sanitizer build checks the reads).
TEST(SignPackage, DamagedPackagesAreRefusedCleanly) {
  sis9w::Controller main;
  main.files = {sis9w::TextFile("!:\\data\\a.txt", "some text to deflate, some text to deflate", true)};
  sis9w::Chain chain;
  chain.signature = Bytes(64, 1);
  chain.certificates = {Bytes(32, 2)};
  main.chains = {chain};
  const Bytes whole = sis9w::Build(main);
  std::string error;
  ASSERT_FALSE(writer::UnsignPackage(whole, error).empty()) << error;
  int refused = 0;
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    const Bytes part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    writer::UnsignPackage(part, error);
    refused += !error.empty();
  }
  EXPECT_GT(refused, static_cast<int>(whole.size()) / 2);
  for (std::size_t at = 0; at < whole.size(); ++at) {
    Bytes changed = whole;
    changed[at] ^= 0xFF;
    writer::UnsignPackage(changed, error);
  }
}

}  // namespace
}  // namespace tarvik::test
