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

// True when the carried files of the pre-9.x package in the buffer are stored deflated:
// files of the release-6 record layout are zlib streams unless NOCOMPRESS (options bit 3) is
// set; files of the older layout are always stored as they are.
bool FilesAreDeflated(const FileBuffer& buffer);
// The release-6 record layout (unpacked lengths and MIME fields in every file record): the
// release-6 mark in UID 2, or an installer version of 200 or more.
bool Release6Layout(const FileBuffer& buffer);

}  // namespace tarvik::sis_old
