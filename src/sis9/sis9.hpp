#pragma once
// The 9.x package reader.

#include <cstdint>
#include <string>

#include "shell/app.hpp"

namespace tarvik::sis9 {

// Reads the 9.x package (or stub) in the file buffer; returns its PKG text.
std::string OpenSISFile3(App& app, const std::string& fname);

// Inflates `CompressByte` bytes of the file buffer from 1-based index `OffsetByte` into
// `UncompressByte` bytes and writes them to `fname`. Returns 1 when a file was written.
// zlib failures are reported in a warning box titled "Brimond" and write nothing.
std::int32_t XExtractData(App& app, std::string fname, std::int64_t CompressByte, std::int64_t UncompressByte,
                          std::int64_t OffsetByte);
// Copies `ByteLength` bytes of the file buffer from 1-based index `ByteOffset` to `DestFile`.
bool XCutFile(App& app, std::string DestFile, std::int64_t ByteOffset, std::int64_t ByteLength);

}  // namespace tarvik::sis9
