#include "cli/commands.hpp"

#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "cli/cli_conversation.hpp"
#include "cli/no_script.hpp"
#include "operations/extract.hpp"
#include "operations/open.hpp"
#include "operations/save.hpp"
#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "platform/terminal.hpp"
#include "signers/signers.hpp"
#include "views/fact_list.hpp"

namespace tarvik::cli {

namespace {

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
std::string Out(const std::string& text) { return ForStream(STDOUT_FILENO, text); }

ops::OpenSettings Settings(const FileCommand& command) {
  ops::OpenSettings settings;
  settings.sourceFolder = FolderPath(command.sourceDir);
  return settings;
}

// Opens `file`; nothing (and the reason said) when it cannot be read.
std::shared_ptr<const ops::Opened> OpenFile(const std::string& file, const FileCommand& command,
                                            CliConversation& talk) {
  ops::OpenResult opened = ops::Open(file, Settings(command), talk);
  if (opened.item) return opened.item;
  std::cerr << Out("tarvik-cli: cannot read " + file) << '\n';
  return nullptr;
}

bool IsPackage(const ops::Opened& item) {
  return item.package && item.package->generation != model::Generation::Unknown;
}

// The value that the 16 hexadecimal digits of `v` stand for, summed digit by digit as a
// double: the number the info table has always shown for sizes and offsets.
double DigitValue(std::uint64_t v) {
  double sum = 0;
  for (int shift = 60; shift >= 0; shift -= 4) sum = sum * 16 + static_cast<double>((v >> shift) & 15);
  return sum;
}

void PrintFileTable(const ops::Opened& item) {
  const std::vector<views::FileRow>& files = item.view.files;
  std::cout << "Files (" << files.size() << "):\n";
  if (item.generation == model::Generation::Sis9) {
    std::cout << "Extract path\tOffset\tCompression\tCompressed size\tUncompressed size\n";
    for (const auto& r : files) {
      // A file whose bytes the package does not carry (a pre-installed package) has no
      // offset and no compression to show.
      const std::string offset = r.hasData ? NumText(DigitValue(static_cast<std::uint64_t>(r.offset))) : "";
      const char* compression = !r.hasData ? "" : r.deflated ? "deflate" : "stored";
      std::cout << Out(r.extractPath) << '\t' << offset << '\t' << compression << '\t'
                << NumText(DigitValue(r.compressedSize)) << '\t' << NumText(DigitValue(r.uncompressedSize)) << '\n';
    }
    return;
  }
  std::cout << "Extract path\tUncompressed size\tCompressed size\tOffset\tLength\n";
  for (const auto& r : files)
    std::cout << Out(r.extractPath) << '\t' << r.uncompressedSize << '\t' << r.compressedSize << '\t' << r.offset
              << '\t' << r.compressedSize << '\n';
}

// The Signers and Capabilities sections, for a 9.x package.
void PrintSigners(const ops::Opened& item) {
  const model::Package* pkg = item.package.get();
  if (!pkg || pkg->generation != model::Generation::Sis9 || !pkg->controllerRead) return;
  const signers::Report report = signers::Inspect(*pkg, *item.bytes);
  std::cout << '\n';
  for (const std::string& line : views::SignerLines(*pkg, report, signers::CollectCapabilities(*pkg)))
    std::cout << Out(line) << '\n';
}

// The Executables section, for a package that carries any.
void PrintExecutables(const ops::Opened& item) {
  if (!item.package || !item.bytes) return;
  const std::vector<std::string> lines = views::ExecutableLines(views::ExecutablesOf(*item.package, *item.bytes));
  if (lines.empty()) return;
  std::cout << '\n';
  for (const std::string& line : lines) std::cout << Out(line) << '\n';
}

// The exit status of a file once its command ran.
int Status(int status, const CliConversation& talk) { return status == 0 && talk.sawError ? 1 : status; }

}  // namespace

int PrintScript(const std::string& file, const FileCommand& command) {
  CliConversation talk(command.force);
  const auto item = OpenFile(file, command, talk);
  if (!item) return 2;
  std::cout << Out(item->text) << std::flush;
  int status = 0;
  if (item->text.empty() && IsPackage(*item)) {
    // A package read without a script: say why, and fail.
    std::cerr << "tarvik-cli: no PKG script for " << Out(file) << ": " << NoScriptReason(*item->package) << '\n';
    status = 1;
  }
  return Status(status, talk);
}

int PrintInfo(const std::string& file, const FileCommand& command) {
  CliConversation talk(command.force);
  const auto item = OpenFile(file, command, talk);
  if (!item) return 2;
  for (const auto& line : item->view.header) std::cout << Out(line) << '\n';
  if (!item->view.files.empty()) {
    if (!item->view.header.empty()) std::cout << '\n';
    PrintFileTable(*item);
  }
  PrintExecutables(*item);
  PrintSigners(*item);
  return Status(0, talk);
}

int ExtractFile(const std::string& file, const std::string& dir, const FileCommand& command) {
  CliConversation talk(command.force);
  const auto item = OpenFile(file, command, talk);
  if (!item) return 2;
  int status = 0;
  const bool noFiles = item->FileCount() == 0;
  // A package without files still has its PKG files, and a stub can still be signed.
  const bool pkgOnly = noFiles && command.rebuildScripts && ops::PkgFilesWithoutFiles(*item);
  if (noFiles && !pkgOnly) {
    std::cerr << Out("tarvik-cli: " + file + " carries no files to extract") << '\n';
    if (!command.certificates) return Status(1, talk);
    status = 1;
  }
  talk.showProgress = !command.quiet && isatty(STDERR_FILENO);
  talk.interactive = isatty(STDIN_FILENO) && isatty(STDERR_FILENO);
  // A destination that does not exist yet is made, as a person would expect.
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  ops::ExtractRequest request;
  request.folder = dir;
  request.rebuildScripts = command.rebuildScripts;
  request.certificates = command.certificates;
  request.overwrite = command.overwrite;
  const ops::ExtractJob job = ops::PrepareExtraction(item, request, talk);
  const ops::ExtractReport report = ops::RunExtraction(job, talk);
  talk.FinishProgress();
  for (const ops::Message& m : report.messages) talk.Tell(m);
  const std::string text = ToLf(ops::ResultText(job, report));
  std::cout << Out(text);
  if (!text.empty() && text.back() != '\n') std::cout << '\n';
  if (job.status == ops::ExtractStatus::Declined) {
    std::cerr << "tarvik-cli: nothing extracted (--force extracts anyway)\n";
    status = 1;
  }
  if (job.status == ops::ExtractStatus::Kept) {
    std::cerr << Out("tarvik-cli: " + std::to_string(job.existing) + (job.existing == 1 ? " file stands" : " files stand") +
                     " in " + dir + " already; nothing extracted (--overwrite=all, skip or rename chooses)")
              << '\n';
    status = 1;
  }
  // Files that do not match their SHA-1 stay written and listed, but the run did not give
  // what the package promised.
  if (report.Faulty() || (pkgOnly && report.scripts.empty())) status = 1;
  return Status(status, talk);
}

int SaveFile(const std::string& file, const std::string& out, const FileCommand& command) {
  CliConversation talk(command.force);
  const auto item = OpenFile(file, command, talk);
  if (!item) return 2;
  int status = 0;
  if (ops::Save(*item, item->text, out, talk) == ops::SaveStatus::Kept) {
    std::cerr << Out("tarvik-cli: " + out + " exists; nothing saved (--force replaces it)") << '\n';
    status = 1;
  }
  return Status(status, talk);
}

}  // namespace tarvik::cli
