#pragma once
// Executables for fixtures: E32 image headers and emulator builds (PE files with a Symbian
// section), with the fields a test chooses.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvik::test {

struct ImageFields {
  std::uint32_t uid1 = 0x1000007A, uid2 = 0x100039CE, uid3 = 0xE0001234;
  std::uint32_t sid = 0xE0001234, vid = 0;
  std::uint64_t caps = 0;
  std::uint32_t headerFormat = 2;
  std::uint32_t compression = 0x101F7AFC;  // deflate
};

// An E32 image: the header (format and compression as given), then `body` bytes of code.
std::vector<std::uint8_t> E32Image(const ImageFields& f, std::size_t body = 64);

// A PE file as the emulator's tool chain makes it: MZ header, PE header, a ".text" section
// of `textBytes`, then the section `sectionName` (".SYMBIAN": UIDs, priority, SID, VID,
// capabilities; ".E32_UID": the UIDs), or no Symbian section when the name is empty.
std::vector<std::uint8_t> EmulatorBuild(const ImageFields& f, const std::string& sectionName = ".SYMBIAN",
                                        std::size_t textBytes = 512);

}  // namespace tarvik::test
