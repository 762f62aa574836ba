#include "writer/output.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bytes/field_reader.hpp"

namespace tarvik::writer::detail {

namespace {
constexpr std::size_t kBuffer = 1 << 20;

// Reads the spool back through a window of 1 MiB: the files lie in it in the order they are
// written out, so small ones cost no read of their own.
class SpoolReader {
 public:
  explicit SpoolReader(const Spool& spool) : spool_(spool), window_(kBuffer) {}
  // Up to `want` bytes from `offset` (`got` of them); nullptr when the spool cannot be read.
  const std::uint8_t* At(std::uint64_t offset, std::uint64_t want, std::size_t& got) {
    if (offset < start_ || offset >= start_ + filled_) {
      const std::uint64_t left = spool_.size() > offset ? spool_.size() - offset : 0;
      filled_ = static_cast<std::size_t>(std::min<std::uint64_t>(window_.size(), left));
      start_ = offset;
      if (filled_ == 0 || !spool_.Read(offset, window_.data(), filled_)) {
        filled_ = 0;
        return nullptr;
      }
    }
    const std::size_t at = static_cast<std::size_t>(offset - start_);
    got = static_cast<std::size_t>(std::min<std::uint64_t>(want, filled_ - at));
    return window_.data() + at;
  }

 private:
  const Spool& spool_;
  std::vector<std::uint8_t> window_;
  std::uint64_t start_ = 0;
  std::size_t filled_ = 0;
};
}

Output::Output(const std::string& path, unsigned mode, std::function<void(const std::string& path, bool made)> tempFile)
    : path_(path), tempFile_(std::move(tempFile)) {
  const std::filesystem::path p(path);
  const std::string folder = p.parent_path().empty() ? "." : p.parent_path().string();
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temp_ = folder + "/.tarvik-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".part";
    fd_ = open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) error_ = std::strerror(errno);
  made_ = fd_ >= 0;
  if (made_ && tempFile_) tempFile_(temp_, true);
  buffer_.reserve(kBuffer);
}

Output::~Output() {
  if (fd_ >= 0) close(fd_);
  if (!made_) return;  // a name tried but not made belongs to someone else
  if (!committed_) unlink(temp_.c_str());
  if (tempFile_) tempFile_(temp_, false);
}

bool Output::Flush() {
  const std::uint8_t* d = buffer_.data();
  std::size_t n = buffer_.size();
  while (n > 0 && ok()) {
    const ssize_t w = write(fd_, d, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) error_ = std::strerror(errno);
    else d += w, n -= static_cast<std::size_t>(w);
  }
  buffer_.clear();
  return ok();
}

void Output::Put(const std::uint8_t* data, std::size_t n) {
  if (!ok()) return;
  size_ += n;
  if (buffer_.size() + n > kBuffer && !Flush()) return;
  if (n >= kBuffer) {
    buffer_.assign(data, data + n);
    Flush();
    return;
  }
  buffer_.insert(buffer_.end(), data, data + n);
}

void Output::PutAt(std::uint64_t offset, const Bytes& b) {
  if (!Flush()) return;
  if (pwrite(fd_, b.data(), b.size(), static_cast<off_t>(offset)) != static_cast<ssize_t>(b.size())) error_ = std::strerror(errno);
}

bool Output::Commit() {
  if (!Flush()) return false;
  if (close(fd_) != 0) error_ = std::strerror(errno);
  fd_ = -1;
  if (ok() && std::rename(temp_.c_str(), path_.c_str()) != 0) error_ = std::strerror(errno);
  committed_ = ok();
  return committed_;
}

DataLayout::DataLayout(const std::vector<StoredData>& files, const std::vector<Child>& children, bool noData)
    : files_(files), children_(children), noData_(noData) {
  for (const StoredData& f : files_) unitArray_ += ElementSize(writer::FieldSize(12 + f.length));
  if (!noData_) {
    unitsArray_ += ElementSize(writer::FieldSize(unitArray_));
    for (const Child& c : children_)
      for (const auto& [offset, size] : c.units) unitsArray_ += size;
  }
}

std::uint64_t DataLayout::FieldSize() const { return writer::FieldSize(writer::FieldSize(unitsArray_)); }

std::uint16_t DataLayout::Write(Output& out, Spool& spool, bool& failed) const {
  if (!spool.Flush()) {
    failed = true;
    return 0;
  }
  std::uint16_t crc = 0;
  auto put = [&](const std::uint8_t* d, std::size_t n) {
    crc = Crc16(d, n, crc);
    out.Put(d, n);
  };
  Bytes b;
  PutFieldHeader(b, sistype::Data, writer::FieldSize(unitsArray_));
  PutFieldHeader(b, sistype::Array, unitsArray_);
  PutU32(b, sistype::DataUnit);
  if (!noData_) {
    PutLength(b, writer::FieldSize(unitArray_));
    PutFieldHeader(b, sistype::Array, unitArray_);
    PutU32(b, sistype::FileData);
  }
  put(b.data(), b.size());
  if (noData_) return crc;
  SpoolReader reader(spool);
  for (const StoredData& f : files_) {
    b.clear();
    PutLength(b, writer::FieldSize(12 + f.length));
    PutFieldHeader(b, sistype::Compressed, 12 + f.length);
    PutU32(b, f.algorithm);
    PutU64(b, f.uncompressed);
    put(b.data(), b.size());
    for (std::uint64_t done = 0; done < f.length;) {
      std::size_t n = 0;
      const std::uint8_t* piece = reader.At(f.offset + done, f.length - done, n);
      if (!piece) {
        failed = true;
        return crc;
      }
      put(piece, n);
      done += n;
    }
    static const std::uint8_t kZeros[4] = {};
    put(kZeros, static_cast<std::size_t>(Padded(f.length) - f.length));
  }
  for (const Child& c : children_)
    for (const auto& [offset, size] : c.units) put(c.file.data() + offset, size);
  return crc;
}

}  // namespace tarvik::writer::detail
