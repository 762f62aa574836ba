// File -> Save As: the kind of file by the name's ending, the overwrite question, encodings.

#include <gtest/gtest.h>

#include <filesystem>

#include "project/project.hpp"
#include "support/fake_ui.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

class SaveAsTest : public ::testing::Test {
 protected:
  FakeUi ui;
  TempDir dir;
  window::Commands app{ui, TestPlatform(dir)};

  void SetUp() override {
    app.Form_Load();
    OpenThroughMenu(app, ui, dir.Write("produced.pkg", "produced text"));
    ui.dialogTitles.clear();
    ui.dialogFilters.clear();
    ui.text = "edited text";
  }

  void SaveAs(const std::string& path) {
    ui.saveAnswers.push_back(path);
    app.mnSave_Click();
  }
};

TEST_F(SaveAsTest, AsksWithTheDialogTexts) {
  SaveAs(dir / "a.pkg");
  EXPECT_EQ(ui.dialogTitles, std::vector<std::string>{"Save As..."});
  EXPECT_EQ(ui.dialogFilters, std::vector<std::string>{"PKG File (.pkg)|*.pkg|Brimond Session File (.qsd)|*.qsd|"
                                                       "Text File (.txt)|*.txt|All Files|*.*"});
  // The open file's name without its extension is proposed; "Unnamed" with nothing open.
  EXPECT_EQ(ui.proposedNames, std::vector<std::string>{"produced"});
  app.mnClose_Click();
  SaveAs(dir / "b.pkg");
  EXPECT_EQ(ui.proposedNames.back(), "Unnamed");
}

TEST_F(SaveAsTest, PkgAndTextAreTheSameBytesWithCrLfAppended) {
  ui.text = "&EN\r\n\"caf\xC3\xA9\"";
  SaveAs(dir / "a.pkg");
  SaveAs(dir / "a.txt");
  SaveAs(dir / "a.anything");
  EXPECT_EQ(ReadFile(dir / "a.pkg"), "&EN\r\n\"caf\xE9\"\r\n");
  EXPECT_EQ(ReadFile(dir / "a.txt"), ReadFile(dir / "a.pkg"));
  EXPECT_EQ(ReadFile(dir / "a.anything"), ReadFile(dir / "a.pkg"));
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(SaveAsTest, TextOutsideTheCodePageIsWrittenAsUtf16) {
  ui.text = "a\xC4\x81\xF0\x9F\x99\x82";  // a, U+0101, U+1F642
  SaveAs(dir / "u.pkg");
  EXPECT_EQ(ReadFile(dir / "u.pkg"), std::string("\xFF\xFE" "a\0\x01\x01\x3D\xD8\x42\xDE\r\0\n\0", 14));
}

TEST_F(SaveAsTest, SessionHoldsTheProducedTextNotTheEdits) {
  for (const char* name : {"s.qsd", "S.QSD", "sqsd"}) {
    SaveAs(dir / name);
    const Bytes file = ReadBytes(dir / name);
    EXPECT_EQ(project::OpenProject(file, dir / name).pkgText, "produced text") << name;
  }
  EXPECT_EQ(ReadFile(dir / "s.qsd").substr(0, 3), "QSD");
}

TEST_F(SaveAsTest, OverwriteQuestionNoKeepsTheFile) {
  const std::string path = dir.Write("x.pkg", "old");
  ui.answers.push_back(false);
  SaveAs(path);
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0].text, path + " already exists.\r\nDo you want to replace it?");
  EXPECT_EQ(ui.questions[0].kind, ops::QuestionKind::ReplaceFile);
  EXPECT_EQ(ui.questions[0].title, "Tarvik");
}

TEST_F(SaveAsTest, OverwriteQuestionYesReplaces) {
  const std::string txt = dir.Write("x.txt", "old");
  const std::string qsd = dir.Write("x.qsd", "old");
  ui.answers = {true, true};
  SaveAs(txt);
  SaveAs(qsd);
  EXPECT_EQ(ReadFile(txt), "edited text\r\n");
  EXPECT_EQ(ReadFile(qsd).substr(0, 3), "QSD");
  EXPECT_EQ(ui.questions.size(), 2u);
}

TEST_F(SaveAsTest, NoQuestionForANewFileAndNothingOnCancel) {
  app.mnSave_Click();  // cancelled
  SaveAs(dir / "new.txt");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ReadFile(dir / "new.txt"), "edited text\r\n");
}

TEST_F(SaveAsTest, FailedWriteIsReportedAndLeavesNoFile) {
  for (const std::string name : {"missing/x.txt", "missing/x.qsd"}) {
    ui.messages.clear();
    SaveAs(dir / name);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Error while saving " + (dir / name));
    EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
    EXPECT_FALSE(fs::exists(dir / name));
  }
}

TEST_F(SaveAsTest, FailedReplaceKeepsTheOldFolderContent) {
  // A folder stands at the chosen name: the write fails and the folder survives.
  fs::create_directories(dir / "taken.txt");
  dir.Write("taken.txt/inside", "kept");
  SaveAs(dir / "taken.txt");
  EXPECT_EQ(ReadFile(dir / "taken.txt/inside"), "kept");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
  // No temporary file is left beside it.
  for (const auto& e : fs::directory_iterator(dir.Path()))
    EXPECT_EQ(e.path().filename().string().find("taken.txt."), std::string::npos) << e.path();
}

}  // namespace
}  // namespace tarvik::test
