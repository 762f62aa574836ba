#pragma once
// The 9.x package reader.

#include <string>

#include "shell/app.hpp"

namespace tarvik::sis9 {

// Reads the 9.x package (or stub) in the file buffer; returns its PKG text.
std::string OpenSISFile3(App& app, const std::string& fname);

}  // namespace tarvik::sis9
