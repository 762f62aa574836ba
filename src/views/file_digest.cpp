#include "views/file_digest.hpp"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <memory>

#include "views/facts.hpp"

namespace tarvik::views {

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
