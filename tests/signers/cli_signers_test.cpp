// tarvik-cli info's Signers and Capabilities sections, and extract --certs, checked against
// the openssl command's reading of the certificates written.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "signers_fixture.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

using namespace signing;

// The text after "`key`" on the line where it is first found.
std::string After(const std::string& text, const std::string& key, std::size_t from = 0) {
  const std::size_t p = text.find(key, from);
  if (p == std::string::npos) return "(no " + key + ")";
  const std::size_t e = text.find('\n', p);
  return text.substr(p + key.size(), e - p - key.size());
}

std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[512];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

sis9w::Controller Carrying(std::uint32_t caps) {
  sis9w::Controller c;
  c.names = {"Signed App"};
  sis9w::File f;
  f.target = "!:\\sys\\bin\\app.exe";
  f.data = Bytes{1, 2, 3};
  f.caps = caps;
  c.files.push_back(f);
  return c;
}

TEST(CliSigners, CertificatesWrittenReadTheSameInOpenssl) {
  if (std::system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl command";
  TempDir dir;
  const Key leaf = NewKey(), root = NewKey();
  sis9w::Controller c = Carrying((1u << 13) | (1u << 2));
  c.chains.push_back(CarryingCertificates({MakeCertificate({"Ünïcode Signer 東京", "Root CA", leaf, root,
                                                            Utc(2006, 1, 1), Utc(2030, 1, 1), 0x1F2E3D}),
                                           MakeCertificate({"Root CA", "Root CA", root, root})}));
  const std::string pkg = dir.Write("signed.sisx", BuildSigned(c, leaf));

  const CliResult info = RunCli("info '" + pkg + "'", dir);
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("chain 1: chained to a certificate in the package (CN=Root CA)"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("Signature 1: RSA-SHA1, verifies"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("  !:\\sys\\bin\\app.exe: PowerMgmt, NetworkServices\n"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("  Not granted to a self-signed package: PowerMgmt\n"), std::string::npos) << info.out;

  const std::string out = dir / "out";
  const CliResult x = RunCli("extract --quiet --certs '" + pkg + "' '" + out + "'", dir);
  ASSERT_EQ(x.status, 0) << x.err;
  const std::string der = out + "/certificates/p1-Signed_App-chain1-cert1.der";
  ASSERT_TRUE(std::filesystem::exists(der)) << x.out;
  EXPECT_TRUE(std::filesystem::exists(out + "/certificates/p1-Signed_App-chain1-cert2.der"));

  const std::string o = Output("openssl x509 -inform der -noout -nameopt RFC2253,-esc_msb -subject -serial -fingerprint -sha1 -in '" +
                            der + "'");
  EXPECT_EQ(After(o, "subject="), After(info.out, "Subject: "));
  EXPECT_EQ(After(info.out, "Subject: "), "CN=Ünïcode Signer 東京");
  EXPECT_EQ(After(o, "serial="), After(info.out, "Serial: "));
  EXPECT_EQ(After(o, "Fingerprint="), After(info.out, "SHA-1: "));
}

TEST(CliSigners, UnsignedPackageSaysSo) {
  TempDir dir;
  const std::string pkg = dir.Write("plain.sis", sis9w::Build(Carrying(1u << 15)));
  const CliResult info = RunCli("info '" + pkg + "'", dir);
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("\nSigners: none\nCapabilities:\n  !:\\sys\\bin\\app.exe: ReadUserData\n"
                          "  Package (all files): ReadUserData\n  Not granted to a self-signed package: none\n"),
            std::string::npos)
      << info.out;
}

// A vendor-signed package with an install block added after its chain: the signature
// still matches the bytes before the chain, but neither `info`, the JSON nor the catalogue
// may call the package verified, and the added block is a problem.
TEST(CliSigners, ContentAfterTheLastChainIsNeverVerified) {
  TempDir dir;
  const Key key = NewKey();
  struct Case {
    const char* name;
    bool embedded;
  };
  for (const Case k : {Case{"files", false}, Case{"embedded package", true}}) {
    SCOPED_TRACE(k.name);
    sis9w::Controller c = Carrying(1u << 13);
    c.chains.push_back(CarryingCertificates({MakeCertificate({"Vendor", "Vendor", key, key})}));
    sis9w::File added;
    added.target = "!:\\sys\\bin\\update.exe";
    added.data = Bytes{9, 9, 9};
    added.caps = (1u << 0) | (1u << 11);  // TCB, AllFiles
    if (k.embedded) {
      sis9w::Controller inner;
      inner.names = {"Inner"};
      inner.files.push_back(added);
      c.embeddedAfterChains.push_back(inner);
    } else {
      c.filesAfterChains.push_back(added);
    }
    const std::string pkg = dir.Write(std::string("pkgs/") + (k.embedded ? "e" : "f") + ".sis", BuildSigned(c, key));

    const CliResult info = RunCli("info '" + pkg + "'", dir);
    EXPECT_EQ(info.out.find("verifies\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Signature 1: RSA-SHA1, does NOT verify (content follows the last signature chain"),
              std::string::npos) << info.out;
    EXPECT_NE(info.out.find("Problem: content after the last signature chain of package 1 is covered by no signature"),
              std::string::npos) << info.out;
    EXPECT_NE(info.out.find("update.exe"), std::string::npos) << info.out;

    const CliResult json = RunCli("info --json '" + pkg + "'", dir);
    EXPECT_EQ(json.out.find("\"verified\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("install block after the last signature chain"), std::string::npos) << json.out;

    const CliResult cat = RunCli("catalog --quiet '" + dir / "pkgs" + "' --db '" + dir / "c.sqlite" + "'", dir);
    EXPECT_EQ(cat.status, 0) << cat.err;
    const std::string rows = Output("sqlite3 '" + dir / "c.sqlite" + "' 'SELECT verdict FROM signers' 2>&1");
    EXPECT_NE(rows.find("failed"), std::string::npos) << rows;
    EXPECT_EQ(rows.find("verified"), std::string::npos) << rows;
  }
}

}  // namespace
}  // namespace tarvik::test
