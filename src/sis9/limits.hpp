#pragma once
// Bounds of the 9.x readers.

namespace tarvik::sis9 {

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
