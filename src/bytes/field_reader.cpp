#include "bytes/field_reader.hpp"

#include <algorithm>

#include "bytes/encoding.hpp"

namespace tarvik {

void DecodeLength(ByteView buffer, Pos pos, Pos& length, int& width) {
  const std::uint64_t first = ReadLE(buffer, pos, 4);
  if (first & 0x80000000u) {
    const std::uint64_t second = ReadLE(buffer, AddPos(pos, 4), 4);
    // At most (2^31 - 1) + (2^32 - 1) * 2^31 = 2^63 - 1: always fits.
    length = static_cast<Pos>((first & 0x7FFFFFFFu) + (second << 31));
    width = 8;
  } else {
    length = static_cast<Pos>(first);
    width = 4;
  }
}

namespace {
Field Finish(Field f, Pos limit) {
  f.end = AddPos(f.index, f.length);
  f.ok = f.end <= limit && f.index <= limit;
  if (!f.ok) f.end = std::max<Pos>(f.index, limit);
  f.next = f.ok ? AlignUp(f.end) : limit;
  if (f.next <= f.start) f.next = f.start + 4;  // always move on
  return f;
}
}  // namespace

Field ReadField(ByteView b, Pos pos, Pos limit) {
  Field f;
  f.start = pos;
  std::uint32_t t = 0;
  if (pos < 0 || pos + 8 > limit || !ReadU32(b, pos, t)) {
    f.index = pos;
    f.end = f.next = std::max<Pos>(limit, pos + 4);
    f.ok = false;
    return f;
  }
  f.type = t;
  int width = 4;
  DecodeLength(b, pos + 4, f.length, width);
  f.index = pos + 4 + width;
  return Finish(f, limit);
}

Field ReadElement(ByteView b, Pos pos, Pos limit) {
  Field f;
  f.start = pos;
  f.type = 0;
  if (pos < 0 || pos + 4 > limit || !b.HasRange(pos, 4)) {
    f.index = pos;
    f.end = f.next = std::max<Pos>(limit, pos + 4);
    f.ok = false;
    return f;
  }
  int width = 4;
  DecodeLength(b, pos, f.length, width);
  f.index = pos + width;
  return Finish(f, limit);
}

std::string GetText(ByteView buffer, Pos ByteOffset, Pos ByteLength, bool unicode) {
  if (ByteLength <= 0) return {};
  const Pos lo = std::max<Pos>(ByteOffset, 0);
  if (!unicode) {
    const Pos hi = std::min<Pos>(AddPos(ByteOffset, ByteLength), buffer.Size());
    if (hi <= lo) return {};
    return Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(buffer.Ptr(lo)), static_cast<size_t>(hi - lo)));
  }
  // Code units start at ByteOffset; an odd length takes the high byte of its last unit from
  // just after the range. Units wholly outside the buffer add nothing; a unit whose high
  // byte is missing is its low byte alone.
  const Pos units = ByteLength / 2 + (ByteLength % 2);
  std::u16string codes;
  const Pos size = buffer.Size();
  Pos first = ByteOffset < 0 ? (-ByteOffset - 1) / 2 : 0;  // first unit with a byte inside
  for (Pos u = first; u < units; ++u) {
    const Pos p = ByteOffset + 2 * u;
    if (p >= size) break;
    const bool lowIn = buffer.Has(p);
    const bool highIn = buffer.Has(p + 1);
    if (!lowIn && !highIn) continue;
    char16_t c = 0;
    if (lowIn && highIn)
      c = static_cast<char16_t>(buffer.At(p) | buffer.At(p + 1) << 8);
    else
      c = static_cast<char16_t>(buffer.At(lowIn ? p : p + 1));
    codes.push_back(c);
  }
  return Utf16ToUtf8(codes);
}

}  // namespace tarvik
