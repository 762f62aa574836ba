// Session files: writing, reading files made to the format byte by byte, and refusals.

#include <gtest/gtest.h>

#include <filesystem>

#include "bytes/encoding.hpp"
#include "bytes/inflate.hpp"
#include "project/project.hpp"
#include "support/fake_ui.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kCrLf = "\r\n";

std::string InvalidMessage(const std::string& path) {
  return "Error openning file, " + path + "\r\nInvalid Brimond Session File.";
}

// A session file put together byte by byte here, independently of the
// writer: `record` is the record text in Windows-1252 bytes.
std::string HandMadeSession(const std::string& record, char kind, std::string sizeDigits = {}) {
  Bytes payload;
  for (char c : record) {
    payload.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) + 20));
    payload.push_back(0);
  }
  Bytes z;
  Compress(payload.data(), payload.size(), z);
  if (sizeDigits.empty()) sizeDigits = HexText(payload.size(), 8);
  return "QSD" + sizeDigits + std::string(1, kind) + std::string(z.begin(), z.end());
}

// A record text with six given items.
std::string Record(const std::vector<std::string>& items, const std::string& pkg, std::size_t firstPos = 62) {
  std::string dir;
  std::size_t pos = firstPos;
  for (const auto& item : items) {
    dir += HexText(item.size(), 4) + HexText(pos, 4);
    pos += item.size();
  }
  std::string text = "Brimond030000" + dir;
  for (const auto& item : items) text += item;
  return text + pkg;
}

// Decompresses a session file written by the program into its record text.
std::string RecordOf(const std::string& file) {
  const std::size_t n = std::stoul(file.substr(3, 8), nullptr, 16);
  Bytes payload;
  EXPECT_EQ(Uncompress(reinterpret_cast<const std::uint8_t*>(file.data()) + 12, file.size() - 12, n, payload), 0);
  EXPECT_EQ(payload.size(), n);
  std::string record;
  for (std::size_t i = 0; i < payload.size(); ++i) {
    if (i % 2 == 1) {
      EXPECT_EQ(payload[i], 0) << "byte " << i;
    } else {
      record += static_cast<char>(payload[i] - 20);
    }
  }
  return record;
}

class SessionTest : public ::testing::Test {
 protected:
  FakeUi ui;
  TempDir dir;
  window::Commands app{ui, TestPlatform(dir)};

  void SetUp() override { app.Form_Load(); }

  // Saves `text` with the given format marker and returns the file's bytes.
  std::string Save(const std::string& text, int marker, const std::string& name = "s.qsd") {
    EXPECT_FALSE(project::SaveProject(dir / name, text, test::CarriedOf(app), marker != 0));
    return ReadFile(dir / name);
  }

  // Opens a session through the Open command in a fresh app.
  struct Reopened {
    std::string text;
    int marker;
    int dataMark;
    std::string title;
    std::string carried;
    std::vector<ops::Message> messages;
    int pulses;
  };
  Reopened Open(const std::string& path) {
    FakeUi ui2;
    window::Commands app2(ui2, TestPlatform(dir));
    app2.Form_Load();
    OpenThroughMenu(app2, ui2, path);
    const model::Generation kind = test::KindOf(app2);
    const int marker = kind == model::Generation::Sis9 ? 1 : kind == model::Generation::Pre9 ? 0 : 5;
    return {ui2.text, marker, test::FileCountOf(app2), ui2.title, test::CarriedOf(app2), ui2.messages, ui2.pulses};
  }
};

// Every character of Windows-1252 up to code 235, in UTF-8.
std::string AllSavableCharacters() {
  std::string s;
  for (int c = 0; c <= 235; ++c) AppendUtf8(s, Cp1252ToUnicode(static_cast<std::uint8_t>(c)));
  return s;
}

struct RoundTripCase {
  const char* name;
  std::string text;
  int marker;
};

class SessionRoundTripTest : public SessionTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(SessionRoundTripTest, ReopensToTheSameText) {
  const auto& c = GetParam();
  Save(c.text, c.marker);
  const auto r = Open(dir / "s.qsd");
  EXPECT_EQ(r.text, c.text);
  EXPECT_EQ(r.marker, c.marker);
  EXPECT_EQ(r.dataMark, 0);
  EXPECT_EQ(r.title, "s.qsd - Tarvik");
  EXPECT_TRUE(r.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SessionRoundTripTest,
    ::testing::Values(RoundTripCase{"Empty", "", 0}, RoundTripCase{"Empty9", "", 1},
                      RoundTripCase{"Script", "&EN\r\n#{\"Demo\"},(0x10000001),1,0,0\r\n\"a.txt\"-\"!:\\a.txt\"", 1},
                      RoundTripCase{"Windows1252", "caf\xC3\xA9 \xE2\x82\xAC \xC5\xA1 \xC3\xAB", 0},
                      RoundTripCase{"EveryCode", AllSavableCharacters(), 1},
                      RoundTripCase{"Long", std::string(300000, 'x') + "\r\nend", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionTest, FileFollowsTheFormatTable) {
  const std::string file = Save("", 1);
  ASSERT_GT(file.size(), 12u);
  EXPECT_EQ(file.substr(0, 3), "QSD");
  EXPECT_EQ(file[11], '1');
  const std::string digits = file.substr(3, 8);
  EXPECT_EQ(digits.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  const std::string record = RecordOf(file);
  EXPECT_EQ(digits, HexText(record.size() * 2, 8));

  // Empty project text: 61 + "Unnamed" + "Symbian 9.x SIS File" + the maker + "Unnamed" + ""
  // + the time.
  const std::size_t timeLength = std::stoul(record.substr(13 + 5 * 8, 4), nullptr, 16);
  EXPECT_EQ(record.size(), 61u + 7 + 20 + 24 + 7 + 0 + timeLength);
  EXPECT_EQ(record, Record({"Unnamed", "Symbian 9.x SIS File", "Lindqvar Technology Inc.", "Unnamed", "",
                            record.substr(record.size() - timeLength)},
                           ""));
  EXPECT_GT(timeLength, 0u);
}

TEST_F(SessionTest, LongDecodeLetsTheWindowHandleEvents) {
  const std::string text(1500000, 'x');
  Save(text, 1);
  const auto r = Open(dir / "s.qsd");
  EXPECT_EQ(r.text, text);
  EXPECT_GE(r.pulses, 2);
}

TEST_F(SessionTest, PreNineSessionNamesItsKind) {
  const std::string file = Save("x", 0);
  EXPECT_EQ(file[11], '0');
  const std::string record = RecordOf(file);
  EXPECT_EQ(record.substr(61 + 7, 24), "Pre Symbian 9.x SIS File");
  EXPECT_EQ(record.back(), 'x');
}

TEST_F(SessionTest, CarriedTextTravelsThroughItemFive) {
  const std::string path =
      dir.Write("hand.qsd", HandMadeSession(Record({"A", "B", "C", "D", "carried \xE9", "T"}, "pkg"), '1'));
  const auto r = Open(path);
  EXPECT_EQ(r.text, "pkg");
  EXPECT_EQ(r.carried, "carried \xC3\xA9");

  // Save As keeps it, with the kind the session gave.
  OpenThroughMenu(app, ui, path);
  ui.saveAnswers.push_back(dir / "again.qsd");
  app.mnSave_Click();
  const std::string again = ReadFile(dir / "again.qsd");
  EXPECT_EQ(again[11], '1');
  EXPECT_NE(RecordOf(again).find("Unnamed" + std::string("carried \xE9")), std::string::npos);
}

TEST_F(SessionTest, NothingOfAnEarlierSessionIsSavedWithALaterFile) {
  // A 9.x session that carries a text, then Close, then a PKG script: the script's session
  // file is of the pre-9.x kind and carries nothing.
  const std::string session =
      dir.Write("hand.qsd", HandMadeSession(Record({"A", "B", "C", "D", "carried", "T"}, "pkg"), '1'));
  OpenThroughMenu(app, ui, session);
  ASSERT_EQ(test::CarriedOf(app), "carried");
  app.mnClose_Click();
  OpenThroughMenu(app, ui, dir.Write("plain.pkg", "&EN\r\n"));
  ui.saveAnswers.push_back(dir / "plain.qsd");
  app.mnSave_Click();
  const std::string file = ReadFile(dir / "plain.qsd");
  ASSERT_GT(file.size(), 12u);
  EXPECT_EQ(file[11], '0');
  const std::string record = RecordOf(file);
  EXPECT_EQ(record.find("carried"), std::string::npos);
  EXPECT_NE(record.find("Pre Symbian 9.x SIS File"), std::string::npos);
  EXPECT_NE(record.find("&EN"), std::string::npos);
}

TEST_F(SessionTest, ReadsAHandMadeFileByItsDirectory) {
  // Items of other lengths than the writer's: the text starts after item 6 as the directory says.
  const std::string record = Record({"Some name", "Whatever", "", "Fourth item", "", "23:59:59"},
                                    "&EN\r\n\"x\"-\"!:\\x\", FF\r\n\xA3\xE0");
  const auto r = Open(dir.Write("hand.qsd", HandMadeSession(record, '0')));
  EXPECT_EQ(r.text, "&EN\r\n\"x\"-\"!:\\x\", FF\r\n\xC2\xA3\xC3\xA0");
  EXPECT_EQ(r.marker, 0);
  EXPECT_TRUE(r.messages.empty());
}

TEST_F(SessionTest, KindIsAHexDigitAndMagicIgnoresCase) {
  std::string file = HandMadeSession(Record({"", "", "", "", "", ""}, "t"), 'A');
  file[0] = 'q';
  file[2] = 'd';
  const auto r = Open(dir.Write("k.qsd", file));
  EXPECT_EQ(r.text, "t");
  EXPECT_EQ(r.marker, 1);
}

struct BadSession {
  const char* name;
  std::string bytes;
  std::string message;  // "" for the invalid-file message
};

class SessionRefusedTest : public SessionTest, public ::testing::WithParamInterface<BadSession> {};

TEST_P(SessionRefusedTest, ShowsItsMessageAndAnEmptyText) {
  const auto& c = GetParam();
  const std::string path = dir.Write("bad.qsd", c.bytes);
  const auto r = Open(path);
  EXPECT_EQ(r.text, "");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0].text, c.message.empty() ? InvalidMessage(path) : c.message);
  EXPECT_EQ(r.messages[0].severity, ops::Severity::Error);
  EXPECT_EQ(r.messages[0].title, "Tarvik");
}

std::string Good() { return HandMadeSession(Record({"", "", "", "", "", ""}, "text"), '1'); }

std::string WithSize(const std::string& digits) {
  return HandMadeSession(Record({"", "", "", "", "", ""}, "text"), '1', digits);
}

std::string Corrupted() {
  std::string s = Good();
  for (std::size_t i = 14; i < s.size(); ++i) s[i] = static_cast<char>(s[i] ^ 0x5A);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionRefusedTest,
    ::testing::Values(
        BadSession{"NotQsd", "PK\x03\x04" + Good().substr(4), ""}, BadSession{"Empty", "",
                   "bad.qsd is empty (0 bytes): there is nothing in it to show.\r\nIt may be an unfinished download "
                   "or copy. Copy the package again, or open another file."},
        BadSession{"HeaderOnly", "QSD000000A01", ""}, BadSession{"Short", "QSD", ""},
        BadSession{"ZeroSize", WithSize("00000000"), ""},
        BadSession{"Corrupt", Corrupted(), "Error to open file: Input file corrupted, expected file size 130"},
        BadSession{"TooSmall", WithSize("00000010"), "Internal Error: Buffer too small, expected memory allocate 16"},
        // A size that no zlib stream of this length can reach is corrupt before any allocation.
        BadSession{"Impossible", WithSize("FFFFFFFF"),
                   "Error to open file: Input file corrupted, expected file size 4294967295"},
        BadSession{"NotBrimond", HandMadeSession("Brimund030000" + Record({"", "", "", "", "", ""}, "").substr(13), '1'),
                   ""},
        BadSession{"FirstItemNot62", HandMadeSession(Record({"", "", "", "", "", ""}, "t", 63), '1'), ""},
        // A shifted byte below 20 stands for no character.
        BadSession{"ByteBelowShift", HandMadeSession(Record({"", "", "", "", "", ""}, std::string(1, '\xF0')), '1'),
                   ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SessionTest, EmptyOrOutOfRangeItemsGiveShortTexts) {
  // Entry 6 points past the end: the text is empty, not an error.
  std::string record = Record({"", "", "", "", "", ""}, "");
  record.replace(13 + 5 * 8 + 4, 4, "FFF0");
  const auto r = Open(dir.Write("o.qsd", HandMadeSession(record, '1')));
  EXPECT_EQ(r.text, "");
  EXPECT_TRUE(r.messages.empty());
}

struct Unsavable {
  const char* name;
  std::string text;
  std::string shown;  // the character and its code point as the message names them
};

class SessionUnsavableTest : public SessionTest, public ::testing::WithParamInterface<Unsavable> {};

TEST_P(SessionUnsavableTest, IsRefusedNamingTheCharacter) {
  const auto& c = GetParam();
  const std::string path = dir.Write("old.qsd", "previous session");
  const auto failure = project::SaveProject(path, "ok " + c.text + " \xC4\x81", "", 1);
  EXPECT_EQ(ReadFile(path), "previous session");
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->text, "Error while saving " + path + kCrLf + "The character " + c.shown +
                               " cannot be stored in a Brimond Session File.");
  EXPECT_FALSE(failure->warning);
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionUnsavableTest,
                         ::testing::Values(Unsavable{"NotInCodePage", "\xC4\x81", "\"\xC4\x81\" (U+0101)"},
                                           Unsavable{"Above235", "\xC3\xB0", "\"\xC3\xB0\" (U+00F0)"},
                                           Unsavable{"Highest", "\xC3\xBF", "\"\xC3\xBF\" (U+00FF)"},
                                           Unsavable{"Emoji", "\xF0\x9F\x99\x82", "\"\xF0\x9F\x99\x82\" (U+1F642)"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SessionEncodingTest, FirstUnsavableCharacter) {
  EXPECT_FALSE(project::FirstUnsavableChar(AllSavableCharacters()));
  EXPECT_EQ(project::FirstUnsavableChar("a\xC3\xAC" "b\xC4\x81"), U'\u00EC');  // 236 comes first
}

TEST(SessionEncodingTest, PayloadShiftsEveryCharacter) {
  const Bytes p = project::EncodePayload(std::string("A\0\xEB", 3));
  EXPECT_EQ(p, (Bytes{0x55, 0, 20, 0, 0xFF, 0}));
}

}  // namespace
}  // namespace tarvik::test
