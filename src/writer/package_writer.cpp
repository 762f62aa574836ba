#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "bytes/field_reader.hpp"
#include "bytes/inflate.hpp"
#include "writer/build.hpp"
#include "writer/controller.hpp"
#include "writer/internal.hpp"
#include "writer/output.hpp"

namespace tarvik::writer {

namespace {

using detail::Child;
using detail::StoredData;

constexpr std::uint32_t kSisUid1 = 0x10201A7A;
constexpr std::uint32_t kOpNull = 8;

model::DateTime Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  model::DateTime d;
  d.year = static_cast<std::uint16_t>(tm.tm_year + 1900);
  d.month0 = static_cast<std::uint8_t>(tm.tm_mon);
  d.day = static_cast<std::uint8_t>(tm.tm_mday);
  d.hour = static_cast<std::uint8_t>(tm.tm_hour);
  d.minute = static_cast<std::uint8_t>(tm.tm_min);
  d.second = static_cast<std::uint8_t>(tm.tm_sec);
  return d;
}

std::string FolderOf(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? std::string(".") : parent;
}

class PackageWriter {
 public:
  PackageWriter(model::Package&& p, const BuildSettings& s, const std::string& out)
      : pkg_(std::move(p)), s_(s), out_(out), spool_(FolderOf(out)), sources_(s) {}

  BuildResult Run() {
    if (!spool_.ok()) return Fail("", "cannot make a scratch file in " + FolderOf(out_) + ": " + std::strerror(errno));
    pkg_.created = s_.created.value_or(Now());
    if (pkg_.logo) CollectFile(*pkg_.logo);
    Collect(pkg_.body);
    if (!result_.ok()) return result_;
    NumberFiles();
    std::vector<Bytes> childControllers;
    for (const Child& c : children_) childControllers.push_back(c.controller);
    Bytes controller;
    PutField(controller, sistype::Controller, detail::ControllerWriter(childControllers).Value(pkg_));
    Write(controller);
    return result_;
  }

 private:
  BuildResult Fail(const std::string& source, const std::string& message) {
    result_.problems.push_back({source, message});
    return result_;
  }

  void Collect(model::InstallBlock& b) {
    for (model::FileEntry& f : b.files) CollectFile(f);
    for (model::Package& c : b.embedded) CollectChild(c);
    for (model::IfBlock& i : b.ifs) {
      if (i.branch.block) Collect(*i.branch.block);
      for (model::ConditionalBlock& e : i.elseIfs)
        if (e.block) Collect(*e.block);
    }
  }

  void CollectFile(model::FileEntry& f) {
    if (f.source.empty()) {
      f.index = 0;  // a null file: no data
      return;
    }
    const detail::OpenSource file = sources_.Open(f.source);
    if (!file.ok() && !file.error().empty()) return (void)Fail(f.source, "cannot read " + file.path() + ": " + file.error());
    if (!file.ok() && Preinstalled() && !f.hash.empty() && f.operation != kOpNull) return KeepStated(f);
    if (!file.ok()) return (void)Fail(f.source, "source file not found");
    if (f.operation == kOpNull) {
      f.index = 0;
      const std::string why = store_.DigestOnly(file, f);
      if (!why.empty()) Fail(f.source, "cannot read " + file.path() + ": " + why);
      return;
    }
    StoredData data;
    const std::uint32_t order = f.index;
    const std::string why = store_.Store(file, !s_.noCompress, f, spool_, data);
    if (!why.empty()) return (void)Fail(f.source, "cannot read " + file.path() + ": " + why);
    f.index = order;
    files_.push_back(data);
    entries_.push_back(&f);
  }

  bool Preinstalled() const { return pkg_.installType == 3 || pkg_.installType == 4; }

  // A file of a pre-installed package that is not at hand: its description as the PKG file
  // states it (the package carries no data for it anyway).
  void KeepStated(model::FileEntry& f) {
    StoredData data;
    data.offset = spool_.size();
    data.length = f.compressedSize;
    data.uncompressed = f.uncompressedSize;
    data.algorithm = f.compression;
    files_.push_back(data);
    entries_.push_back(&f);
  }

  // The data unit holds the files in the order their entries' indexes give (script order,
  // from the PKG reader), numbered from 0.
  void NumberFiles() {
    std::vector<std::size_t> order(files_.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return entries_[a]->index < entries_[b]->index; });
    std::vector<StoredData> sorted;
    sorted.reserve(files_.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
      entries_[order[k]]->index = static_cast<std::uint32_t>(k);
      sorted.push_back(files_[order[k]]);
    }
    files_ = std::move(sorted);
  }

  void CollectChild(const model::Package& c) {
    std::string path = ResolveSource(c.name, s_);
    std::vector<std::string> errors;
    if (path.empty() && s_.makeMissing) {
      std::string wanted = c.name;
      for (char& ch : wanted)
        if (ch == '\\') ch = '/';
      if (!wanted.empty() && wanted[0] != '/') wanted = (std::filesystem::path(s_.baseDir) / wanted).string();
      if (s_.makeMissing(wanted, errors)) path = ResolveSource(c.name, s_);
      for (const std::string& e : errors) Fail(c.name, e);
      if (!errors.empty()) return;
    }
    if (path.empty()) return (void)Fail(c.name, "embedded package not found");
    Child child;
    const std::string why = detail::LoadChild(path, c.uid, child);
    if (!why.empty()) return (void)Fail(c.name, "the embedded package " + path + " " + why);
    // Its data units follow those met before; the index of its first one goes in its
    // controller (indexes nested deeper stay relative to it).
    const std::uint32_t index = units_;
    for (int i = 0; i < 4; ++i) child.controller[child.dataIndexAt + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(index >> (8 * i));
    units_ += static_cast<std::uint32_t>(child.units.size());
    children_.push_back(std::move(child));
  }

  void Write(const Bytes& controller);

  model::Package pkg_;
  const BuildSettings& s_;
  std::string out_;
  detail::Spool spool_;
  detail::FileStore store_;
  detail::SourceFolders sources_;
  std::vector<StoredData> files_;  // the main package's data unit, by file index
  std::vector<model::FileEntry*> entries_;  // the entry of each of files_
  std::vector<Child> children_;    // embedded packages in stored order
  std::uint32_t units_ = 1;        // data units so far (the main package's is 0)
  BuildResult result_;
};

void PackageWriter::Write(const Bytes& controller) {
  detail::Output out(out_, 0644, s_.tempFile);
  if (!out.ok()) return (void)Fail("", "cannot write " + out_ + ": " + out.error());
  if (s_.stub) {
    out.Put(controller);
  } else {
    Bytes payload;
    const bool deflated = !s_.noCompress;
    if (deflated && Compress(controller.data(), controller.size(), payload) != 0) return (void)Fail("", "cannot deflate the controller");
    Bytes compressed;
    PutFieldHeader(compressed, sistype::Compressed, 12 + (deflated ? payload.size() : controller.size()));
    PutU32(compressed, deflated ? 1 : 0);
    PutU64(compressed, controller.size());
    compressed.insert(compressed.end(), deflated ? payload.begin() : controller.begin(), deflated ? payload.end() : controller.end());
    PutPadding(compressed);
    detail::DataLayout layout(files_, children_, Preinstalled());
    Bytes head;
    PutU32(head, kSisUid1);
    PutU32(head, 0);
    PutU32(head, pkg_.uid);
    PutU32(head, UidChecksum(kSisUid1, 0, pkg_.uid));
    const std::uint64_t contents = 12 + 12 + compressed.size() + layout.FieldSize();
    PutFieldHeader(head, sistype::Contents, contents);
    PutFieldHeader(head, sistype::ControllerChecksum, 2);
    PutU16(head, Crc16(compressed.data(), compressed.size()));
    PutPadding(head);
    const std::uint64_t dataChecksumAt = head.size() + 8;
    PutFieldHeader(head, sistype::DataChecksum, 2);
    PutU32(head, 0);
    out.Put(head);
    out.Put(compressed);
    bool failed = false;
    const std::uint16_t crc = layout.Write(out, spool_, failed);
    if (failed) return (void)Fail("", "cannot read back the scratch file");
    Bytes sum;
    PutU16(sum, crc);
    out.PutAt(dataChecksumAt, sum);
  }
  if (!out.Commit()) return (void)Fail("", "cannot write " + out_ + ": " + out.error());
  result_.bytesWritten = out.size();
}

}  // namespace

BuildResult WritePackage(model::Package package, const BuildSettings& settings, const std::string& outPath) {
  return PackageWriter(std::move(package), settings, outPath).Run();
}

}  // namespace tarvik::writer
