#include <gtest/gtest.h>

#include "bytes/encoding.hpp"
#include "bytes/tables.hpp"

namespace tarvik {
namespace {

TEST(Languages, CodesByNumber) {
  struct Case {
    const char* number;
    const char* code;
  };
  for (const Case& c : {Case{"0", "Test"}, {"1", "EN"}, {"6", "SW"}, {"84", "SW"}, {"11", "SF"}, {"48", "SF"},
                        {"86", "X"}, {"95", "X"}, {"98", "ZU"}, {"99", ""}, {"01", ""}, {" 1", ""}, {"", ""},
                        {"-1", ""}, {"abc", ""}})
    EXPECT_EQ(GetLanguage(c.number), c.code) << c.number;
  EXPECT_EQ(LangStr(0), " ");
  EXPECT_EQ(LangStr(1), "EN");
  EXPECT_EQ(LangStr(98), "ZU");
  EXPECT_EQ(LangStr(99), "");
  EXPECT_EQ(LangStr(-1), "");
}

TEST(Languages, LongNames) {
  struct Case {
    const char* code;
    const char* name;
  };
  for (const Case& c : {Case{"EN", "British English"}, {"en", "British English"}, {"SW", "Swedish"},
                        {"SF", "South African English"}, {"ZH", "People Reprivate of Chinas Chinese"},
                        {"Test", "Telugu st"}, {"X", "Reserved"}, {"x", "Reserved"}, {"", ""}, {"QQ", ""},
                        {"ENxyz", "British English xyz"}})
    EXPECT_EQ(LongLangTable(c.code), c.name) << c.code;
}

// Languages by number: the name lists show, the script's language line, and what a builder
// reads back to the same number (a code shared by two numbers, or none, is a number).
TEST(Languages, NamesAndScriptForms) {
  struct Case {
    std::uint32_t number;
    const char* name;
    const char* script;
    const char* builder;
  };
  for (const Case& c : {Case{1, "British English", "EN", "EN"}, {6, "Swedish", "SW", "SW"}, {84, "Swahili", "SW", "84"},
                        {11, "South African English", "SF", "SF"}, {48, "South African English", "SF", "48"},
                        {86, "Reserved", "X", "86"}, {0, "Language 0", "Test", "0"}, {98, "Zulu", "ZU", "ZU"},
                        {99, "Language 99", "99", "99"}, {260, "Language 260", "260", "260"}}) {
    EXPECT_EQ(LanguageName(c.number), c.name) << c.number;
    EXPECT_EQ(ScriptLanguage(c.number), c.script) << c.number;
    EXPECT_EQ(BuilderLanguage(c.number), c.builder) << c.number;
  }
}

// Names compared without regard to case, non-ASCII letters too.
TEST(Encoding, FoldCase) {
  std::string text = "\xC3\x89T\xC3\xA9 \xC5\xB8 \xC4\xB0 \xD0\x96 \xCE\xA3";  // ÉTé Ÿ İ Ж Σ
  FoldCaseUtf8(text);
  EXPECT_EQ(text, "\xC3\xA9t\xC3\xA9 \xC3\xBF \xC4\xB0 \xD0\xB6 \xCF\x83");
}

TEST(Attributes, NamesByHexKey) {
  struct Case {
    const char* key;
    const char* name;
  };
  for (const Case& c : {Case{"00000000", "Manufacturer"}, {"0000000A", "CPUABI"}, {"0000000a", "CPUABI"},
                        {"00000065", "FPHardware"}, {"00001000", "Language"}, {"00001001", "RemoteInstall"},
                        {"0000000C", ""}, {"A", ""}, {"0000000G", ""}})
    EXPECT_EQ(GetAttribute(c.key), c.name) << c.key;
}

TEST(Encoding, TextFilesByByteOrderMark) {
  EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF" "caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE" "a\0\xE9\0", 6)), "a\xC3\xA9");
  EXPECT_EQ(DecodeTextFile(std::string("\xFE\xFF\0a\0\xE9", 6)), "a\xC3\xA9");
  EXPECT_EQ(DecodeTextFile("caf\xE9 \x80"), "caf\xC3\xA9 \xE2\x82\xAC");  // Windows-1252
}

TEST(Encoding, Cp1252RoundTrip) {
  for (int b = 0; b < 256; ++b) {
    const char32_t cp = Cp1252ToUnicode(static_cast<std::uint8_t>(b));
    ASSERT_EQ(UnicodeToCp1252(cp), static_cast<std::uint8_t>(b)) << b;
  }
  std::optional<char32_t> bad;
  EXPECT_EQ(Utf8ToCp1252("a\xE2\x82\xAC\xE4\xB8\xAD", &bad), "a\x80?");
  EXPECT_EQ(bad, U'\u4E2D');
  EXPECT_EQ(Utf8ToUtf16Le("a\xF0\x9F\x98\x80"), std::string("a\0\x3D\xD8\x00\xDE", 6));
}

}  // namespace
}  // namespace tarvik
