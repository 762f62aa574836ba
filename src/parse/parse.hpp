#pragma once
// Reading a package from its bytes: the generation test, then the parser of that generation.
// No file system access and no state kept between calls: the bytes in, the model out.

#include <cstdint>
#include <span>
#include <string>

#include "model/package.hpp"

namespace tarvik {

// The generation of a package from its first bytes: pre-9.x when UID 3 is the pre-9.x
// mark, otherwise 9.x (a whole package, a stub, or something the 9.x parser will report as
// not a package). Unknown only for no bytes at all.
model::Generation Identify(std::span<const std::uint8_t> bytes);

// Whether the first bytes of a file (16 are enough) are those of a package: a 9.x package,
// a 9.x stub (a bare controller), or a pre-9.x package. Finding packages among other files
// asks this, not the file's name.
bool LooksLikePackage(std::span<const std::uint8_t> head);

// Reads the package in `bytes`; `name` is the file name it was opened under (its folder
// part is dropped), which names the folders the views make for its files.
model::Package Parse(std::span<const std::uint8_t> bytes, const std::string& name);

}  // namespace tarvik
