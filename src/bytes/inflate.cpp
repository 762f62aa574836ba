#include "bytes/inflate.hpp"

#include <zlib.h>

#include <limits>
#include <new>

namespace tarvik {

std::uint64_t MaxInflatedSize(std::uint64_t compressedSize) {
  constexpr std::uint64_t kLimit = std::numeric_limits<std::uint64_t>::max() / 2048;
  if (compressedSize > kLimit) return std::numeric_limits<std::uint64_t>::max();
  return compressedSize * 1032 + 1024;
}

int Uncompress(const std::uint8_t* src, std::size_t srcLen, std::uint64_t declaredSize, Bytes& out) {
  out.clear();
  if (declaredSize > MaxInflatedSize(srcLen) || declaredSize > std::numeric_limits<uLong>::max())
    return zstatus::DataError;
  const auto declared = static_cast<std::size_t>(declaredSize);
  // The output grows as zlib fills it, up to the declared size: a size that the input
  // merely claims never costs memory the stream does not produce.
  constexpr std::size_t kFirst = std::size_t{1} << 20;
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  try {
    out.resize(declared < kFirst ? declared : kFirst);
  } catch (const std::bad_alloc&) {
    out.clear();
    return zstatus::MemError;
  }
  // zlib's uncompress takes 32-bit lengths on some systems; inflate streams the whole range.
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return zstatus::MemError;
  zs.next_in = const_cast<Bytef*>(src);
  // zlib refuses a null output pointer even for an empty output: give it a byte to point at.
  Bytef spare = 0;
  zs.next_out = out.empty() ? &spare : out.data();
  std::size_t inLeft = srcLen;
  std::size_t given = 0;  // output bytes handed to zlib so far
  int status = Z_OK;
  while (true) {
    if (zs.avail_in == 0) {
      zs.avail_in = static_cast<uInt>(inLeft < kChunk ? inLeft : kChunk);
      inLeft -= zs.avail_in;
    }
    if (zs.avail_out == 0 && given < declared) {
      if (given == out.size()) {
        const std::size_t grown = out.size() > declared / 2 ? declared : out.size() * 2;
        try {
          out.resize(grown);
        } catch (const std::bad_alloc&) {
          status = Z_MEM_ERROR;
          break;
        }
      }
      const std::size_t room = out.size() - given;
      zs.next_out = out.data() + given;
      zs.avail_out = static_cast<uInt>(room < kChunk ? room : kChunk);
      given += zs.avail_out;
    }
    status = inflate(&zs, Z_NO_FLUSH);
    if (status == Z_STREAM_END) break;
    if (status == Z_NEED_DICT || status == Z_DATA_ERROR) {
      status = Z_DATA_ERROR;
      break;
    }
    if (status == Z_MEM_ERROR) break;
    if (status != Z_OK && status != Z_BUF_ERROR) {
      status = Z_DATA_ERROR;  // any other status would repeat for ever
      break;
    }
    // No progress possible: either the output is full or the input ran out.
    if (zs.avail_in == 0 && inLeft == 0) {
      status = Z_DATA_ERROR;  // the stream is cut short
      break;
    }
    if (zs.avail_out == 0 && given >= declared) {
      status = Z_BUF_ERROR;
      break;
    }
  }
  const std::size_t produced = static_cast<std::size_t>(zs.total_out);
  inflateEnd(&zs);
  if (status != Z_STREAM_END) {
    out.clear();
    if (status == Z_MEM_ERROR) return zstatus::MemError;
    if (status == Z_BUF_ERROR) return zstatus::BufError;
    return zstatus::DataError;
  }
  out.resize(produced);
  return zstatus::Ok;
}

int Compress(const std::uint8_t* src, std::size_t srcLen, Bytes& out) {
  uLongf len = compressBound(static_cast<uLong>(srcLen));
  out.resize(len);
  int status = compress(out.data(), &len, src, static_cast<uLong>(srcLen));
  if (status != Z_OK) {
    out.clear();
    return status;
  }
  out.resize(len);
  return zstatus::Ok;
}

}  // namespace tarvik
