#pragma once
// Why a package that was read gave no PKG script.

#include <string>

#include "model/package.hpp"

namespace tarvik::cli {

// The first problem that stopped the script, in words ("its controller could not be
// inflated", "could not read controller at 24" ...).
std::string NoScriptReason(const model::Package& package);

}  // namespace tarvik::cli
