#include "views/facts.hpp"

#include <openssl/evp.h>

#include <array>
#include <cstdio>

#include "bytes/file_buffer.hpp"
#include "bytes/tables.hpp"
#include "views/script_text.hpp"

namespace tarvik::views {

const char* GenerationName(model::Generation generation) {
  switch (generation) {
    case model::Generation::Sis9: return "9.x";
    case model::Generation::Pre9: return "pre-9.x";
    case model::Generation::Unknown: break;
  }
  return "unknown";
}

LanguageFacts Language(std::uint32_t number) {
  LanguageFacts out;
  out.number = number;
  out.code = LanguageCode(number);
  out.name = LanguageName(number);
  return out;
}

std::string InstallTypeName(const model::Package& pkg) {
  if (pkg.generation == model::Generation::Pre9) {
    if (!pkg.oldHeader) return {};
    static const char* const kOld[] = {"SISAPP", "SISSYSTEM", "SISOPTION", "SISCONFIG", "SISPATCH", "SISUPGRADE"};
    return pkg.oldHeader->type < 6 ? kOld[pkg.oldHeader->type] : "";
  }
  static const char* const kTypes[] = {"SA", "SP", "PU", "PA", "PP"};
  return pkg.installType < 5 ? kTypes[pkg.installType] : "";
}

std::uint32_t InstallFlagBits(const model::Package& pkg) {
  if (pkg.generation == model::Generation::Pre9) return pkg.oldHeader ? pkg.oldHeader->options : 0;
  return pkg.installFlags;
}

std::vector<std::string> InstallFlagNames(const model::Package& pkg) {
  struct Bit {
    std::uint32_t bit;
    const char* name;
  };
  static constexpr Bit kSis9[] = {{0x1, "SH"}, {0x2, "NR"}, {0x4, "RU"}, {0x8, "H"}};
  static constexpr Bit kOld[] = {{0x1, "IUNICODE"}, {0x2, "DISTRIBUTABLE"}, {0x8, "NOCOMPRESS"}, {0x10, "SHUTDOWNAPPS"}};
  const std::uint32_t bits = InstallFlagBits(pkg);
  std::vector<std::string> out;
  if (pkg.generation == model::Generation::Pre9) {
    for (const Bit& b : kOld)
      if (bits & b.bit) out.emplace_back(b.name);
  } else {
    for (const Bit& b : kSis9)
      if (bits & b.bit) out.emplace_back(b.name);
  }
  return out;
}

std::string OperationName(model::Generation generation, std::uint32_t operation) {
  if (generation == model::Generation::Pre9) {
    static const char* const kOld[] = {"FILE", "FILETEXT", "EMBEDDED SIS", "FILERUN", "FILENULL", "FILEMIME"};
    return operation < 6 ? kOld[operation] : "";
  }
  switch (operation) {
    case 1: return "install";
    case 2: return "run";
    case 4: return "text";
    case 8: return "null";
    default: return {};
  }
}

std::vector<std::string> OptionNames(model::Generation generation, std::uint32_t operation, std::uint32_t options) {
  std::vector<std::string> out;
  if (generation == model::Generation::Pre9) {
    switch (operation) {
      case 1: {  // FILETEXT: what to do when the user declines
        static const char* const kText[] = {"TEXTCONTINUE", "TEXTSKIP", "TEXTABORT", "TEXTEXIT"};
        if (options < 4) out.emplace_back(kText[options]);
        break;
      }
      case 3:    // FILERUN
      case 5: {  // FILEMIME
        if (operation == 3) {
          static const char* const kRun[] = {"RUNINSTALL", "RUNREMOVE", "RUNBOTH"};
          if ((options & 0xFF) < 3) out.emplace_back(kRun[options & 0xFF]);
        }
        if (options & 0x100) out.emplace_back("RUNSENDEND");
        if (options & 0x200) out.emplace_back("RUNWAITEND");
        break;
      }
      default: break;
    }
    return out;
  }
  if (operation == 2) {
    switch (options & 0x06) {
      case 0x02: out.emplace_back("RI"); break;
      case 0x04: out.emplace_back("RR"); break;
      case 0x06: out.emplace_back("RB"); break;
      default: break;
    }
    if (options & 0x08) out.emplace_back("FM");
    if (options & 0x10) out.emplace_back("RW");
    if (options & 0x20) out.emplace_back("RS");
  } else if (operation == 4) {
    if ((options & 0x1E00) == 0 || (options & 0x0200)) out.emplace_back("TC");
    if (options & 0x0400) out.emplace_back("TS");
    if (options & 0x0800) out.emplace_back("TA");
    if (options & 0x1000) out.emplace_back("TE");
  }
  if (options & 0x8000) out.emplace_back("VR");
  return out;
}

std::optional<std::string> PlatformName(std::uint32_t uid) {
  switch (uid) {
    case 0x101F7961: return "S60 3rd Edition";
    case 0x102032BE: return "S60 3rd Edition FP1";
    case 0x102752AE: return "S60 3rd Edition FP2";
    case 0x1028315F: return "S60 5th Edition";
    case 0x20022E6D: return "Symbian^3";
    default: return std::nullopt;
  }
}

const char* ProblemKindName(model::Problem::Kind kind) {
  using Kind = model::Problem::Kind;
  switch (kind) {
    case Kind::NotAPackage: return "not a package";
    case Kind::UnknownVersion: return "unknown version";
    case Kind::Unreadable: return "unreadable";
    case Kind::Inflate: return "inflate";
    case Kind::Damaged: break;
  }
  return "damaged";
}

std::string ProblemText(const model::Problem& p) {
  using Kind = model::Problem::Kind;
  switch (p.kind) {
    case Kind::NotAPackage: return "not a package" + (p.what.empty() ? std::string() : ": " + p.what);
    case Kind::UnknownVersion: return "unknown package format release";
    case Kind::Unreadable:
      return "reading ended: " + (p.what.empty() ? std::string("a value beyond what can be held") : p.what) + " at " +
             std::to_string(p.where);
    case Kind::Inflate: return "the controller could not be inflated (zlib status " + std::to_string(p.status) + ")";
    case Kind::Damaged: break;
  }
  // What was found missing ("no signature in ...") says so itself.
  if (p.what.rfind("no ", 0) == 0) return p.what + " at " + std::to_string(p.where);
  return "could not read " + p.what + " at " + std::to_string(p.where);
}

bool Readable(const model::Package& pkg) {
  using Kind = model::Problem::Kind;
  for (const model::Problem& p : pkg.problems)
    if (p.kind == Kind::NotAPackage || p.kind == Kind::Unreadable || p.kind == Kind::Inflate) return false;
  switch (pkg.generation) {
    case model::Generation::Sis9: return pkg.controllerRead;
    case model::Generation::Pre9: return pkg.oldHeader.has_value();
    case model::Generation::Unknown: break;
  }
  return false;
}

std::string UidText(std::uint32_t uid) { return "0x" + HexText(uid, 8); }

std::string VersionText(const model::Version& v) { return text::VersionText(v, true, "."); }

std::string FirstName(const model::Package& pkg) { return pkg.names.empty() ? std::string() : pkg.names.front(); }

std::string FirstVendor(const model::Package& pkg) {
  if (!pkg.vendorNames.empty() && !pkg.vendorNames.front().empty()) return pkg.vendorNames.front();
  return pkg.vendorUniqueName;
}

std::string CreatedText(const model::Package& pkg) {
  if (pkg.generation != model::Generation::Sis9) return {};
  const model::DateTime& t = pkg.created;
  char text[40];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", unsigned{t.year}, unsigned{t.month0} + 1u,
                unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
  return text;
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string Sha1Hex(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha1(), nullptr) != 1) return {};
  return HexBytes(std::span<const std::uint8_t>(digest.data(), size));
}

}  // namespace tarvik::views
