// Golden outputs: what tarvik-cli prints and extracts for every real package of the corpus
// and for a set of packages made by the test writers (whole, truncated and with mangled
// length fields). Each package's `pkg`, `pkg --source-dir`, `info` and `extract` results
// (standard output, standard error, exit status, and every extracted file with its SHA-1)
// are compared with the text recorded in tests/golden/data/. An output changes only on
// purpose: set TARVIK_WRITE_GOLDEN=1 to record the present outputs again, then review the
// difference.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "bytes/encoding.hpp"
#include "support/mutate.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;
namespace w = sis9w;

const std::string kGoldenDir = std::string(TARVIK_SOURCE_DIR) + "/tests/golden/data";

bool Writing() {
  const char* v = std::getenv("TARVIK_WRITE_GOLDEN");
  return v && std::string(v) == "1";
}

std::string Sha1Hex(const std::string& bytes) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(bytes.data(), bytes.size(), md, &len, EVP_sha1(), nullptr);
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += kDigits[md[i] >> 4];
    out += kDigits[md[i] & 15];
  }
  return out;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

// One command's result in the golden text; the temporary folder's path is replaced so that
// the text is the same on every run.
std::string Section(const std::string& title, const CliResult& r, const TempDir& dir, const std::string& package) {
  auto clean = [&](const std::string& t) { return ReplaceAll(ReplaceAll(t, package, "<PKG>"), dir.Path(), "<TMP>"); };
  std::string s = "=== " + title + " (exit " + std::to_string(r.status) + ")\n";
  s += "--- stdout\n" + clean(r.out) + "\n";
  s += "--- stderr\n" + clean(r.err) + "\n";
  return s;
}

// Every file below `root`, sorted, with its size and SHA-1.
std::string Listing(const std::string& root) {
  std::vector<std::string> lines;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!it->is_regular_file()) continue;
    const std::string bytes = ReadFile(it->path().string());
    lines.push_back(fs::relative(it->path(), root).generic_string() + "  " + std::to_string(bytes.size()) + "  " +
                    Sha1Hex(bytes));
  }
  std::sort(lines.begin(), lines.end());
  std::string s = "--- files\n";
  for (const auto& l : lines) s += l + "\n";
  return s;
}

std::string Outputs(const std::string& package) {
  TempDir dir;
  const std::string q = "'" + package + "'";
  std::string text = Section("pkg", RunCli("pkg " + q, dir), dir, package);
  text += Section("pkg --source-dir", RunCli("pkg --source-dir /work/src/ " + q, dir), dir, package);
  text += Section("info", RunCli("info " + q, dir), dir, package);
  const std::string out = dir / "out";
  text += Section("extract", RunCli("extract -q " + q + " '" + out + "'", dir), dir, package);
  text += Listing(out);
  return text;
}

// Compares (or, when writing, records) the outputs of `package` under the golden `name`.
void Check(const std::string& name, const std::string& package) {
  const std::string actual = Outputs(package);
  const std::string path = kGoldenDir + "/" + name + ".txt";
  if (Writing()) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  ASSERT_TRUE(fs::exists(path)) << "no golden text for " << name << " (TARVIK_WRITE_GOLDEN=1 records it)";
  EXPECT_EQ(actual, ReadFile(path)) << "outputs of " << name << " differ from " << path;
}

// A 9.x package that uses most of what the format can say.
Bytes RichPackage() {
  w::Controller inner;
  inner.uid = 0xE0000003;
  inner.names = {"Inner"};
  inner.files = {w::TextFile("!:\\data\\inner.txt", "inner")};
  w::Controller child;
  child.uid = 0xE0000002;
  child.names = {"Child", "Enfant"};
  child.languages = {1, 2};
  child.files = {w::TextFile("c:\\data\\child.txt", "child", true)};
  child.embedded = {inner};
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
  w::File logo = w::TextFile("", "GIF89a");
  logo.mime = "image/gif";
  main.logo = logo;
  w::File run = w::TextFile("!:\\sys\\bin\\run.exe", "run");
  run.op = 2;
  run.options = 0x02;
  run.caps = 0x0003F000;
  w::File mime = w::TextFile("!:\\data\\doc.txt", "doc");
  mime.op = 2;
  mime.options = 0x0A;
  mime.mime = "text/plain";
  w::File text = w::TextFile("", "Read me first.");
  text.op = 4;
  text.options = 0x0800;
  w::File null;
  null.target = "c:\\data\\log.txt";
  null.op = 8;
  main.files = {w::TextFile("!:\\sys\\bin\\app.exe", "app", true), run, mime, text, null,
                w::TextFile("!:\\data\\Same.txt", "one")};
  main.embedded = {child};
  w::If lang;
  lang.cond = w::Eq(w::Lang(), w::Num(1));
  lang.files = {w::TextFile("!:\\data\\same.txt", "English")};
  w::ElseIf fr;
  fr.cond = w::Eq(w::Lang(), w::Num(2));
  fr.files = {w::TextFile("!:\\data\\same.txt", "Francais")};
  w::ElseIf other;
  other.cond = w::Else();
  other.files = {w::TextFile("!:\\data\\same.txt", "Deutsch")};
  lang.elseIfs = {fr, other};
  w::If nested;
  nested.cond = w::And(w::Or(w::Option(1), w::Exists("c:\\x.txt")), w::Not(w::Package(0x10200BE1)));
  nested.files = {w::TextFile("!:\\data\\opt.txt", "opt")};
  w::If inside;
  inside.cond = w::Bin(3, w::Var(0x2), w::AppProp(0x10200BE1, 7));
  inside.files = {w::TextFile("!:\\data\\deep.txt", "deep")};
  nested.ifs = {inside};
  main.ifs = {lang, nested};
  main.signatureChains = 1;
  return w::Build(main);
}

// A release-6 pre-9.x package with conditions, options, requisites and per-language files.
OldPackage OldRich() {
  namespace x = oldx;
  OldPackage p;
  p.languages = {1, 2};
  p.names = {"Old Rich", "Vieux riche"};
  p.requisites = {OldRequisite{0x10001234, 1, 2, 3, {"Req", "Req fr"}}};
  p.capabilities = {{1, 4}, {0, 1}};
  const auto cond = x::And(x::Or(x::Eq(x::Var(0x1000), x::Num(1)), x::Exists("c:\\x")), x::Not(x::Var(0x2001)));
  p.records = {OldOptions({{"One", "Un"}, {"Two", "Deux"}}),
               OldIf(cond),
               OldFile("a.txt", "!:\\a.txt", "hello"),
               OldElseIf(x::Ne(x::Var(0x1000), x::Num(0x80000001u))),
               OldFile("run.exe", "!:\\system\\run.exe", "run", 3, 0x200),
               OldElse(),
               OldLangFile("b.txt", "!:\\b.txt", {"en", "fr"}),
               OldEndIf(),
               OldFile("readme.txt", "", "read me", 1, 1),
               OldFile("", "c:\\log.txt", "", 4),
               OldFile("doc.txt", "!:\\doc.txt", "doc", 5, 0x200),
               OldFile("sub.sis", "", "sub", 2, 0x10009999)};
  p.records[10].mime = "text/plain";
  return p;
}

struct Fixture {
  std::string name;
  Bytes bytes;
};

// The writer-made packages: whole, cut at several points, and with single length fields
// set to extreme values.
std::vector<Fixture> Fixtures() {
  std::vector<Fixture> out;
  out.push_back({"demo.sisx", w::MakeDemoPackage()});
  out.push_back({"many.sis", w::MakeManyFiles(12, 40, true)});
  const Bytes rich = RichPackage();
  out.push_back({"rich.sis", rich});
  w::Controller c;
  c.files = {w::TextFile("!:\\data\\a.txt", "hi")};
  out.push_back({"stub.sis", w::Build(c, {.deflateController = false, .stub = true})});
  out.push_back({"stored.sis", w::Build(c, {.deflateController = false, .stub = false})});
  const Bytes old6 = BuildOldSis(OldRich());
  out.push_back({"old6.sis", old6});
  OldPackage r5 = OldRich();
  r5.uid2 = 0x1000006D;
  r5.installerVersion = 100;
  r5.options = 0x0002;
  const Bytes old5 = BuildOldSis(r5);
  out.push_back({"old5.sis", old5});

  for (const auto& [name, whole] : {std::pair<std::string, Bytes>{"rich", rich}, {"old6", old6}, {"old5", old5}}) {
    for (int k = 1; k < 16; ++k) {
      const std::size_t cut = whole.size() * static_cast<std::size_t>(k) / 16;
      out.push_back({name + "-cut" + std::to_string(k) + ".sis", Bytes(whole.begin(), whole.begin() + static_cast<long>(cut))});
    }
  }

  // The rich package with a stored controller, so that its fields can be mangled in place.
  const Bytes plain = [&] {
    auto ctl = Controller(rich);
    return ctl ? *ctl : Bytes{};
  }();
  const ByteView b(plain);
  std::vector<Pos> lengths;
  CollectLengths(b, 0, b.Size(), 0, lengths);
  std::size_t n = 0;
  for (std::size_t i = 0; i < lengths.size(); i += 7) {
    for (std::uint32_t v : {0u, 0x7FFFFFFFu}) {
      Bytes m = plain;
      Put32(m, lengths[i], v);
      out.push_back({"rich-ctl-len" + std::to_string(n++) + ".sis", std::move(m)});
    }
  }
  return out;
}

TEST(Golden, WriterPackages) {
  TempDir dir;
  for (const Fixture& f : Fixtures()) {
    SCOPED_TRACE(f.name);
    Check("fixtures/" + f.name, dir.Write(f.name, f.bytes));
  }
}

TEST(Golden, CorpusPackages) {
  TARVIK_REQUIRE_SHARED();
  const std::string corpus = *SharedDir() + "/corpus";
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(corpus)) {
    if (!e.is_regular_file()) continue;
    const std::string rel = fs::relative(e.path(), corpus).generic_string();
    const std::string lower = ToLower(rel);
    if (lower.ends_with(".sis") || lower.ends_with(".sisx")) files.push_back(rel);
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  for (const std::string& rel : files) {
    SCOPED_TRACE(rel);
    Check("corpus/" + rel, corpus + "/" + rel);
  }
}

}  // namespace
}  // namespace tarvik::test
