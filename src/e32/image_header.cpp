#include "e32/image_header.hpp"

namespace tarvik::e32 {

namespace {

// A little-endian word at `at`, or nothing when it does not lie wholly inside `bytes`.
std::optional<std::uint32_t> Word(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 4) return std::nullopt;
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// CRC-16/XMODEM of every other byte of the three UIDs, starting at `first`.
std::uint16_t HalfCrc(std::span<const std::uint8_t> bytes, std::size_t first) {
  std::uint16_t crc = 0;
  for (std::size_t i = first; i < 12; i += 2) {
    crc ^= static_cast<std::uint16_t>(bytes[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

constexpr std::size_t kSignature = 16, kCompression = 28, kFlags = 44, kUncompressedSize = 124;
constexpr std::size_t kSecureId = 128, kVendorId = 132, kCapabilities = 136, kExportDescription = 152;

}  // namespace

std::optional<ImageHeader> ReadImageHeader(std::span<const std::uint8_t> bytes) {
  const auto signature = Word(bytes, kSignature);
  if (!signature || *signature != 0x434F5045u) return std::nullopt;  // "EPOC"
  ImageHeader h;
  h.uid1 = *Word(bytes, 0);
  h.uid2 = *Word(bytes, 4);
  h.uid3 = *Word(bytes, 8);
  h.uidChecksum = *Word(bytes, 12);
  h.uidChecksumMatches = h.uidChecksum == (HalfCrc(bytes, 0) | static_cast<std::uint32_t>(HalfCrc(bytes, 1)) << 16);
  const std::uint32_t flags = Word(bytes, kFlags).value_or(0);
  h.headerFormat = (flags >> 24) & 0xF;
  h.format = h.headerFormat <= 1 ? Format::Eka1 : h.headerFormat == 2 ? Format::Eka2 : Format::Other;
  if (h.headerFormat >= 1) {
    h.compression = Word(bytes, kCompression).value_or(0);
    h.uncompressedSize = Word(bytes, kUncompressedSize);
  }
  if (h.format == Format::Eka2) {
    h.secureId = Word(bytes, kSecureId);
    h.vendorId = Word(bytes, kVendorId);
    const auto low = Word(bytes, kCapabilities);
    const auto high = Word(bytes, kCapabilities + 4);
    if (low && high) h.capabilities = static_cast<std::uint64_t>(*high) << 32 | *low;
    h.exportDescriptionSize = Word(bytes, kExportDescription);
  }
  return h;
}

std::optional<std::uint64_t> PackageCapabilities(std::span<const std::uint8_t> bytes) {
  const auto h = ReadImageHeader(bytes);
  if (!h || h->format != Format::Eka2) return std::nullopt;
  return h->capabilities;
}

}  // namespace tarvik::e32
