#pragma once
// Session files (.qsd), and PKG and text files.
//
// A session file is a 12-byte header ("QSD", the payload length as 8 upper-case hexadecimal
// digits, the package kind "0" or "1") followed by a zlib stream. The payload holds the
// record text two bytes per character: the character's Windows-1252 code plus 20, then a
// zero byte. The record text is "Brimond030000", a directory of six entries (4 hexadecimal
// digits of length, 4 of 1-based position), six items, and the PKG text.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "bytes/file_buffer.hpp"

namespace tarvik::project {

inline constexpr const char* kSessionMagic = "QSD";
inline constexpr const char* kRecordMagic = "Brimond030000";
inline constexpr std::size_t kFirstItemPos = 62;
inline constexpr int kShift = 20;
inline constexpr const char* kItemUnnamed = "Unnamed";
inline constexpr const char* kItemPre9 = "Pre Symbian 9.x SIS File";
inline constexpr const char* kItem9 = "Symbian 9.x SIS File";
inline constexpr const char* kItemMaker = "Lindqvar Technology Inc.";


// The record text of a session (Windows-1252 bytes): magic, directory, the six items and the
// PKG text. Nothing when a directory value does not fit in its 4 digits.
std::optional<std::string> BuildRecordText(bool sis9, std::string_view carriedText,
                                           std::string_view timeText, std::string_view pkgText);
// The payload: every character's code + 20, then a zero byte. Codes above 235 do not fit;
// the caller checks them first.
Bytes EncodePayload(std::string_view recordText);

// The first character of UTF-8 `text` that a session cannot hold (not in Windows-1252, or
// with a code above 235), if any.
std::optional<char32_t> FirstUnsavableChar(std::string_view text);

// A message for the person: a failure (critical) or a warning.
struct Failure {
  std::string text;
  bool warning = false;
};

// Writes the session file `fileName` for `projectText` and `carriedText` (UTF-8), of the
// package kind `sis9` (9.x, or pre-9.x). Nothing when it was written; otherwise
// the message that says why nothing was.
std::optional<Failure> SaveProject(const std::string& fileName, const std::string& projectText,
                                   const std::string& carriedText, bool sis9);

// What reading a session file gave.
struct Session {
  // The package kind of the header, once the header was read (even when the rest fails).
  std::optional<bool> sis9;
  std::optional<std::string> error;  // the message when the file is no session this program reads
  std::string carriedText;
  std::string pkgText;
};
// Reads a session file from its bytes; `path` names it in messages. A long decode calls
// `pulse` now and then.
Session OpenProject(std::span<const std::uint8_t> file, const std::string& path,
                    const std::function<void()>& pulse = {});

// Writes a PKG or text file: Windows-1252 when every character fits, otherwise UTF-16LE
// with a byte-order mark. The old file is replaced only when the new one is complete.
bool SaveText(const std::string& fileName, std::string_view text);

}  // namespace tarvik::project
