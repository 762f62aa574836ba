#pragma once
// Internals of the 9.x reader: the per-open context and the field walking helpers shared by
// its stages (frame, package information, install blocks, conditions, assembly).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bytes/field_reader.hpp"
#include "bytes/file_buffer.hpp"
#include "shell/app.hpp"
#include "sis9/limits.hpp"

namespace tarvik::sis9 {

inline constexpr const char* kTitle = "Brimond";
inline constexpr const char* kTag = "$TEMP_TAG_TO_REMOVE$";
inline constexpr const char* kCrLf = "\r\n";


// The 32-bit word at `pos` (bytes outside the buffer read as 0).
std::uint32_t Word(const FileBuffer& b, Pos pos);
// The word at `pos` as 8 upper-case hexadecimal digits.
std::string Hex8(const FileBuffer& b, Pos pos);
// A string field's text (UTF-16 to UTF-8).
std::string FieldText(const FileBuffer& b, const Field& f);
// Signed decimal text of a 32-bit word.
std::string SignedText(std::uint32_t word);

// What became of one controller (the main package or an embedded one).
struct PackageRec {
  int parent = -1;        // index of the enclosing package, -1 for the main package
  int index = 0;          // the current package index when it was entered (1 for the main)
  int ordinal = 0;        // the controller ordinal (order in which packages were entered)
  int depth = 0;          // nesting depth (1 for the main package)
  int endDepth = 0;       // depth written in its end marker
  std::string uidText;    // 8 hexadecimal digits
  std::string firstName;  // its first package name
  std::uint32_t dataIndex = 0;
  bool hasDataIndex = false;
  std::int64_t unit = 1;  // absolute data-unit number of its files (1 for the main package)
  std::string folderName; // name used for folders and files ("Embedded Components\<name>")
  int slot = 0;           // section number in the script (0 for the main package)
  Pos lastInstallBlock = 0;
};

// Per-package texts gathered while the package information is read.
struct PackageTexts {
  std::string uid, names, vendors, vendorUnique, version, type, options, optionsLine, languages;
};

// Kinds of rows in the PKG line table: a line, or a start or end marker of a package.
enum class RowKind : std::uint8_t { Line, Start, End };

struct FileDesc;

class Reader {
 public:
  Reader(App& app, std::string fname);
  // Runs the whole reading; returns the script (empty when nothing was written).
  std::string Run();

  // Stages (one source file each).
  void ReadPackageInfo(Pos& pos, Pos limit, int pkg);
  void ReadInstallBlock(const Field& block);
  void ReadBlockMembers(const Field& block);
  void ReadController(Pos infoPos, Pos limit, int parent);
  void ReadIf(const Field& element);
  std::string ReadCondition(Pos exprPos, Pos limit);
  void ReadFile(const FileDesc& d, Pos blockPos, int pkg);
  // Adds the file-table row of a file whose extraction path ends in `rest`; its PKG line is
  // the line table's last row, whose source name ends just before `sourceEnd`.
  void AddFileRow(const FileDesc& d, std::string_view rest, Pos blockPos, int pkg, std::size_t sourceEnd);
  // Gives every file row an extraction path no earlier row has (ignoring case), renaming the
  // row's source and the source name of its PKG line to match.
  void MakeExtractPathsDistinct();
  std::string Assemble();
  void FillDataOffsets();

  // Appends a PKG line table row.
  void AddLine(Pos byte, std::string line, RowKind kind = RowKind::Line, int pkg = -1);
  // Records a failing step for the summary message.
  void Fail(std::string what, Pos where);

  App& app;
  FileBuffer& buf;
  Stores& st;
  std::string fname;

  std::string packageFolder;  // the file name up to its last "."
  std::string sourceFolder;   // the default source folder ending in a backslash
  std::string sourcePrefix;   // made-up source names begin with this
  std::string extractPrefix;  // extraction paths begin with this
  Pos controllerEnd = 0;
  bool isStub = false;
  Pos dataFieldPos = -1;      // SISData in the package file

  int ordinal = 0, depth = 0, curIndex = 0, prevIndex = 0;
  int fileCounter = 0;
  std::string hashAlgorithm;  // carried from one file row to the next
  int controllerDepth = 0;
  int blockNesting = 0;

  PackageTexts texts;
  std::vector<PackageRec> packages;
  std::vector<int> packageStack;  // packages entered and not yet ended
  std::vector<RowKind> rowKinds;  // parallel to ListView7
  std::vector<int> rowPackages;   // parallel to ListView7: the package a marker belongs to
  std::vector<int> fileRowPackage; // parallel to ListView1: the package owning the row
  std::vector<std::uint32_t> fileRowIndex;  // parallel to ListView1: the file index
  std::vector<std::size_t> fileRowLine;     // parallel to ListView1: its ListView7 row (1-based)
  std::vector<std::size_t> fileRowSourceEnd; // parallel to ListView1: end of the line's source name
  std::vector<std::string> errors;
  std::vector<int> dataIndexRows;  // per package: its ListView5 row (1-based), 0 for none
  Pos lastInstallBlock = 0;
};

// One file description as stored.
struct FileDesc {
  std::string target, mime;
  std::uint32_t caps = 0;
  std::array<std::uint8_t, 24> hash{};  // the first bytes of the digest (the table shows 24)
  std::size_t hashLength = 0;
  std::uint32_t hashAlgorithm = 0;
  std::uint32_t op = 0, options = 0;
  std::uint64_t compressed = 0, uncompressed = 0;
  std::uint32_t fileIndex = 0;
  bool complete = false;  // every member was inside the description
};
FileDesc ParseFileDesc(const FileBuffer& b, Pos pos, Pos limit);

}  // namespace tarvik::sis9
