#pragma once
// The 9.x parser: bytes in, model out.

#include <cstdint>
#include <span>
#include <string>

#include "bytes/inflate.hpp"
#include "model/package.hpp"

namespace tarvik::sis9 {

// Reads a 9.x package or stub; `name` is the file name it was opened under.
model::Package ParsePackage(std::span<const std::uint8_t> bytes, const std::string& name);

// ReadControllerBytes's status for a controller that declares more than ControllerCeiling
// (sis9/limits.hpp) allows: nothing was read.
inline constexpr int kControllerTooLarge = -101;

// Hands the controller of the whole package `file`, whose frame the parser read, to `sink`
// in pieces: inflated when its two sizes differ, otherwise the bytes as stored. No more than
// the declared size is handed on, and never more than the stream holds: `produced` tells how
// many bytes were (fewer than declared is a damaged package). Returns the zlib status (Ok for
// a stored one), or kControllerTooLarge.
int ReadControllerBytes(std::span<const std::uint8_t> file, const model::Frame& frame, const InflateSink& sink,
                        std::uint64_t* produced = nullptr);

}  // namespace tarvik::sis9
