// Packages that cost far more than their size: a controller that declares more than its
// stream holds or more than any controller needs, and file descriptions that point many
// times at one piece of data.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "bytes/file_buffer.hpp"
#include "extract/budget.hpp"
#include "parse/parse.hpp"
#include "window/commands.hpp"
#include "sis9/limits.hpp"
#include "support/fake_ui.hpp"
#include "support/mutate.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
namespace w = test::sis9w;

struct Window {
  test::FakeUi ui;
  test::TempDir dir;
  window::Commands app{ui, test::TestPlatform(dir)};
  Window() { app.Form_Load(); }
  std::string TmpBin() const { return *app.platform().TempDir() + "Brimond/tmp.bin"; }
};

bool HasProblem(const model::Package& p, const std::string& part) {
  return std::any_of(p.problems.begin(), p.problems.end(),
                     [&](const model::Problem& q) { return q.what.find(part) != std::string::npos; });
}

w::Controller Plain() {
  w::Controller c;
  c.files = {w::TextFile("!:\\data\\a.txt", "alpha\n"), w::TextFile("!:\\data\\b.txt", "beta\n", true)};
  return c;
}

TEST(Bombs, ControllerIsNeverPaddedToItsDeclaredSize) {
  const Bytes honest = w::Build(Plain());
  // The SISCompressed field is at 48: its length at 52, the declared size at 60.
  const std::uint64_t trueSize = ReadLE(ByteView(honest), 60, 8);
  const std::uint64_t compressed = ReadLE(ByteView(honest), 52, 4) - 12;
  w::ControllerStream claim;
  claim.declaredSize = compressed * 1000;  // a size deflate could give, but this stream does not
  const Bytes padded = w::Build(Plain(), claim);
  ASSERT_EQ(padded.size(), honest.size());

  Window win;
  win.app.OpenBytes("padded.sis", padded);
  ASSERT_TRUE(test::PackageOf(win.app));
  // What the stream holds is read; the missing rest is damage, said once.
  EXPECT_TRUE(HasProblem(*test::PackageOf(win.app), "declared size"));
  EXPECT_EQ(test::ViewOf(win.app).files.size(), 2u);
  ASSERT_EQ(win.ui.messages.size(), 1u);
  EXPECT_NE(win.ui.messages[0].text.find("inflates to " + std::to_string(trueSize) + " of " +
                                         std::to_string(*claim.declaredSize) + " bytes"),
            std::string::npos)
      << win.ui.messages[0].text;
  // The scratch copy is what was inflated, never the declared size.
  EXPECT_EQ(fs::file_size(win.TmpBin()), trueSize);

  // The honest package says nothing and writes the same copy.
  Window ok;
  ok.app.OpenBytes("honest.sis", honest);
  EXPECT_TRUE(ok.ui.messages.empty());
  EXPECT_EQ(fs::file_size(ok.TmpBin()), trueSize);
}

TEST(Bombs, ControllerBeyondTheCeilingIsNotRead) {
  // Real zeros behind the controller field: the stream is sound and the ratio possible.
  // A 1.2 MB package of 1.2 GB, and a small one just beyond its own ceiling.
  for (const std::size_t size : {std::size_t{1200} << 20, std::size_t{24} << 20}) {
    SCOPED_TRACE(size);
    w::ControllerStream zeros;
    zeros.zeros = size;
    const Bytes bomb = w::Build(Plain(), zeros);
    ASSERT_GT(size, sis9::ControllerCeiling(bomb.size()));
    ASSERT_LE(sis9::ControllerCeiling(bomb.size()), sis9::kMaxControllerSize);

    Window win;
    win.app.OpenBytes("bomb.sis", bomb);
    ASSERT_TRUE(test::PackageOf(win.app));
    EXPECT_FALSE(test::PackageOf(win.app)->controllerRead);
    EXPECT_TRUE(HasProblem(*test::PackageOf(win.app), "bytes a package of this size may have"));
    ASSERT_EQ(win.ui.messages.size(), 1u);
    EXPECT_FALSE(fs::exists(win.TmpBin()));
    EXPECT_TRUE(test::ViewOf(win.app).files.empty());
  }
  // Under the ceiling, zeros behind the controller are read (and cost no more than they are).
  w::ControllerStream some;
  some.zeros = std::size_t{1} << 20;
  Window win;
  win.app.OpenBytes("zeros.sis", w::Build(Plain(), some));
  EXPECT_TRUE(win.ui.messages.empty());
  EXPECT_EQ(test::ViewOf(win.app).files.size(), 2u);
}

// Four descriptions of one deflated megabyte: a package of about 2 KiB that would write 4 MiB.
Bytes SharedDataPackage() {
  const std::string mega(1 << 20, '\0');
  w::Controller c;
  for (int k = 0; k < 4; ++k) {
    w::File f = w::TextFile("!:\\data\\copy" + std::to_string(k) + ".bin", mega, true);
    f.fileIndex = 0;
    c.files.push_back(f);
  }
  return w::Build(c);
}

TEST(Bombs, ExtractionBeyondWhatThePackageCouldHoldIsAskedFirst) {
  const Bytes bomb = SharedDataPackage();
  ASSERT_LT(bomb.size(), 4096u);
  for (const bool answer : {false, true}) {
    SCOPED_TRACE(answer);
    Window win;
    win.app.OpenBytes(win.dir.Write("bomb.sis", bomb), bomb);
    ASSERT_EQ(test::ViewOf(win.app).files.size(), 4u);
    const std::string out = win.dir / "out";
    fs::create_directories(out);
    win.ui.answers.push_back(answer);
    const test::Extraction x = test::ExtractThroughMenu(win.app, win.ui, out);
    ASSERT_EQ(win.ui.questions.size(), 1u);
    const auto& question = win.ui.questions.front();
    EXPECT_EQ(question.kind, ops::QuestionKind::WriteBeyondBudget);
    EXPECT_NE(question.text.find("would write 4,194,304 bytes (4.0 MiB)"), std::string::npos) << question.text;
    EXPECT_NE(question.text.find("more than a package of its size could honestly hold"), std::string::npos);
    EXPECT_EQ(x.job.status == ops::ExtractStatus::Declined, !answer);
    const std::string file = out + "/bin/bomb/data/copy3.bin";
    if (!answer) {
      EXPECT_FALSE(fs::exists(out + "/bin")) << "nothing is written before the answer";
    } else {
      EXPECT_EQ(fs::file_size(file), 1u << 20);
    }
  }
}

// A pre-9.x package whose 40 file records all point at the first one's deflated megabyte.
Bytes OldSharedDataPackage() {
  test::OldPackage pkg;
  pkg.records.push_back(test::OldFile("big.bin", "!:\\d\\big0.bin", std::string(1 << 20, '\0')));
  for (int k = 1; k < 40; ++k)
    pkg.records.push_back(test::OldFile("f.bin", "!:\\d\\big" + std::to_string(k) + ".bin", "x"));
  test::OldLayout layout;
  Bytes b = test::BuildOldSis(pkg, layout);
  // A file record: kind, type, details, two name fields, then per entry its stored length,
  // its offset and (release 6) its uncompressed size.
  const auto field = [&](std::size_t record, std::size_t at) { return static_cast<Pos>(layout.recordOffsets[record] + at); };
  for (std::size_t k = 1; k < pkg.records.size(); ++k) {
    test::Put32(b, field(k, 28), static_cast<std::uint32_t>(layout.storedLengths[0][0]));
    test::Put32(b, field(k, 32), static_cast<std::uint32_t>(layout.dataOffsets[0][0]));
    test::Put32(b, field(k, 36), 1u << 20);
  }
  return b;
}

TEST(Bombs, PreNineExtractionBeyondWhatThePackageCouldHoldIsAskedFirst) {
  const Bytes bomb = OldSharedDataPackage();
  Window win;
  win.app.OpenBytes(win.dir.Write("old.sis", bomb), bomb);
  ASSERT_EQ(test::ViewOf(win.app).files.size(), 40u);
  EXPECT_EQ(test::ViewOf(win.app).files[39].uncompressedSize, 1u << 20);
  const std::string out = win.dir / "out";
  fs::create_directories(out);
  const test::Extraction x = test::ExtractThroughMenu(win.app, win.ui, out);  // the question is answered no
  ASSERT_EQ(win.ui.questions.size(), 1u);
  EXPECT_TRUE(win.ui.messages.empty());
  EXPECT_NE(win.ui.questions[0].text.find("would write 41,943,040 bytes"), std::string::npos) << win.ui.questions[0].text;
  EXPECT_EQ(x.job.status, ops::ExtractStatus::Declined);
  EXPECT_FALSE(fs::exists(out + "/bin"));
}

TEST(Bombs, PreNineRowsAfterOnePastTheEndStillCount) {
  // Extraction goes on past a row whose data lies beyond the package, so what the rows after
  // it would write is weighed too.
  const Bytes bomb = OldSharedDataPackage();
  const auto parsed = Parse(bomb, "old.sis");
  std::vector<views::FileRow> rows = views::Describe(parsed, {}).files;
  ASSERT_EQ(rows.size(), 40u);
  rows[0].offset = static_cast<std::int64_t>(bomb.size());
  test::TempDir dir;
  const extract::Budget b = extract::PlanExtraction(bomb, parsed.generation, rows, dir.Path());
  EXPECT_EQ(b.planned, 39u << 20);
  EXPECT_TRUE(b.TooMuch());
}

TEST(Bombs, ExtractionBeyondTheFreeSpaceIsAskedFirst) {
  const Bytes honest = w::Build(Plain());
  const auto parsed = Parse(honest, "plain.sis");
  const views::PackageView view = views::Describe(parsed, {});
  test::TempDir dir;
  extract::Budget b = extract::PlanExtraction(honest, parsed.generation, view.files, dir.Path());
  EXPECT_EQ(b.planned, 11u);  // "alpha\n" and "beta\n"
  ASSERT_TRUE(b.free);
  EXPECT_FALSE(b.TooMuch());
  b.free = 10;
  EXPECT_TRUE(b.TooMuch());
  EXPECT_NE(b.Question("/d/").find("more than the 10 bytes free there"), std::string::npos) << b.Question("/d/");
}

TEST(Bombs, NoCorpusPackageAsksBeforeExtracting) {
  TARVIK_REQUIRE_SHARED();
  int seen = 0;
  for (const auto& row : test::CorpusManifest()) {
    const auto path = *test::SharedDir() + "/corpus/" + row.at("file");
    const std::string lower = ToLower(path);
    if (!lower.ends_with(".sis") && !lower.ends_with(".sisx")) continue;
    const Bytes bytes = test::ReadBytes(path);
    const auto pkg = Parse(bytes, path);
    const views::PackageView view = views::Describe(pkg, {});
    const extract::Budget b = extract::PlanExtraction(bytes, pkg.generation, view.files, "/nonexistent/");
    EXPECT_LE(b.planned, b.honest) << path;
    ++seen;
  }
  EXPECT_GT(seen, 50);
}

}  // namespace
}  // namespace tarvik
