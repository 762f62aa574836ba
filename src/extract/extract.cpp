#include "extract/extract.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "bytes/inflate.hpp"
#include "extract/safe_path.hpp"

namespace tarvik::extract {

namespace {

constexpr const char* kCrLf = "\r\n";
// Stored files are hashed and written in pieces of this size, so that the hash runs over
// bytes still in the cache.
constexpr std::size_t kChunk = 256 * 1024;
// Sizes and offsets of the file table are held within this bound, so that sums of two of
// them never overflow; no package position comes near it.
constexpr std::uint64_t kValueLimit = std::uint64_t{1} << 60;

constexpr std::int64_t kOffsetLimit = static_cast<std::int64_t>(kValueLimit);
std::int64_t Clamped(std::uint64_t v) { return static_cast<std::int64_t>(std::min(v, kValueLimit)); }

// SHA-1 over the bytes as they are written. One is kept for a whole extraction: each file
// starts it again, which costs no new context and no new look-up of the algorithm.
class Sha1 {
 public:
  Sha1() : md_(EVP_MD_fetch(nullptr, "SHA1", nullptr), &EVP_MD_free), ctx_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {}
  void Start() { started_ = md_ && ctx_ && EVP_DigestInit_ex(ctx_.get(), md_.get(), nullptr) == 1; }
  void Update(const std::uint8_t* data, std::size_t size) {
    if (started_ && size > 0) EVP_DigestUpdate(ctx_.get(), data, size);
  }
  bool Final(Sha1Digest& out) {
    unsigned int len = 0;
    const bool ok = started_ && EVP_DigestFinal_ex(ctx_.get(), out.data(), &len) == 1 && len == out.size();
    started_ = false;
    return ok;
  }

 private:
  std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> md_;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
  bool started_ = false;
};

// Progress of one extraction, in bytes of package data handled; reported to the person at
// least every 8 MiB and at the end.
class Meter {
 public:
  static constexpr std::uint64_t kStep = 8u << 20;
  Meter(Reporter& reporter, std::uint64_t total) : reporter_(reporter), total_(total) {}
  void Add(std::uint64_t n) {
    done_ += n;
    if (done_ - shown_ >= kStep || done_ >= total_) Show();
  }
  void Show() {
    shown_ = done_;
    reporter_.Progress(std::min(done_, total_), total_);
  }
  void Complete() {
    done_ = total_;
    Show();
  }

 private:
  Reporter& reporter_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  std::uint64_t shown_ = 0;
};

// A package path as the person reads it in messages: backslashes become the native separator.
std::string Native(const std::string& name) {
  std::string out = name;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// The bare file name: the part after the last separator.
std::string BareName(const std::string& name) {
  const auto cut = name.find_last_of("\\/");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// One extraction's writing side: the destination folder and the running meter.
struct Writer {
  ByteView package;
  Destination& destination;
  Reporter& reporter;
  Meter* meter;
  Sha1 sha{};
  InflateStream stream{};
  int error = 0;  // why the last file was not written (OutputFile::Error), 0 when unknown

  // Reports a file that was not written, with the system's reason when there is one. True
  // when the extraction must stop: the disk is full, and every later file would fail alike.
  bool Failed(const std::string& text, std::size_t remaining) {
    if (error == ENOSPC || error == EDQUOT) {
      reporter.Failed(text + ": " + ErrorText(error) + "\r\nExtraction stopped: " + std::to_string(remaining) +
                      (remaining == 1 ? " more file was" : " more files were") + " not written.");
      return true;
    }
    reporter.Failed(error != 0 ? text + ": " + ErrorText(error) : text);
    return false;
  }

  int Inflate(const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize, std::int64_t offset,
              const std::optional<Sha1Digest>& expected, HashCheck* check);
  int Cut(const std::string& name, std::int64_t offset, std::int64_t length, const std::optional<Sha1Digest>& expected,
          HashCheck* check);
  void Progress(std::uint64_t n) {
    if (meter) meter->Add(n);
  }
};

int Writer::Inflate(const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize,
                    std::int64_t offset, const std::optional<Sha1Digest>& expected, HashCheck* check) {
  if (check) *check = HashCheck::None;
  error = 0;
  if (name.empty() || compressSize == 0) return 0;
  if (compressSize < 0 || uncompressSize < 0 || !package.HasRange(offset, compressSize)) return 0;
  const auto srcLen = static_cast<std::size_t>(compressSize);
  const auto declared = static_cast<std::uint64_t>(uncompressSize);
  const std::uint8_t* src = package.Ptr(offset);
  if (declared > MaxInflatedSize(srcLen)) {
    // Deflate cannot expand this much: corrupt input, refused before anything is made.
    reporter.Warning(InflateMessage(zstatus::DataError, kInflateFailure));
    return 0;
  }
  OutputFile out;
  if (!out.Open(destination, name)) {
    error = out.Error();
    return 0;
  }
  if (expected) sha.Start();
  bool writeFailed = false;
  const auto sink = [&](const std::uint8_t* data, std::size_t n) {
    if (expected) sha.Update(data, n);
    if (!out.Write(data, n)) writeFailed = true;
    return !writeFailed;
  };
  InflateOptions options;
  options.skipAdler = expected.has_value();
  options.progress = [this](std::uint64_t n) { Progress(n); };
  options.cancelled = [this] { return reporter.Cancelled(); };
  options.stream = &stream;
  int status = InflateTo(src, srcLen, declared, sink, options);
  HashCheck outcome = HashCheck::None;
  if (status == zstatus::Ok && expected) {
    Sha1Digest digest{};
    outcome = sha.Final(digest) && digest == *expected ? HashCheck::Match : HashCheck::Mismatch;
    if (outcome == HashCheck::Mismatch) {
      // zlib has the last word on the stream: inflate it again with its own check.
      InflateOptions check;
      check.stream = &stream;
      status = InflateTo(src, srcLen, declared, [](const std::uint8_t*, std::size_t) { return true; }, check);
    }
  }
  if (status != zstatus::Ok) {
    if (writeFailed) error = out.Error();
    out.Abort();
    if (!writeFailed) reporter.Warning(InflateMessage(status, kInflateFailure));
    return 0;
  }
  if (!out.Commit()) {
    error = out.Error();
    return 0;
  }
  if (check) *check = outcome;
  return 1;
}

int Writer::Cut(const std::string& name, std::int64_t offset, std::int64_t length,
                const std::optional<Sha1Digest>& expected, HashCheck* check) {
  if (check) *check = HashCheck::None;
  error = 0;
  // An empty file is a file too: a length of 0 inside the package writes an empty file.
  if (name.empty() || length < 0 || !package.HasRange(offset, length)) return 0;
  OutputFile out;
  if (!out.Open(destination, name)) {
    error = out.Error();
    return 0;
  }
  if (expected) sha.Start();
  const std::uint8_t* p = package.Ptr(offset);
  auto left = static_cast<std::uint64_t>(length);
  while (left > 0) {
    if (reporter.Cancelled()) return 0;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
    if (expected) sha.Update(p, n);
    if (!out.Write(p, n)) {
      error = out.Error();
      return 0;
    }
    Progress(n);
    p += n;
    left -= n;
  }
  if (!out.Commit()) {
    error = out.Error();
    return 0;
  }
  if (check && expected) {
    Sha1Digest digest{};
    *check = sha.Final(digest) && digest == *expected ? HashCheck::Match : HashCheck::Mismatch;
  }
  return 1;
}

void ExtractOld(Writer& w, const std::vector<views::FileRow>& rows, const std::string& folder, Result& result) {
  const std::int64_t packageLength = w.package.Size();
  for (std::size_t at = 0; at < rows.size(); ++at) {
    const views::FileRow& row = rows[at];
    const std::size_t remaining = rows.size() - at - 1;
    if (w.reporter.Cancelled()) {
      result.stopped = true;
      return;
    }
    const std::int64_t offset = std::clamp(row.offset, -kOffsetLimit, kOffsetLimit);
    const std::int64_t length = Clamped(row.compressedSize);
    const std::string& name = row.extractPath;
    if (packageLength < offset + length) {
      // The data lies past the end of a package cut short: nothing to write for this file.
      result.pastEnd.push_back(folder + Native(name));
      continue;
    }
    w.destination.MakeFolders(name);
    if (!row.deflated) {
      if (length == 0) continue;
      if (w.Cut(name, offset, length, std::nullopt, nullptr) == 1) {
        ++result.extracted;
        result.list += BareName(name) + kCrLf;
      } else if (w.Failed(kErrorExtracting + folder + Native(name), remaining)) {
        result.full = true;
        return;
      }
    } else if (length != 0) {
      if (w.Inflate(name, length, Clamped(row.uncompressedSize), offset, std::nullopt, nullptr) == 1) {
        ++result.extracted;
        result.list += BareName(name) + kCrLf;
      } else if (w.Failed(kErrorExtracting + folder + Native(name), remaining)) {
        result.full = true;
        return;
      }
    }
  }
}

void ExtractSis9(Writer& w, const std::vector<views::FileRow>& rows, const std::string& folder, Result& result) {
  for (std::size_t at = 0; at < rows.size(); ++at) {
    const views::FileRow& row = rows[at];
    const std::size_t remaining = rows.size() - at - 1;
    if (w.reporter.Cancelled()) {
      result.stopped = true;
      return;
    }
    const std::string& name = row.extractPath;
    w.destination.MakeFolders(name);
    // A row without data in this package (a pre-installed package describes files already
    // on the device) has nothing to write.
    HashCheck check = HashCheck::None;
    bool written;
    w.error = 0;
    if (row.deflated) {
      written = row.hasData && w.Inflate(name, Clamped(row.compressedSize), Clamped(row.uncompressedSize), row.offset,
                                         row.sha1, &check) == 1;
    } else {
      written = row.hasData && w.Cut(name, row.offset, Clamped(row.uncompressedSize), row.sha1, &check) == 1;
    }
    if (!written) {
      if (w.Failed((row.deflated ? kErrorExtracting : kErrorCutting) + folder + Native(name), remaining)) {
        result.full = true;
        return;
      }
      continue;
    }
    ++result.extracted;
    if (check == HashCheck::Mismatch) {
      result.list += BareName(name) + kHashMismatchMark + kCrLf;
      result.mismatches.push_back(folder + Native(name));
    } else {
      result.list += BareName(name) + kCrLf;
    }
  }
}

}  // namespace

Result ExtractAll(ByteView package, model::Generation generation, const std::vector<views::FileRow>& rows,
                  const std::string& folder, Reporter& reporter) {
  const bool old = generation == model::Generation::Pre9;
  std::uint64_t total = 0;
  for (const views::FileRow& row : rows)
    total += std::min(old || row.deflated ? row.compressedSize : row.uncompressedSize, kValueLimit);
  Meter meter(reporter, total);
  meter.Show();
  Destination destination(folder);
  // The top folder of every extraction path is made even when nothing is written.
  destination.MakeFolders("bin\\-");
  Writer w{package, destination, reporter, &meter};
  Result result;
  if (old)
    ExtractOld(w, rows, folder, result);
  else
    ExtractSis9(w, rows, folder, result);
  if (!result.stopped) meter.Complete();
  return result;
}

int ExtractData(ByteView package, const std::string& folder, const std::string& name, std::int64_t compressSize,
                std::int64_t uncompressSize, std::int64_t offset, Reporter& reporter,
                const std::optional<Sha1Digest>& expected, HashCheck* check) {
  Destination destination(folder);
  Writer w{package, destination, reporter, nullptr};
  return w.Inflate(name, compressSize, uncompressSize, offset, expected, check);
}

int CutFile2(ByteView package, const std::string& folder, const std::string& name, std::int64_t offset,
             std::int64_t length, Reporter& reporter, const std::optional<Sha1Digest>& expected, HashCheck* check) {
  Destination destination(folder);
  Writer w{package, destination, reporter, nullptr};
  return w.Cut(name, offset, length, expected, check);
}

}  // namespace tarvik::extract
