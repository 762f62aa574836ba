#include <gtest/gtest.h>

#include "bytes/file_buffer.hpp"
#include "bytes/inflate.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

Bytes Buf(std::initializer_list<std::uint8_t> bytes) { return Bytes(bytes); }

TEST(ReadLE, ReadsTheBytesInsideTheBufferLowestFirst) {
  const Bytes b = Buf({0x78, 0x56, 0x34, 0x12, 0xFF});
  struct Case {
    Pos pos;
    int len;
    std::uint64_t value;
  };
  // A range past the end gives the value of the bytes inside it; so does one that starts
  // before the buffer.
  for (const Case& c : {Case{0, 4, 0x12345678}, {4, 1, 0xFF}, {0, 0, 0}, {3, 4, 0xFF12}, {-2, 4, 0x5678}, {9, 4, 0},
                        {-9, 4, 0}})
    EXPECT_EQ(ReadLE(b, c.pos, c.len), c.value) << c.pos << "," << c.len;
  std::uint32_t v = 0;
  EXPECT_TRUE(ReadU32(b, 0, v));
  EXPECT_EQ(v, 0x12345678u);
  EXPECT_FALSE(ReadU32(b, 2, v));  // only 3 bytes left: not a whole word
  EXPECT_EQ(v, 0u);
}

TEST(HexHelpers, ConvertTextToNumbers) {
  struct Case {
    const char* text;
    std::optional<std::uint64_t> value;
  };
  for (const Case& c : {Case{"7g", std::nullopt}, {"ff", 255}, {"FF", 255}, {"", 0}, {"FFFFFFFF", 4294967295u},
                        {"80000000", 2147483648u}, {"10000419", 268436505}, {"-1", std::nullopt}, {" 1", std::nullopt},
                        {"FFFFFFFFFFFFFFFF", UINT64_MAX}, {"10000000000000000", std::nullopt}})
    EXPECT_EQ(HexValue(c.text), c.value) << c.text;
}

TEST(HexHelpers, NumTextFollowsTheDecimalRule) {
  struct Case {
    double value;
    const char* out;
  };
  for (const Case& c : {Case{0, "0"}, {1, "1"}, {999999999999999.0, "999999999999999"}, {1e15, "1E+15"},
                        {1234567890123456.0, "1.23456789012346E+15"}, {18446744073709551615.0, "1.84467440737096E+19"},
                        {-5, "-5"}})
    EXPECT_EQ(NumText(c.value), c.out) << c.value;
  EXPECT_EQ(HexText(0x1A2B), "1A2B");
  EXPECT_EQ(HexText(0), "0");
  EXPECT_EQ(HexText(0xC, 8), "0000000C");
}

TEST(Inflate, ChecksTheDeclaredSizeBeforeAllocating) {
  const std::string text(5000, 'a');
  Bytes z;
  ASSERT_EQ(Compress(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), z), zstatus::Ok);
  Bytes out;
  EXPECT_EQ(Uncompress(z.data(), z.size(), text.size(), out), zstatus::Ok);
  EXPECT_EQ(std::string(out.begin(), out.end()), text);
  // A larger declared size is fine: the output holds what zlib produced.
  EXPECT_EQ(Uncompress(z.data(), z.size(), text.size() + 100, out), zstatus::Ok);
  EXPECT_EQ(out.size(), text.size());
  EXPECT_EQ(Uncompress(z.data(), z.size(), text.size() - 1, out), zstatus::BufError);
  EXPECT_EQ(Uncompress(z.data(), z.size() - 3, text.size(), out), zstatus::DataError);  // truncated
  Bytes junk = {1, 2, 3, 4, 5};
  EXPECT_EQ(Uncompress(junk.data(), junk.size(), 10, out), zstatus::DataError);
  // 4 GiB announced for 5 bytes cannot be deflate: refused as corrupt without allocating.
  EXPECT_EQ(Uncompress(junk.data(), junk.size(), 1ull << 32, out), zstatus::DataError);
  EXPECT_EQ(MaxInflatedSize(5), 5 * 1032 + 1024u);
}

}  // namespace
}  // namespace tarvik
