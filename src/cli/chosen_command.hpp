#pragma once
// Which command a command line names, so that only that command is made with its options:
// making CLI11 commands and options is most of what starting the program costs.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <string_view>

namespace tarvik::cli {

class ChosenCommand {
 public:
  // The program's own options (--help, --version) take no value, so the first word that is
  // not an option names the command.
  ChosenCommand(int argc, char** argv) {
    for (int i = 1; i < argc && name_.empty(); ++i)
      if (argv[i][0] != '-') name_ = argv[i];
    known_ = std::find(kNames.begin(), kNames.end(), name_) != kNames.end();
    // `--version` alone prints no list of commands.
    versionOnly_ = argc == 2 && std::string_view(argv[1]) == "--version";
  }

  // Adds the command `name` to `app`, unless the command line named another known command
  // (then null). With no command or an unknown one named, every command is added, for the
  // list that --help and the error print.
  CLI::App* Add(CLI::App& app, std::string_view name, const char* what) const {
    if (versionOnly_ || (known_ && name != name_)) return nullptr;
    return app.add_subcommand(std::string(name), what);
  }
  // Whether `name` is the command named (its options are wanted).
  bool Is(std::string_view name) const { return name == name_; }

 private:
  static constexpr std::array<std::string_view, 10> kNames = {"pkg",   "info", "extract", "save",  "catalog",
                                                              "check", "build", "sign",   "unsign", "keys"};
  std::string_view name_;
  bool known_ = false;
  bool versionOnly_ = false;
};

// Whether the command `command` (null when not made) was chosen by the parsed command line.
inline bool Ran(const CLI::App* command) { return command && command->parsed(); }

}  // namespace tarvik::cli
