#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include <openssl/evp.h>

#include "bytes/field_reader.hpp"
#include "e32/image_header.hpp"
#include "writer/package_parts.hpp"
#include "writer/internal.hpp"

namespace tarvik::writer {

std::string ResolveSource(const std::string& name, const BuildSettings& settings) {
  std::string path = name;
  for (char& c : path)
    if (c == '\\') c = '/';
  namespace fs = std::filesystem;
  std::error_code ec;
  auto isFile = [&](const fs::path& p) { return fs::is_regular_file(p, ec); };
  if (!path.empty() && path[0] == '/') return isFile(path) ? path : std::string();
  const fs::path base = settings.baseDir.empty() ? fs::path(".") : fs::path(settings.baseDir);
  if (isFile(base / path)) return (base / path).string();
  for (const std::string& dir : settings.searchDirs) {
    const fs::path d = fs::path(dir).is_absolute() ? fs::path(dir) : base / dir;
    if (isFile(d / path)) return (d / path).string();
  }
  return {};
}

namespace detail {

OpenSource::~OpenSource() {
  if (fd_ >= 0) close(fd_);
}

SourceFolders::SourceFolders(const BuildSettings& settings) {
  const std::string base = settings.baseDir.empty() ? std::string(".") : settings.baseDir;
  roots_.push_back(base);
  for (const std::string& dir : settings.searchDirs)
    roots_.push_back(!dir.empty() && dir[0] == '/' ? dir : base + "/" + dir);
}

SourceFolders::~SourceFolders() {
  for (const auto& [path, fd] : folders_)
    if (fd >= 0) close(fd);
}

int SourceFolders::Folder(const std::string& path) {
  const auto known = folders_.find(path);
  if (known != folders_.end()) return known->second;
  // Sources come folder by folder, so a few kept folders serve nearly every file; the bound
  // keeps a package of many folders within the descriptors a process may hold.
  constexpr std::size_t kKept = 64;
  if (folders_.size() >= kKept) {
    for (const auto& [p, fd] : folders_)
      if (fd >= 0) close(fd);
    folders_.clear();
  }
  const int fd = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  folders_.emplace(path, fd);
  return fd;
}

OpenSource SourceFolders::Open(const std::string& name) {
  std::string path = name;
  for (char& c : path)
    if (c == '\\') c = '/';
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
  const std::string leaf = path.substr(slash == std::string::npos ? 0 : slash + 1);
  if (leaf.empty()) return {};
  auto openIn = [&](const std::string& folder) -> OpenSource {
    const std::string shown = folder == "/" ? "/" + leaf : folder + "/" + leaf;
    const int at = Folder(folder);
    if (at < 0) return {};
    // Not blocking on a pipe or device that stands at the name; a regular file reads alike.
    const int fd = openat(at, leaf.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
      const int error = errno;
      struct stat st{};
      if (error != ENOENT && error != ENOTDIR && fstatat(at, leaf.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode))
        return OpenSource(shown, std::strerror(error));
      return {};
    }
    struct stat st{};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return {};
    }
    return OpenSource(fd, static_cast<std::int64_t>(st.st_size), shown);
  };
  if (path[0] == '/') return openIn(dir.empty() ? std::string("/") : dir);
  for (const std::string& root : roots_) {
    OpenSource s = openIn(dir.empty() ? root : root + "/" + dir);
    if (s.ok() || !s.error().empty()) return s;
  }
  return {};
}

Spool::Spool(const std::string& folder) {
#ifdef O_TMPFILE
  fd_ = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  if (fd_ < 0) {
    std::string name = folder + "/.tarvik-spool-" + std::to_string(getpid()) + "-XXXXXX";
    fd_ = mkstemp(name.data());
    if (fd_ >= 0) unlink(name.c_str());
  }
}
Spool::~Spool() {
  if (fd_ >= 0) close(fd_);
}
bool Spool::Flush() {
  const std::uint8_t* data = buffer_.data();
  std::size_t n = buffer_.size();
  while (n > 0) {
    const ssize_t w = pwrite(fd_, data, n, static_cast<off_t>(written_));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    data += w;
    n -= static_cast<std::size_t>(w);
    written_ += static_cast<std::uint64_t>(w);
  }
  buffer_.clear();
  return true;
}
bool Spool::Append(const std::uint8_t* data, std::size_t n) {
  constexpr std::size_t kBuffer = 1 << 20;
  if (buffer_.capacity() < kBuffer) buffer_.reserve(kBuffer);
  if (buffer_.size() + n > kBuffer && !Flush()) return false;
  buffer_.insert(buffer_.end(), data, data + n);
  return buffer_.size() < kBuffer || Flush();
}
bool Spool::Truncate(std::uint64_t size) {
  if (size >= written_) {
    buffer_.resize(static_cast<std::size_t>(size - written_));
    return true;
  }
  buffer_.clear();
  written_ = size;
  return ftruncate(fd_, static_cast<off_t>(size)) == 0;
}
bool Spool::Read(std::uint64_t offset, std::uint8_t* data, std::size_t n) const {
  while (n > 0) {
    const ssize_t r = pread(fd_, data, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    data += r;
    n -= static_cast<std::size_t>(r);
    offset += static_cast<std::uint64_t>(r);
  }
  return true;
}

namespace {

constexpr std::size_t kChunk = 1 << 20;

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

// Reads up to n bytes (fewer only at the end of the file); -1 on error. `expected`: the
// file's size when known.
ssize_t ReadSome(int fd, std::uint8_t* buf, std::size_t n, std::int64_t expected = -1) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = read(fd, buf + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
    // A regular file gives less than asked only at its end: no read just to meet it.
    if (expected >= 0 && got >= static_cast<std::size_t>(expected)) break;
  }
  return static_cast<ssize_t>(got);
}

}  // namespace

FileStore::FileStore() : in_(kChunk), out_(kChunk), md_(EVP_MD_CTX_new()) {}

FileStore::~FileStore() {
  if (zReady_) deflateEnd(static_cast<z_stream*>(z_));
  delete static_cast<z_stream*>(z_);
  EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(md_));
  EVP_MD_free(static_cast<EVP_MD*>(sha1_));
}

// A deflate stream made once and reset for each file.
void* FileStore::Deflater() {
  if (!z_) z_ = new z_stream{};
  auto* z = static_cast<z_stream*>(z_);
  if (zReady_) return deflateReset(z) == Z_OK ? z : nullptr;
  zReady_ = deflateInit(z, Z_DEFAULT_COMPRESSION) == Z_OK;
  return zReady_ ? z : nullptr;
}

// One pass over the file: digest (when `digest`), capabilities, and (when `z` is given) its
// deflated bytes into the spool; otherwise its bytes as they are.
std::string FileStore::Pass(const OpenSource& file, bool digest, void* zs, model::FileEntry& entry, Spool& spool,
                            std::uint64_t& total) {
  auto* md = static_cast<EVP_MD_CTX*>(md_);
  auto* z = static_cast<z_stream*>(zs);
  total = 0;
  const std::int64_t size = file.size();
  for (;;) {
    const std::int64_t left = std::max<std::int64_t>(0, size - static_cast<std::int64_t>(total));
    const ssize_t n = ReadSome(file.fd(), in_.data(), in_.size(), left);
    if (n < 0) return std::strerror(errno);
    if (total == 0 && digest) {
      // A package records the capabilities of an image that asks for some.
      const auto caps = e32::PackageCapabilities(std::span<const std::uint8_t>(in_.data(), static_cast<std::size_t>(n)));
      entry.capabilities.reset();
      if (caps && *caps != 0) entry.capabilities = static_cast<std::uint32_t>(*caps);
    }
    total += static_cast<std::uint64_t>(n);
    if (digest && EVP_DigestUpdate(md, in_.data(), static_cast<std::size_t>(n)) != 1) return "digest failed";
    const bool last = static_cast<std::size_t>(n) < in_.size() || total >= static_cast<std::uint64_t>(size);
    if (!z) {
      if (!spool.Append(in_.data(), static_cast<std::size_t>(n))) return "cannot write the scratch file";
    } else {
      z->next_in = in_.data();
      z->avail_in = static_cast<uInt>(n);
      int status = Z_OK;
      do {
        z->next_out = out_.data();
        z->avail_out = static_cast<uInt>(out_.size());
        status = deflate(z, last ? Z_FINISH : Z_NO_FLUSH);
        if (status == Z_STREAM_ERROR) return "deflate failed";
        if (!spool.Append(out_.data(), out_.size() - z->avail_out)) return "cannot write the scratch file";
      } while (z->avail_out == 0 || (last && status != Z_STREAM_END));
    }
    if (last) return {};
  }
}

bool FileStore::StartDigest() {
  if (!sha1_) sha1_ = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  auto* md = static_cast<EVP_MD_CTX*>(md_);
  return md && sha1_ && EVP_DigestInit_ex2(md, static_cast<EVP_MD*>(sha1_), nullptr) == 1;
}

std::string FileStore::Store(const OpenSource& file, bool deflateIt, model::FileEntry& entry, Spool& spool, StoredData& data) {
  if (!StartDigest()) return "SHA-1 unavailable";
  auto* md = static_cast<EVP_MD_CTX*>(md_);
  data.offset = spool.size();
  std::uint64_t total = 0;
  void* z = deflateIt ? Deflater() : nullptr;
  if (deflateIt && !z) return "deflate unavailable";
  std::string why = Pass(file, true, z, entry, spool, total);
  if (!why.empty()) return why;
  data.uncompressed = total;
  data.length = spool.size() - data.offset;
  data.algorithm = deflateIt ? 1 : 0;
  if (deflateIt && data.length >= total) {
    // Deflating did not make it smaller: the file is stored as it is.
    if (!spool.Truncate(data.offset) || lseek(file.fd(), 0, SEEK_SET) != 0) return "cannot write the scratch file";
    why = Pass(file, false, nullptr, entry, spool, total);
    if (!why.empty()) return why;
    data.length = total;
    data.algorithm = 0;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (EVP_DigestFinal_ex(md, digest, &n) != 1) return "digest failed";
  entry.hash = model::Digest(digest, n);
  entry.hashAlgorithm = 1;
  entry.compressedSize = data.length;
  entry.uncompressedSize = data.uncompressed;
  entry.compression = data.algorithm;
  return {};
}

std::string FileStore::DigestOnly(const OpenSource& file, model::FileEntry& entry) {
  if (!StartDigest()) return "SHA-1 unavailable";
  auto* md = static_cast<EVP_MD_CTX*>(md_);
  std::uint64_t total = 0;
  for (;;) {
    const ssize_t n = ReadSome(file.fd(), in_.data(), in_.size());
    if (n < 0) return std::strerror(errno);
    EVP_DigestUpdate(md, in_.data(), static_cast<std::size_t>(n));
    total += static_cast<std::uint64_t>(n);
    if (static_cast<std::size_t>(n) < in_.size()) break;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EVP_DigestFinal_ex(md, digest, &n);
  entry.hash = model::Digest(digest, n);
  entry.compressedSize = entry.uncompressedSize = total;
  return {};
}

namespace {

// The data unit elements of the SISData field of a whole package file.
std::string FindUnits(const Bytes& file, Child& child) {
  RawField contents;
  if (!ReadRawField(file, 16, file.size(), contents) || contents.type != sistype::Contents) return "no package contents";
  const std::size_t end = contents.value + static_cast<std::size_t>(contents.length);
  for (std::size_t at = contents.value; at < end;) {
    RawField f;
    if (!ReadRawField(file, at, end, f)) return "damaged package contents";
    if (f.type == sistype::Data) {
      RawField array;
      if (!ReadRawField(file, f.value, f.value + static_cast<std::size_t>(f.length), array) || array.type != sistype::Array)
        return "damaged data section";
      const std::size_t arrayEnd = array.value + static_cast<std::size_t>(array.length);
      for (std::size_t e = array.value + 4; e < arrayEnd;) {
        std::uint64_t length = 0;
        std::size_t width = 0;
        if (!ReadLength(file, e, arrayEnd, length, width) || length > arrayEnd - e - width) return "damaged data unit";
        const std::size_t size = std::min<std::size_t>(arrayEnd - e, width + static_cast<std::size_t>(Padded(length)));
        child.units.emplace_back(e, size);
        e += size;
      }
      return {};
    }
    at = f.next;
  }
  return "no data section";
}

Bytes ReadWholeFile(const std::string& path) {
  FdCloser file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  Bytes out;
  struct stat st{};
  if (file.fd < 0 || fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return out;
  out.resize(static_cast<std::size_t>(st.st_size));
  const ssize_t n = ReadSome(file.fd, out.data(), out.size());
  out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return out;
}

}  // namespace

std::string LoadChild(const std::string& path, std::uint32_t uid, Child& child) {
  child.file = ReadWholeFile(path);
  if (child.file.empty()) return "cannot be read or is empty";
  PackageFrame frame;
  const std::string why = ReadFrame(child.file, frame);
  if (!why.empty()) return "cannot be embedded: " + why;
  if (frame.stub) return "is a stub, which carries no data to embed";
  if (frame.uid != uid) return "has the UID 0x" + HexText(frame.uid, 8) + ", not the line's 0x" + HexText(uid, 8);
  const Bytes& controller = frame.controller;
  RawField field;
  if (!ReadRawField(controller, 0, controller.size(), field) || field.type != sistype::Controller)
    return "has a damaged controller";
  child.controller.assign(controller.begin() + static_cast<std::ptrdiff_t>(field.value),
                          controller.begin() + static_cast<std::ptrdiff_t>(field.value + field.length));
  std::size_t last = std::string::npos;
  RawField member;
  for (std::size_t at = 0; at < child.controller.size() && ReadRawField(child.controller, at, child.controller.size(), member);
       at = member.next)
    last = member.type == sistype::DataIndex && member.length == 4 ? member.value : std::string::npos;
  if (last == std::string::npos) return "has no data index at the end of its controller";
  child.dataIndexAt = last;
  return FindUnits(child.file, child);
}

}  // namespace detail
}  // namespace tarvik::writer
