#pragma once
// Extraction: writes the files a package carries into a folder the person picks,
// inflating the ones stored deflated, and lists what was written.
//
// Both generations are read from the file table the last reading filled (ListView2 after a
// pre-9.x package, ListView1 after a 9.x package) and from the file buffer, which holds the
// whole package. Every byte range is checked against the buffer, every destination is made
// safe (safe_path.hpp), and a file is written only when its bytes are complete and sound.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "shell/app.hpp"

namespace tarvik::extract {

inline constexpr const char* kFolderTitle = "Select folder to keep the extracted files";
inline constexpr const char* kErrorExtracting = "Error while extracting ";
inline constexpr const char* kErrorCutting = "Error while cutting ";
inline constexpr const char* kBufferTooSmall = "Internal Error: Buffer to small";
inline constexpr const char* kNoMemory = "Internal Error: Insufficient memory";
inline constexpr const char* kCorrupted = "Internal Error: Input file corrupted  ";
inline constexpr const char* kResultHead = "The following files were extracted to ";
// Appended to a listed file whose content does not match the hash its package carries.
inline constexpr const char* kHashMismatchMark = "  [SHA-1 mismatch]";
inline constexpr const char* kHashMismatchHead =
    "The following extracted files do not match the SHA-1 hash that the package gives for them:";

using Sha1Digest = std::array<std::uint8_t, 20>;

// File -> Extract, and the two extractions it chooses between.
void mnExtr_Click(App& app);
void ExtractOne(App& app);
void ExtractTwo(App& app);

// What the hash check of a written file found.
enum class HashCheck { None, Match, Mismatch };

// Inflates the `compressSize` bytes at the 0-based `offset` of the file buffer into the file
// `name` (relative to the extraction folder). 1 when the file was written, 0 otherwise.
// zlib's failures show their message; only a complete stream writes the file, which then
// holds exactly the bytes zlib produced. Counts the file when extraction is not stopped.
// With an `expected` SHA-1 the written bytes are checked against it (`check` tells the
// outcome; a mismatching file is still written when zlib accepts the stream).
int ExtractData(App& app, const std::string& name, std::int64_t compressSize, std::int64_t uncompressSize,
                std::int64_t offset, const std::optional<Sha1Digest>& expected = std::nullopt,
                HashCheck* check = nullptr);
// Copies `length` bytes at the 0-based `offset` of the file buffer into the file `name`
// (relative to the extraction folder). 1 when written; 0 for an empty or out-of-range
// length, an unsafe destination or a failed write. `expected` and `check` as above.
int CutFile2(App& app, const std::string& name, std::int64_t offset, std::int64_t length,
             const std::optional<Sha1Digest>& expected = std::nullopt, HashCheck* check = nullptr);

// The SHA-1 hash a 9.x file-table row gives for its file, when it gives one.
std::optional<Sha1Digest> RowSha1(const Row& row);

}  // namespace tarvik::extract
