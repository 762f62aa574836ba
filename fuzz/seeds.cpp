// Writes seed inputs for a fuzz target, made with the test package builders:
//   fuzz_seeds TARGET DIR
#include <cstdio>
#include <fstream>
#include <string>

#include "project/project.hpp"
#include "sis9/limits.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"

namespace {

using tarvik::Bytes;
namespace w = tarvik::test::sis9w;
namespace t = tarvik::test;

void Save(const std::string& dir, const std::string& name, const Bytes& b) {
  std::ofstream out(dir + "/" + name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void Packages(const std::string& dir) {
  Save(dir, "demo.sisx", w::MakeDemoPackage());
  Save(dir, "many.sis", w::MakeManyFiles(12, 40, true));
  w::Controller c;
  c.files.push_back(w::File{});
  c.files.back().target = "!:\\data\\a.txt";
  c.files.back().data = Bytes{'h', 'i'};
  Save(dir, "stub.sis", w::Build(c, {.deflateController = false, .stub = true}));
  Save(dir, "stored.sis", w::Build(c, {.deflateController = false, .stub = false}));

  t::OldPackage r6;
  r6.languages = {1, 2};
  r6.names = {"Demo", "Demo FR"};
  const auto cond = t::oldx::Or(t::oldx::Eq(t::oldx::Var(0x1000), t::oldx::Num(1)), t::oldx::Exists("c:\\x"));
  r6.records = {t::OldIf(cond), t::OldFile("a.txt", "!:\\a.txt", "hello"), t::OldElse(),
                t::OldLangFile("b.txt", "!:\\b.txt", {"en", "fr"}), t::OldEndIf(),
                t::OldOptions({{"One", "Un"}, {"Two", "Deux"}})};
  r6.capabilities = {{1, 4}, {0, 1}};
  Save(dir, "old6.sis", t::BuildOldSis(r6));
  t::OldPackage r5 = r6;
  r5.uid2 = 0x1000006D;
  r5.installerVersion = 100;
  r5.options = 0x0002;
  Save(dir, "old5.sis", t::BuildOldSis(r5));

  // Long chains of one operator (49 ORed tests pre-9.x, 100 in 9.x) and variants of one target.
  auto test = [](std::uint32_t k) { return t::oldx::Eq(t::oldx::Var(5), t::oldx::Num(0x10000000 + k)); };
  t::OldExpr ors = test(0);
  for (std::uint32_t k = 1; k < 49; ++k) ors = t::oldx::Or(ors, test(k));
  t::OldPackage chained;
  chained.records = {t::OldEndIf(), t::OldFile("b\\v.dll", "!:\\v.dll", "else"), t::OldElse(),
                     t::OldFile("a\\v.dll", "!:\\V.DLL", "if"), t::OldIf(ors)};
  Save(dir, "old_chain.sis", t::BuildOldSis(chained));
  w::Expr chain = w::Eq(w::Var(5), w::Num(0x10000000));
  for (int k = 1; k < 100; ++k) chain = w::Or(w::Eq(w::Var(5), w::Num(0x10000000 + k)), chain);
  w::Controller chain9;
  chain9.ifs = {w::If{}};
  chain9.ifs[0].cond = chain;
  chain9.ifs[0].files = {w::TextFile("!:\\data\\v.txt", "variant")};
  Save(dir, "chain9.sis", w::Build(chain9));
}

// Packages made to cost more than their size, and names meant for a terminal.
void Hostile(const std::string& dir) {
  w::Controller plain;
  plain.files = {w::TextFile("!:\\data\\a.txt", "alpha\n"), w::TextFile("!:\\data\\b.txt", "beta\n", true)};
  const Bytes honest = w::Build(plain);
  // A controller stream that holds less than it declares.
  w::ControllerStream claim;
  claim.declaredSize = ((std::uint64_t{honest[52]} | std::uint64_t{honest[53]} << 8) - 12) * 1000;
  Save(dir, "padded-controller.sis", w::Build(plain, claim));
  // A controller beyond the ceiling, of real zeros.
  w::ControllerStream zeros;
  zeros.zeros = std::size_t{16} << 20;
  Save(dir, "controller-ceiling.sis", w::Build(plain, zeros));
  // Many descriptions of one deflated piece of data.
  w::Controller shared;
  for (int k = 0; k < 8; ++k) {
    w::File f = w::TextFile("!:\\d\\copy" + std::to_string(k), std::string(256 * 1024, '\0'), true);
    f.fileIndex = 0;
    shared.files.push_back(f);
  }
  Save(dir, "shared-data.sis", w::Build(shared));
  // Control characters in the name, a target and a condition; a file name past the limit.
  w::Controller esc;
  esc.names = {"\x1b]0;title\x07Name"};
  esc.files = {w::TextFile("!:\\d\\\x1b[2Jclear.txt", "x"), w::TextFile("!:\\d\\" + std::string(300, 'n'), "y")};
  w::If cond;
  cond.cond = w::Eq(w::Str("\x1b[31m"), w::Num(1));
  cond.files = {w::TextFile("!:\\d\\c.txt", "z")};
  esc.ifs = {cond};
  Save(dir, "escapes.sis", w::Build(esc));
}

// Session files as the program writes them: of both package kinds, empty, with Windows-1252
// characters beyond ASCII and a carried text, and a whole script of the demo package.
void Sessions(const std::string& dir) {
  struct Seed {
    const char* name;
    std::string text, carried;
    int kind;
  };
  const std::string demo = "&EN,FR\r\n#{\"Tarvik Demo\",\"D\xC3\xA9mo Tarvik\"},(0xE0DE0001),1,2,3\r\n"
                           "\"bin\\demo\\readme.txt\"-\"!:\\data\\demo\\readme.txt\"\r\n";
  const Seed seeds[] = {
      {"empty-old.qsd", "", "", 0},
      {"empty-9.qsd", "", "", 1},
      {"demo-9.qsd", demo, "", 1},
      {"accents-old.qsd", "caf\xC3\xA9 \xC2\xA3 \xE2\x82\xAC\r\n", "carried \xC3\xA9", 0},
      {"long-9.qsd", std::string(20000, 'x') + "\r\n" + demo, "c", 1},
  };
  for (const Seed& s : seeds) tarvik::project::SaveProject(dir + "/" + s.name, s.text, s.carried, s.kind);
}

void Scripts(const std::string& dir) {
  const std::string pkg = "&EN\r\n#{\"Demo\"},(0x10000001),1,0,0\r\n\"a.txt\"-\"!:\\a.txt\"\r\n";
  Save(dir, "a.pkg", Bytes(pkg.begin(), pkg.end()));
  const std::string bom = "\xFF\xFE&\0E\0N\0";
  Save(dir, "bom.pkg", Bytes(bom.begin(), bom.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_seeds TARGET DIR\n");
    return 2;
  }
  const std::string target = argv[1], dir = argv[2];
  if (target == "fuzz_open_pkg") {
    Scripts(dir);
  } else if (target == "fuzz_open_qsd") {
    Sessions(dir);
  } else {
    Packages(dir);
    Hostile(dir);
  }
  return 0;
}
