// Collections that travel as archives: packages inside ZIP, TAR (plain and compressed), 7z
// and archives inside archives are catalogued with the archive and member they came from
// and their SHA-256; bad archives are recorded with their problem, the walk goes on, and
// nothing is ever written.
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalog/catalog.hpp"
#include "catalog/database.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using catalog::Database;
using catalog::Statement;

std::string Hex(const std::uint8_t* d, unsigned n) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned i = 0; i < n; ++i) (out += kDigits[d[i] >> 4]) += kDigits[d[i] & 15];
  return out;
}

std::string Digest(const EVP_MD* md, const std::uint8_t* data, std::size_t size) {
  std::uint8_t out[EVP_MAX_MD_SIZE];
  unsigned n = 0;
  EVP_Digest(data, size, out, &n, md, nullptr);
  return Hex(out, n);
}
std::string Sha256(const Bytes& b) { return Digest(EVP_sha256(), b.data(), b.size()); }
std::string Sha256(const std::string& s) {
  return Digest(EVP_sha256(), reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}
std::string Sha1(const Bytes& b) { return Digest(EVP_sha1(), b.data(), b.size()); }

// ---- Archives made with libarchive's writer --------------------------------------------

struct Member {
  enum class Kind { File, Symlink, Hardlink, Folder };
  Member(std::string n, Bytes d) : name(std::move(n)), data(std::move(d)) {}
  Member(std::string n, Kind k, std::string to = {}) : name(std::move(n)), kind(k), linkTo(std::move(to)) {}
  std::string name;
  Bytes data;
  Kind kind = Kind::File;
  std::string linkTo;
};

enum class Format { Zip, Tar, SevenZip };

struct ArchiveSpec {
  Format format = Format::Zip;
  const char* filter = "none";     // "gzip", "bzip2", "xz"
  const char* passphrase = nullptr;  // ZIP: traditional encryption
};

int Append(archive*, void* out, const void* data, size_t n) {
  auto* bytes = static_cast<Bytes*>(out);
  bytes->insert(bytes->end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + n);
  return static_cast<int>(n);
}
la_ssize_t AppendCallback(archive* a, void* out, const void* data, size_t n) { return Append(a, out, data, n); }

Bytes MakeArchive(const std::vector<Member>& members, const ArchiveSpec& spec = {}) {
  archive* a = archive_write_new();
  switch (spec.format) {
    case Format::Zip: archive_write_set_format_zip(a); break;
    case Format::Tar: archive_write_set_format_pax_restricted(a); break;
    case Format::SevenZip: archive_write_set_format_7zip(a); break;
  }
  const std::string filter = spec.filter;
  if (filter == "gzip") archive_write_add_filter_gzip(a);
  if (filter == "bzip2") archive_write_add_filter_bzip2(a);
  if (filter == "xz") archive_write_add_filter_xz(a);
  if (spec.passphrase) {
    EXPECT_EQ(archive_write_set_options(a, "zip:encryption=zipcrypt"), ARCHIVE_OK) << archive_error_string(a);
    EXPECT_EQ(archive_write_set_passphrase(a, spec.passphrase), ARCHIVE_OK);
  }
  archive_write_set_bytes_in_last_block(a, 1);
  Bytes out;
  EXPECT_EQ(archive_write_open(a, &out, nullptr, AppendCallback, nullptr), ARCHIVE_OK) << archive_error_string(a);
  for (const Member& m : members) {
    archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, m.name.c_str());
    archive_entry_set_mtime(e, 1200000000, 0);
    archive_entry_set_perm(e, 0644);
    switch (m.kind) {
      case Member::Kind::File:
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_size(e, static_cast<la_int64_t>(m.data.size()));
        break;
      case Member::Kind::Folder: archive_entry_set_filetype(e, AE_IFDIR); break;
      case Member::Kind::Symlink:
        archive_entry_set_filetype(e, AE_IFLNK);
        archive_entry_set_symlink(e, m.linkTo.c_str());
        break;
      case Member::Kind::Hardlink:
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_hardlink(e, m.linkTo.c_str());
        archive_entry_set_size(e, 0);
        break;
    }
    EXPECT_EQ(archive_write_header(a, e), ARCHIVE_OK) << m.name << ": " << archive_error_string(a);
    if (m.kind == Member::Kind::File && !m.data.empty()) {
      EXPECT_EQ(archive_write_data(a, m.data.data(), m.data.size()), static_cast<la_ssize_t>(m.data.size()));
    }
    archive_entry_free(e);
  }
  EXPECT_EQ(archive_write_close(a), ARCHIVE_OK) << archive_error_string(a);
  archive_write_free(a);
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A 9.x package of its own UID and name, carrying one deflated and one stored file.
Bytes Package(std::uint32_t uid, const std::string& name) {
  test::sis9w::Controller c;
  c.uid = uid;
  c.names = {name};
  c.files = {test::sis9w::TextFile("!:\\data\\" + name + ".txt", "content of " + name, true),
             test::sis9w::TextFile("c:\\shared\\common.txt", "common " + name)};
  return test::sis9w::Build(c);
}

catalog::Result Catalogue(const std::string& folder, const std::string& db, const catalog::ArchiveLimits& limits = {}) {
  catalog::Options options;
  options.folders = {folder};
  options.database = db;
  options.jobs = 2;
  options.archives = limits;
  return catalog::Run(options);
}

std::int64_t Count(Database& db, const std::string& sql, const std::string& arg = {}) {
  Statement s = db.Prepare(sql);
  EXPECT_TRUE(s.Valid()) << sql << ": " << db.Error();
  if (!arg.empty()) s.Bind(1, arg);
  return s.Step() ? s.Int(0) : -1;
}

// Every file under `root` with its size, the database's own files left out.
std::map<std::string, std::uintmax_t> Tree(const std::string& root) {
  std::map<std::string, std::uintmax_t> out;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string p = e.path().string();
    if (p.find(".sqlite") != std::string::npos) continue;
    out[p] = e.is_regular_file() ? e.file_size() : 0;
  }
  return out;
}

// ---- A collection of loose and archived packages ---------------------------------------

TEST(CatalogArchives, EveryPackageWithItsArchiveMemberAndSha256) {
  test::TempDir dir;
  const Bytes p1 = Package(0xE1000001, "one"), p2 = Package(0xE1000002, "two"), p3 = Package(0xE1000003, "three"),
              p4 = Package(0xE1000004, "four"), p5 = Package(0xE1000005, "five"), p6 = Package(0xE1000006, "six"),
              p7 = Package(0xE1000007, "seven"), p8 = Package(0xE1000008, "eight"), p9 = Package(0xE1000009, "nine");
  const Bytes old = test::BuildOldSis({});
  const Bytes inner = MakeArchive({{"deep/six.sis", p6}, {"notes.txt", Text("notes")}});
  struct Where {
    std::string archive;  // empty: a loose file
    std::string member;   // or the file's name
    const Bytes* bytes;
  };
  const std::vector<Where> expected = {
      {"", "loose/a.sis", &p1},
      {"", "loose/old.SIS", &old},
      {"c/pack.zip", "apps/two.sis", &p2},
      {"c/pack.tar.gz", "three.sisx", &p3},
      {"c/pack.tar.bz2", "four.sis", &p4},
      {"c/pack.tar.xz", "sub/five.SIS", &p5},
      {"c/outer.zip", "inner.zip!/deep/six.sis", &p6},
      {"c/pack.7z", "seven.sis", &p7},
      {"c/plain.tar", "eight", &p8},
      {"c/renamed.dat", "nine.sis", &p9},  // a ZIP by its bytes, whatever its name
  };
  dir.Write("col/loose/a.sis", p1);
  dir.Write("col/loose/old.SIS", old);
  dir.Write("col/loose/readme.txt", "not a package");
  dir.Write("col/c/pack.zip", MakeArchive({{"apps", Member::Kind::Folder}, {"apps/two.sis", p2}, {"readme.txt", Text("hi")}}));
  dir.Write("col/c/pack.tar.gz", MakeArchive({{"three.sisx", p3}}, {Format::Tar, "gzip"}));
  dir.Write("col/c/pack.tar.bz2", MakeArchive({{"four.sis", p4}}, {Format::Tar, "bzip2"}));
  dir.Write("col/c/pack.tar.xz", MakeArchive({{"sub/five.SIS", p5}}, {Format::Tar, "xz"}));
  dir.Write("col/c/outer.zip", MakeArchive({{"inner.zip", inner}, {"other.txt", Text("x")}}));
  dir.Write("col/c/pack.7z", MakeArchive({{"seven.sis", p7}, {"a.txt", Text("a")}}, {Format::SevenZip}));
  dir.Write("col/c/plain.tar", MakeArchive({{"eight", p8}}, {Format::Tar}));
  dir.Write("col/c/renamed.dat", MakeArchive({{"nine.sis", p9}}));
  const std::string folder = dir / "col", db = dir / "c.sqlite";
  const auto before = Tree(dir.Path());

  const catalog::Result r = Catalogue(folder, db);
  ASSERT_TRUE(r.ok) << (r.errors.empty() ? "" : r.errors.front());
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.packages, expected.size());
  EXPECT_EQ(r.written, expected.size());
  EXPECT_EQ(r.archives, 8u);
  EXPECT_EQ(r.archiveProblems, 0u);
  EXPECT_EQ(Tree(dir.Path()), before);

  Database d;
  ASSERT_TRUE(d.Open(db, true));
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages"), static_cast<std::int64_t>(expected.size()));
  for (const Where& w : expected) {
    SCOPED_TRACE(w.member);
    Statement s = d.Prepare("SELECT path, archive, member, sha256, sha1, size, readable FROM packages WHERE sha256 = ?1");
    s.Bind(1, Sha256(*w.bytes));
    ASSERT_TRUE(s.Step());
    EXPECT_EQ(s.Text(4), Sha1(*w.bytes));
    EXPECT_EQ(s.Int(5), static_cast<std::int64_t>(w.bytes->size()));
    EXPECT_EQ(s.Int(6), 1);
    if (w.archive.empty()) {
      EXPECT_EQ(s.Text(0), dir / ("col/" + w.member));
      EXPECT_TRUE(s.IsNull(1));
      EXPECT_TRUE(s.IsNull(2));
    } else {
      const std::string archivePath = dir / ("col/" + w.archive);
      EXPECT_EQ(s.Text(1), archivePath);
      EXPECT_EQ(s.Text(2), w.member);
      EXPECT_EQ(s.Text(0), archivePath + "!/" + w.member);
    }
    EXPECT_FALSE(s.Step()) << "one row per package";
  }
  // The files' SHA-256 is that of what they hold, inflated or stored.
  EXPECT_EQ(Count(d, "SELECT count(*) FROM files WHERE sha256 = ?1", Sha256(std::string("content of six"))), 1);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM files WHERE sha256 = ?1", Sha256(std::string("common seven"))), 1);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM files WHERE sha256 IS NULL AND package_id IN "
                     "(SELECT id FROM packages WHERE generation = '9.x')"),
            0);
  // Each archive, the one inside another included, with its format and what it held.
  EXPECT_EQ(Count(d, "SELECT count(*) FROM archives"), 9);
  EXPECT_EQ(Count(d, "SELECT packages FROM archives WHERE member = 'inner.zip'"), 1);
  EXPECT_EQ(Count(d, "SELECT packages FROM archives WHERE path LIKE '%outer.zip' AND member = ''"), 0);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM archives WHERE format = 'TAR + gzip' AND path LIKE '%pack.tar.gz'"), 1);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM archives WHERE format = '7z'"), 1);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM archive_problems"), 0);

  // Unchanged archives are skipped whole; a changed one is read again, a removed one goes.
  const catalog::Result again = Catalogue(folder, db);
  ASSERT_TRUE(again.ok);
  EXPECT_EQ(again.filesRead, 0u);
  EXPECT_EQ(again.packages, expected.size());
  const Bytes p10 = Package(0xE100000A, "ten");
  dir.Write("col/c/pack.zip", MakeArchive({{"apps/two.sis", p2}, {"apps/ten.sis", p10}, {"readme.txt", Text("hi!")}}));
  fs::remove(dir / "col/c/outer.zip");
  const catalog::Result third = Catalogue(folder, db);
  ASSERT_TRUE(third.ok);
  EXPECT_EQ(third.filesRead, 1u);
  EXPECT_EQ(third.written, 2u);
  EXPECT_EQ(third.removed, 1u);
  EXPECT_EQ(third.packages, expected.size());
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE archive LIKE '%pack.zip'"), 2);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE archive LIKE '%outer.zip'"), 0);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM archives WHERE path LIKE '%outer.zip'"), 0);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM files WHERE package_id NOT IN (SELECT id FROM packages)"), 0);
}

// ---- Bad archives -----------------------------------------------------------------------

TEST(CatalogArchives, BadArchivesRecordedWalkGoesOnNothingWritten) {
  test::TempDir dir;
  const Bytes good = Package(0xE2000001, "good"), inside = Package(0xE2000002, "inside");
  const Bytes many = [&] {
    std::vector<Member> members;
    for (int i = 0; i < 60; ++i) members.push_back({"m" + std::to_string(i) + ".txt", Text("x")});
    return MakeArchive(members);
  }();
  Bytes cut = MakeArchive({{"first.sis", inside}, {"second.sis", Package(0xE2000003, "second")}}, {Format::Tar, "gzip"});
  cut.resize(cut.size() * 2 / 3);
  const Bytes deepest = MakeArchive({{"x.sis", inside}});
  const Bytes nested3 = MakeArchive({{"b.zip", MakeArchive({{"c.zip", deepest}})}});

  struct Case {
    std::string file;
    Bytes bytes;
    std::string member;   // what the problem is about ('' for the archive itself, '*' any)
    std::string problem;  // a part of the problem's text
    int packages;         // packages still catalogued from it (-1: as far as it went)
  };
  const std::vector<Case> cases = {
      {"cut.tar.gz", cut, "*", "", -1},
      {"encrypted.zip", MakeArchive({{"secret.sis", inside}, {"open.sis", inside}}, {Format::Zip, "none", "pw"}),
       "secret.sis", "encrypted: not read", 0},
      {"bomb.zip", MakeArchive({{"zeros.bin", Bytes(16u << 20, 0)}, {"after.sis", inside}}), "", "unpacks to more than", 0},
      {"links.tar",
       MakeArchive({{"link.sis", Member::Kind::Symlink, "/etc/passwd"},
                    {"hard.sis", Member::Kind::Hardlink, "inside.sis"},
                    {"inside.sis", inside}},
                   {Format::Tar}),
       "link.sis", "a symbolic link to /etc/passwd: not followed", 1},
      {"hardlink.tar", MakeArchive({{"inside.sis", inside}, {"hard.sis", Member::Kind::Hardlink, "inside.sis"}}, {Format::Tar}),
       "hard.sis", "a link to inside.sis: not followed", 1},
      {"escape.tar", MakeArchive({{"../x.sis", inside}, {"/abs.sis", inside}}, {Format::Tar}), "../x.sis",
       "a name that leads out of the archive: not read", 0},
      {"many.zip", many, "", "more than 50 members: the rest is not read", 0},
      {"nested.zip", nested3, "b.zip!/c.zip", "an archive nested more than 1 deep: not read", 0},
  };
  dir.Write("col/good.sis", good);
  for (const Case& c : cases) dir.Write("col/" + c.file, c.bytes);
  const auto before = Tree(dir.Path());
  catalog::ArchiveLimits limits;
  limits.unpackBase = 1u << 20;
  limits.maxMembers = 50;
  limits.maxNesting = 1;
  const std::string db = dir / "c.sqlite";
  const catalog::Result r = Catalogue(dir / "col", db, limits);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.errors.empty()) << r.errors.front();
  EXPECT_EQ(Tree(dir.Path()), before);
  EXPECT_FALSE(fs::exists(dir / "x.sis"));
  EXPECT_FALSE(fs::exists("/abs.sis"));

  Database d;
  ASSERT_TRUE(d.Open(db, true));
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE path = ?1", dir / "col/good.sis"), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir / ("col/" + c.file);
    Statement s = d.Prepare("SELECT problem FROM archive_problems WHERE path = ?1 AND (member = ?2 OR ?2 = '*')");
    s.Bind(1, path).Bind(2, c.member);
    ASSERT_TRUE(s.Step()) << "no problem recorded";
    EXPECT_NE(s.Text(0).find(c.problem), std::string::npos) << s.Text(0);
    if (c.packages >= 0) {
      EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE archive = ?1", path), c.packages);
    }
    EXPECT_EQ(Count(d, "SELECT count(*) FROM archives WHERE path = ?1 AND member = ''", path), 1);
  }
  EXPECT_EQ(Count(d, "SELECT count(*) FROM archive_problems WHERE member = '/abs.sis'"), 1);
  // The cut archive's second package, cut short, is not catalogued as if whole.
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE member = 'second.sis'"), 0);
}

// ---- Conflicts across a collection ------------------------------------------------------

TEST(CatalogArchives, ConflictViews) {
  test::TempDir dir;
  test::sis9w::Controller a;
  a.uid = 0xE3000001;
  a.files = {test::sis9w::TextFile("c:\\sys\\bin\\shared.exe", "a's"), test::sis9w::TextFile("!:\\a\\own.txt", "a")};
  test::sis9w::Controller b = a;
  b.uid = 0xE3000002;
  b.files = {test::sis9w::TextFile("E:\\SYS\\BIN\\SHARED.EXE", "b's")};
  test::sis9w::Controller a2 = a;  // the same UID and version, other contents
  a2.names = {"Rebuilt"};
  dir.Write("col/a.sis", test::sis9w::Build(a));
  dir.Write("col/b.sis", test::sis9w::Build(b));
  dir.Write("col/copy-of-a.sis", test::sis9w::Build(a));  // the same contents: no conflict by itself
  dir.Write("col/z.zip", MakeArchive({{"a2.sis", test::sis9w::Build(a2)}}));
  const std::string db = dir / "c.sqlite";
  ASSERT_TRUE(Catalogue(dir / "col", db).ok);
  Database d;
  ASSERT_TRUE(d.Open(db, true));
  EXPECT_EQ(Count(d, "SELECT count(DISTINCT target) FROM target_conflicts"), 1);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM target_conflicts WHERE target = '\\sys\\bin\\shared.exe'"), 4);
  EXPECT_EQ(Count(d, "SELECT count(DISTINCT uid_hex) FROM target_conflicts"), 2);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM version_conflicts"), 3);
  EXPECT_EQ(Count(d, "SELECT count(DISTINCT sha256) FROM version_conflicts WHERE uid_hex = '0xE3000001'"), 2);
}

}  // namespace
}  // namespace tarvik
