#pragma once
// tarvik-cli check: will each package install, and will it work.

#include <string>
#include <vector>

namespace tarvik::cli {

struct CheckCommand {
  std::vector<std::string> files;
  std::string date;    // YYYY-MM-DD, or empty for now
  std::string device;  // a platform's name or short name, or a UID; or empty
  bool json = false;
};

// Prints the findings of each file (text, or one JSON document per line); 0 when no file
// has an error, 1 when one has, 2 when a file could not be read or an argument is wrong.
int RunCheck(const CheckCommand& command);

}  // namespace tarvik::cli
