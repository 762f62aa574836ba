#pragma once
// Opening a file: a package of either generation, a PKG script or a session file, from a
// path or from bytes already read. The result is one immutable item that the next open
// replaces whole, so nothing of an earlier file survives a later one.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "bytes/file_buffer.hpp"
#include "model/package.hpp"
#include "operations/conversation.hpp"
#include "views/views.hpp"

namespace tarvik::ops {

enum class ItemKind {
  Package,  // read as a package (it may still turn out to be none: see package->problems)
  Script,   // a PKG script
  Session,  // a session file
  Other,    // a file of another kind that was not read
};

// What one open read.
struct Opened {
  std::string path;
  ItemKind kind = ItemKind::Other;
  std::shared_ptr<const FileBytes> bytes;          // the file as read
  std::shared_ptr<const model::Package> package;   // packages only
  views::PackageView view;                         // packages only; its rows point into *package
  // The PKG text the open produced: a package's script, a script's text, a session's PKG
  // text; empty for a file that was not read.
  std::string text;
  // The kind of package the text came from: a package's generation, the kind a session file
  // records; Unknown for a PKG script.
  model::Generation generation = model::Generation::Unknown;
  std::string carriedText;  // session files: the text they carry beside the script

  // How many files extraction could take from it: the file rows of a 9.x package, the file
  // records of a readable pre-9.x package; 0 for anything else.
  std::size_t FileCount() const;
  bool IsStub() const { return package && package->stub; }
};

struct OpenSettings {
  // The Working Directory: written in front of the source names of a package's script.
  std::string sourceFolder;
};

enum class ReadStatus { Read, Missing, Unreadable, Empty };

// A file read from disk, or why it was not.
struct FileRead {
  ReadStatus status = ReadStatus::Read;
  FileBytes bytes;
  std::optional<Message> refusal;  // for every status but Read: what to tell the person
};

// Reads the whole file at `path` (the holes of a large sparse file take no memory). `reload`: the file was open before (a missing file is
// told differently).
FileRead ReadFile(const std::string& path, bool reload);

// Opens `bytes` as the file `path`: its extension tells how to read it (.sis/.sisx a
// package, .pkg a script, .qsd a session file); a file with another extension is offered as
// a package when its first bytes are those of one. What the readers met is told on the way.
std::shared_ptr<const Opened> OpenBytes(const std::string& path, FileBytes bytes, const OpenSettings& settings,
                                        Conversation& conversation);

struct OpenResult {
  ReadStatus status = ReadStatus::Read;
  std::shared_ptr<const Opened> item;  // set when the file was read
};

// ReadFile, then OpenBytes; a refusal is told.
OpenResult Open(const std::string& path, const OpenSettings& settings, Conversation& conversation,
                bool reload = false);

}  // namespace tarvik::ops
