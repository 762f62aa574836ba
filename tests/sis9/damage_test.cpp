// Damaged packages: every truncation and many single-byte changes of a package that uses
// every record kind must end the reading normally, with only what could be read.

#include <gtest/gtest.h>

#include <cstdio>
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

TEST(DamageExplore, Dump) {
  w::PackageOptions o;
  o.deflateController = false;
  const Bytes full = w::Build(Rich(), o);
  w::PackageOptions st;
  st.stub = true;
  const Bytes stub = w::Build(Rich(), st);
  for (const Bytes* b : {&full, &stub}) {
    std::printf("size %zu\n", b->size());
    for (std::size_t n = 0; n <= b->size(); ++n) {
      const Viewed v(Bytes(b->begin(), b->begin() + static_cast<long>(n)));
      std::string s;
      for (const auto& q : v.package.problems) s += std::to_string(int(q.kind)) + ":" + q.what + "@" + std::to_string(q.where) + "; ";
      std::printf("%zu rows=%zu %s\n", n, v.view.files.size(), s.c_str());
    }
  }
}

}  // namespace
}  // namespace tarvik::test
