#include "bytes/field_reader.hpp"

#include <algorithm>

#include "bytes/encoding.hpp"

namespace tarvik {

std::string GetText(ByteView buffer, Pos ByteOffset, Pos ByteLength, bool unicode) {
  if (ByteLength <= 0) return {};
  const Pos lo = std::max<Pos>(ByteOffset, 0);
  if (!unicode) {
    const Pos hi = std::min<Pos>(AddPos(ByteOffset, ByteLength), buffer.Size());
    if (hi <= lo) return {};
    return Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(buffer.Ptr(lo)), static_cast<size_t>(hi - lo)));
  }
  // The common case: whole units inside the buffer, copied straight across when all of them
  // are ASCII.
  if (ByteLength % 2 == 0 && buffer.HasRange(ByteOffset, ByteLength)) {
    const std::uint8_t* p = buffer.Ptr(ByteOffset);
    const auto n = static_cast<std::size_t>(ByteLength / 2);
    unsigned wide = 0;
    for (std::size_t i = 0; i < n; ++i) wide |= p[2 * i + 1] | (p[2 * i] & 0x80u);
    if (wide == 0) {
      std::string out(n, '\0');
      for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(p[2 * i]);
      return out;
    }
    return Utf16LeToUtf8(p, n);
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
