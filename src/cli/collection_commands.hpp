#pragma once
// Commands of tarvik-cli that work on many packages at once: the JSON facts of packages
// and the SQLite catalogue of folders.

#include <string>
#include <vector>

namespace tarvik::cli {

// Prints one JSON document per file, one per line; 0 when every file could be read, 2 when
// one could not be.
int PrintFacts(const std::vector<std::string>& files, const std::string& sourceDir);

// Catalogues the packages under `folders` into `database`; the progress line is drawn on
// stderr when it is a terminal (and not `quiet`). 0 when the catalogue was written and
// every folder walked, 1 when a folder or file could not be read, 2 when the database
// could not be written.
int RunCatalog(const std::vector<std::string>& folders, const std::string& database, unsigned jobs, bool quiet);

// The folder that each of several files is extracted into: DIR/<file name>, with " (2)",
// " (3)" ... for file names met before (ignoring case).
std::vector<std::string> ExtractFolders(const std::vector<std::string>& files, const std::string& dir);

}  // namespace tarvik::cli
