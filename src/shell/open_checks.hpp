#pragma once
// What Open and Reload tell a person before and instead of reading a file that cannot be
// read as asked: a file that is not there, an empty file, and a file whose name ends in an
// extension the program does not read (offered as a package when its first bytes are
// those of one). Each message says what happened and what the person can do.

#include <string>

#include "bytes/file_buffer.hpp"
#include "shell/ui.hpp"

namespace tarvik::opencheck {

// True when the file at `path` can be read at all: it exists and is not empty. Otherwise
// the person is told why not (`reload`: the file was open before) and false is returned.
bool Readable(Ui& ui, const std::string& path, bool reload);

// The first bytes are those of a whole 9.x package or of a pre-9.x package.
bool LooksLikePackage(ByteView bytes);

// For a file whose extension is none of .sis, .sisx, .pkg and .qsd: asks whether to read
// it as a package when it looks like one (true on Yes), and otherwise says what the
// program reads.
bool OfferAsPackage(Ui& ui, const std::string& path, ByteView bytes);

}  // namespace tarvik::opencheck
