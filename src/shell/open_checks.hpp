#pragma once
// What Open and Reload tell a person before and instead of reading a file that cannot be
// read as asked: a file that is not there, an empty file, and a file whose name ends in an
// extension the program does not read (offered as a package when its first bytes are
// those of one). Each message says what happened and what the person can do.

#include <string>

#include "bytes/file_buffer.hpp"
#include "shell/ui.hpp"

namespace tarvik::opencheck {

// True when something is there at `path` to be read. Otherwise the person is told that the
// file is missing (`reload`: the file was open before) and false is returned. A file that
// is there but cannot be read is reported by the read itself, with the system's reason.
bool Readable(Ui& ui, const std::string& path, bool reload);

// True when `size` (the bytes read from `path`) is not 0. Otherwise the person is told that
// the file is empty and false is returned.
bool NotEmpty(Ui& ui, const std::string& path, std::size_t size);

// For a file whose extension is none of .sis, .sisx, .pkg and .qsd: asks whether to read
// it as a package when it looks like one (true on Yes), and otherwise says what the
// program reads.
bool OfferAsPackage(Ui& ui, const std::string& path, ByteView bytes);

}  // namespace tarvik::opencheck
