// Differential check of the pre-9.x parser and view against the reader that fills the
// window's tables: for every pre-9.x package of the corpus and for many writer-made
// packages (whole, cut, with extreme header words, with damaged records and conditions,
// with random bytes changed), the PKG script, the file table and the messages must be the
// same. The one intended difference: a reading that ends in the internal error offers no
// file rows at all.
//
// Scaffolding: it goes together with the table-filling reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "old_fixture.hpp"
#include "parse/parse.hpp"
#include "sis_old/sis_old.hpp"
#include "views/views.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;
using namespace oldx;

struct Outcome {
  std::string script;
  std::vector<std::string> messages;
  std::vector<std::string> rows;  // every compared column of a row, joined
};

std::string RowText(const std::string& name, const std::string& unpacked, const std::string& compressed,
                    const std::string& offset, const std::string& length, const std::string& index,
                    const std::string& target, bool deflated, bool hasData) {
  return name + "|" + unpacked + "|" + compressed + "|" + offset + "|" + length + "|" + index + "|" + target + "|" +
         (deflated ? "deflated" : "stored") + "|" + (hasData ? "data" : "nodata");
}

// One application for all the legacy readings: each open replaces the tables.
struct LegacyApp {
  LegacyApp() { app.Form_Load(); }
  FakeUi ui;
  TempDir dir;
  App app{ui, TestPlatform(dir)};
};

Outcome Legacy(const Bytes& bytes, const std::string& name) {
  static LegacyApp legacy;  // test scaffolding only
  FakeUi& ui = legacy.ui;
  App& app = legacy.app;
  ui.messages.clear();
  ui.text.clear();
  OpenThroughMenu(app, ui, legacy.dir.Write(name, bytes));
  Outcome o;
  o.script = ui.text;
  o.messages = ui.MessageTexts();
  const bool deflated = sis_old::FilesAreDeflated(app.buffer);
  for (const Row& r : app.stores.ListView2) {
    const std::size_t index = std::stoul(r.Get(col2::Index));
    o.rows.push_back(RowText(r.Text(), r.Get(col2::Uncompress), r.Get(col2::Compress), r.Get(col2::Offset),
                             r.Get(col2::Length), r.Get(col2::Index), app.stores.ListView4.Item(index).Get(1),
                             deflated, true));
  }
  return o;
}

Outcome New(const Bytes& bytes, const std::string& name, bool& unreadable) {
  const model::Package pkg = sis_old::ParsePackage(bytes, name);
  const views::PackageView view = views::DescribeOld(pkg, {});
  Outcome o;
  o.script = view.script;
  unreadable = false;
  for (const model::Problem& p : pkg.problems) {
    if (p.kind == model::Problem::Kind::UnknownVersion) o.messages.push_back(sis_old::kUnknownVersion);
    if (p.kind == model::Problem::Kind::Unreadable) {
      o.messages.push_back(sis_old::kInternalError);
      unreadable = true;
    }
  }
  EXPECT_TRUE(view.header.empty());
  for (const views::FileRow& r : view.files) {
    EXPECT_NE(r.entry, nullptr);
    o.rows.push_back(RowText(r.extractPath, std::to_string(r.uncompressedSize), std::to_string(r.compressedSize),
                             std::to_string(r.offset), std::to_string(r.compressedSize), std::to_string(r.unit),
                             r.target, r.deflated, r.hasData));
  }
  return o;
}

struct Tally {
  int compared = 0;
  int unreadable = 0;
  int differing = 0;
};

// Compares both readings of one package; only packages that are pre-9.x by their UID 3.
void Compare(const std::string& label, const Bytes& bytes, const std::string& name, Tally& tally) {
  if (bytes.size() < 12 || ReadLE(bytes, 8, 4) != sis_old::kUidPre9) return;
  SCOPED_TRACE(label);
  ++tally.compared;
  const Outcome legacy = Legacy(bytes, name);
  bool unreadable = false;
  const Outcome now = New(bytes, name, unreadable);
  bool same = legacy.script == now.script && legacy.messages == now.messages;
  EXPECT_EQ(now.script, legacy.script);
  EXPECT_EQ(now.messages, legacy.messages);
  if (unreadable) {
    ++tally.unreadable;
    EXPECT_TRUE(now.rows.empty());
    same = same && now.rows.empty();
  } else {
    EXPECT_EQ(now.rows, legacy.rows);
    same = same && now.rows == legacy.rows;
  }
  if (!same) ++tally.differing;
}

Bytes RawCondition(const std::vector<std::uint32_t>& words, std::uint32_t kind = 3) {
  Bytes b;
  auto put = [&b](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put(kind);
  put(static_cast<std::uint32_t>(4 * words.size()));
  for (std::uint32_t w : words) put(w);
  return b;
}

OldRecord Raw(Bytes bytes) {
  OldRecord r;
  r.raw = std::move(bytes);
  return r;
}

OldPackage Rich() {
  OldPackage p;
  p.languages = {1, 2, 3};
  p.names = {"Old Rich", "Vieux riche", "Alt reich"};
  p.requisites = {OldRequisite{0x10001234, 1, 2, 3, {"Req", "Req fr", "Req de"}},
                  OldRequisite{0x10005678, 4, 5, 0xFFFFFFFF, {"Two", "Deux", "Zwei"}}};
  p.capabilities = {{1, 4}, {0, 0xFFFFFFFF}};
  const auto cond = And(Or(Eq(Var(0x1000), Num(1)), Exists("c:\\x")), Not(Var(0x2001)));
  p.records = {OldOptions({{"One", "Un", "Eins"}, {"Two", "Deux", "Zwei"}}),
               OldIf(cond),
               OldFile("a.txt", "!:\\a.txt", "hello"),
               OldElseIf(Ne(Var(0x1000), Num(0x80000001u))),
               OldFile("run.exe", "!:\\system\\run.exe", "run", 3, 0x200),
               OldElseIf(Cmp(4, AppCap(0x10F00002, 1), DevCap(7))),
               OldLangFile("C:\\w\\b.txt", "!:\\b.txt", {"en", "fr", "de"}),
               OldElse(),
               OldLangFile("emb.sis", "", {"e1", "e2", "e3"}, 2),
               OldEndIf(),
               OldIf(Not(Or(Eq(Var(4), Str("Nokia")), Not(Not(Exists("z:\\y")))))),
               OldFile("readme.txt", "", "read me", 1, 1),
               OldEndIf(),
               OldFile("", "c:\\log.txt", "", 4),
               OldFile("doc.txt", "!:\\doc.txt", "doc", 5, 0x200),
               OldFile("sub.sis", "", "sub", 2, 0x10009999),
               OldFile("x.bin", "!:\\x.bin", "x", 7),
               Raw(RawCondition({6, 13, 0x1000, 0xC3863CD0, 99})),
               Raw(RawCondition({0, 6, 11, 13, 5, 0, 7, 8, 12, 1, 0})),
               Raw(RawCondition({11, 11, 13, 77, 0, 1, 14, 3, 0, 7, 9, 14, 2, 0}, 4))};
  p.records[14].mime = "text/plain";
  return p;
}

// The layouts and text encodings of the rich package.
std::vector<std::pair<std::string, OldPackage>> Variants() {
  std::vector<std::pair<std::string, OldPackage>> out;
  out.push_back({"r6-unicode", Rich()});
  OldPackage r6narrow = Rich();
  r6narrow.options = 0x0000;
  out.push_back({"r6-narrow", r6narrow});
  OldPackage r6stored = Rich();
  r6stored.options = 0x0019;
  out.push_back({"r6-nocompress", r6stored});
  OldPackage r5 = Rich();
  r5.uid2 = 0x1000006D;
  r5.installerVersion = 100;
  r5.options = 0x0002;
  out.push_back({"r5-narrow", r5});
  OldPackage r5wide = r5;
  r5wide.options = 0x0011;
  r5wide.type = 3;
  out.push_back({"r5-unicode", r5wide});
  OldPackage unknown = Rich();
  unknown.uid2 = 0x12345678;
  unknown.installerVersion = 200;
  out.push_back({"unknown-mark-r6", unknown});
  OldPackage one = Rich();
  one.languages = {1};
  one.names = {"One"};
  for (auto& q : one.requisites) q.names = {"Req"};
  for (auto& r : one.records) {
    if (r.kind == 1) r.data.resize(1);
    for (auto& o : r.options) o.resize(1);
  }
  out.push_back({"one-language", one});
  return out;
}

// Header words and their widths.
constexpr std::pair<int, int> kHeaderWords[] = {
    {0, 4}, {4, 4}, {12, 4}, {16, 2}, {18, 2}, {20, 2}, {22, 2}, {24, 2}, {26, 2}, {28, 2}, {30, 2},
    {32, 4}, {36, 2}, {38, 2}, {40, 2}, {42, 2}, {44, 4}, {48, 4}, {52, 4}, {56, 4}, {60, 4}, {64, 4},
    {68, 4}, {72, 4},
};

void PutWord(Bytes& b, std::size_t at, int width, std::uint32_t v) {
  for (int i = 0; i < width && at + static_cast<std::size_t>(i) < b.size(); ++i) {
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

TEST(ModelDiff, WriterPackages) {
  Tally tally;
  for (const auto& [label, pkg] : Variants()) {
    OldLayout layout;
    const Bytes whole = BuildOldSis(pkg, layout);
    Compare(label, whole, "pkg.sis", tally);
    Compare(label + " odd name", whole, "  My Pkg .v1.sis", tally);

    // Every cut point.
    for (std::size_t cut = 12; cut < whole.size(); ++cut) {
      Compare(label + " cut " + std::to_string(cut), Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)),
              "pkg.sis", tally);
    }
    // Every header word at its extremes.
    for (const auto& [at, width] : kHeaderWords) {
      for (std::uint32_t v : {0u, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xC9u, 0xB5u}) {
        Bytes m = whole;
        PutWord(m, static_cast<std::size_t>(at), width, v);
        Compare(label + " header " + std::to_string(at) + "=" + std::to_string(v), m, "pkg.sis", tally);
      }
    }
    // Every word of the record list set to the node types, small counts and extremes.
    const std::size_t recordsBegin = layout.recordOffsets.empty() ? whole.size() : layout.recordOffsets.front();
    for (std::size_t at = recordsBegin; at + 4 <= whole.size() && at < recordsBegin + 2400; at += 4) {
      for (std::uint32_t v : {0u, 1u, 3u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 200u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes m = whole;
        PutWord(m, at, 4, v);
        Compare(label + " word " + std::to_string(at) + "=" + std::to_string(v), m, "pkg.sis", tally);
      }
    }
  }
  std::cout << "[ModelDiff] writer packages compared: " << tally.compared << ", ending unreadable: " << tally.unreadable
            << ", differing: " << tally.differing << "\n";
  EXPECT_EQ(tally.differing, 0);
}

TEST(ModelDiff, RandomlyDamagedPackages) {
  Tally tally;
  std::mt19937 rng(20261210);
  for (const auto& [label, pkg] : Variants()) {
    const Bytes whole = BuildOldSis(pkg);
    for (int round = 0; round < 300; ++round) {
      Bytes m = whole;
      const int changes = 1 + static_cast<int>(rng() % 8);
      for (int c = 0; c < changes; ++c) {
        const std::size_t at = 12 + rng() % (m.size() - 12);
        m[at] = static_cast<std::uint8_t>(rng());
      }
      Compare(label + " random " + std::to_string(round), m, "pkg.sis", tally);
    }
  }
  std::cout << "[ModelDiff] randomly damaged packages compared: " << tally.compared
            << ", ending unreadable: " << tally.unreadable << ", differing: " << tally.differing << "\n";
  EXPECT_EQ(tally.differing, 0);
}

TEST(ModelDiff, BoundsAndSpecialCases) {
  Tally tally;
  auto check = [&tally](const std::string& label, const OldPackage& p) { Compare(label, BuildOldSis(p), "pkg.sis", tally); };

  OldPackage none;
  none.languages = {};
  none.names = {};
  none.records = {OldFile("C:\\a.txt", "!:\\a.txt"), OldLangFile("C:\\b.txt", "!:\\b.txt", {}), OldOptions({{}, {}})};
  check("no languages", none);

  for (std::size_t n : {180u, 181u, 200u, 201u}) {
    OldPackage many;
    many.languages.assign(n, 1);
    many.names.assign(n, "N");
    many.records = {OldFile("C:\\a.txt", "!:\\a.txt"), OldOptions({std::vector<std::string>(n, "o")})};
    check("languages " + std::to_string(n), many);
  }
  for (std::size_t count : {180u, 181u}) {
    OldPackage opts;
    opts.records = {OldOptions(std::vector<std::vector<std::string>>(count, {"o"}))};
    check("options " + std::to_string(count), opts);
  }
  for (int links : {99, 100, 110}) {
    OldExpr e = Exists("a");
    for (int i = 0; i < links; ++i) e = And(e, Exists("b"));
    OldPackage p;
    p.records = {OldFile("C:\\a", "!:\\a"), OldIf(e)};
    check("token chain " + std::to_string(links), p);
  }
  for (int depth : {98, 99, 100, 101, 150}) {
    OldExpr e = Var(0x1000);
    for (int i = 0; i < depth; ++i) e = Not(e);
    OldPackage p;
    p.records = {OldIf(e)};
    check("not depth " + std::to_string(depth), p);
  }
  {
    OldPackage p;
    p.records = {OldFile("C:\\a", "!:\\a"), Raw(RawCondition({})), Raw(Bytes{3, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F})};
    check("empty and oversized conditions", p);
  }
  {
    // Requisites whose table begins just below 2^32: the UID is read at the position taken
    // as a signed number.
    OldPackage p = Rich();
    Bytes b = BuildOldSis(p);
    for (std::uint32_t v : {0xFFFFFFFEu, 0xFFFFFFFFu, 0xFFFFFFFDu, 0xFFFFFFFCu}) {
      Bytes m = b;
      PutWord(m, 56, 4, v);
      Compare("requisites at " + std::to_string(v), m, "pkg.sis", tally);
    }
  }
  std::cout << "[ModelDiff] special packages compared: " << tally.compared << ", ending unreadable: " << tally.unreadable
            << ", differing: " << tally.differing << "\n";
  EXPECT_EQ(tally.differing, 0);
}

TEST(ModelDiff, CorpusPackages) {
  TARVIK_REQUIRE_SHARED();
  const std::string corpus = *SharedDir() + "/corpus";
  std::ifstream manifest(corpus + "/MANIFEST.tsv");
  ASSERT_TRUE(manifest) << "no MANIFEST.tsv";
  std::string line;
  std::getline(manifest, line);
  std::vector<std::string> header;
  {
    std::stringstream s(line);
    for (std::string cell; std::getline(s, cell, '\t');) header.push_back(cell);
  }
  const auto col = [&](const char* name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  const std::size_t fileCol = col("file"), genCol = col("generation");
  ASSERT_LT(genCol, header.size());
  Tally tally;
  int listed = 0;
  while (std::getline(manifest, line)) {
    std::vector<std::string> cells;
    std::stringstream s(line);
    for (std::string cell; std::getline(s, cell, '\t');) cells.push_back(cell);
    if (cells.size() <= genCol || cells[genCol] != "pre-9.x") continue;
    ++listed;
    const Bytes bytes = ReadBytes(corpus + "/" + cells[fileCol]);
    ASSERT_FALSE(bytes.empty()) << cells[fileCol];
    Compare(cells[fileCol], bytes, fs::path(cells[fileCol]).filename().string(), tally);
    // Their cuts, every 61 bytes.
    for (std::size_t cut = 12; cut < bytes.size(); cut += 61) {
      Compare(cells[fileCol] + " cut " + std::to_string(cut), Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut)),
              "pkg.sis", tally);
    }
  }
  EXPECT_GT(listed, 0);
  std::cout << "[ModelDiff] corpus packages listed pre-9.x: " << listed << "; packages and cuts compared: "
            << tally.compared << ", ending unreadable: " << tally.unreadable << ", differing: " << tally.differing
            << "\n";
  EXPECT_EQ(tally.differing, 0);
}

}  // namespace
}  // namespace tarvik::test
