#include "extract/extract.hpp"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <memory>
#include <vector>

#include "bytes/inflate.hpp"
#include "extract/safe_path.hpp"
#include "sis_old/sis_old.hpp"

namespace tarvik::extract {

namespace {

constexpr const char* kCrLf = "\r\n";
// Output is inflated, hashed and written in pieces of this size, so a file of any size
// needs no more memory than this beside the package itself.
constexpr std::size_t kChunk = 256 * 1024;
// Progress is reported at least this often (input bytes) inside a large file.
constexpr std::uint64_t kProgressStep = 8u << 20;

// SHA-1 over the bytes as they are written.
class Sha1 {
 public:
  Sha1() : ctx_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
    if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha1(), nullptr) != 1) ctx_.reset();
  }
  void Update(const std::uint8_t* data, std::size_t size) {
    if (ctx_ && size > 0) EVP_DigestUpdate(ctx_.get(), data, size);
  }
  bool Final(Sha1Digest& out) {
    unsigned int len = 0;
    return ctx_ && EVP_DigestFinal_ex(ctx_.get(), out.data(), &len) == 1 && len == out.size();
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
};

// Progress of one extraction, in bytes of package data handled.
struct Meter {
  Ui& ui;
  std::uint64_t total = 0;
  std::uint64_t done = 0;
  std::uint64_t lastShown = 0;
  void Add(std::uint64_t n) {
    done += n;
    if (done - lastShown >= kProgressStep || done >= total) Show();
  }
  void Show() {
    lastShown = done;
    ui.Progress(static_cast<std::size_t>(std::min(done, total)), static_cast<std::size_t>(total));
  }
};

// The meter of the extraction that runs now (extraction runs on one thread, to its end).
Meter* g_meter = nullptr;

void AddProgress(std::uint64_t n) {
  if (g_meter) g_meter->Add(n);
}

// Values of the file tables are kept within this bound, so that sums of two of them never
// overflow; no package position comes near it.
constexpr std::int64_t kValueLimit = std::int64_t{1} << 60;

// Decimal text of the pre-9.x table; invalid text counts as 0.
std::int64_t DecimalValue(const std::string& text) {
  std::int64_t v = 0;
  const char* b = text.data();
  const char* e = b + text.size();
  auto [p, ec] = std::from_chars(b, e, v);
  if (ec == std::errc::result_out_of_range) return text.front() == '-' ? -kValueLimit : kValueLimit;
  if (ec != std::errc() || p != e) return 0;
  return std::clamp(v, -kValueLimit, kValueLimit);
}

// Hexadecimal text of the 9.x table (either case); invalid text counts as 0, like
// HexToDouble, but the value is exact. Values beyond the bound are held at it.
std::int64_t HexValue(const std::string& text) {
  std::uint64_t v = 0;
  const char* b = text.data();
  const char* e = b + text.size();
  auto [p, ec] = std::from_chars(b, e, v, 16);
  if (ec == std::errc::result_out_of_range) return kValueLimit;
  if (ec != std::errc() || p != e) return 0;
  return static_cast<std::int64_t>(std::min<std::uint64_t>(v, kValueLimit));
}

// The destination as the person reads it in messages: the folder and the package path in
// native form.
std::string ShownPath(const App& app, const std::string& name) { return app.state.extractionFolder + ToNative(name); }

// The bare file name: the part after the last separator.
std::string BareName(const std::string& name) {
  const auto cut = name.find_last_of("\\/");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}

// Where inflated bytes go: the file being written (and the running hash), or nowhere.
struct Sink {
  OutputFile* out = nullptr;
  Sha1* sha = nullptr;
  bool writeFailed = false;
  bool Take(const std::uint8_t* data, std::size_t n) {
    if (sha) sha->Update(data, n);
    if (out && !out->Write(data, n)) {
      writeFailed = true;
      return false;
    }
    return true;
  }
};

// The two-byte head of a zlib stream: deflate, a window zlib accepts, no preset dictionary,
// and the check bits.
bool ZlibHeaderOk(const std::uint8_t* src, std::size_t len) {
  if (len < 2) return false;
  const unsigned cmf = src[0];
  const unsigned flg = src[1];
  return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0 && (flg & 0x20) == 0;
}

// Inflates a zlib stream of at most `declared` bytes into `sink`. Returns the zlib status:
// Ok only for a complete stream. With `trustHash` the stream's Adler-32 is not computed,
// because the caller checks the whole output against a SHA-1 instead (a far stronger check
// that costs about the same); the trailer must still be present.
int InflateTo(const std::uint8_t* src, std::size_t srcLen, std::uint64_t declared, Sink& sink, bool trustHash) {
  if (declared > MaxInflatedSize(srcLen)) return zstatus::DataError;
  z_stream zs{};
  std::size_t skip = 0;
  if (trustHash) {
    if (!ZlibHeaderOk(src, srcLen)) return zstatus::DataError;
    skip = 2;
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return zstatus::MemError;
  } else if (inflateInit(&zs) != Z_OK) {
    return zstatus::MemError;
  }
  std::vector<std::uint8_t> chunk(kChunk);
  zs.next_in = const_cast<Bytef*>(src + skip);
  std::size_t inLeft = srcLen - skip;
  std::uint64_t produced = 0;
  std::uint64_t consumedShown = 0;
  int result = zstatus::DataError;
  constexpr std::size_t kInStep = 1u << 30;  // avail_in is 32 bits wide
  while (true) {
    if (zs.avail_in == 0 && inLeft > 0) {
      zs.avail_in = static_cast<uInt>(std::min(inLeft, kInStep));
      inLeft -= zs.avail_in;
    }
    // Room for one byte beyond the declared size shows an overlong stream.
    const std::uint64_t room = declared - produced + 1;
    const auto give = static_cast<uInt>(std::min<std::uint64_t>(kChunk, room));
    zs.next_out = chunk.data();
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
      if (!sink.Take(chunk.data(), got)) break;
    }
    const std::uint64_t consumed = srcLen - inLeft - zs.avail_in;
    if (consumed - consumedShown >= kProgressStep) {
      AddProgress(consumed - consumedShown);
      consumedShown = consumed;
    }
    if (st == Z_STREAM_END) {
      // A raw stream ends at its last block: the 4-byte trailer must follow it.
      result = (trustHash && zs.avail_in + inLeft < 4) ? zstatus::DataError : zstatus::Ok;
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
  inflateEnd(&zs);
  AddProgress(srcLen - consumedShown);
  return result;
}

void ShowStatusMessage(App& app, int status) {
  const char* text = nullptr;
  if (status == zstatus::BufError) text = kBufferTooSmall;
  if (status == zstatus::MemError) text = kNoMemory;
  if (status == zstatus::DataError) text = kCorrupted;
  if (text) app.ui.MsgBox(text, msg::Exclamation, kProgramName);
}

// Start and end of both extractions.
void Begin(App& app) {
  app.ui.SetBusy(true);
  app.state.busy = true;
  app.state.stopExtraction = false;
  app.ui.SetExtractEnabled(false);
  app.state.packageLength = fsys::FileLength(app.state.openedFile).value_or(0);
  app.state.extractedCount = 0;
  const std::string bin = app.state.extractionFolder + "bin";
  if (!fsys::FolderExists(bin)) fsys::CreateFolder(bin);
}

// Ends an extraction, whichever way it ends: no more progress, the window usable again.
void End(App& app) {
  g_meter = nullptr;
  app.ui.SetBusy(false);
  app.state.busy = false;
  app.ui.SetExtractEnabled(true);
}

void ShowResult(App& app, const std::string& list, const std::vector<std::string>& mismatches) {
  if (!mismatches.empty()) {
    std::string text = kHashMismatchHead;
    for (const auto& m : mismatches) text += kCrLf + m;
    app.ui.MsgBox(text, msg::Exclamation, kProgramName);
  }
  if (app.state.extractedCount == 0) return;
  app.ui.Beep();
  const std::string folder = app.state.extractionFolder + "bin";
  app.ui.ShowExtractResult(kResultHead + folder + kCrLf + kCrLf + list, folder);
}

// The normal end: full progress, then the result.
void Finish(App& app, Meter& meter, const std::string& list, const std::vector<std::string>& mismatches) {
  meter.done = meter.total;
  meter.Show();
  End(app);
  ShowResult(app, list, mismatches);
}

void ShowUnexpected(App& app, const std::exception& e) {
  app.ui.MsgBox(std::string("Error:") + kProgramName + " : " + e.what(), msg::Plain, kProgramName);
}

}  // namespace

std::optional<Sha1Digest> RowSha1(const Row& row) {
  if (row.Get(col9::HashAlgorithm) != "SHA-1 algorithm") return std::nullopt;
  Sha1Digest d{};
  for (std::size_t i = 0; i < d.size(); ++i) {
    const std::string& cell = row.Get(col9::Hash1 + i);
    if (cell.size() != 2) return std::nullopt;
    std::uint8_t v = 0;
    auto [p, ec] = std::from_chars(cell.data(), cell.data() + 2, v, 16);
    if (ec != std::errc() || p != cell.data() + 2) return std::nullopt;
    d[i] = v;
  }
  // A longer digest is not SHA-1.
  if (!row.Get(col9::Hash1 + d.size()).empty()) return std::nullopt;
  return d;
}

int ExtractData(App& app, const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize,
                std::int64_t offset, const std::optional<Sha1Digest>& expected, HashCheck* check) {
  if (check) *check = HashCheck::None;
  if (name.empty() || compressSize == 0) return 0;
  if (compressSize < 0 || uncompressSize < 0 || !app.buffer.HasRange(offset, compressSize)) return 0;
  const auto srcLen = static_cast<std::size_t>(compressSize);
  const auto declared = static_cast<std::uint64_t>(uncompressSize);
  const std::uint8_t* src = app.buffer.Ptr(offset);
  if (declared > MaxInflatedSize(srcLen)) {
    // Deflate cannot expand this much: corrupt input, refused before anything is made.
    ShowStatusMessage(app, zstatus::DataError);
    return 0;
  }
  FolderHandle base = FolderHandle::Open(app.state.extractionFolder);
  OutputFile out;
  if (!out.Open(base, name)) return 0;
  Sha1 sha;
  Sink sink{&out, expected ? &sha : nullptr};
  int status = InflateTo(src, srcLen, declared, sink, expected.has_value());
  HashCheck outcome = HashCheck::None;
  if (status == zstatus::Ok && !sink.writeFailed && expected) {
    Sha1Digest digest{};
    outcome = sha.Final(digest) && digest == *expected ? HashCheck::Match : HashCheck::Mismatch;
    if (outcome == HashCheck::Mismatch) {
      // zlib has the last word on the stream: inflate it again with its own check.
      Sink none;
      status = InflateTo(src, srcLen, declared, none, false);
    }
  }
  if (status != zstatus::Ok || sink.writeFailed) {
    out.Abort();
    if (!sink.writeFailed) ShowStatusMessage(app, status);
    return 0;
  }
  if (!out.Commit()) return 0;
  if (check) *check = outcome;
  if (!app.state.stopExtraction) ++app.state.extractedCount;
  return 1;
}

int CutFile2(App& app, const std::string& name, std::int64_t offset, std::int64_t length,
             const std::optional<Sha1Digest>& expected, HashCheck* check) {
  if (check) *check = HashCheck::None;
  // An empty file is a file too: a length of 0 inside the buffer writes an empty file.
  if (name.empty() || length < 0 || !app.buffer.HasRange(offset, length)) return 0;
  FolderHandle base = FolderHandle::Open(app.state.extractionFolder);
  OutputFile out;
  if (!out.Open(base, name)) return 0;
  Sha1 sha;
  Sink sink{&out, expected ? &sha : nullptr};
  const std::uint8_t* p = app.buffer.Ptr(offset);
  auto left = static_cast<std::uint64_t>(length);
  // Written in pieces so that the hash runs over bytes still in the cache.
  while (left > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
    if (!sink.Take(p, n)) return 0;
    AddProgress(n);
    p += n;
    left -= n;
  }
  if (!out.Commit()) return 0;
  if (check && expected) {
    Sha1Digest digest{};
    *check = sha.Final(digest) && digest == *expected ? HashCheck::Match : HashCheck::Mismatch;
  }
  return 1;
}

void ExtractOne(App& app) {
  Begin(app);
  Meter meter{app.ui};
  for (const Row& row : app.stores.ListView2) meter.total += static_cast<std::uint64_t>(std::max<std::int64_t>(0, DecimalValue(row.Get(col2::Length))));
  g_meter = &meter;
  meter.Show();
  std::string list;
  try {
    const FolderHandle base = FolderHandle::Open(app.state.extractionFolder);
    // The reader's rule: deflated in the release-6 record layout unless NOCOMPRESS is set.
    const bool compressed = sis_old::FilesAreDeflated(app.buffer);
    for (const Row& row : app.stores.ListView2) {
      const std::int64_t uncompressSize = DecimalValue(row.Get(col2::Uncompress));
      const std::int64_t compressSize = DecimalValue(row.Get(col2::Compress));
      const std::int64_t offset = DecimalValue(row.Get(col2::Offset));
      const std::int64_t length = DecimalValue(row.Get(col2::Length));
      if (app.state.packageLength < offset + length) {
        // The table points beyond the package: stop here, keeping what was written.
        app.state.stopExtraction = true;
        End(app);
        return;
      }
      const std::string& name = row.Text();
      CreateDestinationFolders(base, name);
      if (!compressed) {
        if (length != 0) {
          if (CutFile2(app, name, offset, length) == 1) {
            ++app.state.extractedCount;
            list += BareName(name) + kCrLf;
          } else {
            app.ui.MsgBox(kErrorExtracting + ShownPath(app, name), msg::Critical, kProgramName);
          }
        }
      } else if (compressSize != 0) {
        if (ExtractData(app, name, compressSize, uncompressSize, offset) == 1) {
          list += BareName(name) + kCrLf;
        } else {
          app.ui.MsgBox(kErrorExtracting + ShownPath(app, name), msg::Critical, kProgramName);
        }
      }
    }
  } catch (const std::exception& e) {
    // An unexpected failure ends the extraction; what was written stays.
    End(app);
    ShowUnexpected(app, e);
    return;
  }
  Finish(app, meter, list, {});
}

void ExtractTwo(App& app) {
  Begin(app);
  Meter meter{app.ui};
  for (const Row& row : app.stores.ListView1) {
    const bool deflated = row.Get(col9::Compression) == "1";
    meter.total += static_cast<std::uint64_t>(HexValue(row.Get(deflated ? col9::CompressByte : col9::UncompressByte)));
  }
  g_meter = &meter;
  meter.Show();
  std::string list;
  std::vector<std::string> mismatches;
  try {
    const FolderHandle base = FolderHandle::Open(app.state.extractionFolder);
    for (const Row& row : app.stores.ListView1) {
      const std::string& name = row.Get(col9::ExtractPath);
      CreateDestinationFolders(base, name);
      // A row without an offset has no data in this package (a pre-installed package
      // describes files already on the device): nothing to write.
      const bool hasData = !row.Get(col9::Offset).empty();
      const std::int64_t offset = HexValue(row.Get(col9::Offset));
      const std::int64_t compressSize = HexValue(row.Get(col9::CompressByte));
      const std::int64_t uncompressSize = HexValue(row.Get(col9::UncompressByte));
      const auto expected = RowSha1(row);
      HashCheck check = HashCheck::None;
      bool written;
      if (row.Get(col9::Compression) == "1") {
        written = hasData && ExtractData(app, name, compressSize, uncompressSize, offset, expected, &check) == 1;
        if (!written) app.ui.MsgBox(kErrorExtracting + ShownPath(app, name), msg::Critical, kProgramName);
      } else {
        written = hasData && CutFile2(app, name, offset, uncompressSize, expected, &check) == 1;
        if (written)
          ++app.state.extractedCount;
        else
          app.ui.MsgBox(kErrorCutting + ShownPath(app, name), msg::Critical, kProgramName);
      }
      if (!written) continue;
      if (check == HashCheck::Mismatch) {
        list += BareName(name) + kHashMismatchMark + kCrLf;
        mismatches.push_back(ShownPath(app, name));
      } else {
        list += BareName(name) + kCrLf;
      }
    }
  } catch (const std::exception& e) {
    End(app);
    ShowUnexpected(app, e);
    return;
  }
  Finish(app, meter, list, mismatches);
}

void mnExtr_Click(App& app) {
  auto picked = app.ui.ChooseFolder(kFolderTitle);
  if (!picked) return;
  std::string folder = *picked;
  if (const auto nul = folder.find('\0'); nul != std::string::npos) folder.resize(nul);
  if (folder.empty()) return;
  if (folder.back() != kSep) folder += kSep;
  app.state.extractionFolder = folder;
  if (app.state.formatMarker == 0)
    ExtractOne(app);
  else if (!app.state.stub)
    ExtractTwo(app);
}

}  // namespace tarvik::extract
