#pragma once
// Text fields of pre-9.x packages: a (length, offset) pair names bytes of the file that are
// UTF-16LE text with IUNICODE and Windows-1252 text otherwise.

#include <cstdint>
#include <string>

#include "bytes/file_buffer.hpp"

namespace tarvik::sis_old {

// Decodes `length` bytes at `offset` as text (UTF-8 result). With `wide` the bytes are
// taken in pairs, low byte first, as UTF-16 code units (an odd length takes its last high
// byte from the byte after the range); otherwise one Windows-1252 character per byte.
// Bytes outside the view add nothing.
std::string DecodeText(ByteView bytes, std::int32_t offset, std::int32_t length, bool wide);

}  // namespace tarvik::sis_old
