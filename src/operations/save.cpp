#include "operations/save.hpp"

#include "platform/platform.hpp"
#include "project/project.hpp"

namespace tarvik::ops {

SaveStatus Save(const Opened& item, const std::string& shownText, const std::string& path,
                Conversation& conversation) {
  if (const auto kind = fsys::SpecialFileKind(path)) {
    // Only a file is ever replaced: a pipe or a device would take the text somewhere else.
    conversation.Tell({Severity::Error, kProgramName, "Cannot save to " + path + ": it is " + *kind + ", not a file."});
    return SaveStatus::NotAFile;
  }
  if ((fsys::FileExists(path) || fsys::IsSymlink(path)) &&
      !conversation.Ask({QuestionKind::ReplaceFile, kProgramName,
                         path + " already exists.\r\nDo you want to replace it?"}))
    return SaveStatus::Kept;
  if (EndsWithNoCase(path, "qsd")) {
    // A script or a session file names no package kind of its own: pre-9.x unless the
    // session file it came from said 9.x.
    const bool sis9 = item.generation == model::Generation::Sis9;
    if (auto failure = project::SaveProject(path, item.text, item.carriedText, sis9)) {
      conversation.Tell({failure->warning ? Severity::Warning : Severity::Error, kProgramName, failure->text});
      return SaveStatus::Failed;
    }
    return SaveStatus::Saved;
  }
  if (!project::SaveText(path, shownText + "\r\n")) {
    conversation.Tell({Severity::Error, kProgramName, "Error while saving " + path});
    return SaveStatus::Failed;
  }
  return SaveStatus::Saved;
}

}  // namespace tarvik::ops
