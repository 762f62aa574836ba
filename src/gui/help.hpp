#pragma once
// Where the program's own documentation lies, and what the About box says of the build.

#include <QString>

namespace tarvik::gui {

// The README installed with the program (`cmake --install` puts it under
// share/doc/tarvik beside the program's bin folder); in a build tree, the README of the
// sources it was built from. Empty when neither is there.
QString ReadmePath();

// Version, licence and the libraries the program uses, with their versions.
QString BuildDetails();

}  // namespace tarvik::gui
