#include "cli/commands.hpp"

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/cli_conversation.hpp"
#include "cli/no_script.hpp"
#include "operations/extract.hpp"
#include "operations/open.hpp"
#include "operations/save.hpp"
#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "platform/terminal.hpp"
#include "signers/signers.hpp"

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
  settings.sourceFolder = command.sourceDir.substr(0, command.sourceDir.find('\0'));
  if (!settings.sourceFolder.empty() && settings.sourceFolder.back() != kSep) settings.sourceFolder += kSep;
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
  for (const std::string& line : signers::Describe(*pkg, report, signers::CollectCapabilities(*pkg)))
    std::cout << Out(line) << '\n';
}

// A file name part made of letters, digits, '-' and '_' only.
std::string SafePart(const std::string& text) {
  std::string out;
  for (unsigned char ch : text) out += std::isalnum(ch) || ch == '-' || ch == '_' ? static_cast<char>(ch) : '_';
  if (out.size() > 40) out.resize(40);
  return out.empty() ? std::string("package") : out;
}

// Writes each certificate of the package's signature chains as DIR/certificates/
// p<package>-<name>-chain<n>-cert<m>.der; false when one could not be written.
bool WriteCertificates(const ops::Opened& item, const std::string& dir) {
  if (!item.package) return true;
  const signers::Report report = signers::Inspect(*item.package, *item.bytes);
  if (report.chains.empty()) return true;
  const std::filesystem::path folder = std::filesystem::path(dir) / "certificates";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  bool ok = true;
  for (const signers::Chain& c : report.chains) {
    for (std::size_t i = 0; i < c.certificates.size(); ++i) {
      const std::string name = "p" + std::to_string(c.packageOrdinal) + "-" + SafePart(c.packageName) + "-chain" +
                               std::to_string(c.index + 1) + "-cert" + std::to_string(i + 1) + ".der";
      std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
      const auto& der = c.certificates[i].der;
      out.write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
      if (!out) {
        std::cerr << "tarvik-cli: cannot write " << (folder / name).string() << '\n';
        ok = false;
      } else {
        std::cout << "certificates/" << name << '\n';
      }
    }
  }
  return ok;
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
  PrintSigners(*item);
  return Status(0, talk);
}

int ExtractFile(const std::string& file, const std::string& dir, const FileCommand& command) {
  CliConversation talk(command.force);
  const auto item = OpenFile(file, command, talk);
  if (!item) return 2;
  int status = 0;
  if (item->FileCount() == 0) {
    std::cerr << Out("tarvik-cli: " + file + " carries no files to extract") << '\n';
    // A package without files (a stub) can still be signed.
    if (command.certificates) WriteCertificates(*item, dir);
    return Status(1, talk);
  }
  talk.showProgress = !command.quiet && isatty(STDERR_FILENO);
  // A destination that does not exist yet is made, as a person would expect.
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  ops::ExtractRequest request;
  request.folder = dir;
  request.rebuildScripts = command.rebuildScripts;
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
  // Files that do not match their SHA-1 stay written and listed, but the run did not give
  // what the package promised.
  if (report.Faulty()) status = 1;
  if (command.certificates && !WriteCertificates(*item, dir)) status = 1;
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
