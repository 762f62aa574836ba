// Files that stand where an extraction writes: replaced, kept or written beside under a
// free name, as the request or the person chooses; nothing touched when the person cancels.

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "extract_fixture.hpp"

namespace tarvik::test {
namespace {

using ops::ExistingChoice;

class Overwrite : public ExtractSis9Test {
 protected:
  void SetUp() override {
    ExtractSis9Test::SetUp();
    AddDeflated("bin\\demo\\a.txt", "new A");
    AddStored("bin\\demo\\b.txt", "new B");
    AddStored("bin\\demo\\c.txt", "new C");
    Load(pkg.bytes, 1);
    // The person edited two of the files extracted before.
    std::filesystem::create_directories(Written("bin\\demo"));
    WriteFile(Written("bin\\demo\\a.txt"), "edited A");
    WriteFile(Written("bin\\demo\\b.txt"), "edited B");
  }

  ops::ExtractJob job;
  ops::ExtractReport report;
  void Run(ops::Overwrite overwrite) {
    ops::ExtractRequest request;
    request.folder = out;
    request.overwrite = overwrite;
    job = ops::PrepareExtraction(HandMade(), request, ui);
    extract::QuietReporter quiet;
    report = ops::RunExtraction(job, quiet);
  }
  static void WriteFile(const std::string& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string At(std::string_view path) const { return Exists(path) ? ReadFile(Written(path)) : "(none)"; }
};

TEST_F(Overwrite, EachChoiceKeepsOrReplacesWhatStandsThere) {
  struct Case {
    const char* name;
    ops::Overwrite overwrite;
    std::vector<ops::ExistingAnswer> answers;
    std::size_t asked;
    const char *a, *b, *a2, *b2;
  };
  const std::vector<Case> cases = {
      {"replace all", ops::Overwrite::All, {}, 0, "new A", "new B", "(none)", "(none)"},
      {"skip all", ops::Overwrite::Skip, {}, 0, "edited A", "edited B", "(none)", "(none)"},
      {"rename all", ops::Overwrite::Rename, {}, 0, "edited A", "edited B", "new A", "new B"},
      {"asked: overwrite one, skip the next", ops::Overwrite::Ask,
       {{ExistingChoice::Overwrite, false}, {ExistingChoice::Skip, false}}, 2, "new A", "edited B", "(none)", "(none)"},
      {"asked: skip, for all", ops::Overwrite::Ask, {{ExistingChoice::Skip, true}}, 1, "edited A", "edited B",
       "(none)", "(none)"},
      {"asked: rename, for all", ops::Overwrite::Ask, {{ExistingChoice::Rename, true}}, 1, "edited A", "edited B",
       "new A", "new B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(Written("bin\\demo\\a.txt"), "edited A");
    WriteFile(Written("bin\\demo\\b.txt"), "edited B");
    std::filesystem::remove(Written("bin\\demo\\a (2).txt"));
    std::filesystem::remove(Written("bin\\demo\\b (2).txt"));
    std::filesystem::remove(Written("bin\\demo\\c.txt"));
    ui.existingQuestions.clear();
    ui.existingAnswers.assign(c.answers.begin(), c.answers.end());
    Run(c.overwrite);
    ASSERT_EQ(job.status, ops::ExtractStatus::Go);
    EXPECT_EQ(job.existing, 2u);
    EXPECT_EQ(ui.existingQuestions.size(), c.asked);
    EXPECT_EQ(At("bin\\demo\\a.txt"), c.a);
    EXPECT_EQ(At("bin\\demo\\b.txt"), c.b);
    EXPECT_EQ(At("bin\\demo\\a (2).txt"), c.a2);
    EXPECT_EQ(At("bin\\demo\\b (2).txt"), c.b2);
    // The file that stood nowhere is written whatever the choice.
    EXPECT_EQ(At("bin\\demo\\c.txt"), "new C");
    EXPECT_FALSE(report.Faulty());
  }
}

TEST_F(Overwrite, TheQuestionNamesThePathAndHowManyStandThere) {
  ui.existingAnswers = {{ExistingChoice::Skip, false}, {ExistingChoice::Skip, false}};
  Run(ops::Overwrite::Ask);
  ASSERT_EQ(ui.existingQuestions.size(), 2u);
  EXPECT_EQ(ui.existingQuestions[0].path, Written("bin\\demo\\a.txt"));
  EXPECT_EQ(ui.existingQuestions[1].index, 1u);
  EXPECT_EQ(ui.existingQuestions[1].count, 2u);
  // Kept files are said, and the written one is listed as written.
  ASSERT_EQ(report.kept.size(), 2u);
  EXPECT_EQ(report.kept[0], "bin/demo/a.txt");
  ASSERT_EQ(report.result.written.size(), 1u);
  EXPECT_EQ(report.result.written[0].row, 2u);  // its place among the rows asked for
  EXPECT_NE(report.messages.front().text.find(ops::kKeptHead), std::string::npos);
}

TEST_F(Overwrite, CancelOrNoPersonToAskTouchesNothing) {
  // The default answer (no person, or Cancel) keeps everything and writes nothing.
  Run(ops::Overwrite::Ask);
  EXPECT_EQ(job.status, ops::ExtractStatus::Kept);
  EXPECT_EQ(At("bin\\demo\\a.txt"), "edited A");
  EXPECT_EQ(At("bin\\demo\\c.txt"), "(none)");
  // Into a fresh folder nothing is asked.
  ui.existingQuestions.clear();
  out = dir / "fresh";
  Run(ops::Overwrite::Ask);
  EXPECT_EQ(job.status, ops::ExtractStatus::Go);
  EXPECT_TRUE(ui.existingQuestions.empty());
  EXPECT_EQ(report.result.extracted, 3);
}

TEST(FreeName, NumbersTheNameBeforeItsExtension) {
  const std::set<std::string> taken = {"bin\\x\\a (2).txt"};
  const auto isTaken = [&](const std::string& p) { return taken.count(p) != 0; };
  EXPECT_EQ(ops::FreeName("bin\\x\\a.txt", isTaken), "bin\\x\\a (3).txt");
  EXPECT_EQ(ops::FreeName("bin\\x\\.profile", isTaken), "bin\\x\\.profile (2)");
  EXPECT_EQ(ops::FreeName("bin\\x.d\\README", isTaken), "bin\\x.d\\README (2)");
  EXPECT_EQ(ops::FreeName("bin\\x\\lib.tar.gz", isTaken), "bin\\x\\lib.tar (2).gz");
}

}  // namespace
}  // namespace tarvik::test
