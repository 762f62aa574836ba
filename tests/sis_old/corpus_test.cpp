// Real pre-9.x packages of the shared corpus, and the command-line view of the file table.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "old_fixture.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

bool IsFileLine(const std::string& line) {
  return !line.empty() && (line[0] == '"' || line[0] == '{' || line[0] == '@');
}

// Every pre-9.x package of the corpus with its number of file records, from the manifest
// (column "files") and, for the packages made for this corpus, from their scripts.
std::map<std::string, std::size_t> CorpusPackages(const std::string& corpus) {
  std::map<std::string, std::size_t> out = {
      {"made/old/old_child.sis", 1},    {"made/old/old_conditions.sis", 6}, {"made/old/old_embed.sis", 2},
      {"made/old/old_fileops.sis", 11}, {"made/old/old_langs.sis", 5},      {"made/old/old_nocompress.sis", 1},
  };
  std::ifstream manifest(corpus + "/MANIFEST.tsv");
  std::string line;
  std::vector<std::string> head;
  while (std::getline(manifest, line)) {
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    if (head.empty()) {
      head = cols;
      continue;
    }
    std::map<std::string, std::string> row;
    for (std::size_t i = 0; i < cols.size() && i < head.size(); ++i) row[head[i]] = cols[i];
    if (row["generation"] == "pre-9.x") out[row["file"]] = std::stoul(row["files"]);
  }
  return out;
}

using CorpusTest = OldPackageTest;

TEST_F(CorpusTest, EveryPre9PackageOpensWithOneLinePerFileRecord) {
  TARVIK_REQUIRE_SHARED();
  const std::string corpus = *SharedDir() + "/corpus";
  const auto packages = CorpusPackages(corpus);
  ASSERT_GE(packages.size(), 10u);
  for (const auto& [name, fileRecords] : packages) {
    SCOPED_TRACE(name);
    ui.messages.clear();
    OpenThroughMenu(app, ui, corpus + "/" + name);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.text.rfind(";<--------Pre Symbian 9.x SIS File-------->\r\n", 0), 0u);
    EXPECT_EQ(app.stores.ListView4.Count(), fileRecords);
    std::size_t fileLines = 0;
    for (const std::string& l : Body()) fileLines += IsFileLine(l) ? 1 : 0;
    EXPECT_EQ(fileLines, fileRecords);
    EXPECT_GE(app.stores.ListView2.Count(), fileRecords);
    for (const Row& row : app.stores.ListView2) {
      EXPECT_LE(std::stoll(row.Get(col2::Offset)) + std::stoll(row.Get(col2::Length)), app.buffer.Size());
    }
  }
}

TEST_F(CorpusTest, CompoundConditionsOptionsAndCapabilities) {
  TARVIK_REQUIRE_SHARED();
  OpenThroughMenu(app, ui, *SharedDir() + "/corpus/made/old/old_conditions.sis");
  EXPECT_EQ(ui.text,
            ";<--------Pre Symbian 9.x SIS File-------->\r\n\r\n"
            "&EN, FR\r\n"
            "#{\"Old Conditions\", \"Old Conditions FR\"}, (0x10F00003), 1, 0, 0, IUNICODE, TYPE=SISAPP\r\n"
            "+(1=4, 0=1)\r\n"
            "!({\"Option A\", \"Option A FR\"},{\"Option B\", \"Option B FR\"})\r\n"
            "If option1\r\n"
            "\"X:\\MKS0\\opt_a.txt\"-\"!:\\system\\apps\\peers\\opt_a.txt\", FILE\r\n"
            "ElseIf option2\r\n"
            "\"X:\\MKS0\\opt_b.txt\"-\"!:\\system\\apps\\peers\\opt_b.txt\", FILE\r\n"
            "Else\r\n"
            "\"X:\\MKS0\\no_opt.txt\"-\"!:\\system\\apps\\peers\\no_opt.txt\", FILE\r\n"
            "EndIf\r\n"
            "If Exists(\"c:\\system\\apps\\peers\\missing.app\")\r\n"
            "\"X:\\MKS0\\if_exists.txt\"-\"!:\\system\\apps\\peers\\if_exists.txt\", FILE\r\n"
            "EndIf\r\n"
            "If Manufacturer = 0x00000002\r\n"
            "\"X:\\MKS0\\if_hal.txt\"-\"!:\\system\\apps\\peers\\if_hal.txt\", FILE\r\n"
            "EndIf\r\n"
            "If Not Exists(\"z:\\x.txt\") AND (Language = 0x00000001 OR MachineUid <> 0x101F4FC3) AND "
            "appcap(0x10F00002, 0x00000001) >= 0x00000005\r\n"
            "\"X:\\MKS0\\if_complex.txt\"-\"!:\\system\\apps\\peers\\if_complex.txt\", FILE\r\n"
            "EndIf\r\n");
}

TEST_F(CorpusTest, LanguageBlockAndElseIfChain) {
  TARVIK_REQUIRE_SHARED();
  OpenThroughMenu(app, ui, *SharedDir() + "/corpus/made/old/old_langs.sis");
  EXPECT_EQ(Body(), (std::vector<std::string>{
                        R"("X:\MKS0\common.txt"-"!:\system\apps\peers\common.txt", FILE)",
                        R"({"British English Source file(3).txt" "French Source file(2).txt" "lang_ge.txt"}-"!:\system\apps\peers\lang.txt", FILE)",
                        "If Language = 0x00000001",
                        R"("X:\MKS0\only_en.txt"-"!:\system\apps\peers\only_en.txt", FILE)",
                        "ElseIf Language = 0x00000002",
                        R"("X:\MKS0\only_fr.txt"-"!:\system\apps\peers\only_fr.txt", FILE)",
                        "Else",
                        R"("X:\MKS0\other_lang.txt"-"!:\system\apps\peers\other_lang.txt", FILE)",
                        "EndIf",
                    }));
  ASSERT_EQ(app.stores.ListView2.Count(), 7u);
  EXPECT_EQ(app.stores.ListView2.Item(4).Text(), "bin\\old_langs\\lang_ge.txt");
  EXPECT_EQ(app.stores.ListView2.Item(6).Text(), "bin\\old_langs\\British English Source file(3).txt");
}

std::string RunCli(const std::string& args) {
  std::string out;
  FILE* p = popen((std::string("\"") + TARVIK_CLI_PATH + "\" " + args + " 2>&1").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

TEST_F(CorpusTest, CliInfoPrintsThePre9FileTable) {
  OldPackage pkg;
  OldLayout layout;
  pkg.uid2 = 0x1000006D;
  pkg.installerVersion = 100;
  pkg.options = 0;
  pkg.records = {OldFile("C:\\a.txt", "!:\\system\\apps\\a\\a.txt", "0123456789")};
  const std::string path = dir.Write("cli.sis", BuildOldSis(pkg, layout));
  const std::string out = RunCli("info \"" + path + "\"");
  EXPECT_NE(out.find("bin\\cli\\system\\apps\\a\\a.txt\t10\t10\t" + std::to_string(layout.dataOffsets[0][0]) + "\t10"),
            std::string::npos)
      << out;
}

}  // namespace
}  // namespace tarvik::test
