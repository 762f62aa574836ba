#pragma once
// What an extraction would write, weighed before anything is written.
//
// Many file descriptions may point at one piece of data, so a small package can ask for far
// more output than its data could honestly give: deflate expands at most about 1032:1, so
// no more than 1032 times the package's size (MaxInflatedSize) can come out of it honestly.
// An extraction beyond that, or beyond the free space of the destination, is put to the
// person first.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "model/package.hpp"
#include "views/views.hpp"

namespace tarvik::extract {

struct Budget {
  std::uint64_t planned = 0;             // bytes the extraction would write
  std::uint64_t honest = 0;              // the most the package could honestly give
  std::optional<std::uint64_t> free;     // free bytes of the destination's file system
  bool TooMuch() const { return planned > honest || (free && planned > *free); }
  // The question put to the person when TooMuch (CR LF between its lines).
  std::string Question(const std::string& folder) const;
};

// The bytes each row would write (the rows that extraction would skip or refuse count
// nothing), and the destination's free space.
Budget PlanExtraction(ByteView package, model::Generation generation, const std::vector<views::FileRow>& rows,
                      const std::string& folder);

// A byte count as a person reads it: "1,234,567 bytes (1.2 MiB)".
std::string SizeText(std::uint64_t bytes);

}  // namespace tarvik::extract
