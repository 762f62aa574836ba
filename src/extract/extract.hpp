#pragma once
// Extraction: writes the files a package carries into a folder the person picked, inflating
// the ones stored deflated, and lists what was written.
//
// It reads the file table of the package view (typed rows: offsets, sizes, compression,
// SHA-1) and the package's bytes. Every byte range is checked against the bytes, every
// destination is made safe (safe_path.hpp), and a file is written only when its bytes are
// complete and sound.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"
#include "model/package.hpp"
#include "views/views.hpp"

namespace tarvik::extract {

inline constexpr const char* kErrorExtracting = "Error while extracting ";
inline constexpr const char* kErrorCutting = "Error while cutting ";
// Heads the one message of an extraction folder that cannot be made or opened.
inline constexpr const char* kCannotUseFolder = "Cannot extract into ";
// zlib's failures are reported with this in front of their message (bytes/inflate.hpp).
inline constexpr const char* kInflateFailure = "Internal Error: ";
inline constexpr const char* kResultHead = "The following files were extracted to ";
// Appended to a listed file whose content does not match the hash its package carries.
inline constexpr const char* kHashMismatchMark = "  [SHA-1 mismatch]";
inline constexpr const char* kPastEndHead =
    "The package is cut short: the data of these files lies past its end, and they were not extracted:";
inline constexpr const char* kNoFileData =
    "This package carries no file data: its files are expected on the device already.";
inline constexpr const char* kHashMismatchHead =
    "The following extracted files do not match the SHA-1 hash that the package gives for them:";

using Sha1Digest = views::Sha1Digest;

// What the hash check of a written file found.
enum class HashCheck { None, Match, Mismatch };

// How far an extraction has come: files finished and bytes of package data handled.
struct ProgressInfo {
  std::uint64_t bytesDone = 0, bytesTotal = 0;
  std::size_t filesDone = 0, filesTotal = 0;
};

// What an extraction tells the person while it runs. Progress and Cancelled may be called
// from a worker thread when the extraction runs on one.
class Reporter {
 public:
  virtual ~Reporter() = default;
  // A file could not be written (shown as a critical message).
  virtual void Failed(const std::string& text) = 0;
  // A stream could not be inflated (shown as a warning).
  virtual void Warning(const std::string& text) = 0;
  // `done` of `total` bytes of package data handled.
  virtual void Progress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
  // Files and bytes: after every file and every piece of a large one. By default the bytes
  // go to Progress.
  virtual void Advance(const ProgressInfo& p) { Progress(p.bytesDone, p.bytesTotal); }
  // Checked between pieces of work: true ends the extraction, keeping the files that are
  // complete; the file being written is removed.
  virtual bool Cancelled() const { return false; }
};

// A reporter that tells nobody anything (extraction into a scratch folder, tests, fuzzing);
// what failed is still in the result.
class QuietReporter : public Reporter {
 public:
  void Failed(const std::string&) override {}
  void Warning(const std::string&) override {}
};

// A file written, as the result lists it.
struct WrittenFile {
  std::size_t row = 0;         // its position in the rows given to ExtractAll
  std::string path;            // relative to the extraction folder, native separators
  std::uint64_t size = 0;      // bytes written
  HashCheck check = HashCheck::None;
};

// A file that could not be written, and why.
struct FailedFile {
  std::size_t row = 0;
  std::string path;            // relative to the extraction folder, native separators
  std::string reason;
};

struct Result {
  std::string list;                     // bare names of the written files, one per CR LF line
  std::vector<std::string> mismatches;  // shown paths of files whose SHA-1 does not match
  // Shown paths of files whose stored bytes lie past the end of the package (a package cut
  // short); they are not written, the others are.
  std::vector<std::string> pastEnd;
  int extracted = 0;                    // files written
  bool stopped = false;                 // ended early (cancelled, or the disk is full)
  bool cancelled = false;               // ended by the reporter's cancel
  std::vector<WrittenFile> written;     // in row order
  std::vector<FailedFile> failures;     // in row order
};

// Extracts every row of `rows` from `package` into `folder` (a native path ending in a
// separator). Pre-9.x rows are stored or deflated as the package says; 9.x rows as each
// row says, and checked against their SHA-1.
Result ExtractAll(ByteView package, model::Generation generation, const std::vector<views::FileRow>& rows,
                  const std::string& folder, Reporter& reporter);

}  // namespace tarvik::extract
