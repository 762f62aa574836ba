// The E32 image header reader: what it takes from each header format, and what it refuses.

#include <gtest/gtest.h>

#include <vector>

#include "e32/image_header.hpp"
#include "support/e32_images.hpp"

namespace tarvik::e32 {
namespace {

// Puts a word at `at`, or the part of it that fits.
void Put(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A header of `size` bytes with the given header format and fields.
std::vector<std::uint8_t> Header(std::uint32_t format, std::size_t size = kHeaderBytes) {
  std::vector<std::uint8_t> b(size, 0);
  Put(b, 0, kExecutableUid);
  Put(b, 4, 0x100039CE);
  Put(b, 8, 0xE0001234);
  b[16] = 'E', b[17] = 'P', b[18] = 'O', b[19] = 'C';
  Put(b, 28, kDeflateCompression);
  Put(b, 44, format << 24);
  Put(b, 124, 4096);
  Put(b, 128, 0xE0001234);
  Put(b, 132, 0x101FB657);
  Put(b, 136, 0x0001A000);  // NetworkServices, LocalServices, WriteUserData
  Put(b, 140, 0x00000001);
  Put(b, 152, 24);
  return b;
}

TEST(ImageHeader, EachFormatGivesItsFields) {
  struct Case {
    const char* name;
    std::uint32_t format;
    Format expected;
    bool compression, secure;
  };
  const Case cases[] = {
      {"original EKA1", 0, Format::Eka1, false, false},
      {"EKA1 format 1", 1, Format::Eka1, true, false},
      {"EKA2", 2, Format::Eka2, true, true},
      {"later format", 3, Format::Other, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto h = ReadImageHeader(Header(c.format));
    ASSERT_TRUE(h);
    EXPECT_EQ(h->uid1, kExecutableUid);
    EXPECT_EQ(h->uid3, 0xE0001234u);
    EXPECT_EQ(h->format, c.expected);
    EXPECT_EQ(h->compression, c.compression ? kDeflateCompression : 0u);
    EXPECT_EQ(h->uncompressedSize.has_value(), c.compression);
    EXPECT_EQ(h->capabilities.has_value(), c.secure);
    if (c.secure) {
      EXPECT_EQ(*h->capabilities, 0x000000010001A000ull);
      EXPECT_EQ(*h->secureId, 0xE0001234u);
      EXPECT_EQ(*h->vendorId, 0x101FB657u);
      EXPECT_EQ(*h->exportDescriptionSize, 24u);
    }
    EXPECT_EQ(PackageCapabilities(Header(c.format)).has_value(), c.secure);
  }
}

TEST(ImageHeader, FieldsPastTheEndStayAbsentAndOtherFilesAreNoImages) {
  // Cut inside the capabilities: the words before them are read, the rest is absent.
  const auto cut = ReadImageHeader(Header(2, 140));
  ASSERT_TRUE(cut);
  EXPECT_TRUE(cut->secureId);
  EXPECT_FALSE(cut->capabilities);
  EXPECT_FALSE(cut->exportDescriptionSize);
  EXPECT_FALSE(PackageCapabilities(Header(2, 140)));

  std::vector<std::uint8_t> text(200, 'a');
  EXPECT_FALSE(ReadImageHeader(text));
  EXPECT_FALSE(ReadImageHeader(std::vector<std::uint8_t>(19, 0)));
  EXPECT_FALSE(ReadImageHeader({}));
}

TEST(ImageHeader, UidChecksumIsChecked) {
  std::vector<std::uint8_t> b = Header(2);
  EXPECT_FALSE(ReadImageHeader(b)->uidChecksumMatches);
  // CRC-16 of the even and of the odd bytes of the three UIDs.
  auto crc = [&](std::size_t first) {
    std::uint16_t c = 0;
    for (std::size_t i = first; i < 12; i += 2) {
      c ^= static_cast<std::uint16_t>(b[i] << 8);
      for (int k = 0; k < 8; ++k) c = (c & 0x8000) ? static_cast<std::uint16_t>((c << 1) ^ 0x1021) : static_cast<std::uint16_t>(c << 1);
    }
    return c;
  };
  Put(b, 12, crc(0) | static_cast<std::uint32_t>(crc(1)) << 16);
  EXPECT_TRUE(ReadImageHeader(b)->uidChecksumMatches);
}

// A file's content as ReadExecutable asks for it, counting the most it asked for.
struct Content {
  std::vector<std::uint8_t> bytes;
  std::size_t most = 0;
  ContentStart Start() {
    return [this](std::size_t n) {
      most = std::max(most, n);
      return std::span<const std::uint8_t>(bytes).first(std::min(n, bytes.size()));
    };
  }
};

TEST(Executable, ImagesAndEmulatorBuildsAreToldApart) {
  test::ImageFields f;
  f.uid3 = 0xE0000042;
  f.sid = 0xE0000043;
  f.vid = 0x70000001;
  f.caps = 0x0001A000;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool executable, emulator, symbianSection, secure;
    Format format;
  };
  const Case cases[] = {
      {"EKA2 image", test::E32Image(f), true, false, false, true, Format::Eka2},
      {"EKA1 image", test::E32Image({.headerFormat = 0}), true, false, false, false, Format::Eka1},
      {"WINSCW build", test::EmulatorBuild(f, ".SYMBIAN", 100000), true, true, true, true, Format::Eka2},
      {"WINS build", test::EmulatorBuild(f, ".E32_UID"), true, true, true, false, Format::Eka1},
      {"PE without a Symbian section", test::EmulatorBuild(f, ""), true, true, false, false, Format::Eka1},
      {"text", std::vector<std::uint8_t>(300, 'a'), false, false, false, false, Format::Eka1},
      {"MZ without PE", std::vector<std::uint8_t>{'M', 'Z', 0, 0}, false, false, false, false, Format::Eka1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Content content{c.bytes};
    const auto x = ReadExecutable(content.Start());
    ASSERT_EQ(x.has_value(), c.executable);
    if (!x) continue;
    EXPECT_EQ(x->emulator, c.emulator);
    EXPECT_EQ(x->symbianSection, c.symbianSection);
    EXPECT_EQ(x->header.format, c.format);
    EXPECT_EQ(x->header.secureId.has_value(), c.secure);
    if (c.symbianSection || !c.emulator) {
      EXPECT_EQ(x->header.uid3, c.emulator || c.secure ? 0xE0000042u : 0xE0001234u);
    }
    if (c.secure) {
      EXPECT_EQ(*x->header.secureId, 0xE0000043u);
      EXPECT_EQ(*x->header.vendorId, 0x70000001u);
      EXPECT_EQ(*x->header.capabilities, 0x0001A000u);
    }
    // Only what is needed is asked for: the header, or the PE headers and the section.
    if (!c.emulator) {
      EXPECT_EQ(content.most, kHeaderBytes);
    }
  }
}

TEST(Executable, CutOrHostilePeFilesAreReadWithinTheirBytes) {
  const std::vector<std::uint8_t> whole = test::EmulatorBuild({}, ".SYMBIAN", 2000);
  // Cut at every length: never a read past the end; the section's fields only when whole.
  for (std::size_t n = 0; n <= whole.size(); n += 7) {
    Content content{std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n))};
    const auto x = ReadExecutable(content.Start());
    if (x) {
      EXPECT_FALSE(x->symbianSection && n < whole.size());
    }
  }
  // A PE offset, section count or section offset far beyond the file.
  struct Case {
    const char* name;
    std::size_t at;
    std::uint32_t value;
  };
  const Case cases[] = {{"PE offset", 0x3C, 0xFFFFFFF0u}, {"section count", 0x86, 0xFFFF},
                        {"section offset", 0x80 + 24 + 0xE0 + 40 + 20, 0xFFFFFF00u}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Content content{whole};
    Put(content.bytes, c.at, c.value);
    const auto x = ReadExecutable(content.Start());
    if (x) {
      EXPECT_FALSE(x->symbianSection);
    }
    EXPECT_LE(content.most, kMostExecutableBytes);
  }
}

}  // namespace
}  // namespace tarvik::e32
