#pragma once
// Text for a terminal. Package names, targets and conditions come from the package and may
// hold control characters: on a terminal they would set its title, clear the screen or
// change colours. They are shown escaped there; a file or a pipe gets the bytes unchanged.

#include <string>
#include <string_view>

namespace tarvik {

// `text` with its control characters written out: C0 controls and DEL as "\x1b", C1
// controls (U+0080 to U+009F) as "\u009b". Line feeds, tabs and the CR of a CR LF stay as
// they are, and so do backslashes: PKG paths are full of them ("!:\\x86\\...").
std::string EscapeControls(std::string_view text);

// Writes `text` to the stream of `fd` (1 stdout, 2 stderr), escaped when it is a terminal.
std::string ForStream(int fd, std::string_view text);

}  // namespace tarvik
