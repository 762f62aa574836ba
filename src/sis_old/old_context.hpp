#pragma once
// Reader state for one open of a pre-9.x package. Only the pre-9.x reader sees it.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "shell/app.hpp"

namespace tarvik::sis_old {

// Ends the open with the internal-error message: a count beyond a table's bounds, or a
// number from the file that does not fit where it is used.
struct InternalError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct OldContext {
  explicit OldContext(App& a) : app(a), buffer(a.buffer) {}

  App& app;
  const FileBuffer& buffer;

  std::int32_t languages = 0;  // N
  bool wide = false;           // names are UTF-16 (IUNICODE); otherwise Windows-1252
  bool release6Layout = false; // file records carry unpacked lengths and MIME fields
  std::string releaseText;
  std::string baseName;        // file name up to its first ".", blanks trimmed

  // Per language, in list order (index 0 is the last language of the file).
  std::vector<std::string> langCodes;
  std::vector<std::string> longNames;

  std::int32_t languageFileCounter = 0;  // running number of kind-1 language files

  // Decoded text is bounded so that names pointing again and again at large ranges
  // cannot exhaust memory.
  std::int64_t textBudget = 0;

  // Numeric field helpers: little-endian, bytes outside the buffer count as absent.
  std::uint32_t U32(Pos pos) const { return static_cast<std::uint32_t>(ReadLE(buffer, pos, 4)); }
  std::uint16_t U16(Pos pos) const { return static_cast<std::uint16_t>(ReadLE(buffer, pos, 2)); }

  // A 32-bit field that the reader uses as a signed position or length: values of 2^31 and
  // more do not fit.
  std::int32_t Int32(Pos pos) const {
    std::uint32_t v = U32(pos);
    if (v > 0x7FFFFFFFu) throw InternalError("value does not fit");
    return static_cast<std::int32_t>(v);
  }

  // Text of a (length, offset) pair of fields.
  std::string Text(Pos lengthField, Pos offsetField, bool wideText) {
    std::int32_t len = Int32(lengthField);
    std::int32_t off = Int32(offsetField);
    return TextAt(off, len, wideText);
  }
  std::string TextAt(std::int32_t off, std::int32_t len, bool wideText);
};

// "0x" and 8 upper-case hexadecimal digits.
std::string Hex8(std::uint32_t value);
// Drops the first `count` characters (code points) of UTF-8 text.
std::string DropChars(const std::string& text, std::size_t count);

// The record walk of the file, option and condition records; adds the body lines.
void WalkRecords(OldContext& ctx, Pos firstRecord, std::uint32_t recordCount);
// Reads an If or ElseIf record's expression of `size` bytes at `start` and returns the
// condition text.
std::string ConditionText(OldContext& ctx, Pos start, Pos size);

}  // namespace tarvik::sis_old
