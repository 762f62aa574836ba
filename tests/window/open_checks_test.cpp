// What Open and Reload tell a person about a file they cannot read as asked.

#include <gtest/gtest.h>

#include <filesystem>

#include "window/commands.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
namespace w = test::sis9w;

struct OpenChecks : ::testing::Test {
  test::FakeUi ui;
  test::TempDir dir;
  window::Commands app{ui, test::TestPlatform(dir)};
  void SetUp() override { app.Form_Load(); }
  // Opens a PKG script, so that the window has something a refused open must keep.
  void OpenScript() {
    test::OpenThroughMenu(app, ui, dir.Write("kept.pkg", std::string("&EN\r\n")));
    ui.messages.clear();
  }
  std::string Package() const {
    w::Controller c;
    c.files = {w::TextFile("!:\\a.txt", "a")};
    const Bytes b = w::Build(c);
    return std::string(b.begin(), b.end());
  }
};

TEST_F(OpenChecks, RefusedOpensSayWhyAndKeepTheWindow) {
  struct Case {
    const char* name;
    std::string file;     // written when not empty-named; "" = missing
    bool write;
    std::string says;     // part of the message
    ops::Severity severity;
  };
  const Case cases[] = {
      {"missing", "gone.sis", false, "does not exist", ops::Severity::Error},
      {"empty", "empty.sis", true, "is empty (0 bytes)", ops::Severity::Error},
      {"empty script", "empty.pkg", true, "is empty (0 bytes)", ops::Severity::Error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenScript();
    const std::string path = c.write ? dir.Write(c.file, std::string()) : dir / c.file;
    test::OpenThroughMenu(app, ui, path);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(c.says), std::string::npos) << ui.messages[0].text;
    EXPECT_NE(ui.messages[0].text.find("\r\n"), std::string::npos);  // and what to do
    EXPECT_EQ(ui.messages[0].severity, c.severity);
    EXPECT_EQ(ui.text, "&EN\r\n");
    EXPECT_EQ(app.State().openedFile, dir / "kept.pkg");
  }
}

TEST_F(OpenChecks, UnknownExtensionIsOfferedAsAPackageWhenItLooksLikeOne) {
  const std::string renamed = dir.Write("download.bin", Package());
  // No: nothing is read.
  test::OpenThroughMenu(app, ui, renamed);
  EXPECT_TRUE(ui.messages.empty());
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_NE(ui.questions[0].text.find("Read it as a package?"), std::string::npos);
  EXPECT_EQ(ui.questions[0].kind, ops::QuestionKind::ReadAsPackage);
  EXPECT_TRUE(ui.text.empty());
  EXPECT_FALSE(app.mnFile_Click().extract);
  // Yes: read as the package it is.
  ui.answers.push_back(true);
  test::OpenThroughMenu(app, ui, renamed);
  EXPECT_NE(ui.text.find("#{\"Package\"}"), std::string::npos) << ui.text;
  EXPECT_TRUE(app.mnFile_Click().extract);

  // Not a package at all: what the program reads, and no question.
  ui.messages.clear();
  ui.questions.clear();
  test::OpenThroughMenu(app, ui, dir.Write("notes.txt", std::string("hello, this is text")));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_NE(ui.messages[0].text.find(".sis, .sisx"), std::string::npos) << ui.messages[0].text;
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Warning);
}

TEST_F(OpenChecks, ReloadOfADeletedFileKeepsWhatIsShown) {
  const std::string path = dir.Write("p.sis", Package());
  test::OpenThroughMenu(app, ui, path);
  const std::string shown = ui.text;
  ASSERT_FALSE(shown.empty());
  ui.messages.clear();
  fs::remove(path);
  app.mnReload_Click();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].text.find("is no longer there"), std::string::npos);
  EXPECT_EQ(ui.text, shown);
  EXPECT_TRUE(test::PackageOf(app));
}

}  // namespace
}  // namespace tarvik
