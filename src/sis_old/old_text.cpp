#include "sis_old/old_text.hpp"

#include <vector>

#include "bytes/encoding.hpp"

namespace tarvik::sis_old {

std::string DecodeText(ByteView bytes, std::int32_t offset, std::int32_t length, bool wide) {
  if (length <= 0) return {};
  const Pos begin = offset;
  const Pos end = static_cast<Pos>(offset) + length;
  if (wide) {
    // Code units as low, high byte pairs; a pair with one byte outside keeps the other.
    std::vector<std::uint8_t> units;
    // Only pairs that touch the view can contribute.
    Pos first = begin;
    if (first < -1) first += ((-1 - first) / 2) * 2;
    const Pos last = end < bytes.Size() + 1 ? end : bytes.Size() + 1;
    for (Pos p = first; p < last; p += 2) {
      const bool lowIn = bytes.Has(p);
      const bool highIn = bytes.Has(p + 1);
      if (!lowIn && !highIn) continue;
      if (lowIn && highIn) {
        units.push_back(bytes.At(p));
        units.push_back(bytes.At(p + 1));
      } else {
        units.push_back(lowIn ? bytes.At(p) : bytes.At(p + 1));
        units.push_back(0);
      }
    }
    return Utf16LeToUtf8(units.data(), units.size() / 2);
  }
  std::string out;
  const Pos from = begin < 0 ? 0 : begin;
  const Pos to = end > bytes.Size() ? bytes.Size() : end;
  for (Pos p = from; p < to; ++p) AppendUtf8(out, Cp1252ToUnicode(bytes.At(p)));
  return out;
}

}  // namespace tarvik::sis_old
