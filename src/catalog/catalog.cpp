#include "catalog/catalog.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
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

#include "catalog/archive_reader.hpp"
#include "catalog/database.hpp"
#include "bytes/inflate.hpp"
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
  std::string sha256 = {};  // of what the file holds, inflated
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
  // An archive's items come in order: ArchiveStart, then its packages, problems and the
  // archives inside it (Archive), then Archive for the file itself.
  enum class Kind : std::uint8_t { Package, NotPackage, Unchanged, Error, ArchiveStart, Archive, ArchiveProblem } kind =
      Kind::Package;
  std::string path;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
  bool isPackage = false;       // Unchanged: what it was found to be before
  std::uint64_t inArchive = 0;  // Unchanged: the packages of the archive it was found to be
  std::string error;            // Error: what went wrong; ArchiveProblem: the problem

  // A package inside an archive (path is then "<archive>!/<member>"), an archive inside one
  // (Archive) or a member a problem is about (ArchiveProblem): the archive file and the
  // member path in it.
  std::string archive, member;
  // Archive: its format and what it held.
  std::string format;
  std::uint64_t members = 0, packagesInside = 0;

  // Package.
  std::string sha1, sha256, generation, uidHex, name, vendor, vendorUnique, version, installType, flags, created, problem;
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
  RowMaker(Item& item, const FileBytes& bytes) : item_(item), bytes_(bytes) {}

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
    row.sha256 = ContentSha256(e);
    item_.files.push_back(std::move(row));
  }

  // The SHA-256 of what the file holds once inflated; empty when its bytes are not all in
  // the package or do not inflate to what it declares.
  std::string ContentSha256(const model::FileEntry& e) {
    const ByteView all(bytes_);
    if (!e.dataOffset || e.pastCut || !all.HasRange(*e.dataOffset, static_cast<Pos>(e.compressedSize))) return {};
    if (!sha256_) sha256_.reset(EVP_MD_CTX_new());
    // Fetched once: a digest started from EVP_sha256() looks its implementation up each time.
    static const EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    if (!sha256_ || !kSha256 || EVP_DigestInit_ex(sha256_.get(), kSha256, nullptr) != 1) return {};
    const std::uint8_t* data = all.Ptr(*e.dataOffset);
    bool ok = true;
    if (e.compression == 1) {
      std::uint64_t total = 0;
      InflateOptions options;
      options.stream = &inflate_;
      const int status = InflateTo(
          data, static_cast<std::size_t>(e.compressedSize), e.uncompressedSize,
          [&](const std::uint8_t* d, std::size_t n) {
            total += n;
            return EVP_DigestUpdate(sha256_.get(), d, n) == 1;
          },
          options);
      ok = status == zstatus::Ok && total == e.uncompressedSize;
    } else {
      ok = e.compressedSize == e.uncompressedSize &&
           EVP_DigestUpdate(sha256_.get(), data, static_cast<std::size_t>(e.compressedSize)) == 1;
    }
    std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(sha256_.get(), digest.data(), &size) != 1 || !ok) return {};
    return views::HexBytes(std::span<const std::uint8_t>(digest.data(), size));
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
  const FileBytes& bytes_;
  InflateStream inflate_;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha256_{nullptr, EVP_MD_CTX_free};
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
  views::FileDigests digests = views::FileDigestsHex(bytes);
  item.sha1 = std::move(digests.sha1);
  item.sha256 = std::move(digests.sha256);
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
  RowMaker rows(item, bytes);
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
  // `held`: what the caller holds already; a caller that holds all that is in use goes on
  // alone, whatever the limit.
  void Acquire(std::uint64_t n, std::uint64_t held = 0) {
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ == held || used_ + n <= limit_; });
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

// Where a reader puts the items of an archive as it reads them, in order.
using Emit = std::function<void(Item&&)>;

// Hands on what is found in an archive file as items: each package read in memory into
// its rows, each problem and each archive read.
class ArchiveItems : public ArchiveSink {
 public:
  ArchiveItems(const Job& job, Budget& budget, const Emit& emit) : job_(job), budget_(budget), emit_(emit) {}
  ~ArchiveItems() override {
    if (held_) budget_.Release(held_);
  }
  ArchiveItems(const ArchiveItems&) = delete;
  ArchiveItems& operator=(const ArchiveItems&) = delete;

  void Reserve(std::uint64_t n) override {
    budget_.Acquire(n, held_);
    held_ += n;
  }
  void Free(std::uint64_t n) override {
    budget_.Release(n);
    held_ -= n;
  }
  void Package(const std::string& member, std::int64_t mtimeNs, const FileBytes& bytes) override {
    Item item = Of(member);
    item.path = job_.path + "!/" + member;
    item.size = bytes.size();
    item.mtime = mtimeNs;
    try {
      ReadFacts(bytes, item);
    } catch (const std::exception& e) {
      item = Of(member);
      item.path = job_.path + "!/" + member;
      item.size = bytes.size();
      item.problem = std::string("reading failed: ") + e.what();
    }
    item.kind = Item::Kind::Package;
    emit_(std::move(item));
  }
  void Problem(const std::string& member, const std::string& problem) override {
    Item item = Of(member);
    item.kind = Item::Kind::ArchiveProblem;
    item.error = problem;
    emit_(std::move(item));
  }
  void Archive(const ArchiveSummary& summary) override {
    Item item = Of(summary.member);
    item.kind = Item::Kind::Archive;
    item.format = summary.format;
    item.members = summary.members;
    item.packagesInside = summary.packages;
    if (summary.member.empty()) {
      // The file itself, last: its size and time go into the walk's record.
      item.path = job_.path;
      item.size = job_.size;
      item.mtime = job_.mtime;
    }
    emit_(std::move(item));
  }

 private:
  Item Of(const std::string& member) const {
    Item item;
    item.path = job_.path;
    item.archive = job_.path;
    item.member = member;
    return item;
  }

  const Job& job_;
  Budget& budget_;
  const Emit& emit_;
  std::uint64_t held_ = 0;
};

// Walks the file of `job`, open at `fd`, as an archive: its items go to `emit`, after an
// ArchiveStart (its rows replace what was known of the file). False when it is not one.
bool ReadArchiveJob(int fd, const Job& job, Budget& budget, const ArchiveLimits& limits, const Emit& emit) {
  Item start;
  start.kind = Item::Kind::ArchiveStart;
  start.path = job.path;
  bool started = false;
  const Emit emitAfterStart = [&](Item&& i) {
    if (!std::exchange(started, true)) emit(std::move(start));
    emit(std::move(i));
  };
  ArchiveItems items(job, budget, emitAfterStart);
  try {
    return ReadArchive(fd, job.size, limits, items);
  } catch (const std::exception& e) {
    // Whatever went wrong (no memory for a member), the archive's rows say so and the walk
    // goes on.
    items.Problem({}, std::string("reading failed: ") + e.what());
    items.Archive({});
    return true;
  }
}

// Reads the file of `job`: its first bytes, then (for a package) the whole of it; a file
// that is an archive is walked. Its item (or an archive's items) go to `emit`.
void ReadJob(const Job& job, Budget& budget, const ArchiveLimits& limits, const Emit& emit) {
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
    return emit(std::move(item));
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    item.kind = Item::Kind::Error;
    item.error = job.path + ": cannot be read (no longer a file)";
    return emit(std::move(item));
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
    if (headSize == 0 || !ReadArchiveJob(fd, job, budget, limits, emit)) emit(std::move(item));
    return;
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
  emit(std::move(item));
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
  problem_count INTEGER NOT NULL,
  sha256 TEXT,
  archive TEXT,
  member TEXT);
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
  operation TEXT, mime TEXT, language INTEGER, sha256 TEXT);
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
CREATE TABLE IF NOT EXISTS archives(
  path TEXT NOT NULL, member TEXT NOT NULL, format TEXT, members INTEGER NOT NULL, packages INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS archive_problems(path TEXT NOT NULL, member TEXT NOT NULL, problem TEXT NOT NULL);
CREATE VIEW IF NOT EXISTS installed_files AS
  SELECT f.package_id, f.ordinal, coalesce(e.uid, p.uid) AS uid, f.target,
         lower(CASE WHEN substr(f.target, 2, 1) = ':' THEN substr(f.target, 3) ELSE f.target END) AS target_key,
         f.sha256
  FROM files f JOIN packages p ON p.id = f.package_id
  LEFT JOIN embedded e ON e.package_id = f.package_id AND e.ordinal = f.ordinal
  WHERE f.operation IS NULL OR f.operation NOT IN ('null', 'text', 'FILETEXT', 'FILENULL', 'EMBEDDED SIS');
CREATE VIEW IF NOT EXISTS target_conflicts AS
  SELECT i.target_key AS target, printf('0x%08X', i.uid) AS uid_hex, p.path, i.target AS as_written
  FROM installed_files i JOIN packages p ON p.id = i.package_id
  WHERE i.target_key IN (SELECT target_key FROM installed_files GROUP BY target_key HAVING count(DISTINCT uid) > 1)
  ORDER BY i.target_key, i.uid, p.path;
CREATE VIEW IF NOT EXISTS version_conflicts AS
  SELECT uid_hex, version, sha256, path FROM packages p
  WHERE uid IS NOT NULL AND EXISTS (SELECT 1 FROM packages q WHERE q.uid = p.uid AND q.version_major = p.version_major
        AND q.version_minor = p.version_minor AND q.version_build = p.version_build AND q.sha256 <> p.sha256)
  ORDER BY uid, version_major, version_minor, version_build, sha256, path;
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
    {"packages_sha256", "packages(sha256)"},
    {"packages_archive", "packages(archive)"},
    {"files_sha256", "files(sha256)"},
    {"archives_path", "archives(path)"},
    {"archive_problems_path", "archive_problems(path)"},
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
        "embedded_count,signature_chains,readable,problem,problem_count,sha256,archive,member) "
        "VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15,?16,?17,?18,?19,?20,?21,?22,?23,?24,?25,?26,?27,?28)");
    walked_ = db_.Prepare(
        "INSERT OR REPLACE INTO walked(path,size,mtime_ns,run,is_package) VALUES(?1,?2,?3,?4,?5)");
    touch_ = db_.Prepare("UPDATE walked SET run=?2 WHERE path=?1");
    language_ = db_.Prepare("INSERT INTO languages VALUES(?1,?2,?3,?4,?5,?6)");
    name_ = db_.Prepare("INSERT INTO names VALUES(?1,?2,?3,?4,?5)");
    target_ = db_.Prepare("INSERT INTO target_devices VALUES(?1,?2,?3,?4,?5,?6,?7,?8)");
    dependency_ = db_.Prepare("INSERT INTO dependencies VALUES(?1,?2,?3,?4,?5,?6,?7)");
    file_ = db_.Prepare(
        "INSERT INTO files(package_id,ordinal,position,target,sha1,compressed_size,uncompressed_size,operation,mime,"
        "language,sha256) VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11)");
    forgetPackages_ = db_.Prepare("DELETE FROM packages WHERE path=?1 OR archive=?1");
    forgetArchives_ = db_.Prepare("DELETE FROM archives WHERE path=?1");
    forgetProblems_ = db_.Prepare("DELETE FROM archive_problems WHERE path=?1");
    packageExists_ = db_.Prepare("SELECT 1 FROM packages WHERE path=?1");
    archive_ = db_.Prepare("INSERT INTO archives VALUES(?1,?2,?3,?4,?5)");
    problem_ = db_.Prepare("INSERT INTO archive_problems VALUES(?1,?2,?3)");
    embedded_ = db_.Prepare("INSERT INTO embedded VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9)");
    signer_ = db_.Prepare("INSERT INTO signers VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13)");
    executable_ = db_.Prepare("INSERT INTO executables VALUES(?1,?2,?3,?4,?5,?6,?7,?8,?9,?10,?11,?12,?13,?14,?15)");
    for (const Statement* s : {&deleteByPath_, &insertPackage_, &walked_, &touch_, &language_, &name_, &target_,
                               &dependency_, &file_, &embedded_, &signer_, &executable_, &forgetPackages_,
                               &forgetArchives_, &forgetProblems_, &packageExists_, &archive_, &problem_})
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
  bool Write(Item& item, std::uint64_t& removed) {
    switch (item.kind) {
      case Item::Kind::Unchanged:
      case Item::Kind::Error:
        // A file that could not be read now is kept as it was catalogued before: a passing
        // read error is no reason to forget it.
        return touch_.BindStatic(1, item.path).Bind(2, run_).Run();
      case Item::Kind::NotPackage:
        if (!Forget(item.path, removed)) return false;
        return Walked(item, false);
      case Item::Kind::ArchiveStart:
      case Item::Kind::ArchiveProblem:
      case Item::Kind::Archive:
        return WriteArchive(item);
      case Item::Kind::Package:
        break;
    }
    if (item.archive.empty()) {
      if (!deleteByPath_.BindStatic(1, item.path).Run()) return false;
    } else if (!UniqueMemberPath(item)) {
      return false;
    }
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
    p.Bind(25, static_cast<std::int64_t>(item.problemCount)).BindStaticOrNull(26, item.sha256);
    p.BindStaticOrNull(27, item.archive).BindStaticOrNull(28, item.member);
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
      ok &= language(file_, 10, r.language).BindStaticOrNull(11, r.sha256).Run();
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
    return ok && (!item.archive.empty() || Walked(item, true));
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
    const std::string gone = std::string("(SELECT path FROM walked WHERE ") + kUnder + ")";
    Statement packages = db_.Prepare("DELETE FROM packages WHERE path IN " + gone + " OR archive IN " + gone);
    Statement archives = db_.Prepare("DELETE FROM archives WHERE path IN " + gone);
    Statement problems = db_.Prepare("DELETE FROM archive_problems WHERE path IN " + gone);
    Statement walked = db_.Prepare(std::string("DELETE FROM walked WHERE ") + kUnder);
    if (!packages.Bind(1, folder).Bind(2, run_).Run()) return false;
    removed += static_cast<std::uint64_t>(db_.Changes());
    return archives.Bind(1, folder).Bind(2, run_).Run() && problems.Bind(1, folder).Bind(2, run_).Run() &&
           walked.Bind(1, folder).Bind(2, run_).Run();
  }

 private:
  // The files under the folder ?1 that this run (?2) has not met.
  static constexpr const char* kUnder = "(path=?1 OR substr(path,1,length(?1)+1)=?1 || '/') AND run<?2";

  // The start of an archive's rows (those it had go), a problem met in it, or an archive read.
  bool WriteArchive(const Item& item) {
    if (item.kind == Item::Kind::ArchiveStart) {
      std::uint64_t replaced = 0;  // read again now: not removed
      return Forget(item.path, replaced);
    }
    if (item.kind == Item::Kind::ArchiveProblem)
      return problem_.BindStatic(1, item.archive).BindStatic(2, item.member).BindStatic(3, item.error).Run();
    if (!archive_.BindStatic(1, item.archive).BindStatic(2, item.member).BindStaticOrNull(3, item.format)
             .Bind(4, static_cast<std::int64_t>(item.members)).Bind(5, static_cast<std::int64_t>(item.packagesInside))
             .Run())
      return false;
    // The file itself, last: the walk's record says it was read.
    return !item.member.empty() || Walked(item, false);
  }

  // Drops every row of the file at `path`: its package, or the packages, archives and
  // problems found in it when it was an archive.
  bool Forget(const std::string& path, std::uint64_t& removed) {
    if (!forgetPackages_.BindStatic(1, path).Run()) return false;
    removed += static_cast<std::uint64_t>(db_.Changes());
    return forgetArchives_.BindStatic(1, path).Run() && forgetProblems_.BindStatic(1, path).Run();
  }

  // A member name met twice in one archive: the later package's path gets " (2)", " (3)" ...
  // and the archive a problem that says so.
  bool UniqueMemberPath(Item& item) {
    const std::string base = item.path;
    for (int n = 2;; ++n) {
      packageExists_.BindStatic(1, item.path);
      const bool taken = packageExists_.Step();
      packageExists_.Reset();
      if (!taken) break;
      item.path = base + " (" + std::to_string(n) + ")";
    }
    if (item.path == base) return true;
    return problem_.BindStatic(1, item.archive).BindStatic(2, item.member).Bind(3, "a member name met more than once").Run();
  }

  bool Walked(const Item& item, bool isPackage) {
    return walked_.BindStatic(1, item.path).Bind(2, static_cast<std::int64_t>(item.size)).Bind(3, item.mtime)
        .Bind(4, run_).Bind(5, isPackage).Run();
  }

  Database db_;
  std::int64_t run_ = 1;
  bool empty_ = false;
  Statement deleteByPath_, insertPackage_, walked_, touch_, language_, name_, target_, dependency_, file_, embedded_,
      signer_, executable_, forgetPackages_, forgetArchives_, forgetProblems_, packageExists_, archive_, problem_;
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
void ReadBatches(Queue<std::vector<Job>>& work, Queue<std::vector<Item>>& done, Budget& budget,
                 const ArchiveLimits& limits) {
  std::vector<Job> batch;
  std::vector<Item> items;
  std::uint64_t bytes = 0;
  const Emit emit = [&](Item&& item) {
    bytes += item.size;
    items.push_back(std::move(item));
    if (bytes >= kBatchBytes || items.size() >= kUnchangedBatch) {
      done.Push(std::exchange(items, {}));
      bytes = 0;
    }
  };
  while (work.Pop(batch)) {
    for (const Job& job : batch) ReadJob(job, budget, limits, emit);
    if (!items.empty()) done.Push(std::exchange(items, {}));
    bytes = 0;
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

// Whether an item stands for a file of the folders (rather than for something in an archive).
bool OfAFile(const Item& item) {
  switch (item.kind) {
    case Item::Kind::Package: return item.archive.empty();
    case Item::Kind::Archive: return item.member.empty();
    case Item::Kind::ArchiveStart:
    case Item::Kind::ArchiveProblem: return false;
    default: return true;
  }
}

// Counts one item into the result and the progress, and writes its rows.
void WriteItem(WriteState& w, Item& item) {
  const bool ofAFile = OfAFile(item);
  if (ofAFile) ++w.progress.filesDone;
  const bool isPackage = item.kind == Item::Kind::Package || (item.kind == Item::Kind::Unchanged && item.isPackage);
  if (isPackage) ++w.progress.packagesFound;
  if (item.kind == Item::Kind::Unchanged) w.progress.packagesFound += item.inArchive;
  if (item.kind == Item::Kind::Package) {
    ++w.result.written;
    if (!item.readable) ++w.result.unreadable;
  }
  if (item.kind == Item::Kind::Archive && ofAFile) ++w.result.archives;
  if (item.kind == Item::Kind::ArchiveProblem) ++w.result.archiveProblems;
  if (item.kind != Item::Kind::Unchanged && ofAFile) {
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
    for (Item& item : batch) WriteItem(w, item);
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
    std::uint64_t inArchive = 0;
    if (lookup) {
      lookup->Bind(1, path);
      known = lookup->Step() && static_cast<std::uint64_t>(lookup->Int(0)) == job.size && lookup->Int(1) == job.mtime;
      wasPackage = known && lookup->Int(2) != 0;
      if (known) inArchive = static_cast<std::uint64_t>(lookup->Int(3));
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
    item.inArchive = inArchive;
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
    lookup = lookupDb.Prepare(
        "SELECT size, mtime_ns, is_package, (SELECT coalesce(sum(packages), 0) FROM archives WHERE path=?1) "
        "FROM walked WHERE path=?1");
  }

  // Files go to the readers, and items to the writer, in batches: one hand-over (and one
  // wake-up of the thread on the other side) per batch rather than per file.
  // More readers than kMaxJobs only cost threads (and beyond what the system grants, the run).
  const unsigned jobs = std::min(options.jobs ? options.jobs : std::max(1u, std::thread::hardware_concurrency()), kMaxJobs);
  Queue<std::vector<Job>> work(2 * jobs + 2, 1);
  Queue<std::vector<Item>> done(2 * jobs + 4, static_cast<int>(jobs) + 1);
  Budget budget(options.memoryBudget);
  std::vector<std::thread> readers;
  for (unsigned i = 0; i < jobs; ++i) readers.emplace_back([&] { ReadBatches(work, done, budget, options.archives); });
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
