#include "writer/fields.hpp"

#include <algorithm>
#include <array>

#include "bytes/encoding.hpp"
#include "bytes/field_reader.hpp"

namespace tarvik::writer {

void PutU8(Bytes& out, std::uint32_t v) { out.push_back(static_cast<std::uint8_t>(v)); }

namespace {
// Appends the `n` low bytes of `v`, least significant first, in one insertion.
void PutLittle(Bytes& out, std::uint64_t v, std::size_t n) {
  std::uint8_t b[8];
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(v >> (8 * i));
  out.insert(out.end(), b, b + n);
}
}  // namespace

void PutU16(Bytes& out, std::uint32_t v) { PutLittle(out, v, 2); }

void PutU32(Bytes& out, std::uint32_t v) { PutLittle(out, v, 4); }

void PutU64(Bytes& out, std::uint64_t v) { PutLittle(out, v, 8); }

void PutPadding(Bytes& out) { out.resize((out.size() + 3) & ~std::size_t{3}, 0); }
void PutLength(Bytes& out, std::uint64_t length) {
  if (length < 0x80000000u) return PutU32(out, static_cast<std::uint32_t>(length));
  PutU32(out, static_cast<std::uint32_t>(length & 0x7FFFFFFFu) | 0x80000000u);
  PutU32(out, static_cast<std::uint32_t>(length >> 31));
}
void PutFieldHeader(Bytes& out, std::uint32_t type, std::uint64_t length) {
  PutU32(out, type);
  PutLength(out, length);
}
void PutField(Bytes& out, std::uint32_t type, const Bytes& value) {
  PutFieldHeader(out, type, value.size());
  out.insert(out.end(), value.begin(), value.end());
  PutPadding(out);
}
void PutElement(Bytes& out, const Bytes& value) {
  PutLength(out, value.size());
  out.insert(out.end(), value.begin(), value.end());
  PutPadding(out);
}
void PutString(Bytes& out, const std::string& utf8) {
  const std::string units = Utf8ToUtf16Le(utf8);
  PutFieldHeader(out, sistype::String, units.size());
  out.insert(out.end(), units.begin(), units.end());
  PutPadding(out);
}
void PutStringArray(Bytes& out, const std::vector<std::string>& items) {
  std::vector<Bytes> elements;
  elements.reserve(items.size());
  for (const std::string& s : items) {
    const std::string units = Utf8ToUtf16Le(s);
    elements.emplace_back(units.begin(), units.end());
  }
  PutArray(out, sistype::String, elements);
}
void PutU32Field(Bytes& out, std::uint32_t type, std::uint32_t v) {
  PutFieldHeader(out, type, 4);
  PutU32(out, v);
}
void PutArray(Bytes& out, std::uint32_t elementType, const std::vector<Bytes>& elements) {
  std::uint64_t length = 4;
  for (const Bytes& e : elements) length += ElementSize(e.size());
  PutFieldHeader(out, sistype::Array, length);
  PutU32(out, elementType);
  for (const Bytes& e : elements) PutElement(out, e);
}

namespace {
std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    auto crc = static_cast<std::uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
    table[i] = crc;
  }
  return table;
}
}  // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::size_t n, std::uint16_t crc) {
  static const std::array<std::uint16_t, 256> kTable = MakeCrcTable();
  for (std::size_t i = 0; i < n; ++i)
    crc = static_cast<std::uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}


std::uint32_t Word(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Reads a length part at `at` (4 or 8 bytes) within `end`; false when it does not fit.
bool ReadLength(const Bytes& b, std::size_t at, std::size_t end, std::uint64_t& length, std::size_t& width) {
  if (at + 4 > end) return false;
  const std::uint32_t first = Word(b, at);
  width = 4;
  length = first;
  if (first & 0x80000000u) {
    if (at + 8 > end) return false;
    length = (first & 0x7FFFFFFFu) + (static_cast<std::uint64_t>(Word(b, at + 4)) << 31);
    width = 8;
  }
  return true;
}

bool ReadRawField(const Bytes& b, std::size_t at, std::size_t end, RawField& f) {
  std::size_t width = 0;
  if (at + 4 > end) return false;
  f.type = Word(b, at);
  if (!ReadLength(b, at + 4, end, f.length, width)) return false;
  f.value = at + 4 + width;
  if (f.length > end - f.value) return false;
  f.next = std::min<std::size_t>(end, f.value + static_cast<std::size_t>(Padded(f.length)));
  return true;
}

std::uint32_t UidChecksum(std::uint32_t uid1, std::uint32_t uid2, std::uint32_t uid3) {
  Bytes b;
  PutU32(b, uid1);
  PutU32(b, uid2);
  PutU32(b, uid3);
  std::uint8_t even[6], odd[6];
  for (int i = 0; i < 6; ++i) {
    even[i] = b[static_cast<std::size_t>(2 * i)];
    odd[i] = b[static_cast<std::size_t>(2 * i + 1)];
  }
  return Crc16(even, 6) | static_cast<std::uint32_t>(Crc16(odd, 6)) << 16;
}

}  // namespace tarvik::writer
