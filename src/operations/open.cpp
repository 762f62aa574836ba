#include "operations/open.hpp"

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "bytes/encoding.hpp"
#include "bytes/inflate.hpp"
#include "parse/parse.hpp"
#include "platform/platform.hpp"
#include "project/project.hpp"

namespace tarvik::ops {

namespace {

constexpr const char* kNotAPackage = "This is not the valid SIS file!";
constexpr const char* kStubNotice = "This is a stub sis file which contains no file inside";
constexpr const char* kUnknownVersion = "Unknown SIS file version!";
constexpr const char* kInternalError =
    "Internal Error: No file buffer to open, please shut down Tarvik and start again";
// Damaged parts named in the summary message; the rest are counted.
constexpr std::size_t kDamageShown = 5;

bool HasProblem(const model::Package& package, model::Problem::Kind kind) {
  return std::any_of(package.problems.begin(), package.problems.end(),
                     [kind](const model::Problem& p) { return p.kind == kind; });
}

// Whether the window names a damaged part of `package` in its summary: every one of a 9.x
// package; of a pre-9.x package (whose damage the views list) only a condition left out.
bool NamedDamage(const model::Package& package, const model::Problem& p) {
  return package.generation == model::Generation::Sis9 || p.what == model::kConditionTooDeep ||
         p.what == model::kConditionTooLong;
}

// Tells what the readers met: one message per problem that ended a reading, the stub
// notice, and one summary of the damaged parts.
void TellProblems(const model::Package& package, Conversation& conversation) {
  using Kind = model::Problem::Kind;
  std::string damage;
  std::size_t damaged = 0;
  for (const model::Problem& p : package.problems) {
    switch (p.kind) {
      case Kind::NotAPackage: conversation.Tell({Severity::Error, kReaderName, kNotAPackage}); break;
      case Kind::Inflate:
        conversation.Tell({Severity::Warning, kReaderName, InflateMessage(p.status, "Extraction Error: ")});
        break;
      case Kind::UnknownVersion: conversation.Tell({Severity::Warning, kProgramName, kUnknownVersion}); break;
      case Kind::Unreadable: conversation.Tell({Severity::Error, kProgramName, kInternalError}); break;
      case Kind::Damaged:
        if (!NamedDamage(package, p)) break;
        if (damaged++ < kDamageShown) damage += (damaged > 1 ? "; " : "") + p.what + " at " + std::to_string(p.where);
        break;
    }
  }
  if (package.stub) conversation.Tell({Severity::Note, kReaderName, kStubNotice});
  if (damaged == 0) return;
  if (damaged > kDamageShown) damage += "; and " + std::to_string(damaged - kDamageShown) + " more";
  conversation.Tell(
      {Severity::Plain, kProgramName, std::string(kProgramName) + " Damaged package data: could not read " + damage});
}

void ReadPackage(Opened& item, const OpenSettings& settings, Conversation& conversation) {
  auto package = std::make_shared<model::Package>(Parse(*item.bytes, item.path));
  item.kind = ItemKind::Package;
  item.generation = package->generation;
  if (package->generation == model::Generation::Unknown) {
    item.package = std::move(package);
    return;
  }
  views::ScriptSettings scriptSettings;
  scriptSettings.sourceFolder = settings.sourceFolder;
  item.view = views::Describe(*package, scriptSettings);
  TellProblems(*package, conversation);
  item.text = item.view.script;
  item.package = std::move(package);
}

void ReadSession(Opened& item, Conversation& conversation) {
  item.kind = ItemKind::Session;
  const project::Session session = project::OpenProject(*item.bytes, item.path, [&] { conversation.Pulse(); });
  item.generation = session.sis9.value_or(false) ? model::Generation::Sis9 : model::Generation::Pre9;
  if (session.error) {
    conversation.Tell({Severity::Error, kProgramName, *session.error});
    return;
  }
  item.carriedText = session.carriedText;
  item.text = session.pkgText;
}

// For a file whose extension is none of .sis, .sisx, .pkg and .qsd: asks whether to read it
// as a package when it looks like one (true on yes), and otherwise says what is read.
bool OfferAsPackage(const std::string& path, ByteView bytes, Conversation& conversation) {
  const std::string name = BaseName(path);
  if (LooksLikePackage(bytes.Span())) {
    return conversation.Ask({QuestionKind::ReadAsPackage, kProgramName,
                             name + " does not end in .sis or .sisx, but its first bytes are those of a Symbian "
                                    "installation package.\r\nRead it as a package?"});
  }
  conversation.Tell({Severity::Warning, kProgramName,
                     name + " is not a file Tarvik reads: it opens packages (.sis, .sisx), PKG scripts (.pkg) and "
                            "session files (.qsd), and the first bytes of this file are not those of a package.\r\nIf "
                            "it is a PKG script or a session file, rename it to end in .pkg or .qsd and open it again."});
  return false;
}

}  // namespace

std::size_t Opened::FileCount() const {
  if (kind != ItemKind::Package || !package) return 0;
  if (package->generation == model::Generation::Sis9) return view.files.size();
  if (package->generation != model::Generation::Pre9 || !package->oldHeader ||
      HasProblem(*package, model::Problem::Kind::Unreadable))
    return 0;
  return package->oldHeader->fileCount;
}

FileRead ReadFile(const std::string& path, bool reload) {
  FileRead read;
  // Missing: nothing there (or a link to nothing). A path the system cannot look at is left
  // to the read, which names the reason.
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) {
    read.status = ReadStatus::Missing;
    if (reload)
      read.refusal = Message{Severity::Warning, kProgramName,
                             path + " is no longer there: it was moved, renamed or deleted after it was opened, so it "
                                    "cannot be read again.\r\nThe window keeps what it shows. Open the file from its "
                                    "new place to read it again."};
    else
      read.refusal = Message{Severity::Error, kProgramName,
                             path + " does not exist.\r\nIt may have been moved, renamed or deleted. Open another "
                                    "file with File > Open..., or drop one on the window."};
    return read;
  }
  std::string why;
  if (!fsys::ReadWholeFile(path, read.bytes, &why)) {
    read.status = ReadStatus::Unreadable;
    read.refusal = Message{Severity::Error, kProgramName, "Cannot read " + path + ": " + why};
    return read;
  }
  if (read.bytes.empty()) {
    read.status = ReadStatus::Empty;
    read.refusal = Message{Severity::Error, kProgramName,
                           BaseName(path) + " is empty (0 bytes): there is nothing in it to show.\r\nIt may be an "
                                            "unfinished download or copy. Copy the package again, or open another file."};
  }
  return read;
}

std::shared_ptr<const Opened> OpenBytes(const std::string& path, FileBytes bytes, const OpenSettings& settings,
                                        Conversation& conversation) {
  auto item = std::make_shared<Opened>();
  item->path = path;
  item->bytes = std::make_shared<const FileBytes>(std::move(bytes));
  const std::string lower = ToLower(path);
  auto ends = [&lower](std::string_view s) { return lower.ends_with(s); };
  if (ends(".qsd")) {
    ReadSession(*item, conversation);
  } else if (ends(".pkg")) {
    item->kind = ItemKind::Script;
    const FileBytes& b = *item->bytes;
    item->text = DecodeTextFile(std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  } else if (ends(".sis") || ends(".sisx") || OfferAsPackage(path, *item->bytes, conversation)) {
    ReadPackage(*item, settings, conversation);
  }
  return item;
}

OpenResult Open(const std::string& path, const OpenSettings& settings, Conversation& conversation, bool reload) {
  FileRead read = ReadFile(path, reload);
  if (read.status != ReadStatus::Read) {
    if (read.refusal) conversation.Tell(*read.refusal);
    return {read.status, nullptr};
  }
  return {ReadStatus::Read, OpenBytes(path, std::move(read.bytes), settings, conversation)};
}

}  // namespace tarvik::ops
