// Build-ready PKG files: `tarvik-cli extract --pkg` writes one PKG file per package beside the
// extracted files, and every name in them must lead to what the builder needs.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "bytes/encoding.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;
namespace w = sis9w;

w::File LanguageVariant(const std::string& target, const std::string& content) {
  w::File f = w::TextFile(target, content);
  f.op = 0;  // what the builder stores for each file of a language-dependent line
  return f;
}

// An If block as the builder makes it of `{"a" "b"}-"target"` for the languages given.
w::If LanguageBlock(const std::vector<std::uint32_t>& languages, const std::string& target) {
  w::If block;
  block.cond = w::Eq(w::Lang(), w::Num(static_cast<std::int32_t>(languages[0])));
  block.files = {LanguageVariant(target, "variant 0")};
  for (std::size_t k = 1; k < languages.size(); ++k) {
    w::ElseIf e;
    e.cond = w::Eq(w::Lang(), w::Num(static_cast<std::int32_t>(languages[k])));
    e.files = {LanguageVariant(target, "variant " + std::to_string(k))};
    block.elseIfs.push_back(e);
  }
  return block;
}

// A package tree: main embeds "Child" (which embeds "Grand") and, inside a condition, a
// second package also named "Child"; languages include one without a two-letter code.
w::Controller Tree() {
  const std::vector<std::uint32_t> languages = {1, 260};
  w::Controller grand;
  grand.uid = 0xE0000003;
  grand.names = {"Grand", "Grand 260"};
  grand.vendors = {"V", "V"};
  grand.languages = languages;
  grand.files = {w::TextFile("!:\\data\\grand\\g.txt", "grand")};

  w::Controller child;
  child.uid = 0xE0000002;
  child.names = {"Child", "Child 260"};
  child.vendors = {"V", "V"};
  child.languages = languages;
  child.files = {w::TextFile("!:\\data\\child\\c.txt", "child")};
  child.ifs = {LanguageBlock(languages, "!:\\resource\\apps\\child.rsc")};
  child.embedded = {grand};

  w::Controller other = child;
  other.uid = 0xE0000004;
  other.embedded.clear();

  w::Controller main;
  main.uid = 0xE0000001;
  main.names = {"Main", "Main 260"};
  main.vendors = {"V", "V"};
  main.languages = languages;
  w::File verified = w::TextFile("!:\\data\\main\\kept.txt", "kept");
  verified.options = 0x8000;  // VR outside \sys\ and \resource\: the builder needs it asked for
  main.files = {w::TextFile("!:\\data\\main\\a.txt", "a"), verified};
  main.embedded = {child};
  main.ifs = {LanguageBlock(languages, "!:\\resource\\apps\\main.rsc")};
  w::If option;
  option.cond = w::Option(1);
  option.files = {w::TextFile("!:\\data\\main\\opt.txt", "with option")};
  option.embedded = {other};
  w::ElseIf otherwise;
  otherwise.cond = w::Else();
  otherwise.files = {w::TextFile("!:\\data\\main\\opt.txt", "without option")};
  option.elseIfs = {otherwise};
  main.ifs.push_back(option);
  main.options = {{"Opt", "Opt 260"}};
  return main;
}

// A PKG file's text: it must start with a UTF-16LE byte-order mark and break lines with CR LF.
std::string ReadPkg(const fs::path& path) {
  const std::string bytes = ReadFile(path.string());
  EXPECT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << path;
  const std::string text =
      Utf16LeToUtf8(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 2, (bytes.size() - 2) / 2);
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    EXPECT_TRUE(at > 0 && text[at - 1] == '\r') << path << ": a line break without CR";
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    out.push_back(text.substr(start, at - start));
  return out;
}

std::vector<std::string> Quoted(const std::string& line) {
  std::vector<std::string> out;
  const std::regex quoted("\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(line.begin(), line.end(), quoted); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1]);
  return out;
}

struct Built {
  TempDir dir;
  std::string out = dir / "out";
  CliResult result;
  std::map<std::string, std::string> pkgs;  // path relative to `out` -> text

  explicit Built(const Bytes& package, const std::string& name = "main.sis") {
    const std::string file = dir.Write(name, package);
    result = RunCli("extract --quiet --pkg '" + file + "' '" + out + "'", dir);
    for (auto it = fs::recursive_directory_iterator(out); it != fs::recursive_directory_iterator(); ++it)
      if (it->path().extension() == ".pkg") pkgs[fs::relative(it->path(), out).generic_string()] = ReadPkg(it->path());
  }
};

TEST(RebuildScripts, NameEveryExtractedFileAndEveryEmbeddedPackage) {
  Built b(w::Build(Tree()));
  ASSERT_EQ(b.result.status, 0) << b.result.err;
  std::vector<std::string> names;
  for (const auto& [path, text] : b.pkgs) names.push_back(path);
  EXPECT_EQ(names, (std::vector<std::string>{"bin/main/Embedded Components/Child (2).pkg",
                                             "bin/main/Embedded Components/Child.pkg",
                                             "bin/main/Embedded Components/Grand.pkg", "main.pkg"}));
  EXPECT_NE(b.result.out.find("\nPKG files for rebuilding, in " + b.out + "/\nbin/main/Embedded Components/Grand.pkg\n"),
            std::string::npos)
      << b.result.out;
  EXPECT_NE(b.result.out.find("\nmain.pkg\n"), std::string::npos) << b.result.out;

  for (const auto& [path, text] : b.pkgs) {
    SCOPED_TRACE(path);
    const fs::path folder = fs::path(b.out) / fs::path(path).parent_path();
    std::string uid;  // the package UID of this file's # line
    std::size_t sources = 0;
    for (const std::string& line : Lines(text)) {
      if (line.rfind("#", 0) == 0) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, std::regex(R"(\((0x[0-9A-F]{8})\))")));
        uid = m[1];
      }
      if (line.rfind("@", 0) == 0) {
        // An embedded package: its .sis is to be built beside it from the .pkg of that name.
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, std::regex(R"(@"([^"]+)\.sis",\((0x[0-9A-F]{8})\))"))) << line;
        const std::string child = (fs::path(path).parent_path() / (m[1].str() + ".pkg")).generic_string();
        ASSERT_TRUE(b.pkgs.count(child)) << line;
        EXPECT_NE(b.pkgs[child].find("," + std::string("(") + m[2].str() + "),"), std::string::npos) << line;
      }
      const bool fileLine = line.rfind("\"", 0) == 0 || line.rfind("{", 0) == 0 || line.rfind("=", 0) == 0;
      if (!fileLine) continue;
      std::vector<std::string> q = Quoted(line);
      if (line[0] == '{') q.pop_back();  // the target
      else q.resize(1);                  // the source
      for (const std::string& source : q) {
        if (source.empty()) continue;
        EXPECT_EQ(source.find('\\'), std::string::npos) << line;
        EXPECT_TRUE(fs::is_regular_file(folder / source)) << line;
        ++sources;
      }
    }
    EXPECT_FALSE(uid.empty());
    EXPECT_GT(sources, 0u);
  }

  const std::vector<std::string> main = Lines(b.pkgs["main.pkg"]);
  auto has = [&main](const std::string& line) { return std::find(main.begin(), main.end(), line) != main.end(); };
  EXPECT_TRUE(has("&EN,260"));
  EXPECT_TRUE(has("#{\"Main\",\"Main 260\"},(0xE0000001),1,0,0,TYPE=SA"));
  EXPECT_TRUE(has("\"bin/main/data/main/kept.txt\"-\"!:\\data\\main\\kept.txt\", FF, VR"));
  EXPECT_TRUE(has("{\"bin/main/resource/apps/main.rsc\" \"bin/main/resource/apps/main (2).rsc\"}-"
                  "\"!:\\resource\\apps\\main.rsc\""));
  EXPECT_TRUE(has("@\"bin/main/Embedded Components/Child.sis\",(0xE0000002)"));
  EXPECT_TRUE(has("If Option1"));
  EXPECT_TRUE(has("Else"));
  EXPECT_TRUE(has("@\"Child (2).sis\",(0xE0000004)") == false);  // the main file names it from its own folder
  EXPECT_TRUE(has("@\"bin/main/Embedded Components/Child (2).sis\",(0xE0000004)"));
  EXPECT_NE(b.pkgs["bin/main/Embedded Components/Child.pkg"].find("@\"Grand.sis\",(0xE0000003)"), std::string::npos);
}

// What is not a language-dependent line stays an If block: a chain whose languages differ
// from the declared ones, or whose files are installed normally.
TEST(RebuildScripts, FoldOnlyWhatTheBuilderMakesOfALanguageLine) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> chain;
    std::uint32_t operation;
    bool folded;
  };
  const Case cases[] = {
      {"declared languages in order", {1, 2, 3}, 0, true},
      {"another order", {2, 1, 3}, 0, false},
      {"fewer branches", {1, 2}, 0, false},
      {"installed files", {1, 2, 3}, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    w::Controller main;
    main.languages = {1, 2, 3};
    main.names = {"P", "P", "P"};
    main.vendors = {"V", "V", "V"};
    w::If block = LanguageBlock(c.chain, "!:\\resource\\x.rsc");
    block.files[0].op = c.operation;
    for (auto& e : block.elseIfs) e.files[0].op = c.operation;
    main.ifs = {block};
    Built b(w::Build(main), "p.sis");
    ASSERT_EQ(b.result.status, 0) << b.result.err;
    const std::string& text = b.pkgs["p.pkg"];
    EXPECT_EQ(text.find("{\"bin/p/resource/x.rsc\" \"bin/p/resource/x (2).rsc\" \"bin/p/resource/x (3).rsc\"}-"
                        "\"!:\\resource\\x.rsc\"") != std::string::npos,
              c.folded)
        << text;
    EXPECT_EQ(text.find("If  Language") == std::string::npos && text.find("If Language") == std::string::npos,
              c.folded)
        << text;
  }
}

// The package builder reads 9.x scripts: a pre-9.x package is extracted as ever, and the
// person is told that no PKG file comes with it.
TEST(RebuildScripts, PreNineXPackagesGetNone) {
  TempDir dir;
  OldPackage p;
  p.records = {OldFile("c:\\src\\a.txt", "!:\\a.txt", "a")};
  const std::string file = dir.Write("old.sis", BuildOldSis(p));
  const CliResult r = RunCli("extract --quiet --pkg '" + file + "' '" + (dir / "out") + "'", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "Tarvik: PKG files for rebuilding are written for Symbian 9.x packages only.\n");
  EXPECT_TRUE(fs::is_regular_file(dir / "out/bin/old/a.txt"));
  EXPECT_FALSE(fs::exists(dir / "out/old.pkg"));
}

// Every source name of every PKG file names a regular file inside the extraction folder,
// by a path with no "..".
void ExpectSourcesInside(const Built& b) {
  for (const auto& [path, text] : b.pkgs) {
    SCOPED_TRACE(path);
    const fs::path folder = fs::path(b.out) / fs::path(path).parent_path();
    for (const std::string& line : Lines(text)) {
      if (!(line.rfind("\"", 0) == 0 || line.rfind("{", 0) == 0 || line.rfind("=", 0) == 0)) continue;
      std::vector<std::string> q = Quoted(line);
      if (line[0] == '{') q.pop_back();
      else q.resize(1);
      for (const std::string& source : q) {
        if (source.empty()) continue;
        EXPECT_EQ(source.find(".."), std::string::npos) << line;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / source))) << line;
        const std::string inside = fs::weakly_canonical(folder / source).string();
        EXPECT_EQ(inside.rfind(fs::weakly_canonical(b.out).string() + "/", 0), 0u) << line;
      }
    }
  }
}

// A package string holding a double quote or a line break would end the PKG file's string
// and line, and the package would write lines of its own into the file the person builds.
// Such a PKG file is refused, naming the string; the other PKG files are written.
TEST(RebuildScripts, PackageStringsNeverEndAStringOrALine) {
  const std::string evil = "x\"\r\n#{\"Evil\"},(0x12345678),1,0,0\r\n\"/etc/passwd\"-\"!:\\y";
  struct Case {
    const char* what;
    void (*plant)(w::Controller&, const std::string&);
  };
  const Case cases[] = {
      {"file target", [](w::Controller& c, const std::string& s) { c.files.push_back(w::TextFile("!:\\data\\" + s, "t")); }},
      {"file target", [](w::Controller& c, const std::string& s) {
         w::File f;
         f.target = "c:\\" + s;
         f.op = 8;
         c.files.push_back(f);
       }},
      {"vendor unique name", [](w::Controller& c, const std::string& s) { c.vendorUnique = s; }},
      {"MIME type", [](w::Controller& c, const std::string& s) { c.files[0].mime = s; }},
      {"condition text", [](w::Controller& c, const std::string& s) {
         w::If i;
         i.cond = w::Exists("c:\\" + s);
         i.files = {w::TextFile("!:\\data\\cond.txt", "c")};
         c.ifs.push_back(i);
       }},
      {"component name", [](w::Controller& c, const std::string& s) { c.names = {s}; }},
      {"vendor name", [](w::Controller& c, const std::string& s) { c.vendors = {s}; }},
      {"dependency name", [](w::Controller& c, const std::string& s) { c.dependencies = {{0xE0F00002, {1, 0, 0}, {}, {s}}}; }},
      {"option name", [](w::Controller& c, const std::string& s) { c.options = {{s}}; }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    w::Controller main;
    main.names = {"Main"};
    main.files = {w::TextFile("!:\\data\\a.txt", "a")};
    w::Controller child;
    child.uid = 0xE0000002;
    child.names = {"Child"};
    child.files = {w::TextFile("!:\\data\\c.txt", "c")};
    k.plant(main, evil);
    main.embedded = {child};
    Built b(w::Build(main));
    EXPECT_EQ(b.result.status, 1);
    EXPECT_EQ(b.pkgs.count("main.pkg"), 0u);
    EXPECT_EQ(b.pkgs.count("bin/main/Embedded Components/Child.pkg"), 1u);
    EXPECT_NE(b.result.err.find("The PKG file " + b.out + "/main.pkg was not written: the " + k.what), std::string::npos)
        << b.result.err;
    EXPECT_NE(b.result.err.find("cannot be written in a PKG file"), std::string::npos) << b.result.err;
    for (const auto& [path, text] : b.pkgs) EXPECT_EQ(text.find("Evil"), std::string::npos) << path;
  }
}

// A target that climbs out of the folder is refused by the extraction, and no PKG file names
// it as a source: its line is left out with a comment. The other files are named.
TEST(RebuildScripts, SourcesNameOnlyFilesTheExtractionWrote) {
  w::Controller main;
  main.names = {"Main"};
  main.files = {w::TextFile("!:\\data\\a.txt", "a"), w::TextFile("!:\\bin\\x\\..\\..\\..\\..\\etc\\passwd", "p")};
  Built b(w::Build(main));
  ASSERT_EQ(b.pkgs.count("main.pkg"), 1u) << b.result.err;
  const std::string& text = b.pkgs["main.pkg"];
  EXPECT_NE(text.find("\"bin/main/data/a.txt\"-\"!:\\data\\a.txt\", FF"), std::string::npos) << text;
  EXPECT_EQ(text.find("passwd\""), std::string::npos) << text;
  EXPECT_NE(text.find(";Not written by this extraction, so left out: !:\\bin\\x\\..\\..\\..\\..\\etc\\passwd"),
            std::string::npos)
      << text;
  ExpectSourcesInside(b);
}

// Nothing is replaced without --force: a hand-written PKG file beside its package stays.
TEST(RebuildScripts, AnExistingFileIsReplacedOnlyWithForce) {
  w::Controller main;
  main.names = {"Main"};
  main.files = {w::TextFile("!:\\data\\a.txt", "a")};
  TempDir dir;
  const std::string file = dir.Write("main.sis", w::Build(main));
  const std::string out = dir / "out";
  const std::string mine = dir.Write("out/main.pkg", std::string("my own source\r\n"));
  CliResult r = RunCli("extract --quiet --pkg '" + file + "' '" + out + "'", dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ReadFile(mine), "my own source\r\n");
  EXPECT_NE(r.err.find(out + "/main.pkg already exists and was not replaced."), std::string::npos) << r.err;
  EXPECT_TRUE(fs::is_regular_file(out + "/bin/main/data/a.txt"));
  r = RunCli("extract --quiet --pkg --force '" + file + "' '" + out + "'", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(ReadPkg(mine).find("#{\"Main\"}"), std::string::npos);
}

// Every generated name is unique and one level deep: one PKG file per package, none over a
// carried file, and no name of dots that climbs out of its folder.
TEST(RebuildScripts, OnePkgFilePerPackageUnderNamesOfTheirOwn) {
  auto embedded = [](const std::string& name, std::uint32_t uid) {
    w::Controller c;
    c.uid = uid;
    c.names = {name};
    c.files = {w::TextFile("!:\\data\\" + std::to_string(uid) + ".txt", name)};
    return c;
  };
  {
    SCOPED_TRACE("names that meet");
    w::Controller main;
    main.names = {"Main"};
    const std::string carried("\xFF\xFE" "c\0a\0\r\0\n\0", 10);  // a PKG file the package carries
    main.files = {w::TextFile("!:\\Embedded Components\\X.pkg", carried), w::TextFile("!:\\data\\a.txt", "a")};
    main.embedded = {embedded("X (2)", 0xE0000002), embedded("X", 0xE0000003), embedded("X", 0xE0000004)};
    Built b(w::Build(main));
    EXPECT_EQ(b.result.status, 0) << b.result.err;
    EXPECT_EQ(ReadFile(b.out + "/bin/main/Embedded Components/X.pkg"), carried);
    std::set<std::string> sis;
    for (const std::string& line : Lines(b.pkgs["main.pkg"]))
      if (line.rfind("@", 0) == 0) sis.insert(Quoted(line).at(0));
    EXPECT_EQ(sis.size(), 3u);
    std::size_t pkgFiles = 0;
    for (const auto& [path, text] : b.pkgs)
      if (path != "main.pkg" && path != "bin/main/Embedded Components/X.pkg") ++pkgFiles;
    EXPECT_EQ(pkgFiles, 3u);
    for (const std::string& s : sis) {
      const std::string pkg = s.substr(0, s.size() - 4) + ".pkg";
      EXPECT_EQ(b.pkgs.count(pkg), 1u) << pkg;
    }
    ExpectSourcesInside(b);
  }
  {
    SCOPED_TRACE("names of dots");
    w::Controller main;
    main.names = {"Main"};
    main.files = {w::TextFile("!:\\data\\a.txt", "a")};
    main.embedded = {embedded("..", 0xE0000002)};
    Built b(w::Build(main), "..sis");
    EXPECT_EQ(b.result.status, 0) << b.result.err;
    EXPECT_EQ(b.pkgs.size(), 2u);
    for (const auto& [path, text] : b.pkgs) {
      EXPECT_EQ(path.find(".."), std::string::npos) << path;
      for (const std::string& line : Lines(text))
        if (line.rfind("\"", 0) == 0 || line.rfind("@", 0) == 0) {
          EXPECT_EQ(line.find(".."), std::string::npos) << line;
        }
    }
    ExpectSourcesInside(b);
  }
}

// A package that carries no file data (no file descriptions, or only FN lines) still gets
// its PKG file.
TEST(RebuildScripts, PackagesWithoutFileDataGetTheirPkgFile) {
  w::Controller main;
  main.names = {"Cleaner"};
  w::File gone;
  gone.target = "c:\\data\\log.txt";
  gone.op = 8;
  main.files = {gone};
  Built b(w::Build(main), "cleaner.sis");
  EXPECT_EQ(b.result.status, 0) << b.result.err;
  ASSERT_EQ(b.pkgs.count("cleaner.pkg"), 1u) << b.result.err;
  EXPECT_NE(b.pkgs["cleaner.pkg"].find("\"\"-\"c:\\data\\log.txt\", FN"), std::string::npos) << b.pkgs["cleaner.pkg"];
  EXPECT_NE(b.result.out.find("cleaner.pkg"), std::string::npos) << b.result.out;
}

}  // namespace
}  // namespace tarvik::test
