#pragma once
// The source names of a PKG script's install, run, MIME and text lines, checked against the
// disk: after extracting into the Working Directory, each must name a written file.

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace tarvik::test {

struct ScriptSources {
  std::vector<std::string> names;  // source names with no file behind them
  std::vector<std::string> mixed;  // source names that mix "/" and "\\"
  std::size_t checked = 0;
};

inline ScriptSources MissingSources(const std::string& script) {
  ScriptSources r;
  std::istringstream in(script);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // "source"-"target", FF | FR | FM | FT ... (embedding lines begin with "@", the logo
    // with "=", comments with ";").
    if (line.empty() || line[0] != '"') continue;
    const auto dash = line.find("\"-\"", 1);
    if (dash == std::string::npos) continue;
    std::string source = line.substr(1, dash - 1);
    if (source.empty()) continue;  // a null entry
    ++r.checked;
    if (source.find('/') != std::string::npos && source.find('\\') != std::string::npos) r.mixed.push_back(source);
    for (char& c : source)
      if (c == '\\') c = '/';
    std::error_code ec;
    if (!std::filesystem::is_regular_file(source, ec)) r.names.push_back(line);
  }
  return r;
}

}  // namespace tarvik::test
