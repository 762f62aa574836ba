// Signature chains and capabilities: packages signed on the spot, and the signed corpus.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "parse/parse.hpp"
#include "signers/signers.hpp"
#include "views/fact_list.hpp"
#include "signers_fixture.hpp"
#include "bytes/encoding.hpp"
#include "support/mutate.hpp"
#include "views/facts.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

using signers::Trust;
using signers::Verdict;
using namespace test::signing;
namespace sis9w = test::sis9w;

sis9w::Controller OneFile() {
  sis9w::Controller c;
  c.names = {"Signed"};
  sis9w::File f;
  f.target = "!:\\sys\\bin\\app.exe";
  f.data = Bytes{1, 2, 3, 4};
  c.files.push_back(f);
  return c;
}

TEST(Signers, ChainsEndWhereTheirIssuersLead) {
  const Key leaf = NewKey(), root = NewKey(), stranger = NewKey();
  const Bytes selfSigned = MakeCertificate({"Maker", "Maker", leaf, leaf});
  const Bytes byRoot = MakeCertificate({"Maker", "Root CA", leaf, root});
  const Bytes rootCert = MakeCertificate({"Root CA", "Root CA", root, root});
  const Bytes fakeRoot = MakeCertificate({"Root CA", "Root CA", stranger, stranger});
  struct Case {
    const char* name;
    std::vector<Bytes> certificates;
    Trust trust;
    std::string endIssuer;
  };
  const Case cases[] = {
      {"self-signed", {selfSigned}, Trust::SelfSigned, "CN=Maker"},
      {"root carried", {byRoot, rootCert}, Trust::ChainedInPackage, "CN=Root CA"},
      {"root absent", {byRoot}, Trust::IssuerNotCarried, "CN=Root CA"},
      {"root of another key", {byRoot, fakeRoot}, Trust::Broken, "CN=Root CA"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    sis9w::Controller c = OneFile();
    c.chains.push_back(CarryingCertificates(k.certificates));
    const Bytes file = BuildSigned(c, leaf);
    const model::Package pkg = Parse(file, "p.sis");
    const signers::Report r = signers::Inspect(pkg, file);
    ASSERT_EQ(r.chains.size(), 1u);
    EXPECT_TRUE(r.problems.empty());
    EXPECT_EQ(r.chains[0].trust, k.trust);
    EXPECT_EQ(r.chains[0].endIssuer, k.endIssuer);
    ASSERT_EQ(r.chains[0].signatures.size(), 1u);
    EXPECT_EQ(r.chains[0].signatures[0].algorithm, "RSA-SHA1");
    EXPECT_EQ(r.chains[0].signatures[0].verdict, Verdict::Verified);
  }
}

// A second chain covers the first one; changing the first breaks only the second.
TEST(Signers, LaterChainsCoverEarlierOnes) {
  const Key key = NewKey();
  const Bytes cert = MakeCertificate({"Maker", "Maker", key, key});
  sis9w::Controller c = OneFile();
  c.chains = {CarryingCertificates({cert}), CarryingCertificates({cert})};
  const Bytes file = BuildSigned(c, key);
  const model::Package pkg = Parse(file, "p.sis");
  const auto bytes = signers::ControllerBytes(pkg, file);
  Bytes controller(bytes.begin(), bytes.end());
  ASSERT_EQ(pkg.signatures.size(), 2u);
  for (const auto& chain : pkg.signatures)
    EXPECT_EQ(signers::CheckSignatures(pkg, chain, controller)[0].verdict, Verdict::Verified);
  // The last byte of the first chain's signature.
  controller[static_cast<std::size_t>(pkg.signatures[1].offset) - 1] ^= 1;
  EXPECT_EQ(signers::CheckSignatures(pkg, pkg.signatures[0], controller)[0].verdict, Verdict::Verified);
  EXPECT_EQ(signers::CheckSignatures(pkg, pkg.signatures[1], controller)[0].verdict, Verdict::Failed);
}

// Many chains, each covering everything before it: every chain is checked, and the signed
// bytes are hashed once for all of them (not once per chain, which cost the square of the
// controller's size). Many embedded packages: each chain is told with its own package.
TEST(Signers, ManyChainsAreHashedOnce) {
  const Key key = NewKey();
  const Bytes cert = MakeCertificate({"Maker", "Maker", key, key});
  sis9w::Controller c = OneFile();
  for (int i = 0; i < 40; ++i) c.chains.push_back(CarryingCertificates({cert}));
  for (int i = 0; i < 30; ++i) {
    sis9w::Controller e;
    e.uid = 0xE0000100u + static_cast<std::uint32_t>(i);
    e.names = {"Embedded " + std::to_string(i)};
    e.signatureChains = 1;
    c.embedded.push_back(e);
  }
  const Bytes file = BuildSigned(c, key);
  const model::Package pkg = Parse(file, "p.sis");
  const signers::Report r = signers::Inspect(pkg, file);
  ASSERT_EQ(r.chains.size(), 70u);
  for (const signers::Chain& chain : r.chains)
    if (!chain.embedded) {
      EXPECT_EQ(chain.signatures.at(0).verdict, Verdict::Verified) << chain.index;
    }
  const auto controller = signers::ControllerBytes(pkg, file);
  EXPECT_LE(r.hashedBytes, controller.size());
  EXPECT_GT(r.hashedBytes, 0u);
  const std::vector<std::string> lines = views::SignerLines(pkg, r, signers::CollectCapabilities(pkg));
  for (int i : {0, 17, 29}) {
    const std::string head = "  Embedded package " + std::to_string(i + 2) + " \"Embedded " + std::to_string(i) + "\", chain 1";
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(head, 0) == 0; })) << head;
  }
}

// Damage and odd values in the signature part are told as what they are: a serial number
// of any length on one line, a damaged algorithm field as damage (not as an unknown
// algorithm), and an array length that runs on past its signatures invents none.
TEST(Signers, DamagedSignatureFieldsAreToldAsDamage) {
  const Key key = NewKey();
  {
    SCOPED_TRACE("long serial number");
    const std::string serial = "7F" + std::string(100, 'A');  // 51 bytes
    const signers::Certificate c = signers::DecodeCertificate(MakeCertificate({"M", "M", key, key}, serial));
    EXPECT_EQ(c.serial, serial);
  }
  const Bytes cert = MakeCertificate({"Maker", "Maker", key, key});
  sis9w::Controller c = OneFile();
  sis9w::Chain chain = CarryingCertificates({cert});
  chain.signature = Bytes(128, 7);
  c.chains.push_back(chain);
  const Bytes whole = sis9w::Build(c, sis9w::PackageOptions{.deflateController = false, .stub = true});
  {
    SCOPED_TRACE("damaged algorithm field");
    Bytes file = whole;
    const std::string oid = Utf8ToUtf16Le("1.2.840.113549.1.1.5");
    const auto at = std::search(file.begin(), file.end(), oid.begin(), oid.end());
    ASSERT_NE(at, file.end());
    test::Put32(file, static_cast<Pos>(at - file.begin()) - 8, 0x99);  // the OID's string field
    const model::Package pkg = Parse(file, "p.sis");
    const signers::Report r = signers::Inspect(pkg, file);
    ASSERT_EQ(r.chains.size(), 1u);
    ASSERT_EQ(r.chains[0].signatures.size(), 1u);
    EXPECT_EQ(r.chains[0].signatures[0].why, "the algorithm field is damaged");
    EXPECT_TRUE(std::any_of(pkg.problems.begin(), pkg.problems.end(),
                            [](const model::Problem& p) { return p.what == "signature algorithm"; }));
  }
  {
    SCOPED_TRACE("array length past its signatures");
    Bytes file = whole;
    // The signatures array: type 2, its length, element type 0x24.
    const Bytes mark{0x24, 0, 0, 0};
    auto at = file.begin();
    for (;;) {
      at = std::search(at + 1, file.end(), mark.begin(), mark.end());
      ASSERT_NE(at, file.end());
      if (at - file.begin() >= 8 && *(at - 8) == 0x02) break;
    }
    const Pos lengthAt = static_cast<Pos>(at - file.begin()) - 4;
    const std::uint32_t length = file[lengthAt] | file[lengthAt + 1] << 8;
    test::Put32(file, lengthAt, length + 16);
    const model::Package pkg = Parse(file, "p.sis");
    ASSERT_EQ(pkg.signatures.size(), 1u);
    EXPECT_EQ(pkg.signatures[0].signatures.size(), 1u);
    EXPECT_FALSE(pkg.problems.empty());
    const signers::Report r = signers::Inspect(pkg, file);
    for (const std::string& line : views::SignerLines(pkg, r, signers::CollectCapabilities(pkg)))
      EXPECT_EQ(line.find("Signature 2"), std::string::npos) << line;
  }
  EXPECT_EQ(views::ProblemText({model::Problem::Kind::Damaged, "no signature in signature chain 1 of package 1", 40, 0}),
            "no signature in signature chain 1 of package 1 at 40");
}

TEST(Signers, CertificatesValidityAgainstTheCreationDate) {
  const Key key = NewKey();
  struct Case {
    std::time_t from, to;
    bool expired, notYet;
  };
  // The package is made on 5 March 2007 at 09:05.
  const Case cases[] = {
      {Utc(2000, 1, 1), Utc(2001, 1, 1), true, false},
      {Utc(2006, 1, 1), Utc(2030, 1, 1), false, false},
      {Utc(2007, 3, 5), Utc(2030, 1, 1), false, false},  // the same day: zones make it undecidable
      {Utc(2008, 1, 1), Utc(2030, 1, 1), false, true},
  };
  for (const Case& k : cases) {
    sis9w::Controller c = OneFile();
    c.chains.push_back(CarryingCertificates({MakeCertificate({"Maker", "Maker", key, key, k.from, k.to})}));
    const Bytes file = BuildSigned(c, key);
    const signers::Report r = signers::Inspect(Parse(file, "p.sis"), file);
    ASSERT_EQ(r.chains.size(), 1u);
    EXPECT_EQ(!r.chains[0].expiredAtCreation.empty(), k.expired) << k.from;
    EXPECT_EQ(!r.chains[0].notYetValidAtCreation.empty(), k.notYet) << k.from;
  }
}

TEST(Signers, CertificateFacts) {
  const Key key = NewKey();
  const Bytes der = MakeCertificate({"Åsa Mäkinen — 東京", "Åsa Mäkinen — 東京", key, key, Utc(2006, 1, 2), Utc(2030, 1, 1), 0xBEEF});
  const signers::Certificate c = signers::DecodeCertificate(der);
  ASSERT_TRUE(c.decoded);
  EXPECT_EQ(c.subject, "CN=Åsa Mäkinen — 東京");
  EXPECT_EQ(c.serial, "BEEF");
  EXPECT_EQ(c.notBefore, "2006-01-02 00:00:00 UTC");
  EXPECT_EQ(c.keyType, "RSA");
  EXPECT_EQ(c.keyBits, 1024);
  EXPECT_EQ(c.sha1.size(), 59u);  // 20 bytes, colon-separated
  EXPECT_FALSE(signers::DecodeCertificate(Bytes{0x30, 0x03, 1, 2, 3}).decoded);
}

TEST(Signers, CapabilityNamesAndWhatSelfSigningCannotGet) {
  struct Case {
    std::uint32_t bits;
    std::vector<std::string> names;
    std::vector<std::string> beyond;
  };
  const Case cases[] = {
      {0, {}, {}},
      {1u << 0, {"TCB"}, {"TCB"}},
      {(1u << 13) | (1u << 15) | (1u << 19), {"NetworkServices", "ReadUserData", "UserEnvironment"}, {}},
      {(1u << 11) | (1u << 14), {"AllFiles", "LocalServices"}, {"AllFiles"}},
      {(1u << 18) | (1u << 17), {"Location", "SurroundingsDD"}, {"SurroundingsDD"}},
      {1u << 25, {"bit 25"}, {"bit 25"}},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(signers::CapabilityNames(k.bits), k.names) << k.bits;
    EXPECT_EQ(signers::CapabilityNames(k.bits & ~signers::kSelfSignable), k.beyond) << k.bits;
  }
}

TEST(Signers, CapabilitiesOfEveryFileIncludingEmbeddedOnes) {
  sis9w::Controller c = OneFile();
  c.files[0].caps = (1u << 15) | (1u << 16);
  sis9w::Controller inner;
  inner.names = {"Inner"};
  sis9w::File f;
  f.target = "!:\\sys\\bin\\server.exe";
  f.caps = 1u << 4;
  f.data = Bytes{5};
  inner.files.push_back(f);
  c.embedded.push_back(inner);
  const Bytes file = sis9w::Build(c);
  const signers::Capabilities caps = signers::CollectCapabilities(Parse(file, "p.sis"));
  ASSERT_EQ(caps.files.size(), 2u);
  EXPECT_EQ(caps.files[1].target, "!:\\sys\\bin\\server.exe");
  EXPECT_EQ(caps.files[1].packageOrdinal, 2);
  EXPECT_EQ(caps.all, (1u << 15) | (1u << 16) | (1u << 4));
  EXPECT_EQ(caps.beyondSelfSigned(), 1u << 4);
}

// Every signed package of the corpus verifies, embedded ones included; a byte changed inside
// the covered bytes makes it fail.
TEST(Signers, EverySignedCorpusPackageVerifies) {
  TARVIK_REQUIRE_SHARED();
  const std::string corpus = *test::SharedDir() + "/corpus/";
  std::vector<std::string> files;
  for (const auto& row : test::CorpusManifest())
    // A package whose controller cannot be read (the manifest notes why) has no chains to check.
    if (row.at("generation") == "9.x" && row.at("n_signatures") != "0" && !row.at("n_signatures").empty() &&
        row.at("problems").empty())
      files.push_back(row.at("file"));
  for (const char* made : {"made/sis9/signed/embed.sisx", "made/sis9/signed/langs.sisx", "made/sis9/signed/langs_2sig.sisx"})
    if (std::filesystem::exists(corpus + made)) files.push_back(made);
  ASSERT_GE(files.size(), 30u);
  std::size_t signatures = 0;
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    const Bytes file = test::ReadBytes(corpus + name);
    const model::Package pkg = Parse(file, name);
    const signers::Report r = signers::Inspect(pkg, file);
    ASSERT_FALSE(r.chains.empty());
    EXPECT_TRUE(r.problems.empty());
    for (const signers::Chain& c : r.chains)
      for (const signers::SignatureCheck& s : c.signatures) {
        EXPECT_EQ(s.verdict, Verdict::Verified) << s.why;
        ++signatures;
      }
    // One byte of the main controller's covered bytes, changed.
    const auto bytes = signers::ControllerBytes(pkg, file);
    Bytes controller(bytes.begin(), bytes.end());
    const auto [begin, end] = signers::SignedRange(pkg, pkg.signatures.at(0));
    ASSERT_LT(begin, end);
    controller[static_cast<std::size_t>((begin + end) / 2)] ^= 0x40;
    for (const signers::SignatureCheck& s : signers::CheckSignatures(pkg, pkg.signatures[0], controller))
      EXPECT_EQ(s.verdict, Verdict::Failed);
  }
  EXPECT_GE(signatures, 40u);
}

TEST(Signers, CorpusChainsOfEachKind) {
  TARVIK_REQUIRE_SHARED();
  const std::string corpus = *test::SharedDir() + "/corpus/";
  struct Case {
    const char* file;
    Trust trust;
    bool expired;
  };
  const Case cases[] = {
      {"EKA2L1__EKA2L1/BitmapCanavas.sisx", Trust::SelfSigned, false},
      {"Limows__LimFTPClient_S60/limftpclient.sis", Trust::SelfSigned, true},
      {"SymbianSource__oss.FCL.sf.mw.appinstall/CertWithUnicodeSubjectLine.SIS", Trust::IssuerNotCarried, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    const Bytes file = test::ReadBytes(corpus + k.file);
    const signers::Report r = signers::Inspect(Parse(file, k.file), file);
    ASSERT_FALSE(r.chains.empty());
    EXPECT_EQ(r.chains[0].trust, k.trust);
    EXPECT_EQ(!r.chains[0].expiredAtCreation.empty(), k.expired);
  }
  // Names held as UTF8String, main and embedded chains alike.
  const std::string name = "SymbianSource__oss.FCL.sf.mw.appinstall/CertWithUnicodeSubjectLine.SIS";
  const Bytes file = test::ReadBytes(corpus + name);
  const signers::Report r = signers::Inspect(Parse(file, name), file);
  ASSERT_EQ(r.chains.size(), 9u);
  EXPECT_EQ(std::count_if(r.chains.begin(), r.chains.end(), [](const signers::Chain& c) { return c.embedded; }), 8);
  for (const signers::Chain& c : r.chains) {
    ASSERT_EQ(c.certificates.size(), 1u);
    EXPECT_EQ(c.certificates[0].subject, "CN=Nokia Content,O=Nokia");
  }
  EXPECT_EQ(r.chains[0].certificates[0].serial, "19A8");
  EXPECT_EQ(r.chains[0].certificates[0].sha1, "89:8D:1F:C5:28:BC:A2:E3:05:15:FA:60:3D:5D:88:D9:6F:90:4C:B8");
}

}  // namespace
}  // namespace tarvik
