#pragma once
// Reader for the header of an E32 executable image (the .exe and .dll files a package
// installs to \sys\bin\): UIDs, header format, compression, and for EKA2 images the secure
// ID, vendor ID and capabilities. Every read is bounds-checked; no I/O.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tarvik::e32 {

inline constexpr std::uint32_t kExecutableUid = 0x1000007A;
inline constexpr std::uint32_t kDllUid = 0x10000079;
inline constexpr std::uint32_t kDeflateCompression = 0x101F7AFC;
inline constexpr std::uint32_t kBytePairCompression = 0x102822AA;
// Bytes of the header that hold every field this reader takes (through the export
// description size): reading this much from a file is enough.
inline constexpr std::size_t kHeaderBytes = 156;

enum class Format : std::uint8_t {
  Eka1,  // header formats 0 and 1
  Eka2,  // header format 2
  Other, // a later header format this reader does not know
};

struct ImageHeader {
  std::uint32_t uid1 = 0, uid2 = 0, uid3 = 0, uidChecksum = 0;
  std::uint32_t headerFormat = 0;  // bits 24-27 of the flags word
  Format format = Format::Eka1;
  std::uint32_t compression = 0;   // 0 none; header format 1 and later
  std::optional<std::uint32_t> uncompressedSize;  // header format 1 and later
  // Header format 2 only, when the bytes are there.
  std::optional<std::uint32_t> secureId, vendorId;
  std::optional<std::uint64_t> capabilities;  // bit n is capability n
  std::optional<std::uint32_t> exportDescriptionSize;
  bool uidChecksumMatches = false;
};

// The header of the image that `bytes` begins with, or nothing when they do not begin with
// one (no "EPOC" signature, or too short for the signature). Fields that lie past the end
// of `bytes` stay absent.
std::optional<ImageHeader> ReadImageHeader(std::span<const std::uint8_t> bytes);

// The capability word a package records for the image: the capabilities of an EKA2 image,
// nothing for anything else.
std::optional<std::uint64_t> PackageCapabilities(std::span<const std::uint8_t> bytes);

}  // namespace tarvik::e32
