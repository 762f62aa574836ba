// tarvik-cli: the program's commands without a window, for scripts and batch work.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "bytes/file_buffer.hpp"
#include "extract/extract.hpp"
#include "parse/parse.hpp"
#include "platform/part_files.hpp"
#include "platform/terminal.hpp"
#include "signers/signers.hpp"
#include "views/views.hpp"
#include "cli/cli_ui.hpp"
#include "cli/extract_extras.hpp"
#include "cli/collection_commands.hpp"
#include "cli/no_script.hpp"
#include "shell/app.hpp"

namespace {

using tarvik::App;
using tarvik::cli::CliUi;

// Text with CR LF line breaks, as printed on a terminal.
std::string ToLf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

// Text for standard output: control characters are shown escaped on a terminal.
std::string Out(const std::string& text) { return tarvik::ForStream(STDOUT_FILENO, text); }

// Opens `file` through the Open command, after setting the Working Directory when given.
// False when the file cannot be read (the Open command said why).
bool OpenFile(App& app, CliUi& ui, const std::string& file, const std::string& sourceDir) {
  if (!sourceDir.empty()) {
    ui.folderAnswers.push_back(sourceDir);
    app.mnWD_Click();
  }
  ui.openAnswers.push_back(file);
  app.mnOpen_Click();
  if (app.state.openedFile == file) return true;
  std::cerr << Out("tarvik-cli: cannot read " + file) << '\n';
  return false;
}

// The value that the 16 hexadecimal digits of `v` stand for, summed digit by digit as a
// double: the number the info table has always shown for sizes and offsets.
double DigitValue(std::uint64_t v) {
  double sum = 0;
  for (int shift = 60; shift >= 0; shift -= 4) sum = sum * 16 + static_cast<double>((v >> shift) & 15);
  return sum;
}

void PrintInfo(const App& app) {
  const tarvik::views::PackageView& view = app.state.view;
  for (const auto& line : view.header) std::cout << Out(line) << '\n';
  if (view.files.empty()) return;
  if (!view.header.empty()) std::cout << '\n';
  std::cout << "Files (" << view.files.size() << "):\n";
  using tarvik::NumText;
  if (app.state.formatMarker == 1) {
    std::cout << "Extract path\tOffset\tCompression\tCompressed size\tUncompressed size\n";
    for (const auto& r : view.files) {
      // A file whose bytes the package does not carry (a pre-installed package) has no
      // offset and no compression to show.
      const std::string offset = r.hasData ? NumText(DigitValue(static_cast<std::uint64_t>(r.offset))) : "";
      const char* compression = !r.hasData ? "" : r.deflated ? "deflate" : "stored";
      std::cout << Out(r.extractPath) << '\t' << offset << '\t' << compression << '\t'
                << NumText(DigitValue(r.compressedSize)) << '\t' << NumText(DigitValue(r.uncompressedSize)) << '\n';
    }
  } else {
    std::cout << "Extract path\tUncompressed size\tCompressed size\tOffset\tLength\n";
    for (const auto& r : view.files) {
      std::cout << Out(r.extractPath) << '\t' << r.uncompressedSize << '\t' << r.compressedSize << '\t' << r.offset << '\t'
                << r.compressedSize << '\n';
    }
  }
}

std::vector<std::uint8_t> ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The Signers and Capabilities sections, for a 9.x package.
void PrintSigners(const std::string& file) {
  const std::vector<std::uint8_t> bytes = ReadWhole(file);
  const tarvik::model::Package pkg = tarvik::Parse(bytes, file);
  if (pkg.generation != tarvik::model::Generation::Sis9 || !pkg.controllerRead) return;
  const tarvik::signers::Report report = tarvik::signers::Inspect(pkg, bytes);
  std::cout << '\n';
  for (const std::string& line : tarvik::signers::Describe(pkg, report, tarvik::signers::CollectCapabilities(pkg)))
    std::cout << Out(line) << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App cli{"tarvik-cli: look inside Symbian OS installation packages (.sis, .sisx), read their PKG script, "
               "extract their files, save sessions."};
  cli.set_version_flag("--version", std::string("tarvik-cli ") + TARVIK_VERSION);
  cli.require_subcommand(1);

  std::string saveInput, destination, out, sourceDir, database;
  std::vector<std::string> files, catalogDirs;
  bool quiet = false, force = false, certs = false, json = false, rebuildScripts = false;
  unsigned jobs = 0;

  auto* pkg = cli.add_subcommand("pkg", "Open each FILE (.sis, .sisx, .pkg, .qsd) and print its PKG script");
  pkg->add_option("FILE", files, "package, PKG script or session file")->required();
  pkg->add_option("--source-dir", sourceDir, "default source folder written into the script's file lines");

  auto* info = cli.add_subcommand("info", "Open each FILE and print its header facts and file table");
  info->add_option("FILE", files, "package file")->required();
  info->add_flag("--json", json, "print every fact as one JSON document per package (one per line)");
  info->add_option("--source-dir", sourceDir, "default source folder");

  auto* extract = cli.add_subcommand(
      "extract", "Extract the files carried by FILE into DIR (several files: each into DIR/<file name>)");
  // FILE... DIR: the last one is the destination folder.
  extract->add_option("FILE DIR", files, "package files, then the destination folder")->expected(2, -1)->required();
  extract->add_flag("-q,--quiet", quiet, "no progress bar");
  extract->add_flag("--pkg", rebuildScripts, "also write build-ready PKG files (DIR/<package>.pkg, one per package)");
  extract->add_flag("--certs", certs, "also write each signature certificate as DER under DIR/certificates/");
  extract->add_flag("-f,--force", force,
                    "extract even when the files would take more than the package could honestly hold, or than "
                    "the free space of DIR");

  auto* save = cli.add_subcommand("save", "Open FILE and save it as OUT (.qsd: session file; otherwise PKG text)");
  save->add_option("FILE", saveInput, "package, PKG script or session file")->required();
  save->add_option("OUT", out, "file to write")->required();
  save->add_flag("-f,--force", force, "replace OUT when it exists");
  save->add_option("--source-dir", sourceDir, "default source folder");

  auto* catalog = cli.add_subcommand("catalog", "Catalogue every package under the folders DIR in an SQLite database");
  catalog->add_option("DIR", catalogDirs, "folder to walk")->required();
  catalog->add_option("--db", database, "database file (made when missing, brought up to date otherwise)")->required();
  catalog->add_option("-j,--jobs", jobs, "packages read at once (default: one per core)");
  catalog->add_flag("-q,--quiet", quiet, "no progress line");

  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, with status 0; wrong arguments end with 2.
    return cli.exit(e) == 0 ? 0 : 2;
  }
  // Ctrl+C or SIGTERM removes the files being written and the scratch files, then exits.
  tarvik::InstallInterruptCleanup();

  if (*catalog) return tarvik::cli::RunCatalog(catalogDirs, database, jobs, quiet);
  if (*info && json) return tarvik::cli::PrintFacts(files, sourceDir);
  if (*save) files = {saveInput};
  if (*extract) {
    destination = files.back();
    files.pop_back();
  }
  // Several files: each gets its own section (pkg, info) or folder (extract); the exit
  // status is the worst of theirs.
  const std::vector<std::string> folders = files.size() > 1 ? tarvik::cli::ExtractFolders(files, destination)
                                                            : std::vector<std::string>{destination};
  int worst = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string& file = files[i];
    const std::string& dir = folders[i];
    if (files.size() > 1 && (*pkg || *info)) std::cout << (i ? "\n" : "") << "==> " << Out(file) << " <==\n" << std::flush;
    CliUi ui;
    App app(ui);
    app.Form_Load();
    int status = 0;
    if (!OpenFile(app, ui, file, sourceDir)) {
      status = 2;
    } else if (*pkg) {
      std::cout << Out(ui.text) << std::flush;
      if (ui.text.empty() && app.state.package) {
        // A package read without a script: say why, and fail.
        std::cerr << "tarvik-cli: no PKG script for " << Out(file) << ": "
                  << tarvik::cli::NoScriptReason(*app.state.package) << '\n';
        status = 1;
      }
    } else if (*info) {
      PrintInfo(app);
      PrintSigners(file);
    } else if (*extract) {
      if (!app.mnFile_Click().extract && rebuildScripts && tarvik::cli::PkgFilesWithoutFiles(app)) {
        status = tarvik::cli::WritePkgFilesWithoutFiles(app, dir, force);
      } else if (!app.mnFile_Click().extract) {
        std::cerr << Out("tarvik-cli: " + file + " carries no files to extract") << '\n';
        status = 1;
        // A package without files (a stub) can still be signed.
        if (certs && tarvik::cli::WriteCertificatesAlone(app, dir, force) != 0) status = 1;
      } else {
        ui.showProgress = !quiet && isatty(STDERR_FILENO);
        // A destination that does not exist yet is made, as a person would expect.
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        ui.folderAnswers.push_back(dir);
        ui.yesNoDefault = force ? tarvik::msg::Yes : tarvik::msg::No;
        app.state.writeRebuildScripts = rebuildScripts;
        app.state.writeCertificates = certs;
        app.mnExtr_Click();
        ui.FinishProgress();
        std::cout << Out(ToLf(ui.resultText));
        if (!ui.resultText.empty() && ui.resultText.back() != '\n') std::cout << '\n';
        if (app.state.extractDeclined) {
          std::cerr << "tarvik-cli: nothing extracted (--force extracts anyway)\n";
          status = 1;
        }
        // Files whose content does not match their SHA-1 stay written and listed, but the run
        // did not give what the package promised.
        for (const auto& m : ui.messages)
          if (m.text.rfind(tarvik::extract::kHashMismatchHead, 0) == 0) status = 1;
      }
    } else if (*save) {
      ui.saveAnswers.push_back(out);
      ui.yesNoDefault = force ? tarvik::msg::Yes : tarvik::msg::No;
      const bool existed = tarvik::fsys::FileExists(out) || tarvik::fsys::IsSymlink(out);
      app.mnSave_Click();
      if (existed && !force && !tarvik::fsys::SpecialFileKind(out)) {
        std::cerr << Out("tarvik-cli: " + out + " exists; nothing saved (--force replaces it)") << '\n';
        status = 1;
      }
    }
    app.Form_Unload();
    if (status == 0 && ui.sawCritical) status = 1;
    worst = std::max(worst, status);
  }
  return worst;
}
