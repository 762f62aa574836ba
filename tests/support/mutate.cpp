#include "support/mutate.hpp"

#include <algorithm>

#include "bytes/field_reader.hpp"
#include "bytes/inflate.hpp"

namespace tarvik::test {

std::optional<Bytes> Controller(const Bytes& file) {
  const ByteView b(file);
  std::uint32_t uid1 = 0;
  if (!ReadU32(b, 0, uid1) || uid1 != 0x10201A7A) return std::nullopt;
  Field contents = ReadField(b, 16, b.Size());
  Pos pos = contents.index;
  for (int k = 0; k < 4 && pos < b.Size(); ++k) {
    Field f = ReadField(b, pos, b.Size());
    if (f.type == sistype::Compressed) {
      const auto algorithm = ReadLE(b, f.index, 4);
      const auto size = ReadLE(b, f.index + 4, 8);
      const Pos start = f.index + 12;
      const Pos len = std::min<Pos>(f.length - 12, b.Size() - start);
      if (len <= 0) return std::nullopt;
      if (algorithm == 0) return Bytes(b.Ptr(start), b.Ptr(start) + len);
      Bytes out;
      if (Uncompress(b.Ptr(start), static_cast<std::size_t>(len), size, out) != zstatus::Ok) return std::nullopt;
      return out;
    }
    pos = AlignUp(f.end);
  }
  return std::nullopt;
}

void CollectLengths(ByteView b, Pos begin, Pos end, int depth, std::vector<Pos>& out) {
  if (depth > 12) return;
  Pos pos = begin;
  while (pos + 8 <= end) {
    std::uint32_t type = 0;
    ReadU32(b, pos, type);
    if (type == 0 || type > 0x29) return;  // packed members, not fields
    Field f = ReadField(b, pos, end);
    if (!f.ok) return;
    out.push_back(pos + 4);
    switch (type) {
      case sistype::Array: case sistype::SupportedLanguages: case sistype::SupportedOptions:
      case sistype::Properties: case sistype::Data: case sistype::DataUnit: case sistype::SupportedOption: {
        // Array: element type, then length + value elements.
        std::uint32_t elementType = 0;
        ReadU32(b, f.index, elementType);
        Pos e = f.index + 4;
        while (e + 4 <= f.end) {
          Pos len = 0;
          int width = 4;
          DecodeLength(b, e, len, width);
          if (len < 0 || AddPos(e + width, len) > f.end) break;
          out.push_back(e);
          if (elementType != sistype::String) CollectLengths(b, e + width, e + width + len, depth + 1, out);
          e = AlignUp(e + width + len);
        }
        break;
      }
      case sistype::String: case sistype::Uid: case sistype::Language: case sistype::Version:
      case sistype::Date: case sistype::Time: case sistype::Property: case sistype::Blob:
      case sistype::Compressed: case sistype::Capabilities: case sistype::DataIndex:
      case sistype::ControllerChecksum: case sistype::DataChecksum:
        break;
      default:
        CollectLengths(b, f.index, f.end, depth + 1, out);
    }
    pos = AlignUp(f.end);
  }
}

void Put32(Bytes& b, Pos at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k)
    if (at + k < static_cast<Pos>(b.size())) b[static_cast<size_t>(at + k)] = static_cast<std::uint8_t>(v >> (8 * k));
}


}  // namespace tarvik::test
