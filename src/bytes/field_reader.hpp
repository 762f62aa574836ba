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

// Reads the field whose type part begins at `pos`; `ok` tells whether it ends at or before
// `limit`. A field that overruns `limit` is cut there, so that nested walks never read past
// their parent and never cover the same bytes twice.
Field ReadField(ByteView buffer, Pos pos, Pos limit);
// Reads an array element (length part, then value, no type part) at `pos`.
Field ReadElement(ByteView buffer, Pos pos, Pos limit);

// Decodes the length part at `pos`: sets `length` and `width` (4, or 8 in the 63-bit form).
// Bytes outside the buffer read as missing (a missing length reads as 0).
void DecodeLength(ByteView buffer, Pos pos, Pos& length, int& width);

// Decodes `ByteLength` bytes at `ByteOffset` as UTF-16LE text (unicode true) or as
// Windows-1252 single-byte text (unicode false), to UTF-8. An odd length takes its last code
// unit's high byte from the byte just after the range.
std::string GetText(ByteView buffer, Pos ByteOffset, Pos ByteLength, bool unicode);

// Rounds a position up to the next multiple of 4.
inline Pos AlignUp(Pos pos) {
  if (pos % 4 == 0 || pos > INT64_MAX - 4) return pos;
  return pos < 0 ? pos - pos % 4 : (pos / 4 + 1) * 4;
}

}  // namespace tarvik
