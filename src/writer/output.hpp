#pragma once
// The package file being written: a temporary file beside the destination, renamed into
// place when whole and removed otherwise; and the layout of the data section.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "writer/fields.hpp"
#include "writer/internal.hpp"

namespace tarvik::writer::detail {

class Output {
 public:
  // `mode`: the permissions the file is made with; `tempFile` is told of the temporary file.
  explicit Output(const std::string& path, unsigned mode = 0644,
                  std::function<void(const std::string& path, bool made)> tempFile = {});
  ~Output();
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  void Put(const std::uint8_t* data, std::size_t n);
  void Put(const Bytes& b) { Put(b.data(), b.size()); }
  // Overwrites bytes already put.
  void PutAt(std::uint64_t offset, const Bytes& b);
  // Puts the file in place under its name; false (and nothing left behind) on any error.
  bool Commit();
  std::uint64_t size() const { return size_; }

 private:
  bool Flush();
  std::string path_, temp_;
  int fd_ = -1;
  Bytes buffer_;
  std::uint64_t size_ = 0;
  std::string error_;
  bool committed_ = false;
  bool made_ = false;
  std::function<void(const std::string& path, bool made)> tempFile_;
};

// The SISData field: the main package's data unit (its files' stored bytes from the
// spool), then the data units of the embedded packages as their files hold them.
class DataLayout {
 public:
  DataLayout(const std::vector<StoredData>& files, const std::vector<Child>& children, bool noData);
  std::uint64_t FieldSize() const;
  // Writes the field; returns its CRC-16. `failed` is set when the spool could not be read.
  std::uint16_t Write(Output& out, Spool& spool, bool& failed) const;

 private:
  const std::vector<StoredData>& files_;
  const std::vector<Child>& children_;
  bool noData_;
  std::uint64_t unitArray_ = 4;  // the main unit's array value length
  std::uint64_t unitsArray_ = 4;  // the units array value length
};

}  // namespace tarvik::writer::detail
