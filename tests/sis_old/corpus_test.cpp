// Real pre-9.x packages of the shared corpus, and the command-line view of the file table.

#include <gtest/gtest.h>

#include <map>

#include "old_fixture.hpp"

namespace tarvik::test {
namespace {

bool IsFileLine(const std::string& line) {
  return !line.empty() && (line[0] == '"' || line[0] == '{' || line[0] == '@');
}

const std::string kBanner = ";<--------Pre Symbian 9.x SIS File-------->\r\n";

OldRead ReadCorpus(const std::string& name) {
  return ReadOld(ReadBytes(*SharedDir() + "/corpus/" + name), name);
}

TEST(OldCorpus, EveryPre9PackageReadsWithOneLinePerFileRecord) {
  TARVIK_REQUIRE_SHARED();
  // The packages made for this corpus, with the file records of their scripts; then every
  // pre-9.x package of the manifest (column "files").
  std::map<std::string, std::size_t> packages = {
      {"made/old/old_child.sis", 1},    {"made/old/old_conditions.sis", 6}, {"made/old/old_embed.sis", 2},
      {"made/old/old_fileops.sis", 11}, {"made/old/old_langs.sis", 5},      {"made/old/old_nocompress.sis", 1},
  };
  for (const ManifestRow& row : CorpusManifest())
    if (row.at("generation") == "pre-9.x") packages[row.at("file")] = std::stoul(row.at("files"));
  ASSERT_GE(packages.size(), 10u);
  for (const auto& [name, fileRecords] : packages) {
    SCOPED_TRACE(name);
    const Bytes bytes = ReadBytes(*SharedDir() + "/corpus/" + name);
    const OldRead r = ReadOld(bytes, name);
    EXPECT_TRUE(r.package.problems.empty());
    EXPECT_EQ(r.view.script.rfind(kBanner, 0), 0u);
    EXPECT_EQ(r.FileRecords().size(), fileRecords);
    std::size_t fileLines = 0;
    for (const std::string& l : r.Body()) fileLines += IsFileLine(l) ? 1 : 0;
    EXPECT_EQ(fileLines, fileRecords);
    EXPECT_GE(r.view.files.size(), fileRecords);
    for (const views::FileRow& f : r.view.files)
      EXPECT_LE(f.offset + static_cast<std::int64_t>(f.compressedSize), static_cast<std::int64_t>(bytes.size()));
  }
}

TEST(OldCorpus, CompoundConditionsOptionsAndCapabilities) {
  TARVIK_REQUIRE_SHARED();
  EXPECT_EQ(ReadCorpus("made/old/old_conditions.sis").view.script,
            kBanner +
                "\r\n"
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

TEST(OldCorpus, LanguageBlockAndElseIfChain) {
  TARVIK_REQUIRE_SHARED();
  const OldRead r = ReadCorpus("made/old/old_langs.sis");
  EXPECT_EQ(r.Body(), (std::vector<std::string>{
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
  ASSERT_EQ(r.view.files.size(), 7u);
  EXPECT_EQ(r.view.files[3].extractPath, "bin\\old_langs\\lang_ge.txt");
  EXPECT_EQ(r.view.files[5].extractPath, "bin\\old_langs\\British English Source file(3).txt");
}

TEST(OldCli, InfoPrintsThePre9FileTable) {
  TempDir dir;
  OldPackage pkg;
  OldLayout layout;
  pkg.uid2 = 0x1000006D;
  pkg.installerVersion = 100;
  pkg.options = 0;
  pkg.records = {OldFile("C:\\a.txt", "!:\\system\\apps\\a\\a.txt", "0123456789")};
  const std::string path = dir.Write("cli.sis", BuildOldSis(pkg, layout));
  const CliResult r = RunCli("info '" + path + "'", dir);
  EXPECT_NE(r.out.find("bin\\cli\\system\\apps\\a\\a.txt\t10\t10\t" + std::to_string(layout.dataOffsets[0][0]) + "\t10"),
            std::string::npos)
      << r.out << r.err;
}

}  // namespace
}  // namespace tarvik::test
