#include "extract/budget.hpp"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>

#include "bytes/inflate.hpp"

namespace tarvik::extract {

namespace {

// Sums stay far from overflowing: no row counts more than this.
constexpr std::uint64_t kRowLimit = std::uint64_t{1} << 60;

std::uint64_t RowBytes(ByteView package, bool old, const views::FileRow& r) {
  if (!old && !r.hasData) return 0;
  const std::uint64_t stored = std::min(old || r.deflated ? r.compressedSize : r.uncompressedSize, kRowLimit);
  if (r.offset < 0 || !package.HasRange(r.offset, static_cast<Pos>(stored))) return 0;
  if (!r.deflated) return stored;
  if (stored == 0 || r.uncompressedSize > MaxInflatedSize(stored)) return 0;  // refused unread
  return std::min(r.uncompressedSize, kRowLimit);
}

std::string Grouped(std::uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

std::string SizeText(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  std::string out = Grouped(bytes) + (bytes == 1 ? " byte" : " bytes");
  if (bytes < 1024) return out;
  double v = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  while (v >= 1024.0 && unit < 5) {
    v /= 1024.0;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, " (%.1f %s)", v, kUnits[unit]);
  return out + buf;
}

std::string Budget::Question(const std::string& folder) const {
  std::string why;
  if (planned > honest)
    why = "more than a package of its size could honestly hold (" + SizeText(honest) + ")";
  if (free && planned > *free)
    why += std::string(why.empty() ? "" : ", and ") + "more than the " + SizeText(*free) + " free there";
  return "Extracting this package would write " + SizeText(planned) + " into " + folder + ", " + why +
         ".\r\nDo you want to extract it anyway?";
}

Budget PlanExtraction(ByteView package, model::Generation generation, const std::vector<views::FileRow>& rows,
                      const std::string& folder) {
  Budget b;
  const bool old = generation == model::Generation::Pre9;
  // Rows whose data lies beyond the package write nothing (RowBytes counts them as 0); the
  // extraction goes on past them, so the rows after them count.
  for (const views::FileRow& r : rows) b.planned += RowBytes(package, old, r);
  b.honest = MaxInflatedSize(static_cast<std::uint64_t>(package.Size()));
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) == 0) b.free = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  return b;
}

}  // namespace tarvik::extract
