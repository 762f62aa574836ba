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
  FileBuffer buf() const {
    FileBuffer f;
    f.data = b;
    return f;
  }
};

struct Read {
  Pos start, end, length, index;
  std::string value;
};

Read Get(const FileBuffer& f, Pos at, bool rooth, bool text = false) {
  Read r{at, 0, 0, 0, {}};
  XGetValue(f, r.start, r.end, r.length, r.value, r.index, rooth, text);
  return r;
}

TEST(XGetValue, StringIsReadWithoutPadding) {
  B b;
  b.field(0x01, 10);
  for (char c : std::string("Hello")) b.u16(static_cast<std::uint16_t>(c));
  b.u16(0);
  const auto f = b.buf();
  const Read r = Get(f, 0, false, true);
  EXPECT_EQ(r.value, "Hello");
  EXPECT_EQ(r.index, 8);
  EXPECT_EQ(r.end, 18);  // no rounding to 20
  EXPECT_EQ(r.start, 18);
}

TEST(XGetValue, ChecksumLengthIsDoubled) {
  const auto f = B().field(0x22, 2).u16(0x1A2B).u16(0).buf();
  const Read r = Get(f, 0, false);
  EXPECT_EQ(r.length, 4);
  EXPECT_EQ(r.end, 12);
  EXPECT_EQ(r.value, "00001A2B");
}

TEST(XGetValue, RendersValuesByType) {
  struct Case {
    const char* name;
    B bytes;
    const char* value;
  };
  const Case cases[] = {
      {"date", B().field(0x06, 4).u16(2007).u8(0).u8(1), "1-1-2007"},
      {"date March", B().field(0x06, 4).u16(2007).u8(2).u8(5), "5-3-2007"},
      {"time", B().field(0x07, 3).u8(23).u8(59).u8(7), "23:59:7"},
      {"time 9:5:0", B().field(0x07, 3).u8(9).u8(5).u8(0), "9:5:0"},
      {"version", B().field(0x04, 12).u32(2).u32(0xFFFFFFFF).u32(0), "2, -1, 0"},
      {"version 1.0.0", B().field(0x04, 12).u32(1).u32(0).u32(0), "1, 0, 0"},
      {"property", B().field(0x14, 8).u32(16).u32(0xFFFFFFFE), "16=-2"},
      {"uid", B().field(0x09, 4).u32(0x10201A7A), "10201A7A"},
      {"unknown type", B().field(0x77, 4).u32(0xDEADBEEF), "DEADBEEF"},
  };
  for (const auto& c : cases) EXPECT_EQ(Get(c.bytes.buf(), 0, false).value, c.value) << c.name;
}

TEST(XGetValue, DescendsIntoContainers) {
  const auto f = B().field(0x0C, 12).field(0x22, 2).u16(1).u16(0).buf();
  const Read r = Get(f, 0, true);
  EXPECT_EQ(r.start, 8);
  EXPECT_EQ(r.value, "00000022");
  const Read over = Get(f, 0, false);
  EXPECT_EQ(over.start, 20);
}

TEST(XGetValue, SixtyThreeBitLengthForm) {
  const auto f = B().u32(0x01).u32(0x80000010).u32(0).u32(0x41).buf();
  const Read r = Get(f, 0, false);
  EXPECT_EQ(r.length, 16);
  EXPECT_EQ(r.index, 12);
  EXPECT_EQ(r.end, 28);
  // The upper word counts in units of 2^31.
  const auto big = B().u32(0x01).u32(0x80000001).u32(2).buf();
  EXPECT_EQ(Get(big, 0, false).length, 1 + (Pos{2} << 31));
  // The largest length saturates the end instead of overflowing.
  const auto huge = B().u32(0x01).u32(0xFFFFFFFF).u32(0xFFFFFFFF).buf();
  const Read h = Get(huge, 0, false);
  EXPECT_EQ(h.length, INT64_MAX);
  EXPECT_EQ(h.end, INT64_MAX);
}

TEST(XGetValue, TruncatedFieldsMatchNothing) {
  const auto f = B().u16(0x0D).buf();  // two bytes of a type part
  const XField x = XReadField(f, 0, false);
  EXPECT_EQ(x.type, sistype::Truncated);
  EXPECT_EQ(x.typeText, "000D");
  EXPECT_EQ(x.length, 0);
  EXPECT_EQ(x.value, "");
}

TEST(GetArrayValue, RendersElementsByCategory) {
  B b;
  b.u32(4).u16('O').u16('K');       // string element
  b.u32(8).u32(5).u32(0xFFFFFFFF);  // property element
  b.u32(4).u32(0x0000000B);         // other
  const auto f = b.buf();
  Pos start = 0, end = 0, len = 0, index = 0;
  std::string v;
  GetArrayValue(f, start, end, len, v, index, 1);
  EXPECT_EQ(v, "OK");
  EXPECT_EQ(start, 8);
  EXPECT_EQ(end, 8);
  GetArrayValue(f, start, end, len, v, index, 2);
  EXPECT_EQ(v, "5=-1");
  GetArrayValue(f, start, end, len, v, index, 0);
  EXPECT_EQ(v, "0000000B");
  EXPECT_EQ(start, 28);
  EXPECT_EQ(GetByteLength(f, 8, false), "8");
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
