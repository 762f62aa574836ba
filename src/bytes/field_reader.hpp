#pragma once
// Reader for the typed fields of a 9.x package: type, length (31- or 63-bit form), value.

#include <cstdint>
#include <string>

#include "bytes/file_buffer.hpp"

namespace tarvik {

// Field type codes of the 9.x format.
namespace sistype {
enum : std::uint32_t {
  String = 0x01, Array = 0x02, Compressed = 0x03, Version = 0x04, VersionRange = 0x05,
  Date = 0x06, Time = 0x07, DateTime = 0x08, Uid = 0x09, Language = 0x0B, Contents = 0x0C,
  Controller = 0x0D, Info = 0x0E, SupportedLanguages = 0x0F, SupportedOptions = 0x10,
  Prerequisites = 0x11, Dependency = 0x12, Properties = 0x13, Property = 0x14,
  Signatures = 0x15, CertificateChain = 0x16, Logo = 0x17, FileDescription = 0x18,
  Hash = 0x19, If = 0x1A, ElseIf = 0x1B, InstallBlock = 0x1C, Expression = 0x1D,
  Data = 0x1E, DataUnit = 0x1F, FileData = 0x20, SupportedOption = 0x21,
  ControllerChecksum = 0x22, DataChecksum = 0x23, Signature = 0x24, Blob = 0x25,
  SignatureAlgorithm = 0x26, SignatureCertificateChain = 0x27, DataIndex = 0x28,
  Capabilities = 0x29,
};
// Stands for a type part that runs past the end of the buffer: it matches no type code.
constexpr std::uint32_t Truncated = 0xFFFFFFFFu;
}  // namespace sistype

// One field as laid out in a buffer: type, length part, value, padding.
struct Field {
  std::uint32_t type = sistype::Truncated;
  Pos start = 0;   // where the type part begins
  Pos index = 0;   // where the value begins
  Pos length = 0;  // value length as stored
  Pos end = 0;     // first byte after the value (cut at the limit when the field overruns it)
  Pos next = 0;    // where the next sibling begins (end rounded up to 4; always past `start`)
  bool ok = false; // the whole field lies before the limit it was read against
};

// Decodes the length part at `pos`: sets `length` and `width` (4, or 8 in the 63-bit form).
// Bytes outside the buffer read as missing (a missing length reads as 0).
inline void DecodeLength(ByteView buffer, Pos pos, Pos& length, int& width) {
  const std::uint64_t first = ReadWord(buffer, pos);
  if (first & 0x80000000u) {
    const std::uint64_t second = ReadWord(buffer, AddPos(pos, 4));
    // At most (2^31 - 1) + (2^32 - 1) * 2^31 = 2^63 - 1: always fits.
    length = static_cast<Pos>((first & 0x7FFFFFFFu) + (second << 31));
    width = 8;
  } else {
    length = static_cast<Pos>(first);
    width = 4;
  }
}

// Rounds a position up to the next multiple of 4.
inline Pos AlignUp(Pos pos) {
  if (pos % 4 == 0 || pos > INT64_MAX - 4) return pos;
  return pos < 0 ? pos - pos % 4 : (pos / 4 + 1) * 4;
}

namespace detail {
// Fills in where a field whose value begins at `f.index` ends, against `limit`.
inline Field FinishField(Field f, Pos limit) {
  f.end = AddPos(f.index, f.length);
  f.ok = f.end <= limit && f.index <= limit;
  if (!f.ok) f.end = f.index > limit ? f.index : limit;
  f.next = f.ok ? AlignUp(f.end) : limit;
  if (f.next <= f.start) f.next = f.start + 4;  // always move on
  return f;
}

// The common case of a field (`head` 8: type and length parts) or an array element (`head`
// 4: length part only): a 32-bit length part, the whole inside the buffer and the limit.
// False when it is not that case, which ReadCareful then takes.
[[gnu::always_inline]] inline bool WholeField(ByteView b, Pos pos, Pos limit, int head, Field& f) {
  if (pos < 0 || limit > b.Size() || pos > limit - head) return false;
  const std::uint8_t* p = b.Ptr(pos);
  const std::uint32_t length = LoadLE32(p + head - 4);
  if ((length & 0x80000000u) || static_cast<Pos>(length) > limit - pos - head) return false;
  f.start = pos;
  f.type = head == 8 ? LoadLE32(p) : 0;
  f.length = length;
  f.index = pos + head;
  f.end = f.index + length;
  f.next = (f.end + 3) & ~Pos{3};
  f.ok = true;
  return true;
}

// Any field or array element (`head` as for WholeField), read with every bound checked.
[[gnu::noinline]] inline Field ReadCareful(ByteView b, Pos pos, Pos limit, int head) {
  Field f;
  f.start = pos;
  if (head == 4) f.type = 0;
  std::uint32_t t = 0;
  if (pos < 0 || pos + head > limit || !ReadU32(b, pos, t)) {
    f.index = pos;
    f.end = f.next = limit > pos + 4 ? limit : pos + 4;
    f.ok = false;
    return f;
  }
  if (head == 8) f.type = t;
  int width = 4;
  DecodeLength(b, pos + head - 4, f.length, width);
  f.index = pos + head - 4 + width;
  return FinishField(f, limit);
}
}  // namespace detail

// Reads the field whose type part begins at `pos`; `ok` tells whether it ends at or before
// `limit`. A field that overruns `limit` is cut there, so that nested walks never read past
// their parent and never cover the same bytes twice.
[[gnu::always_inline]] inline Field ReadField(ByteView b, Pos pos, Pos limit) {
  Field f;
  if (detail::WholeField(b, pos, limit, 8, f)) return f;
  return detail::ReadCareful(b, pos, limit, 8);
}

// Reads an array element (length part, then value, no type part) at `pos`.
[[gnu::always_inline]] inline Field ReadElement(ByteView b, Pos pos, Pos limit) {
  Field f;
  if (detail::WholeField(b, pos, limit, 4, f)) return f;
  return detail::ReadCareful(b, pos, limit, 4);
}

// Decodes `ByteLength` bytes at `ByteOffset` as UTF-16LE text (unicode true) or as
// Windows-1252 single-byte text (unicode false), to UTF-8. An odd length takes its last code
// unit's high byte from the byte just after the range.
std::string GetText(ByteView buffer, Pos ByteOffset, Pos ByteLength, bool unicode);

}  // namespace tarvik
