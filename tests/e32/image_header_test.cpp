// The E32 image header reader: what it takes from each header format, and what it refuses.

#include <gtest/gtest.h>

#include <vector>

#include "e32/image_header.hpp"

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

}  // namespace
}  // namespace tarvik::e32
