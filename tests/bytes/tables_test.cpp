#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <vector>

#include "bytes/encoding.hpp"
#include "bytes/tables.hpp"

namespace tarvik {
namespace {

TEST(Languages, CodesByNumber) {
  struct Case {
    std::uint32_t number;
    const char* code;
  };
  for (const Case& c : {Case{0, "Test"}, {1, "EN"}, {6, "SW"}, {84, "SW"}, {11, "SF"}, {48, "SF"}, {86, "X"},
                        {95, "X"}, {98, "ZU"}, {99, ""}, {0xFFFFFFFF, ""}})
    EXPECT_EQ(LanguageCode(c.number), c.code) << c.number;
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

// The fast conversions against a plain one code point at a time, over random texts drawn from
// bytes and units that matter: letters that fold, sequence leads and continuations, invalid
// and overlong sequences, surrogates.
TEST(Encoding, FastConversionsMatchOneCodePointAtATime) {
  std::mt19937 random(7);
  const std::uint8_t bytes[] = {'A', 'z', '/', 0x80, 0x8F, 0xBF, 0xC0, 0xC1, 0xC3, 0xC5, 0xCE, 0xD0,
                                0xD1, 0xDF, 0xE0, 0xED, 0xF0, 0xF4, 0xF8, 0xFF, 0x89, 0xB8, 0x96, 0xA3};
  const char16_t units[] = {u'a', u'Z', 0x7F, 0x80, 0xC9, 0x178, 0x7FF, 0x800, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFD, 0xFFFF};
  for (int round = 0; round < 3000; ++round) {
    const std::size_t n = random() % 12;
    std::string text;
    std::u16string wide;
    for (std::size_t i = 0; i < n; ++i) {
      text.push_back(static_cast<char>(bytes[random() % std::size(bytes)]));
      wide.push_back(units[random() % std::size(units)]);
    }
    std::string folded;  // fold each code point, keeping invalid bytes as they are
    for (std::size_t i = 0; i < text.size();) {
      const std::size_t start = i;
      const char32_t cp = NextUtf8(text, i);
      if (cp == 0xFFFD || FoldCase(cp) == cp)
        folded.append(text, start, i - start);
      else
        AppendUtf8(folded, FoldCase(cp));
    }
    std::string fast = text;
    FoldCaseUtf8(fast);
    EXPECT_EQ(fast, folded) << round;

    std::string fromCp1252;
    for (char c : text) AppendUtf8(fromCp1252, Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
    EXPECT_EQ(Cp1252ToUtf8(text), fromCp1252) << round;

    std::string fromUtf16;
    for (std::size_t i = 0; i < wide.size(); ++i) {
      char32_t c = wide[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
        c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
      AppendUtf8(fromUtf16, c);
    }
    EXPECT_EQ(Utf16ToUtf8(wide), fromUtf16) << round;
    std::vector<std::uint8_t> le;
    for (const char16_t u : wide) le.insert(le.end(), {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)});
    EXPECT_EQ(Utf16LeToUtf8(le.data(), wide.size()), fromUtf16) << round;
  }
}

TEST(Attributes, NamesByNumber) {
  struct Case {
    std::uint32_t number;
    const char* name;
  };
  for (const Case& c : {Case{0x00, "Manufacturer"}, {0x0A, "CPUABI"}, {0x65, "FPHardware"}, {0x1000, "Language"},
                        {0x1001, "RemoteInstall"}, {0x0C, ""}, {0xFFFFFFFF, ""}})
    EXPECT_EQ(AttributeName(c.number), c.name) << c.number;
}

TEST(Encoding, TextFilesByByteOrderMark) {
  EXPECT_EQ(DecodeTextFile("\xEF\xBB\xBF" "caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE" "a\0\xE9\0", 6)), "a\xC3\xA9");
  EXPECT_EQ(DecodeTextFile(std::string("\xFE\xFF\0a\0\xE9", 6)), "a\xC3\xA9");
  EXPECT_EQ(DecodeTextFile(std::string("\xFF\xFE" "a\0\x3D\xD8\0\xDE!", 9)), "a\xF0\x9F\x98\x80\xEF\xBF\xBD");  // pair, dangling byte
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
