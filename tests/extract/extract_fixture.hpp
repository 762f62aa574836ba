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

// The SHA-1 of `s`, as the 9.x file table holds it: two hexadecimal digits per byte.
inline std::vector<std::string> Sha1Cells(std::string_view s) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_Digest(s.data(), s.size(), md, &len, EVP_sha1(), nullptr);
  std::vector<std::string> cells;
  for (unsigned int i = 0; i < len; ++i) cells.push_back(HexText(md[i], 2));
  return cells;
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

  // Puts the package into the buffer and on disk as the opened file.
  void Load(const Bytes& bytes, int formatMarker) {
    const std::string path = dir.Write("package.sis", bytes);
    app.buffer.data = bytes;
    app.state.openedFile = app.state.currentFile = path;
    app.state.formatMarker = formatMarker;
  }

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

  // A row as the reader leaves it after assembly: hexadecimal offset and sizes.
  Row& AddRow(const std::string& path, const std::string& compression, std::uint64_t offset, std::uint64_t csize,
              std::uint64_t usize) {
    Row& r = app.stores.ListView1.Add("1");
    r.Set(col9::FileDataId, std::to_string(app.stores.ListView1.Count() - 1));
    r.Set(col9::Offset, HexText(offset));
    r.Set(col9::Compression, compression);
    r.Set(col9::CompressByte, HexText(csize, 16));
    r.Set(col9::UncompressByte, HexText(usize, 16));
    r.Set(col9::ExtractPath, path);
    return r;
  }
  static void SetHash(Row& r, const std::vector<std::string>& cells) {
    for (std::size_t i = 0; i < cells.size(); ++i) r.Set(col9::Hash1 + i, cells[i]);
    r.Set(col9::HashAlgorithm, "SHA-1 algorithm");
  }
  Row& AddDeflated(const std::string& path, std::string_view content) {
    const Bytes z = Deflate(content);
    const auto at = pkg.Add(z);
    Row& r = AddRow(path, "1", static_cast<std::uint64_t>(at), z.size(), content.size());
    SetHash(r, Sha1Cells(content));
    return r;
  }
  Row& AddStored(const std::string& path, std::string_view content) {
    const auto at = pkg.Add(content);
    Row& r = AddRow(path, "0", static_cast<std::uint64_t>(at), content.size(), content.size());
    SetHash(r, Sha1Cells(content));
    return r;
  }
};

}  // namespace tarvik::test
