#include "catalog/archive_reader.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <memory>

#include "parse/parse.hpp"

namespace tarvik::catalog {

namespace {

constexpr std::size_t kHeadBytes = 16;
constexpr std::size_t kChunk = 64 * 1024;
// A header that asks to be read again is asked this many times at most.
constexpr int kRetries = 3;

struct ArchiveFree {
  void operator()(archive* a) const { archive_read_free(a); }
};
using ArchivePtr = std::unique_ptr<archive, ArchiveFree>;

// A reader of the formats a collection travels in, and nothing else: no format that could
// take any file for an archive ("raw", "empty"), no writer.
ArchivePtr NewReader() {
  ArchivePtr a(archive_read_new());
  if (!a) return a;
  archive_read_support_format_zip(a.get());
  archive_read_support_format_tar(a.get());
  archive_read_support_format_7zip(a.get());
  archive_read_support_filter_gzip(a.get());
  archive_read_support_filter_bzip2(a.get());
  archive_read_support_filter_xz(a.get());
  archive_read_support_filter_lzma(a.get());
  return a;
}

std::string ErrorOf(archive* a) {
  const char* text = archive_error_string(a);
  return text && *text ? text : "cannot be read";
}

// "ZIP", "TAR + gzip", "7z" ...
std::string FormatOf(archive* a) {
  std::string out;
  switch (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_ZIP: out = "ZIP"; break;
    case ARCHIVE_FORMAT_TAR: out = "TAR"; break;
    case ARCHIVE_FORMAT_7ZIP: out = "7z"; break;
    default: {
      const char* name = archive_format_name(a);
      out = name ? name : "unknown";
    }
  }
  for (int i = archive_filter_count(a) - 1; i >= 0; --i) {
    const char* filter = archive_filter_name(a, i);
    if (filter && std::string_view(filter) != "none") out += std::string(" + ") + filter;
  }
  return out;
}

std::string NameOf(archive_entry* e) {
  if (const char* utf8 = archive_entry_pathname_utf8(e)) return utf8;
  if (const char* raw = archive_entry_pathname(e)) return raw;
  return "(no name)";
}

// An absolute name, a drive, or a ".." step.
bool LeavesArchive(const std::string& name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find_first_of("/\\", start), name.size());
    if (name.compare(start, end - start, "..") == 0) return true;
    start = end + 1;
  }
  return false;
}

// libarchive found no format it reads (and was not stopped by a damaged compression): its
// "Unrecognized archive format" comes with the file-format error number, EILSEQ on Linux.
bool Unrecognised(archive* a) { return archive_format(a) == 0 && archive_errno(a) == EILSEQ; }

std::string MiB(std::uint64_t n) { return std::to_string((n + (1u << 20) - 1) >> 20) + " MiB"; }

// Walks the members of one archive; archives named inside it are walked in turn.
class Walker {
 public:
  Walker(const ArchiveLimits& limits, ArchiveSink& sink) : limits_(limits), sink_(sink) {}

  enum class Outcome { NotArchive, Read };

  // `self`: the member path of this archive (empty for the file); `packed`: its size.
  Outcome Walk(archive* a, const std::string& self, std::uint64_t packed, int depth) {
    ArchiveSummary summary{self, {}, 0, 0};
    const std::string prefix = self.empty() ? std::string() : self + "!/";
    const std::uint64_t allowed =
        limits_.unpackBase + std::min<std::uint64_t>(packed, UINT64_MAX / 2 / std::max<std::uint64_t>(1, limits_.unpackFactor)) *
                                 limits_.unpackFactor;
    std::uint64_t unpacked = 0;
    int retries = 0;
    for (bool first = true;; first = false) {
      archive_entry* e = nullptr;
      const int r = archive_read_next_header(a, &e);
      if (r == ARCHIVE_EOF) break;
      if (first && r == ARCHIVE_FATAL && Unrecognised(a)) return Outcome::NotArchive;
      if (summary.format.empty()) summary.format = FormatOf(a);
      if (r == ARCHIVE_RETRY && ++retries <= kRetries) continue;
      if (r < ARCHIVE_WARN) {
        sink_.Problem(self, ErrorOf(a));
        break;
      }
      if (++summary.members > limits_.maxMembers) {
        sink_.Problem(self, "more than " + std::to_string(limits_.maxMembers) + " members: the rest is not read");
        break;
      }
      const std::string name = NameOf(e);
      if (!Readable(e, name, prefix + name)) continue;
      if (archive_entry_size_is_set(e)) unpacked += static_cast<std::uint64_t>(std::max<la_int64_t>(0, archive_entry_size(e)));
      if (unpacked > allowed) {
        sink_.Problem(self, "unpacks to more than " + MiB(allowed) + " (" + std::to_string(limits_.unpackFactor) +
                                " times its size and more): the rest is not read");
        break;
      }
      if (!Member(a, e, name, prefix + name, depth, summary, unpacked)) break;
    }
    sink_.Archive(summary);
    return Outcome::Read;
  }

 private:
  // Whether a member is a regular file that may be read; what is wrong with it said.
  bool Readable(archive_entry* e, const std::string& name, const std::string& member) {
    const auto type = archive_entry_filetype(e);
    if (type == AE_IFDIR) return false;
    if (const char* target = archive_entry_hardlink(e)) {
      sink_.Problem(member, std::string("a link to ") + target + ": not followed");
      return false;
    }
    if (type == AE_IFLNK) {
      const char* target = archive_entry_symlink(e);
      sink_.Problem(member, std::string("a symbolic link to ") + (target ? target : "?") + ": not followed");
      return false;
    }
    if (type != AE_IFREG) {
      sink_.Problem(member, "not a regular file: not read");
      return false;
    }
    if (LeavesArchive(name)) {
      sink_.Problem(member, "a name that leads out of the archive: not read");
      return false;
    }
    if (archive_entry_is_encrypted(e)) {
      sink_.Problem(member, "encrypted: not read");
      return false;
    }
    return true;
  }

  // Reads up to `n` bytes of the current member; -1 on an error (said), or what was read.
  la_ssize_t Read(archive* a, std::uint8_t* to, std::size_t n, const std::string& member, bool& fatal) {
    std::size_t done = 0;
    int retries = 0;
    while (done < n) {
      const la_ssize_t got = archive_read_data(a, to + done, n - done);
      if ((got == ARCHIVE_RETRY || got == ARCHIVE_WARN) && ++retries <= kRetries) continue;
      if (got < 0) {
        sink_.Problem(member, ErrorOf(a));
        fatal = got == ARCHIVE_FATAL;
        return -1;
      }
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return static_cast<la_ssize_t>(done);
  }

  // One regular member: a package is handed on, an archive walked; false when the archive
  // cannot be read any further.
  bool Member(archive* a, archive_entry* e, const std::string& name, const std::string& member, int depth,
              ArchiveSummary& summary, std::uint64_t& unpacked) {
    std::array<std::uint8_t, kHeadBytes> head{};
    bool fatal = false;
    const la_ssize_t headSize = Read(a, head.data(), head.size(), member, fatal);
    if (headSize < 0) return !fatal;
    const bool package = LooksLikePackage(std::span<const std::uint8_t>(head.data(), static_cast<std::size_t>(headSize)));
    if (!package && !NamedLikeArchive(name)) return true;
    if (!package && depth >= limits_.maxNesting) {
      sink_.Problem(member, "an archive nested more than " + std::to_string(limits_.maxNesting) + " deep: not read");
      return true;
    }
    const bool sized = archive_entry_size_is_set(e);
    const std::uint64_t declared = sized ? static_cast<std::uint64_t>(std::max<la_int64_t>(0, archive_entry_size(e))) : 0;
    if (declared > limits_.memberCap) {
      sink_.Problem(member, "larger than " + MiB(limits_.memberCap) + ": not read");
      return true;
    }
    Held held(sink_);
    Bytes bytes(head.begin(), head.begin() + headSize);
    if (sized) {
      held.Add(declared);
      bytes.reserve(static_cast<std::size_t>(declared) + kChunk);
    }
    for (;;) {
      const std::size_t at = bytes.size();
      if (at > limits_.memberCap) {
        sink_.Problem(member, "unpacks to more than " + MiB(limits_.memberCap) + ": not read");
        return true;
      }
      std::size_t want = kChunk;
      if (sized && at < declared)
        want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, declared - at));
      else
        held.Add(want);  // beyond what the member declared
      bytes.resize(at + want);
      const la_ssize_t got = Read(a, bytes.data() + at, want, member, fatal);
      if (got < 0) return !fatal;
      bytes.resize(at + static_cast<std::size_t>(got));
      if (!sized) unpacked += static_cast<std::uint64_t>(got);
      if (got == 0) break;
    }
    const std::int64_t mtime = archive_entry_mtime_is_set(e) ? static_cast<std::int64_t>(archive_entry_mtime(e)) * 1000000000 +
                                                                    archive_entry_mtime_nsec(e)
                                                              : 0;
    if (package) {
      ++summary.packages;
      sink_.Package(member, mtime, FileBytes(std::move(bytes)));
      return true;
    }
    ArchivePtr inner = NewReader();
    if (!inner) return true;
    if (archive_read_open_memory(inner.get(), bytes.data(), bytes.size()) == ARCHIVE_OK)
      Walk(inner.get(), member, bytes.size(), depth + 1);
    else if (!Unrecognised(inner.get()))
      Unopened(inner.get(), member);
    return true;
  }

 public:
  // An archive whose compression was recognised but could not be opened (a cut stream).
  void Unopened(archive* a, const std::string& self) {
    sink_.Problem(self, ErrorOf(a));
    sink_.Archive({self, FormatOf(a), 0, 0});
  }

 private:

  // Bytes of members asked for from the sink, given back when the member is done with.
  class Held {
   public:
    explicit Held(ArchiveSink& sink) : sink_(sink) {}
    ~Held() {
      if (n_) sink_.Free(n_);
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    void Add(std::uint64_t n) {
      sink_.Reserve(n);
      n_ += n;
    }

   private:
    ArchiveSink& sink_;
    std::uint64_t n_ = 0;
  };

  const ArchiveLimits& limits_;
  ArchiveSink& sink_;
};

}  // namespace

bool ReadArchive(int fd, std::uint64_t size, const ArchiveLimits& limits, ArchiveSink& sink) {
  if (::lseek(fd, 0, SEEK_SET) != 0) return false;
  ArchivePtr a = NewReader();
  if (!a) return false;
  Walker walker(limits, sink);
  if (archive_read_open_fd(a.get(), fd, kChunk) != ARCHIVE_OK) {
    if (Unrecognised(a.get())) return false;
    // Recognised, but cut or damaged where the format is told (a cut compressed stream).
    walker.Unopened(a.get(), {});
    return true;
  }
  return walker.Walk(a.get(), {}, size, 0) == Walker::Outcome::Read;
}

bool NamedLikeArchive(const std::string& name) {
  static constexpr std::string_view kEndings[] = {".zip", ".tar", ".tgz", ".gz", ".tbz", ".tbz2",
                                                  ".bz2", ".txz", ".xz",  ".7z", ".lzma"};
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return std::any_of(std::begin(kEndings), std::end(kEndings), [&](std::string_view end) { return lower.ends_with(end); });
}

}  // namespace tarvik::catalog
