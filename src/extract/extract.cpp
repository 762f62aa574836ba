#include "extract/extract.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
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

// Progress of one extraction, in files finished and bytes of package data handled;
// reported after every file, every MiB inside a large one, and at the end, so that it moves
// for a package of any size.
class Meter {
 public:
  static constexpr std::uint64_t kStep = 1u << 20;
  Meter(Reporter& reporter, std::uint64_t total, std::size_t files)
      : reporter_(reporter), total_(total), filesTotal_(files) {}
  void Add(std::uint64_t n) {
    done_ += n;
    if (done_ - shown_ >= kStep) Show();
  }
  void FileDone(std::uint64_t planned) {
    // A file that ended early (a failure) still counts as handled.
    planned_ += planned;
    done_ = std::max(done_, planned_);
    ++files_;
    Show();
  }
  void Show() {
    shown_ = done_;
    reporter_.Advance({std::min(done_, total_), total_, std::min(files_, filesTotal_), filesTotal_});
  }
  void Complete() {
    done_ = total_;
    files_ = filesTotal_;
    Show();
  }

 private:
  Reporter& reporter_;
  std::uint64_t total_ = 0;
  std::size_t filesTotal_ = 0;
  std::uint64_t done_ = 0;
  std::uint64_t shown_ = 0;
  std::uint64_t planned_ = 0;  // the bytes of the files finished
  std::size_t files_ = 0;
};

// Why a file could not be written, in the words of the result list.
constexpr const char* kNoData = "the package holds no data for it (it may be cut short or damaged)";
constexpr const char* kOutside = "its data lies outside the package (the package is cut short or damaged)";
constexpr const char* kUnsafe = "the destination is unsafe or its folder cannot be made";
constexpr const char* kWriteFailed = "writing it failed (disk full or no permission?)";
constexpr const char* kCancelled = "cancelled";

// A package path as the person reads it in messages: backslashes become the native separator.
std::string Native(const std::string& name) {
  std::string out = name;
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// One extraction's writing side: the destination folder and the running meter.
struct Writer {
  ByteView package;
  Destination& destination;
  Reporter& reporter;
  Meter* meter;
  Sha1 sha{};
  InflateStream stream{};
  std::string reason{};        // why the last file failed
  bool cancelled = false;      // the last file was stopped by the cancel check
  std::uint64_t bytes = 0;     // bytes of the last file written
  int error = 0;               // the system's reason the last file was not written, 0 when none

  int Inflate(const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize, std::int64_t offset,
              const std::optional<Sha1Digest>& expected, HashCheck* check);
  // Whether a stream can be inflated at all; otherwise `reason` says why not.
  bool CanInflate(const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize, std::int64_t offset);
  // After a stream that did not inflate whole: the reason, and the message when one is due.
  void InflateFailed(int status, bool writeFailed, OutputFile& out);
  int Cut(const std::string& name, std::int64_t offset, std::int64_t length, const std::optional<Sha1Digest>& expected,
          HashCheck* check);
  void Progress(std::uint64_t n) {
    if (meter) meter->Add(n);
  }
};

bool Writer::CanInflate(const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize,
                        std::int64_t offset) {
  if (name.empty() || compressSize == 0) {
    reason = kNoData;
    return false;
  }
  if (compressSize < 0 || uncompressSize < 0 || !package.HasRange(offset, compressSize)) {
    reason = kOutside;
    return false;
  }
  if (static_cast<std::uint64_t>(uncompressSize) > MaxInflatedSize(static_cast<std::size_t>(compressSize))) {
    // Deflate cannot expand this much: corrupt input, refused before anything is made.
    reason = InflateMessage(zstatus::DataError, kInflateFailure);
    reporter.Warning(reason);
    return false;
  }
  return true;
}

void Writer::InflateFailed(int status, bool writeFailed, OutputFile& out) {
  out.Abort();
  if (status == zstatus::Stopped && !writeFailed && reporter.Cancelled()) {
    // Stopped by the person: no message, and nothing of the file stays.
    reason = kCancelled;
    cancelled = true;
  } else if (writeFailed) {
    reason = kWriteFailed;
    error = out.Error();
  } else {
    reason = InflateMessage(status, kInflateFailure);
    reporter.Warning(reason);
  }
}

int Writer::Inflate(const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize,
                    std::int64_t offset, const std::optional<Sha1Digest>& expected, HashCheck* check) {
  if (check) *check = HashCheck::None;
  reason.clear();
  cancelled = false;
  bytes = 0;
  error = 0;
  if (!CanInflate(name, compressSize, uncompressSize, offset)) return 0;
  const auto srcLen = static_cast<std::size_t>(compressSize);
  const auto declared = static_cast<std::uint64_t>(uncompressSize);
  const std::uint8_t* src = package.Ptr(offset);
  OutputFile out;
  if (!out.Open(destination, name, declared)) {
    reason = kUnsafe;
    error = out.Error();
    return 0;
  }
  if (expected) sha.Start();
  // What the sink works on, behind one pointer: the sink is copied into the inflation's
  // callback without an allocation.
  struct SinkState {
    Writer& writer;
    OutputFile& out;
    bool hash;
    bool writeFailed;
  } state{*this, out, expected.has_value(), false};
  const auto sink = [s = &state](const std::uint8_t* data, std::size_t n) {
    if (s->hash) s->writer.sha.Update(data, n);
    if (!s->out.Write(data, n)) s->writeFailed = true;
    s->writer.bytes += n;
    return !s->writeFailed;
  };
  InflateOptions options;
  options.skipAdler = expected.has_value();
  options.progress = [this](std::uint64_t n) { Progress(n); };
  options.progressStep = Meter::kStep;
  options.cancelled = [this] { return reporter.Cancelled(); };
  options.stream = &stream;
  int status = InflateTo(src, srcLen, declared, sink, options);
  HashCheck outcome = HashCheck::None;
  if (status == zstatus::Ok && expected) {
    Sha1Digest digest{};
    outcome = sha.Final(digest) && digest == *expected ? HashCheck::Match : HashCheck::Mismatch;
    if (outcome == HashCheck::Mismatch) {
      // zlib has the last word on the stream: inflate it again with its own check.
      InflateOptions again;
      again.stream = &stream;
      again.cancelled = [this] { return reporter.Cancelled(); };
      status = InflateTo(src, srcLen, declared, [](const std::uint8_t*, std::size_t) { return true; }, again);
    }
  }
  if (status != zstatus::Ok) {
    InflateFailed(status, state.writeFailed, out);
    return 0;
  }
  if (!out.Commit()) {
    reason = kWriteFailed;
    error = out.Error();
    return 0;
  }
  if (check) *check = outcome;
  return 1;
}

int Writer::Cut(const std::string& name, std::int64_t offset, std::int64_t length,
                const std::optional<Sha1Digest>& expected, HashCheck* check) {
  if (check) *check = HashCheck::None;
  reason.clear();
  cancelled = false;
  bytes = 0;
  error = 0;
  // An empty file is a file too: a length of 0 inside the package writes an empty file.
  if (name.empty()) {
    reason = kNoData;
    return 0;
  }
  if (length < 0 || !package.HasRange(offset, length)) {
    reason = kOutside;
    return 0;
  }
  OutputFile out;
  if (!out.Open(destination, name, static_cast<std::uint64_t>(length))) {
    reason = kUnsafe;
    error = out.Error();
    return 0;
  }
  if (expected) sha.Start();
  const std::uint8_t* p = package.Ptr(offset);
  auto left = static_cast<std::uint64_t>(length);
  while (left > 0) {
    if (reporter.Cancelled()) {
      // The temporary file goes with `out`: nothing half-written stays.
      reason = kCancelled;
      cancelled = true;
      return 0;
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
    if (expected) sha.Update(p, n);
    if (!out.Write(p, n)) {
      reason = kWriteFailed;
      error = out.Error();
      return 0;
    }
    Progress(n);
    p += n;
    left -= n;
  }
  if (!out.Commit()) {
    reason = kWriteFailed;
    error = out.Error();
    return 0;
  }
  bytes = static_cast<std::uint64_t>(length);
  if (check && expected) {
    Sha1Digest digest{};
    *check = sha.Final(digest) && digest == *expected ? HashCheck::Match : HashCheck::Mismatch;
  }
  return 1;
}

// The bytes a row stands for in the progress count.
std::uint64_t Planned(const views::FileRow& row, bool old) {
  return std::min(old || row.deflated ? row.compressedSize : row.uncompressedSize, kValueLimit);
}

// Records the outcome of row `i` of `count`: listed when written, reported (with the
// system's reason when there is one) and gathered when not; `failHead` starts the message
// of a failure. False when the extraction ends there: the person cancelled, or the disk is
// full and every later file would fail alike.
bool Record(Writer& w, Result& result, std::size_t i, std::size_t count, const std::string& folder,
            const std::string& name, bool written, HashCheck check, const char* failHead) {
  if (written) {
    ++result.extracted;
    result.written.push_back({i, Native(name), w.bytes, check});
    const auto cut = name.find_last_of("\\/");
    result.list.append(name, cut == std::string::npos ? 0 : cut + 1);
    if (check == HashCheck::Mismatch) {
      result.list += kHashMismatchMark;
      result.mismatches.push_back(folder + result.written.back().path);
    }
    result.list += kCrLf;
    return true;
  }
  if (w.cancelled) {
    result.stopped = result.cancelled = true;
    return false;
  }
  const std::string failText = failHead + folder + Native(name);
  const std::string why = w.error != 0 ? ErrorText(w.error) : w.reason.empty() ? std::string(kWriteFailed) : w.reason;
  result.failures.push_back({i, Native(name), why});
  if (w.error == ENOSPC || w.error == EDQUOT) {
    const std::size_t remaining = count - i - 1;
    w.reporter.Failed(failText + ": " + ErrorText(w.error) + "\r\nExtraction stopped: " + std::to_string(remaining) +
                      (remaining == 1 ? " more file was" : " more files were") + " not written.");
    result.stopped = true;
    return false;
  }
  w.reporter.Failed(w.error != 0 ? failText + ": " + ErrorText(w.error) : failText);
  return true;
}

// Makes the extraction folder when it cannot be opened (it is missing); the system's reason
// when it cannot be made, empty otherwise.
std::string MakeFolder(const std::string& folder) {
  if (FolderHandle::Open(folder).Valid()) return {};
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return ec ? ec.message() : std::string();
}

void ExtractOld(Writer& w, const std::vector<views::FileRow>& rows, const std::string& folder, Result& result) {
  const std::int64_t packageLength = w.package.Size();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const views::FileRow& row = rows[i];
    if (w.reporter.Cancelled()) {
      result.stopped = result.cancelled = true;
      return;
    }
    const std::int64_t offset = std::clamp(row.offset, -kOffsetLimit, kOffsetLimit);
    const std::int64_t length = Clamped(row.compressedSize);
    const std::string& name = row.extractPath;
    if (packageLength < offset + length) {
      // The data lies past the end of a package cut short: nothing to write for this file.
      result.pastEnd.push_back(folder + Native(name));
      result.failures.push_back({i, Native(name), kOutside});
      if (w.meter) w.meter->FileDone(Planned(row, true));
      continue;
    }
    w.destination.MakeFolders(name);
    bool go = true;
    if (!row.deflated) {
      if (length != 0) go = Record(w, result, i, rows.size(), folder, name, w.Cut(name, offset, length, std::nullopt, nullptr) == 1,
                                   HashCheck::None, kErrorExtracting);
    } else if (length != 0) {
      go = Record(w, result, i, rows.size(), folder, name,
                  w.Inflate(name, length, Clamped(row.uncompressedSize), offset, std::nullopt, nullptr) == 1,
                  HashCheck::None, kErrorExtracting);
    }
    if (!go) return;
    if (w.meter) w.meter->FileDone(Planned(row, true));
  }
}

void ExtractSis9(Writer& w, const std::vector<views::FileRow>& rows, const std::string& folder, Result& result) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const views::FileRow& row = rows[i];
    if (w.reporter.Cancelled()) {
      result.stopped = result.cancelled = true;
      return;
    }
    const std::string& name = row.extractPath;
    if (row.entry && row.entry->pastCut) {
      // The data lies past the end of a package cut short: nothing to write for this file.
      result.pastEnd.push_back(folder + Native(name));
      result.failures.push_back({i, Native(name), kOutside});
      if (w.meter) w.meter->FileDone(Planned(row, false));
      continue;
    }
    w.destination.MakeFolders(name);
    // A row without data in this package (a pre-installed package describes files already
    // on the device) has nothing to write.
    HashCheck check = HashCheck::None;
    bool written = false;
    w.reason = kNoData;
    w.cancelled = false;
    if (row.deflated) {
      written = row.hasData && w.Inflate(name, Clamped(row.compressedSize), Clamped(row.uncompressedSize), row.offset,
                                         row.sha1, &check) == 1;
    } else {
      written = row.hasData && w.Cut(name, row.offset, Clamped(row.uncompressedSize), row.sha1, &check) == 1;
    }
    if (!Record(w, result, i, rows.size(), folder, name, written, check, row.deflated ? kErrorExtracting : kErrorCutting))
      return;
    if (w.meter) w.meter->FileDone(Planned(row, false));
  }
}

}  // namespace

Result ExtractAll(ByteView package, model::Generation generation, const std::vector<views::FileRow>& rows,
                  const std::string& folder, Reporter& reporter) {
  const bool old = generation == model::Generation::Pre9;
  std::uint64_t total = 0;
  for (const views::FileRow& row : rows) total += Planned(row, old);
  Meter meter(reporter, total, rows.size());
  meter.Show();
  const std::string problem = MakeFolder(folder);
  Destination destination(folder);
  Result result;
  if (!destination.Valid()) {
    // A folder that cannot be had is said once, with the system's reason, not file by file.
    const int error = errno;
    reporter.Failed(kCannotUseFolder + folder + ": " + (problem.empty() ? std::strerror(error) : problem));
    result.stopped = true;
    return result;
  }
  // The top folder of every extraction path is made even when nothing is written (rows
  // whose "bin\<package>\" was left out have none).
  if (rows.empty() || rows.front().extractPath.rfind("bin\\", 0) == 0) destination.MakeFolders("bin\\-");
  Writer w{package, destination, reporter, &meter};
  if (old)
    ExtractOld(w, rows, folder, result);
  else
    ExtractSis9(w, rows, folder, result);
  if (!result.stopped) meter.Complete();
  return result;
}

}  // namespace tarvik::extract
