// Hostile input: truncated packages, extreme length fields, impossible counts and sizes.
// Every case must end (with its message where one is specified) without a crash, a hang,
// a leak or undefined behaviour; the sanitizer build runs the same table.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "bytes/inflate.hpp"
#include "extract/extract.hpp"
#include "parse/parse.hpp"
#include "window/commands.hpp"
#include "views/views.hpp"
#include "signers/signers.hpp"
#include "views/fact_list.hpp"
#include "signers/signers_fixture.hpp"
#include "support/fake_ui.hpp"
#include "support/mutate.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using test::CollectLengths;
using test::Controller;
using test::Put32;

// One app reused for many opens, as a person opening file after file would. The bytes are
// opened from memory: no case touches the disk.
struct Opener {
  test::FakeUi ui;
  test::TempDir dir;
  window::Commands app{ui, test::TestPlatform(dir)};

  std::string Open(const Bytes& bytes, const std::string& name = "hostile.sis") {
    ui.messages.clear();
    app.OpenBytes(name, bytes);
    return ui.text;
  }
};

// A package read from memory with its views, with and without a Working Directory.
struct Read {
  model::Package package;
  views::PackageView view;
  explicit Read(const Bytes& bytes) : package(Parse(bytes, "hostile.sis")), view(views::Describe(package, {})) {
    views::Describe(package, {"/w/"});
  }
  // Files whose bytes lie past the end of `bytes` (the package it was read from) are never
  // written: extraction names them instead.
  ::testing::AssertionResult NothingPastTheEndIsWritten(const Bytes& bytes) const {
    std::vector<views::FileRow> outside;
    for (const views::FileRow& r : view.files)
      if (r.hasData && (r.offset < 0 || static_cast<std::uint64_t>(r.offset) + r.compressedSize > bytes.size()))
        outside.push_back(r);
    if (outside.empty()) return ::testing::AssertionSuccess();
    extract::QuietReporter quiet;
    test::TempDir dir;
    const extract::Result result = extract::ExtractAll(bytes, package.generation, outside, dir.Path() + "/", quiet);
    if (!result.written.empty()) return ::testing::AssertionFailure() << result.written.front().path << " was written";
    if (result.pastEnd.size() + result.failures.size() < outside.size())
      return ::testing::AssertionFailure() << "not every file past the end was named";
    return ::testing::AssertionSuccess();
  }
};

std::vector<std::string> CorpusPackages(std::uintmax_t maxSize) {
  std::vector<std::string> out;
  auto shared = test::SharedDir();
  if (!shared) return out;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(*shared + "/corpus", ec)) {
    if (!e.is_regular_file()) continue;
    const std::string ext = ToLower(e.path().extension().string());
    if ((ext == ".sis" || ext == ".sisx") && e.file_size() <= maxSize) out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// At most `n` of the items, spread evenly over the list.
std::vector<std::string> Spread(const std::vector<std::string>& items, std::size_t n) {
  if (items.size() <= n) return items;
  std::vector<std::string> out;
  for (std::size_t k = 0; k < n; ++k) out.push_back(items[k * items.size() / n]);
  return out;
}

// Offsets at which to cut a file of `size` bytes: every offset of the first 192 bytes (the
// headers and the first fields), then about 200 more spread over the rest, and the last few.
std::vector<std::size_t> CutPoints(std::size_t size) {
  std::vector<std::size_t> cuts;
  for (std::size_t k = 0; k < std::min<std::size_t>(size, 192); ++k) cuts.push_back(k);
  if (size > 192) {
    const std::size_t step = std::max<std::size_t>(1, (size - 192) / 200);
    for (std::size_t k = 192; k < size; k += step) cuts.push_back(k);
    for (std::size_t k = size > 8 ? size - 8 : 0; k < size; ++k) cuts.push_back(k);
  }
  return cuts;
}

TEST(Hostile, TruncatedCorpusPackagesOpen) {
  TARVIK_REQUIRE_SHARED();
  int opened = 0;
  for (const auto& path : Spread(CorpusPackages(64 * 1024), 16)) {
    const Bytes whole = test::ReadBytes(path);
    for (std::size_t cut : CutPoints(whole.size())) {
      const Bytes bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
      const Read r(bytes);
      EXPECT_TRUE(r.NothingPastTheEndIsWritten(bytes)) << path << " cut at " << cut;
      ++opened;
    }
  }
  EXPECT_GT(opened, 500);
}

TEST(Hostile, ExtremeLengthFieldsInControllers) {
  TARVIK_REQUIRE_SHARED();
  int mutated = 0, reported = 0;
  for (const auto& path : Spread(CorpusPackages(128 * 1024), 24)) {
    auto controller = Controller(test::ReadBytes(path));
    if (!controller) continue;
    const ByteView b(*controller);
    std::vector<Pos> lengths;
    CollectLengths(b, 0, b.Size(), 0, lengths);
    // A sample of the length fields of each controller; each opened as a stub (a bare
    // controller is a complete package on its own).
    const std::size_t step = std::max<std::size_t>(1, lengths.size() / 40);
    for (std::size_t i = 0; i < lengths.size(); i += step) {
      const Pos at = lengths[i];
      struct Form {
        std::uint32_t first, second;
        bool wide;
      };
      const Form forms[] = {{0, 0, false},
                            {static_cast<std::uint32_t>(controller->size()), 0, false},
                            {0x7FFFFFFF, 0, false},
                            {0xFFFFFFFF, 0xFFFFFFFF, true}};
      for (const Form& f : forms) {
        Bytes m = *controller;
        Put32(m, at, f.first);
        if (f.wide) Put32(m, at + 4, f.second);
        const Read r(m);
        EXPECT_TRUE(r.package.stub);
        // A stub offers nothing for extraction; its script is made whatever the lengths say.
        if (!r.package.problems.empty()) ++reported;
        ++mutated;
      }
    }
  }
  EXPECT_GT(mutated, 100);
  // A length of 0 can be sound; most other forms are not.
  EXPECT_GT(reported, mutated / 2);
}

TEST(Hostile, ImpossibleRecordCountOverAShortRecordList) {
  TARVIK_REQUIRE_SHARED();
  int seen = 0;
  for (const auto& path : CorpusPackages(1 << 20)) {
    Bytes b = test::ReadBytes(path);
    if (b.size() < 64 || !(b[8] == 0x19 && b[9] == 0x04 && b[10] == 0x00 && b[11] == 0x10)) continue;
    b[20] = 0xFF;
    b[21] = 0xFF;  // 65535 records
    const Read r(b);
    ++seen;
    // Never more records than fit in the file.
    EXPECT_LT(r.package.records.size(), b.size() / 4) << path;
  }
  EXPECT_GT(seen, 0);
}

TEST(Hostile, ClaimedControllerSizesCostNoMemoryOfTheirOwn) {
  // The demo package's SISCompressed field: its length part at 52, the declared size at 60.
  const Bytes demo = test::sis9w::MakeDemoPackage();
  struct Claim {
    std::uint32_t lengthLow, lengthHigh, declaredLow, declaredHigh;
  };
  for (const Claim& c : {Claim{0xFF00026A, 0xFFF7FFFF, 0x9C780000, 0x65E3FFFF},
                         Claim{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
                         Claim{0x7FFFFFFF, 0, 0xFFFFFFFF, 0x7FFFFFFF}}) {
    Bytes m = demo;
    Put32(m, 52, c.lengthLow);
    Put32(m, 56, c.lengthHigh);
    Put32(m, 60, c.declaredLow);
    Put32(m, 64, c.declaredHigh);
    // Under the sanitizers an allocation of the claimed size would end the run.
    const Read r(m);
    EXPECT_FALSE(r.package.problems.empty());
  }
}

TEST(Hostile, SessionAnnouncingFourGigabytes) {
  Opener o;
  const std::string payload = "x";
  Bytes z;
  ASSERT_EQ(Compress(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size(), z), zstatus::Ok);
  const std::string header = "QSDFFFFFFFF1";
  Bytes file(header.begin(), header.end());
  file.resize(header.size() + z.size());
  std::copy(z.begin(), z.end(), file.begin() + static_cast<std::ptrdiff_t>(header.size()));
  EXPECT_EQ(o.Open(file, "big.qsd"), "");
  EXPECT_EQ(o.ui.MessageTexts(),
            (std::vector<std::string>{"Error to open file: Input file corrupted, expected file size 4294967295"}));
}

TEST(Hostile, EmptyAndTinyFilesOfEveryKind) {
  Opener o;
  for (const char* name : {"e.sis", "e.sisx", "e.qsd", "e.pkg"}) {
    const bool package = std::string(name).find(".sis") != std::string::npos;
    for (std::size_t n : {0u, 1u, 4u, 12u, 16u, 24u}) {
      for (std::uint8_t fill : {std::uint8_t{0xFF}, std::uint8_t{0x00}}) {
        o.Open(Bytes(n, fill), name);
        // Nothing of a few bytes is a package with files; every non-empty one that claims
        // to be a package or a session is refused with a message.
        EXPECT_TRUE(test::ViewOf(o.app).files.empty()) << name << " " << n;
        if (n > 0 && name != std::string("e.pkg")) {
          EXPECT_FALSE(o.ui.messages.empty()) << name << " " << n;
        }
        if (package && n == 0) {
          EXPECT_TRUE(o.ui.messages.empty()) << "an empty file says nothing";
        }
      }
    }
  }
}

TEST(Hostile, PreNineBlocksThatEndBeforeTheyBegin) {
  Opener o;
  using test::OldPackage;
  struct Case {
    const char* name;
    std::vector<test::OldRecord> records;
  };
  const auto file = test::OldFile("a.txt", "!:\\a.txt");
  const auto cond = test::oldx::Eq(test::oldx::Var(0x1000), test::oldx::Num(1));
  std::vector<test::OldRecord> deep;
  for (int k = 0; k < 400; ++k) deep.push_back(test::OldIf(cond));
  deep.push_back(file);
  const Case cases[] = {
      {"EndIf first", {test::OldEndIf(), file, test::OldEndIf()}},
      {"Else first", {test::OldElse(), file, test::OldEndIf()}},
      {"ElseIf first", {test::OldElseIf(cond), file}},
      {"If never closed", {test::OldIf(cond), file}},
      {"400 nested If", deep},
  };
  for (const auto& c : cases) {
    OldPackage pkg;
    pkg.records = c.records;
    const std::string text = o.Open(test::BuildOldSis(pkg));
    EXPECT_NE(text.find("a.txt"), std::string::npos) << c.name;  // the file line survives
    EXPECT_EQ(test::ViewOf(o.app).files.size(), 1u) << c.name;
  }
}

TEST(Hostile, NineBlocksAndNestingBeyondTheBounds) {
  Opener o;
  namespace w = test::sis9w;
  // Embedded controllers nested far deeper than any real package.
  w::Controller root;
  w::Controller* at = &root;
  for (int k = 0; k < 60; ++k) {
    at->embedded.push_back(w::Controller{});
    at = &at->embedded.back();
    at->uid = 0xE0000100 + static_cast<std::uint32_t>(k);
  }
  o.Open(w::Build(root));
  EXPECT_FALSE(o.ui.messages.empty());  // reported, not silently cut
  // If blocks nested hundreds deep.
  w::Controller blocks;
  w::If* inner = nullptr;
  blocks.ifs.push_back(w::If{});
  inner = &blocks.ifs.back();
  for (int k = 0; k < 300; ++k) {
    inner->cond = w::Bin(w::EQ, w::Var(0x1000), w::Num(1));
    inner->ifs.push_back(w::If{});
    inner = &inner->ifs.back();
  }
  inner->cond = w::Num(1);
  o.Open(w::Build(blocks));
  ASSERT_TRUE(test::PackageOf(o.app));
  const auto& problems = test::PackageOf(o.app)->problems;
  EXPECT_TRUE(std::any_of(problems.begin(), problems.end(),
                          [](const model::Problem& p) { return p.what == "condition blocks nested too deep"; }));
  ASSERT_FALSE(o.ui.messages.empty());
  EXPECT_NE(o.ui.messages.back().text.find("condition blocks nested too deep"), std::string::npos);
  // An If whose length ends before its own members begin.
  w::Controller shortIf;
  shortIf.ifs.push_back(w::If{});
  shortIf.ifs.back().cond = w::Num(1);
  Bytes bytes = w::Build(shortIf, {.deflateController = false, .stub = true});
  const std::string whole = Read(bytes).view.script;
  for (std::size_t k = 0; k + 8 <= bytes.size(); k += 4)
    if (bytes[k] == 0x1A && bytes[k + 1] == 0 && bytes[k + 2] == 0 && bytes[k + 3] == 0) {
      for (std::uint32_t len : {0u, 2u, 4u}) {
        Bytes m = bytes;
        Put32(m, static_cast<Pos>(k + 4), len);
        // Reported, or a length that changes nothing read (an empty array said shorter).
        const Read r(m);
        EXPECT_TRUE(!r.package.problems.empty() || r.view.script == whole) << "If of length " << len << " at " << k;
      }
    }
}

// Damaged signature chains are reported in the signers' problems, never a crash.
TEST(Hostile, DamagedSignatureChains) {
  namespace w = test::sis9w;
  const test::signing::Key key = test::signing::NewKey();
  const Bytes cert = test::signing::MakeCertificate({"Maker", "Maker", key, key});
  ASSERT_GT(cert.size(), 200u);
  ASSERT_EQ(cert[1], 0x82);  // a two-byte length, cut below by 16 bytes
  Bytes cut(cert.begin(), cert.end() - 16);
  const std::size_t inner = (std::size_t{cert[2]} << 8 | cert[3]) - 16;
  cut[2] = static_cast<std::uint8_t>(inner >> 8);
  cut[3] = static_cast<std::uint8_t>(inner);
  struct Case {
    const char* name;
    w::Chain chain;
    const char* problem;  // a part of the problem reported
  };
  auto chain = [](std::vector<Bytes> certs, Bytes signature, std::optional<std::uint32_t> length = {}) {
    w::Chain c;
    c.certificates = std::move(certs);
    c.signature = std::move(signature);
    c.signatureLength = length;
    return c;
  };
  const Case cases[] = {
      {"garbage certificate", chain({Bytes{0x30, 0x06, 1, 2, 3, 4, 5, 6}}, Bytes(128, 7)), "certificate 1 of"},
      {"truncated certificate", chain({cut}, Bytes(128, 7)), "certificate 1 of"},
      {"zero certificates", chain({}, Bytes(128, 7)), "no certificate in"},
      {"absurd signature length", chain({cert}, Bytes(128, 7), 0xFFFFFFF0u), "empty or unreadable"},
      {"signature length past the chain", chain({cert}, Bytes(128, 7), 4096), "empty or unreadable"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    w::Controller c;
    c.chains.push_back(k.chain);
    const Bytes bytes = w::Build(c);
    const model::Package pkg = Parse(bytes, "hostile.sis");
    const signers::Report r = signers::Inspect(pkg, bytes);
    const std::vector<std::string> lines = views::SignerLines(pkg, r, signers::CollectCapabilities(pkg));
    EXPECT_TRUE(std::any_of(r.problems.begin(), r.problems.end(),
                            [&](const model::Problem& p) { return p.what.find(k.problem) != std::string::npos; }))
        << ::testing::PrintToString(lines);
    for (const signers::Chain& ch : r.chains)
      for (const signers::SignatureCheck& s : ch.signatures) EXPECT_NE(s.verdict, signers::Verdict::Verified);
  }
}

}  // namespace
}  // namespace tarvik
