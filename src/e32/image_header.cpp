#include "e32/image_header.hpp"

#include <algorithm>
#include <string_view>

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

// A little-endian half-word at `at`, or nothing when it does not lie wholly inside `bytes`.
std::optional<std::uint16_t> Half(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < 2) return std::nullopt;
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
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

namespace {

// PE layout: the offset of the PE signature at 0x3C; after the signature the COFF header
// (section count at +6, optional header size at +20, 24 bytes with the signature); then the
// section table, 40 bytes a section: name (8), virtual size, address, raw size, raw offset.
constexpr std::size_t kPeOffsetWord = 0x3C, kCoffBytes = 24, kSectionBytes = 40;
constexpr std::size_t kMostPeOffset = 1u << 20, kMostSections = 96;
// Bytes of the Symbian section read: UID1-3, priority, SID, VID, two capability words.
constexpr std::size_t kSymbianSectionBytes = 32;

struct Section {
  bool found = false, wins = false;  // wins: the older ".E32_UID" section (UIDs only)
  std::uint32_t rawOffset = 0, rawSize = 0;
};

// The Symbian section of the PE file whose section table `table` is (`count` entries).
Section FindSymbianSection(std::span<const std::uint8_t> table, std::size_t count) {
  Section s;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = i * kSectionBytes;
    if (at + kSectionBytes > table.size()) break;
    const std::string_view name(reinterpret_cast<const char*>(table.data() + at), 8);
    const bool winscw = name == std::string_view(".SYMBIAN", 8);
    const bool wins = name.substr(0, 8) == std::string_view(".E32_UID", 8);
    if (!winscw && !wins) continue;
    s.found = true;
    s.wins = wins;
    s.rawSize = *Word(table, at + 16);
    s.rawOffset = *Word(table, at + 20);
    return s;
  }
  return s;
}

// Fills `e` from a PE file's Symbian section, when it has one.
void ReadSymbianSection(const ContentStart& start, std::size_t tableAt, std::size_t count, Executable& e) {
  const std::size_t tableEnd = tableAt + count * kSectionBytes;
  const auto table = start(tableEnd);
  if (table.size() < tableEnd) return;
  const Section s = FindSymbianSection(table.subspan(tableAt), count);
  if (!s.found || s.rawOffset >= kMostExecutableBytes) return;
  const std::size_t want = s.wins ? 12 : kSymbianSectionBytes;
  if (s.rawSize < want) return;
  const auto bytes = start(static_cast<std::size_t>(s.rawOffset) + want);
  if (bytes.size() < s.rawOffset + want) return;
  const auto section = bytes.subspan(s.rawOffset, want);
  ImageHeader& h = e.header;
  h.uid1 = *Word(section, 0);
  h.uid2 = *Word(section, 4);
  h.uid3 = *Word(section, 8);
  e.symbianSection = true;
  if (s.wins) return;
  h.format = Format::Eka2;
  h.headerFormat = 2;
  h.secureId = Word(section, 16);
  h.vendorId = Word(section, 20);
  h.capabilities = static_cast<std::uint64_t>(*Word(section, 28)) << 32 | *Word(section, 24);
}

// The emulator build that a PE file is; nothing when the PE signature is not where the MZ
// header says.
std::optional<Executable> ReadEmulatorBuild(const ContentStart& start) {
  const auto head = start(kPeOffsetWord + 4);
  const auto peAt = Word(head, kPeOffsetWord);
  if (!peAt || *peAt > kMostPeOffset) return std::nullopt;
  const auto coff = start(static_cast<std::size_t>(*peAt) + kCoffBytes);
  const auto signature = Word(coff, *peAt);
  if (!signature || *signature != 0x00004550u || coff.size() < *peAt + kCoffBytes) return std::nullopt;  // "PE\0\0"
  Executable e;
  e.emulator = true;
  e.header.format = Format::Eka1;
  const std::size_t count = std::min<std::size_t>(*Half(coff, *peAt + 6), kMostSections);
  const std::size_t tableAt = *peAt + kCoffBytes + *Half(coff, *peAt + 20);
  ReadSymbianSection(start, tableAt, count, e);
  return e;
}

}  // namespace

const char* CompressionName(std::uint32_t compression) {
  switch (compression) {
    case 0: return "none";
    case kDeflateCompression: return "deflate";
    case kBytePairCompression: return "bytepair";
    default: return nullptr;
  }
}

const char* FormatName(Format format) {
  switch (format) {
    case Format::Eka1: return "EKA1";
    case Format::Eka2: return "EKA2";
    case Format::Other: break;
  }
  return "later";
}

std::optional<Executable> ReadExecutable(const ContentStart& start) {
  const auto head = start(kHeaderBytes);
  if (head.size() >= 2 && head[0] == 'M' && head[1] == 'Z') return ReadEmulatorBuild(start);
  auto header = ReadImageHeader(start(kHeaderBytes));
  if (!header) return std::nullopt;
  Executable e;
  e.header = *header;
  return e;
}

std::optional<std::uint64_t> PackageCapabilities(std::span<const std::uint8_t> bytes) {
  const auto h = ReadImageHeader(bytes);
  if (!h || h->format != Format::Eka2) return std::nullopt;
  return h->capabilities;
}

}  // namespace tarvik::e32
