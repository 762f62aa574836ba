#pragma once
// zlib inflation with the declared-size check every reader needs.

#include <cstddef>
#include <cstdint>
#include <functional>

#include <string>

#include "bytes/file_buffer.hpp"

namespace tarvik {

// zlib status codes that the program tells apart.
namespace zstatus {
enum : int { Ok = 0, DataError = -3, MemError = -4, BufError = -5, Stopped = -100 };
}

// The message for a zlib status the program reports, after `prefix` ("Extraction Error: ",
// "Internal Error: "); empty for Ok and for statuses that have none.
std::string InflateMessage(int status, const std::string& prefix);

// Receives each piece of inflated output; false stops the inflation.
using InflateSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

// A zlib inflate stream kept for many inflations (one extraction), so that each file costs
// a reset rather than zlib's allocations of a new stream.
class InflateStream {
 public:
  InflateStream();
  ~InflateStream();
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  // The stream ready for a new input: zlib-wrapped, or raw deflate; nullptr when zlib could
  // not make it.
  void* Ready(bool raw);

 private:
  void* zs_ = nullptr;  // z_stream
  int mode_ = 0;        // 0: not made, 1: zlib-wrapped, 2: raw
};

// A sink that appends each piece to `out`; when memory runs out it sets `noMemory` and
// stops the inflation.
InflateSink AppendTo(Bytes& out, bool& noMemory);

struct InflateOptions {
  // The caller checks the whole output against a stronger hash: the stream's Adler-32 is
  // not computed (its header is still checked, and its 4-byte trailer must be present).
  bool skipAdler = false;
  // Called with the input bytes consumed since the last call, at least every
  // `progressStep` bytes and once at the end.
  std::function<void(std::uint64_t)> progress;
  std::uint64_t progressStep = 8u << 20;
  // Checked between pieces: true stops the inflation (status Stopped).
  std::function<bool()> cancelled;
  // A stream to reuse; without one, a stream is made for this inflation.
  InflateStream* stream = nullptr;
  // Output is handed on in pieces of at most this many bytes.
  std::size_t pieceSize = 256 * 1024;
};

// The one inflate loop: inflates a zlib stream of at most `declaredSize` bytes, handing the
// output to `sink` in pieces, so that any size needs no more memory than one piece. The
// declared size is checked against MaxInflatedSize first. Returns Ok only for a complete
// stream; BufError when the stream holds more than declared; Stopped when the sink or the
// cancel check stopped it.
int InflateTo(const std::uint8_t* src, std::size_t srcLen, std::uint64_t declaredSize, const InflateSink& sink,
              const InflateOptions& options = {});

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
