#pragma once
// A hand-made package (bytes and file table), extracted through the extract operation.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/inflate.hpp"
#include "extract/extract.hpp"
#include "operations/extract.hpp"
#include "support/fake_ui.hpp"
#include "support/test_env.hpp"

namespace tarvik::test {

inline Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

inline Bytes Deflate(std::string_view s) {
  Bytes out;
  Compress(reinterpret_cast<const std::uint8_t*>(s.data()), s.size(), out);
  return out;
}

// The SHA-1 of `s`.
inline views::Sha1Digest Sha1Of(std::string_view s) {
  views::Sha1Digest d{};
  unsigned int len = 0;
  EVP_Digest(s.data(), s.size(), d.data(), &len, EVP_sha1(), nullptr);
  return d;
}

// Package bytes built piece by piece: each Add returns the offset where the piece starts.
struct PackageBytes {
  Bytes bytes;
  std::int64_t Add(const Bytes& piece) {
    const auto at = static_cast<std::int64_t>(bytes.size());
    bytes.insert(bytes.end(), piece.begin(), piece.end());
    return at;
  }
  std::int64_t Add(std::string_view piece) { return Add(ToBytes(piece)); }
};

class ExtractTest : public ::testing::Test {
 protected:
  FakeUi ui;
  TempDir dir;
  window::Commands app{ui, TestPlatform(dir)};
  std::string out = dir / "out";
  // The package the extraction reads when nothing is open in `app`: its bytes, its generation and its file table.
  Bytes bytes;
  model::Generation generation = model::Generation::Pre9;
  bool stub = false;
  std::vector<views::FileRow> rows;
  // What the last extraction gave.
  std::string resultText;
  int resultShown = 0;
  int extracted = 0;
  bool declined = false;
  std::string folder;  // the folder the last extraction was given, as the operation keeps it
  std::vector<std::pair<std::uint64_t, std::uint64_t>> progress;

  void SetUp() override { std::filesystem::create_directories(out); }

  // The package to extract from; its rows say whether their bytes are deflated.
  void Load(const Bytes& b, int sis9) {
    bytes = b;
    generation = sis9 ? model::Generation::Sis9 : model::Generation::Pre9;
  }
  std::vector<views::FileRow>& Rows() { return rows; }

  // The hand-made package as an opened item.
  std::shared_ptr<const ops::Opened> HandMade() const {
    auto item = std::make_shared<ops::Opened>();
    item->kind = ops::ItemKind::Package;
    item->bytes = std::make_shared<const FileBytes>(bytes);
    auto package = std::make_shared<model::Package>();
    package->generation = generation;
    package->stub = stub;
    if (generation == model::Generation::Pre9) package->oldHeader.emplace().fileCount = static_cast<std::uint32_t>(rows.size());
    item->package = package;
    item->generation = generation;
    item->view.files = rows;
    return item;
  }

  // Extracts every row of what `app` has open (or of the hand-made package) into `into`
  // through the extract operation, telling its messages.
  void Extract(const std::string& into) {
    ops::ExtractRequest request;
    request.folder = into;
    const ops::ExtractJob job = ops::PrepareExtraction(app.State().item ? app.State().item : HandMade(), request, ui);
    folder = job.folder;
    struct Seen : extract::Reporter {
      explicit Seen(std::vector<std::pair<std::uint64_t, std::uint64_t>>& seen) : seen_(seen) {}
      void Failed(const std::string&) override {}
      void Warning(const std::string&) override {}
      void Progress(std::uint64_t done, std::uint64_t total) override { seen_.emplace_back(done, total); }
      std::vector<std::pair<std::uint64_t, std::uint64_t>>& seen_;
    } reporter(progress);
    const ops::ExtractReport report = ops::RunExtraction(job, reporter);
    for (const ops::Message& m : report.messages) ui.Tell(m);
    resultText = ops::ResultText(job, report);
    resultShown = resultText.empty() ? 0 : 1;
    extracted = report.result.extracted;
    declined = job.status == ops::ExtractStatus::Declined;
  }
  void Extract() { Extract(out); }

  // A file below the extraction folder, by its package path.
  std::string Written(std::string_view packagePath) const { return out + "/" + ToNative(packagePath); }
  bool Exists(std::string_view packagePath) const { return std::filesystem::exists(Written(packagePath)); }

  std::string ResultHead() const { return std::string(extract::kResultHead) + out + "/bin\r\n\r\n"; }
};

// 9.x extraction: rows added as the reader leaves them, over package bytes that begin
// with 64 bytes standing for the header and controller.
class ExtractSis9Test : public ExtractTest {
 protected:
  PackageBytes pkg;

  void SetUp() override {
    ExtractTest::SetUp();
    pkg.Add(std::string(64, '\x7A'));  // stands for the header and controller
  }

  // A row as the package view gives it.
  views::FileRow& AddRow(const std::string& path, bool deflated, std::int64_t offset, std::uint64_t csize,
                         std::uint64_t usize) {
    views::FileRow r;
    r.hasData = true;
    r.offset = offset;
    r.deflated = deflated;
    r.compressedSize = csize;
    r.uncompressedSize = usize;
    r.extractPath = path;
    Rows().push_back(r);
    return Rows().back();
  }
  views::FileRow& AddDeflated(const std::string& path, std::string_view content) {
    const Bytes z = Deflate(content);
    const auto at = pkg.Add(z);
    views::FileRow& r = AddRow(path, true, at, z.size(), content.size());
    r.sha1 = Sha1Of(content);
    return r;
  }
  views::FileRow& AddStored(const std::string& path, std::string_view content) {
    const auto at = pkg.Add(content);
    views::FileRow& r = AddRow(path, false, at, content.size(), content.size());
    r.sha1 = Sha1Of(content);
    return r;
  }
};

}  // namespace tarvik::test
