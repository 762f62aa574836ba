#include "parse/parse.hpp"

#include "bytes/file_buffer.hpp"
#include "sis9/parser.hpp"
#include "sis_old/parser.hpp"

namespace tarvik {

namespace {

// UID 3 of every pre-9.x package.
constexpr std::uint32_t kPre9Uid3 = 0x10000419;
constexpr Pos kUid3At = 8;
// UID 1 of every whole 9.x package, and the type of the controller field a stub begins with.
constexpr std::uint32_t kSis9Uid1 = 0x10201A7A;
constexpr std::uint32_t kControllerType = 0x0D;

// The name after the last separator of either kind.
std::string FileName(const std::string& path) {
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

model::Generation Identify(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return model::Generation::Unknown;
  std::uint32_t uid3 = 0;
  if (ReadU32(ByteView(bytes), kUid3At, uid3) && uid3 == kPre9Uid3) return model::Generation::Pre9;
  return model::Generation::Sis9;
}

bool LooksLikePackage(std::span<const std::uint8_t> head) {
  const ByteView b(head);
  std::uint32_t first = 0, second = 0, uid3 = 0;
  if (ReadU32(b, 0, first) && first == kSis9Uid1) return true;
  if (ReadU32(b, kUid3At, uid3) && uid3 == kPre9Uid3) return true;
  // A stub: a controller field from byte 0 whose length word (31-bit form) is not 0.
  return first == kControllerType && ReadU32(b, 4, second) && second != 0;
}

model::Package Parse(std::span<const std::uint8_t> bytes, const std::string& name) {
  const std::string fileName = FileName(name);
  switch (Identify(bytes)) {
    case model::Generation::Pre9: return sis_old::ParsePackage(bytes, fileName);
    case model::Generation::Sis9: return sis9::ParsePackage(bytes, fileName);
    case model::Generation::Unknown: break;
  }
  model::Package empty;
  empty.name = fileName;
  return empty;
}

}  // namespace tarvik
