#pragma once
// The pre-9.x parser: bytes in, model out.

#include <cstdint>
#include <span>
#include <string>

#include "model/package.hpp"

namespace tarvik::sis_old {

// Reads a pre-9.x package; `name` is the file name it was opened under.
model::Package ParsePackage(std::span<const std::uint8_t> bytes, const std::string& name);

}  // namespace tarvik::sis_old
