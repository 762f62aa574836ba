// Extraction's progress by files and bytes, the cancel check, and the written and failed
// files it gathers for the result list.

#include <filesystem>

#include "extract_fixture.hpp"
#include "parse/parse.hpp"
#include "support/sis9_writer.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;
namespace w = sis9w;

w::File MakeFile(std::string target, std::string data, bool deflate) {
  w::File f;
  f.target = std::move(target);
  f.data = Bytes(data.begin(), data.end());
  f.deflate = deflate;
  return f;
}

// Records what the extraction reports; cancels once `cancelAfter` bytes are done.
class Recorder : public extract::Reporter {
 public:
  void Failed(const std::string& t) override { messages.push_back(t); }
  void Warning(const std::string& t) override { messages.push_back(t); }
  void Advance(const extract::ProgressInfo& p) override {
    steps.push_back(p);
    if (p.bytesDone >= cancelAfter) cancel = true;
  }
  bool Cancelled() const override { return cancel; }
  std::vector<extract::ProgressInfo> steps;
  std::vector<std::string> messages;
  std::uint64_t cancelAfter = ~std::uint64_t{0};
  bool cancel = false;
};

// A package read from its bytes, with its view.
struct Opened {
  explicit Opened(Bytes b) : bytes(std::move(b)), package(Parse(bytes, "p.sis")), view(views::Describe(package, {})) {}
  Bytes bytes;
  model::Package package;
  views::PackageView view;
};

// Every file below `folder`, relative, with "/" separators.
std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (!e.is_directory()) out.push_back(fs::relative(e.path(), folder).generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ExtractProgress, MovesByFilesAndBytesForASmallPackage) {
  w::Controller c;
  c.files = {MakeFile("!:\\a.txt", "alpha", false), MakeFile("!:\\b.txt", std::string(3000, 'b'), true),
             MakeFile("!:\\c.txt", "gamma", false)};
  const Opened o(w::Build(c));
  TempDir dir;
  Recorder r;
  const extract::Result result = extract::ExtractAll(o.bytes, o.package.generation, o.view.files, dir.Path() + "/", r);
  ASSERT_EQ(result.extracted, 3);
  ASSERT_FALSE(r.steps.empty());
  // Every file moves it, well below any byte step; it never goes back and ends complete.
  std::vector<std::size_t> files;
  for (std::size_t i = 0; i < r.steps.size(); ++i) {
    EXPECT_EQ(r.steps[i].filesTotal, 3u);
    if (i) {
      EXPECT_GE(r.steps[i].bytesDone, r.steps[i - 1].bytesDone);
    }
    if (files.empty() || files.back() != r.steps[i].filesDone) files.push_back(r.steps[i].filesDone);
  }
  EXPECT_EQ(files, (std::vector<std::size_t>{0, 1, 2, 3}));
  EXPECT_EQ(r.steps.back().bytesDone, r.steps.back().bytesTotal);
  EXPECT_GT(r.steps.back().bytesTotal, 0u);
  // What was written, relative to the folder, with sizes.
  ASSERT_EQ(result.written.size(), 3u);
  EXPECT_EQ(result.written[1].path, "bin/p/b.txt");
  EXPECT_EQ(result.written[1].size, 3000u);
  EXPECT_EQ(result.written[1].check, extract::HashCheck::Match);
  EXPECT_TRUE(result.failures.empty());
}

TEST(ExtractProgress, CancelMidFileLeavesNoPartialFileAndNoMessage) {
  // One big file, stored or deflated, cancelled when a first MiB of it is done.
  for (const bool deflate : {false, true}) {
    SCOPED_TRACE(deflate ? "deflated" : "stored");
    // Bytes deflate cannot shrink, so that the stream is as long as the file.
    std::string big(6u << 20, 'x');
    std::uint32_t seed = 12345;
    for (char& ch : big) {
      seed = seed * 1103515245u + 12345u;
      ch = static_cast<char>(seed >> 24);
    }
    w::Controller c;
    c.files = {MakeFile("!:\\first.txt", "first", false), MakeFile("!:\\big.bin", big, deflate),
               MakeFile("!:\\last.txt", "last", false)};
    const Opened o(w::Build(c));
    TempDir dir;
    Recorder r;
    r.cancelAfter = (1u << 20) + 5;
    const extract::Result result =
        extract::ExtractAll(o.bytes, o.package.generation, o.view.files, dir.Path() + "/", r);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.stopped);
    EXPECT_TRUE(r.messages.empty()) << ::testing::PrintToString(r.messages);
    EXPECT_TRUE(result.failures.empty());
    EXPECT_EQ(result.extracted, 1);
    // The first file stays whole; nothing of the big one (no temporary file either).
    EXPECT_EQ(FilesBelow(dir.Path()), std::vector<std::string>{"bin/p/first.txt"});
  }
}

TEST(ExtractProgress, FailuresAreGatheredWithTheirReasons) {
  // A package cut inside its last file's data, and a file whose data is missing.
  w::Controller c;
  c.files = {MakeFile("!:\\a.txt", "alpha", false), MakeFile("!:\\b.txt", std::string(5000, 'b'), false)};
  Opened whole(w::Build(c));
  Bytes cut(whole.bytes.begin(), whole.bytes.end() - 1000);
  const Opened o(std::move(cut));
  ASSERT_EQ(o.view.files.size(), 2u);
  TempDir dir;
  Recorder r;
  const extract::Result result = extract::ExtractAll(o.bytes, o.package.generation, o.view.files, dir.Path() + "/", r);
  ASSERT_EQ(result.written.size() + result.failures.size(), 2u);
  ASSERT_FALSE(result.failures.empty());
  const extract::FailedFile& f = result.failures.back();
  EXPECT_EQ(f.row, 1u);
  EXPECT_EQ(f.path, "bin/p/b.txt");
  EXPECT_FALSE(f.reason.empty());
  // A package cut short: the file is named once among those past the end, with no message
  // of its own.
  EXPECT_EQ(result.pastEnd, std::vector<std::string>{dir.Path() + "/bin/p/b.txt"});
  EXPECT_TRUE(r.messages.empty());
  EXPECT_FALSE(fs::exists(dir.Path() + "/bin/p/b.txt"));
}

}  // namespace
}  // namespace tarvik::test
