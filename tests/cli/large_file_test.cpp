// A huge file costs what its data costs: a package followed by gigabytes of holes (a sparse
// file) is read by every command without taking the file's size in memory, and its facts
// (size, SHA-1 of the whole file) are those of the whole file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "catalog/database.hpp"
#include "support/sis9_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

constexpr std::uint64_t kFileSize = 2ull << 30;

// A run of the command line in a process of its own: its exit status, what it wrote, and
// its peak resident size.
struct MeasuredRun {
  int status = -1;
  std::string out;
  long peakKiB = 0;
};

MeasuredRun RunMeasured(const std::vector<std::string>& args, const test::TempDir& dir) {
  MeasuredRun run;
  const std::string outPath = dir / "out.txt";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(TARVIK_CLI_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(TARVIK_CLI_PATH, argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (pid > 0 && ::wait4(pid, &status, 0, &usage) == pid) {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakKiB = usage.ru_maxrss;
  }
  run.out = test::ReadFile(outPath);
  return run;
}

// The SHA-1 of `head` followed by zeros up to `size` bytes, in lower-case hexadecimal.
std::string Sha1OfHeadAndZeros(const Bytes& head, std::uint64_t size) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
  EVP_DigestUpdate(ctx, head.data(), head.size());
  const std::vector<std::uint8_t> zeros(1u << 20, 0);
  for (std::uint64_t done = head.size(); done < size;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), size - done));
    EVP_DigestUpdate(ctx, zeros.data(), n);
    done += n;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_DigestFinal_ex(ctx, digest, &len);
  EVP_MD_CTX_free(ctx);
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < len; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

TEST(LargeFiles, SparseFileWithAPackageHeadCostsLittleMemory) {
  test::TempDir dir;
  const Bytes head = test::sis9w::MakeDemoPackage();
  const std::string path = dir.Write("c/big.sis", head);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kFileSize)), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  if (static_cast<std::uint64_t>(st.st_blocks) * 512 > kFileSize / 2) GTEST_SKIP() << "no sparse files here";
  const std::string sha1 = Sha1OfHeadAndZeros(head, kFileSize);
  // Far below the file's size: the package's own bytes, the program, and the catalogue's cache.
  constexpr long kCeilingKiB = 256 * 1024;

  const MeasuredRun json = RunMeasured({"info", "--json", path}, dir);
  EXPECT_EQ(json.status, 0);
  EXPECT_LT(json.peakKiB, kCeilingKiB);
  EXPECT_NE(json.out.find("\"size\":" + std::to_string(kFileSize)), std::string::npos) << json.out.substr(0, 300);
  EXPECT_NE(json.out.find("\"sha1\":\"" + sha1 + "\""), std::string::npos) << json.out.substr(0, 300);
  EXPECT_NE(json.out.find("settings.ini"), std::string::npos);

  for (const char* command : {"info", "pkg"}) {
    const MeasuredRun r = RunMeasured({command, path}, dir);
    EXPECT_EQ(r.status, 0) << command;
    EXPECT_LT(r.peakKiB, kCeilingKiB) << command;
    EXPECT_NE(r.out.find("settings.ini"), std::string::npos) << command;
  }

  const std::string db = dir / "c.sqlite";
  const MeasuredRun cat = RunMeasured({"catalog", dir / "c", "--db", db}, dir);
  EXPECT_EQ(cat.status, 0) << cat.out;
  EXPECT_LT(cat.peakKiB, kCeilingKiB);
  catalog::Database d;
  ASSERT_TRUE(d.Open(db, true));
  catalog::Statement row = d.Prepare("SELECT size, sha1, file_count FROM packages");
  ASSERT_TRUE(row.Step());
  EXPECT_EQ(row.Int(0), static_cast<std::int64_t>(kFileSize));
  EXPECT_EQ(row.Text(1), sha1);
  EXPECT_GT(row.Int(2), 0);
}

}  // namespace
}  // namespace tarvik
