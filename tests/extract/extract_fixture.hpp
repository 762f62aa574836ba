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

}  // namespace tarvik::test
