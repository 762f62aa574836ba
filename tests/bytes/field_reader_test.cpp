#include <gtest/gtest.h>

#include "bytes/field_reader.hpp"

namespace tarvik {
namespace {

// Little-endian field builder for the cases below.
struct B {
  Bytes b;
  B& u8(std::uint8_t v) {
    b.push_back(v);
    return *this;
  }
  B& u16(std::uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
  B& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  B& field(std::uint32_t type, std::uint32_t len) { return u32(type).u32(len); }
  Bytes buf() const { return b; }
};

// ReadField and ReadElement: where the value begins and ends, where the next sibling
// begins, and whether the field lies inside the limit it was read against.
TEST(ReadField, LaysOutFieldsAgainstTheirLimit) {
  struct Case {
    const char* name;
    B bytes;
    Pos pos, limit;  // limit -1: the buffer's end
    std::uint32_t type;
    Pos index, length, end, next;
    bool ok;
  };
  const Case cases[] = {
      {"string without padding", B().field(0x01, 10).u16('H').u16('e').u16('l').u16('l').u16('o').u16(0), 0, -1,
       0x01, 8, 10, 18, 20, true},
      {"checksum: length as stored", B().field(0x22, 2).u16(0x1A2B).u16(0), 0, -1, 0x22, 8, 2, 10, 12, true},
      {"63-bit form", B().u32(0x01).u32(0x80000010).u32(0).u32(0x41).u32(0).u32(0).u32(0), 0, -1, 0x01, 12, 16, 28,
       28, true},
      {"upper word counts 2^31", B().u32(0x01).u32(0x80000001).u32(2), 0, -1, 0x01, 12, 1 + (Pos{2} << 31), 12, 12,
       false},
      {"largest length saturates", B().u32(0x01).u32(0xFFFFFFFF).u32(0xFFFFFFFF), 0, -1, 0x01, 12, INT64_MAX, 12,
       12, false},
      {"overrun is cut at the limit", B().field(0x0C, 100).u32(0).u32(0), 0, 12, 0x0C, 8, 100, 12, 12, false},
      {"inside a smaller parent", B().field(0x0C, 8).field(0x09, 4).u32(7), 8, 16, 0x09, 16, 4, 16, 16, false},
      {"type part cut off", B().u16(0x0D), 0, -1, sistype::Truncated, 0, 0, 4, 4, false},
      {"no room before the limit", B().field(0x01, 0).u32(0), 4, 8, sistype::Truncated, 4, 0, 8, 8, false},
      {"empty field still moves on", B().field(0x01, 0), 0, -1, 0x01, 8, 0, 8, 8, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes f = c.bytes.buf();
    const Field r = ReadField(f, c.pos, c.limit < 0 ? static_cast<Pos>(f.size()) : c.limit);
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.start, c.pos);
    EXPECT_EQ(r.index, c.index);
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.end, c.end);
    EXPECT_EQ(r.next, c.next);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_GT(r.next, r.start);  // a walk always moves on
  }
}

TEST(ReadElement, ReadsLengthThenValue) {
  B b;
  b.u32(4).u16('O').u16('K');  // element at 0
  b.u32(3).u8(1).u8(2).u8(3);  // element at 8, padded
  b.u8(0).u32(0x80000002).u32(0);  // 63-bit element at 16
  const Bytes f = b.buf();
  const Field first = ReadElement(f, 0, static_cast<Pos>(f.size()));
  EXPECT_EQ(first.type, 0u);
  EXPECT_EQ(first.index, 4);
  EXPECT_EQ(first.next, 8);
  EXPECT_TRUE(first.ok);
  const Field second = ReadElement(f, 8, static_cast<Pos>(f.size()));
  EXPECT_EQ(second.end, 15);
  EXPECT_EQ(second.next, 16);
  const Field wide = ReadElement(f, 16, static_cast<Pos>(f.size()));
  EXPECT_EQ(wide.index, 24);
  EXPECT_EQ(wide.length, 2);
  EXPECT_FALSE(wide.ok);  // two value bytes past the buffer's end
  const Field none = ReadElement(f, 26, static_cast<Pos>(f.size()));
  EXPECT_FALSE(none.ok);
  EXPECT_GE(none.next, 30);
}

TEST(DecodeLength, ShortAndLongForms) {
  const Bytes f = B().u32(0x7FFFFFFF).u32(0x80000000).u32(1).buf();
  Pos len = 0;
  int width = 0;
  DecodeLength(f, 0, len, width);
  EXPECT_EQ(len, 0x7FFFFFFF);
  EXPECT_EQ(width, 4);
  DecodeLength(f, 4, len, width);
  EXPECT_EQ(len, Pos{1} << 31);
  EXPECT_EQ(width, 8);
  DecodeLength(f, 12, len, width);  // nothing there
  EXPECT_EQ(len, 0);
}

TEST(GetText, DecodesUtf16AndSingleByteText) {
  B b;
  b.u16(0x48).u16(0xE9).u16(0xD83D).u16(0xDE00).u16(0xDC00).u8(0x41);
  const auto f = b.buf();
  EXPECT_EQ(GetText(f, 0, 8, true), "H\xC3\xA9\xF0\x9F\x98\x80");  // surrogate pair joined
  EXPECT_EQ(GetText(f, 8, 2, true), "\xEF\xBF\xBD");                // lone surrogate
  EXPECT_EQ(GetText(f, 0, 3, true), "H\xC3\xA9");                   // odd length: last unit from the next byte
  EXPECT_EQ(GetText(f, 10, 2, true), "A");                          // high byte missing
  EXPECT_EQ(GetText(f, 100, 2, true), "");
  EXPECT_EQ(GetText(f, 0, INT64_MAX, true), "H\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBD" "A");  // clamped to the buffer
  const auto single = B().u8('a').u8(0xE9).u8(0x80).buf();
  EXPECT_EQ(GetText(single, 0, 3, false), "a\xC3\xA9\xE2\x82\xAC");
}

TEST(AlignUp, RoundsToMultiplesOfFour) {
  EXPECT_EQ(AlignUp(0), 0);
  EXPECT_EQ(AlignUp(1), 4);
  EXPECT_EQ(AlignUp(4), 4);
  EXPECT_EQ(AlignUp(18), 20);
  EXPECT_EQ(AlignUp(INT64_MAX), INT64_MAX);
}

}  // namespace
}  // namespace tarvik
