#pragma once
// Reader for the header of an E32 executable image (the .exe and .dll files a package
// installs to \sys\bin\): UIDs, header format, compression, and for EKA2 images the secure
// ID, vendor ID and capabilities. Every read is bounds-checked; no I/O.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Compression names: "none", "deflate", "bytepair"; null for a value this reader does not know.
const char* CompressionName(std::uint32_t compression);
// "EKA1", "EKA2", "later".
const char* FormatName(Format format);

// An executable a package carries: an E32 image for a device, or an emulator build (a
// Windows PE file, WINSCW or WINS) that runs only on the PC emulator.
struct Executable {
  bool emulator = false;
  // The image header (E32 images; for emulator builds the fields their Symbian section
  // gives: UIDs, and for WINSCW builds SID, VID and capabilities; format EKA2 for those, EKA1
  // otherwise; no compression).
  ImageHeader header;
  // Emulator builds: the Symbian section was found and read (its fields are valid).
  bool symbianSection = false;
};

// The first `n` bytes of a file's content, or fewer when the file is shorter (or its
// bytes could not all be had). Called with growing sizes; what an earlier call gave may be
// invalid after the next.
using ContentStart = std::function<std::span<const std::uint8_t>(std::size_t n)>;

// The most of a file that ReadExecutable asks for: an emulator build's Symbian section is
// looked for no further into the file.
inline constexpr std::size_t kMostExecutableBytes = 16u << 20;

// The executable that a file's content is, or nothing when it is neither an E32 image
// ("EPOC" signature) nor a PE file ("MZ", then "PE\0\0" where word 0x3C points). Asks
// `start` for as little as it needs: the image header, or the PE headers, section table
// and Symbian section. Every read is bounds-checked.
std::optional<Executable> ReadExecutable(const ContentStart& start);

// The capability word a package records for the image: the capabilities of an EKA2 image,
// nothing for anything else.
std::optional<std::uint64_t> PackageCapabilities(std::span<const std::uint8_t> bytes);

}  // namespace tarvik::e32
