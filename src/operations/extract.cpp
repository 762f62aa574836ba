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
  // A file written under a free name is not at the path the PKG file names: it is left out.
  extract::Result notRenamed;
  const extract::Result* written = job.status == ExtractStatus::Extras ? nullptr : &report.result;
  if (written && !job.renamed.empty()) {
    const std::set<std::size_t> renamed(job.renamed.begin(), job.renamed.end());
    for (const extract::WrittenFile& w : report.result.written)
      if (!renamed.count(w.row)) notRenamed.written.push_back(w);
    written = &notRenamed;
  }
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

// A note listing files (at most a screenful, then how many more).
Message ListNote(const char* head, const std::vector<std::string>& paths) {
  constexpr std::size_t kShown = 20;
  std::string text = head;
  for (std::size_t i = 0; i < paths.size() && i < kShown; ++i) text += "\r\n" + paths[i];
  if (paths.size() > kShown) text += "\r\n... and " + std::to_string(paths.size() - kShown) + " more";
  return {Severity::Note, kProgramName, text};
}

void AddSummaries(ExtractReport& report) {
  if (!report.kept.empty()) report.messages.push_back(ListNote(kKeptHead, report.kept));
  if (!report.renamed.empty()) report.messages.push_back(ListNote(kRenamedHead, report.renamed));
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

// "bin\<package>\sys\bin\x.exe" becomes "sys\bin\x.exe".
void LeaveOutPrefix(std::vector<views::FileRow>& rows) {
  for (views::FileRow& r : rows) {
    if (r.extractPath.rfind("bin\\", 0) != 0) continue;
    const std::size_t cut = r.extractPath.find('\\', 4);
    if (cut != std::string::npos && cut + 1 < r.extractPath.size()) r.extractPath.erase(0, cut + 1);
  }
}

std::string NativeRelative(std::string relative) {
  std::replace(relative.begin(), relative.end(), '\\', '/');
  return relative;
}

bool Stands(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Asks before each PKG file replaces a file that stands at its path now.
void AskReplacements(ExtractJob& job, Conversation& conversation) {
  if (!job.rebuildScripts || job.item->generation != model::Generation::Sis9) return;
  for (const views::RebuildScript& s : views::RebuildScripts(*job.item->package, job.item->view)) {
    const std::string path = job.folder + NativeRelative(s.path);
    if (!Stands(path)) continue;
    if (conversation.Ask({QuestionKind::ReplaceFile, kProgramName, path + " already exists.\r\nDo you want to replace it?"}))
      job.replaceable.insert(path);
  }
}

// Settles each row whose destination stands already: by the request's choice, or by asking
// until an answer is for all. False when the person chose to touch nothing.
bool SettleExisting(ExtractJob& job, Overwrite overwrite, Conversation& conversation) {
  std::error_code ec;
  // A folder that does not stand yet holds nothing to replace.
  if (!std::filesystem::is_directory(job.folder, ec)) return true;
  std::vector<std::size_t> standing;
  for (std::size_t i = 0; i < job.rows.size(); ++i)
    if (Stands(job.folder + NativeRelative(job.rows[i].extractPath))) standing.push_back(i);
  job.existing = standing.size();
  if (standing.empty() || overwrite == Overwrite::All) return true;
  std::set<std::string> used;
  for (const views::FileRow& r : job.rows) used.insert(r.extractPath);
  const auto taken = [&](const std::string& relative) {
    return used.count(relative) != 0 || Stands(job.folder + NativeRelative(relative));
  };
  std::optional<ExistingChoice> forAll;
  if (overwrite == Overwrite::Skip) forAll = ExistingChoice::Skip;
  if (overwrite == Overwrite::Rename) forAll = ExistingChoice::Rename;
  for (std::size_t n = 0; n < standing.size(); ++n) {
    const std::size_t i = standing[n];
    ExistingChoice choice;
    if (forAll) {
      choice = *forAll;
    } else {
      const ExistingAnswer answer = conversation.AskExisting(
          {kProgramName, job.folder + NativeRelative(job.rows[i].extractPath), n, standing.size()});
      choice = answer.choice;
      if (answer.forAll) forAll = choice;
    }
    if (choice == ExistingChoice::Cancel) return false;
    if (choice == ExistingChoice::Skip) job.skipped.push_back(i);
    if (choice == ExistingChoice::Rename) {
      std::string name = FreeName(job.rows[i].extractPath, taken);
      used.insert(name);
      job.rows[i].extractPath = std::move(name);
      job.renamed.push_back(i);
    }
  }
  return true;
}

// The rows to write without those kept as they stand; `from` maps each back to its place.
std::vector<views::FileRow> RowsToWrite(const ExtractJob& job, std::vector<std::size_t>& from) {
  std::vector<views::FileRow> rows;
  std::size_t s = 0;
  for (std::size_t i = 0; i < job.rows.size(); ++i) {
    if (s < job.skipped.size() && job.skipped[s] == i) {
      ++s;
      continue;
    }
    rows.push_back(job.rows[i]);
    from.push_back(i);
  }
  return rows;
}

// Extracts the job's rows, leaving out those kept as they stand; the result speaks of the
// job's rows.
extract::Result ExtractRows(const ExtractJob& job, extract::Reporter& reporter) {
  if (job.skipped.empty())
    return extract::ExtractAll(*job.item->bytes, job.item->generation, job.rows, job.folder, reporter);
  std::vector<std::size_t> from;
  const std::vector<views::FileRow> rows = RowsToWrite(job, from);
  extract::Result result = extract::ExtractAll(*job.item->bytes, job.item->generation, rows, job.folder, reporter);
  for (extract::WrittenFile& w : result.written) w.row = from[w.row];
  for (extract::FailedFile& f : result.failures) f.row = from[f.row];
  return result;
}

}  // namespace

std::string FreeName(const std::string& relative, const std::function<bool(const std::string&)>& taken) {
  const std::size_t slash = relative.find_last_of("\\/");
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = relative.rfind('.');
  // A dot that starts the name, or none in it: the number goes at the end.
  if (dot == std::string::npos || dot <= nameStart) dot = relative.size();
  const std::string stem = relative.substr(0, dot), ext = relative.substr(dot);
  for (unsigned long n = 2;; ++n) {
    std::string name = stem + " (" + std::to_string(n) + ")" + ext;
    if (!taken(name)) return name;
  }
}

bool ExtractReport::Faulty() const {
  return !result.failures.empty() || !result.pastEnd.empty() || !result.mismatches.empty() || !error.empty() ||
         std::any_of(messages.begin(), messages.end(), [](const Message& m) { return m.severity == Severity::Error; });
}

ExtractJob PrepareExtraction(std::shared_ptr<const Opened> item, const ExtractRequest& request,
                             Conversation& conversation) {
  ExtractJob job;
  job.folder = FolderPath(request.folder);
  if (!item || job.folder.empty() || !item->package) return job;
  job.leaveOutPrefix = request.leaveOutPrefix;
  job.rebuildScripts = request.rebuildScripts && !request.rows && !request.leaveOutPrefix;
  if (request.rebuildScripts && request.leaveOutPrefix)
    conversation.Tell({Severity::Note, kProgramName, kRebuildNeedsPrefix});
  if (request.certificates) job.certificates = extract::CertificateFiles(*item->package, *item->bytes);
  const bool files = item->FileCount() != 0 && !item->IsStub();
  const bool scripts = job.rebuildScripts && PkgFilesWithoutFiles(*item);
  if (!files && !scripts && job.certificates.empty()) return job;
  if (files) ChooseRows(*item, request, job);
  if (request.leaveOutPrefix) LeaveOutPrefix(job.rows);
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
  if (files && !SettleExisting(job, request.overwrite, conversation)) {
    job.status = ExtractStatus::Kept;
    return job;
  }
  if (request.overwrite == Overwrite::All && job.rebuildScripts) {
    for (const views::RebuildScript& s : views::RebuildScripts(*job.item->package, job.item->view))
      job.replaceable.insert(job.folder + NativeRelative(s.path));
  } else {
    AskReplacements(job, conversation);
  }
  return job;
}

ExtractReport RunExtraction(const ExtractJob& job, extract::Reporter& progress) {
  ExtractReport report;
  if (job.status != ExtractStatus::Go && job.status != ExtractStatus::NoData && job.status != ExtractStatus::Extras)
    return report;
  Gathering reporter(progress, report.messages);
  try {
    if (job.status == ExtractStatus::Go) report.result = ExtractRows(job, reporter);
    for (std::size_t i : job.skipped) report.kept.push_back(NativeRelative(job.rows[i].extractPath));
    for (std::size_t i : job.renamed) report.renamed.push_back(NativeRelative(job.rows[i].extractPath));
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
  if (job.leaveOutPrefix) return extract::kResultHead + job.folder + "\r\n\r\n" + list;
  return extract::kResultHead + job.folder + "bin\r\n\r\n" + list;
}

}  // namespace tarvik::ops
