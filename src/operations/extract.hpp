#pragma once
// Extracting the files of an opened package into a folder: all of them or a selection, with
// the build-ready PKG files as an option. One orchestration for every front end: Prepare
// asks its questions on the caller's thread, Run does the work (on any thread) and gathers
// what happened into a report that the front end renders.

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "extract/certificates.hpp"
#include "extract/extract.hpp"
#include "operations/conversation.hpp"
#include "operations/open.hpp"

namespace tarvik::ops {

// Said when PKG files are asked for with the package's folder left out.
inline constexpr const char* kRebuildNeedsPrefix =
    "PKG files for rebuilding are written only when the files keep their bin\\<package>\\ folder.";

// Head the notes that list the files that stood at their destinations before an extraction.
inline constexpr const char* kKeptHead = "These files stood there already and were kept; the package's files were not written:";
inline constexpr const char* kRenamedHead =
    "These files stood there already and were kept; the package's files were written beside them as:";

// What an extraction does with files that already stand where it would write.
enum class Overwrite {
  Ask,     // ask the person, file by file until an answer is for all
  All,     // replace them
  Skip,    // keep them and leave the package's files out
  Rename,  // keep them and write the package's files beside them under free names
};

struct ExtractRequest {
  std::string folder;  // the chosen folder; a separator is added when it has none
  // Positions in the item's file table; nothing for every file. Build-ready PKG files name
  // every file of the package, so only a whole extraction writes them.
  std::optional<std::vector<std::size_t>> rows;
  bool rebuildScripts = false;
  bool certificates = false;  // the signature certificates too, as DER files
  Overwrite overwrite = Overwrite::Ask;
  // Files go straight into the folder, without the "bin\<package>\" in front of their paths
  // (embedded packages keep their "Embedded Components\<name>\"). PKG files for rebuilding
  // name the paths with it, so they are not written then.
  bool leaveOutPrefix = false;
};

enum class ExtractStatus {
  Go,        // files are to be written
  NoData,    // a pre-installed package carries no file data (said once); PKG files may still be written
  Declined,  // the person declined writing more than the package could honestly hold
  Refused,   // nothing to do: no folder, nothing extractable, or a stub
  Extras,    // no file to write, but PKG files or certificates
  Kept,      // files stand where the extraction would write, and the person chose to touch nothing
};

// An extraction ready to run.
struct ExtractJob {
  ExtractStatus status = ExtractStatus::Refused;
  std::shared_ptr<const Opened> item;
  std::string folder;                    // ends in a separator
  std::vector<views::FileRow> rows;      // the rows to write
  std::vector<std::size_t> positions;    // their positions in the item's file table
  bool rebuildScripts = false;
  std::vector<extract::CertificateFile> certificates;
  // The PKG files (native paths) that the person allowed to replace what stands there.
  std::set<std::string> replaceable;
  // Files that stood at their destinations before the run: how many, and the positions in
  // `rows` of those left out (kept as they are) and of those written under a free name
  // (their row's extractPath is that name).
  std::size_t existing = 0;
  std::vector<std::size_t> skipped, renamed;
  bool leaveOutPrefix = false;
};

// The free name for a file whose path is taken: "name (2).ext", "name (3).ext", ...; `taken`
// says whether a relative path (backslashes) is in use.
std::string FreeName(const std::string& relative, const std::function<bool(const std::string&)>& taken);

// A 9.x package with no file to extract (no file descriptions, or only FN lines) that still
// has build-ready PKG files.
bool PkgFilesWithoutFiles(const Opened& item);

// Checks the request against the item and asks what must be asked first.
ExtractJob PrepareExtraction(std::shared_ptr<const Opened> item, const ExtractRequest& request,
                             Conversation& conversation);

struct ExtractReport {
  extract::Result result;
  std::vector<std::string> scripts;  // build-ready PKG files written, relative to the folder, with "/"
  std::vector<std::string> scriptFailures;  // why a PKG file could not be written, one text each
  std::vector<std::string> kept;     // files that stood there and were kept, relative to the folder
  std::vector<std::string> renamed;  // files written under a free name, relative to the folder
  // What the person is told, in order: files that could not be written, streams that could not
  // be inflated, PKG files that could not be written, data past the end, SHA-1 mismatches.
  std::vector<Message> messages;
  std::string error;  // an unexpected failure that ended the extraction
  // Something did not come out as the package promised: a file not written, data past the
  // end, a mismatching SHA-1 or an unexpected failure.
  bool Faulty() const;
};

// Runs a job whose status is Go, NoData or Extras; `progress` hears of the files and bytes done and
// may cancel. Safe to call from a worker thread: it asks nothing.
ExtractReport RunExtraction(const ExtractJob& job, extract::Reporter& progress);

// The text that lists what a report wrote ("The following files were extracted to ...", then
// the PKG files and the certificates), empty when nothing was written.
std::string ResultText(const ExtractJob& job, const ExtractReport& report);

}  // namespace tarvik::ops
