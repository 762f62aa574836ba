// tarvik-cli: the program's commands without a window, for scripts and batch work.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <map>
#include <iostream>
#include <string>
#include <vector>

#include "cli/check_command.hpp"
#include "cli/chosen_command.hpp"
#include "cli/collection_commands.hpp"
#include "cli/commands.hpp"
#include "cli/write_commands.hpp"
#include "platform/part_files.hpp"
#include "platform/terminal.hpp"

namespace {

using tarvik::cli::FileCommand;

struct Arguments {
  std::vector<std::string> files, catalogDirs;
  std::string saveInput, out, database;
  FileCommand command;
  tarvik::cli::CheckCommand check;
  bool json = false;
  unsigned jobs = 0;
};

struct Subcommands {
  CLI::App* pkg;
  CLI::App* info;
  CLI::App* extract;
  CLI::App* save;
  CLI::App* catalog;
  CLI::App* check;
};

// The commands that read packages; only the one the command line chose is made, with its options.
Subcommands AddSubcommands(CLI::App& cli, Arguments& a, const tarvik::cli::ChosenCommand& chosen) {
  Subcommands s{};
  s.pkg = chosen.Add(cli, "pkg", "Open each FILE (.sis, .sisx, .pkg, .qsd) and print its PKG script");
  if (chosen.Is("pkg")) {
    s.pkg->add_option("FILE", a.files, "package, PKG script or session file")->required();
    s.pkg->add_option("--source-dir", a.command.sourceDir, "default source folder written into the script's file lines");
  }

  s.info = chosen.Add(cli, "info", "Open each FILE and print its header facts and file table");
  if (chosen.Is("info")) {
    s.info->add_option("FILE", a.files, "package file")->required();
    s.info->add_flag("--json", a.json, "print every fact as one JSON document per package (one per line)");
    s.info->add_option("--source-dir", a.command.sourceDir, "default source folder");
  }

  s.extract = chosen.Add(cli, "extract",
                         "Extract the files carried by FILE into DIR (several files: each into DIR/<file name>)");
  if (chosen.Is("extract")) {
    // FILE... DIR: the last one is the destination folder.
    s.extract->add_option("FILE DIR", a.files, "package files, then the destination folder")->expected(2, -1)->required();
    s.extract->add_flag("-q,--quiet", a.command.quiet, "no progress bar");
    s.extract->add_flag("--pkg", a.command.rebuildScripts,
                        "also write build-ready PKG files (DIR/<package>.pkg, one per package)");
    s.extract->add_flag("--certs", a.command.certificates,
                        "also write each signature certificate as DER under DIR/certificates/");
    s.extract->add_flag("-f,--force", a.command.force,
                        "extract even when the files would take more than the package could honestly hold, or than "
                        "the free space of DIR; replace files that stand in DIR already");
    s.extract
        ->add_option("--overwrite", a.command.overwrite,
                     "files that stand in DIR already: ask (on a terminal; otherwise nothing is extracted), all "
                     "(replace them), skip (keep them), rename (keep them, write the package's beside them)")
        ->transform(CLI::CheckedTransformer(std::map<std::string, tarvik::ops::Overwrite>{
            {"ask", tarvik::ops::Overwrite::Ask},
            {"all", tarvik::ops::Overwrite::All},
            {"skip", tarvik::ops::Overwrite::Skip},
            {"rename", tarvik::ops::Overwrite::Rename}}));
  }

  s.save = chosen.Add(cli, "save", "Open FILE and save it as OUT (.qsd: session file; otherwise PKG text)");
  if (chosen.Is("save")) {
    s.save->add_option("FILE", a.saveInput, "package, PKG script or session file")->required();
    s.save->add_option("OUT", a.out, "file to write")->required();
    s.save->add_flag("-f,--force", a.command.force, "replace OUT when it exists");
    s.save->add_option("--source-dir", a.command.sourceDir, "default source folder");
  }

  s.catalog = chosen.Add(cli, "catalog", "Catalogue every package under the folders DIR, and inside the ZIP, TAR and 7z archives there, in an SQLite database");
  if (chosen.Is("catalog")) {
    s.catalog->add_option("DIR", a.catalogDirs, "folder to walk")->required();
    s.catalog->add_option("--db", a.database, "database file (made when missing, brought up to date otherwise)")
        ->required();
    s.catalog->add_option("-j,--jobs", a.jobs, "packages read at once (default: one per core)");
    s.catalog->add_flag("-q,--quiet", a.command.quiet, "no progress line");
  }

  s.check = chosen.Add(cli, "check", "Check whether each package FILE will install, and why not");
  if (chosen.Is("check")) {
    s.check->add_option("FILE", a.check.files, "package file")->required();
    s.check->add_option("--date", a.check.date, "the date certificates must be valid on, YYYY-MM-DD (default: today)");
    s.check->add_option("--device", a.check.device,
                        "the device to check for: a platform (\"S60 5th Edition\", s60v5 ...) or a UID");
    s.check->add_flag("--json", a.check.json, "print the findings as one JSON document per package (one per line)");
  }
  return s;
}

// pkg and info: each file's output, after a "==> FILE <==" line when there are several.
int RunPerFile(const std::vector<std::string>& files, int (*run)(const std::string&, const FileCommand&),
               const FileCommand& command) {
  int worst = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files.size() > 1)
      std::cout << (i ? "\n" : "") << "==> " << tarvik::ForStream(1, files[i]) << " <==\n" << std::flush;
    worst = std::max(worst, run(files[i], command));
  }
  return worst;
}

// extract: each of several files into a folder of its own.
int RunExtract(std::vector<std::string> files, const FileCommand& command) {
  const std::string destination = files.back();
  files.pop_back();
  const std::vector<std::string> folders = files.size() > 1 ? tarvik::cli::ExtractFolders(files, destination)
                                                            : std::vector<std::string>{destination};
  int worst = 0;
  for (std::size_t i = 0; i < files.size(); ++i)
    worst = std::max(worst, tarvik::cli::ExtractFile(files[i], folders[i], command));
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{"tarvik-cli: look inside Symbian OS installation packages (.sis, .sisx), read their PKG script, "
               "extract their files, save sessions."};
  cli.set_version_flag("--version", std::string("tarvik-cli ") + TARVIK_VERSION);
  cli.require_subcommand(1);
  Arguments a;
  const tarvik::cli::ChosenCommand chosen(argc, argv);
  const Subcommands s = AddSubcommands(cli, a, chosen);
  tarvik::cli::WriteCommands writeCommands(cli, chosen);  // build, sign, unsign, keys
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, with status 0; wrong arguments end with 2.
    return cli.exit(e) == 0 ? 0 : 2;
  }
  // Ctrl+C or SIGTERM removes the files being written, then exits.
  tarvik::InstallInterruptCleanup();

  if (writeCommands.Chosen()) return writeCommands.Run();
  using tarvik::cli::Ran;
  if (Ran(s.check)) return tarvik::cli::RunCheck(a.check);
  if (Ran(s.catalog)) return tarvik::cli::RunCatalog(a.catalogDirs, a.database, a.jobs, a.command.quiet);
  if (Ran(s.info) && a.json) return tarvik::cli::PrintFacts(a.files, a.command.sourceDir);
  if (Ran(s.pkg)) return RunPerFile(a.files, tarvik::cli::PrintScript, a.command);
  if (Ran(s.info)) return RunPerFile(a.files, tarvik::cli::PrintInfo, a.command);
  if (Ran(s.extract)) return RunExtract(a.files, a.command);
  return tarvik::cli::SaveFile(a.saveInput, a.out, a.command);
}
