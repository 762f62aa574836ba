// The file frame: UIDs, checksums, the controller's compression, stubs and invalid files.

#include <gtest/gtest.h>

#include <algorithm>

#include "bytes/file_buffer.hpp"
#include "bytes/inflate.hpp"
#include "sis9_fixture.hpp"

namespace tarvik::test {
namespace {

// Offsets in a package made by the writer: the SISCompressed of the controller is the third
// child of the SISContents (16 + 8 + 12 + 12).
constexpr std::size_t kCompressedField = 48;
constexpr std::size_t kUncompressedSize = kCompressedField + 12;
constexpr std::size_t kControllerPayload = kCompressedField + 20;

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

w::Controller Simple() {
  w::Controller c;
  c.uid = 0xE1234567;
  c.files = {TextFile("!:\\data\\a.txt", "alpha")};
  return c;
}

using Frame = Sis9Fixture;

TEST_F(Frame, DeflatedControllerGivesTheFrameLinesInOrder) {
  const Bytes bytes = w::Build(Simple());
  Open(bytes);
  const auto& h = Header();
  ASSERT_GE(h.size(), 10u);
  EXPECT_EQ(h[0], "UID1: 10201A7A");
  EXPECT_EQ(h[1], "UID2: 00000000");
  EXPECT_EQ(h[2], "UID3: E1234567");
  EXPECT_EQ(h[3], "UID Checksum: " + HexText(ReadLE(bytes, 12, 4), 8));
  EXPECT_EQ(h[4], "SIS Controller Checksum: 0000" + HexText(ReadLE(bytes, 32, 2), 4));
  EXPECT_EQ(h[5], "SIS Data Checksum: 0000" + HexText(ReadLE(bytes, 44, 2), 4));
  EXPECT_EQ(h[6], "SISController Compression Algorithm: 00000001");
  const std::uint32_t fieldLen = static_cast<std::uint32_t>(ReadLE(bytes, kCompressedField + 4, 4));
  EXPECT_EQ(h[7], "SISController UnCompressed Data Size: " + HexText(ReadLE(bytes, kUncompressedSize, 4)));
  EXPECT_EQ(h[8], "SISController Compress Data Size: " + HexText(fieldLen - 12));
  EXPECT_EQ(h[9], "SIS UID: E1234567");
  EXPECT_NE(std::find(h.begin(), h.end(), "SIS Install Flag: , IU"), h.end());
  EXPECT_TRUE(ui.messages.empty());
  // The package file is kept, for extraction.
  EXPECT_EQ(test::BytesOf(app), bytes);
  EXPECT_EQ(test::KindOf(app), model::Generation::Sis9);
  EXPECT_FALSE(test::IsStubOf(app));
  EXPECT_EQ(test::FileCountOf(app), 1);
}

TEST_F(Frame, StoredControllerIsCopiedAndMarkedNC) {
  w::PackageOptions o;
  o.deflateController = false;
  const Bytes bytes = w::Build(Simple(), o);
  Open(bytes);
  const auto& h = Header();
  EXPECT_EQ(h[6], "SISController Compression Algorithm: 00000000");
  EXPECT_NE(std::find(h.begin(), h.end(), "SIS Install Flag: , NC"), h.end());
  EXPECT_NE(ui.text.find("(0xE1234567),1, 0, 0, NC,TYPE=SA"), std::string::npos);
  // The unpacked controller file holds the controller byte for byte.
  const Bytes controller(bytes.begin() + kControllerPayload,
                         bytes.begin() + kControllerPayload + ReadLE(bytes, kUncompressedSize, 4));
  EXPECT_EQ(ReadBytes(*app.platform().TempDir() + "Brimond/tmp.bin"), controller);
}

TEST_F(Frame, StubIsReadFromByteZeroAndAnnounced) {
  w::PackageOptions o;
  o.stub = true;
  w::Controller c = Simple();
  c.files.push_back(TextFile("c:\\sys\\bin\\x.exe", "x"));
  Open(c, o);
  EXPECT_EQ(Header().front(), "SIS UID: E1234567");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "This is a stub sis file which contains no file inside");
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Note);
  EXPECT_EQ(ui.messages[0].title, "Brimond");
  EXPECT_TRUE(test::IsStubOf(app));
  EXPECT_EQ(test::KindOf(app), model::Generation::Sis9);
  ASSERT_EQ(Files().size(), 2u);
  EXPECT_NE(ui.text.find("\"!:\\data\\a.txt\", FF"), std::string::npos);
  for (const views::FileRow& r : Files()) EXPECT_FALSE(r.hasData) << r.target;  // a stub carries no data
}

// A file that is no package is refused, and the package open before stays open as it was.
TEST_F(Frame, NotAPackageIsRefusedAndThePackageOpenBeforeStays) {
  Open(Simple());
  ASSERT_EQ(test::FileCountOf(app), 1);
  const std::string script = ui.text, title = ui.title;
  ui.messages.clear();
  Bytes junk(64, 0x41);
  Open(junk);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "This is not the valid SIS file!");
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Error);
  EXPECT_EQ(ui.messages[0].title, "Brimond");
  EXPECT_EQ(test::FileCountOf(app), 1);
  EXPECT_EQ(ui.text, script);
  EXPECT_EQ(ui.title, title);
  EXPECT_FALSE(Header().empty());
}

struct DamagedController {
  const char* name;
  void (*damage)(Bytes&);
};

class FrameDamage : public Sis9Fixture, public ::testing::WithParamInterface<DamagedController> {};

TEST_P(FrameDamage, EndsWithTheCorruptDataMessageAndOnlyTheFrameLines) {
  Bytes bytes = w::Build(Simple());
  GetParam().damage(bytes);
  Open(bytes);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Extraction Error: Input file corrupted  ");
  EXPECT_EQ(ui.messages[0].severity, ops::Severity::Warning);
  EXPECT_EQ(ui.messages[0].title, "Brimond");
  EXPECT_EQ(Header().size(), 9u);
  EXPECT_EQ(ui.text, "");
  EXPECT_EQ(test::BytesOf(app), bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FrameDamage,
    ::testing::Values(
        DamagedController{"BrokenStream", [](Bytes& b) { b[kControllerPayload + 4] ^= 0xFF; b[kControllerPayload + 5] ^= 0xFF; }},
        // A declared size no deflate stream of this length can give: refused before allocating.
        DamagedController{"ImpossibleSize", [](Bytes& b) { PutU32(b, kUncompressedSize, 0x7FFFFFF0); }},
        DamagedController{"SizeBeyond32Bits", [](Bytes& b) { PutU32(b, kUncompressedSize + 4, 0xCCCCCCCC); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Frame, ScriptIsKeptInTheScratchFile) {
  Open(Simple());
  ASSERT_FALSE(app.Scratch().PkgPath().empty());
  EXPECT_EQ(app.Scratch().PkgPath().rfind(*app.platform().TempDir() + "Brimond/", 0), 0u);
  EXPECT_EQ(ReadFile(app.Scratch().PkgPath()), ui.text);
  const std::string first = app.Scratch().PkgPath();
  Open(Simple());
  EXPECT_FALSE(ReadFile(app.Scratch().PkgPath()).empty());
  if (first != app.Scratch().PkgPath()) {
    EXPECT_TRUE(ReadFile(first).empty());
  }
}

}  // namespace
}  // namespace tarvik::test

namespace tarvik::test {
namespace {

// A declared size of 0 must end: an empty stream inflates to nothing, anything else is corrupt.
TEST(InflateEmpty, ZeroDeclaredSizeEnds) {
  Bytes empty;
  ASSERT_EQ(Compress(nullptr, 0, empty), 0);
  Bytes out{1, 2, 3};
  EXPECT_EQ(Uncompress(empty.data(), empty.size(), 0, out), zstatus::Ok);
  EXPECT_TRUE(out.empty());
  const std::string text = "some text";
  Bytes packed;
  ASSERT_EQ(Compress(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), packed), 0);
  EXPECT_EQ(Uncompress(packed.data(), packed.size(), 0, out), zstatus::BufError);
}

}  // namespace
}  // namespace tarvik::test

namespace tarvik::test {
namespace {

// A size the input merely claims costs no memory beyond what the stream produces.
TEST(InflateEmpty, ClaimedSizeCostsOnlyWhatIsProduced) {
  Bytes data(200 * 1024);
  std::uint32_t x = 12345;
  for (auto& b : data) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  Bytes packed;
  ASSERT_EQ(Compress(data.data(), data.size(), packed), 0);
  Bytes out;
  EXPECT_EQ(Uncompress(packed.data(), packed.size(), 150u * 1024 * 1024, out), zstatus::Ok);
  EXPECT_EQ(out, data);
  EXPECT_LE(out.capacity(), std::size_t{1} << 20);
}

}  // namespace
}  // namespace tarvik::test
