#pragma once
// Builds pre-9.x (EPOC) packages for tests and benchmarks: the header, languages, component
// names, requisites, capabilities and a record list of file, option and condition records
// with expression trees. Release 6 packages (UID 2 0x10003A12 or installer version 200 and
// more) get 36 + 12n byte file records with unpacked lengths and MIME fields, and their file
// data is deflated unless NOCOMPRESS is set; older packages get 28 + 8n byte records and
// stored data. Texts are UTF-16LE with IUNICODE (options bit 0), Windows-1252 otherwise.
// Everything is given in file order (the order the package stores, which is the reverse of
// the script order).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bytes/file_buffer.hpp"

namespace tarvik::test {

// A node of a condition expression.
struct OldExpr {
  std::uint32_t type = 0;
  std::uint32_t value = 0;        // attribute number or value (types 13, 14)
  std::string text;               // string (type 12)
  std::uint32_t unused = 0xC3863CD0;  // the leftover third word of types 13 and 14
  std::vector<OldExpr> kids;
};

namespace oldx {
OldExpr Cmp(std::uint32_t op, OldExpr a, OldExpr b);  // op 0..5: = <> > < >= <=
OldExpr Eq(OldExpr a, OldExpr b);
OldExpr Ne(OldExpr a, OldExpr b);
OldExpr And(OldExpr a, OldExpr b);
OldExpr Or(OldExpr a, OldExpr b);
OldExpr Not(OldExpr a);
OldExpr Exists(std::string path);
OldExpr DevCap(std::uint32_t value);
OldExpr AppCap(std::uint32_t uid, std::uint32_t capability);
OldExpr Str(std::string text);
OldExpr Var(std::uint32_t number);
OldExpr Num(std::uint32_t value);
}  // namespace oldx

struct OldRecord {
  std::uint32_t kind = 0;  // 0 file, 1 file per language, 2 options, 3 If, 4 ElseIf, 5 Else, 6 EndIf
  // File records.
  std::uint32_t fileType = 0;
  std::uint32_t details = 0;
  std::string source;
  std::string dest;
  std::vector<std::string> data;  // one payload per entry (1 for kind 0, N for kind 1)
  std::string mime;
  // Option records: per option (file order), its names per language (file order).
  std::vector<std::vector<std::string>> options;
  // If and ElseIf records.
  std::optional<OldExpr> expr;
  // When set, the record's bytes are these, as they stand.
  std::optional<Bytes> raw;
};

struct OldRequisite {
  std::uint32_t uid = 0;
  std::uint16_t major = 0, minor = 0;
  std::uint32_t variant = 0;
  std::vector<std::string> names;  // one per language, file order
};

struct OldPackage {
  std::uint32_t uid1 = 0x10F00001;
  std::uint32_t uid2 = 0x10003A12;
  std::uint32_t uid3 = 0x10000419;
  std::uint32_t installerVersion = 200;
  std::uint16_t options = 0x0001;
  std::uint16_t type = 0;
  std::uint16_t major = 1, minor = 0;
  std::uint32_t variant = 0;
  std::vector<std::uint16_t> languages = {1};   // file order
  std::vector<std::string> names = {"Test"};    // one per language, file order
  std::vector<OldRequisite> requisites;         // file order
  std::vector<std::pair<std::uint32_t, std::uint32_t>> capabilities;  // (key, value), file order
  std::vector<OldRecord> records;               // file order
  std::optional<std::uint16_t> recordCount;     // default: records.size()
  std::optional<std::uint16_t> languageCount;   // default: languages.size()

  bool Release6Layout() const { return uid2 == 0x10003A12 || installerVersion >= 200; }
  bool Unicode() const { return (options & 0x0001) != 0; }
};

// Common records.
OldRecord OldFile(std::string source, std::string dest, std::string data = "x", std::uint32_t type = 0,
                  std::uint32_t details = 0);
OldRecord OldLangFile(std::string source, std::string dest, std::vector<std::string> data, std::uint32_t type = 0);
OldRecord OldIf(OldExpr e);
OldRecord OldElseIf(OldExpr e);
OldRecord OldElse();
OldRecord OldEndIf();
OldRecord OldOptions(std::vector<std::vector<std::string>> options);

Bytes BuildOldSis(const OldPackage& pkg);

// Where the builder put things, for tests that check offsets.
struct OldLayout {
  std::vector<std::size_t> recordOffsets;
  std::vector<std::vector<std::size_t>> dataOffsets;  // per record, per entry
  std::vector<std::vector<std::size_t>> storedLengths;
};
Bytes BuildOldSis(const OldPackage& pkg, OldLayout& layout);

}  // namespace tarvik::test
