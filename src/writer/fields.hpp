#pragma once
// The bytes of 9.x fields: little-endian words, field and array-element headers (with the
// 63-bit length form where a length needs it), padding, strings, and the CRC-16 of the
// checksum fields.

#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::writer {

using Bytes = std::vector<std::uint8_t>;

void PutU8(Bytes& out, std::uint32_t v);
void PutU16(Bytes& out, std::uint32_t v);
void PutU32(Bytes& out, std::uint32_t v);
void PutU64(Bytes& out, std::uint64_t v);
void PutPadding(Bytes& out);
void PutLength(Bytes& out, std::uint64_t length);  // 4 bytes, or 8 from 2^31 on
inline std::uint64_t LengthSize(std::uint64_t length) { return length < 0x80000000u ? 4 : 8; }
inline std::uint64_t Padded(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }
// Bytes of a whole field (type, length, value, padding) of a value of `length` bytes.
inline std::uint64_t FieldSize(std::uint64_t length) { return 4 + LengthSize(length) + Padded(length); }
inline std::uint64_t ElementSize(std::uint64_t length) { return LengthSize(length) + Padded(length); }

// Type and length of a field whose value follows.
void PutFieldHeader(Bytes& out, std::uint32_t type, std::uint64_t length);
// A whole field.
void PutField(Bytes& out, std::uint32_t type, const Bytes& value);
// An array element (length, value, padding).
void PutElement(Bytes& out, const Bytes& value);
void PutString(Bytes& out, const std::string& utf8);
void PutStringArray(Bytes& out, const std::vector<std::string>& items);
void PutU32Field(Bytes& out, std::uint32_t type, std::uint32_t v);
// An array field of elements already made.
void PutArray(Bytes& out, std::uint32_t elementType, const std::vector<Bytes>& elements);

// A field read back: its type and length, where its value starts and where the next one does.
struct RawField {
  std::uint32_t type = 0;
  std::uint64_t length = 0;
  std::size_t value = 0;
  std::size_t next = 0;  // after the padding
};
std::uint32_t Word(const Bytes& b, std::size_t at);  // at + 4 <= b.size()
// Reads a length part at `at` (4 or 8 bytes) before `end`; false when it does not fit.
bool ReadLength(const Bytes& b, std::size_t at, std::size_t end, std::uint64_t& length, std::size_t& width);
// Reads the field at `at` that must end by `end`; false when it does not fit.
bool ReadRawField(const Bytes& b, std::size_t at, std::size_t end, RawField& f);

// CRC-16/XMODEM, continued from `crc`.
std::uint16_t Crc16(const std::uint8_t* data, std::size_t n, std::uint16_t crc = 0);
// The UID checksum of the three UIDs (the first 12 bytes of a package).
std::uint32_t UidChecksum(std::uint32_t uid1, std::uint32_t uid2, std::uint32_t uid3);

}  // namespace tarvik::writer
