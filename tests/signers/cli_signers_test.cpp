// tarvik-cli info's Signers and Capabilities sections, and extract --certs, checked against
// the openssl command's reading of the certificates written.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
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
    EXPECT_NE(info.out.find("Problem: no signature covers the content after the last signature chain of package 1"),
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

// Certificates go through the extraction's safe writer: a link at DIR/certificates or at a
// certificate's name sends nothing elsewhere, a named pipe there neither hangs the run nor is
// written into, and nothing is written when the extraction is declined. Many tiny
// certificates count in the budget like any other file.
TEST(CliSigners, CertificatesAreWrittenSafelyAndWithinTheBudget) {
  TempDir dir;
  const Key leaf = NewKey();
  sis9w::Controller c = Carrying(1u << 13);
  c.chains.push_back(CarryingCertificates({MakeCertificate({"Maker", "Maker", leaf, leaf})}));
  const std::string pkg = dir.Write("signed.sisx", BuildSigned(c, leaf));
  const std::string name = "p1-Signed_App-chain1-cert1.der";
  const std::string outside = dir.Write("outside/" + name, std::string("not yours"));
  {
    SCOPED_TRACE("link at the folder");
    const std::string out = dir / "a";
    std::filesystem::create_directories(out);
    std::filesystem::create_directory_symlink(dir / "outside", out + "/certificates");
    const CliResult x = RunCli("extract --quiet --certs '" + pkg + "' '" + out + "'", dir);
    EXPECT_NE(x.status, 0);
    EXPECT_EQ(ReadFile(outside), "not yours");
  }
  {
    SCOPED_TRACE("link at the name");
    const std::string out = dir / "b";
    std::filesystem::create_directories(out + "/certificates");
    std::filesystem::create_symlink(outside, out + "/certificates/" + name);
    const CliResult x = RunCli("extract --quiet --certs '" + pkg + "' '" + out + "'", dir);
    EXPECT_NE(x.status, 0);
    EXPECT_EQ(ReadFile(outside), "not yours");
    EXPECT_TRUE(std::filesystem::is_symlink(out + "/certificates/" + name));
  }
  {
    SCOPED_TRACE("named pipe at the name");
    const std::string out = dir / "c";
    const std::string fifo = out + "/certificates/" + name;
    std::filesystem::create_directories(out + "/certificates");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Should the run open the pipe, a reader that comes late lets it end, and tells.
    std::atomic<bool> done{false}, unblocked{false};
    std::thread guard([&] {
      for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (done) return;
      const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
      unblocked = fd >= 0;
      if (fd >= 0) close(fd);
    });
    const CliResult x = RunCli("extract --quiet --certs '" + pkg + "' '" + out + "'", dir);
    done = true;
    guard.join();
    EXPECT_FALSE(unblocked);
    EXPECT_NE(x.status, 0);
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
  }
  {
    SCOPED_TRACE("many tiny certificates");
    sis9w::Controller tiny = Carrying(0);
    for (int i = 0; i < 200; ++i)
      tiny.chains.push_back(CarryingCertificates(std::vector<Bytes>(64, Bytes{0x30, 0x00})));
    const std::string small = dir.Write("tiny.sis", sis9w::Build(tiny));
    const std::string out = dir / "d";
    const CliResult x = RunCli("extract --quiet --certs '" + small + "' '" + out + "'", dir);
    EXPECT_EQ(x.status, 1) << x.err;
    EXPECT_FALSE(std::filesystem::exists(out + "/certificates"));
    EXPECT_FALSE(std::filesystem::exists(out + "/bin"));
    const CliResult forced = RunCli("extract --quiet --force --certs '" + small + "' '" + out + "'", dir);
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(std::filesystem::exists(out + "/certificates/p1-Signed_App-chain200-cert64.der"));
  }
}

}  // namespace
}  // namespace tarvik::test
