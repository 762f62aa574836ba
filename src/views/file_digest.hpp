#pragma once
// Digests of whole files read into FileBytes.

#include <string>

#include "bytes/file_buffer.hpp"

namespace tarvik::views {

// The SHA-1 of the whole file in lower-case hexadecimal, as Sha1Hex of its bytes; the holes
// of a sparse file are hashed as the zeros they are without touching their storage.
std::string FileSha1Hex(const FileBytes& file);

// The SHA-1 and SHA-256 of the whole file, in lower-case hexadecimal, taken in one pass over
// its bytes (each piece digested by both while it is in the cache).
struct FileDigests {
  std::string sha1, sha256;
};
FileDigests FileDigestsHex(const FileBytes& file);

}  // namespace tarvik::views
