#pragma once
// Helpers that take real 9.x packages apart for hostile-input tests and benchmarks.

#include <cstdint>
#include <optional>
#include <vector>

#include "bytes/file_buffer.hpp"

namespace tarvik::test {

// Inflates the controller of a 9.x package file (header, SISContents, checksums,
// SISCompressed); nothing when the file is not such a package.
std::optional<Bytes> Controller(const Bytes& file);
// Positions of the length parts of the fields reachable by walking containers and arrays
// between `begin` and `end`.
void CollectLengths(ByteView b, Pos begin, Pos end, int depth, std::vector<Pos>& out);
// Writes a little-endian word, as far as it fits.
void Put32(Bytes& b, Pos at, std::uint32_t v);

}  // namespace tarvik::test
