#pragma once
// Testing a package's files without writing them: each file's bytes are read (inflated where
// stored deflated) and their SHA-1 compared with the one the package gives.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "extract/extract.hpp"
#include "views/views.hpp"

namespace tarvik::extract {

enum class Integrity : std::uint8_t {
  Match,     // the bytes are whole and their SHA-1 is the one the package gives
  Sound,     // the bytes are whole; the package gives no SHA-1 to compare (pre-9.x)
  Mismatch,  // the bytes are whole, but their SHA-1 is not the one the package gives
  Damaged,   // the bytes cannot be read: past the end of the package, or a broken stream
  NoData,    // the package carries no bytes for the file
};

// The word for an outcome, as the window's column and summary show it.
const char* IntegrityName(Integrity outcome);

struct IntegrityReport {
  std::vector<Integrity> outcomes;  // one per row tested, in order; fewer when cancelled
  bool cancelled = false;
  std::size_t Count(Integrity outcome) const;
  // One line: "12 files tested: 11 match their SHA-1, 1 does not match".
  std::string Summary() const;
};

// Tests every row of `rows` against `package`; `reporter` hears of the progress (bytes of
// package data read) and may cancel. Nothing is written and nothing is told.
IntegrityReport TestIntegrity(ByteView package, const std::vector<views::FileRow>& rows, Reporter& reporter);

// The first `limit` bytes of a file's content (inflated where stored deflated), for a
// preview; nothing when the package carries no sound bytes for it.
std::optional<Bytes> FileStart(ByteView package, const views::FileRow& row, std::size_t limit);

}  // namespace tarvik::extract
