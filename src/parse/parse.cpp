#include "parse/parse.hpp"

#include "bytes/file_buffer.hpp"
#include "sis9/parser.hpp"
#include "sis_old/parser.hpp"

namespace tarvik {

namespace {

// UID 3 of every pre-9.x package.
constexpr std::uint32_t kPre9Uid3 = 0x10000419;
constexpr Pos kUid3At = 8;

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
