#pragma once
// Saving the work: a session file (.qsd) of the text the open produced, or the shown text
// as a PKG or text file.

#include <string>

#include "operations/conversation.hpp"
#include "operations/open.hpp"

namespace tarvik::ops {

enum class SaveStatus {
  Saved,
  Kept,      // the file exists and the person chose to keep it
  NotAFile,  // a pipe, a device or a folder stands there
  Failed,    // it could not be written (the old file is untouched)
};

// Saves to `path`: a name ending in "qsd" gets a session file of `item` (the text the open
// produced, the kind of package it came from and the text it carries); any other name gets
// `shownText` (the script as the person sees it, edits included) and a final CR LF. An
// existing file is replaced only when the person says so.
SaveStatus Save(const Opened& item, const std::string& shownText, const std::string& path,
                Conversation& conversation);

}  // namespace tarvik::ops
