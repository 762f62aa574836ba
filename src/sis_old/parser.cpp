// Pre-9.x (EPOC) packages into the package model: the header words, languages, component
// names, requisites, capabilities and the record list (file, option and condition records
// with their expression trees). Bytes in, model out: no text is formatted here, and
// nothing is kept between calls.
//
// Every list the file stores is kept in file order. A count beyond what the reader can hold,
// or a length or position that does not fit a signed 32-bit number, ends the reading with an
// Unreadable problem; decoded text is bounded by a budget proportional to the file, so that
// names pointing again and again at large ranges cannot exhaust memory.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "sis_old/parser.hpp"
#include "sis_old/old_text.hpp"

namespace tarvik::sis_old {

namespace {

using model::Expression;
using model::ExprOp;
using model::FileEntry;
using model::Problem;
using model::Record;

constexpr std::uint32_t kMarkPre9 = 0x10000419;      // UID 3 of every pre-9.x package
constexpr std::uint32_t kMarkRelease6 = 0x10003A12;  // UID 2 of release 6
constexpr std::uint32_t kMarkReleaseOld = 0x1000006D;  // UID 2 of releases 3, 4 and 5
constexpr std::uint32_t kRelease6Installer = 200;   // installer versions from here use the release-6 layout

// Bounds of what the reader holds.
constexpr std::uint16_t kMaxLanguages = 200;
constexpr std::uint32_t kMaxOptions = 180;  // options in one option record, and languages there
constexpr std::size_t kMaxFoldedTokens = 1024;  // nodes of a damaged condition that are folded into text
constexpr int kMaxDepth = 100;              // nesting of one condition tree (a chain of one operator is not nesting)
constexpr std::int64_t kTextBudgetPerByte = 32;
constexpr std::int64_t kTextBudgetBase = std::int64_t{16} << 20;

// Header field offsets.
enum : Pos {
  kUid1 = 0, kUid2 = 4, kUid3 = 8, kUid4 = 12, kChecksum = 16, kLangCount = 18, kRecordCount = 20,
  kReqCount = 22, kCapCount = 30, kInstallerVersion = 32, kOptions = 36, kType = 38, kMajor = 40,
  kMinor = 42, kVariant = 44, kLangOffset = 48, kRecordOffset = 52, kReqOffset = 56, kNameOffset = 64,
  kCapOffset = 72,
};

constexpr std::uint16_t kOptionUnicode = 0x0001;
constexpr std::uint16_t kOptionNoCompress = 0x0008;

// Record kinds.
enum : std::uint32_t {
  kKindFile = 0, kKindLangFile = 1, kKindOptions = 2, kKindIf = 3, kKindElseIf = 4,
  kKindElse = 5, kKindEndIf = 6,
};
constexpr std::uint32_t kFileMime = 5;

// Condition node types as stored.
enum : std::uint32_t {
  kEq = 0, kLe = 5, kAnd = 6, kOr = 7, kExists = 8, kDevCap = 9, kAppCap = 10, kNot = 11,
  kString = 12, kAttribute = 13, kValue = 14,
};

// Ends the reading.
struct Unreadable : std::runtime_error {
  Unreadable(const char* what, Pos at) : std::runtime_error(what), where(at) {}
  Pos where;
};

ExprOp CompareOp(std::uint32_t type) { return static_cast<ExprOp>(static_cast<int>(ExprOp::Equal) + static_cast<int>(type)); }

Expression Leaf(ExprOp op, std::uint32_t value = 0, std::string text = {}) {
  Expression e;
  e.op = op;
  e.value = value;
  e.text = std::move(text);
  return e;
}

class Reader {
 public:
  explicit Reader(ByteView bytes)
      : bytes_(bytes), budget_(kTextBudgetPerByte * bytes.Size() + kTextBudgetBase) {}

  ByteView Bytes() const { return bytes_; }
  // Little-endian fields; bytes outside the file count as absent (a cut word reads short).
  std::uint32_t U32(Pos pos) const { return static_cast<std::uint32_t>(ReadLE(bytes_, pos, 4)); }
  std::uint16_t U16(Pos pos) const { return static_cast<std::uint16_t>(ReadLE(bytes_, pos, 2)); }
  // How many of the `len` bytes at `pos` lie inside the file.
  std::uint8_t Present(Pos pos, int len) const {
    std::uint8_t n = 0;
    for (int k = 0; k < len; ++k) n += bytes_.Has(pos + k) ? 1 : 0;
    return n;
  }

  // A 32-bit field used as a signed position or length: values of 2^31 and more do not fit.
  std::int32_t Int32(Pos pos) const {
    const std::uint32_t v = U32(pos);
    if (v > 0x7FFFFFFFu) throw Unreadable("value does not fit", pos);
    return static_cast<std::int32_t>(v);
  }

  // Text of a (length, offset) pair of fields.
  std::string Text(Pos lengthField, Pos offsetField, bool wideText) {
    const std::int32_t len = Int32(lengthField);
    const std::int32_t off = Int32(offsetField);
    // Only the bytes inside the file can contribute.
    budget_ -= std::min<Pos>(len, bytes_.Size());
    if (budget_ < 0) throw Unreadable("decoded text exceeds what the package can hold", lengthField);
    return DecodeText(bytes_, off, len, wideText);
  }

 private:
  ByteView bytes_;
  std::int64_t budget_;
};

// ---- Conditions --------------------------------------------------------------------------

// The expression of an If or ElseIf record as a flat list of nodes in stored order: each
// operator word, and each leaf with the words it uses. A comparison takes the node after it
// as its left leaf (a node of another kind after a comparison adds nothing).
class Flattener {
 public:
  Flattener(Reader& r, bool wide, std::vector<Expression>& out) : r_(r), wide_(wide), out_(out) {}

  void Run(Pos start, Pos size) {
    const Pos last = start + size - 4;
    // One node past the most that is folded is enough to tell.
    for (Pos p = start; p <= last && out_.size() <= kMaxFoldedTokens; p += 4) {
      const std::uint32_t t = r_.U32(p);
      if (t == kAnd) {
        Add(Leaf(ExprOp::And), p);
      } else if (t == kOr) {
        Add(Leaf(ExprOp::Or), p);
      } else if (t <= kLe) {
        Add(Leaf(CompareOp(t)), p);
        p = LeafLike(r_.U32(p + 4), p + 4);
      } else {
        p = LeafLike(t, p);
      }
    }
  }

 private:
  // Every node takes at least one word of the expression, so the list grows no faster than
  // the record is long.
  void Add(Expression e, Pos /*at*/) { out_.push_back(std::move(e)); }

  // Adds the node of type `type` at `pos`, when it is a leaf or a NOT; returns the position
  // of the last word it uses.
  Pos LeafLike(std::uint32_t type, Pos pos) {
    switch (type) {
      case kExists:
        Add(Leaf(ExprOp::Exists, 0, r_.Text(pos + 8, pos + 12, wide_)), pos);
        return pos + 12;
      case kDevCap: {
        Expression e = Leaf(ExprOp::DeviceCapability);
        e.operands.push_back(Leaf(ExprOp::Number, r_.U32(pos + 8)));
        Add(std::move(e), pos);
        return pos + 8;
      }
      case kAppCap: {
        Expression e = Leaf(ExprOp::AppCapability);
        e.operands.push_back(Leaf(ExprOp::Number, r_.U32(pos + 8)));
        e.operands.push_back(Leaf(ExprOp::Number, r_.U32(pos + 20)));
        Add(std::move(e), pos);
        return pos + 20;
      }
      case kNot:
        Add(Leaf(ExprOp::Not), pos);
        return pos;
      case kString:
        Add(Leaf(ExprOp::String, 0, r_.Text(pos + 4, pos + 8, wide_)), pos);
        return pos + 8;
      case kAttribute:
        Add(Leaf(ExprOp::Variable, r_.U32(pos + 4)), pos);
        return pos + 4;
      case kValue:
        Add(Leaf(ExprOp::Number, r_.U32(pos + 4)), pos);
        return pos + 4;
      default:
        return pos;
    }
  }

  Reader& r_;
  bool wide_;
  std::vector<Expression>& out_;
};

// The expression as a tree in prefix order: operators first, then their operands; leaves
// (string, attribute, value) take 12 bytes. False when the tree does not read whole inside
// its record; `out` then keeps what was read.
class TreeReader {
 public:
  TreeReader(Reader& r, bool wide, Pos start, Pos size) : r_(r), wide_(wide), p_(start), end_(start + size) {}

  bool Read(Expression& out) { return Parse(out, 0); }
  // The tree nests deeper than the reader follows.
  bool TooDeep() const { return tooDeep_; }

 private:
  bool Word(std::uint32_t& v) {
    if (p_ + 4 > end_) return false;
    v = r_.U32(p_);
    p_ += 4;
    return true;
  }

  bool LeafFits(Pos at) {
    if (at + 12 > end_) return false;
    p_ = at + 12;
    return true;
  }

  // Reads one operand into `out.operands`; `at` receives where it begins.
  bool Operand(Expression& out, int depth, Pos& at) {
    at = p_;
    out.operands.emplace_back();
    return Parse(out.operands.back(), depth + 1);
  }

  // The operands of an AND or OR whose word was just read: every further word of the same
  // operator met where an operand is due opens in place (it takes one operand's place and
  // wants two), so that a chain of any shape is read without going deeper.
  bool Chain(Expression& out, std::uint32_t word, int depth) {
    std::int64_t due = 2;
    while (due > 0) {
      if (p_ + 4 <= end_ && r_.U32(p_) == word) {
        p_ += 4;
        ++due;
        continue;
      }
      Pos at = 0;
      if (!Operand(out, depth, at)) return false;
      --due;
    }
    return true;
  }

  bool Parse(Expression& out, int depth) {
    if (depth > kMaxDepth) {
      tooDeep_ = true;
      return false;
    }
    const Pos at = p_;
    std::uint32_t t = 0;
    if (!Word(t)) return false;
    Pos a = 0, b = 0;
    switch (t) {
      case 0: case 1: case 2: case 3: case 4: case 5:
        out.op = CompareOp(t);
        return Operand(out, depth, a) && Operand(out, depth, b);
      case kAnd:
        out.op = ExprOp::And;
        return Chain(out, t, depth);
      case kOr:
        out.op = ExprOp::Or;
        return Chain(out, t, depth);
      case kNot:
        out.op = ExprOp::Not;
        return Operand(out, depth, a);
      case kExists:
        // The path is the string operand's text.
        out.op = ExprOp::Exists;
        if (!Operand(out, depth, a) || out.operands[0].op != ExprOp::String) return false;
        out.text = r_.Text(a + 4, a + 8, wide_);
        out.operands.clear();
        return true;
      case kDevCap:
        out.op = ExprOp::DeviceCapability;
        return Operand(out, depth, a) && out.operands[0].op == ExprOp::Number;
      case kAppCap:
        out.op = ExprOp::AppCapability;
        return Operand(out, depth, a) && out.operands[0].op == ExprOp::Number && Operand(out, depth, b) &&
               out.operands[1].op == ExprOp::Number;
      case kString:
        if (!LeafFits(at)) return false;
        out = Leaf(ExprOp::String, 0, r_.Text(at + 4, at + 8, wide_));
        return true;
      case kAttribute:
        if (!LeafFits(at)) return false;
        out = Leaf(ExprOp::Variable, r_.U32(at + 4));
        return true;
      case kValue:
        if (!LeafFits(at)) return false;
        out = Leaf(ExprOp::Number, r_.U32(at + 4));
        return true;
      default:
        return false;
    }
  }

  Reader& r_;
  bool wide_;
  Pos p_;
  Pos end_;
  bool tooDeep_ = false;
};

// ---- The package -------------------------------------------------------------------------

class PackageReader {
 public:
  PackageReader(ByteView bytes, model::Package& pkg) : r_(bytes), pkg_(pkg) {}

  void Read() {
    model::OldHeader& h = pkg_.oldHeader.emplace();
    h.uid1 = r_.U32(kUid1);
    h.uid1Bytes = r_.Present(kUid1, 4);
    h.uid2 = r_.U32(kUid2);
    h.uid3 = r_.U32(kUid3);
    h.uid4 = r_.U32(kUid4);
    h.checksum = r_.U16(kChecksum);
    h.languageCount = r_.U16(kLangCount);
    h.fileCount = r_.U16(kRecordCount);
    h.requisiteCount = r_.U16(kReqCount);
    h.capabilityCount = r_.U16(kCapCount);
    h.installerVersion = r_.U32(kInstallerVersion);
    h.options = r_.U16(kOptions);
    h.optionsBytes = r_.Present(kOptions, 2);
    h.type = r_.U16(kType);
    h.typeBytes = r_.Present(kType, 2);
    h.release6Layout = h.uid2 == kMarkRelease6 || h.installerVersion >= kRelease6Installer;
    h.deflated = h.release6Layout && (h.options & kOptionNoCompress) == 0;
    wide_ = (h.options & kOptionUnicode) != 0;

    pkg_.uid = h.uid1;
    pkg_.installType = static_cast<std::uint8_t>(h.type);
    pkg_.version.major = r_.U16(kMajor);
    pkg_.version.minor = r_.U16(kMinor);
    pkg_.version.build = static_cast<std::int32_t>(r_.U32(kVariant));

    if (r_.Present(kUid2, 4) != 4 || (h.uid2 != kMarkReleaseOld && h.uid2 != kMarkRelease6)) {
      pkg_.problems.push_back({Problem::Kind::UnknownVersion, "release mark", kUid2, 0});
    }

    try {
      ReadBody(h);
    } catch (const Unreadable& e) {
      pkg_.problems.push_back({Problem::Kind::Unreadable, e.what(), e.where, 0});
    } catch (const std::exception& e) {
      pkg_.problems.push_back({Problem::Kind::Unreadable, e.what(), 0, 0});
    }
  }

 private:
  void ReadBody(model::OldHeader& h) {
    languages_ = h.languageCount;
    if (languages_ > kMaxLanguages) throw Unreadable("too many languages", kLangCount);

    const Pos langOffset = r_.U32(kLangOffset);
    for (Pos j = 0; j < languages_; ++j) pkg_.languages.push_back(r_.U16(langOffset + 2 * j));

    // Requisites: fixed-size entries one after the other; the first that does not lie
    // whole inside the file is the last one read.
    const Pos reqSize = 12 + 8 * static_cast<Pos>(languages_);
    Pos req = r_.U32(kReqOffset);
    for (std::uint32_t k = 0; k < h.requisiteCount; ++k, req += reqSize) {
      // The UID is read at the position taken as a signed 32-bit number.
      const Pos uidAt = static_cast<std::int32_t>(req);
      model::Dependency d;
      d.uid = static_cast<std::uint32_t>(ReadLE(r_.Bytes(), uidAt, 4));
      model::Version from;
      from.major = r_.U16(req + 4);
      from.minor = r_.U16(req + 6);
      from.build = static_cast<std::int32_t>(r_.U32(req + 8));
      d.versions = model::VersionRange{from, std::nullopt};
      d.names = Names(req + 12);
      pkg_.dependencies.push_back(std::move(d));
      h.requisiteUidBytes.push_back(r_.Present(uidAt, 4));
      if (!r_.Bytes().HasRange(req, reqSize)) {
        if (k + 1 < h.requisiteCount) pkg_.problems.push_back({Problem::Kind::Damaged, "requisite", req, 0});
        break;
      }
    }

    pkg_.names = Names(r_.U32(kNameOffset));

    // Capabilities: (key, value) pairs one after the other. They end with the last pair
    // that lies whole inside the file: a count that says more is damage, not pairs of zeros.
    const Pos caps = r_.U32(kCapOffset);
    for (Pos k = 0; k < h.capabilityCount; ++k) {
      const Pos pair = caps + 8 * k;
      if (!r_.Bytes().HasRange(pair, 8)) {
        pkg_.problems.push_back({Problem::Kind::Damaged, "capability", pair, 0});
        break;
      }
      const std::uint32_t key = r_.U32(pair);
      if (key > 0x7FFFFFFFu) throw Unreadable("capability key does not fit", pair);
      pkg_.properties.push_back({static_cast<std::int32_t>(key), static_cast<std::int32_t>(r_.U32(pair + 4))});
    }

    WalkRecords(r_.U32(kRecordOffset), h.fileCount, h);
  }

  // One name per language of a (lengths, offsets) block, in file order.
  std::vector<std::string> Names(Pos block) {
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(languages_));
    const Pos n = languages_;
    for (Pos k = 0; k < n; ++k) names.push_back(r_.Text(block + 4 * k, block + 4 * n + 4 * k, wide_));
    return names;
  }

  void WalkRecords(Pos rec, std::uint32_t count, const model::OldHeader& h) {
    // Room for the records the header counts, as far as the file could hold them (a record
    // takes at least its 4-byte kind word).
    const Pos room = rec >= 0 && rec < r_.Bytes().Size() ? (r_.Bytes().Size() - rec) / 4 : 0;
    pkg_.records.reserve(static_cast<std::size_t>(std::min<Pos>(count, room)));
    for (std::uint32_t i = 0; i < count; ++i) {
      const Pos next = Handle(rec, h);
      if (next < 0) {
        pkg_.problems.push_back({Problem::Kind::Damaged, "record", rec, 0});
        return;
      }
      rec = next;
    }
  }

  // Reads the record at `rec`; returns the start of the next record, or -1 when the record
  // is of no known kind or does not lie inside the file.
  Pos Handle(Pos rec, const model::OldHeader& h) {
    std::uint32_t kind = 0;
    if (!ReadU32(r_.Bytes(), rec, kind)) return -1;
    switch (kind) {
      case kKindEndIf: pkg_.records.push_back(Kind(Record::Kind::EndIf)); return rec + 4;
      case kKindElse: pkg_.records.push_back(Kind(Record::Kind::Else)); return rec + 4;
      case kKindIf:
      case kKindElseIf: return Condition(rec, kind);
      case kKindOptions: return Options(rec);
      case kKindFile:
      case kKindLangFile: return File(rec, kind, h);
      default: return -1;
    }
  }

  static Record Kind(Record::Kind kind) {
    Record r;
    r.kind = kind;
    return r;
  }

  Pos Condition(Pos rec, std::uint32_t kind) {
    const Pos size = r_.U32(rec + 4);
    if (!r_.Bytes().HasRange(rec, 8 + size)) return -1;
    Record r = Kind(kind == kKindIf ? Record::Kind::If : Record::Kind::ElseIf);
    TreeReader tree(r_, wide_, rec + 8, size);
    r.conditionComplete = tree.Read(r.condition);
    if (tree.TooDeep()) {
      // Half a condition would read as another one: none is given, and the problem says why.
      r.condition = Expression{};
      r.conditionComplete = true;
      pkg_.problems.push_back({Problem::Kind::Damaged, model::kConditionTooDeep, rec, 0});
    } else if (!r.conditionComplete) {
      // The nodes in stored order, for a text folded from them. Folding takes a pass per
      // level of the tree, so a long list is not folded: that condition is left out.
      Flattener(r_, wide_, r.conditionTokens).Run(rec + 8, size);
      if (r.conditionTokens.size() > kMaxFoldedTokens) {
        r.conditionTokens.clear();
        r.condition = Expression{};
        r.conditionComplete = true;
        pkg_.problems.push_back({Problem::Kind::Damaged, model::kConditionTooLong, rec, 0});
      }
    }
    pkg_.records.push_back(std::move(r));
    return rec + 8 + size;
  }

  Pos Options(Pos rec) {
    const Pos n = languages_;
    const std::uint32_t count = r_.U32(rec + 4);
    if (count > kMaxOptions || n > static_cast<Pos>(kMaxOptions)) throw Unreadable("option table exceeded", rec);
    const Pos size = 8 + 8 * n * count + 16;
    if (!r_.Bytes().HasRange(rec, size)) return -1;
    Record r = Kind(Record::Kind::Options);
    for (std::uint32_t j = 0; j < count; ++j) r.options.push_back(Names(rec + 8 + 8 * n * j));
    pkg_.records.push_back(std::move(r));
    return rec + size;
  }

  Pos File(Pos rec, std::uint32_t kind, const model::OldHeader& h) {
    const Pos n = kind == kKindFile ? 1 : languages_;
    const Pos size = h.release6Layout ? 36 + 12 * n : 28 + 8 * n;
    if (!r_.Bytes().HasRange(rec, size)) return -1;

    Record r = Kind(kind == kKindFile ? Record::Kind::File : Record::Kind::LanguageFiles);
    r.fileType = r_.U32(rec + 4);
    r.details = r_.U32(rec + 8);
    r.source = r_.Text(rec + 12, rec + 16, wide_);
    r.target = r_.Text(rec + 20, rec + 24, wide_);
    // The MIME type is there in the release-6 layout only, and read for FILEMIME records
    // (single-byte text).
    if (h.release6Layout && r.fileType == kFileMime) r.mime = r_.Text(rec + 28 + 12 * n, rec + 32 + 12 * n, false);

    for (Pos k = 0; k < n; ++k) {
      FileEntry e;
      e.source = r.source;
      e.target = r.target;
      e.mime = r.mime;
      e.operation = r.fileType;
      e.options = r.details;
      e.compressedSize = r_.U32(rec + 28 + 4 * k);
      e.dataOffset = r_.U32(rec + 28 + 4 * n + 4 * k);
      e.uncompressedSize = h.release6Layout ? r_.U32(rec + 28 + 8 * n + 4 * k) : e.compressedSize;
      e.compression = h.deflated ? 1 : 0;
      if (kind == kKindLangFile) e.language = static_cast<std::int32_t>(k);
      r.entries.push_back(std::move(e));
    }
    pkg_.records.push_back(std::move(r));
    return rec + size;
  }

  Reader r_;
  model::Package& pkg_;
  bool wide_ = false;
  Pos languages_ = 0;
};

std::string WithoutFolder(const std::string& path) {
  const std::size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace

model::Package ParsePackage(std::span<const std::uint8_t> bytes, const std::string& name) {
  model::Package pkg;
  pkg.generation = model::Generation::Pre9;
  pkg.name = WithoutFolder(name);
  const ByteView view(bytes);
  if (!view.HasRange(kUid1, 12) || ReadLE(view, kUid3, 4) != kMarkPre9) {
    pkg.problems.push_back({Problem::Kind::NotAPackage, "pre-9.x UID 3", kUid3, 0});
    return pkg;
  }
  PackageReader(view, pkg).Read();
  // Stored bytes that run past the end of the file: the package is cut short.
  for (const model::Record& r : pkg.records)
    for (const model::FileEntry& e : r.entries)
      if (e.dataOffset && static_cast<std::uint64_t>(*e.dataOffset) + e.compressedSize > bytes.size()) {
        pkg.problems.push_back({Problem::Kind::Damaged, "file data", *e.dataOffset, 0});
        return pkg;
      }
  return pkg;
}

}  // namespace tarvik::sis_old
