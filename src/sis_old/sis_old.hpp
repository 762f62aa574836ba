#pragma once
// The pre-9.x (EPOC) package reader: header, languages, requisites, capabilities, the
// record walk (file, option and condition records) and the PKG script they make.

#include <cstdint>
#include <string>

#include "bytes/file_buffer.hpp"
#include "shell/app.hpp"

namespace tarvik::sis_old {

inline constexpr const char* kInternalError =
    "Internal Error: No file buffer to open, please shut down Tarvik and start again";
inline constexpr const char* kUnknownVersion = "Unknown SIS file version!";
inline constexpr const char* kReleaseOld = "EPOC relese 3,4 or 5";
inline constexpr const char* kRelease6 = "EPOC relese 6";
inline constexpr const char* kHeadBanner = ";<--------Pre Symbian 9.x SIS File-------->";

inline constexpr std::uint32_t kUidPre9 = 0x10000419;
inline constexpr std::uint32_t kUidRelease6 = 0x10003A12;
inline constexpr std::uint32_t kUidReleaseOld = 0x1000006D;

// Decodes `length` bytes at `offset` as text (UTF-8 result). With `wide` the bytes are
// taken in pairs, low byte first, as UTF-16 code units (an odd length takes its last high
// byte from the byte after the range); otherwise one Windows-1252 character per byte.
// Bytes outside the buffer add nothing.
std::string GetText2(const FileBuffer& buffer, std::int32_t offset, std::int32_t length, bool wide);

}  // namespace tarvik::sis_old
