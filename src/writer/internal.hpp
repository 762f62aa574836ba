#pragma once
// Pieces of the package writer shared by its files.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/package.hpp"
#include "writer/build.hpp"
#include "writer/fields.hpp"

namespace tarvik::writer::detail {

// An unnamed scratch file for the stored bytes of the files.
class Spool {
 public:
  explicit Spool(const std::string& folder);
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;
  bool ok() const { return fd_ >= 0; }
  // Appends through a buffer of 1 MiB, so that small files cost no write of their own.
  bool Append(const std::uint8_t* data, std::size_t n);
  bool Truncate(std::uint64_t size);
  // Writes out what the buffer holds; Read needs it done first.
  bool Flush();
  bool Read(std::uint64_t offset, std::uint8_t* data, std::size_t n) const;
  std::uint64_t size() const { return written_ + buffer_.size(); }

 private:
  int fd_ = -1;
  std::uint64_t written_ = 0;  // bytes in the file
  std::vector<std::uint8_t> buffer_;
};

// A source file opened for reading: its descriptor (closed with the object), its size, and
// the path it was found at (for messages).
class OpenSource {
 public:
  OpenSource() = default;
  OpenSource(int fd, std::int64_t size, std::string path) : fd_(fd), size_(size), path_(std::move(path)) {}
  // A file that is there but cannot be opened, and why.
  OpenSource(std::string path, std::string error) : path_(std::move(path)), error_(std::move(error)) {}
  OpenSource(OpenSource&& o) noexcept : fd_(o.fd_), size_(o.size_), path_(std::move(o.path_)), error_(std::move(o.error_)) {
    o.fd_ = -1;
  }
  OpenSource& operator=(OpenSource&&) = delete;
  ~OpenSource();
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  std::int64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;
  std::string path_;
  std::string error_;
};

// Opens source files as ResolveSource finds them: relative to the base folder, then to each
// search folder. Each folder a source lies in is opened once and kept, so that a file costs
// one lookup of its own name (not of its whole path) and one open.
class SourceFolders {
 public:
  explicit SourceFolders(const BuildSettings& settings);
  ~SourceFolders();
  SourceFolders(const SourceFolders&) = delete;
  SourceFolders& operator=(const SourceFolders&) = delete;
  // The regular file `name` stands for, opened; not ok() when there is none.
  OpenSource Open(const std::string& name);

 private:
  int Folder(const std::string& path);  // -1 when it cannot be opened
  std::vector<std::string> roots_;      // where relative names are looked for, in order
  std::unordered_map<std::string, int> folders_;
};

// One file's stored bytes in the spool.
struct StoredData {
  std::uint64_t offset = 0;  // in the spool
  std::uint64_t length = 0;  // stored bytes
  std::uint64_t uncompressed = 0;
  std::uint32_t algorithm = 0;  // 0 stored, 1 deflated
};

// Reads source files in pieces, with buffers, a digest and a deflate stream made once for
// all of them.
class FileStore {
 public:
  FileStore();
  ~FileStore();
  FileStore(const FileStore&) = delete;
  FileStore& operator=(const FileStore&) = delete;
  // Fills `entry`'s digest, sizes, compression and capabilities from the file at `path`, and
  // appends its stored bytes to `spool`. Empty on success, else the reason.
  std::string Store(const OpenSource& file, bool deflate, model::FileEntry& entry, Spool& spool, StoredData& data);
  // The same for a null file line that names a source: digest and length, no data.
  std::string DigestOnly(const OpenSource& file, model::FileEntry& entry);

 private:
  void* Deflater();
  bool StartDigest();
  std::string Pass(const OpenSource& file, bool digest, void* z, model::FileEntry& entry, Spool& spool, std::uint64_t& total);
  std::vector<std::uint8_t> in_, out_;
  void* z_ = nullptr;   // z_stream
  bool zReady_ = false;
  void* md_ = nullptr;  // EVP_MD_CTX
  void* sha1_ = nullptr;  // EVP_MD, fetched once
};

// An embedded package read from its .sis file.
struct Child {
  Bytes file;
  Bytes controller;       // the controller field's value (members SISInfo ... data index)
  std::size_t dataIndexAt = 0;  // where the data index word lies in `controller`
  std::vector<std::pair<std::size_t, std::size_t>> units;  // data unit elements in `file`: offset, size
};
// Reads the package at `path` (whose script line gave `uid`); empty on success, else why not.
std::string LoadChild(const std::string& path, std::uint32_t uid, Child& child);

}  // namespace tarvik::writer::detail
