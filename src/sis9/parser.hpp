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

// Hands the controller of the whole package `file`, whose frame the parser read, to `sink`
// in pieces: inflated when its two sizes differ (then padded with zeros to the declared
// size), otherwise the bytes as stored. Returns the zlib status (Ok for a stored one).
int ReadControllerBytes(std::span<const std::uint8_t> file, const model::Frame& frame, const InflateSink& sink);

}  // namespace tarvik::sis9
