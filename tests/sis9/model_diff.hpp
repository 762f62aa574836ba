#pragma once
// Differential check of the 9.x parser and view against the reader that fills the window's
// tables: after a package was opened through the Open command, the same bytes go through
// ParsePackage and DescribeSis9, and the script, the header list, the file table and the
// messages must be the same. Scaffolding for as long as both readers exist.

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "bytes/inflate.hpp"
#include "extract/extract.hpp"
#include "parse/parse.hpp"
#include "shell/app.hpp"
#include "store/tables.hpp"
#include "support/fake_ui.hpp"
#include "views/views.hpp"

namespace tarvik::test {

// The messages the Open command shows for the problems of a 9.x package, in order.
inline std::vector<std::string> ExpectedMessages(const model::Package& p) {
  std::vector<std::string> out, damaged;
  for (const model::Problem& q : p.problems) {
    switch (q.kind) {
      case model::Problem::Kind::NotAPackage:
        out.push_back("This is not the valid SIS file!");
        break;
      case model::Problem::Kind::Inflate:
        if (q.status == zstatus::BufError) out.push_back("Extraction Error: Buffer to small");
        if (q.status == zstatus::MemError) out.push_back("Extraction Error: Insufficient memory");
        if (q.status == zstatus::DataError) out.push_back("Extraction Error: Input file corrupted  ");
        break;
      case model::Problem::Kind::Damaged:
        damaged.push_back(q.what + " at " + std::to_string(q.where));
        break;
      default:
        ADD_FAILURE() << "unexpected problem kind for a 9.x package";
    }
  }
  if (p.stub) out.push_back("This is a stub sis file which contains no file inside");
  if (!damaged.empty()) {
    std::string text = std::string(kProgramName) + " Damaged package data: could not read ";
    const std::size_t shown = std::min<std::size_t>(damaged.size(), 5);
    for (std::size_t i = 0; i < shown; ++i) text += (i ? "; " : "") + damaged[i];
    if (damaged.size() > shown) text += "; and " + std::to_string(damaged.size() - shown) + " more";
    out.push_back(text);
  }
  return out;
}

// True when the bytes go to the 9.x reader when opened (not empty, not pre-9.x).
inline bool GoesToSis9Reader(const Bytes& bytes) {
  if (bytes.empty()) return false;
  return GetData2(ByteView(bytes), 8, 4, true) != "10000419";
}

// Compares what `app` shows after opening `bytes` (named `path`) with the view of the
// parsed model. `firstMessage` is the number of messages recorded before the open.
inline void ExpectModelMatchesLegacy(const App& app, const FakeUi& ui, std::size_t firstMessage, const Bytes& bytes,
                                     const std::string& path) {
  if (!GoesToSis9Reader(bytes)) return;
  const model::Package pkg = sis9::ParsePackage(bytes, path);
  views::ScriptSettings settings;
  settings.sourceFolder = app.state.defaultSourceFolder;
  const views::PackageView view = views::DescribeSis9(pkg, settings);

  EXPECT_EQ(view.script, ui.text) << "script of " << path;
  EXPECT_EQ(view.header, app.stores.List1.Lines()) << "header of " << path;

  std::vector<std::string> shown;
  for (std::size_t i = firstMessage; i < ui.messages.size(); ++i) shown.push_back(ui.messages[i].text);
  EXPECT_EQ(ExpectedMessages(pkg), shown) << "messages of " << path;

  const auto& rows = app.stores.ListView1.Rows();
  ASSERT_EQ(view.files.size(), rows.size()) << "file rows of " << path;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    const views::FileRow& f = view.files[i];
    SCOPED_TRACE("row " + std::to_string(i + 1) + " of " + path);
    EXPECT_EQ(f.extractPath, r.Get(col9::ExtractPath));
    EXPECT_EQ(f.source, r.Get(col9::Source));
    EXPECT_EQ(f.target, r.Get(col9::Target));
    EXPECT_EQ(std::to_string(f.unit), r.Text());
    EXPECT_EQ(std::to_string(f.index), r.Get(col9::FileDataId));
    EXPECT_EQ(f.hasData ? HexText(static_cast<std::uint64_t>(f.offset)) : std::string(), r.Get(col9::Offset));
    ASSERT_NE(f.entry, nullptr);
    EXPECT_EQ(std::to_string(f.entry->compression), r.Get(col9::Compression));
    EXPECT_EQ(f.deflated, r.Get(col9::Compression) == "1");
    EXPECT_EQ(HexText(f.compressedSize, 16), r.Get(col9::CompressByte));
    EXPECT_EQ(HexText(f.uncompressedSize, 16), r.Get(col9::UncompressByte));
    // The one intended difference: the table carries "SHA-1 algorithm" over from an earlier
    // file to a file that names another algorithm; the view gives a SHA-1 only to a file
    // that names SHA-1 itself.
    EXPECT_EQ(f.sha1, f.entry->hashAlgorithm == 1 ? extract::RowSha1(r) : std::nullopt);
  }
}

}  // namespace tarvik::test
