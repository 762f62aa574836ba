#include "operations/extract.hpp"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <numeric>

#include "extract/budget.hpp"
#include "extract/rebuild_files.hpp"
#include "platform/platform.hpp"
#include "views/rebuild_script.hpp"

namespace tarvik::ops {

namespace {

// Passes progress and cancel on to the front end's reporter and keeps the texts of what
// failed as messages.
class Gathering : public extract::Reporter {
 public:
  Gathering(extract::Reporter& inner, std::vector<Message>& messages) : inner_(inner), messages_(messages) {}
  void Failed(const std::string& text) override { messages_.push_back({Severity::Error, kProgramName, text}); }
  void Warning(const std::string& text) override { messages_.push_back({Severity::Warning, kProgramName, text}); }
  void Progress(std::uint64_t done, std::uint64_t total) override { inner_.Progress(done, total); }
  void Advance(const extract::ProgressInfo& p) override { inner_.Advance(p); }
  bool Cancelled() const override { return inner_.Cancelled(); }

 private:
  extract::Reporter& inner_;
  std::vector<Message>& messages_;
};

// A pre-installed package (TYPE=PA or PP) describes files already on the device and
// carries none of their bytes. One whose data could not be read is damaged instead, and
// says so file by file.
bool CarriesNoData(const model::Package& package, const std::vector<views::FileRow>& rows) {
  return package.generation == model::Generation::Sis9 && (package.installType == 3 || package.installType == 4) &&
         std::none_of(package.problems.begin(), package.problems.end(),
                      [](const model::Problem& p) { return p.kind == model::Problem::Kind::Damaged; }) &&
         std::none_of(rows.begin(), rows.end(), [](const views::FileRow& r) { return r.hasData; });
}


// PKG files are written after the files, and listed after them; a file that stands at a PKG
// file's path is replaced only when the person allowed it before the run.
void WriteScripts(const ExtractJob& job, ExtractReport& report, extract::Reporter& reporter) {
  if (!job.rebuildScripts) return;
  if (job.item->generation != model::Generation::Sis9) {
    report.messages.push_back({Severity::Note, kProgramName, extract::kRebuildSis9Only});
    return;
  }
  if (report.result.stopped) return;
  std::vector<Message> failures;
  Gathering gathering(reporter, failures);
  const auto replace = [&job](const std::string& path) { return job.replaceable.count(path) != 0; };
  const extract::Result* written = job.status == ExtractStatus::Extras ? nullptr : &report.result;
  report.scripts =
      extract::WriteRebuildFiles(job.folder, *job.item->package, job.item->view, written, replace, gathering);
  for (Message& m : failures) {
    report.scriptFailures.push_back(m.text);
    report.messages.push_back(std::move(m));
  }
  if (report.scripts.empty()) return;
  std::string& list = report.result.list;
  list += (list.empty() ? "" : "\r\n") + std::string(extract::kRebuildHead) + job.folder + "\r\n";
  for (const std::string& path : report.scripts) list += path + "\r\n";
}

void AddSummaries(ExtractReport& report) {
  if (!report.result.pastEnd.empty()) {
    std::string text = extract::kPastEndHead;
    for (const auto& m : report.result.pastEnd) text += "\r\n" + m;
    report.messages.push_back({Severity::Error, kProgramName, text});
  }
  if (!report.result.mismatches.empty()) {
    std::string text = extract::kHashMismatchHead;
    for (const auto& m : report.result.mismatches) text += "\r\n" + m;
    report.messages.push_back({Severity::Warning, kProgramName, text});
  }
}

}  // namespace

bool PkgFilesWithoutFiles(const Opened& item) {
  const model::Package* p = item.package.get();
  return p && p->generation == model::Generation::Sis9 && p->controllerRead && !p->stub && item.view.files.empty();
}

namespace {

void ChooseRows(const Opened& item, const ExtractRequest& request, ExtractJob& job) {
  const std::vector<views::FileRow>& all = item.view.files;
  if (request.rows) {
    for (std::size_t r : *request.rows)
      if (r < all.size()) {
        job.positions.push_back(r);
        job.rows.push_back(all[r]);
      }
    return;
  }
  job.positions.resize(all.size());
  std::iota(job.positions.begin(), job.positions.end(), std::size_t{0});
  job.rows = all;
}

// Asks before each PKG file replaces a file that stands at its path now.
void AskReplacements(ExtractJob& job, Conversation& conversation) {
  if (!job.rebuildScripts || job.item->generation != model::Generation::Sis9) return;
  for (const views::RebuildScript& s : views::RebuildScripts(*job.item->package, job.item->view)) {
    std::string shown = s.path;
    std::replace(shown.begin(), shown.end(), '\\', '/');
    const std::string path = job.folder + shown;
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, ec))) continue;
    if (conversation.Ask({QuestionKind::ReplaceFile, kProgramName, path + " already exists.\r\nDo you want to replace it?"}))
      job.replaceable.insert(path);
  }
}

}  // namespace

bool ExtractReport::Faulty() const {
  return !result.failures.empty() || !result.pastEnd.empty() || !result.mismatches.empty() || !error.empty() ||
         std::any_of(messages.begin(), messages.end(), [](const Message& m) { return m.severity == Severity::Error; });
}

ExtractJob PrepareExtraction(std::shared_ptr<const Opened> item, const ExtractRequest& request,
                             Conversation& conversation) {
  ExtractJob job;
  job.folder = FolderPath(request.folder);
  if (!item || job.folder.empty() || !item->package) return job;
  job.rebuildScripts = request.rebuildScripts && !request.rows;
  if (request.certificates) job.certificates = extract::CertificateFiles(*item->package, *item->bytes);
  const bool files = item->FileCount() != 0 && !item->IsStub();
  const bool scripts = job.rebuildScripts && PkgFilesWithoutFiles(*item);
  if (!files && !scripts && job.certificates.empty()) return job;
  if (files) ChooseRows(*item, request, job);
  job.item = std::move(item);
  if (files && CarriesNoData(*job.item->package, job.rows)) {
    conversation.Tell({Severity::Note, kProgramName, extract::kNoFileData});
    job.status = ExtractStatus::NoData;
  } else {
    // Far more output than the package could honestly hold, or than the disk has room for,
    // is written only when the person confirms it.
    extract::Budget budget =
        extract::PlanExtraction(*job.item->bytes, job.item->generation, job.rows, job.folder);
    budget.planned += extract::CertificateCost(job.certificates);
    if (budget.TooMuch() &&
        !conversation.Ask({QuestionKind::WriteBeyondBudget, kProgramName, budget.Question(job.folder)})) {
      job.status = ExtractStatus::Declined;
      return job;
    }
    job.status = files ? ExtractStatus::Go : ExtractStatus::Extras;
  }
  AskReplacements(job, conversation);
  return job;
}

ExtractReport RunExtraction(const ExtractJob& job, extract::Reporter& progress) {
  ExtractReport report;
  if (job.status != ExtractStatus::Go && job.status != ExtractStatus::NoData && job.status != ExtractStatus::Extras)
    return report;
  Gathering reporter(progress, report.messages);
  try {
    if (job.status == ExtractStatus::Go)
      report.result = extract::ExtractAll(*job.item->bytes, job.item->generation, job.rows, job.folder, reporter);
    WriteScripts(job, report, reporter);
    extract::ListCertificates(job.folder, job.certificates, report.result, reporter);
  } catch (const std::exception& e) {
    // An unexpected failure ends the extraction; what was written stays.
    report.error = e.what();
    report.messages.push_back({Severity::Plain, kProgramName, std::string("Error:") + kProgramName + " : " + e.what()});
    return report;
  }
  if (!report.result.stopped) AddSummaries(report);
  return report;
}

std::string ResultText(const ExtractJob& job, const ExtractReport& report) {
  const std::string& list = report.result.list;
  if (list.empty() || !report.error.empty() || report.result.stopped) return {};
  if (job.status == ExtractStatus::Extras) return list;
  return extract::kResultHead + job.folder + "bin\r\n\r\n" + list;
}

}  // namespace tarvik::ops
