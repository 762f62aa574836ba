#include "bytes/inflate.hpp"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>
#include <vector>

namespace tarvik {

namespace {

// zlib counts input in 32-bit units.
constexpr std::size_t kInStep = std::size_t{1} << 30;

// The two-byte head of a zlib stream: deflate, a window zlib accepts, no preset dictionary,
// and the check bits.
bool ZlibHeaderOk(const std::uint8_t* src, std::size_t len) {
  if (len < 2) return false;
  const unsigned cmf = src[0];
  const unsigned flg = src[1];
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && (flg & 0x20) == 0;
}

}  // namespace

InflateStream::InflateStream() = default;

InflateStream::~InflateStream() {
  if (zs_) {
    auto* zs = static_cast<z_stream*>(zs_);
    if (mode_ != 0) inflateEnd(zs);
    delete zs;
  }
}

void* InflateStream::Ready(bool raw) {
  if (!zs_) zs_ = new (std::nothrow) z_stream{};
  if (!zs_) return nullptr;
  auto* zs = static_cast<z_stream*>(zs_);
  const int want = raw ? 2 : 1;
  const int bits = raw ? -MAX_WBITS : MAX_WBITS;
  if (mode_ == 0) {
    if (inflateInit2(zs, bits) != Z_OK) return nullptr;
  } else if (inflateReset2(zs, bits) != Z_OK) {
    return nullptr;
  }
  mode_ = want;
  return zs;
}

std::uint64_t MaxInflatedSize(std::uint64_t compressedSize) {
  constexpr std::uint64_t kLimit = std::numeric_limits<std::uint64_t>::max() / 2048;
  if (compressedSize > kLimit) return std::numeric_limits<std::uint64_t>::max();
  return compressedSize * 1032 + 1024;
}

std::string InflateMessage(int status, const std::string& prefix) {
  switch (status) {
    case zstatus::BufError: return prefix + "Buffer to small";
    case zstatus::MemError: return prefix + "Insufficient memory";
    case zstatus::DataError: return prefix + "Input file corrupted  ";
    default: return {};
  }
}

int InflateTo(const std::uint8_t* src, std::size_t srcLen, std::uint64_t declared, const InflateSink& sink,
              const InflateOptions& options) {
  if (declared > MaxInflatedSize(srcLen)) return zstatus::DataError;
  static const std::uint8_t kNothing = 0;
  if (!src) src = &kNothing;
  std::size_t skip = 0;
  if (options.skipAdler) {
    if (!ZlibHeaderOk(src, srcLen)) return zstatus::DataError;
    skip = 2;
  }
  InflateStream own;
  InflateStream& stream = options.stream ? *options.stream : own;
  auto* made = static_cast<z_stream*>(stream.Ready(options.skipAdler));
  if (!made) return zstatus::MemError;
  z_stream& zs = *made;
  zs.avail_in = 0;
  std::vector<std::uint8_t> piece;
  try {
    piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(options.pieceSize, declared + 1)));
  } catch (const std::bad_alloc&) {
    return zstatus::MemError;
  }
  zs.next_in = const_cast<Bytef*>(src + skip);
  std::size_t inLeft = srcLen - skip;
  std::uint64_t produced = 0;
  std::uint64_t consumedShown = 0;
  int result = zstatus::DataError;
  while (true) {
    if (options.cancelled && options.cancelled()) {
      result = zstatus::Stopped;
      break;
    }
    if (zs.avail_in == 0 && inLeft > 0) {
      zs.avail_in = static_cast<uInt>(std::min(inLeft, kInStep));
      inLeft -= zs.avail_in;
    }
    // Room for one byte beyond the declared size shows an overlong stream.
    const std::uint64_t room = declared - produced + 1;
    const auto give = static_cast<uInt>(std::min<std::uint64_t>(piece.size(), room));
    zs.next_out = piece.data();
    zs.avail_out = give;
    const uInt inBefore = zs.avail_in;
    const int st = inflate(&zs, Z_NO_FLUSH);
    const std::size_t got = give - zs.avail_out;
    if (got > 0) {
      produced += got;
      if (produced > declared) {
        result = zstatus::BufError;
        break;
      }
      if (!sink(piece.data(), got)) {
        result = zstatus::Stopped;
        break;
      }
    }
    const std::uint64_t consumed = srcLen - inLeft - zs.avail_in;
    if (options.progress && consumed - consumedShown >= options.progressStep) {
      options.progress(consumed - consumedShown);
      consumedShown = consumed;
    }
    if (st == Z_STREAM_END) {
      // A raw stream ends at its last block: the 4-byte trailer must follow it.
      result = (options.skipAdler && zs.avail_in + inLeft < 4) ? zstatus::DataError : zstatus::Ok;
      break;
    }
    if (st == Z_MEM_ERROR) {
      result = zstatus::MemError;
      break;
    }
    if (st != Z_OK && st != Z_BUF_ERROR) break;  // corrupt data, a preset dictionary, ...
    // No progress at all: the stream is cut short.
    if (got == 0 && zs.avail_in == inBefore) break;
  }
  if (options.progress) options.progress(srcLen - consumedShown);
  return result;
}

InflateSink AppendTo(Bytes& out, bool& noMemory) {
  return [&out, &noMemory](const std::uint8_t* data, std::size_t size) {
    try {
      out.insert(out.end(), data, data + size);
    } catch (const std::bad_alloc&) {
      noMemory = true;
      return false;
    }
    return true;
  };
}

int Uncompress(const std::uint8_t* src, std::size_t srcLen, std::uint64_t declaredSize, Bytes& out) {
  out.clear();
  if (declaredSize > MaxInflatedSize(srcLen) || declaredSize > std::numeric_limits<std::size_t>::max() / 2)
    return zstatus::DataError;
  // The output grows as zlib fills it: a size that the input merely claims never costs
  // memory the stream does not produce.
  bool noMemory = false;
  const int status = InflateTo(src, srcLen, declaredSize, AppendTo(out, noMemory));
  if (status == zstatus::Ok) return status;
  out.clear();
  out.shrink_to_fit();
  return noMemory ? zstatus::MemError : status;
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
