#include "views/file_digest.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <span>

#include "views/facts.hpp"

namespace tarvik::views {

namespace {

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// Feeds the whole file to every context, piece by piece; the holes of a sparse file as zeros.
bool DigestFile(const FileBytes& file, std::span<EVP_MD_CTX* const> contexts) {
  static constexpr std::array<std::uint8_t, 1u << 16> kZeros{};
  constexpr std::size_t kPiece = 1u << 16;
  bool ok = true;
  auto update = [&](const std::uint8_t* p, std::size_t n) {
    for (EVP_MD_CTX* c : contexts) ok = ok && EVP_DigestUpdate(c, p, n) == 1;
  };
  auto zeros = [&](std::size_t n) {
    for (; n > 0 && ok; n -= std::min(n, kZeros.size())) update(kZeros.data(), std::min(n, kZeros.size()));
  };
  std::size_t at = 0;
  for (const FileBytes::Range& r : file.DataRanges()) {
    zeros(r.from - at);
    for (std::size_t p = r.from; p < r.to && ok; p += kPiece) update(file.data() + p, std::min(kPiece, r.to - p));
    at = r.to;
  }
  zeros(file.size() - at);
  return ok;
}

std::string Final(EVP_MD_CTX* ctx) {
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx, digest.data(), &size) != 1) return {};
  return HexBytes(std::span<const std::uint8_t>(digest.data(), size));
}

}  // namespace

FileDigests FileDigestsHex(const FileBytes& file) {
  const DigestContext sha1(EVP_MD_CTX_new(), EVP_MD_CTX_free), sha256(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  // Fetched once: a digest started from EVP_sha1() looks its implementation up every time.
  static const EVP_MD* const kSha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
  static const EVP_MD* const kSha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  if (!sha1 || !sha256 || !kSha1 || !kSha256 || EVP_DigestInit_ex(sha1.get(), kSha1, nullptr) != 1 ||
      EVP_DigestInit_ex(sha256.get(), kSha256, nullptr) != 1)
    return {};
  EVP_MD_CTX* const both[] = {sha1.get(), sha256.get()};
  if (!DigestFile(file, both)) return {};
  return {Final(sha1.get()), Final(sha256.get())};
}

std::string FileSha1Hex(const FileBytes& file) {
  static constexpr std::array<std::uint8_t, 1u << 16> kZeros{};
  const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr) != 1) return {};
  bool ok = true;
  auto zeros = [&](std::size_t n) {
    for (; n > 0 && ok; n -= std::min(n, kZeros.size()))
      ok = EVP_DigestUpdate(ctx.get(), kZeros.data(), std::min(n, kZeros.size())) == 1;
  };
  std::size_t at = 0;
  for (const FileBytes::Range& r : file.DataRanges()) {
    zeros(r.from - at);
    ok = ok && EVP_DigestUpdate(ctx.get(), file.data() + r.from, r.to - r.from) == 1;
    at = r.to;
  }
  zeros(file.size() - at);
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (!ok || EVP_DigestFinal_ex(ctx.get(), digest.data(), &size) != 1) return {};
  return HexBytes(std::span<const std::uint8_t>(digest.data(), size));
}

}  // namespace tarvik::views
