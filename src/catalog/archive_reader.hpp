#pragma once
// Packages inside archives (ZIP, TAR plain or compressed with gzip, bzip2 or xz, 7z), read
// with libarchive: the archive is walked member by member, never extracted; a member whose
// first bytes are those of a package is read whole into memory (up to a cap) and handed on,
// and a member named like an archive is read into memory and walked in turn. Whatever is
// wrong with an archive (cut, encrypted, unpacking to far more than it holds, links, names
// that leave it, absurd member counts) is handed on as a problem of that archive; the walk
// of the other archives goes on.

#include <cstdint>
#include <string>

#include "bytes/file_buffer.hpp"

namespace tarvik::catalog {

struct ArchiveLimits {
  // The largest member read into memory (a package, or an archive inside the archive).
  std::uint64_t memberCap = 256ull << 20;
  // What an archive may unpack to, at most: this plus `unpackFactor` times its own size.
  std::uint64_t unpackBase = 64ull << 20;
  std::uint64_t unpackFactor = 100;
  // Members of one archive looked at, at most.
  std::uint64_t maxMembers = 1000000;
  // Archives inside archives followed this deep (1: a ZIP inside a ZIP).
  int maxNesting = 3;
};

// One archive (the file itself, or one inside it) as far as it was read.
struct ArchiveSummary {
  std::string member;  // empty for the file itself; otherwise its member path (below)
  std::string format;  // libarchive's name of the format and its compression
  std::uint64_t members = 0;
  std::uint64_t packages = 0;
};

// Where the reader hands what it finds. Member paths of archives inside archives are joined
// with "!/": "inner.zip!/apps/game.sis".
class ArchiveSink {
 public:
  virtual ~ArchiveSink() = default;
  // Room for `n` more bytes of members in memory; may wait until there is. Every byte
  // asked for is given back with Free.
  virtual void Reserve(std::uint64_t n) = 0;
  virtual void Free(std::uint64_t n) = 0;
  // A member whose first bytes are those of a package, read whole.
  virtual void Package(const std::string& member, std::int64_t mtimeNs, const FileBytes& bytes) = 0;
  virtual void Problem(const std::string& member, const std::string& problem) = 0;
  // An archive read to its end or as far as it could be, after its members.
  virtual void Archive(const ArchiveSummary& summary) = 0;
};

// Reads the file open at `fd` (`size` bytes) as an archive. False when libarchive does not
// recognise it as one (nothing was handed to the sink).
bool ReadArchive(int fd, std::uint64_t size, const ArchiveLimits& limits, ArchiveSink& sink);

// Whether a member's name is one of an archive, by its ending (.zip, .tar, .tar.gz, .tgz,
// .tar.bz2, .tbz2, .tar.xz, .txz, .7z, ...).
bool NamedLikeArchive(const std::string& name);

}  // namespace tarvik::catalog
