#pragma once
// zlib inflation with the declared-size check every reader needs.

#include <cstddef>
#include <cstdint>

#include "bytes/file_buffer.hpp"

namespace tarvik {

// zlib status codes that the program tells apart.
namespace zstatus {
enum : int { Ok = 0, DataError = -3, MemError = -4, BufError = -5 };
}

// Largest output that `compressedSize` bytes of deflate data can honestly give: deflate
// cannot expand more than about 1032:1, so anything beyond 1032 x compressed + 1 KiB is
// corrupt input.
std::uint64_t MaxInflatedSize(std::uint64_t compressedSize);

// Inflates a zlib stream into `out`, whose size becomes what zlib produced. `declaredSize`
// is the size the container announces; it is checked against MaxInflatedSize before
// anything is allocated (DataError when it cannot be true). Returns the zlib status: Ok,
// DataError, MemError or BufError (the output did not fit in `declaredSize` bytes).
int Uncompress(const std::uint8_t* src, std::size_t srcLen, std::uint64_t declaredSize, Bytes& out);

// Deflates `src` into a zlib stream (zlib's compress at the default level).
int Compress(const std::uint8_t* src, std::size_t srcLen, Bytes& out);

}  // namespace tarvik
