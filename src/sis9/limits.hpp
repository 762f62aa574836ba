#pragma once
// Bounds of the 9.x readers.

#include <cstdint>

namespace tarvik::sis9 {

// Largest controller read. Real controllers are kilobytes to a few megabytes, and at most a
// few times the size of their package (deflate can turn a megabyte into a gigabyte of
// zeros): a controller larger than 1 MiB + 40 times its package, or than 128 MiB, is
// reported and left unread rather than costing its size in memory, time and disk.
inline constexpr std::uint64_t kMaxControllerSize = std::uint64_t{128} << 20;
inline constexpr std::uint64_t kControllerRatio = 40;
constexpr std::uint64_t ControllerCeiling(std::uint64_t packageSize) {
  const std::uint64_t relative = packageSize > (kMaxControllerSize / kControllerRatio)
                                     ? kMaxControllerSize
                                     : (std::uint64_t{1} << 20) + kControllerRatio * packageSize;
  return relative < kMaxControllerSize ? relative : kMaxControllerSize;
}

// Deepest nesting of embedded controllers, of install blocks (through condition blocks and
// embedded packages) and of expressions that the reader follows; anything deeper is
// reported as damaged.
inline constexpr int kMaxControllerDepth = 16;
inline constexpr int kMaxBlockDepth = 128;
inline constexpr int kMaxExpressionDepth = 64;

// Most signatures read from one signature field, and most certificates split out of one
// certificate chain; the rest of a longer list is left unread.
inline constexpr int kMaxSignatures = 64;
inline constexpr int kMaxCertificates = 64;

}  // namespace tarvik::sis9
