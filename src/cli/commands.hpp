#pragma once
// The commands of tarvik-cli that work on one file at a time: pkg, info, extract and save,
// each over the operations. Each returns the file's exit status (0 fine, 1 a problem was
// found or something was not written, 2 the file could not be read).

#include <string>

#include "operations/extract.hpp"

namespace tarvik::cli {

struct FileCommand {
  std::string sourceDir;  // the Working Directory, or empty
  bool force = false;     // the answer to every question
  // extract
  bool quiet = false;
  bool rebuildScripts = false;
  bool certificates = false;
  ops::Overwrite overwrite = ops::Overwrite::Ask;  // files that stand in DIR already
};

int PrintScript(const std::string& file, const FileCommand& command);
int PrintInfo(const std::string& file, const FileCommand& command);
int ExtractFile(const std::string& file, const std::string& dir, const FileCommand& command);
int SaveFile(const std::string& file, const std::string& out, const FileCommand& command);

}  // namespace tarvik::cli
