// Damaged packages: every truncation and many single-byte changes of a package that uses
// every record kind must end the reading normally, with only what could be read.

#include <gtest/gtest.h>

#include "sis9/sis9.hpp"
#include "sis9_fixture.hpp"

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

struct Damage : Sis9Fixture {
  // Reads the bytes as the package in the buffer; the reading must end and leave the
  // tables consistent.
  void Read(const Bytes& bytes) {
    app.buffer.data = bytes;
    ui.messages.clear();
    const std::string script = sis9::OpenSISFile3(app, dir / "pkg.sis");
    ASSERT_LE(app.stores.ListView1.Count(), 64u);
    ASSERT_LE(app.stores.ListView7.Count(), 512u);
    EXPECT_EQ(app.state.dataMark, static_cast<std::int32_t>(app.stores.ListView1.Count()));
    EXPECT_EQ(app.state.formatMarker, 1);
    EXPECT_LE(ui.messages.size(), 3u);
  }
};

TEST_F(Damage, IntactPackageReadsCleanly) {
  w::PackageOptions o;
  o.deflateController = false;
  Read(w::Build(Rich(), o));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(app.stores.ListView1.Count(), 8u);
}

TEST_F(Damage, EveryTruncation) {
  w::PackageOptions o;
  o.deflateController = false;
  const Bytes full = w::Build(Rich(), o);
  for (std::size_t n = 0; n < full.size(); ++n) Read(Bytes(full.begin(), full.begin() + static_cast<long>(n)));
  w::PackageOptions s;
  s.stub = true;
  const Bytes stub = w::Build(Rich(), s);
  for (std::size_t n = 0; n < stub.size(); ++n) Read(Bytes(stub.begin(), stub.begin() + static_cast<long>(n)));
}

TEST_F(Damage, SingleByteChanges) {
  w::PackageOptions s;
  s.stub = true;
  const Bytes stub = w::Build(Rich(), s);
  for (std::size_t i = 0; i < stub.size(); ++i)
    for (std::uint8_t v : {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x1A}, std::uint8_t{0x1D},
                           static_cast<std::uint8_t>(stub[i] ^ 0x80)}) {
      Bytes b = stub;
      b[i] = v;
      Read(b);
    }
}

TEST_F(Damage, HugeLengthsAndCounts) {
  w::PackageOptions s;
  s.stub = true;
  const Bytes stub = w::Build(Rich(), s);
  // Every aligned word replaced by a huge length, with and without the 63-bit form.
  for (std::size_t i = 4; i + 8 <= stub.size(); i += 4)
    for (std::uint32_t v : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
      Bytes b = stub;
      for (int k = 0; k < 4; ++k) b[i + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
      Read(b);
    }
}

TEST_F(Damage, DeepNestingOfBlocksAndExpressionsIsBounded) {
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
  EXPECT_NE(ui.messages[0].text.find("nested too deep"), std::string::npos);
  EXPECT_NE(ui.messages[0].text.find("condition at"), std::string::npos);
}

}  // namespace
}  // namespace tarvik::test
