#include "catalog/catalog.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

#include "catalog/database.hpp"
#include "model/package.hpp"
#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "signers/signers.hpp"
#include "views/facts.hpp"
#include "views/file_digest.hpp"

namespace tarvik::catalog {

namespace {

namespace fs = std::filesystem;
using model::Package;

constexpr std::size_t kHeadBytes = 16;
constexpr std::size_t kErrorsKept = 100;
// Files handed to a reader at once, and files found unchanged handed to the writer at once.
constexpr std::size_t kJobBatch = 32;
constexpr std::size_t kUnchangedBatch = 256;
// The package bytes whose rows a reader hands to the writer at once, at most (or one package).
constexpr std::uint64_t kBatchBytes = 1u << 20;
// How often the writer commits what it wrote.
constexpr auto kCommitEvery = std::chrono::seconds(1);

// ---- The rows of one file ------------------------------------------------------------

struct LanguageRow {
  int ordinal, position;
  std::uint32_t number;
  std::string code, name;
};
struct NameRow {
  int ordinal;
  const char* kind;  // "name" or "vendor"
  std::optional<std::uint32_t> language;
  std::string text;
};
struct DependencyRow {
  int ordinal;
  bool target;
  std::uint32_t uid;
  std::string uidHex, platform, from, to, name;
};
struct FileRow {
  int ordinal, position;
  std::string target, sha1, operation, mime;
  std::uint64_t compressedSize, uncompressedSize;
  std::optional<std::uint32_t> language;
};
struct EmbeddedRow {
  int ordinal, parent;
  std::uint32_t uid;
  std::string uidHex, name, vendor, version;
  std::uint64_t files;
};
struct ExecutableRow {
  int ordinal, position;
  std::string target, kind, capabilityNames, format, compression;
  std::optional<std::uint32_t> uid1, uid2, uid3, sid, vid;
  std::optional<std::uint64_t> capabilities;
  bool emulator;
};
struct SignerRow {
  int ordinal, chain;
  std::string subject, issuer, serial, notBefore, notAfter, fingerprint, keyType, trust, verdict;
  std::int64_t certificates;
};

struct Item {
  enum class Kind : std::uint8_t { Package, NotPackage, Unchanged, Error } kind = Kind::Package;
  std::string path;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
  bool isPackage = false;  // Unchanged: what it was found to be before
  std::string error;       // Error: what went wrong

  // Package.
  std::string sha1, generation, uidHex, name, vendor, vendorUnique, version, installType, flags, created, problem;
  bool stub = false, readable = false, hasInfo = false;
  std::uint32_t uid = 0, flagBits = 0;
  model::Version versionWords;
  std::uint64_t fileCount = 0, embeddedCount = 0, chainCount = 0, problemCount = 0;
  std::vector<LanguageRow> languages;
  std::vector<NameRow> names;
  std::vector<DependencyRow> dependencies;
  std::vector<FileRow> files;
  std::vector<EmbeddedRow> embedded;
  std::vector<SignerRow> signers;
  std::vector<ExecutableRow> executables;
};

std::string Joined(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += (out.empty() ? "" : ",") + w;
  return out;
}

// Gathers the rows of the packages of one file from their facts; the files of each
// package from the model, walked in the order the JSON document lists them.
class RowMaker {
 public:
  explicit RowMaker(Item& item) : item_(item) {}

  void Add(const views::PackageFacts& f, std::int32_t parentOrdinal) {
    const int ord = f.ordinal;
    for (std::size_t i = 0; i < f.languages.size(); ++i) {
      const views::LanguageFacts& l = f.languages[i];
      item_.languages.push_back({ord, static_cast<int>(i), l.number, l.code, l.name});
    }
    auto names = [&](const char* kind, const std::vector<views::LanguageText>& texts) {
      for (const views::LanguageText& t : texts)
        item_.names.push_back({ord, kind, t.language ? std::optional(t.language->number) : std::nullopt, t.text});
    };
    names("name", f.names);
    names("vendor", f.vendorNames);
    for (int list = 0; list < 2; ++list)
      for (const views::DependencyFacts& d : list == 0 ? f.targetDevices : f.dependencies) {
        DependencyRow row{ord, list == 0, d.uid, views::UidText(d.uid), d.platform.value_or(""), {}, {},
                          d.names.empty() ? std::string() : d.names.front().text};
        if (d.from) row.from = views::VersionText(*d.from);
        if (d.to) row.to = views::VersionText(*d.to);
        item_.dependencies.push_back(std::move(row));
      }
    const std::size_t firstFile = item_.files.size();
    Files(*f.package);
    if (f.embedded)
      item_.embedded.push_back({ord, parentOrdinal, f.uid, views::UidText(f.uid), f.Name(), f.Vendor(),
                                views::VersionText(f.package->version), item_.files.size() - firstFile});
  }

 private:
  // The package's own files (not those of the packages it embeds).
  void Files(const model::Package& p) {
    if (p.generation == model::Generation::Pre9) {
      for (const model::Record& r : p.records)
        for (const model::FileEntry& e : r.entries) {
          std::optional<std::uint32_t> language;
          if (r.kind == model::Record::Kind::LanguageFiles && e.language >= 0 &&
              static_cast<std::size_t>(e.language) < p.languages.size())
            language = p.languages[static_cast<std::size_t>(e.language)];
          File(p, e, language);
        }
      return;
    }
    if (p.logo) File(p, *p.logo, std::nullopt);
    Block(p, p.body);
    for (const model::InstallBlock& b : p.laterBlocks) Block(p, b);
  }

  void File(const model::Package& p, const model::FileEntry& e, std::optional<std::uint32_t> language) {
    FileRow row{p.ordinal,
                static_cast<int>(item_.files.size()),
                e.target,
                e.hashAlgorithm == 1 && e.hash.size() == 20 ? views::HexBytes(e.hash) : std::string(),
                views::OperationName(p.generation, e.operation),
                e.mime,
                e.compressedSize,
                e.uncompressedSize,
                language};
    item_.files.push_back(std::move(row));
  }

  void Block(const model::Package& p, const model::InstallBlock& b) {
    for (const model::FileEntry& e : b.files) File(p, e, std::nullopt);
    for (const model::IfBlock& i : b.ifs) {
      if (i.branch.block) Block(p, *i.branch.block);
      for (const model::ConditionalBlock& c : i.elseIfs)
        if (c.block) Block(p, *c.block);
    }
  }

  Item& item_;
};

SignerRow SignerRowOf(const signers::Chain& c) {
  SignerRow row{c.packageOrdinal, static_cast<int>(c.index), {}, {}, {}, {}, {}, {}, {},
                views::TrustName(c.trust), views::ChainVerdictName(c), static_cast<std::int64_t>(c.certificates.size())};
  if (!c.certificates.empty()) {
    const signers::Certificate& k = c.certificates.front();
    row.subject = k.subject;
    row.issuer = k.issuer;
    row.serial = k.serial;
    row.notBefore = k.notBefore;
    row.notAfter = k.notAfter;
    row.fingerprint = k.sha1;
    row.keyType = k.keyType;
  }
  return row;
}

ExecutableRow ExecutableRowOf(const views::ExecutableFacts& x) {
  const e32::ImageHeader& h = x.image.header;
  const bool uids = !x.image.emulator || x.image.symbianSection;
  ExecutableRow row{x.package->ordinal, static_cast<int>(x.position), x.entry->target, x.KindName(),
                    Joined(x.CapabilityNames()), x.FormatText(), x.image.emulator ? "" : x.CompressionText(),
                    {}, {}, {}, h.secureId, h.vendorId, h.capabilities, x.image.emulator};
  if (uids) row.uid1 = h.uid1, row.uid2 = h.uid2, row.uid3 = h.uid3;
  // An image that states no capabilities (EKA1) has no names; one that states none, "".
  if (!h.capabilities) row.capabilityNames.clear();
  return row;
}

// Reads the facts of the package in `bytes` into `item`.
void ReadFacts(const FileBytes& bytes, Item& item) {
  item.kind = Item::Kind::Package;
  item.sha1 = views::FileSha1Hex(bytes);
  const Package pkg = Parse(bytes, item.path);
  const std::vector<views::PackageInTree> tree = views::FactsOfTree(pkg);
  const views::PackageFacts& main = tree.front().facts;
  item.generation = views::GenerationName(pkg.generation);
  item.stub = main.stub;
  item.readable = views::Readable(pkg);
  item.hasInfo = main.hasInfo;
  item.problemCount = pkg.problems.size();
  if (!pkg.problems.empty()) item.problem = views::ProblemText(pkg.problems.front());
  if (!item.hasInfo) {
    if (item.problem.empty()) item.problem = "no package information could be read";
    return;
  }
  item.uid = main.uid;
  item.uidHex = views::UidText(main.uid);
  item.name = main.Name();
  item.vendor = main.Vendor();
  item.vendorUnique = main.vendorUniqueName;
  // The version words as stored, also where a damaged information left them unread.
  item.versionWords = pkg.version;
  item.version = views::VersionText(pkg.version);
  item.installType = main.installType;
  item.flagBits = main.flagBits;
  item.flags = Joined(main.flags);
  item.created = main.created ? views::DateText(*main.created, 'T') : std::string();
  RowMaker rows(item);
  for (const views::PackageInTree& p : tree)
    rows.Add(p.facts, p.parent < 0 ? 0 : tree[static_cast<std::size_t>(p.parent)].facts.ordinal);
  item.fileCount = 0;
  for (const FileRow& f : item.files)
    if (f.ordinal == pkg.ordinal) ++item.fileCount;
  item.embeddedCount = item.embedded.size();
  if (pkg.generation == model::Generation::Sis9) {
    const signers::Report report = signers::Inspect(pkg, bytes);
    item.chainCount = report.chains.size();
    for (const signers::Chain& c : report.chains) item.signers.push_back(SignerRowOf(c));
  }
  for (const views::ExecutableFacts& x : views::ExecutablesOf(pkg, bytes)) item.executables.push_back(ExecutableRowOf(x));
}

// ---- Threads and queues ----------------------------------------------------------------

constexpr unsigned kMaxJobs = 64;

// An exclusive hold on the database file for the length of a run (flock, apart from the
// database's own locks), let go when the run ends or the process dies.
class RunLock {
 public:
  explicit RunLock(const std::string& database) : fd_(::open(database.c_str(), O_RDONLY | O_CLOEXEC)) {
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~RunLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

template <typename T>
class Queue {
 public:
  Queue(std::size_t capacity, int producers) : capacity_(capacity), producers_(producers) {}

  void Push(T value) {
    std::unique_lock lock(mutex_);
    notFull_.wait(lock, [&] { return items_.size() < capacity_; });
    items_.push_back(std::move(value));
    notEmpty_.notify_one();
  }
  // False once every producer is done and nothing is left.
  bool Pop(T& out) {
    std::unique_lock lock(mutex_);
    notEmpty_.wait(lock, [&] { return !items_.empty() || producers_ == 0; });
    if (items_.empty()) return false;
    out = std::move(items_.front());
    items_.pop_front();
    notFull_.notify_one();
    return true;
  }
  void ProducerDone() {
    std::lock_guard lock(mutex_);
    if (--producers_ == 0) notEmpty_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable notFull_, notEmpty_;
  std::deque<T> items_;
  std::size_t capacity_;
  int producers_;
};

// The bytes of package files that readers may hold at once.
class Budget {
 public:
  explicit Budget(std::uint64_t limit) : limit_(limit) {}
  void Acquire(std::uint64_t n) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ == 0 || used_ + n <= limit_; });
    used_ += n;
  }
  void Release(std::uint64_t n) {
    std::lock_guard lock(mutex_);
    used_ -= n;
    freed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  std::uint64_t limit_, used_ = 0;
};

struct Job {
  std::string path;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
};

// Reads the file of `job`: its first bytes, then (for a package) the whole of it.
Item ReadJob(const Job& job, Budget& budget) {
  Item item;
  item.path = job.path;
  item.size = job.size;
  item.mtime = job.mtime;
  // Not blocking, and no link followed: a file replaced by a named pipe after the walk must
  // not hold the run.
  const int fd = ::open(job.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
  if (fd < 0) {
    item.kind = Item::Kind::Error;
    item.error = job.path + ": cannot be read";
    return item;
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    item.kind = Item::Kind::Error;
    item.error = job.path + ": cannot be read (no longer a file)";
    return item;
  }
  auto readAll = [fd](std::uint8_t* to, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::read(fd, to + done, n - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  };
  std::uint8_t head[kHeadBytes] = {};
  const std::size_t headSize = readAll(head, sizeof head);
  if (!LooksLikePackage(std::span<const std::uint8_t>(head, headSize))) {
    item.kind = Item::Kind::NotPackage;
    return item;
  }
  // What the file's bytes hold of memory: a large file's holes take none.
  const std::uint64_t held = job.size < FileBytes::kMappedFrom
                                 ? job.size
                                 : std::min<std::uint64_t>(job.size, static_cast<std::uint64_t>(st.st_blocks) * 512);
  budget.Acquire(held);
  try {
    // The whole file, as it is now: only its data is read, the holes of a sparse file cost
    // neither memory nor time.
    FileBytes bytes;
    std::string why;
    if (!fsys::ReadOpenFile(fd, job.size, bytes, &why)) throw std::runtime_error(why);
    ReadFacts(bytes, item);
  } catch (const std::exception& e) {
    // Whatever went wrong with this one package, the walk goes on; its row says why.
    item = Item{};
    item.kind = Item::Kind::Package;
    item.path = job.path;
    item.size = job.size;
    item.mtime = job.mtime;
    item.problem = std::string("reading failed: ") + e.what();
  }
  budget.Release(held);
  return item;
}

// ---- The database ----------------------------------------------------------------------

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS catalog_info(key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE IF NOT EXISTS walked(
  path TEXT PRIMARY KEY, size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL,
  run INTEGER NOT NULL, is_package INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS packages(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  size INTEGER NOT NULL,
  mtime_ns INTEGER NOT NULL,
  sha1 TEXT NOT NULL,
  generation TEXT NOT NULL,
  stub INTEGER NOT NULL,
  uid INTEGER,
  uid_hex TEXT,
  name TEXT,
  vendor TEXT,
  vendor_unique_name TEXT,
  version TEXT,
  version_major INTEGER,
  version_minor INTEGER,
  version_build INTEGER,
  install_type TEXT,
  install_flags INTEGER,
  flags TEXT,
  created TEXT,
  file_count INTEGER NOT NULL,
  embedded_count INTEGER NOT NULL,
  signature_chains INTEGER NOT NULL,
  readable INTEGER NOT NULL,
  problem TEXT,
  problem_count INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS languages(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, position INTEGER NOT NULL, number INTEGER NOT NULL, code TEXT, name TEXT);
CREATE TABLE IF NOT EXISTS names(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, kind TEXT NOT NULL, language INTEGER, text TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS target_devices(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, uid INTEGER NOT NULL, uid_hex TEXT NOT NULL, platform TEXT,
  version_from TEXT, version_to TEXT, name TEXT);
CREATE TABLE IF NOT EXISTS dependencies(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, uid INTEGER NOT NULL, uid_hex TEXT NOT NULL,
  version_from TEXT, version_to TEXT, name TEXT);
CREATE TABLE IF NOT EXISTS files(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, position INTEGER NOT NULL, target TEXT NOT NULL, sha1 TEXT,
  compressed_size INTEGER NOT NULL, uncompressed_size INTEGER NOT NULL,
  operation TEXT, mime TEXT, language INTEGER);
CREATE TABLE IF NOT EXISTS embedded(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, parent_ordinal INTEGER NOT NULL, uid INTEGER NOT NULL, uid_hex TEXT NOT NULL,
  name TEXT, vendor TEXT, version TEXT, file_count INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS signers(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, chain INTEGER NOT NULL, subject TEXT, issuer TEXT, serial TEXT,
  not_before TEXT, not_after TEXT, key_type TEXT, fingerprint TEXT, trust TEXT NOT NULL,
  verdict TEXT NOT NULL, certificates INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS executables(
  package_id INTEGER NOT NULL REFERENCES packages(id) ON DELETE CASCADE,
  ordinal INTEGER NOT NULL, position INTEGER NOT NULL, target TEXT NOT NULL, kind TEXT,
  uid1 INTEGER, uid2 INTEGER, uid3 INTEGER, sid INTEGER, vid INTEGER, capabilities INTEGER,
  capability_names TEXT, format TEXT NOT NULL, compression TEXT, emulator INTEGER NOT NULL);
)sql";

// The secondary indexes: made with the tables for a catalogue that holds rows already, and
// after the rows for a new one (sorting every key once costs less than keeping the trees
// in order row by row).
struct Index {
  const char* name;
  const char* on;
};
constexpr Index kIndexes[] = {
    {"packages_uid", "packages(uid)"},
    {"packages_sha1", "packages(sha1)"},
    {"languages_package", "languages(package_id)"},
    {"names_package", "names(package_id)"},
    {"target_devices_package", "target_devices(package_id)"},
    {"target_devices_uid", "target_devices(uid)"},
    {"dependencies_package", "dependencies(package_id)"},
    {"dependencies_uid", "dependencies(uid)"},
    {"files_package", "files(package_id)"},
    {"files_sha1", "files(sha1)"},
    {"embedded_package", "embedded(package_id)"},
    {"embedded_uid", "embedded(uid)"},
    {"signers_package", "signers(package_id)"},
    {"signers_fingerprint", "signers(fingerprint)"},
    {"executables_package", "executables(package_id)"},
    {"executables_sid", "executables(sid)"},
};

class Writer {
 public:
  bool Open(const std::string& path, std::string& error) {
    auto fail = [&] {
      error = path + ": " + db_.Error();
      return false;
    };
    if (!db_.Open(path, false) || !db_.Exec("PRAGMA journal_mode=WAL") || !db_.Exec("PRAGMA synchronous=NORMAL") ||
        !db_.Exec("PRAGMA cache_size=-16384") || !db_.Exec("PRAGMA foreign_keys=ON") || !db_.Exec(kSchema))
      return fail();
    Statement version = db_.Prepare("SELECT value FROM catalog_info WHERE key='schema_version'");
    if (version.Step() && version.Text(0) != std::to_string(kSchemaVersion)) {
      error = path + ": made by another version of the catalogue (layout " + version.Text(0) + ")";
      return false;
    }
    version = Statement();
    Statement lastRun = db_.Prepare("SELECT value FROM catalog_info WHERE key='last_run'");
    run_ = (lastRun.Step() ? lastRun.Int(0) : 0) + 1;
    lastRun = Statement();
    Statement any = db_.Prepare("SELECT EXISTS(SELECT 1 FROM walked)");
    empty_ = any.Step() && any.Int(0) == 0;
    any = Statement();
    // A catalogue that starts empty gets its secondary indexes once its rows are in.
    for (const Index& i : kIndexes)
      if (!db_.Exec(empty_ ? std::string("DROP INDEX IF EXISTS ") + i.name
                           : std::string("CREATE INDEX IF NOT EXISTS ") + i.name + " ON " + i.on))
        return fail();
    Statement info = db_.Prepare("INSERT OR REPLACE INTO catalog_info(key, value) VALUES(?1, ?2)");
    if (!info.Bind(1, "schema_version").Bind(2, std::to_string(kSchemaVersion)).Run() ||
        !info.Bind(1, "last_run").Bind(2, std::to_string(run_)).Run())
      return fail();
    deleteByPath_ = db_.Prepare("DELETE FROM packages WHERE path=?1");
    insertPackage_ = db_.Prepare(
        "INSERT INTO packages(path,size,mtime_ns,sha1,generation,stub,uid,uid_hex,name,vendor,vendor_unique_name,"
        "version,version_major,version_minor,version_build,install_type,install_flags,flags,created,file_count,"
        "embedded_count,signature_chains,readable,problem,problem_count) "
        "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19,?20,?21,?22,?23,?24,?25)");
    walked_ = db_.Prepare(
        "INSERT OR REPLACE INTO walked(path,size,mtime_ns,run,is_package) VALUES(?1,?2,?3,?4,?5)");
    touch_ = db_.Prepare("UPDATE walked SET run=?2 WHERE path=?1");
    language_ = db_.Prepare("INSERT INTO languages VALUES(?1,?2,?3,?4,?5,?6)");
    name_ = db_.Prepare("INSERT INTO names VALUES(?1,?2,?3,?4,?5)");
    target_ = db_.Prepare("INSERT INTO target_devices VALUES(?1,?2,?3,?4,?5,?6,?7,?8)");
    dependency_ = db_.Prepare("INSERT INTO dependencies VALUES(?1,?2,?3,?4,?5,?6,?7)");
    file_ = db_.Prepare("INSERT INTO files VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10)");
    embedded_ = db_.Prepare("INSERT INTO embedded VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)");
    signer_ = db_.Prepare("INSERT INTO signers VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13)");
    executable_ = db_.Prepare("INSERT INTO executables VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15)");
    for (const Statement* s : {&deleteByPath_, &insertPackage_, &walked_, &touch_, &language_, &name_, &target_,
                               &dependency_, &file_, &embedded_, &signer_, &executable_})
      if (!s->Valid()) return fail();
    return true;
  }

  std::int64_t RunNumber() const { return run_; }
  // The catalogue held no file when the run began: nothing in it can be found unchanged.
  bool StartedEmpty() const { return empty_; }

  bool Begin() { return db_.Exec("BEGIN IMMEDIATE"); }
  bool Commit() { return db_.Exec("COMMIT"); }
  std::string Error() const { return db_.Error(); }

  // Makes the secondary indexes left out while the rows of a new catalogue went in.
  bool MakeIndexes() {
    if (!empty_) return true;
    for (const Index& i : kIndexes)
      if (!db_.Exec(std::string("CREATE INDEX IF NOT EXISTS ") + i.name + " ON " + i.on)) return false;
    return true;
  }

  // Writes one item; `removed` counts a package row that the item replaces by no row. The
  // texts are bound in place: the item outlives each statement's step.
  bool Write(const Item& item, std::uint64_t& removed) {
    switch (item.kind) {
      case Item::Kind::Unchanged:
      case Item::Kind::Error:
        // A file that could not be read now is kept as it was catalogued before: a passing
        // read error is no reason to forget it.
        return touch_.BindStatic(1, item.path).Bind(2, run_).Run();
      case Item::Kind::NotPackage:
        if (!deleteByPath_.BindStatic(1, item.path).Run()) return false;
        removed += static_cast<std::uint64_t>(db_.Changes());
        return Walked(item, false);
      case Item::Kind::Package:
        break;
    }
    if (!deleteByPath_.BindStatic(1, item.path).Run()) return false;
    Statement& p = insertPackage_;
    p.BindStatic(1, item.path).Bind(2, static_cast<std::int64_t>(item.size)).Bind(3, item.mtime).BindStatic(4, item.sha1);
    p.BindStatic(5, item.generation).Bind(6, item.stub);
    if (item.hasInfo) {
      p.Bind(7, item.uid).BindStatic(8, item.uidHex).BindStatic(9, item.name).BindStatic(10, item.vendor);
      p.BindStaticOrNull(11, item.vendorUnique).BindStatic(12, item.version);
      p.Bind(13, item.versionWords.major).Bind(14, item.versionWords.minor).Bind(15, item.versionWords.build);
      p.BindStaticOrNull(16, item.installType).Bind(17, item.flagBits).BindStatic(18, item.flags);
      p.BindStaticOrNull(19, item.created);
    }
    p.Bind(20, static_cast<std::int64_t>(item.fileCount)).Bind(21, static_cast<std::int64_t>(item.embeddedCount));
    p.Bind(22, static_cast<std::int64_t>(item.chainCount)).Bind(23, item.readable).BindStaticOrNull(24, item.problem);
    p.Bind(25, static_cast<std::int64_t>(item.problemCount));
    if (!p.Run()) return false;
    const std::int64_t id = sqlite3_last_insert_rowid(db_.Handle());
    bool ok = true;
    auto language = [](Statement& s, int i, const std::optional<std::uint32_t>& l) -> Statement& {
      return l ? s.Bind(i, *l) : s.BindNull(i);
    };
    for (const LanguageRow& r : item.languages)
      ok &= language_.Bind(1, id).Bind(2, r.ordinal).Bind(3, r.position).Bind(4, r.number)
                .BindStaticOrNull(5, r.code).BindStaticOrNull(6, r.name).Run();
    for (const NameRow& r : item.names) {
      name_.Bind(1, id).Bind(2, r.ordinal).BindStatic(3, r.kind).BindStatic(5, r.text);
      ok &= language(name_, 4, r.language).Run();
    }
    for (const DependencyRow& r : item.dependencies) {
      if (r.target) {
        ok &= target_.Bind(1, id).Bind(2, r.ordinal).Bind(3, r.uid).BindStatic(4, r.uidHex).BindStaticOrNull(5, r.platform)
                  .BindStaticOrNull(6, r.from).BindStaticOrNull(7, r.to).BindStatic(8, r.name).Run();
      } else {
        ok &= dependency_.Bind(1, id).Bind(2, r.ordinal).Bind(3, r.uid).BindStatic(4, r.uidHex)
                  .BindStaticOrNull(5, r.from).BindStaticOrNull(6, r.to).BindStatic(7, r.name).Run();
      }
    }
    for (const FileRow& r : item.files) {
      file_.Bind(1, id).Bind(2, r.ordinal).Bind(3, r.position).BindStatic(4, r.target).BindStaticOrNull(5, r.sha1);
      file_.Bind(6, static_cast<std::int64_t>(r.compressedSize)).Bind(7, static_cast<std::int64_t>(r.uncompressedSize));
      file_.BindStaticOrNull(8, r.operation).BindStatic(9, r.mime);
      ok &= language(file_, 10, r.language).Run();
    }
    for (const EmbeddedRow& r : item.embedded)
      ok &= embedded_.Bind(1, id).Bind(2, r.ordinal).Bind(3, r.parent).Bind(4, r.uid).BindStatic(5, r.uidHex)
                .BindStatic(6, r.name).BindStatic(7, r.vendor).BindStatic(8, r.version)
                .Bind(9, static_cast<std::int64_t>(r.files)).Run();
    for (const SignerRow& r : item.signers)
      ok &= signer_.Bind(1, id).Bind(2, r.ordinal).Bind(3, r.chain).BindStaticOrNull(4, r.subject)
                .BindStaticOrNull(5, r.issuer).BindStaticOrNull(6, r.serial).BindStaticOrNull(7, r.notBefore)
                .BindStaticOrNull(8, r.notAfter).BindStaticOrNull(9, r.keyType).BindStaticOrNull(10, r.fingerprint)
                .BindStatic(11, r.trust).BindStatic(12, r.verdict).Bind(13, r.certificates).Run();
    for (const ExecutableRow& r : item.executables) ok &= WriteExecutable(id, r);
    return ok && Walked(item, true);
  }

  bool WriteExecutable(std::int64_t id, const ExecutableRow& r) {
    Statement& s = executable_;
    auto word = [&s](int i, const std::optional<std::uint32_t>& w) -> Statement& { return w ? s.Bind(i, *w) : s.BindNull(i); };
    s.Bind(1, id).Bind(2, r.ordinal).Bind(3, r.position).BindStatic(4, r.target).BindStaticOrNull(5, r.kind);
    word(6, r.uid1);
    word(7, r.uid2);
    word(8, r.uid3);
    word(9, r.sid);
    word(10, r.vid);
    // The 64 capability bits as SQLite's signed integer (no capability uses the top bit).
    if (r.capabilities)
      s.Bind(11, static_cast<std::int64_t>(*r.capabilities));
    else
      s.BindNull(11);
    s.BindStaticOrNull(12, r.capabilityNames).BindStatic(13, r.format);
    return s.BindStaticOrNull(14, r.compression).Bind(15, r.emulator).Run();
  }

  // Counts the files under `folder` as met by this run (a folder that could not be read).
  bool KeepUnder(const std::string& folder) {
    Statement keep = db_.Prepare(std::string("UPDATE walked SET run=?2 WHERE ") + kUnder);
    return keep.Bind(1, folder).Bind(2, run_).Run();
  }

  // Drops the rows of files under `folder` that this run did not meet; how many package rows went.
  bool RemoveUnseen(const std::string& folder, std::uint64_t& removed) {
    Statement packages = db_.Prepare(std::string("DELETE FROM packages WHERE path IN (SELECT path FROM walked WHERE ") +
                                     kUnder + ")");
    Statement walked = db_.Prepare(std::string("DELETE FROM walked WHERE ") + kUnder);
    if (!packages.Bind(1, folder).Bind(2, run_).Run()) return false;
    removed += static_cast<std::uint64_t>(db_.Changes());
    return walked.Bind(1, folder).Bind(2, run_).Run();
  }

 private:
  // The files under the folder ?1 that this run (?2) has not met.
  static constexpr const char* kUnder = "(path=?1 OR substr(path,1,length(?1)+1)=?1 || '/') AND run<?2";

  bool Walked(const Item& item, bool isPackage) {
    return walked_.BindStatic(1, item.path).Bind(2, static_cast<std::int64_t>(item.size)).Bind(3, item.mtime)
        .Bind(4, run_).Bind(5, isPackage).Run();
  }

  Database db_;
  std::int64_t run_ = 1;
  bool empty_ = false;
  Statement deleteByPath_, insertPackage_, walked_, touch_, language_, name_, target_, dependency_, file_, embedded_,
      signer_, executable_;
};

std::int64_t MtimeNs(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// A folder named on the command line as an absolute path without a trailing separator.
std::string FolderKey(const std::string& folder) {
  std::error_code ec;
  fs::path p = fs::absolute(folder, ec).lexically_normal();
  std::string text = p.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

namespace {

using Clock = std::chrono::steady_clock;

// A reader: reads the files of the batches it is handed and passes on their rows. The rows of
// large packages go on alone or a few at once, so that the queue holds rows of a bounded size
// of packages.
void ReadBatches(Queue<std::vector<Job>>& work, Queue<std::vector<Item>>& done, Budget& budget) {
  std::vector<Job> batch;
  while (work.Pop(batch)) {
    std::vector<Item> items;
    std::uint64_t bytes = 0;
    for (const Job& job : batch) {
      items.push_back(ReadJob(job, budget));
      bytes += job.size;
      if (bytes >= kBatchBytes) {
        done.Push(std::exchange(items, {}));
        bytes = 0;
      }
    }
    if (!items.empty()) done.Push(std::move(items));
  }
  done.ProducerDone();
}

// What the writer thread needs of the run.
struct WriteState {
  const Options& options;
  Writer& writer;
  Result& result;
  std::atomic<bool>& failed;
  Clock::time_point start;
  Progress progress;
};

// Counts one item into the result and the progress, and writes its rows.
void WriteItem(WriteState& w, const Item& item) {
  ++w.progress.filesDone;
  const bool isPackage = item.kind == Item::Kind::Package || (item.kind == Item::Kind::Unchanged && item.isPackage);
  if (isPackage) ++w.progress.packagesFound;
  if (item.kind == Item::Kind::Package) {
    ++w.result.written;
    if (!item.readable) ++w.result.unreadable;
  }
  if (item.kind != Item::Kind::Unchanged) {
    ++w.result.filesRead;
    w.progress.bytesRead += item.size;
  }
  if (item.kind == Item::Kind::Error && w.result.errors.size() < kErrorsKept) w.result.errors.push_back(item.error);
  if (!w.failed && !w.writer.Write(item, w.result.removed)) {
    w.failed = true;
    w.result.errors.push_back(w.options.database + ": " + w.writer.Error());
  }
}

void Report(WriteState& w) {
  w.progress.seconds = std::chrono::duration<double>(Clock::now() - w.start).count();
  w.options.progress(w.progress);
}

// The one writer: every item's rows, committed now and then, so that the walk's look-ups see
// the rows and an interrupted run keeps what it did.
void WriteItems(WriteState& w, Queue<std::vector<Item>>& done) {
  auto lastReport = Clock::now();
  auto lastCommit = lastReport;
  bool inTransaction = w.writer.Begin();
  std::vector<Item> batch;
  while (done.Pop(batch)) {
    for (const Item& item : batch) WriteItem(w, item);
    const auto now = Clock::now();
    if (now - lastCommit > kCommitEvery) {
      if (inTransaction) w.writer.Commit();
      inTransaction = w.writer.Begin();
      lastCommit = now;
    }
    if (w.options.progress && now - lastReport > std::chrono::milliseconds(100)) {
      Report(w);
      lastReport = now;
    }
  }
  if (inTransaction && !w.writer.Commit()) {
    w.failed = true;
    w.result.errors.push_back(w.options.database + ": " + w.writer.Error());
  }
  w.result.packages = w.progress.packagesFound;
  w.result.bytesRead = w.progress.bytesRead;
  if (w.options.progress) Report(w);
}

// The walk, on the caller's thread: files the catalogue knows as they are go straight to the
// writer, the others to the readers.
struct Walk {
  Queue<std::vector<Job>>& work;
  Queue<std::vector<Item>>& done;
  Result& result;
  Statement* lookup;  // null when the catalogue started empty
  // Folders walked to their end; folders below them that could not be; what went wrong.
  std::vector<std::string> walkedFolders, unwalked, errors;
  std::vector<Job> jobs;
  std::vector<Item> unchanged;

  void File(const std::string& path, const struct stat& st) {
    ++result.filesSeen;
    Job job{path, static_cast<std::uint64_t>(st.st_size), MtimeNs(st)};
    bool known = false, wasPackage = false;
    if (lookup) {
      lookup->Bind(1, path);
      known = lookup->Step() && static_cast<std::uint64_t>(lookup->Int(0)) == job.size && lookup->Int(1) == job.mtime;
      wasPackage = known && lookup->Int(2) != 0;
      lookup->Reset();
    }
    if (!known) {
      jobs.push_back(std::move(job));
      if (jobs.size() >= kJobBatch) work.Push(std::exchange(jobs, {}));
      return;
    }
    ++result.unchanged;
    Item item;
    item.kind = Item::Kind::Unchanged;
    item.path = std::move(job.path);
    item.isPackage = wasPackage;
    unchanged.push_back(std::move(item));
    if (unchanged.size() >= kUnchangedBatch) done.Push(std::exchange(unchanged, {}));
  }

  // Walks `folder` depth first without following links. A folder in it that cannot be read
  // is said, and the rows under it are kept as they were.
  void Folder(const std::string& folder) {
    const std::string root = FolderKey(folder);
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
      errors.push_back(folder + ": not a folder");
      return;
    }
    bool complete = true;
    std::vector<fs::path> pending{fs::path(root)};
    while (!pending.empty()) {
      const fs::path dir = std::move(pending.back());
      pending.pop_back();
      if (Entries(dir, pending)) continue;
      if (dir == root)
        complete = false;
      else
        unwalked.push_back(dir.string());
    }
    // Rows under a folder that could not be walked to its end are kept: a folder that is
    // missing for a while (an unplugged drive) must not empty the catalogue.
    if (complete) walkedFolders.push_back(root);
  }

  // Hands the files of one folder to File and puts its folders on `pending`; false, and the
  // system's reason said, when the folder could not be read to its end.
  bool Entries(const fs::path& dir, std::vector<fs::path>& pending) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      std::error_code sec;
      const fs::file_status status = it->symlink_status(sec);
      if (sec) continue;
      if (fs::is_directory(status)) {
        pending.push_back(it->path());
        continue;
      }
      if (!fs::is_regular_file(status)) continue;
      struct stat st {};
      const std::string path = it->path().string();
      if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) File(path, st);
    }
    if (!ec) return true;
    errors.push_back(dir.string() + ": cannot be walked (" + ec.message() + "); its rows are kept");
    return false;
  }

  void Finish() {
    if (!jobs.empty()) work.Push(std::move(jobs));
    if (!unchanged.empty()) done.Push(std::move(unchanged));
    work.ProducerDone();
    done.ProducerDone();
  }
};

// After the walk: the rows of files that are gone, and the indexes.
bool Conclude(Writer& writer, const Walk& walk, Result& result) {
  bool ok = true;
  writer.Begin();
  for (const std::string& folder : walk.unwalked)
    if (!writer.KeepUnder(folder)) ok = false;
  for (const std::string& root : walk.walkedFolders)
    if (!writer.RemoveUnseen(root, result.removed)) ok = false;
  if (ok && !writer.MakeIndexes()) ok = false;
  if (!writer.Commit()) ok = false;
  return ok;
}

}  // namespace

Result Run(const Options& options) {
  Result result;
  const auto start = Clock::now();
  Writer writer;
  std::string error;
  if (!writer.Open(options.database, error)) {
    result.errors.push_back(error);
    return result;
  }
  // One run at a time per catalogue: a second run would drop, as gone, the rows the first
  // one is writing. It is refused rather than made to wait behind a run of hours.
  const RunLock lock(options.database);
  if (!lock.Held()) {
    result.errors.push_back(options.database + ": another catalog run is using this database");
    return result;
  }
  // The walk asks a connection of its own whether a file is known as it is; the writer's
  // committed rows are what it sees. A catalogue that starts empty knows no file.
  const bool lookups = !writer.StartedEmpty();
  Database lookupDb;
  Statement lookup;
  if (lookups) {
    if (!lookupDb.Open(options.database, true)) {
      result.errors.push_back(options.database + ": " + lookupDb.Error());
      return result;
    }
    lookup = lookupDb.Prepare("SELECT size, mtime_ns, is_package FROM walked WHERE path=?1");
  }

  // Files go to the readers, and items to the writer, in batches: one hand-over (and one
  // wake-up of the thread on the other side) per batch rather than per file.
  // More readers than kMaxJobs only cost threads (and beyond what the system grants, the run).
  const unsigned jobs = std::min(options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency()), kMaxJobs);
  Queue<std::vector<Job>> work(2 * jobs + 2, 1);
  Queue<std::vector<Item>> done(2 * jobs + 4, static_cast<int>(jobs) + 1);
  Budget budget(options.memoryBudget);
  std::vector<std::thread> readers;
  for (unsigned i = 0; i < jobs; ++i) readers.emplace_back([&] { ReadBatches(work, done, budget); });
  std::atomic<bool> writeFailed{false};
  WriteState w{options, writer, result, writeFailed, start, {}};
  std::thread writerThread([&] { WriteItems(w, done); });

  Walk walk{work, done, result, lookups ? &lookup : nullptr, {}, {}, {}, {}, {}};
  for (const std::string& folder : options.folders) walk.Folder(folder);
  walk.Finish();
  for (std::thread& t : readers) t.join();
  writerThread.join();
  result.errors.insert(result.errors.begin(), walk.errors.begin(), walk.errors.end());

  if (!writeFailed && !Conclude(writer, walk, result)) {
    writeFailed = true;
    result.errors.push_back(options.database + ": " + writer.Error());
  }
  result.ok = !writeFailed;
  return result;
}

}  // namespace tarvik::catalog
