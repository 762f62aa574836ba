// Reading files whole into FileBytes: the bytes are the file's, large files included, and the
// holes of a sparse file read as the zeros they are without being read or given memory; the
// digest of the whole file skips them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "platform/platform.hpp"
#include "views/facts.hpp"
#include "views/file_digest.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

// A piece of data written at an offset of a file of a given length (the rest holes).
struct Piece {
  std::size_t at;
  std::size_t length;
};

// Writes a file of `length` bytes holding `pieces` (bytes that differ from place to place)
// and holes elsewhere; the bytes the file holds.
Bytes WriteSparse(const std::string& path, std::size_t length, const std::vector<Piece>& pieces) {
  Bytes expected(length, 0);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(length)), 0);
  for (const Piece& p : pieces) {
    for (std::size_t i = 0; i < p.length; ++i) expected[p.at + i] = static_cast<std::uint8_t>((p.at + i) * 7 + 1);
    EXPECT_EQ(::pwrite(fd, expected.data() + p.at, p.length, static_cast<off_t>(p.at)), static_cast<ssize_t>(p.length));
  }
  ::close(fd);
  return expected;
}

TEST(FileBytes, FilesReadAsTheirBytesHolesAsZeros) {
  constexpr std::size_t kMiB = 1u << 20;
  struct Case {
    const char* what;
    std::size_t length;
    std::vector<Piece> pieces;
  };
  const Case cases[] = {
      {"empty", 0, {}},
      {"small, dense", 5000, {{0, 5000}}},
      {"small with a hole", 300000, {{0, 100}, {200000, 50}}},
      {"large, dense", 3 * kMiB + 17, {{0, 3 * kMiB + 17}}},
      {"large, all hole", 5 * kMiB, {}},
      {"large, data in holes", 9 * kMiB + 5, {{0, 4096}, {2 * kMiB + 3, 70000}, {9 * kMiB, 5}}},
      {"large, a hole at the end", 8 * kMiB, {{0, 100000}}},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = dir / "f.bin";
    const Bytes expected = WriteSparse(path, c.length, c.pieces);
    FileBytes read;
    std::string why;
    ASSERT_TRUE(fsys::ReadWholeFile(path, read, &why)) << why;
    ASSERT_EQ(read.size(), expected.size());
    EXPECT_TRUE(std::equal(read.begin(), read.end(), expected.begin()));
    EXPECT_EQ(read.Mapped(), c.length >= FileBytes::kMappedFrom);
    // The same bytes as the plain whole read, moved or not.
    Bytes plain;
    ASSERT_TRUE(fsys::ReadWholeFile(path, plain));
    const FileBytes moved = std::move(read);
    EXPECT_TRUE(std::equal(moved.begin(), moved.end(), plain.begin(), plain.end()));
    EXPECT_TRUE(read.empty());
    // The digest that leaves the holes untouched is that of every byte.
    EXPECT_EQ(views::FileSha1Hex(moved), views::Sha1Hex(plain));
  }
}

// A file that is not a regular one is not read, and the reason says what it is.
TEST(FileBytes, OnlyRegularFilesAreRead) {
  test::TempDir dir;
  const std::string fifo = dir / "pipe.sis";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  FileBytes read;
  std::string why;
  EXPECT_FALSE(fsys::ReadWholeFile(fifo, read, &why));
  EXPECT_EQ(why, "it is a named pipe, not a file");
  EXPECT_FALSE(fsys::ReadWholeFile(dir.Path(), read, &why));
  EXPECT_FALSE(fsys::ReadWholeFile(dir / "missing.sis", read, &why));
  EXPECT_EQ(why, "No such file or directory");
}

}  // namespace
}  // namespace tarvik
