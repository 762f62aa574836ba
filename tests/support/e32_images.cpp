#include "support/e32_images.hpp"

#include <algorithm>
#include <cstring>

namespace tarvik::test {

namespace {

void Put(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4, 0);
  for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2, 0);
  b[at] = static_cast<std::uint8_t>(v);
  b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

}  // namespace

std::vector<std::uint8_t> E32Image(const ImageFields& f, std::size_t body) {
  std::vector<std::uint8_t> b(156, 0);
  Put(b, 0, f.uid1);
  Put(b, 4, f.uid2);
  Put(b, 8, f.uid3);
  std::memcpy(b.data() + 16, "EPOC", 4);
  Put(b, 28, f.headerFormat >= 1 ? f.compression : 0);
  Put(b, 44, f.headerFormat << 24);
  if (f.headerFormat >= 2) {
    Put(b, 128, f.sid);
    Put(b, 132, f.vid);
    Put(b, 136, static_cast<std::uint32_t>(f.caps));
    Put(b, 140, static_cast<std::uint32_t>(f.caps >> 32));
  }
  for (std::size_t i = 0; i < body; ++i) b.push_back(static_cast<std::uint8_t>(i * 7));
  return b;
}

std::vector<std::uint8_t> EmulatorBuild(const ImageFields& f, const std::string& sectionName, std::size_t textBytes) {
  constexpr std::size_t kPe = 0x80, kOptional = 0xE0;
  const std::size_t table = kPe + 24 + kOptional;
  const std::size_t sections = sectionName.empty() ? 1 : 2;
  const std::size_t textAt = 0x400, symbianAt = textAt + textBytes;
  std::vector<std::uint8_t> b(table + 40 * sections, 0);
  b[0] = 'M', b[1] = 'Z';
  Put(b, 0x3C, kPe);
  std::memcpy(b.data() + kPe, "PE\0\0", 4);
  Put16(b, kPe + 4, 0x14C);  // i386
  Put16(b, kPe + 6, static_cast<std::uint16_t>(sections));
  Put16(b, kPe + 20, kOptional);
  auto section = [&](std::size_t i, const char* name, std::size_t at, std::size_t size) {
    const std::size_t s = table + 40 * i;
    std::memcpy(b.data() + s, name, std::min<std::size_t>(8, std::strlen(name)));
    Put(b, s + 8, static_cast<std::uint32_t>(size));
    Put(b, s + 16, static_cast<std::uint32_t>(size));
    Put(b, s + 20, static_cast<std::uint32_t>(at));
  };
  section(0, ".text", textAt, textBytes);
  b.resize(symbianAt, 0x90);
  if (sectionName.empty()) return b;
  section(1, sectionName.c_str(), symbianAt, 32);
  Put(b, symbianAt, f.uid1);
  Put(b, symbianAt + 4, f.uid2);
  Put(b, symbianAt + 8, f.uid3);
  if (sectionName == ".SYMBIAN") {
    Put(b, symbianAt + 12, 350);  // priority
    Put(b, symbianAt + 16, f.sid);
    Put(b, symbianAt + 20, f.vid);
    Put(b, symbianAt + 24, static_cast<std::uint32_t>(f.caps));
    Put(b, symbianAt + 28, static_cast<std::uint32_t>(f.caps >> 32));
  } else {
    b.resize(symbianAt + 32, 0);
  }
  return b;
}

}  // namespace tarvik::test
