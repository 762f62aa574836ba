// Save As onto what is not an ordinary file, and onto names at the length limit.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "project/project.hpp"
#include "support/fake_ui.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

struct Saver {
  FakeUi ui;
  TempDir dir;
  window::Commands app{ui, TestPlatform(dir)};
  Saver() {
    app.Form_Load();
    OpenThroughMenu(app, ui, dir.Write("produced.pkg", "produced text"));
    ui.text = "edited text";
    ui.answerDefault = true;  // every overwrite question is answered yes
  }
  void SaveAs(const std::string& path) {
    ui.saveAnswers.push_back(path);
    app.mnSave_Click();
  }
};

TEST(SaveTargets, PipesDevicesAndFoldersAreNeverReplaced) {
  Saver s;
  const std::string fifo = s.dir / "pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string device = s.dir / "null";
  fs::create_symlink("/dev/null", device);
  const std::string folder = s.dir / "folder";
  fs::create_directories(folder);
  struct Case {
    std::string path;
    std::string kind;
  };
  for (const Case& c : {Case{fifo, "a named pipe"}, Case{device, "a device"}, Case{folder, "a folder"}}) {
    for (const char* ending : {"", ".qsd"}) {
      // A name ending in .qsd would be a session: link one to the same thing.
      std::string path = c.path;
      if (*ending) {
        path = c.path + ending;
        fs::create_symlink(c.path, path);
      }
      SCOPED_TRACE(path);
      s.ui.messages.clear();
      s.SaveAs(path);
      ASSERT_EQ(s.ui.messages.size(), 1u);
      EXPECT_EQ(s.ui.messages[0].text, "Cannot save to " + path + ": it is " + c.kind + ", not a file.");
      EXPECT_EQ(s.ui.messages[0].severity, ops::Severity::Error);
    }
  }
  struct stat st {};
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_TRUE(fs::is_symlink(device));
  // Nothing else was made beside them (no temporary file left over).
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(s.dir.Path())) entries += e.path().filename().string()[0] == '.';
  EXPECT_EQ(entries, 0u);
}

TEST(SaveTargets, NamesAtTheLengthLimitAreSaved) {
  Saver s;
  for (const std::size_t length : {250u, 255u}) {
    for (const std::string ending : {".pkg", ".qsd"}) {
      const std::string name = std::string(length - ending.size(), 'n') + ending;
      SCOPED_TRACE(name.size());
      const std::string path = s.dir / name;
      s.ui.messages.clear();
      s.ui.questions.clear();
      s.SaveAs(path);
      EXPECT_TRUE(s.ui.messages.empty()) << s.ui.messages.front().text;
      EXPECT_TRUE(fs::is_regular_file(path));
      s.SaveAs(path);  // and replaced
      EXPECT_TRUE(s.ui.messages.empty());
      EXPECT_EQ(s.ui.questions.size(), 1u);
    }
  }
}

}  // namespace
}  // namespace tarvik::test
