// 9.x packages made by the test writer, opened and extracted through the menus.

#include <filesystem>

#include "extract_fixture.hpp"
#include "script_files.hpp"
#include "support/sis9_writer.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;
namespace w = sis9w;

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

w::File MakeFile(std::string target, std::string data, bool deflate, std::uint32_t op = 1, std::uint32_t options = 0) {
  w::File f;
  f.target = std::move(target);
  f.data = B(data);
  f.deflate = deflate;
  f.op = op;
  f.options = options;
  return f;
}

class Written9Test : public ExtractTest {
 protected:
  // Opens `pkg` (as `name`) through the menu with the extraction folder as the Working
  // Directory, then extracts it there.
  void OpenAndExtract(const Bytes& pkg, const std::string& name = "demo.sisx") {
    const std::string path = dir.Write(name, pkg);
    ui.folderAnswers.push_back(out);
    app.mnWD_Click();
    OpenThroughMenu(app, ui, path);
    ASSERT_TRUE(app.mnFile_Click().extract);
    opened = ui.messages.size();
    Extract();
  }
  std::vector<std::string> ExtractMessages() const {
    std::vector<std::string> m;
    for (std::size_t i = opened; i < ui.messages.size(); ++i) m.push_back(ui.messages[i].text);
    return m;
  }
  std::size_t opened = 0;
};

TEST_F(Written9Test, ExtractsMainAndEmbeddedFilesMatchingTheirHashes) {
  const std::string exe(30000, '\x11');
  w::Controller child;
  child.uid = 0xE0000002;
  child.names = {"Child"};
  child.files = {MakeFile("!:\\private\\e0000002\\child.dat", "child data", true)};
  w::Controller main;
  main.names = {"Demo"};
  main.files = {MakeFile("!:\\sys\\bin\\demo.exe", exe, true, 2, 2),
                MakeFile("!:\\resource\\apps\\demo.rsc", "resource", false),
                MakeFile("", "text shown at install", false, 4, 0)};
  main.embedded = {child};
  main.ifs = {w::If{w::Eq(w::Lang(), w::Num(1)), {MakeFile("c:\\data\\en.txt", "english", true)}, {}, {}, {}}};
  OpenAndExtract(w::Build(main));

  EXPECT_TRUE(ExtractMessages().empty()) << ::testing::PrintToString(ExtractMessages());
  EXPECT_EQ(ReadFile(Written("bin\\demo\\sys\\bin\\demo.exe")), exe);
  EXPECT_EQ(ReadFile(Written("bin\\demo\\resource\\apps\\demo.rsc")), "resource");
  EXPECT_EQ(ReadFile(Written("bin\\demo\\data\\en.txt")), "english");
  EXPECT_EQ(ReadFile(Written("bin\\demo\\Embedded Components\\Child\\private\\e0000002\\child.dat")), "child data");
  EXPECT_EQ(resultText.find(extract::kHashMismatchMark), std::string::npos) << resultText;
  EXPECT_EQ(extracted, static_cast<std::int32_t>(test::ViewOf(app).files.size()));

  // The script names exactly the files the extraction wrote.
  const auto missing = MissingSources(ui.text);
  EXPECT_TRUE(missing.names.empty()) << ::testing::PrintToString(missing.names);
  EXPECT_TRUE(missing.mixed.empty()) << ::testing::PrintToString(missing.mixed);
  EXPECT_GE(missing.checked, 5u);
}

TEST_F(Written9Test, DemoSampleScriptPointsAtTheExtractedFiles) {
  // The committed sample, as the run command opens it.
  const Bytes sample = ReadBytes(std::string(TARVIK_SOURCE_DIR) + "/samples/demo.sisx");
  ASSERT_FALSE(sample.empty());
  OpenAndExtract(sample);
  EXPECT_TRUE(ExtractMessages().empty()) << ::testing::PrintToString(ExtractMessages());
  const auto missing = MissingSources(ui.text);
  EXPECT_TRUE(missing.names.empty()) << ::testing::PrintToString(missing.names);
  EXPECT_TRUE(missing.mixed.empty()) << ::testing::PrintToString(missing.mixed);
  EXPECT_GT(missing.checked, 0u);
}

TEST_F(Written9Test, VariantsOfOneTargetAreEachWrittenWithTheirOwnBytes) {
  w::Controller main;
  main.names = {"Demo"};
  w::If i;
  i.cond = w::Eq(w::Lang(), w::Num(1));
  i.files = {MakeFile("!:\\data\\help.txt", "english help", true)};
  w::ElseIf e;
  e.cond = w::Else();
  e.files = {MakeFile("!:\\data\\help.txt", "aide en francais", false)};
  i.elseIfs = {e};
  main.ifs = {i};
  OpenAndExtract(w::Build(main));

  EXPECT_TRUE(ExtractMessages().empty()) << ::testing::PrintToString(ExtractMessages());
  EXPECT_EQ(ReadFile(Written("bin\\demo\\data\\help.txt")), "english help");
  EXPECT_EQ(ReadFile(Written("bin\\demo\\data\\help (2).txt")), "aide en francais");
  EXPECT_EQ(extracted, 2);
  const auto missing = MissingSources(ui.text);
  EXPECT_TRUE(missing.names.empty()) << ::testing::PrintToString(missing.names);
  EXPECT_TRUE(missing.mixed.empty()) << ::testing::PrintToString(missing.mixed);
  EXPECT_EQ(missing.checked, 2u);
}

TEST_F(Written9Test, WrongHashIsMarked) {
  w::Controller main;
  main.names = {"Demo"};
  w::File f = MakeFile("!:\\sys\\bin\\a.exe", "real", true);
  f.hash = Bytes(20, 0xAB);
  main.files = {f, MakeFile("!:\\sys\\bin\\b.exe", "fine", false)};
  OpenAndExtract(w::Build(main));
  EXPECT_EQ(ReadFile(Written("bin\\demo\\sys\\bin\\a.exe")), "real");
  EXPECT_EQ(resultText, ResultHead() + "a.exe" + extract::kHashMismatchMark + "\r\nb.exe\r\n");
  EXPECT_EQ(ExtractMessages(), std::vector<std::string>{std::string(extract::kHashMismatchHead) + "\r\n" +
                                                        Written("bin\\demo\\sys\\bin\\a.exe")});
}

}  // namespace
}  // namespace tarvik::test
