#pragma once
// An App with a hand-made package in its buffer and file table, and an extraction folder.

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/inflate.hpp"
#include "extract/extract.hpp"
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
  App app{ui, TestPlatform(dir)};
  std::string out = dir / "out";

  void SetUp() override { std::filesystem::create_directories(out); }

  // Puts the package into the app and on disk as the opened file. Pre-9.x rows are stored
  // or deflated as the package's header says.
  void Load(const Bytes& bytes, int formatMarker) {
    const std::string path = dir.Write("package.sis", bytes);
    app.bytes = bytes;
    app.state.openedFile = app.state.currentFile = path;
    app.state.formatMarker = formatMarker;
    if (formatMarker == 0) {
      const ByteView b(bytes);
      const bool release6 = ReadLE(b, 4, 4) == 0x10003A12 || ReadLE(b, 32, 4) >= 200;
      const bool deflated = release6 && (ReadLE(b, 36, 2) & 0x0008) == 0;
      for (views::FileRow& r : Rows()) r.deflated = deflated;
    }
  }
  std::vector<views::FileRow>& Rows() { return app.state.view.files; }

  void Extract(const std::string& folder) {
    ui.folderAnswers.push_back(folder);
    app.mnExtr_Click();
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
    r.unit = 1;
    r.index = static_cast<std::uint32_t>(Rows().size());
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
