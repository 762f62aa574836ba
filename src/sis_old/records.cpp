// The record list of a pre-9.x package: file records (one file, or one file per
// language), option records and condition records, in file order. Each record adds its PKG
// line to the body list; file records also fill the record table and the file table that
// extraction reads.

#include <algorithm>
#include <string>
#include <vector>

#include "bytes/encoding.hpp"
#include "sis_old/old_context.hpp"

namespace tarvik::sis_old {

namespace {

enum : std::uint32_t {
  kKindFile = 0, kKindLangFile = 1, kKindOptions = 2, kKindIf = 3, kKindElseIf = 4,
  kKindElse = 5, kKindEndIf = 6,
};

enum : std::uint32_t {
  kFile = 0, kFileText = 1, kEmbedded = 2, kFileRun = 3, kFileNull = 4, kFileMime = 5,
};

constexpr std::int32_t kMaxOptions = 180;

std::string TypeWord(std::uint32_t type) {
  switch (type) {
    case kFile: return "FILE";
    case kFileText: return "FILETEXT";
    case kEmbedded: return "EMBEDDED SIS";
    case kFileRun: return "FILERUN";
    case kFileNull: return "FILENULL";
    case kFileMime: return "FILEMIME";
    default: return {};
  }
}

std::string OptionWord(std::uint32_t type, std::uint32_t details) {
  if (type == kFileText) {
    switch (details) {
      case 0: return "TEXTCONTINUE";
      case 1: return "TEXTSKIP";
      case 2: return "TEXTABORT";
      case 3: return "TEXTEXIT";
      default: return {};
    }
  }
  if (type == kFileRun) {
    switch (details) {
      case 0x000: return "RUNINSTALL";
      case 0x001: return "RUNREMOVE";
      case 0x002: return "RUNBOTH";
      case 0x100: return "RUNINSTALL, RUNSENDEND";
      case 0x200: return "RUNINSTALL, RUNWAITEND";
      case 0x201: return "RUNREMOVE,RUNWAITEND";
      case 0x202: return "RUNBOTH, RUNWAITEND";
      default: return {};
    }
  }
  if (type == kFileMime) {
    if (details == 0x100) return "RUNSENDEND";
    if (details == 0x200) return "RUNWAITEND";
  }
  return {};
}

std::string Q(const std::string& s) { return "\"" + s + "\""; }

// The file part after the last backslash.
std::string AfterLastBackslash(const std::string& path) {
  std::size_t p = path.rfind('\\');
  return p == std::string::npos ? path : path.substr(p + 1);
}

// The extension with its dot, or nothing.
std::string Extension(const std::string& path) {
  std::size_t p = path.rfind('.');
  return p == std::string::npos ? std::string() : path.substr(p);
}

class Walker {
 public:
  explicit Walker(OldContext& ctx) : ctx_(ctx), st_(ctx.app.stores) {}

  // Handles the record at `rec`; returns the start of the next record, or -1 when the
  // record is of no known kind or does not lie inside the file.
  Pos Handle(Pos rec) {
    std::uint32_t kind = 0;
    if (!ReadU32(ctx_.buffer, rec, kind)) return -1;
    switch (kind) {
      case kKindEndIf: st_.ListView3.Add("EndIf"); return rec + 4;
      case kKindElse: st_.ListView3.Add("Else"); return rec + 4;
      case kKindIf:
      case kKindElseIf: return Condition(rec, kind);
      case kKindOptions: return Options(rec);
      case kKindFile:
      case kKindLangFile: return FileRecord(rec, kind);
      default: return -1;
    }
  }

 private:
  Pos Condition(Pos rec, std::uint32_t kind) {
    const Pos size = ctx_.U32(rec + 4);
    if (!ctx_.buffer.HasRange(rec, 8 + size)) return -1;
    std::string text = ConditionText(ctx_, rec + 8, size);
    st_.ListView3.Add((kind == kKindIf ? "If " : "ElseIf ") + text);
    return rec + 8 + size;
  }

  Pos Options(Pos rec) {
    const std::int32_t n = ctx_.languages;
    const std::uint32_t count = ctx_.U32(rec + 4);
    if (count > static_cast<std::uint32_t>(kMaxOptions) || n > kMaxOptions) {
      throw InternalError("option table exceeded");
    }
    const Pos size = 8 + 8 * static_cast<Pos>(n) * count + 16;
    if (!ctx_.buffer.HasRange(rec, size)) return -1;
    // Both orders reversed: the last option of the file comes first, and so does the last
    // language within each option.
    std::vector<std::string> blocks(count);
    for (std::uint32_t j = 0; j < count; ++j) {
      const Pos block = rec + 8 + 8 * static_cast<Pos>(n) * j;
      std::string names;
      for (std::int32_t k = n; k >= 1; --k) {
        if (k != n) names += ", ";
        names += Q(ctx_.Text(block + 4 * (k - 1), block + 4 * static_cast<Pos>(n) + 4 * (k - 1), ctx_.wide));
      }
      blocks[count - 1 - j] = "{" + names + "}";
    }
    std::string line = "!(";
    for (std::uint32_t j = 0; j < count; ++j) {
      if (j) line += ",";
      line += blocks[j];
    }
    line += ")";
    st_.ListView3.Add(std::move(line));
    return rec + size;
  }

  Pos FileRecord(Pos rec, std::uint32_t kind) {
    const Pos n = kind == kKindFile ? 1 : ctx_.languages;
    const Pos size = ctx_.release6Layout ? 36 + 12 * n : 28 + 8 * n;
    if (!ctx_.buffer.HasRange(rec, size)) return -1;

    const std::uint32_t type = ctx_.U32(rec + 4);
    const std::uint32_t details = ctx_.U32(rec + 8);
    std::string src = ctx_.Text(rec + 12, rec + 16, ctx_.wide);
    std::string dst = ctx_.Text(rec + 20, rec + 24, ctx_.wide);
    if (type == kFileNull) src.clear();
    if (type == kFileText) dst.clear();
    const std::string typeWord = TypeWord(type);
    const std::string opt = OptionWord(type, details);
    const std::string uid = Hex8(details);

    Row& row = st_.ListView4.Add(src);
    row.Set(1, dst);
    row.Set(2, typeWord);
    row.Set(3, opt);
    if (type == kEmbedded) row.Set(6, uid);
    const std::string index = std::to_string(st_.ListView4.Count());

    // The carried files.
    const std::string prefix = ctx_.app.state.extractionFolder + "bin\\" + ctx_.baseName + "\\";
    std::vector<std::string> fileNames;  // file part of each extraction path, file order
    std::string unpackedList;
    std::uint32_t lastOffset = 0;
    for (Pos k = 0; k < n; ++k) {
      const std::uint32_t stored = ctx_.U32(rec + 28 + 4 * k);
      const std::uint32_t offset = ctx_.U32(rec + 28 + 4 * n + 4 * k);
      const std::uint32_t unpacked = ctx_.release6Layout ? ctx_.U32(rec + 28 + 8 * n + 4 * k) : stored;
      std::string part;
      if (kind == kKindFile) {
        part = DropChars(dst.empty() ? src : dst, 3);
      } else {
        ++ctx_.languageFileCounter;
        if (k == 0) {
          part = AfterLastBackslash(src);
        } else {
          // File-order entry k belongs to list entry n - 1 - k.
          part = ctx_.longNames[static_cast<std::size_t>(n - 1 - k)] + " Source file(" +
                 std::to_string(ctx_.languageFileCounter) + ")" + Extension(src);
        }
        if (k) unpackedList += "/";
        unpackedList += std::to_string(unpacked);
      }
      Row& file = st_.ListView2.Add(prefix + part);
      file.Set(1, std::to_string(unpacked));
      file.Set(2, std::to_string(stored));
      file.Set(3, std::to_string(offset));
      file.Set(4, std::to_string(stored));
      file.Set(5, index);
      fileNames.push_back(std::move(part));
      lastOffset = offset;
      if (kind == kKindFile) row.Set(4, std::to_string(unpacked) + " / " + std::to_string(stored));
    }
    if (kind == kKindLangFile) row.Set(7, unpackedList);
    row.Set(8, Hex8(lastOffset));

    // MIME type, in the release-6 layout only (single-byte text).
    std::string mime;
    if (ctx_.release6Layout && type == kFileMime) {
      mime = ctx_.Text(rec + 28 + 12 * n, rec + 32 + 12 * n, false);
      row.Set(5, mime);
    }

    // The PKG line: the source (or, per language, the block of names), then the rest.
    std::string source;
    if (kind == kKindFile || type == kFileNull) {
      source = type == kFileNull ? Q("") : (type == kEmbedded ? "@" + Q(src) : Q(src));
    } else {
      source = "{";
      for (Pos k = n - 1; k >= 0; --k) {
        if (k != n - 1) source += " ";
        source += (type == kEmbedded ? "@" : "") + Q(fileNames[static_cast<std::size_t>(k)]);
      }
      source += "}";
    }
    std::string line;
    switch (type) {
      case kFile: line = source + "-" + Q(dst) + ", FILE"; break;
      case kFileRun:
        line = source + "-" + Q(dst) + ", FILERUN";
        if (!opt.empty()) line += ", " + opt;
        break;
      case kFileNull: line = source + "-" + Q(dst) + ", FILENULL"; break;
      case kFileText:
        line = source + "-" + Q("") + "," + typeWord;
        if (!opt.empty()) line += ", " + opt;
        break;
      case kEmbedded: line = source + ",(" + uid + ")"; break;
      case kFileMime:
        line = source + "-" + Q(dst) + ", FILEMIME";
        if (!mime.empty()) line += ", " + Q(mime);
        if (!opt.empty()) line += ", " + opt;
        break;
      default: break;
    }
    if (!line.empty()) st_.ListView3.Add(std::move(line));
    return rec + size;
  }

  OldContext& ctx_;
  Stores& st_;
};

}  // namespace

void WalkRecords(OldContext& ctx, Pos firstRecord, std::uint32_t recordCount) {
  Walker walker(ctx);
  // Each record takes at least 4 bytes of the file, so this never reserves beyond it.
  const auto rows = static_cast<std::size_t>(std::min<Pos>(recordCount, ctx.buffer.Size() / 4));
  ctx.app.stores.ListView3.Reserve(rows);
  ctx.app.stores.ListView4.Reserve(rows);
  Pos rec = firstRecord;
  for (std::uint32_t i = 0; i < recordCount; ++i) {
    rec = walker.Handle(rec);
    if (rec < 0) break;
  }
}

}  // namespace tarvik::sis_old
