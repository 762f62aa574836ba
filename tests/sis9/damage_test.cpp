// Damaged packages: every truncation and many single-byte changes of a package that uses
// every record kind must end the reading normally, with only what could be read.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "platform/platform.hpp"
#include "sis9_fixture.hpp"
#include "support/mutate.hpp"
#include "bytes/encoding.hpp"

namespace tarvik::test {
namespace {

w::Controller Rich() {
  w::Controller inner;
  inner.uid = 0xE0000003;
  inner.names = {"Inner"};
  inner.files = {TextFile("!:\\inner.txt", "inner")};
  inner.signatureChains = 1;
  w::Controller child;
  child.uid = 0xE0000002;
  child.names = {"Child", "Enfant"};
  child.languages = {1, 2};
  child.files = {TextFile("!:\\child.txt", "child")};
  child.embedded = {inner};
  w::Controller c;
  c.uid = 0xE0000001;
  c.names = {"Rich", "Riche"};
  c.vendors = {"V", "W"};
  c.languages = {1, 2};
  c.options = {{"A", "A2"}, {"B", "B2"}};
  c.targets = {{0x101F7961, {0, 0, 0}, {}, {"S60", "S60"}}, {0x1028315F, {5, 0, -1}, w::Version{5, 9, -1}, {"5th", "5e"}}};
  c.dependencies = {{0xE0F00002, {1, 0, 0}, w::Version{2, 5, 0}, {"Dep", "Dep"}}};
  c.properties = {{1, 2}, {3, -4}};
  w::File logo = TextFile("!:\\logo.png", "PNG");
  logo.op = 3;
  logo.mime = "image/png";
  c.logo = logo;
  w::File run = TextFile("!:\\sys\\bin\\r.exe", "run");
  run.op = 2;
  run.options = 0x8016;
  run.caps = 0xFFFFF;
  w::File text = TextFile("", "notice");
  text.op = 4;
  w::File null;
  null.target = "!:\\gone.dat";
  null.op = 8;
  c.files = {TextFile("!:\\a.txt", "a"), run, text, null};
  w::If i;
  i.cond = w::And(w::Not(w::Exists("c:\\x")), w::Or(w::Eq(w::Lang(), w::Num(1)), w::Package(0xE0F00002)));
  i.files = {TextFile("!:\\if.txt", "if")};
  i.embedded = {child};
  w::If nested;
  nested.cond = w::Bin(w::GE, w::AppProp(0xE0F00002, 1), w::Num(5));
  i.ifs = {nested};
  i.elseIfs = {{w::Option(1), {TextFile("!:\\e.txt", "e")}, {}, {}}, {w::Else(), {}, {}, {}}};
  c.ifs = {i};
  c.signatureChains = 2;
  return c;
}

// "what at where" of each problem, in order.
std::vector<std::string> Problems(const model::Package& p) {
  std::vector<std::string> out;
  for (const model::Problem& q : p.problems) out.push_back(q.what + " at " + std::to_string(q.where));
  return out;
}

// What holds after any damage: the reading ended with a model and a view, every row with
// data points inside the file, and no two rows share an extraction path.
void ExpectUsableView(const Viewed& v) {
  std::set<std::string> paths;
  for (const views::FileRow& r : v.view.files) {
    EXPECT_TRUE(paths.insert(ToLower(r.extractPath)).second) << r.extractPath;
    if (!r.hasData) continue;
    EXPECT_GE(r.offset, 0) << r.target;
    EXPECT_LE(static_cast<std::uint64_t>(r.offset) + r.compressedSize, v.bytes.size()) << r.target;
  }
  EXPECT_LE(v.package.problems.size(), 64u);
}

const std::size_t kRows = 8;  // a, r.exe, the text, the logo, if.txt, e.txt, child.txt, inner.txt

TEST(Damage, IntactPackageReadsCleanly) {
  for (bool deflate : {false, true}) {
    SCOPED_TRACE(deflate);
    const Viewed v(Rich(), {.deflateController = deflate});
    EXPECT_TRUE(v.package.problems.empty());
    ASSERT_EQ(v.view.files.size(), kRows);
    for (const views::FileRow& r : v.view.files) {
      const std::string data = v.Data(r);
      EXPECT_TRUE(r.hasData && data != "<outside>" && data != "<corrupt>") << r.target;
      ASSERT_TRUE(r.sha1) << r.target;
    }
  }
}

// A corrupt length in one entry of a list of names ends that list; the entries after it are
// lost, and the damage is recorded under the list's name rather than dropped in silence.
TEST(Damage, CorruptNameEntriesAreRecorded) {
  struct Case {
    const char* text;  // the entry whose length word is made to overrun its list
    const char* what;  // the problem recorded
  };
  const Case cases[] = {{"PkgNameX", "package names"},
                        {"VendorNameX", "vendor names"},
                        {"OptionNameX", "option names"},
                        {"DeviceNameX", "target device names"},
                        {"DependencyNameX", "dependency names"}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    w::Controller c;
    c.names = {"PkgNameX", "Second"};
    c.vendors = {"VendorNameX", "Second"};
    c.languages = {1, 2};
    c.options = {{"OptionNameX", "Second"}};
    c.targets = {{0x101F7961, {0, 0, 0}, {}, {"DeviceNameX", "Second"}}};
    c.dependencies = {{0xE0F00002, {1, 0, 0}, {}, {"DependencyNameX", "Second"}}};
    Bytes file = w::Build(c, w::PackageOptions{.deflateController = false, .stub = true});
    const std::string u = Utf8ToUtf16Le(k.text);
    const auto at = std::search(file.begin(), file.end(), u.begin(), u.end());
    ASSERT_NE(at, file.end());
    Put32(file, static_cast<Pos>(at - file.begin()) - 4, 0x7FFF);
    const model::Package pkg = Parse(file, "damaged.sis");
    std::vector<std::string> whats;
    for (const model::Problem& p : pkg.problems) whats.push_back(p.what);
    EXPECT_NE(std::find(whats.begin(), whats.end(), k.what), whats.end()) << ::testing::PrintToString(whats);
  }
}

TEST(Damage, EveryTruncation) {
  const Viewed intact(Rich(), {.deflateController = false});
  ASSERT_TRUE(intact.package.frame);
  const std::int64_t controllerEnd = 68 + static_cast<std::int64_t>(intact.package.frame->controllerUncompressedSize);
  const Bytes& full = intact.bytes;
  for (std::size_t n = 1; n < full.size(); ++n) {
    SCOPED_TRACE(n);
    const Viewed v(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
    ExpectUsableView(v);
    const auto got = Problems(v.package);
    ASSERT_FALSE(got.empty());
    if (n < 4) {
      EXPECT_EQ(got, std::vector<std::string>{"package at 0"});
    } else if (n <= 48) {
      EXPECT_EQ(got[0].rfind("controller at ", 0), 0u) << got[0];  // the frame is cut
    } else if (n > 48 && static_cast<std::int64_t>(n) < controllerEnd) {
      EXPECT_EQ(got[0], "controller at 48");  // the controller's field runs past the end
    } else if (static_cast<std::int64_t>(n) >= controllerEnd) {
      EXPECT_EQ(got[0], "file data at " + std::to_string(controllerEnd));
      EXPECT_EQ(v.view.files.size(), kRows);  // the controller was read whole
    }
  }
}

TEST(Damage, EveryTruncationOfAStub) {
  const Bytes stub = w::Build(Rich(), {.stub = true});
  for (std::size_t n = 1; n < stub.size(); ++n) {
    SCOPED_TRACE(n);
    const Viewed v(Bytes(stub.begin(), stub.begin() + static_cast<long>(n)));
    ExpectUsableView(v);
    const auto got = Problems(v.package);
    if (n < 4) {
      EXPECT_EQ(got, std::vector<std::string>{"package at 0"});
    } else if (n < 8) {
      // Only the controller's type word: nothing is read and nothing reported.
      EXPECT_TRUE(got.empty());
      EXPECT_FALSE(v.package.controllerRead);
      EXPECT_TRUE(v.view.script.empty());
    } else {
      ASSERT_FALSE(got.empty());
      EXPECT_EQ(got[0], "controller at 0");  // its field runs past the end
    }
  }
}

// A byte or a word changed anywhere in a stub: the reading ends with a usable view.
TEST(Damage, ChangedBytesAndHugeLengths) {
  const Bytes stub = w::Build(Rich(), {.stub = true});
  auto check = [&](const Bytes& b, std::size_t at) {
    SCOPED_TRACE(at);
    const Viewed v(b);
    ExpectUsableView(v);
  };
  for (std::size_t i = 0; i < stub.size(); ++i)
    for (std::uint8_t value : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x1A}, std::uint8_t{0x1D},
                               static_cast<std::uint8_t>(stub[i] ^ 0x80)}) {
      Bytes b = stub;
      b[i] = value;
      check(b, i);
    }
  // Every aligned word replaced by a huge length, with and without the 63-bit form.
  for (std::size_t i = 4; i + 8 <= stub.size(); i += 4)
    for (std::uint32_t value : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
      Bytes b = stub;
      for (int k = 0; k < 4; ++k) b[i + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(value >> (8 * k));
      check(b, i);
    }
}

using DamageApp = Sis9Fixture;

TEST_F(DamageApp, DeepNestingOfBlocksAndExpressionsIsBounded) {
  w::If inner;
  inner.cond = w::Num(1);
  for (int i = 0; i < 200; ++i) {
    w::If outer;
    outer.cond = w::Num(1);
    outer.ifs = {inner};
    inner = outer;
  }
  w::Expr deep = w::Num(1);
  for (int i = 0; i < 200; ++i) deep = w::Not(deep);
  inner.cond = deep;
  w::Controller c;
  c.ifs = {inner};
  Open(c);
  ASSERT_EQ(ui.messages.size(), 1u);
  // The expression is too deep 200 levels down, and is left out whole rather than cut; the
  // blocks, further down their nesting.
  EXPECT_EQ(ui.messages[0].text,
            "Tarvik Damaged package data: could not read condition nested too deep at 312; condition blocks nested "
            "too deep at 11656");
  EXPECT_EQ(test::PackageOf(app)->body.ifs[0].branch.condition.op, model::ExprOp::None);
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Plain);
}

}  // namespace
}  // namespace tarvik::test
