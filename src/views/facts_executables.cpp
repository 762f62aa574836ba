// The executables a package carries, read from the start of each carried file.

#include <algorithm>

#include "bytes/inflate.hpp"
#include "signers/signers.hpp"
#include "views/facts.hpp"

namespace tarvik::views {

namespace {

using model::FileEntry;
using model::Package;

// The start of one carried file's content: its stored bytes, or as much of its zlib stream
// as gives the bytes asked for.
class StoredContent {
 public:
  StoredContent(std::span<const std::uint8_t> file, const FileEntry& e, InflateStream& stream)
      : deflated_(e.compression == 1), stream_(stream) {
    const auto at = static_cast<std::uint64_t>(*e.dataOffset);
    if (at >= file.size()) return;
    stored_ = file.subspan(static_cast<std::size_t>(at),
                           static_cast<std::size_t>(std::min<std::uint64_t>(e.compressedSize, file.size() - at)));
    declared_ = std::min(e.uncompressedSize, MaxInflatedSize(stored_.size()));
  }

  // Whether more of the content costs inflating it.
  bool Deflated() const { return deflated_; }

  std::span<const std::uint8_t> operator()(std::size_t n) {
    if (!deflated_) return stored_.first(std::min(n, stored_.size()));
    if (n > out_.size() && !ended_) Inflate(n);
    return std::span<const std::uint8_t>(out_).first(std::min(n, out_.size()));
  }

 private:
  // Inflates from the start again until `n` bytes are out (or the stream ends).
  void Inflate(std::size_t n) {
    out_.clear();
    InflateOptions options;
    options.skipAdler = true;
    options.stream = &stream_;
    options.pieceSize = std::clamp<std::size_t>(n, 256, 256 * 1024);
    const int status = InflateTo(
        stored_.data(), stored_.size(), declared_,
        [&](const std::uint8_t* data, std::size_t size) {
          out_.insert(out_.end(), data, data + std::min(size, n - out_.size()));
          return out_.size() < n;
        },
        options);
    // Anything but a stop for having enough means that no more can be had.
    ended_ = status != zstatus::Stopped;
  }

  std::span<const std::uint8_t> stored_;
  bool deflated_;
  InflateStream& stream_;
  std::uint64_t declared_ = 0;
  Bytes out_;
  bool ended_ = false;
};

void AddBlock(const Package& p, const model::InstallBlock& b,
              std::vector<std::pair<const Package*, const FileEntry*>>& out) {
  for (const FileEntry& e : b.files) out.emplace_back(&p, &e);
  for (const model::IfBlock& i : b.ifs) {
    if (i.branch.block) AddBlock(p, *i.branch.block, out);
    for (const model::ConditionalBlock& c : i.elseIfs)
      if (c.block) AddBlock(p, *c.block, out);
  }
}

}  // namespace

std::vector<std::pair<const Package*, const FileEntry*>> OwnFiles(const Package& main) {
  std::vector<std::pair<const Package*, const FileEntry*>> out;
  for (const auto& [pkg, parent] : PackageTree(main)) {
    const Package& p = *pkg;
    if (p.generation == model::Generation::Pre9) {
      for (const model::Record& r : p.records)
        for (const FileEntry& e : r.entries) out.emplace_back(&p, &e);
      continue;
    }
    if (p.logo) out.emplace_back(&p, &*p.logo);
    AddBlock(p, p.body, out);
    for (const model::InstallBlock& b : p.laterBlocks) AddBlock(p, b, out);
  }
  return out;
}

std::vector<ExecutableFacts> ExecutablesOf(const Package& main, std::span<const std::uint8_t> file) {
  std::vector<ExecutableFacts> out;
  InflateStream stream;
  const auto files = OwnFiles(main);
  // Headers are small; only emulator builds ask for more (their Symbian section), and a
  // package gets that much read for all of them together, so that a package of many files
  // that say their sections lie far in cannot make a read of every file's whole content.
  constexpr std::size_t kSmall = 4096;
  constexpr std::uint64_t kFarReads = 64u << 20;
  std::uint64_t farRead = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const FileEntry& e = *files[i].second;
    if (!e.dataOffset || e.compressedSize == 0) continue;
    StoredContent content(file, e, stream);
    auto image = e32::ReadExecutable([&](std::size_t n) {
      if (n <= kSmall || !content.Deflated()) return content(n);
      if (farRead + n > kFarReads) return content(kSmall);
      farRead += n;
      return content(n);
    });
    if (image) out.push_back({files[i].first, &e, i, std::move(*image)});
  }
  return out;
}

const char* ExecutableFacts::KindName() const {
  switch (image.header.uid1) {
    case e32::kExecutableUid: return "EXE";
    case e32::kDllUid: return "DLL";
    default: return "";
  }
}

std::string ExecutableFacts::FormatText() const {
  if (image.emulator && !image.symbianSection) return "emulator";
  if (image.emulator) return image.header.format == e32::Format::Eka2 ? "emulator (WINSCW)" : "emulator (WINS)";
  return e32::FormatName(image.header.format);
}

std::string ExecutableFacts::CompressionText() const {
  const char* name = e32::CompressionName(image.header.compression);
  return name ? name : UidText(image.header.compression);
}

std::vector<std::string> ExecutableFacts::CapabilityNames() const {
  return image.header.capabilities ? signers::CapabilityNames(*image.header.capabilities) : std::vector<std::string>{};
}

}  // namespace tarvik::views
