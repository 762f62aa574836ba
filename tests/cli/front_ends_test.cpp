// What the two front ends share: the command line reads without writing, and it extracts
// exactly what the window's Extract does.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "support/fake_ui.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
namespace w = test::sis9w;

// Every file and folder below `root`, relative to it, with the contents of the files.
std::map<std::string, std::string> Tree(const std::string& root) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    out[fs::relative(it->path(), root).generic_string()] =
        it->is_regular_file() ? test::ReadFile(it->path().string()) : std::string("<folder>");
  return out;
}

// A signed-looking package with a good file, one whose SHA-1 is wrong, one aimed outside
// the folder, and one per language.
Bytes Mixed() {
  w::Controller c;
  w::File bad = w::TextFile("!:\\data\\bad.txt", "not what the hash says", true);
  bad.hash = Bytes(20, 0xAB);
  c.files = {w::TextFile("!:\\data\\good.txt", "good", true), bad, w::TextFile("!:\\..\\..\\escape.txt", "out"),
             w::TextFile("!:\\sys\\bin\\app.exe", std::string(500, 'x'), true)};
  return w::Build(c);
}

TEST(FrontEnds, ReadingCommandsWriteNothing) {
  test::TempDir dir;
  const std::string package = dir.Write("in/p.sis", w::MakeDemoPackage());
  // The test's own record of what the program wrote to stderr aside.
  const auto tree = [&dir] {
    auto t = Tree(dir.Path());
    t.erase("cli-stderr.txt");
    return t;
  };
  const auto before = tree();
  for (const std::string args : {"pkg", "info", "info --json"}) {
    SCOPED_TRACE(args);
    const test::CliResult r = test::RunCli(args + " '" + package + "'", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(), before) << "no file or folder made, renamed or removed";
  }
}

TEST(FrontEnds, WindowAndCommandLineExtractTheSameFilesAndFailures) {
  test::TempDir dir;
  const std::string package = dir.Write("mixed.sis", Mixed());

  test::FakeUi ui;
  window::Commands app(ui, test::TestPlatform(dir));
  test::OpenThroughMenu(app, ui, package);
  fs::create_directories(dir / "window");  // a folder picker gives a folder that exists
  const test::Extraction x = test::ExtractThroughMenu(app, ui, dir / "window");

  const test::CliResult r = test::RunCli("extract --quiet '" + package + "' '" + (dir / "cli") + "'", dir);
  EXPECT_EQ(r.status, 1);  // a mismatch and a refused file

  const auto byWindow = Tree(dir / "window");
  EXPECT_TRUE(byWindow == Tree(dir / "cli"));
  EXPECT_TRUE(byWindow.count("bin/mixed/data/good.txt"));
  EXPECT_TRUE(byWindow.count("bin/mixed/data/bad.txt"));
  EXPECT_FALSE(fs::exists(dir / "escape.txt"));
  // The same failures, said the same way.
  ASSERT_FALSE(x.report.result.failures.empty());
  ASSERT_FALSE(x.report.result.mismatches.empty());
  for (const ops::Message& m : ui.messages) {
    if (m.severity == ops::Severity::Error || m.severity == ops::Severity::Warning) {
      // The same text, but for the folder each was given.
      std::string line = m.title + ": " + m.text.substr(0, m.text.find("\r\n"));
      for (std::size_t at; (at = line.find(dir / "window")) != std::string::npos;)
        line.replace(at, (dir / "window").size(), dir / "cli");
      EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;
    }
  }
}

}  // namespace
}  // namespace tarvik
