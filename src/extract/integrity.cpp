#include "extract/integrity.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <memory>

#include "bytes/inflate.hpp"

namespace tarvik::extract {

namespace {

class Digest {
 public:
  Digest() : ctx_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {}
  void Start() { ok_ = ctx_ && EVP_DigestInit_ex(ctx_.get(), EVP_sha1(), nullptr) == 1; }
  void Update(const std::uint8_t* data, std::size_t n) {
    if (ok_ && n) ok_ = EVP_DigestUpdate(ctx_.get(), data, n) == 1;
  }
  bool Matches(const views::Sha1Digest& expected) {
    views::Sha1Digest d{};
    unsigned int len = 0;
    return ok_ && EVP_DigestFinal_ex(ctx_.get(), d.data(), &len) == 1 && len == d.size() && d == expected;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
  bool ok_ = false;
};

struct Tester {
  ByteView package;
  Reporter& reporter;
  ProgressInfo progress;
  InflateStream stream;
  Digest digest;

  Integrity Test(const views::FileRow& row) {
    if (!row.hasData) return Integrity::NoData;
    const auto length = static_cast<std::int64_t>(std::min<std::uint64_t>(
        row.deflated ? row.compressedSize : row.uncompressedSize, static_cast<std::uint64_t>(package.Size())));
    const std::uint64_t claimed = row.deflated ? row.compressedSize : row.uncompressedSize;
    if ((row.entry && row.entry->pastCut) || static_cast<std::uint64_t>(length) != claimed ||
        !package.HasRange(row.offset, length))
      return Integrity::Damaged;
    digest.Start();
    const std::uint8_t* src = package.Ptr(row.offset);
    if (!row.deflated) {
      digest.Update(src, static_cast<std::size_t>(length));
      Advance(static_cast<std::uint64_t>(length));
    } else {
      InflateOptions options;
      options.stream = &stream;
      options.progress = [this](std::uint64_t n) { Advance(n); };
      options.cancelled = [this] { return reporter.Cancelled(); };
      const int status = InflateTo(
          src, static_cast<std::size_t>(length), row.uncompressedSize,
          [this](const std::uint8_t* d, std::size_t n) {
            digest.Update(d, n);
            return true;
          },
          options);
      if (status != zstatus::Ok) return Integrity::Damaged;
    }
    if (!row.sha1) return Integrity::Sound;
    return digest.Matches(*row.sha1) ? Integrity::Match : Integrity::Mismatch;
  }

  void Advance(std::uint64_t n) {
    progress.bytesDone += n;
    reporter.Advance(progress);
  }
};

}  // namespace

const char* IntegrityName(Integrity outcome) {
  switch (outcome) {
    case Integrity::Match: return "matches its SHA-1";
    case Integrity::Sound: return "readable (no SHA-1 to compare)";
    case Integrity::Mismatch: return "does not match its SHA-1";
    case Integrity::Damaged: return "damaged";
    case Integrity::NoData: return "no data in the package";
  }
  return "";
}

std::size_t IntegrityReport::Count(Integrity outcome) const {
  return static_cast<std::size_t>(std::count(outcomes.begin(), outcomes.end(), outcome));
}

std::string IntegrityReport::Summary() const {
  const std::size_t n = outcomes.size();
  std::string text = std::to_string(n) + (n == 1 ? " file tested" : " files tested");
  if (cancelled) text += " before the test was cancelled";
  const struct {
    Integrity outcome;
    const char *one, *many;
  } parts[] = {
      {Integrity::Match, " matches its SHA-1", " match their SHA-1"},
      {Integrity::Sound, " is readable (no SHA-1 to compare)", " are readable (no SHA-1 to compare)"},
      {Integrity::Mismatch, " does not match its SHA-1", " do not match their SHA-1"},
      {Integrity::Damaged, " is damaged", " are damaged"},
      {Integrity::NoData, " has no data in the package", " have no data in the package"},
  };
  const char* sep = ": ";
  for (const auto& p : parts) {
    const std::size_t c = Count(p.outcome);
    if (c == 0) continue;
    text += sep + std::to_string(c) + (c == 1 ? p.one : p.many);
    sep = ", ";
  }
  return text;
}

IntegrityReport TestIntegrity(ByteView package, const std::vector<views::FileRow>& rows, Reporter& reporter) {
  IntegrityReport report;
  Tester tester{package, reporter, {}, {}, {}};
  tester.progress.filesTotal = rows.size();
  for (const views::FileRow& row : rows)
    if (row.hasData) tester.progress.bytesTotal += row.deflated ? row.compressedSize : row.uncompressedSize;
  report.outcomes.reserve(rows.size());
  for (const views::FileRow& row : rows) {
    if (reporter.Cancelled()) {
      report.cancelled = true;
      break;
    }
    report.outcomes.push_back(tester.Test(row));
    ++tester.progress.filesDone;
    reporter.Advance(tester.progress);
  }
  return report;
}

std::optional<Bytes> FileStart(ByteView package, const views::FileRow& row, std::size_t limit) {
  if (!row.hasData || (row.entry && row.entry->pastCut)) return std::nullopt;
  const std::uint64_t stored = row.deflated ? row.compressedSize : row.uncompressedSize;
  if (stored > static_cast<std::uint64_t>(package.Size()) ||
      !package.HasRange(row.offset, static_cast<std::int64_t>(stored)))
    return std::nullopt;
  const std::uint8_t* src = package.Ptr(row.offset);
  Bytes out;
  if (!row.deflated) {
    out.assign(src, src + std::min<std::uint64_t>(stored, limit));
    return out;
  }
  const int status = InflateTo(src, static_cast<std::size_t>(stored), row.uncompressedSize,
                               [&](const std::uint8_t* d, std::size_t n) {
                                 out.insert(out.end(), d, d + std::min(n, limit - out.size()));
                                 return out.size() < limit;
                               });
  if (status != zstatus::Ok && !(status == zstatus::Stopped && out.size() == limit)) return std::nullopt;
  return out;
}

}  // namespace tarvik::extract
