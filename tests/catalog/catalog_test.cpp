// The catalogue of collections, queried with real SQL: packages found by their first bytes,
// the UID and SHA-1 lookups, damaged packages recorded with their problem, and runs after
// the first reading only what changed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "catalog/catalog.hpp"
#include "catalog/database.hpp"
#include "parse/parse.hpp"
#include "support/e32_images.hpp"
#include "support/sis9_writer.hpp"
#include "support/sis_old_writer.hpp"
#include "support/test_env.hpp"

namespace tarvik {
namespace {

using catalog::Database;
using catalog::Statement;

catalog::Result Catalogue(const std::string& folder, const std::string& db, unsigned jobs = 2) {
  catalog::Options options;
  options.folders = {folder};
  options.database = db;
  options.jobs = jobs;
  return catalog::Run(options);
}

std::int64_t Count(Database& db, const std::string& sql, const std::string& arg = {}) {
  Statement s = db.Prepare(sql);
  EXPECT_TRUE(s.Valid()) << sql << ": " << db.Error();
  if (!arg.empty()) s.Bind(1, arg);
  return s.Step() ? s.Int(0) : -1;
}

// Every row of a query as text, one line per row.
std::string Rows(Database& db, const std::string& sql) {
  Statement s = db.Prepare(sql);
  EXPECT_TRUE(s.Valid()) << sql << ": " << db.Error();
  std::string out;
  while (s.Step()) {
    for (int c = 0; c < 6; ++c) out += s.Text(c) + "|";
    out += "\n";
  }
  return out;
}

std::uint32_t HexNumber(const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)); }

// The SQL examples of the README's catalogue section.
std::vector<std::string> ReadmeQueries() {
  std::ifstream in(TARVIK_SOURCE_DIR "/README.md");
  std::vector<std::string> out;
  std::string line, block;
  bool inSql = false;
  while (std::getline(in, line)) {
    if (line == "```sql") {
      inSql = true;
      block.clear();
    } else if (inSql && line == "```") {
      inSql = false;
      out.push_back(block);
    } else if (inSql) {
      block += line + "\n";
    }
  }
  return out;
}

TEST(Catalog, FirstBytesTellPackagesWhateverTheirName) {
  struct Case {
    const char* what;
    Bytes head;
    bool package;
  };
  const Case cases[] = {
      {"9.x package", {0x7A, 0x1A, 0x20, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, true},
      {"pre-9.x package", {1, 0, 0, 0, 0x12, 0x3A, 0, 0x10, 0x19, 0x04, 0, 0x10, 0, 0, 0, 0}, true},
      {"9.x stub", {0x0D, 0, 0, 0, 0x40, 0, 0, 0}, true},
      {"controller type with no length", {0x0D, 0, 0, 0, 0, 0, 0, 0}, false},
      {"text", {'&', 'E', 'N', '\r', '\n', '#', '{', '"', 'a', '"', '}', ',', '(', '0', 'x', '1'}, false},
      {"empty", {}, false},
      {"cut inside UID 1", {0x7A, 0x1A}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(LooksLikePackage(c.head), c.package) << c.what;
}

TEST(Catalog, CorpusRowsAnswerTheLookups) {
  TARVIK_REQUIRE_SHARED();
  test::TempDir dir;
  const std::string dbPath = dir / "corpus.sqlite";
  const catalog::Result r = Catalogue(*test::SharedDir() + "/corpus", dbPath);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.written, r.packages);
  EXPECT_GT(r.filesSeen, r.packages);  // the scripts and notes beside the packages are passed over

  Database db;
  ASSERT_TRUE(db.Open(dbPath, true));
  EXPECT_EQ(Count(db, "SELECT count(*) FROM packages"), static_cast<std::int64_t>(r.packages));
  EXPECT_EQ(Count(db, "SELECT count(*) FROM packages WHERE lower(path) NOT LIKE '%.sis' AND lower(path) NOT LIKE '%.sisx'"), 0);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM packages WHERE readable = 0 AND problem IS NULL"), 0);

  const auto manifest = test::CorpusManifest();
  ASSERT_FALSE(manifest.empty());
  for (const auto& row : manifest) {
    SCOPED_TRACE(row.at("file"));
    // By the SHA-1 of the whole file: exactly this file.
    Statement bySha = db.Prepare("SELECT path, uid, version, name, file_count, readable, problem, generation "
                                 "FROM packages WHERE sha1 = ?1");
    bySha.Bind(1, row.at("sha1"));
    ASSERT_TRUE(bySha.Step());
    const std::string path = bySha.Text(0);
    EXPECT_TRUE(path.size() >= row.at("file").size() && path.ends_with(row.at("file")));
    EXPECT_EQ(bySha.Text(7), row.at("generation").substr(0, row.at("generation").find("-stub")));
    if (!row.at("problems").empty()) {
      EXPECT_FALSE(bySha.IsNull(6)) << "a damaged package records its problem";
    }
    if (bySha.Int(5) == 0) continue;  // nothing more was read of it
    if (!row.at("package_uid").empty()) {
      EXPECT_EQ(static_cast<std::uint32_t>(bySha.Int(1)), HexNumber(row.at("package_uid")));
      // By UID: every version of the package, this file among them.
      Statement byUid = db.Prepare("SELECT path FROM packages WHERE uid = ?1");
      byUid.Bind(1, static_cast<std::int64_t>(HexNumber(row.at("package_uid"))));
      bool found = false;
      while (byUid.Step()) found = found || byUid.Text(0) == path;
      EXPECT_TRUE(found);
    }
    if (!row.at("version").empty()) {
      EXPECT_EQ(bySha.Text(2).rfind(row.at("version"), 0), 0u) << bySha.Text(2);
    }
    if (!row.at("package_name").empty()) {
      EXPECT_EQ(bySha.Text(3), row.at("package_name"));
    }
    if (!row.at("files").empty()) {
      EXPECT_EQ(std::to_string(bySha.Int(4)), row.at("files"));
    }
  }

  // Every package carrying a file, by the file's SHA-1.
  Statement anyFile = db.Prepare("SELECT sha1 FROM files WHERE sha1 IS NOT NULL LIMIT 1");
  ASSERT_TRUE(anyFile.Step());
  EXPECT_GE(Count(db, "SELECT count(DISTINCT package_id) FROM files WHERE sha1 = ?1", anyFile.Text(0)), 1);
  // The .sis and .sisx builds of one application carry the same files.
  EXPECT_GT(Count(db, "SELECT count(*) FROM (SELECT sha1 FROM files WHERE sha1 IS NOT NULL "
                      "GROUP BY sha1 HAVING count(DISTINCT package_id) > 1)"),
            0);
  EXPECT_GT(Count(db, "SELECT count(*) FROM target_devices WHERE platform IS NOT NULL"), 0);
  EXPECT_GT(Count(db, "SELECT count(*) FROM signers"), 0);
  EXPECT_GT(Count(db, "SELECT count(*) FROM embedded"), 0);
  // Every executable is one of its package's files, at its position.
  EXPECT_GT(Count(db, "SELECT count(*) FROM executables WHERE format = 'EKA2' AND sid IS NOT NULL"), 100);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM executables x LEFT JOIN files f ON f.package_id = x.package_id "
                      "AND f.position = x.position AND f.target = x.target WHERE f.target IS NULL"),
            0);

  // The README's examples are real queries.
  const std::vector<std::string> queries = ReadmeQueries();
  EXPECT_EQ(queries.size(), 9u);
  for (const std::string& q : queries) {
    Statement s = db.Prepare(q);
    ASSERT_TRUE(s.Valid()) << q << db.Error();
    while (s.Step()) {
    }
    EXPECT_TRUE(s.Done()) << q << db.Error();
  }
  EXPECT_GT(Count(db, "SELECT count(*) FROM packages WHERE uid = 0x200131CC"), 1);
  EXPECT_GT(Count(db, "SELECT count(*) FROM target_devices WHERE uid = 0x1028315F AND ordinal = 1"), 0);

  // A second run over the unchanged corpus reads nothing and keeps every row.
  const catalog::Result again = Catalogue(*test::SharedDir() + "/corpus", dbPath);
  ASSERT_TRUE(again.ok);
  EXPECT_EQ(again.filesRead, 0u);
  EXPECT_EQ(again.unchanged, r.filesSeen);
  EXPECT_EQ(again.packages, r.packages);
  EXPECT_EQ(again.removed, 0u);
  EXPECT_EQ(Count(db, "SELECT count(*) FROM packages"), static_cast<std::int64_t>(r.packages));

  // One run with one reader gives the same rows.
  const std::string onePath = dir / "one.sqlite";
  ASSERT_TRUE(Catalogue(*test::SharedDir() + "/corpus", onePath, 1).ok);
  Database one;
  ASSERT_TRUE(one.Open(onePath, true));
  const std::string order = "SELECT path, sha1, uid, name, file_count, problem FROM packages ORDER BY path";
  EXPECT_EQ(Rows(one, order), Rows(db, order));
  const std::string files = "SELECT p.path, f.position, f.target, f.sha1, f.ordinal, f.uncompressed_size FROM files f "
                            "JOIN packages p ON p.id = f.package_id ORDER BY p.path, f.position";
  EXPECT_EQ(Rows(one, files), Rows(db, files));
}

TEST(Catalog, ExecutablesTableHoldsWhatTheHeadersSay) {
  test::TempDir dir;
  namespace w = test::sis9w;
  w::Controller c;
  c.uid = 0xE0000020;
  w::File exe;
  exe.target = "!:\\sys\\bin\\app.exe";
  exe.data = test::E32Image({.uid3 = 0xE0000020, .sid = 0xE0000021, .vid = 0x70000001, .caps = 1u << 11});
  exe.deflate = true;
  exe.caps = 1u << 11;
  c.files.push_back(w::TextFile("!:\\resource\\app.rsc", "not an executable"));
  c.files.push_back(exe);
  w::File emulator;
  emulator.target = "!:\\sys\\bin\\emu.dll";
  emulator.data = test::EmulatorBuild({.uid1 = 0x10000079, .uid3 = 0xE0000022, .sid = 0xE0000022});
  c.files.push_back(emulator);
  dir.Write("collection/app.sis", w::Build(c));
  ASSERT_TRUE(Catalogue(dir / "collection", dir / "c.sqlite").ok);
  Database db;
  ASSERT_TRUE(db.Open(dir / "c.sqlite", true));
  EXPECT_EQ(Rows(db, "SELECT x.position, x.kind, printf('0x%08X', x.sid), x.capability_names, x.format, x.compression "
                     "FROM executables x JOIN files f ON f.package_id = x.package_id AND f.position = x.position "
                     "AND f.target = x.target ORDER BY x.position"),
            "1|EXE|0xE0000021|AllFiles|EKA2|deflate|\n"
            "2|DLL|0xE0000022||emulator (WINSCW)||\n");
  EXPECT_EQ(Count(db, "SELECT count(*) FROM executables WHERE emulator = 1 AND uid3 = 3758096418"), 1);
}

TEST(Catalog, LaterRunsReadOnlyWhatChanged) {
  test::TempDir dir;
  test::sis9w::Controller c;
  c.files = {test::sis9w::TextFile("!:\\a.txt", "hello")};
  const Bytes whole = test::sis9w::Build(c);
  Bytes cut = whole;
  cut.resize(cut.size() - 20);
  const std::string folder = dir / "collection";
  dir.Write("collection/a.sis", whole);
  dir.Write("collection/sub/old.SIS", test::BuildOldSis({}));
  dir.Write("collection/sub/misnamed.bin", whole);  // a copy under another name
  dir.Write("collection/stub.sis", test::sis9w::Build(c, {.deflateController = true, .stub = true}));
  dir.Write("collection/cut.sisx", cut);
  dir.Write("collection/notes.txt", "not a package");
  const std::string db = dir / "c.sqlite";

  const catalog::Result first = Catalogue(folder, db);
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(first.filesSeen, 6u);
  EXPECT_EQ(first.packages, 5u);
  EXPECT_EQ(first.written, 5u);
  {
    Database d;
    ASSERT_TRUE(d.Open(db, true));
    EXPECT_EQ(Count(d, "SELECT count(*) FROM packages"), 5);
    EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE path LIKE '%misnamed.bin'"), 1);
    EXPECT_EQ(Count(d, "SELECT count(*) FROM (SELECT sha1 FROM packages GROUP BY sha1 HAVING count(*) = 2)"), 1);
    EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE path LIKE '%cut.sisx' AND problem IS NOT NULL"), 1);
    EXPECT_EQ(Count(d, "SELECT stub FROM packages WHERE path LIKE '%stub.sis'"), 1);
  }

  // Nothing changed: nothing is read.
  const catalog::Result second = Catalogue(folder, db);
  ASSERT_TRUE(second.ok);
  EXPECT_EQ(second.filesRead, 0u);
  EXPECT_EQ(second.unchanged, 6u);
  EXPECT_EQ(second.written, 0u);
  EXPECT_EQ(second.packages, 5u);
  EXPECT_EQ(second.removed, 0u);

  // One package replaced, one deleted, one no longer a package, one new.
  c.names = {"Renamed package"};  // a new size too, whatever the clock's grain
  dir.Write("collection/a.sis", test::sis9w::Build(c));
  std::filesystem::remove(dir / "collection/sub/misnamed.bin");
  dir.Write("collection/sub/old.SIS", "now a text file");
  dir.Write("collection/new/n.sis", test::BuildOldSis({}));
  const catalog::Result third = Catalogue(folder, db);
  ASSERT_TRUE(third.ok);
  EXPECT_EQ(third.filesRead, 3u);
  EXPECT_EQ(third.written, 2u);
  EXPECT_EQ(third.removed, 2u);
  Database d;
  ASSERT_TRUE(d.Open(db, true));
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages"), 4);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE name = 'Renamed package'"), 1);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages WHERE path LIKE '%old.SIS' OR path LIKE '%misnamed.bin'"), 0);
  // The rows of a replaced package go with it.
  EXPECT_EQ(Count(d, "SELECT count(*) FROM files WHERE package_id NOT IN (SELECT id FROM packages)"), 0);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM names WHERE package_id NOT IN (SELECT id FROM packages)"), 0);

  // A folder that is missing for a while keeps its rows.
  const catalog::Result missing = Catalogue(dir / "unplugged", db);
  EXPECT_FALSE(missing.errors.empty());
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages"), 4);
}

// A new catalogue gets its indexes once its rows are in; folders named twice, or one inside
// another, give each file one row.
TEST(Catalog, NewCatalogueIndexedAndOverlappingFoldersCountedOnce) {
  test::TempDir dir;
  dir.Write("c/a.sis", test::sis9w::Build({}));
  dir.Write("c/sub/b.sis", test::BuildOldSis({}));
  const std::string db = dir / "c.sqlite";
  catalog::Options options;
  options.folders = {dir / "c", dir / "c/sub", dir / "c"};
  options.database = db;
  options.jobs = 2;
  const catalog::Result r = catalog::Run(options);
  ASSERT_TRUE(r.ok) << (r.errors.empty() ? "" : r.errors.front());
  Database d;
  ASSERT_TRUE(d.Open(db, true));
  EXPECT_EQ(Count(d, "SELECT count(*) FROM packages"), 2);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM walked"), 2);
  EXPECT_EQ(Count(d, "SELECT count(*) FROM names WHERE package_id NOT IN (SELECT id FROM packages)"), 0);
  for (const char* index : {"packages_uid", "packages_sha1", "files_sha1", "files_package", "target_devices_uid",
                            "embedded_uid", "signers_fingerprint", "names_package"})
    EXPECT_EQ(Count(d, "SELECT count(*) FROM sqlite_master WHERE type='index' AND name=?1", index), 1) << index;
  Statement plan = d.Prepare("EXPLAIN QUERY PLAN SELECT path FROM files f JOIN packages p ON p.id = f.package_id WHERE f.sha1 = 'x'");
  std::string steps;
  while (plan.Step()) steps += plan.Text(3) + "\n";
  EXPECT_NE(steps.find("files_sha1"), std::string::npos) << steps;
}

TEST(Catalog, CommandLineSummaryAndStatuses) {
  test::TempDir dir;
  dir.Write("c/a.sis", test::sis9w::Build({}));
  const test::CliResult ok = test::RunCli("catalog '" + (dir / "c") + "' --db '" + (dir / "c.sqlite") + "'", dir);
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err, "");  // no progress line when stderr is not a terminal
  EXPECT_NE(ok.out.find("1 packages"), std::string::npos) << ok.out;
  const test::CliResult gone =
      test::RunCli("catalog '" + (dir / "c") + "' '" + (dir / "gone") + "' --db '" + (dir / "c.sqlite") + "'", dir);
  EXPECT_EQ(gone.status, 1);
  EXPECT_NE(gone.err.find("gone"), std::string::npos);
  const test::CliResult badDb = test::RunCli("catalog '" + (dir / "c") + "' --db '" + (dir / "c") + "'", dir);
  EXPECT_EQ(badDb.status, 2);
}

// Any number of readers asked for is a run, not an abort: more than the catalogue uses are
// not started.
TEST(Catalog, AnyNumberOfJobsRuns) {
  test::TempDir dir;
  dir.Write("c/a.sis", test::sis9w::Build({}));
  const test::CliResult r =
      test::RunCli("catalog --jobs 100000 '" + (dir / "c") + "' --db '" + (dir / "c.sqlite") + "'", dir);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("1 packages"), std::string::npos) << r.out;
}

// A second run on a catalogue that a run is using is refused, and says so, instead of
// dropping the first run's rows as gone.
TEST(Catalog, OneRunAtATimePerDatabase) {
  test::TempDir dir;
  dir.Write("c/a.sis", test::sis9w::Build({}));
  const std::string db = dir / "c.sqlite";
  const std::string args = "catalog '" + (dir / "c") + "' --db '" + db + "'";
  ASSERT_EQ(test::RunCli(args, dir).status, 0);
  const int fd = ::open(db.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // a run in progress
  const test::CliResult busy = test::RunCli(args, dir);
  EXPECT_NE(busy.status, 0);
  EXPECT_NE(busy.err.find("another catalog run is using this database"), std::string::npos) << busy.err;
  ::close(fd);
  const test::CliResult after = test::RunCli(args, dir);
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_NE(after.out.find("1 packages"), std::string::npos) << after.out;
}

// The command line as a user whom folder permissions stop: the running user, or for root
// (whom they do not stop) the unprivileged user 65534; nothing when that cannot be done.
std::optional<test::CliResult> RunCliRefusable(const std::string& args, const test::TempDir& dir) {
  if (geteuid() != 0) return test::RunCli(args, dir);
  if (std::system("setpriv --version >/dev/null 2>&1") != 0) return std::nullopt;
  const std::string errPath = dir / "cli-stderr.txt";
  const std::string cmd = "setpriv --reuid=65534 --regid=65534 --clear-groups '" TARVIK_CLI_PATH "' " + args +
                          " 2>'" + errPath + "'";
  test::CliResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return std::nullopt;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  r.err = test::ReadFile(errPath);
  return r;
}

// A folder that cannot be read (no permission) is said, the run fails, and the rows of the
// packages it held are kept instead of dropped as gone; the root folder alike.
TEST(Catalog, FoldersThatCannotBeWalkedKeepTheirRows) {
  test::TempDir dir;
  dir.Write("c/a.sis", test::sis9w::Build({}));
  dir.Write("c/locked/b.sis", test::BuildOldSis({}));
  dir.Write("c/locked/deeper/c.sis", test::sis9w::Build({}));
  for (const std::string& folder : {dir.Path(), dir / "c", dir / "c/locked", dir / "c/locked/deeper"})
    ::chmod(folder.c_str(), 0777);  // a user other than the owner writes the catalogue
  const std::string db = dir / "c.sqlite";
  const std::string args = "catalog '" + (dir / "c") + "' --db '" + db + "'";
  const std::optional<test::CliResult> first = RunCliRefusable(args, dir);
  if (!first) GTEST_SKIP() << "cannot run as a user whom permissions stop";
  ASSERT_EQ(first->status, 0) << first->err;
  EXPECT_NE(first->out.find("3 packages"), std::string::npos) << first->out;

  struct Case {
    std::string locked;
    std::string said;
  };
  for (const Case& c : {Case{dir / "c/locked", (dir / "c/locked") + ": cannot be walked (Permission denied)"},
                        Case{dir / "c", (dir / "c") + ": cannot be walked (Permission denied)"}}) {
    SCOPED_TRACE(c.locked);
    ::chmod(c.locked.c_str(), 0);
    const std::optional<test::CliResult> r = RunCliRefusable(args, dir);
    ::chmod(c.locked.c_str(), 0777);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 1);
    EXPECT_NE(r->err.find(c.said), std::string::npos) << r->err;
    EXPECT_NE(r->out.find(" 0 removed"), std::string::npos) << r->out;
    Database d;
    ASSERT_TRUE(d.Open(db, true));
    EXPECT_EQ(Count(d, "SELECT count(*) FROM packages"), 3);
    EXPECT_EQ(Count(d, "SELECT count(*) FROM walked"), 3);
  }
  // Readable again: everything is there, nothing to remove.
  const std::optional<test::CliResult> last = RunCliRefusable(args, dir);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->status, 0) << last->err;
  EXPECT_NE(last->out.find("3 packages: 0 read (0 unreadable), 3 files unchanged, 0 removed"), std::string::npos)
      << last->out;
}

}  // namespace
}  // namespace tarvik
