#pragma once
// Byte views and buffers, and the bounds-checked little-endian reads and hexadecimal text
// helpers that the parsers and views are built on.
//
// Positions are 0-based file offsets held in `Pos` (a signed 64-bit integer). Every read
// is bounds-checked: bytes outside the buffer contribute nothing, exactly as the readers
// expect, so no input can make a read go out of range.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

using Pos = std::int64_t;
using Bytes = std::vector<std::uint8_t>;

// Saturating addition for positions built from lengths read out of a file.
inline Pos AddPos(Pos a, Pos b) {
  constexpr Pos kMax = INT64_MAX;
  constexpr Pos kMin = INT64_MIN;
  if (b > 0 && a > kMax - b) return kMax;
  if (b < 0 && a < kMin - b) return kMin;
  return a + b;
}

// The bytes of a file as read into memory. Small files are held in a vector; large ones in
// storage that starts as zeros and costs memory only where bytes are written into it (an
// anonymous private mapping), so the holes of a sparse file, which are never read into it,
// cost nothing. Once filled, the storage is made read-only.
class FileBytes {
 public:
  // Storage of at least this size is mapped rather than allocated.
  static constexpr std::size_t kMappedFrom = 1u << 20;

  FileBytes() = default;
  FileBytes(Bytes bytes);  // NOLINT: bytes already in memory
  ~FileBytes();
  FileBytes(FileBytes&& other) noexcept;
  FileBytes& operator=(FileBytes&& other) noexcept;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;

  // `n` bytes of zeros to be filled; throws std::bad_alloc when no storage can be had.
  static FileBytes Zeroed(std::size_t n);

  // While filling: where the bytes go.
  std::uint8_t* Writable() { return data_; }
  // Keeps the first `n` bytes (a file that turned out shorter), and makes the storage
  // read-only.
  void Finish(std::size_t n);

  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::uint8_t* begin() const { return data_; }
  const std::uint8_t* end() const { return data_ + size_; }
  std::span<const std::uint8_t> Span() const { return {data_, size_}; }
  operator std::span<const std::uint8_t>() const { return Span(); }  // NOLINT: a view of the bytes
  // Whether the bytes are in mapped storage (for tests and measurements).
  bool Mapped() const { return mapped_ != 0; }

  // A part of the bytes, [from, to).
  struct Range {
    std::size_t from, to;
  };
  // While filling mapped storage: [from, to) now holds bytes of the file (in order).
  void AddData(std::size_t from, std::size_t to);
  // The parts that hold bytes read from the file, in order; the rest are holes, zeros never
  // written, that cost memory once read (on some systems even then): whoever goes over all
  // of the bytes (a digest of the whole file) takes the holes' zeros from elsewhere.
  std::vector<Range> DataRanges() const;

 private:
  void Release();

  Bytes vector_;
  std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t mapped_ = 0;  // the length of the mapping, 0 for none
  std::vector<Range> data_ranges_;  // mapped storage: where the file's bytes went
};

// A read-only view of bytes (a package file or an inflated controller) with bounds-checked
// access. Parsers read through it; it owns nothing.
class ByteView {
 public:
  ByteView() = default;
  ByteView(std::span<const std::uint8_t> bytes) : data_(bytes) {}  // NOLINT: a view of any bytes
  ByteView(const Bytes& bytes) : data_(bytes) {}                    // NOLINT
  ByteView(const FileBytes& bytes) : data_(bytes.Span()) {}         // NOLINT

  Pos Size() const { return static_cast<Pos>(data_.size()); }
  bool Has(Pos pos) const { return pos >= 0 && pos < Size(); }
  std::uint8_t At(Pos pos) const { return Has(pos) ? data_[static_cast<size_t>(pos)] : 0; }
  bool HasRange(Pos pos, Pos len) const { return pos >= 0 && len >= 0 && len <= Size() - pos; }
  const std::uint8_t* Ptr(Pos pos) const { return data_.data() + pos; }
  std::span<const std::uint8_t> Span() const { return data_; }

 private:
  std::span<const std::uint8_t> data_;
};

// Little-endian unsigned value of the bytes of [pos, pos + len) that lie inside the buffer,
// the lowest one inside taken as the least significant (a field cut by the end of the file
// reads as the bytes it still has). `len` is at most 8.
std::uint64_t ReadLEPartial(ByteView buffer, Pos pos, int len);
inline std::uint64_t ReadLE(ByteView buffer, Pos pos, int len) {
  if (len > 0 && len <= 8 && buffer.HasRange(pos, len)) {
    // The common case: every byte is inside.
    const std::uint8_t* p = buffer.Ptr(pos);
    std::uint64_t v = 0;
    for (int k = len - 1; k >= 0; --k) v = v << 8 | p[k];
    return v;
  }
  return ReadLEPartial(buffer, pos, len);
}
// Reads a whole little-endian word; false (and `out` 0) when any byte is outside.
bool ReadU16(ByteView buffer, Pos pos, std::uint16_t& out);
// The little-endian word at `p` (four bytes the caller knows are there).
inline std::uint32_t LoadLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline bool ReadU32(ByteView buffer, Pos pos, std::uint32_t& out) {
  if (!buffer.HasRange(pos, 4)) {
    out = 0;
    return false;
  }
  out = LoadLE32(buffer.Ptr(pos));
  return true;
}
// A 32-bit little-endian word; the bytes outside the buffer read as missing, as in ReadLE.
inline std::uint32_t ReadWord(ByteView buffer, Pos pos) {
  std::uint32_t v = 0;
  if (ReadU32(buffer, pos, v)) return v;
  return static_cast<std::uint32_t>(ReadLEPartial(buffer, pos, 4));
}

// The value of up to 16 hexadecimal digits (either case; no text is 0); nothing when the
// text holds anything else.
std::optional<std::uint64_t> HexValue(std::string_view text);

// Decimal text of a whole number: plain digits below 10^15, otherwise one digit, a point,
// up to 14 further digits, "E+" and the exponent (1.84467440737096E+19).
std::string NumText(double value);
// Upper-case hexadecimal text without leading zeros ("0" for zero).
std::string HexText(std::uint64_t value);
// Exactly `digits` upper-case hexadecimal digits (the low ones when the value is wider).
std::string HexText(std::uint64_t value, int digits);

}  // namespace tarvik
