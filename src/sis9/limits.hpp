#pragma once
// Bounds of the 9.x readers.

#include <cstdint>

namespace tarvik::sis9 {

// Largest controller read. Real controllers are kilobytes to a few megabytes; one that
// declares more (deflate can turn a megabyte into a gigabyte of zeros) is reported and left
// unread rather than costing its size in memory and on disk.
inline constexpr std::uint64_t kMaxControllerSize = std::uint64_t{128} << 20;

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
