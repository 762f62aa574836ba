#pragma once
// The files the desktop program keeps beside its work: its folders under the user's data
// folder, and the scratch files of the package it shows (the unpacked controller and the
// PKG text) in its private temporary folder. The command line keeps none of them.

#include <optional>
#include <string>
#include <vector>

#include "operations/conversation.hpp"
#include "operations/open.hpp"
#include "platform/part_files.hpp"
#include "platform/platform.hpp"

namespace tarvik::ops {

// Makes the program's folders ("Brimond" and "Brimond/bin" under the data folder) and
// removes the part and scratch files, and the folders of files taken out to be opened or
// dragged away, that a killed window left in the private temporary folder. What could not be done is returned, to be told.
std::vector<Message> PrepareProgramFolders(const Platform& platform);

class ScratchFiles {
 public:
  explicit ScratchFiles(Platform platform) : platform_(std::move(platform)) {}

  // For a 9.x package: writes its unpacked controller as "tmp.bin" and its PKG text under a
  // name made of digits, replacing the ones of the package before. Other items write nothing.
  void Write(const Opened& item);
  // Deletes the PKG scratch file; the message to tell when it could not be deleted.
  std::optional<Message> Remove();
  // The PKG scratch file of the last package, or empty.
  const std::string& PkgPath() const { return pkgPath_; }

 private:
  Platform platform_;
  std::string pkgPath_;
  ScratchFile held_;  // holds the PKG scratch file while the window lives
};

}  // namespace tarvik::ops
