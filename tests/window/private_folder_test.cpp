// The private temporary folder at every level, what a killed run leaves there, and files
// that cannot be read.

#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <sys/wait.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/part_files.hpp"
#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::string Private(const test::TempDir& dir) { return dir / ("tmp/tarvik-" + std::to_string(geteuid())); }

TEST(PrivateFolder, APlantedBrimondLinkIsRefusedWithItsReason) {
  test::TempDir dir;
  // The private folder was once left open to others, and someone put a link in it.
  fs::create_directories(Private(dir));
  chmod(Private(dir).c_str(), 0777);
  const std::string victim = dir / "victim";
  fs::create_directories(victim);
  fs::create_directory_symlink(victim, Private(dir) + "/Brimond");

  std::string why;
  EXPECT_FALSE(test::TestPlatform(dir).ScratchDir(&why));
  EXPECT_EQ(why, Private(dir) + "/Brimond is a symbolic link");

  test::FakeUi ui;
  window::Commands app(ui, test::TestPlatform(dir));
  app.Form_Load();
  EXPECT_EQ(ui.MessageTexts(), std::vector<std::string>{"Cannot use a private temporary folder: " + why});
  app.OpenBytes("demo.sisx", test::sis9w::MakeDemoPackage());
  EXPECT_FALSE(test::ViewOf(app).files.empty());
  EXPECT_TRUE(fs::is_empty(victim)) << "nothing goes through the link";
  EXPECT_TRUE(app.Scratch().PkgPath().empty());
  struct stat st {};
  ASSERT_EQ(lstat(Private(dir).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(PrivateFolder, EachLevelNamesItsRealReason) {
  struct Case {
    const char* name;
    std::function<void(const test::TempDir&)> plant;
    std::string reason;  // the end of the reason, after the folder's path
  };
  const Case cases[] = {
      {"the temporary root is a file",
       [](const test::TempDir& d) { d.Write("tmp", "a file"); },
       std::string(": ") + std::strerror(ENOTDIR)},
      {"Brimond is a file",
       [](const test::TempDir& d) { d.Write("tmp/tarvik-" + std::to_string(geteuid()) + "/Brimond", "x"); },
       "Brimond is not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    c.plant(dir);
    std::string why;
    EXPECT_FALSE(test::TestPlatform(dir).ScratchDir(&why));
    EXPECT_TRUE(why.ends_with(c.reason)) << why;
    EXPECT_EQ(why.find("belongs to another user"), std::string::npos) << why;
  }
}

TEST(PrivateFolder, StartUpRemovesWhatKilledRunsLeft) {
  test::TempDir dir;
  const std::string brimond = Private(dir) + "/Brimond";
  fs::create_directories(brimond);
  // A process number that no longer exists: a child that has ended.
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string dead = ".tarvik-" + std::to_string(gone);
  const std::string stale[] = {dir.Write(brimond.substr(dir.Path().size() + 1) + "/" + dead + "-1-1.part", "part"),
                               dir.Write(brimond.substr(dir.Path().size() + 1) + "/" + dead + "-123.tmp", "save"),
                               dir.Write(brimond.substr(dir.Path().size() + 1) + "/53515776", "old script")};
  // What a living process holds stays: a part file of process 1, and a scratch file held open.
  const std::string living = dir.Write(brimond.substr(dir.Path().size() + 1) + "/.tarvik-1-1-1.part", "part");
  ScratchFile held;
  ASSERT_TRUE(held.Write(brimond + "/42", "held script"));
  const std::string other = dir.Write(brimond.substr(dir.Path().size() + 1) + "/tmp.bin", "controller");

  test::FakeUi ui;
  window::Commands app(ui, test::TestPlatform(dir));
  app.Form_Load();
  for (const auto& s : stale) EXPECT_FALSE(fs::exists(s)) << s;
  EXPECT_TRUE(fs::exists(living));
  EXPECT_TRUE(fs::exists(brimond + "/42"));
  EXPECT_TRUE(fs::exists(other));
  EXPECT_TRUE(held.Delete());
  EXPECT_FALSE(fs::exists(brimond + "/42"));
}

TEST(UnreadableFile, OpenSaysSoAndKeepsTheWindowAsItWas) {
  test::TempDir dir;
  test::FakeUi ui;
  window::Commands app(ui, test::TestPlatform(dir));
  app.Form_Load();
  const std::string good = dir.Write("good.pkg", "&EN\r\n");
  test::OpenThroughMenu(app, ui, good);
  const std::string failing = dir / "failing.sis";
  fs::create_symlink("/proc/self/clear_refs", failing);
  const std::string folder = dir / "folder.qsd";
  fs::create_directories(folder);
  for (const std::string& path : {failing, folder}) {
    SCOPED_TRACE(path);
    ui.messages.clear();
    test::OpenThroughMenu(app, ui, path);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text.rfind("Cannot read " + path + ": ", 0), 0u) << ui.messages[0].text;
    EXPECT_GT(ui.messages[0].text.size(), ("Cannot read " + path + ": ").size());
    EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
    EXPECT_EQ(app.State().openedFile, good);
    EXPECT_EQ(ui.text, "&EN\r\n");
  }
  // A file that became unreadable is closed on Reload, with the reason.
  fs::remove(good);
  fs::create_directories(good);
  ui.messages.clear();
  app.mnReload_Click();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Cannot read " + good + ": " + std::strerror(EISDIR));
  EXPECT_TRUE(app.State().openedFile.empty());
  EXPECT_FALSE(app.mnFile_Click().save);
}

}  // namespace
}  // namespace tarvik

namespace tarvik {
namespace {

TEST(TakeOuts, FoldersOfAWindowThatIsGoneAreSweptAtStart) {
  test::TempDir dir;
  test::FakeUi ui;
  window::Commands first(ui, test::TestPlatform(dir));
  first.Form_Load();
  const auto scratch = test::TestPlatform(dir).ScratchDir();
  ASSERT_TRUE(scratch);
  // A process number no system hands out, and this process's own.
  const std::string gone = *scratch + "open-999999999-1";
  const std::string dragged = *scratch + "drag-999999999-2";
  const std::string mine = *scratch + "drag-" + std::to_string(::getpid()) + "-1";
  const std::string other = *scratch + "opened-by-hand";
  for (const std::string& f : {gone, dragged, mine, other}) std::filesystem::create_directories(f + "/sub");
  window::Commands next(ui, test::TestPlatform(dir));
  next.Form_Load();
  EXPECT_FALSE(std::filesystem::exists(gone));
  EXPECT_FALSE(std::filesystem::exists(dragged));
  EXPECT_TRUE(std::filesystem::exists(mine)) << "a running window's files stay";
  EXPECT_TRUE(std::filesystem::exists(other));
}

}  // namespace
}  // namespace tarvik
