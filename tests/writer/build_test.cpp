// Building packages from PKG files: the SDK's dialect against what its builder made, exact
// rebuilds of extracted packages, errors, embedded packages and search folders.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "parse/parse.hpp"
#include "support/package_facts.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"
#include "writer/pkg_build.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;
namespace w = sis9w;

writer::PkgBuildResult Build(const std::string& pkg, const std::string& out, pkgscript::Mode mode = pkgscript::Mode::Builder) {
  writer::PkgBuildOptions options;
  options.mode = mode;
  return writer::BuildFromPkg(pkg, out, options);
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// Each PKG file of corpus/made/sis9, built as the SDK's builder does, has the facts of the
// package that builder made from it.
TEST(BuildPkg, SdkScriptsGiveTheFactsOfTheSdkPackages) {
  TARVIK_REQUIRE_SHARED();
  const fs::path made = fs::path(*SharedDir()) / "corpus/made/sis9";
  TempDir dir;
  int checked = 0;
  for (const auto& e : fs::directory_iterator(made)) {
    if (e.path().extension() != ".pkg") continue;
    const fs::path original = fs::path(e.path()).replace_extension(".sis");
    if (!fs::exists(original)) continue;
    SCOPED_TRACE(e.path().filename().string());
    const std::string out = dir / (e.path().stem().string() + ".sis");
    const writer::PkgBuildResult r = Build(e.path().string(), out);
    ASSERT_TRUE(r.ok()) << Joined(r.errors);
    const auto diff = FactDifferences(ComparableFacts(ReadBytes(original.string())), ComparableFacts(ReadBytes(out)));
    EXPECT_TRUE(diff.empty()) << Joined(diff);
    ++checked;
  }
  EXPECT_GE(checked, 9);

  // The SDK's stub of langs.pkg.
  writer::PkgBuildOptions stub;
  stub.stub = true;
  const writer::PkgBuildResult r = writer::BuildFromPkg((made / "langs.pkg").string(), dir / "stub.sis", stub);
  ASSERT_TRUE(r.ok()) << Joined(r.errors);
  const auto diff = FactDifferences(ComparableFacts(ReadBytes((made / "stub_langs.sis").string())), ComparableFacts(ReadBytes(dir / "stub.sis")));
  EXPECT_TRUE(diff.empty()) << Joined(diff);
}

// extract --pkg, then build --as-written: the facts come back.
void ExpectExactRebuild(const Bytes& package, const std::string& name) {
  SCOPED_TRACE(name);
  TempDir dir;
  const std::string path = dir.Write(name + ".sis", package);
  const CliResult x = RunCli("extract --pkg -q '" + path + "' '" + (dir / "x") + "'", dir);
  ASSERT_EQ(x.status, 0) << x.err;
  const std::string out = dir / "rebuilt.sis";
  const writer::PkgBuildResult r = Build(dir / ("x/" + name + ".pkg"), out, pkgscript::Mode::AsWritten);
  ASSERT_TRUE(r.ok()) << Joined(r.errors);
  const auto diff = FactDifferences(ComparableFacts(package), ComparableFacts(ReadBytes(out)));
  EXPECT_TRUE(diff.empty()) << Joined(diff);
}

TEST(BuildPkg, AsWrittenRebuildsExtractedPackagesExactly) {
  ExpectExactRebuild(w::MakeDemoPackage(), "demo");

  // Options the SDK's builder would change: VR under \sys\ missing, VR elsewhere, TC as its
  // bit and as 0, a language chain of VR files, files numbered out of block order.
  w::Controller main;
  main.languages = {1, 2};
  main.names = {"Opt", "Opt FR"};
  main.vendors = {"V", "V"};
  main.files = {w::TextFile("!:\\sys\\bin\\plain.exe", "no VR under \\sys\\"), w::TextFile("!:\\data\\vr.txt", "vr"),
                w::TextFile("", "text tc"), w::TextFile("", "text 0"), w::TextFile("!:\\data\\late.txt", "late")};
  main.files[1].options = 0x8000;
  main.files[2].op = 4, main.files[2].options = 0x200;
  main.files[3].op = 4;
  main.files[0].fileIndex = 0, main.files[1].fileIndex = 1, main.files[2].fileIndex = 2, main.files[3].fileIndex = 3;
  main.files[4].fileIndex = 6;  // after the language chain's files in the script
  w::If chain;
  chain.cond = w::Eq(w::Lang(), w::Num(1));
  chain.files = {w::TextFile("!:\\resource\\apps\\a.rsc", "en")};
  chain.files[0].op = 0, chain.files[0].options = 0x8000, chain.files[0].fileIndex = 4;
  w::ElseIf fr;
  fr.cond = w::Eq(w::Lang(), w::Num(2));
  fr.files = {w::TextFile("!:\\resource\\apps\\a.rsc", "fr")};
  fr.files[0].op = 0, fr.files[0].options = 0x8000, fr.files[0].fileIndex = 5;
  chain.elseIfs = {fr};
  main.ifs = {chain};
  ExpectExactRebuild(w::Build(main), "options");
}

// A pre-installed package carries no file data, only each file's description (digest,
// sizes, capabilities): its PKG file states them, and a build as written takes them for the
// files that are not at hand, or reads the files that are; the builder's mode needs the files.
TEST(BuildPkg, PreInstalledPackagesRebuildFromTheirStatedDescriptions) {
  w::Controller main;
  main.type = 3;
  main.flags = 4;  // RU, which real pre-installed packages hold though the SDK's builder refuses it
  main.files = {w::TextFile("e:\\data\\plain.txt", "on the media"),
                w::TextFile("e:\\sys\\bin\\tool.exe", std::string(300, 'x'), true)};
  main.files[1].caps = 0x0000C000;
  main.files[1].options = 0x8000;
  w::If chain;
  chain.cond = w::Eq(w::Lang(), w::Num(1));
  chain.files = {w::TextFile("e:\\data\\lang.txt", "english")};
  chain.files[0].op = 0;
  main.ifs = {chain};
  w::PackageOptions noData;
  noData.noData = true;
  const Bytes package = w::Build(main, noData);
  ExpectExactRebuild(package, "pa");

  TempDir dir;
  const CliResult x = RunCli("extract --pkg -q '" + dir.Write("pa.sis", package) + "' '" + (dir / "x") + "'", dir);
  ASSERT_EQ(x.status, 0) << x.err;
  const std::string pkg = dir / "x/pa.pkg";
  const std::string text = pkgscript::DecodePkgBytes(ReadBytes(pkg));
  EXPECT_NE(text.find(";tarvik:preinstalled \"bin/pa/data/plain.txt\" sha1="), std::string::npos) << text;
  EXPECT_NE(text.find(" caps=0x0000C000\r\n\"bin/pa/sys/bin/tool.exe\""), std::string::npos) << text;
  EXPECT_NE(text.find("TYPE=PA,RU"), std::string::npos) << text;

  // The builder's mode reads comments as nothing: it needs the files (and refuses RU).
  EXPECT_FALSE(Build(pkg, dir / "sdk.sis").ok());

  // A file that is at hand is read: its own digest and length, still no data carried.
  dir.Write("x/bin/pa/data/plain.txt", "a newer file on the media");
  const writer::PkgBuildResult r = Build(pkg, dir / "new.sis", pkgscript::Mode::AsWritten);
  ASSERT_TRUE(r.ok()) << Joined(r.errors);
  const model::Package rebuilt = Parse(ReadBytes(dir / "new.sis"), "new.sis");
  const model::Package original = Parse(package, "pa.sis");
  ASSERT_EQ(rebuilt.body.files.size(), 2u);
  EXPECT_EQ(rebuilt.body.files[0].uncompressedSize, 25u);
  auto hex = [](const model::Digest& d) { return std::string(d.data(), d.data() + d.size()); };
  EXPECT_NE(hex(rebuilt.body.files[0].hash), hex(original.body.files[0].hash));
  EXPECT_EQ(hex(rebuilt.body.files[1].hash), hex(original.body.files[1].hash));
  EXPECT_EQ(rebuilt.body.files[1].compression, 1u);
  ASSERT_EQ(rebuilt.data.size(), 0u);
}

// Every real 9.x package of the corpus that gets PKG files rebuilds to its facts, except
// those whose facts no PKG file can state (listed with the reason). Damaged packages whose
// controller or package information cannot be read get no PKG file at all.
TEST(BuildPkg, CorpusPackagesRebuildExactly) {
  TARVIK_REQUIRE_SHARED();
  const std::map<std::string, std::string> known = {
      {"corruptedlengthfield.sis", "damaged: a file's stored bytes cannot be read, so the PKG file leaves the file out"},
      {"test1.sis", "early builder: operation 5 files, no vendor names, language files without digests"},
  };
  const std::set<std::string> noPkg = {"panic47.sis", "testmalformed_stub.sis", "corrupted.sis",
                                       "TS_00001__TC_02291__PE_00002__.sis"};
  int rebuilt = 0, withPkg = 0;
  for (const ManifestRow& row : CorpusManifest()) {
    if (row.at("generation") != "9.x") continue;
    const std::string path = *SharedDir() + "/corpus/" + row.at("file");
    const std::string base = fs::path(path).filename().string();
    SCOPED_TRACE(base);
    TempDir dir;
    RunCli("extract --pkg -q --force '" + path + "' '" + (dir / "x") + "'", dir);
    std::string pkg;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir / "x", ec))
      if (e.path().extension() == ".pkg") pkg = e.path().string();
    EXPECT_EQ(pkg.empty(), noPkg.count(base) == 1);
    if (pkg.empty()) continue;
    ++withPkg;
    const writer::PkgBuildResult r = Build(pkg, dir / "rebuilt.sis", pkgscript::Mode::AsWritten);
    const Bytes original = ReadBytes(path);
    const bool size = !IsSigned(original);
    const auto diff = FactDifferences(ComparableFacts(original, size), ComparableFacts(ReadBytes(dir / "rebuilt.sis"), size));
    const bool same = r.ok() && diff.empty();
    if (same) ++rebuilt;
    EXPECT_EQ(same, !known.count(base)) << Joined(r.errors) << Joined(diff);
  }
  EXPECT_GE(withPkg, 50);
  EXPECT_EQ(rebuilt, withPkg - static_cast<int>(known.size()));
  EXPECT_GE(rebuilt * 100, withPkg * 95);
}

TEST(BuildPkg, ErrorsWriteNothing) {
  TempDir dir;
  dir.Write("p/a.txt", "a");
  dir.Write("p/bad.pkg", "&EN\n#{\"P\"},(0xE0000001),1,0,0\n%{\"V\"}\n:\"V\"\n\"a.txt\"-\"!:\\data\\a.txt\",FZ\n");
  dir.Write("p/missing.pkg",
            "&EN\n#{\"P\"},(0xE0000001),1,0,0\n%{\"V\"}\n:\"V\"\n\"a.txt\"-\"!:\\data\\a.txt\"\n"
            "\"gone1.txt\"-\"!:\\data\\1.txt\"\n  \"gone2.txt\"-\"!:\\data\\2.txt\"\n@\"gone.sis\",(0xE0000002)\n");
  const std::string out = dir / "p/out.sis";
  const CliResult bad = RunCli("build '" + (dir / "p/bad.pkg") + "' '" + out + "'", dir);
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find(dir / "p/bad.pkg" + ":5:25: error: unknown file option 'FZ'"), std::string::npos) << bad.err;
  const CliResult missing = RunCli("build '" + (dir / "p/missing.pkg") + "' '" + out + "'", dir);
  EXPECT_EQ(missing.status, 1);
  const std::string pkg = dir / "p/missing.pkg";
  for (const std::string& line : {pkg + ":6:1: error: source file not found: \"gone1.txt\"",
                                  pkg + ":7:3: error: source file not found: \"gone2.txt\"",
                                  pkg + ":8:2: error: embedded package not found: \"gone.sis\""})
    EXPECT_NE(missing.err.find(line), std::string::npos) << missing.err;
  // Nothing written, not even a scratch file; an existing package is left as it was.
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir / "p")) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"a.txt", "bad.pkg", "missing.pkg"}));
  dir.Write("p/out.sis", "old");
  EXPECT_EQ(RunCli("build '" + pkg + "' '" + out + "'", dir).status, 1);
  EXPECT_EQ(ReadFile(out), "old");
}

// An @ line whose .sis is missing but whose .pkg stands beside it: built first, nested ones
// too; --search folders; --stub.
TEST(BuildPkg, EmbeddedPackagesSearchFoldersAndStubs) {
  TempDir dir;
  dir.Write("top/sub/grand.pkg", "&EN\n#{\"G\"},(0xE0000003),1,0,0\n%{\"V\"}\n:\"V\"\n\"g.txt\"-\"!:\\data\\g.txt\"\n");
  dir.Write("top/sub/g.txt", "grand");
  dir.Write("top/sub/child.pkg", "&EN\n#{\"C\"},(0xE0000002),1,0,0\n%{\"V\"}\n:\"V\"\n\"c.txt\"-\"!:\\data\\c.txt\"\n@\"grand.sis\",(0xE0000003)\n");
  dir.Write("top/sub/c.txt", "child");
  dir.Write("top/main.pkg", "&EN\n#{\"M\"},(0xE0000001),1,0,0\n%{\"V\"}\n:\"V\"\n\"m.txt\"-\"!:\\data\\m.txt\"\n@\"sub/child.sis\",(0xE0000002)\n");
  dir.Write("elsewhere/m.txt", "main");
  const CliResult r = RunCli("build '" + (dir / "top/main.pkg") + "' '" + (dir / "main.sis") + "' --search ../elsewhere", dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(dir / "top/sub/grand.sis"));
  EXPECT_TRUE(fs::exists(dir / "top/sub/child.sis"));
  const model::Package p = Parse(ReadBytes(dir / "main.sis"), "main.sis");
  ASSERT_EQ(p.body.embedded.size(), 1u);
  ASSERT_EQ(p.body.embedded[0].body.embedded.size(), 1u);
  EXPECT_EQ(p.body.embedded[0].body.embedded[0].uid, 0xE0000003u);
  ASSERT_EQ(p.data.size(), 3u);  // one data unit per package
  EXPECT_EQ(p.body.embedded[0].dataUnit, 2u);  // counted from 1, the main package's
  EXPECT_EQ(p.body.embedded[0].body.embedded[0].dataUnit, 3u);
  EXPECT_TRUE(p.problems.empty());

  const CliResult stub = RunCli("build --stub '" + (dir / "top/sub/grand.pkg") + "' '" + (dir / "stub.sis") + "'", dir);
  ASSERT_EQ(stub.status, 0) << stub.err;
  const model::Package s = Parse(ReadBytes(dir / "stub.sis"), "stub.sis");
  EXPECT_TRUE(s.stub);
  ASSERT_EQ(s.body.files.size(), 1u);
  EXPECT_EQ(s.body.files[0].uncompressedSize, 5u);
  EXPECT_EQ(s.body.files[0].hash.size(), 20u);
}

}  // namespace
}  // namespace tarvik::test
