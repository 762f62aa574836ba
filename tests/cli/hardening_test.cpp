// tarvik-cli against hostile input and surroundings: unreadable files, control characters
// meant for the terminal, wrong arguments, a full disk, an interrupted run.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "extract/extract.hpp"
#include "platform/terminal.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
namespace w = test::sis9w;
using test::RunCli;

std::string Q(const std::string& path) { return "'" + path + "'"; }

// Files that exist but cannot be read, made as the running user can: a link to a file
// whose reading fails, a folder in a file's place, and (for a user other than root, whom
// permissions do not stop) a file of mode 000.
std::vector<std::string> UnreadableFiles(const test::TempDir& dir, const std::string& ext) {
  std::vector<std::string> out;
  const std::string failing = dir / ("failing" + ext);
  fs::create_symlink("/proc/self/clear_refs", failing);
  out.push_back(failing);
  const std::string folder = dir / ("folder" + ext);
  fs::create_directories(folder);
  out.push_back(folder);
  if (geteuid() != 0) {
    const std::string locked = dir.Write("locked" + ext, w::MakeDemoPackage());
    chmod(locked.c_str(), 0);
    out.push_back(locked);
  }
  return out;
}

TEST(CliHardening, UnreadableInputIsReportedAndNothingIsWrittenFromIt) {
  test::TempDir dir;
  for (const char* ext : {".sis", ".qsd", ".pkg"}) {
    for (const std::string& path : UnreadableFiles(dir, ext)) {
      SCOPED_TRACE(path);
      const std::string out = dir / "out.pkg";
      for (const std::string& args : {"pkg " + Q(path), "info " + Q(path), "extract " + Q(path) + " " + Q(dir / "x"),
                                      "save " + Q(path) + " " + Q(out)}) {
        const test::CliResult r = RunCli(args, dir);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("Cannot read " + path + ": "), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("not the valid SIS file"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Invalid Brimond Session File"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
      }
      EXPECT_FALSE(fs::exists(out));
      EXPECT_FALSE(fs::exists(dir / "x/bin"));
    }
  }
}

TEST(CliHardening, WrongArgumentsExitWithTwo) {
  test::TempDir dir;
  const std::string pkg = dir.Write("a.pkg", "&EN\r\n");
  for (const std::string& args : {std::string(""), std::string("frobnicate x"), std::string("pkg"), "pkg " + Q(pkg) + " --bogus",
                                  "extract " + Q(pkg), "save " + Q(pkg) + " a b c"}) {
    const test::CliResult r = RunCli(args, dir);
    EXPECT_EQ(r.status, 2) << args << "\n" << r.err;
  }
}

TEST(CliHardening, SaveOntoAnExistingFileWithoutForceFails) {
  test::TempDir dir;
  const std::string in = dir.Write("in.pkg", "&EN\r\n");
  const std::string out = dir.Write("out.pkg", "old");
  const test::CliResult r = RunCli("save " + Q(in) + " " + Q(out), dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nothing saved"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(out), "old");
}

TEST(CliHardening, ShaMismatchFailsButKeepsTheFile) {
  test::TempDir dir;
  w::Controller c;
  c.files = {w::TextFile("!:\\data\\good.txt", "good\n"), w::TextFile("!:\\data\\bad.txt", "bad\n")};
  c.files[1].hash = Bytes(20, 0xAB);
  const std::string pkg = dir.Write("m.sis", w::Build(c));
  const test::CliResult r = RunCli("extract " + Q(pkg) + " " + Q(dir / "out"), dir);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.out.find("bad.txt" + std::string(extract::kHashMismatchMark)), std::string::npos) << r.out;
  EXPECT_EQ(test::ReadFile(dir / "out/bin/m/data/bad.txt"), "bad\n");
}

TEST(CliHardening, ExtractionBombNeedsForce) {
  test::TempDir dir;
  w::Controller c;
  for (int k = 0; k < 4; ++k) {
    w::File f = w::TextFile("!:\\d\\copy" + std::to_string(k), std::string(1 << 20, '\0'), true);
    f.fileIndex = 0;
    c.files.push_back(f);
  }
  const std::string pkg = dir.Write("bomb.sis", w::Build(c));
  const test::CliResult refused = RunCli("extract " + Q(pkg) + " " + Q(dir / "out"), dir);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("Do you want to extract it anyway?"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(dir / "out/bin/bomb"));
  const test::CliResult forced = RunCli("extract --force " + Q(pkg) + " " + Q(dir / "out"), dir);
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_EQ(fs::file_size(dir / "out/bin/bomb/d/copy3"), 1u << 20);
}

TEST(CliHardening, ExtractionErrorsGiveTheSystemsReason) {
  test::TempDir dir;
  w::Controller c;
  c.files = {w::TextFile("!:\\d\\" + std::string(300, 'n') + ".txt", "long\n"), w::TextFile("!:\\d\\ok.txt", "ok\n")};
  const std::string pkg = dir.Write("long.sis", w::Build(c));
  const test::CliResult r = RunCli("extract " + Q(pkg) + " " + Q(dir / "out"), dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(std::string(300, 'n') + ".txt: " + std::strerror(ENAMETOOLONG)), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadFile(dir / "out/bin/long/d/ok.txt"), "ok\n");
}

// Runs `shell` (a command line) in a mount namespace of its own; false when this machine does
// not allow one (no privilege): the caller skips.
bool CanMountTmpfs(const test::TempDir& dir) {
  const std::string probe = dir / "probe";
  fs::create_directories(probe);
  return std::system(("unshare -m sh -c \"mount -t tmpfs -o size=64k tmpfs '" + probe + "'\" >/dev/null 2>&1").c_str()) ==
         0;
}

TEST(CliHardening, FullDiskStopsWithOneSummary) {
  test::TempDir dir;
  if (!CanMountTmpfs(dir)) GTEST_SKIP() << "cannot mount a small file system here";
  w::Controller c;
  std::string noise(48 * 1024, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  for (int k = 0; k < 8; ++k) c.files.push_back(w::TextFile("!:\\d\\f" + std::to_string(k) + ".bin", noise));
  const std::string pkg = dir.Write("full.sis", w::Build(c));
  const std::string mount = dir / "small";
  fs::create_directories(mount);
  const std::string err = dir / "err.txt";
  const std::string cmd = "XDG_DATA_HOME=" + Q(dir / "data") + " TMPDIR=" + Q(dir / "tmp") +
                          " unshare -m sh -c \"mount -t tmpfs -o size=128k tmpfs " + Q(mount) + " && " +
                          TARVIK_CLI_PATH + " extract --force " + Q(pkg) + " " + Q(mount) + "\" >/dev/null 2>" + Q(err);
  const int st = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 1);
  const std::string text = test::ReadFile(err);
  std::size_t failures = 0;
  for (std::size_t at = 0; (at = text.find("Error while", at)) != std::string::npos; ++at) ++failures;
  EXPECT_EQ(failures, 1u) << text;
  EXPECT_NE(text.find(std::strerror(ENOSPC)), std::string::npos) << text;
  EXPECT_NE(text.find("Extraction stopped: "), std::string::npos) << text;
  // The free space was asked about first (and answered by --force).
  EXPECT_NE(text.find("free there"), std::string::npos) << text;
}

TEST(Terminal, ControlCharactersAreShownEscaped) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"plain text\r\nline\ttab\n", "plain text\r\nline\ttab\n"},
      {"\x1b]0;owned\x07title", "\\x1b]0;owned\\x07title"},
      {"\x1b[2J\x1b[31mred", "\\x1b[2J\\x1b[31mred"},
      {"lone\rreturn\x7f", "lone\\x0dreturn\\x7f"},
      {"C1 \xC2\x9B" "31m", "C1 \\u009b31m"},
      {"caf\xC3\xA9 \xC2\xA0", "caf\xC3\xA9 \xC2\xA0"},  // ordinary UTF-8 is left alone
      {"!:\\x86\\users\\a.txt", "!:\\x86\\users\\a.txt"},  // paths keep their backslashes
  };
  for (const Case& c : cases) EXPECT_EQ(EscapeControls(c.in), c.out) << c.in;
}

TEST(CliHardening, ControlCharactersReachOnlyFilesAndPipesRaw) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) to make a terminal";
  test::TempDir dir;
  w::Controller c;
  c.names = {"\x1b]0;owned\x07Name"};
  c.files = {w::TextFile("!:\\d\\\x1b[2Jclear.txt", "x")};
  const std::string pkg = dir.Write("esc.sis", w::Build(c));
  const test::CliResult piped = RunCli("pkg " + Q(pkg), dir);
  EXPECT_NE(piped.out.find("\x1b]0;owned\x07Name"), std::string::npos);
  // Through a terminal: script(1) runs the program on a pseudo-terminal.
  const std::string out = dir / "tty.txt";
  const std::string cmd = "XDG_DATA_HOME=" + Q(dir / "data") + " TMPDIR=" + Q(dir / "tmp") + " script -qec \"" +
                          TARVIK_CLI_PATH + " pkg " + Q(pkg) + "; " + TARVIK_CLI_PATH + " info " + Q(pkg) +
                          "\" /dev/null >" + Q(out) + " 2>&1 </dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string shown = test::ReadFile(out);
  EXPECT_NE(shown.find("\\x1b]0;owned\\x07Name"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\\x1b[2Jclear.txt"), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\x1b'), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\x07'), std::string::npos) << shown;
}

// Starts tarvik-cli with `args` in the background; its process number.
pid_t Start(const test::TempDir& dir, const std::vector<std::string>& args) {
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(TARVIK_CLI_PATH)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execv(TARVIK_CLI_PATH, argv.data());
    _exit(127);
  }
  return pid;
}

// Files left in `folder` and below whose names mark them as temporary.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::recursive_directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".tarvik-", 0) == 0 || (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos))
      out.push_back(e.path().string());
  }
  return out;
}

TEST(CliHardening, InterruptedExtractionLeavesNoPartOrScratchFiles) {
  test::TempDir dir;
  w::Controller c;
  // Deflated zeros: a small package whose one file takes a while to write.
  c.files = {w::TextFile("!:\\d\\big.bin", std::string(std::size_t{256} << 20, '\0'), true)};
  const std::string pkg = dir.Write("slow.sis", w::Build(c));
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    const std::string out = dir / ("out" + std::to_string(sig));
    fs::create_directories(out);
    const pid_t pid = Start(dir, {"extract", pkg, out});
    // Waits for the part file of the big file to appear, then interrupts.
    bool seen = false;
    for (int k = 0; k < 20000 && !seen; ++k) {
      seen = !Leftovers(out).empty();
      if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    ASSERT_TRUE(seen) << "the extraction never started writing";
    kill(pid, sig);
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 128 + sig);
    EXPECT_EQ(Leftovers(out), std::vector<std::string>{});
    EXPECT_EQ(Leftovers(dir / "tmp"), std::vector<std::string>{});
  }
}

TEST(CliHardening, InterruptedSaveLeavesNoTemporaryFile) {
  test::TempDir dir;
  std::string script;
  const std::string line = "\"a.txt\"-\"!:\\data\\" + std::string(100, 'a') + ".txt\"\r\n";
  while (script.size() < (std::size_t{48} << 20)) script += line;
  const std::string in = dir.Write("big.pkg", script);
  const std::string outDir = dir / "saved";
  fs::create_directories(outDir);
  const pid_t pid = Start(dir, {"save", in, outDir + "/out.pkg"});
  bool seen = false;
  for (int k = 0; k < 40000 && !seen; ++k) {
    seen = !Leftovers(outDir).empty();
    if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(250));
  }
  int st = 0;
  if (seen) kill(pid, SIGTERM);
  waitpid(pid, &st, 0);
  if (!seen) GTEST_SKIP() << "the save ended before it could be interrupted";
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 143);
  EXPECT_EQ(Leftovers(outDir), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(outDir + "/out.pkg"));
}

}  // namespace
}  // namespace tarvik
