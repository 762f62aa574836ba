#pragma once
// The commands of tarvik-cli that write packages: build (from a PKG file), sign, unsign and
// keys. They are registered on the command line's app and run after it has parsed.

#include <string>
#include <vector>

#include "cli/chosen_command.hpp"

namespace tarvik::cli {

class WriteCommands {
 public:
  // Adds build, sign, unsign and keys to `app` as `chosen` says.
  WriteCommands(CLI::App& app, const ChosenCommand& chosen);
  // True when the parsed command line chose one of these commands.
  bool Chosen() const;
  // Runs the chosen command; its exit status.
  int Run() const;

 private:
  int Build() const;
  int Sign() const;
  int Unsign() const;
  int Keys() const;

  CLI::App* build_ = nullptr;
  CLI::App* sign_ = nullptr;
  CLI::App* unsign_ = nullptr;
  CLI::App* keys_ = nullptr;
  std::string input_, output_, key_, cert_, subject_, folder_;
  std::vector<std::string> search_, chain_;
  bool asWritten_ = false, stub_ = false;
  std::string passphrase_;
  int days_ = 3650;
  int bits_ = 2048;
};

}  // namespace tarvik::cli
