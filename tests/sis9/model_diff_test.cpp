// Differential test: every 9.x package of the corpus and a set of writer-made packages
// (whole, cut at many points, with mangled length fields, nested beyond the bounds) opened
// through the Open command and through ParsePackage + DescribeSis9, with the Working
// Directory empty and set. Scaffolding for as long as both readers exist.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/platform.hpp"
#include "sis9/model_diff.hpp"
#include "support/fake_ui.hpp"
#include "support/mutate.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;
namespace w = sis9w;

struct Differ {
  FakeUi ui;
  TempDir dir;
  App app{ui, TestPlatform(dir)};
  int compared = 0;
  Differ() { app.Form_Load(); }

  void Check(const Bytes& bytes, const std::string& name) {
    if (!GoesToSis9Reader(bytes)) return;
    const std::string path = dir.Write(name, bytes);
    for (const char* folder : {"", "/w/", "C:\\work"}) {
      SCOPED_TRACE(name + " with Working Directory \"" + folder + "\"");
      app.state.defaultSourceFolder = folder;
      const std::size_t before = ui.messages.size();
      OpenThroughMenu(app, ui, path);
      ExpectModelMatchesLegacy(app, ui, before, bytes, path);
      ++compared;
    }
  }
};

std::vector<std::string> CorpusPackages() {
  std::vector<std::string> out;
  auto shared = SharedDir();
  if (!shared) return out;
  for (const auto& e : fs::recursive_directory_iterator(*shared + "/corpus")) {
    if (!e.is_regular_file()) continue;
    const std::string ext = ToLower(e.path().extension().string());
    if (ext == ".sis" || ext == ".sisx") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Every offset of the first 160 bytes, then about 120 more over the rest.
std::vector<std::size_t> CutPoints(std::size_t size) {
  std::vector<std::size_t> cuts;
  for (std::size_t k = 1; k < std::min<std::size_t>(size, 160); ++k) cuts.push_back(k);
  if (size > 160) {
    const std::size_t step = std::max<std::size_t>(1, (size - 160) / 120);
    for (std::size_t k = 160; k < size; k += step) cuts.push_back(k);
  }
  return cuts;
}

void CheckCuts(Differ& d, const Bytes& whole, const std::string& name) {
  for (std::size_t cut : CutPoints(whole.size()))
    d.Check(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)), name + ".cut.sis");
}

// The controller of `file` as a stub with each sampled length field set to extreme values.
void CheckMangled(Differ& d, const Bytes& file, std::size_t samples) {
  auto controller = Controller(file);
  if (!controller) return;
  FileBuffer b;
  b.data = *controller;
  std::vector<Pos> lengths;
  CollectLengths(b, 0, b.Size(), 0, lengths);
  const std::size_t step = std::max<std::size_t>(1, lengths.size() / samples);
  for (std::size_t i = 0; i < lengths.size(); i += step)
    for (std::uint32_t v : {0u, 2u, static_cast<std::uint32_t>(controller->size()), 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      Bytes m = *controller;
      Put32(m, lengths[i], v);
      if (v == 0xFFFFFFFFu) Put32(m, lengths[i] + 4, v);
      d.Check(m, "mangled.sis");
    }
}

w::File Text(const std::string& target, const std::string& body, bool deflate = false) {
  w::File f;
  f.target = target;
  f.data.assign(body.begin(), body.end());
  f.deflate = deflate;
  return f;
}

// A package that uses most of what the format can say.
Bytes RichPackage() {
  w::Controller inner;
  inner.uid = 0xE0000003;
  inner.names = {"Inner"};
  inner.files = {Text("!:\\data\\inner.txt", "inner")};
  w::Controller child;
  child.uid = 0xE0000002;
  child.names = {"Child", "Enfant"};
  child.languages = {1, 2};
  child.files = {Text("c:\\data\\child.txt", "child", true)};
  child.embedded = {inner};
  w::Controller twin = inner;  // a second package of the same name
  twin.uid = 0xE0000004;
  w::Controller main;
  main.uid = 0xE0000001;
  main.names = {"Rich", "Riche", "Reich"};
  main.vendors = {"V", "V fr", "V de"};
  main.languages = {1, 2, 3};
  main.version = {2, 5, 17};
  main.type = 3;
  main.flags = 0x0B;
  main.options = {{"First", "Premier", "Erste"}, {"Second", "Second", "Zweite"}};
  main.targets = {w::Dependency{0x101F7961, {0, 0, 0}, {}, {"S60", "S60", "S60"}}};
  main.dependencies = {w::Dependency{0x10200BE1, {1, 0, 0}, w::Version{-1, -1, -1}, {"Lib", "Lib", "Lib"}}};
  main.properties = {{1, 2}, {-3, 4}};
  w::File logo = Text("", "GIF89a");
  logo.mime = "image/gif";
  main.logo = logo;
  w::File run = Text("!:\\sys\\bin\\run.exe", "run");
  run.op = 2;
  run.options = 0x02;
  run.caps = 0x0003F000;
  w::File mime = Text("!:\\data\\doc.txt", "doc");
  mime.op = 2;
  mime.options = 0x0A;
  mime.mime = "text/plain";
  w::File text = Text("", "Read me first.");
  text.op = 4;
  text.options = 0x0800;
  w::File null;
  null.target = "c:\\data\\log.txt";
  null.op = 8;
  main.files = {Text("!:\\sys\\bin\\app.exe", "app", true), run, mime, text, null,
                Text("!:\\data\\Same.txt", "one")};
  main.embedded = {child, twin};
  w::If lang;
  lang.cond = w::Eq(w::Lang(), w::Num(1));
  lang.files = {Text("!:\\data\\same.txt", "English")};
  w::ElseIf fr;
  fr.cond = w::Eq(w::Lang(), w::Num(2));
  fr.files = {Text("!:\\data\\same.txt", "Francais")};
  fr.embedded = {twin};
  w::ElseIf other;
  other.cond = w::Else();
  other.files = {Text("!:\\data\\same.txt", "Deutsch"), Text("", "Lire", false)};
  other.files.back().op = 4;
  lang.elseIfs = {fr, other};
  w::If nested;
  nested.cond = w::And(w::Or(w::Option(1), w::Exists("c:\\x.txt")), w::Not(w::Package(0x10200BE1)));
  nested.files = {Text("!:\\data\\opt.txt", "opt")};
  w::If inside;
  inside.cond = w::Bin(3, w::Var(0x2), w::AppProp(0x10200BE1, 7));
  inside.files = {Text("!:\\data\\deep.txt", "deep")};
  nested.ifs = {inside};
  main.ifs = {lang, nested};
  main.signatureChains = 2;
  return w::Build(main);
}

TEST(ModelDiff, CorpusPackages) {
  TARVIK_REQUIRE_SHARED();
  Differ d;
  const auto packages = CorpusPackages();
  ASSERT_FALSE(packages.empty());
  for (const std::string& path : packages) d.Check(ReadBytes(path), fs::path(path).filename().string());
  std::cout << "compared " << d.compared << " opens of " << packages.size() << " corpus files\n";
}

TEST(ModelDiff, CorpusPackagesCutAndMangled) {
  TARVIK_REQUIRE_SHARED();
  Differ d;
  const auto packages = CorpusPackages();
  for (std::size_t k = 0; k < packages.size(); k += 3) {
    const Bytes whole = ReadBytes(packages[k]);
    if (whole.size() > 256 * 1024) continue;
    CheckCuts(d, whole, fs::path(packages[k]).stem().string());
    CheckMangled(d, whole, 12);
  }
  std::cout << "compared " << d.compared << " opens\n";
}

TEST(ModelDiff, WriterPackages) {
  Differ d;
  const Bytes rich = RichPackage();
  d.Check(w::MakeDemoPackage(), "demo.sisx");
  d.Check(w::MakeManyFiles(40, 16, true), "many.sis");
  d.Check(w::MakeManyFiles(40, 16, false), "many stored.sis");
  d.Check(rich, "rich.sis");
  d.Check(rich, "folder.with.dots\\rich.package.SIS");
  w::Controller c;
  c.files = {Text("!:\\data\\a.txt", "hi")};
  d.Check(w::Build(c, {.deflateController = false, .stub = true}), "stub.sis");
  d.Check(w::Build(c, {.deflateController = false, .stub = false}), "stored.sis");
  CheckCuts(d, rich, "rich");
  CheckMangled(d, rich, 400);
  CheckMangled(d, w::MakeDemoPackage(), 200);
  // A deflated controller whose stream is damaged, and one whose size is understated.
  for (std::size_t at : {80u, 90u, 120u}) {
    Bytes m = rich;
    if (at < m.size()) m[at] ^= 0x5A;
    d.Check(m, "inflate.sis");
  }
  std::cout << "compared " << d.compared << " opens\n";
}

TEST(ModelDiff, NestingBeyondTheBounds) {
  Differ d;
  w::Controller root;
  w::Controller* at = &root;
  for (int k = 0; k < 40; ++k) {
    at->embedded.push_back(w::Controller{});
    at = &at->embedded.back();
    at->uid = 0xE0000100 + static_cast<std::uint32_t>(k);
    at->files = {Text("!:\\f.txt", "f")};
  }
  d.Check(w::Build(root), "deep.sis");
  w::Controller blocks;
  blocks.ifs.push_back(w::If{});
  w::If* inner = &blocks.ifs.back();
  for (int k = 0; k < 200; ++k) {
    inner->cond = w::Bin(w::EQ, w::Var(0x1000), w::Num(1));
    inner->files = {Text("!:\\g.txt", "g")};
    inner->ifs.push_back(w::If{});
    inner = &inner->ifs.back();
  }
  inner->cond = w::Num(1);
  d.Check(w::Build(blocks), "ifs.sis");
  w::Controller expr;
  w::Expr e = w::Num(1);
  for (int k = 0; k < 80; ++k) e = w::Not(e);
  expr.ifs.push_back(w::If{});
  expr.ifs.back().cond = e;
  d.Check(w::Build(expr), "expr.sis");
}

TEST(ModelDiff, NotPackagesAndTinyFiles) {
  Differ d;
  for (std::size_t n : {1u, 3u, 4u, 8u, 15u, 16u, 17u, 40u})
    for (std::uint8_t fill : {0x00, 0xFF, 0x0D})
      d.Check(Bytes(n, fill), "tiny.sis");
  Bytes head = {0x7A, 0x1A, 0x20, 0x10};
  head.resize(64, 0);
  d.Check(head, "head.sis");
}

}  // namespace
}  // namespace tarvik::test
