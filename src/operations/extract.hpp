#pragma once
// Extracting the files of an opened package into a folder: all of them or a selection, with
// the build-ready PKG files as an option. One orchestration for every front end: Prepare
// asks its questions on the caller's thread, Run does the work (on any thread) and gathers
// what happened into a report that the front end renders.

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

struct ExtractRequest {
  std::string folder;  // the chosen folder; a separator is added when it has none
  // Positions in the item's file table; nothing for every file. Build-ready PKG files name
  // every file of the package, so only a whole extraction writes them.
  std::optional<std::vector<std::size_t>> rows;
  bool rebuildScripts = false;
  bool certificates = false;  // the signature certificates too, as DER files
};

enum class ExtractStatus {
  Go,        // files are to be written
  NoData,    // a pre-installed package carries no file data (said once); PKG files may still be written
  Declined,  // the person declined writing more than the package could honestly hold
  Refused,   // nothing to do: no folder, nothing extractable, or a stub
  Extras,    // no file to write, but PKG files or certificates
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
};

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
