#include "bytes/file_buffer.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <new>
#include <utility>

namespace tarvik {

FileBytes::FileBytes(Bytes bytes)
    : vector_(std::move(bytes)), data_(vector_.data()), size_(vector_.size()) {}

FileBytes::~FileBytes() { Release(); }

FileBytes::FileBytes(FileBytes&& other) noexcept { *this = std::move(other); }

FileBytes& FileBytes::operator=(FileBytes&& other) noexcept {
  if (this == &other) return *this;
  Release();
  vector_ = std::move(other.vector_);
  data_ = other.mapped_ ? other.data_ : vector_.data();
  size_ = other.size_;
  mapped_ = other.mapped_;
  data_ranges_ = std::move(other.data_ranges_);
  other.vector_.clear();
  other.data_ranges_.clear();
  other.data_ = nullptr;
  other.size_ = other.mapped_ = 0;
  return *this;
}

void FileBytes::Release() {
  if (mapped_) ::munmap(data_, mapped_);
  vector_.clear();
  data_ranges_.clear();
  data_ = nullptr;
  size_ = mapped_ = 0;
}

FileBytes FileBytes::Zeroed(std::size_t n) {
  if (n < kMappedFrom) return FileBytes(Bytes(n));
  // Anonymous pages read as zeros and take memory only once written; no swap is reserved
  // for pages that may never be.
  void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  FileBytes out;
  out.data_ = static_cast<std::uint8_t*>(p);
  out.size_ = out.mapped_ = n;
  return out;
}

void FileBytes::AddData(std::size_t from, std::size_t to) {
  if (from < to) data_ranges_.push_back({from, to});
}

std::vector<FileBytes::Range> FileBytes::DataRanges() const {
  if (!mapped_) return size_ ? std::vector<Range>{{0, size_}} : std::vector<Range>{};
  std::vector<Range> out;
  for (const Range& r : data_ranges_)
    if (r.from < size_) out.push_back({r.from, std::min(r.to, size_)});
  return out;
}

void FileBytes::Finish(std::size_t n) {
  size_ = std::min(n, size_);
  if (!mapped_) {
    vector_.resize(size_);
    data_ = vector_.data();
    return;
  }
  ::mprotect(data_, mapped_, PROT_READ);
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

// The bytes of [pos, pos + len) that lie inside the buffer, the lowest one inside taken as
// the least significant.
std::uint64_t ReadLEPartial(ByteView buffer, Pos pos, int len) {
  std::uint64_t v = 0;
  int shift = 0;
  for (int k = 0; k < len && k < 8; ++k) {
    const Pos p = pos + k;
    if (!buffer.Has(p)) continue;
    v |= static_cast<std::uint64_t>(buffer.At(p)) << shift;
    shift += 8;
  }
  return v;
}

bool ReadU16(ByteView buffer, Pos pos, std::uint16_t& out) {
  if (!buffer.HasRange(pos, 2)) {
    out = 0;
    return false;
  }
  const std::uint8_t* p = buffer.Ptr(pos);
  out = static_cast<std::uint16_t>(p[0] | p[1] << 8);
  return true;
}

std::optional<std::uint64_t> HexValue(std::string_view text) {
  if (text.size() > 16) return std::nullopt;
  std::uint64_t sum = 0;
  for (char c : text) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    sum = sum * 16 + static_cast<std::uint64_t>(d);
  }
  return sum;
}

std::string NumText(double value) {
  if (!std::isfinite(value)) return "0";
  const double mag = std::fabs(value);
  char buf[64];
  if (mag < 1e15) {
    std::snprintf(buf, sizeof buf, "%.0f", value);
    std::string s = buf;
    if (s == "-0") s = "0";
    return s;
  }
  // Fifteen significant digits, trailing zeros of the fraction dropped.
  std::snprintf(buf, sizeof buf, "%.14E", value);
  std::string s = buf;  // d.ddddddddddddddE+XX
  const size_t e = s.find('E');
  std::string mant = s.substr(0, e);
  std::string exp = s.substr(e + 1);
  while (!mant.empty() && mant.back() == '0') mant.pop_back();
  if (!mant.empty() && mant.back() == '.') mant.pop_back();
  // Exponent without leading zeros beyond two digits, always signed.
  const char sign = exp[0];
  std::string digits = exp.substr(1);
  while (digits.size() > 2 && digits[0] == '0') digits.erase(0, 1);
  return mant + "E" + sign + digits;
}

std::string HexText(std::uint64_t value) {
  if (value == 0) return "0";
  std::string s;
  while (value) {
    s.insert(s.begin(), kHexDigits[value & 15]);
    value >>= 4;
  }
  return s;
}

std::string HexText(std::uint64_t value, int digits) {
  std::string s(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    s[static_cast<size_t>(i)] = kHexDigits[value & 15];
    value >>= 4;
  }
  return s;
}

}  // namespace tarvik
