#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "window/commands.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

struct AppFixture : ::testing::Test {
  test::FakeUi ui;
  test::TempDir dir;
  window::Commands app{ui, test::TestPlatform(dir)};
  void SetUp() override { app.Form_Load(); }
};

TEST_F(AppFixture, StartUpCreatesTheProgramFolders) {
  EXPECT_TRUE(fs::is_directory(dir / "data/Brimond/bin"));
  const auto tmp = app.platform().TempDir();
  ASSERT_TRUE(tmp);
  EXPECT_TRUE(fs::is_directory(*tmp + "Brimond"));
  struct stat st {};
  ASSERT_EQ(lstat(tmp->c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(ui.messages.empty());
  app.Form_Load();  // everything exists: nothing to do, nothing to say
  EXPECT_TRUE(ui.messages.empty());
}

TEST(Platform, RefusesATemporaryFolderThatIsALink) {
  test::TempDir dir;
  fs::create_directories(dir / "tmp");
  fs::create_directories(dir / "elsewhere");
  fs::create_symlink(dir / "elsewhere", dir / ("tmp/tarvik-" + std::to_string(geteuid())));
  EXPECT_FALSE(test::TestPlatform(dir).TempDir());
}

TEST(Platform, TightensAnOwnFolderOpenToOthers) {
  test::TempDir dir;
  const std::string priv = dir / ("tmp/tarvik-" + std::to_string(geteuid()));
  fs::create_directories(priv);
  chmod(priv.c_str(), 0777);
  ASSERT_TRUE(test::TestPlatform(dir).TempDir());
  struct stat st {};
  stat(priv.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(AppFixture, OpenShowsAPkgScriptUnchanged) {
  const std::string text = "&EN\r\n#{\"Demo\"},(0x10000001),1,0,0\r\n\"a.txt\"-\"!:\\a.txt\"\r\n";
  const std::string path = dir.Write("demo.pkg", text);
  test::OpenThroughMenu(app, ui, path);
  EXPECT_EQ(ui.text, text);
  EXPECT_EQ(test::TextOf(app), text);
  EXPECT_EQ(ui.title, "demo.pkg - Tarvik");
  EXPECT_EQ(app.State().openedFile, path);
  EXPECT_EQ(app.State().currentFile, path);
  EXPECT_EQ(ui.dialogTitles.back(), "Open File");
  EXPECT_EQ(ui.dialogFilters.back(),
            "SIS File, Brimond File, PKG File|*.sis;*.sisx;*.qsd;*.pkg|SIS File (.sis, .sisx)|*.sis;*.sisx|"
            "Brimond Session File (.qsd)|*.qsd|PKG File (.pkg)|*.pkg|");
  EXPECT_EQ(ui.banners, (std::vector<std::string>{"<--------Openning file, please wait...-------->"}));
  EXPECT_FALSE(ui.bannerVisible);
  const window::FileMenuState m = app.mnFile_Click();
  EXPECT_TRUE(m.save && m.reload && m.close);
  EXPECT_FALSE(m.extract);  // a script carries no files
}

TEST_F(AppFixture, PkgTextIsDecodedByItsByteOrderMark) {
  struct Case {
    std::string bytes;
    std::string text;
  };
  const Case cases[] = {
      {"caf\xE9\r\n", "caf\xC3\xA9\r\n"},                      // Windows-1252
      {"\xEF\xBB\xBF" "caf\xC3\xA9\r\n", "caf\xC3\xA9\r\n"},  // UTF-8 with its mark
      {std::string("\xFF\xFE" "c\0\xE9\0\r\0\n\0", 10), "c\xC3\xA9\r\n"},
      {std::string("\xFE\xFF\0c\0\xE9\0\r\0\n", 10), "c\xC3\xA9\r\n"},
  };
  for (const auto& c : cases) {
    test::OpenThroughMenu(app, ui, dir.Write("t.pkg", c.bytes));
    EXPECT_EQ(ui.text, c.text);
  }
}

TEST_F(AppFixture, TheExtensionAloneChoosesTheReader) {
  // Only the end of the path counts, case ignored; an unknown extension reads nothing.
  const std::string pkgish = dir.Write("x.sis.pkg", "hello");
  test::OpenThroughMenu(app, ui, pkgish);
  EXPECT_EQ(ui.text, "hello");
  // A file of another kind opens nothing: what was open stays.
  const std::string other = dir.Write("x.txt", "hello");
  test::OpenThroughMenu(app, ui, other);
  EXPECT_EQ(ui.text, "hello");
  EXPECT_EQ(ui.title, "x.sis.pkg - Tarvik");
  EXPECT_EQ(app.State().currentFile, pkgish);
  const std::string upper = dir.Write("X.PKG", "upper");
  test::OpenThroughMenu(app, ui, upper);
  EXPECT_EQ(ui.text, "upper");
}

TEST_F(AppFixture, CancelledOpenChangesNothing) {
  const std::string path = dir.Write("a.pkg", "A");
  test::OpenThroughMenu(app, ui, path);
  ui.openAnswers.push_back(std::nullopt);
  app.mnOpen_Click();
  EXPECT_EQ(ui.text, "A");
  EXPECT_EQ(app.State().currentFile, path);
  EXPECT_EQ(ui.banners.size(), 1u);  // the banner was not shown again
}

TEST_F(AppFixture, ReloadReadsTheFileAgain) {
  const std::string path = dir.Write("a.pkg", "first");
  test::OpenThroughMenu(app, ui, path);
  ui.text = "edited";
  dir.Write("a.pkg", "second");
  app.mnReload_Click();
  EXPECT_EQ(ui.text, "second");
  EXPECT_EQ(ui.banners.back(), "<--------Reload File, please wait...-------->");
  EXPECT_FALSE(ui.bannerVisible);
  EXPECT_EQ(ui.title, "a.pkg - Tarvik");
}

TEST_F(AppFixture, CloseEmptiesTheWindowAndTheFileMenu) {
  test::OpenThroughMenu(app, ui, dir.Write("p.sis", test::sis9w::MakeDemoPackage()));
  ASSERT_TRUE(test::PackageOf(app));
  test::OpenThroughMenu(app, ui, dir.Write("a.pkg", "A"));
  EXPECT_FALSE(test::PackageOf(app)) << "nothing of the package survives the next open";
  EXPECT_TRUE(test::ViewOf(app).files.empty());
  app.mnClose_Click();
  EXPECT_EQ(ui.text, "");
  EXPECT_EQ(ui.title, "Tarvik");
  EXPECT_TRUE(app.State().currentFile.empty());
  EXPECT_TRUE(app.State().openedFile.empty());
  EXPECT_TRUE(test::BytesOf(app).empty());
  EXPECT_EQ(test::TextOf(app), "") << "nothing of the closed file stays";
  const window::FileMenuState m = app.mnFile_Click();
  EXPECT_FALSE(m.save || m.extract || m.reload || m.close);
}

TEST_F(AppFixture, ExtractIsOfferedOnlyForACarryingPackageOnDisk) {
  const std::string path = dir.Write("p.sis", test::sis9w::MakeDemoPackage());
  test::OpenThroughMenu(app, ui, path);
  ASSERT_GT(test::FileCountOf(app), 0);
  EXPECT_TRUE(app.mnFile_Click().extract);
  dir.Write("p.sis", "");  // emptied since it was opened
  EXPECT_FALSE(app.mnFile_Click().extract);
  fs::remove(path);  // gone
  EXPECT_FALSE(app.mnFile_Click().extract);
}

TEST_F(AppFixture, WorkingDirectoryGetsOneTrailingSeparator) {
  struct Case {
    std::optional<std::string> picked;
    std::string setting;
  };
  const Case cases[] = {
      {"/home/me/src", "/home/me/src/"},
      {"/home/me/src/", "/home/me/src/"},
      {"/", "/"},                                   // the root keeps its single separator
      {std::string("/opt\0junk", 9), "/opt/"},      // cut at the first NUL
      {"", "/opt/"},                                // no path: unchanged
      {std::nullopt, "/opt/"},                      // cancelled: unchanged
  };
  for (const auto& c : cases) {
    ui.folderAnswers.push_back(c.picked);
    app.mnWD_Click();
    EXPECT_EQ(app.State().sourceFolder, c.setting);
  }
  EXPECT_EQ(ui.dialogTitles.back(), "Select location to include as default file path in pkg script");
}

TEST_F(AppFixture, ExitDeletesTheScratchFile) {
  app.Form_Unload();  // no scratch file: nothing happens
  EXPECT_TRUE(ui.messages.empty());
  test::OpenThroughMenu(app, ui, dir.Write("p.sis", test::sis9w::MakeDemoPackage()));
  const std::string scratch = app.Scratch().PkgPath();
  ASSERT_TRUE(fs::exists(scratch));
  ui.messages.clear();
  app.Form_Unload();
  EXPECT_FALSE(fs::exists(scratch));
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace tarvik
