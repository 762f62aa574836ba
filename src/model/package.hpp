#pragma once
// The package as data: what a parser read out of a package file, typed, with no text
// formatting and no I/O. Both generations fill the same Package; the parts that only one
// generation has are marked. The PKG script, the header list, the file tables, extraction
// and the window's views are all functions of this model.
//
// Numbers are kept as stored (a damaged field gives whatever its bytes say); positions are
// 0-based offsets into the package file, or into the inflated controller for 9.x fields
// read from it (marked where it matters).

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::model {

using Bytes = std::vector<std::uint8_t>;

// A file's digest as stored. A SHA-1 digest (20 bytes) or a shorter one is kept in place; a
// longer one lives on the heap, its address kept where the bytes would be. The common case
// costs no allocation of its own, and the whole takes 24 bytes.
class Digest {
 public:
  Digest() = default;
  Digest(const std::uint8_t* data, std::size_t size) { Assign(data, size); }
  Digest(const Digest& other) { Assign(other.data(), other.size()); }
  Digest(Digest&& other) noexcept : size_(other.size_) {
    std::memcpy(room_, other.room_, sizeof room_);
    other.size_ = 0;
  }
  Digest& operator=(const Digest& other) {
    if (this != &other) Assign(other.data(), other.size());
    return *this;
  }
  Digest& operator=(Digest&& other) noexcept {
    if (this != &other) {
      Free();
      std::memcpy(room_, other.room_, sizeof room_);
      size_ = other.size_;
      other.size_ = 0;
    }
    return *this;
  }
  ~Digest() { Free(); }

  const std::uint8_t* data() const { return OnHeap() ? Heap() : room_; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const std::uint8_t* begin() const { return data(); }
  const std::uint8_t* end() const { return data() + size_; }

 private:
  static constexpr std::size_t kInPlace = 20;
  bool OnHeap() const { return size_ > kInPlace; }
  std::uint8_t* Heap() const {
    std::uint8_t* p = nullptr;
    std::memcpy(&p, room_, sizeof p);
    return p;
  }
  void Free() {
    if (OnHeap()) delete[] Heap();
    size_ = 0;
  }
  void Assign(const std::uint8_t* data, std::size_t size) {
    std::uint8_t* heap = size > kInPlace ? new std::uint8_t[size] : nullptr;
    if (heap) std::memcpy(heap, data, size);
    Free();
    if (heap)
      std::memcpy(room_, &heap, sizeof heap);
    else if (size > 0)
      std::memcpy(room_, data, size);
    size_ = static_cast<std::uint32_t>(size);
  }
  std::uint8_t room_[kInPlace] = {};
  std::uint32_t size_ = 0;
};

enum class Generation : std::uint8_t {
  Unknown,  // the first bytes match neither generation
  Pre9,     // the flat EPOC format (releases 3 to 6)
  Sis9,     // the Symbian 9.x tree of typed fields (a stub is a 9.x package without frame)
};

// Something met while reading that could not be read as it should.
struct Problem {
  enum class Kind : std::uint8_t {
    NotAPackage,     // the file is not a package of the generation it was taken for
    UnknownVersion,  // pre-9.x: the release mark in UID 2 is not a known one; reading goes on
    Unreadable,      // pre-9.x: a count or value beyond what the reader can hold ended the reading
    Inflate,         // 9.x: the controller's zlib stream could not be inflated (`status`)
    Damaged,         // a part could not be read (`what`, at `where`); reading goes on
  };
  Kind kind = Kind::Damaged;
  std::string what;         // what could not be read ("package UID", "file description", ...)
  std::int64_t where = 0;   // where it was met
  int status = 0;           // Inflate: the zlib status (see bytes/inflate.hpp)
};

// What a Damaged problem says when a condition nests deeper than the reader follows; the
// condition is then left out whole (both generations).
inline constexpr const char* kConditionTooDeep = "condition nested too deep";
// Pre-9.x: a condition that is no whole tree and has more nodes than its text is put
// together from; it is left out whole.
inline constexpr const char* kConditionTooLong = "damaged condition too long";

struct Version {
  std::int32_t major = 0, minor = 0, build = 0;
};
// A version word of all ones (-1) in a range means "any".
struct VersionRange {
  Version from;
  std::optional<Version> to;
};

// A target device or a dependency (9.x), or a requisite (pre-9.x: `versions.from` holds
// major, minor and variant, and there is no upper bound).
struct Dependency {
  std::uint32_t uid = 0;
  std::optional<VersionRange> versions;  // absent when the package gives no version range
  std::vector<std::string> names;        // per language, as stored
};

// A property (9.x) or a capability pair (pre-9.x): key = value.
struct Property {
  std::int32_t key = 0;
  std::int32_t value = 0;
};

// Creation date and time as stored (9.x): month counts from 0.
struct DateTime {
  std::uint16_t year = 0;
  std::uint8_t month0 = 0, day = 0;
  std::uint8_t hour = 0, minute = 0, second = 0;
};

// A condition expression node. Both generations map their operator codes onto these; a
// node the reader could not finish keeps what was read before the damage (missing
// operands are simply absent). And and Or hold two operands, or more for a chain of the same
// operator as stored nested (a AND b AND c AND ...): the readers put a chain into one node,
// so that a long but ordinary condition is not deep.
enum class ExprOp : std::uint8_t {
  None,  // nothing could be read
  Equal, NotEqual, Greater, Less, GreaterOrEqual, LessOrEqual,
  And, Or, Not,
  Exists,            // text: the path
  AppProperty,       // operands: package UID number, property key number
  Package,           // operand: package UID number
  String,            // text
  Option,            // value: option number
  Variable,          // value: device attribute number (0x1000 Language)
  Number,            // value
  DeviceCapability,  // pre-9.x: operand: capability number
  AppCapability,     // pre-9.x: operands: UID number, capability number
};
struct Expression {
  ExprOp op = ExprOp::None;
  std::uint32_t value = 0;
  std::string text;
  std::vector<Expression> operands;
  // 9.x: an operator code outside the known ones, as stored (op is None then). Such a node
  // was read but ended the reading of its expression.
  std::uint32_t unknownOp = 0;
};

// A file the package installs, runs, shows or removes. (Members are ordered so that no
// padding falls between them: a package can describe a great many files.)
struct FileEntry {
  std::string target;   // where it goes on the device, as stored (backslashes kept)
  std::string source;   // pre-9.x: the source name the record gives; 9.x: empty
  std::string mime;
  Digest hash;                                // 9.x: the digest as stored
  std::uint64_t compressedSize = 0;           // bytes stored in the package
  std::uint64_t uncompressedSize = 0;         // bytes once inflated
  // Where the stored bytes begin in the package file, when the package carries them.
  std::optional<std::int64_t> dataOffset;
  // 9.x: the operation code (1 install, 2 run, 4 text, 8 null) and its options.
  // Pre-9.x: the file type (0 FILE, 1 FILETEXT, 2 EMBEDDED SIS, 3 FILERUN, 4 FILENULL,
  // 5 FILEMIME) and its details word.
  std::uint32_t operation = 0;
  std::uint32_t options = 0;
  std::optional<std::uint32_t> capabilities;  // 9.x: the capability bits, when given
  std::uint32_t hashAlgorithm = 0;            // 9.x: 1 is SHA-1
  std::uint32_t index = 0;                    // 9.x: the file's index in its data unit
  // How the stored bytes are kept: 0 as they are, 1 deflated (zlib). 9.x: the algorithm of
  // the data field when it was found, otherwise what the sizes suggest.
  std::uint32_t compression = 0;
  std::int32_t language = -1;  // pre-9.x per-language entries: position in the language list
  bool complete = true;        // every member of the description was there
  // 9.x: the package's data section is cut short by the end of the file, and this file's
  // stored bytes lie (or end) past the cut.
  bool pastCut = false;
};

struct Package;

// 9.x: an install block and the condition blocks inside it.
struct InstallBlock;
struct ConditionalBlock;
struct IfBlock;

struct InstallBlock {
  std::vector<FileEntry> files;
  std::vector<Package> embedded;
  std::vector<IfBlock> ifs;
};

// One branch: its condition and the block it guards.
struct ConditionalBlock {
  Expression condition;
  std::optional<InstallBlock> block;  // absent when the block could not be read
};

struct IfBlock {
  ConditionalBlock branch;                 // the If
  std::vector<ConditionalBlock> elseIfs;   // ElseIf branches (ELSE is stored as NOT 0)
};

// 9.x: a signature over the controller and the certificate chain that goes with it.
struct SignatureChain {
  struct Signature {
    std::string algorithm;  // the algorithm's OID text
    Bytes signature;
  };
  std::vector<Signature> signatures;
  std::vector<Bytes> certificates;  // DER certificates, in the order stored
  // Where the SISSignatureCertificateChain field begins (its type word) in the controller
  // buffer: a signature covers the controller's bytes up to here.
  std::int64_t offset = 0;
};

// 9.x: the stored bytes of one file in the data section.
struct StoredFile {
  std::int64_t offset = 0;        // where the stored bytes begin in the package file
  std::uint32_t compression = 0;  // 0 stored, 1 deflated
  std::uint64_t uncompressedSize = 0;
  std::uint64_t length = 0;       // bytes stored
  bool present = true;            // false: the entry held no SISCompressed field (the rest is 0)
};

// Pre-9.x: one record of the record list, in file order.
struct Record {
  enum class Kind : std::uint8_t { File, LanguageFiles, Options, If, ElseIf, Else, EndIf };
  Kind kind = Kind::File;
  // File and LanguageFiles: the record's fields, and its entries (one, or one per
  // language, in file order).
  std::uint32_t fileType = 0;
  std::uint32_t details = 0;
  std::string source, target, mime;
  std::vector<FileEntry> entries;
  // Options: per option, its names per language (file order).
  std::vector<std::vector<std::string>> options;
  // If and ElseIf.
  Expression condition;
  bool conditionComplete = true;  // false: the expression tree could not be read whole
  std::vector<Expression> conditionTokens;  // the expression's nodes in stored order, for a damaged tree
};

// 9.x: facts of the file frame (absent for a stub).
struct Frame {
  std::uint32_t uid1 = 0, uid2 = 0, uid3 = 0, uidChecksum = 0;
  std::optional<std::uint32_t> controllerChecksum;
  std::optional<std::uint32_t> dataChecksum;
  bool hasCompressedController = false;  // the SISCompressed field was there
  std::uint32_t controllerAlgorithm = 0;  // 0 stored, 1 deflated
  std::uint64_t controllerUncompressedSize = 0;  // as declared
  std::int64_t controllerCompressedSize = 0;     // bytes of the field's data
  std::int64_t controllerOffset = 0;             // where the field's data begins in the file
};

// Pre-9.x: the header words.
struct OldHeader {
  std::uint32_t uid1 = 0, uid2 = 0, uid3 = 0, uid4 = 0;
  std::uint16_t checksum = 0;
  std::uint16_t languageCount = 0, fileCount = 0, requisiteCount = 0;
  std::uint16_t capabilityCount = 0;
  std::uint32_t installerVersion = 0;
  std::uint16_t options = 0, type = 0;
  bool release6Layout = false;  // file records carry unpacked sizes and MIME types
  bool deflated = false;        // carried files are zlib streams
  // How many bytes of these words lay inside the file (a file cut inside its header keeps
  // fewer); the script writes the digits of those bytes only.
  std::uint8_t uid1Bytes = 4, optionsBytes = 2, typeBytes = 2;
  // Per requisite (file order), how many bytes of its UID lay inside the file.
  std::vector<std::uint8_t> requisiteUidBytes;
};

// 9.x: which members of the package information were found where they belong. A member that
// was not keeps its default value, and the views leave it out.
struct InfoRead {
  bool uid = true, vendorUniqueName = true, names = true, vendorNames = true, version = true, created = true;
  bool installType = true;  // the install type and flags bytes
};

struct Package {
  Generation generation = Generation::Unknown;
  bool stub = false;  // 9.x: a bare controller, no frame and no file data
  std::string name;   // the file name the package was opened under (no folder)

  // Package information.
  std::uint32_t uid = 0;
  std::string vendorUniqueName;        // 9.x
  std::vector<std::string> names;      // per language
  std::vector<std::string> vendorNames;  // 9.x: per language
  Version version;                     // pre-9.x: major, minor, variant
  DateTime created;                    // 9.x
  std::uint8_t installType = 0;        // 9.x: 0 SA, 1 SP, 2 PU, 3 PA, 4 PP; pre-9.x: header type
  std::uint8_t installFlags = 0;       // 9.x: bit 0 SH, 1 NR, 2 RU, 3 H
  std::vector<std::uint32_t> languages;  // language numbers, in stored order
  InfoRead infoRead;                   // 9.x
  std::vector<Dependency> targetDevices;  // 9.x
  std::vector<Dependency> dependencies;   // 9.x dependencies; pre-9.x requisites
  std::vector<Property> properties;       // 9.x properties; pre-9.x capabilities
  std::vector<std::vector<std::string>> options;  // 9.x: per option, names per language
  std::optional<FileEntry> logo;          // 9.x

  // 9.x structure.
  std::optional<Frame> frame;        // the main package of a whole (non-stub) file
  // The main package of a whole file: its controller as inflated once by the parser, shared
  // with whatever else reads it (the signature checks, the window's scratch file). Absent
  // when it could not be inflated, for a stub (whose file is its controller) and for
  // embedded packages.
  std::shared_ptr<const Bytes> controller;
  InstallBlock body;
  // 9.x: further install blocks of the same controller, in stored order (an odd controller
  // can hold more than one; they install after `body`).
  std::vector<InstallBlock> laterBlocks;
  bool controllerRead = false;       // 9.x: a controller with package information was read
  std::vector<SignatureChain> signatures;
  // 9.x: where an install block that follows the last signature chain begins in the
  // controller buffer, -1 when none does. No signature of the package covers such a block.
  std::int64_t unsignedContentAt = -1;
  // 9.x: where this controller's members (its package information) begin in the controller
  // buffer, and where its value ends. The main controller's field header lies before
  // controllerStart (at 0); an embedded one's is an array element's length word.
  std::int64_t controllerStart = 0;
  std::int64_t controllerEnd = 0;
  std::uint32_t dataIndex = 0;       // as stored: relative to the enclosing package's unit
  std::uint32_t dataUnit = 1;        // absolute data unit of its files (1 for the main package)
  bool ended = false;                // its end (the data index field) was reached
  std::int32_t ordinal = 1;          // 1-based order in which the packages were met
  std::vector<std::vector<StoredFile>> data;  // main package: the data section, per unit

  // Pre-9.x structure.
  std::optional<OldHeader> oldHeader;
  std::vector<Record> records;

  // What could not be read, in the order met (the main package holds those of its
  // embedded packages too).
  std::vector<Problem> problems;
};

}  // namespace tarvik::model
