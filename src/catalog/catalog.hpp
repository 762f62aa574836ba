#pragma once
// A catalogue of whole collections of packages in one SQLite database: the folders are
// walked, packages are recognised by their first bytes (whatever their names), also inside
// ZIP, TAR and 7z archives (and archives inside those), each is read
// in memory and its facts are written as rows (packages, languages, names, target devices,
// dependencies, files, embedded packages, signers, executables). A later run over the same folders reads
// only the files whose size or modification time changed, and drops the rows of files that
// are gone. Several reader threads parse packages; one writer thread owns the database.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "catalog/archive_reader.hpp"

namespace tarvik::catalog {

// The version of the database layout, kept in the catalog_info table.
inline constexpr int kSchemaVersion = 2;

struct Progress {
  std::uint64_t filesDone = 0;      // files looked at (read, or known unchanged)
  std::uint64_t packagesFound = 0;  // packages among them
  std::uint64_t bytesRead = 0;
  double seconds = 0;               // since the run began
};

struct Options {
  std::vector<std::string> folders;
  std::string database;
  unsigned jobs = 0;  // reader threads; 0: one per core
  // Bytes of package files held in memory at once by the readers (a single larger package
  // is still read, alone).
  std::uint64_t memoryBudget = 64ull << 20;
  // What is read of archives (ZIP, TAR, 7z) met in the folders, at most.
  ArchiveLimits archives;
  // Called from the writer thread now and then while the run goes on, and once at its end.
  std::function<void(const Progress&)> progress;
};

struct Result {
  bool ok = false;                // the database could be opened and written
  std::uint64_t filesSeen = 0;    // regular files met in the folders
  std::uint64_t filesRead = 0;    // files whose bytes were read (new or changed)
  std::uint64_t unchanged = 0;    // files skipped because their size and time were the same
  std::uint64_t packages = 0;     // packages in the folders (read now or unchanged)
  std::uint64_t written = 0;      // package rows written in this run
  std::uint64_t unreadable = 0;   // of those, packages that could not be read
  std::uint64_t removed = 0;      // rows dropped because their file is gone or no longer a package
  std::uint64_t bytesRead = 0;
  std::uint64_t archives = 0;         // archive files read in this run
  std::uint64_t archiveProblems = 0;  // problems recorded of them
  std::vector<std::string> errors;  // folders or files that could not be read, database errors
};

Result Run(const Options& options);

}  // namespace tarvik::catalog
