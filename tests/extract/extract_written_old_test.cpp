// Pre-9.x packages made by the test writer, opened and extracted through the menus.

#include <filesystem>

#include "extract_fixture.hpp"
#include "support/sis_old_writer.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

struct Layout {
  const char* name;
  std::uint32_t uid2;
  std::uint32_t version;
  std::uint16_t options;
};

class WrittenOldTest : public ExtractTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(WrittenOldTest, ExtractsEveryFileByteForByte) {
  const auto& c = GetParam();
  OldPackage p;
  p.uid2 = c.uid2;
  p.installerVersion = c.version;
  p.options = c.options;
  p.languages = {2, 1};  // French, English (file order)
  p.names = {"Jeu", "Game"};
  const std::string program(7000, '\x42');
  p.records = {
      OldFile("c:\\src\\game.app", "!:\\system\\apps\\game\\game.app", program),
      OldLangFile("c:\\src\\text.fr", "!:\\system\\apps\\game\\text.rsc", {"texte", "text"}),
  };
  const std::string path = dir.Write("game.sis", BuildOldSis(p));
  OpenThroughMenu(app, ui, path);
  ASSERT_TRUE(app.mnFile_Click().extract);
  Extract();

  EXPECT_EQ(ReadFile(Written("bin\\game\\system\\apps\\game\\game.app")), program);
  EXPECT_EQ(ReadFile(Written("bin\\game\\text.fr")), "texte");
  EXPECT_EQ(ReadFile(Written("bin\\game\\British English Source file(2).fr")), "text");
  EXPECT_TRUE(ui.MessageTexts().empty()) << ::testing::PrintToString(ui.MessageTexts());
  EXPECT_EQ(resultText, ResultHead() + "game.app\r\ntext.fr\r\nBritish English Source file(2).fr\r\n");
}

INSTANTIATE_TEST_SUITE_P(Layouts, WrittenOldTest,
                         ::testing::Values(Layout{"Release6", 0x10003A12, 200, 0x0001},
                                           Layout{"Release6NoCompress", 0x10003A12, 200, 0x0009},
                                           Layout{"Release5", 0x1000006D, 100, 0x0000}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvik::test
