// The 9.x parser: the file frame, the controller (inflated in memory), the package
// information, the install block tree with its conditions, the signature chains and the data
// section, read into the package model. Bytes in, model out: nothing here touches files or
// keeps state between calls.

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "bytes/field_reader.hpp"
#include "bytes/inflate.hpp"
#include "sis9/parser.hpp"
#include "sis9/limits.hpp"

namespace tarvik::sis9 {

namespace {

using model::Expression;
using model::ExprOp;
using model::FileEntry;
using model::InstallBlock;
using model::Package;
using model::Problem;

constexpr std::uint32_t kUid1 = 0x10201A7Au;
constexpr std::uint32_t kMaxExprCode = static_cast<std::uint32_t>(ExprOp::Number);
constexpr std::uint32_t kNullOperation = 8;

std::uint32_t Word(ByteView b, Pos pos) { return ReadWord(b, pos); }

// UTF-16 text of `length` bytes at `index`.
std::string Utf16Text(ByteView b, Pos index, Pos length) { return GetText(b, index, length, true); }

std::string FieldText(ByteView b, const Field& f) {
  if (!f.ok || f.length <= 0) return {};
  return Utf16Text(b, f.index, f.length);
}

// The bytes of a field's value (an ok field lies inside the buffer).
model::Bytes FieldBytes(ByteView b, const Field& f) {
  if (!f.ok || f.length <= 0 || !b.HasRange(f.index, f.length)) return {};
  return model::Bytes(b.Ptr(f.index), b.Ptr(f.index) + f.length);
}

// How many whole elements of at least `minLength` bytes an array field holds, so that what
// they are read into can be sized once (elements too short to be read are not counted: a
// damaged array never reserves more than its bytes could fill).
std::size_t CountElements(ByteView b, const Field& array, Pos minLength = 0) {
  std::size_t n = 0;
  for (Pos p = array.index + 4; p < array.end;) {
    const Field e = ReadElement(b, p, array.end);
    if (!e.ok) break;
    if (e.length >= minLength) ++n;
    p = e.next;
  }
  return n;
}

// The fewest bytes of a whole file description: the target and MIME type fields (8 each),
// the hash field with its algorithm and digest field (20), and the packed words (28).
constexpr Pos kMinFileDescription = 64;

// The strings of an array field (type, length, element type, then length + value each).
// `damagedAt` is where the first entry that could not be read begins (or the array, when it
// is no whole array), -1 when every entry was read.
std::vector<std::string> ReadStrings(ByteView b, const Field& array, Pos& damagedAt) {
  std::vector<std::string> out;
  damagedAt = -1;
  if (array.type != sistype::Array) {
    damagedAt = array.start;
    return out;
  }
  if (!array.ok) damagedAt = array.start;
  out.reserve(CountElements(b, array));
  Pos p = array.index + 4;
  while (p < array.end) {
    Field e = ReadElement(b, p, array.end);
    if (!e.ok) {
      if (damagedAt < 0) damagedAt = p;
      break;
    }
    out.push_back(Utf16Text(b, e.index, e.length));
    p = e.next;
  }
  return out;
}

model::Version ReadVersion(ByteView b, Pos index) {
  return {static_cast<std::int32_t>(Word(b, index)), static_cast<std::int32_t>(Word(b, index + 4)),
          static_cast<std::int32_t>(Word(b, index + 8))};
}

// Members that may follow the one being looked for; meeting one means it is absent.
bool IsLaterMember(std::uint32_t t) {
  switch (t) {
    case sistype::SupportedOptions: case sistype::SupportedLanguages: case sistype::Prerequisites:
    case sistype::Properties: case sistype::Logo: case sistype::InstallBlock:
    case sistype::SignatureCertificateChain: case sistype::DataIndex:
      return true;
    default:
      return false;
  }
}

// Finds the controller member of type `type` at `pos`, stepping over fields of unknown type
// (`pos` moves past them even when the member is not found).
bool SeekMember(ByteView b, Pos& pos, Pos limit, std::uint32_t type, Field& out) {
  while (pos + 8 <= limit) {
    Field f = ReadField(b, pos, limit);
    if (f.type == type) {
      out = f;
      return true;
    }
    if (IsLaterMember(f.type) || !f.ok) return false;
    pos = f.next;
  }
  return false;
}

// A file description: target, MIME type, capabilities, hash, then the packed words, read
// into `d`; false (and `complete` false) when a member is missing.
bool ReadFileDesc(ByteView b, Pos pos, Pos limit, FileEntry& d) {
  d.complete = false;
  Field target = ReadField(b, pos, limit);
  if (!target.ok || target.type != sistype::String) return false;
  d.target = FieldText(b, target);
  Field mime = ReadField(b, target.next, limit);
  if (!mime.ok || mime.type != sistype::String) return false;
  d.mime = FieldText(b, mime);
  Pos p = mime.next;
  Field f = ReadField(b, p, limit);
  if (f.ok && f.type == sistype::Capabilities) {
    d.capabilities = Word(b, f.index);
    p = f.next;
    f = ReadField(b, p, limit);
  }
  if (!f.ok || f.type != sistype::Hash) return false;
  d.hashAlgorithm = Word(b, f.index);
  const Field digest = ReadField(b, f.index + 4, f.end);
  if (digest.ok && digest.length > 0 && b.HasRange(digest.index, digest.length))
    d.hash = model::Digest(b.Ptr(digest.index), static_cast<std::size_t>(digest.length));
  p = f.next;
  if (p + 28 > limit) return false;
  d.operation = Word(b, p);
  d.options = Word(b, p + 4);
  d.compressedSize = ReadLE(b, p + 8, 8);
  d.uncompressedSize = ReadLE(b, p + 16, 8);
  d.index = Word(b, p + 24);
  // What the sizes suggest, until the data section tells.
  d.compression = d.compressedSize == d.uncompressedSize ? 0 : 1;
  d.complete = true;
  return true;
}

// Certificates of a chain blob: each a top-level DER SEQUENCE (tag 0x30, short or long
// length form). Reading stops at anything else, at a length that overruns the blob, and
// after kMaxCertificates.
std::vector<model::Bytes> SplitCertificates(const model::Bytes& blob) {
  std::vector<model::Bytes> out;
  constexpr std::size_t kMaxLengthBytes = 4;  // a certificate of 4 GiB is more than enough
  std::size_t p = 0;
  while (p + 2 <= blob.size() && out.size() < static_cast<std::size_t>(kMaxCertificates)) {
    if (blob[p] != 0x30) break;
    std::size_t header = 2;
    std::uint64_t length = blob[p + 1];
    if (length & 0x80) {
      const std::size_t n = length & 0x7F;
      if (n == 0 || n > kMaxLengthBytes || p + 2 + n > blob.size()) break;
      length = 0;
      for (std::size_t i = 0; i < n; ++i) length = length << 8 | blob[p + 2 + i];
      header += n;
    }
    if (length > blob.size() - p - header) break;
    const std::size_t total = header + static_cast<std::size_t>(length);
    out.emplace_back(blob.begin() + static_cast<std::ptrdiff_t>(p),
                     blob.begin() + static_cast<std::ptrdiff_t>(p + total));
    p += total;
  }
  return out;
}

// Walks one controller buffer (the inflated controller, or a stub file).
class ControllerParser {
 public:
  ControllerParser(ByteView b, std::vector<Problem>& problems) : b_(b), problems_(problems) {}

  // Reads the controller whose package information begins at `infoPos`; false (and a
  // problem) when there is none or it lies too deep.
  bool ReadController(Pos infoPos, Pos limit, Package& pkg) {
    if (Word(b_, infoPos) != sistype::Info) {
      Fail("package information", infoPos);
      return false;
    }
    if (controllerDepth_ >= kMaxControllerDepth) {
      Fail("embedded package nested too deep", infoPos);
      return false;
    }
    ++controllerDepth_;
    pkg.generation = model::Generation::Sis9;
    pkg.controllerRead = true;
    pkg.ordinal = ++ordinal_;
    pkg.controllerStart = infoPos;
    pkg.controllerEnd = limit;

    Pos pos = infoPos;
    ReadPackageInfo(pos, limit, pkg);
    bool haveBody = false;
    Pos lastBlock = -1;
    while (pos + 8 <= limit) {
      Field f = ReadField(b_, pos, limit);
      if (!f.ok) {
        Fail("controller", pos);
        break;
      }
      if (f.type == sistype::InstallBlock) {
        InstallBlock& block = haveBody ? pkg.laterBlocks.emplace_back() : pkg.body;
        haveBody = true;
        lastBlock = f.start;
        ReadInstallBlock(f, block);
      } else if (f.type == sistype::SignatureCertificateChain) {
        ReadSignatureChain(f, pkg);
      } else if (f.type == sistype::DataIndex) {
        pkg.dataIndex = Word(b_, f.index);
        pkg.ended = true;
        break;
      }
      pos = f.next;
    }
    if (!pkg.ended) Fail("end of package", pos);
    // A signature covers the bytes before its chain: an install block after the last chain
    // (its files, conditions and embedded packages) is covered by none.
    if (!pkg.signatures.empty() && lastBlock > pkg.signatures.back().offset) {
      pkg.unsignedContentAt = lastBlock;
      Fail("install block after the last signature chain (no signature covers it)", lastBlock);
    }
    --controllerDepth_;
    return true;
  }

 private:
  void Fail(std::string what, Pos where) { problems_.push_back({Problem::Kind::Damaged, std::move(what), where, 0}); }

  // Calls `each` with every element of the array field `array`; an element that cannot be
  // read ends the walk and is recorded as damage to `what` where it begins.
  template <typename Each>
  void ForEachElement(const Field& array, const char* what, Each&& each) {
    for (Pos p = array.index + 4; p < array.end;) {
      const Field e = ReadElement(b_, p, array.end);
      if (!e.ok) {
        Fail(what, p);
        return;
      }
      each(e);
      p = e.next;
    }
  }

  // The strings of an array field; an entry that cannot be read (a length past the array's
  // end) ends the list and is recorded as damage to `what`.
  std::vector<std::string> Strings(const Field& array, const char* what) {
    Pos damagedAt = -1;
    std::vector<std::string> out = ReadStrings(b_, array, damagedAt);
    if (damagedAt >= 0) Fail(what, damagedAt);
    return out;
  }

  // The package information and the members after it, in file order.
  void ReadPackageInfo(Pos& pos, Pos limit, Package& pkg) {
    ReadInfo(pos, limit, pkg);
    Field f;
    if (SeekMember(b_, pos, limit, sistype::SupportedOptions, f)) ReadOptions(f, pos, pkg);
    if (SeekMember(b_, pos, limit, sistype::SupportedLanguages, f))
      ReadLanguages(f, pos, pkg);
    else
      Fail("languages", pos);
    if (SeekMember(b_, pos, limit, sistype::Prerequisites, f)) ReadPrerequisites(f, pos, pkg);
    if (SeekMember(b_, pos, limit, sistype::Properties, f)) ReadProperties(f, pos, pkg);
    Pos logoPos = pos;
    if (SeekMember(b_, logoPos, limit, sistype::Logo, f)) {
      Field desc = ReadField(b_, f.index, f.end);
      ReadFileDesc(b_, desc.index, desc.ok ? desc.end : f.end, pkg.logo.emplace());
      if (!pkg.logo->complete) Fail("logo", f.start);
      pos = f.next;
    }
  }

  // SISInfo: UID, vendor, names, vendor names, version, creation time, type and flags.
  void ReadInfo(Pos& pos, Pos limit, Package& pkg) {
    Field info = ReadField(b_, pos, limit);
    if (!info.ok) Fail("package information", pos);
    const Pos il = info.ok ? info.end : limit;
    Pos p = info.index;
    model::InfoRead& read = pkg.infoRead;
    // Each member in turn: whether it has its type, what to do with it, and its name.
    auto member = [&](std::uint32_t type, const char* what, bool& ok, const auto& take) {
      const Field f = ReadField(b_, p, il);
      ok = f.type == type;
      if (ok)
        take(f);
      else
        Fail(what, p);
      p = f.next;
      return f;
    };
    member(sistype::Uid, "package UID", read.uid, [&](const Field& f) { pkg.uid = Word(b_, f.index); });
    member(sistype::String, "vendor name", read.vendorUniqueName,
           [&](const Field& f) { pkg.vendorUniqueName = FieldText(b_, f); });
    member(sistype::Array, "package names", read.names,
           [&](const Field& f) { pkg.names = Strings(f, "package names"); });
    member(sistype::Array, "vendor names", read.vendorNames,
           [&](const Field& f) { pkg.vendorNames = Strings(f, "vendor names"); });
    member(sistype::Version, "version", read.version, [&](const Field& f) { pkg.version = ReadVersion(b_, f.index); });
    const Field created = member(sistype::DateTime, "creation time", read.created,
                                 [&](const Field& f) { ReadCreated(f, pkg.created); });
    // The type and flag bytes follow the creation time; without it their place is unknown.
    p = created.end;
    read.installType = read.created && p < il;
    pkg.installType = read.installType ? b_.At(p) : 0;
    ++p;
    pkg.installFlags = read.installType && p < il ? b_.At(p) : 0;
    pos = info.next;
  }

  void ReadCreated(const Field& f, model::DateTime& created) const {
    Field date = ReadField(b_, f.index, f.end);
    created.year = static_cast<std::uint16_t>(ReadLE(b_, date.index, 2));
    created.month0 = b_.At(date.index + 2);
    created.day = b_.At(date.index + 3);
    Field time = ReadField(b_, date.next, f.end);
    created.hour = b_.At(time.index);
    created.minute = b_.At(time.index + 1);
    created.second = b_.At(time.index + 2);
  }

  void ReadOptions(const Field& f, Pos& pos, Package& pkg) {
    Field array = ReadField(b_, f.index, f.end);
    if (array.type == sistype::Array)
      ForEachElement(array, "options", [&](const Field& e) {
        pkg.options.push_back(Strings(ReadField(b_, e.index, e.end), "option names"));
      });
    if (!f.ok) Fail("options", f.start);
    pos = f.next;
  }

  void ReadLanguages(const Field& f, Pos& pos, Package& pkg) {
    Field array = ReadField(b_, f.index, f.end);
    if (array.type == sistype::Array)
      ForEachElement(array, "languages", [&](const Field& e) { pkg.languages.push_back(Word(b_, e.index)); });
    if (!f.ok) Fail("languages", f.start);
    pos = f.next;
  }

  // SISPrerequisites: the target devices, then the dependencies.
  void ReadPrerequisites(const Field& f, Pos& pos, Package& pkg) {
    Pos q = f.index;
    for (int list = 0; list < 2; ++list) {
      Field array = ReadField(b_, q, f.end);
      if (array.type != sistype::Array) {
        Fail("prerequisites", q);
        break;
      }
      std::vector<model::Dependency>& out = list == 0 ? pkg.targetDevices : pkg.dependencies;
      ForEachElement(array, "prerequisites", [&](const Field& e) {
        out.push_back(ReadDependency(e, list == 0 ? "target device names" : "dependency names"));
      });
      q = array.next;
    }
    if (!f.ok) Fail("prerequisites", f.start);
    pos = f.next;
  }

  model::Dependency ReadDependency(const Field& e, const char* names) {
    model::Dependency dep;
    Field uid = ReadField(b_, e.index, e.end);
    dep.uid = Word(b_, uid.index);
    Field range = ReadField(b_, uid.next, e.end);
    Field nameArray = range;
    if (range.type == sistype::VersionRange) {
      model::VersionRange versions;
      Field from = ReadField(b_, range.index, range.end);
      versions.from = ReadVersion(b_, from.index);
      if (from.next < range.end) {
        Field to = ReadField(b_, from.next, range.end);
        if (to.type == sistype::Version) versions.to = ReadVersion(b_, to.index);
      }
      dep.versions = versions;
      nameArray = ReadField(b_, range.next, e.end);
    }
    dep.names = Strings(nameArray, names);
    return dep;
  }

  void ReadProperties(const Field& f, Pos& pos, Package& pkg) {
    Field array = ReadField(b_, f.index, f.end);
    if (array.type == sistype::Array)
      ForEachElement(array, "properties", [&](const Field& e) {
        pkg.properties.push_back(
            {static_cast<std::int32_t>(Word(b_, e.index)), static_cast<std::int32_t>(Word(b_, e.index + 4))});
      });
    if (!f.ok) Fail("properties", f.start);
    pos = f.next;
  }

  void ReadInstallBlock(const Field& block, InstallBlock& out) {
    // Install blocks nest through condition blocks and embedded packages; the whole nesting
    // is bounded, so that no package can exhaust the stack.
    if (blockNesting_ >= kMaxBlockDepth) {
      Fail("condition blocks nested too deep", block.start);
      return;
    }
    ++blockNesting_;
    ReadBlockMembers(block, out);
    --blockNesting_;
  }

  void ReadBlockMembers(const Field& block, InstallBlock& out) {
    if (!block.ok) Fail("install block", block.start);
    const Pos lim = block.ok ? block.end : block.next;

    Field files = ReadField(b_, block.index, lim);
    if (files.type != sistype::Array) {
      Fail("install block", block.start);
      return;
    }
    out.files.reserve(CountElements(b_, files, kMinFileDescription));
    ForEachElement(files, "file description", [&](const Field& e) {
      // Read in place: a description that turns out incomplete is taken back.
      if (!ReadFileDesc(b_, e.index, e.end, out.files.emplace_back())) {
        out.files.pop_back();
        Fail("file description", e.start);
      }
    });

    Field controllers = ReadField(b_, files.next, lim);
    if (controllers.type != sistype::Array) {
      Fail("install block", files.next);
      return;
    }
    ForEachElement(controllers, "embedded package", [&](const Field& e) {
      Package child;
      if (ReadController(e.index, e.end, child)) out.embedded.push_back(std::move(child));
    });

    Field ifs = ReadField(b_, controllers.next, lim);
    if (ifs.type != sistype::Array) {
      Fail("install block", controllers.next);
      return;
    }
    ForEachElement(ifs, "condition", [&](const Field& e) { ReadIf(e, out); });
  }

  // Reads a branch: its condition (the expression field at `expr`) and the block after it.
  void ReadBranch(const Field& expr, Pos limit, model::ConditionalBlock& branch) {
    branch.condition = ReadCondition(expr.start, limit);
    Field block = ReadField(b_, expr.next, limit);
    if (block.type == sistype::InstallBlock)
      ReadInstallBlock(block, branch.block.emplace());
    else
      Fail("install block", block.start);
  }

  void ReadIf(const Field& element, InstallBlock& out) {
    Field expr = ReadField(b_, element.index, element.end);
    if (expr.type != sistype::Expression || !expr.ok) {
      Fail("condition", element.start);
      return;
    }
    model::IfBlock ifBlock;
    ReadBranch(expr, element.end, ifBlock.branch);
    const Pos afterBlock = ReadField(b_, expr.next, element.end).next;
    Field elseIfs = ReadField(b_, afterBlock, element.end);
    if (elseIfs.type == sistype::Array) {
      ForEachElement(elseIfs, "condition", [&](const Field& e) {
        Field x = ReadField(b_, e.index, e.end);
        if (x.type == sistype::Expression && x.ok)
          ReadBranch(x, e.end, ifBlock.elseIfs.emplace_back());
        else
          Fail("condition", e.start);
      });
    } else {
      Fail("condition", afterBlock);
    }
    out.ifs.push_back(std::move(ifBlock));
  }

  Expression ReadCondition(Pos exprPos, Pos limit) {
    Expression root;
    Pos next = 0;
    tooDeep_ = false;
    if (!ReadExpression(exprPos, limit, 0, root, next)) {
      if (tooDeep_) {
        // Half a condition would read as another one: none is given, and the problem says why.
        root = Expression{};
        Fail(model::kConditionTooDeep, exprPos);
      } else {
        Fail("condition", exprPos);
      }
    }
    return root;
  }

  static int Arity(ExprOp op) {
    switch (op) {
      case ExprOp::Equal: case ExprOp::NotEqual: case ExprOp::Greater: case ExprOp::Less:
      case ExprOp::GreaterOrEqual: case ExprOp::LessOrEqual: case ExprOp::And: case ExprOp::Or:
      case ExprOp::AppProperty:
        return 2;
      case ExprOp::Not: case ExprOp::Package:
        return 1;
      default:
        return 0;
    }
  }

  // Reads the expression field at `pos`; false when it is not one (or is damaged). The node
  // keeps whatever was read before the damage; `next` is where its next sibling begins.
  // `depth` counts real nesting only: a chain of one operator (a AND b AND c ..., nested to
  // either side) is read without going deeper, into one node with all its operands.
  bool ReadExpression(Pos pos, Pos limit, int depth, Expression& node, Pos& next) {
    Field f = ReadField(b_, pos, limit);
    if (f.type != sistype::Expression || !f.ok || f.length < 8) return false;
    if (depth > kMaxExpressionDepth) {
      tooDeep_ = true;
      return false;
    }
    const std::uint32_t code = Word(b_, f.index);
    node.value = Word(b_, f.index + 4);
    next = f.next;
    if (code < 1 || code > kMaxExprCode) {
      node.unknownOp = code;
      return false;
    }
    node.op = static_cast<ExprOp>(code);
    if (node.op == ExprOp::And || node.op == ExprOp::Or) return ReadChain(f, depth, node);
    Pos p = f.index + 8;
    if (node.op == ExprOp::Exists || node.op == ExprOp::String) {
      Field s = ReadField(b_, p, f.end);
      if (s.type != sistype::String || !s.ok) return false;
      node.text = FieldText(b_, s);
      p = s.next;
    }
    for (int i = 0; i < Arity(node.op); ++i) {
      if (!ReadOperand(p, f.end, depth, node, p)) return false;
    }
    return true;
  }

  // Reads one operand at `p` into `node`; `next` is where the following one begins.
  bool ReadOperand(Pos p, Pos limit, int depth, Expression& node, Pos& next) {
    Expression child;
    Pos childNext = 0;
    const bool ok = ReadExpression(p, limit, depth + 1, child, childNext);
    const bool kept = ok || child.op != ExprOp::None || child.unknownOp != 0;
    if (kept) node.operands.push_back(std::move(child));
    next = childNext;
    return ok;
  }

  // The operands of an AND or OR field `f`, with every operand of the same operator opened in
  // place: a work list of (position, limit) pairs, leftmost first, instead of recursion.
  bool ReadChain(const Field& f, int depth, Expression& node) {
    std::vector<std::pair<Pos, Pos>> pending;  // a stack: the next operand is at the back
    auto pushOperands = [&](const Field& chain) {
      const Field first = ReadField(b_, chain.index + 8, chain.end);
      const Pos second = first.ok ? first.next : chain.end;
      pending.emplace_back(second, chain.end);
      pending.emplace_back(chain.index + 8, chain.end);
    };
    pushOperands(f);
    while (!pending.empty()) {
      const auto [p, limit] = pending.back();
      pending.pop_back();
      const Field x = ReadField(b_, p, limit);
      if (x.type == sistype::Expression && x.ok && x.length >= 8 && Word(b_, x.index) == static_cast<std::uint32_t>(node.op)) {
        pushOperands(x);
        continue;
      }
      Pos unused = 0;
      if (!ReadOperand(p, limit, depth, node, unused)) return false;
    }
    return true;
  }

  void ReadSignatureChain(const Field& field, Package& pkg) {
    model::SignatureChain chain;
    chain.offset = field.start;
    Field signatures = ReadField(b_, field.index, field.end);
    if (signatures.type == sistype::Array) {
      if (!signatures.ok) Fail("signatures", signatures.start);
      for (Pos p = signatures.index + 4; p < signatures.end && chain.signatures.size() < kMaxSignatures;) {
        Field e = ReadElement(b_, p, signatures.end);
        if (!e.ok) {
          Fail("signature", p);
          break;
        }
        // An element without an algorithm field is no signature (an array length that
        // runs on into the certificates, for one): the list ends there.
        Field algorithm = ReadField(b_, e.index, e.end);
        if (algorithm.type != sistype::SignatureAlgorithm) {
          Fail("signature", e.start);
          break;
        }
        model::SignatureChain::Signature sig;
        Field oid = ReadField(b_, algorithm.index, algorithm.end);
        if (oid.type == sistype::String && oid.ok && algorithm.ok)
          sig.algorithm = FieldText(b_, oid);
        else
          Fail("signature algorithm", algorithm.start);
        Field blob = ReadField(b_, algorithm.next, e.end);
        if (blob.type == sistype::Blob) sig.signature = FieldBytes(b_, blob);
        chain.signatures.push_back(std::move(sig));
        p = e.next;
      }
    }
    Field certificates = ReadField(b_, signatures.next, field.end);
    if (certificates.type == sistype::CertificateChain) {
      Field blob = ReadField(b_, certificates.index, certificates.end);
      if (blob.type == sistype::Blob) chain.certificates = SplitCertificates(FieldBytes(b_, blob));
    }
    pkg.signatures.push_back(std::move(chain));
  }

  ByteView b_;
  std::vector<Problem>& problems_;
  int ordinal_ = 0;
  int controllerDepth_ = 0;
  int blockNesting_ = 0;
  bool tooDeep_ = false;  // the condition being read nests deeper than kMaxExpressionDepth
};

// Absolute data units: the data index of a controller counts from its parent's unit. A unit
// beyond the 32-bit range names no unit of the data section and is kept as 0.
void SetUnits(InstallBlock& block, std::uint64_t unit);
void SetUnits(Package& pkg, std::uint64_t unit) {
  pkg.dataUnit = unit > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(unit);
  SetUnits(pkg.body, unit);
  for (InstallBlock& b : pkg.laterBlocks) SetUnits(b, unit);
}
void SetUnits(InstallBlock& block, std::uint64_t unit) {
  for (Package& p : block.embedded) SetUnits(p, unit + p.dataIndex);
  for (model::IfBlock& i : block.ifs) {
    if (i.branch.block) SetUnits(*i.branch.block, unit);
    for (model::ConditionalBlock& e : i.elseIfs)
      if (e.block) SetUnits(*e.block, unit);
  }
}

// Reads the data section (an array of units, each an array of file data fields) into
// `main.data`, one entry per stored file. A section cut short by the end of the file keeps
// every entry that begins before the cut (the stored bytes of the last may run past it);
// true when it was cut.
bool ReadData(ByteView b, Pos dataFieldPos, Package& main) {
  const Pos pos = AlignUp(dataFieldPos);
  Field data = ReadField(b, pos, b.Size());
  auto fail = [&main](Pos where) {
    main.problems.push_back({Problem::Kind::Damaged, "file data", where, 0});
  };
  if (data.type != sistype::Data) {
    fail(pos);
    return false;
  }
  if (!data.ok) fail(pos);
  const Pos dataEnd = data.ok ? data.end : b.Size();
  Field units = ReadField(b, data.index, dataEnd);
  if (units.type != sistype::Array) {
    fail(data.index);
    return !data.ok;
  }
  for (Pos p = units.index + 4; p < units.end;) {
    Field u = ReadElement(b, p, units.end);
    if (!u.ok && (data.ok || u.index >= units.end)) {
      fail(p);
      break;
    }
    std::vector<model::StoredFile>& unit = main.data.emplace_back();
    Field files = ReadField(b, u.index, u.end);
    if (files.type == sistype::Array) unit.reserve(CountElements(b, files));
    for (Pos q = files.index + 4; files.type == sistype::Array && q < files.end;) {
      Field fd = ReadElement(b, q, files.end);
      if (!fd.ok && (data.ok || fd.index >= files.end)) {
        fail(q);
        break;
      }
      model::StoredFile& stored = unit.emplace_back();
      Field comp = ReadField(b, fd.index, fd.end);
      stored.present = comp.type == sistype::Compressed;
      if (stored.present) {
        stored.offset = comp.index + 12;
        stored.compression = Word(b, comp.index);
        stored.uncompressedSize = ReadLE(b, comp.index + 4, 8);
        stored.length = static_cast<std::uint64_t>(std::max<Pos>(comp.length - 12, 0));
      }
      if (!fd.ok) break;  // cut: nothing follows
      q = fd.next;
    }
    if (!u.ok) break;
    p = u.next;
  }
  return !data.ok;
}

// Gives every carried file the position and the compression of its stored bytes. In a data
// section cut short (`cutAt`, the file's end; -1 when whole), a file whose entry was not
// reached, or whose bytes run past the cut, is marked as lying past it (and has no data).
void Resolve(const std::vector<std::vector<model::StoredFile>>& data, FileEntry& e, std::uint32_t unit, Pos cutAt) {
  if (e.operation == kNullOperation) return;
  const bool found = unit >= 1 && unit <= data.size() && e.index < data[unit - 1].size() && data[unit - 1][e.index].present;
  if (!found) {
    e.pastCut = cutAt >= 0;
    return;
  }
  const model::StoredFile& stored = data[unit - 1][e.index];
  e.compression = stored.compression;
  // Bytes that run past the cut are not the file's: it has none in this package.
  e.pastCut = cutAt >= 0 && (stored.offset > cutAt || stored.length > static_cast<std::uint64_t>(cutAt - stored.offset));
  if (!e.pastCut) e.dataOffset = stored.offset;
}
using DataUnits = std::vector<std::vector<model::StoredFile>>;
void ResolveBlock(const DataUnits& data, InstallBlock& block, std::uint32_t unit, Pos cutAt);
void ResolvePackage(const DataUnits& data, Package& pkg, Pos cutAt) {
  if (pkg.logo) Resolve(data, *pkg.logo, pkg.dataUnit, cutAt);
  ResolveBlock(data, pkg.body, pkg.dataUnit, cutAt);
  for (InstallBlock& b : pkg.laterBlocks) ResolveBlock(data, b, pkg.dataUnit, cutAt);
}
void ResolveBlock(const DataUnits& data, InstallBlock& block, std::uint32_t unit, Pos cutAt) {
  for (FileEntry& f : block.files) Resolve(data, f, unit, cutAt);
  for (Package& p : block.embedded) ResolvePackage(data, p, cutAt);
  for (model::IfBlock& i : block.ifs) {
    if (i.branch.block) ResolveBlock(data, *i.branch.block, unit, cutAt);
    for (model::ConditionalBlock& e : i.elseIfs)
      if (e.block) ResolveBlock(data, *e.block, unit, cutAt);
  }
}

std::string FileBaseName(const std::string& path) {
  const std::size_t p = path.find_last_of("/\\");
  return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace

namespace {

// Where the frame's fields were found.
struct FrameRead {
  Pos dataStart = 0;       // the controller's stored bytes
  Pos compressedPos = 0;   // its SISCompressed field
  Pos dataFieldPos = -1;   // the data field after it, when the field was read
};

// The frame of a whole package: UIDs, checksums and the controller's SISCompressed field.
FrameRead ReadFrame(const ByteView& file, Package& pkg) {
  FrameRead out;
  Pos& dataFieldPos = out.dataFieldPos;
  model::Frame& frame = pkg.frame.emplace();
  frame.uid1 = Word(file, 0);
  frame.uid2 = Word(file, 4);
  frame.uid3 = Word(file, 8);
  frame.uidChecksum = Word(file, 12);

  const Pos fileEnd = file.Size();
  Field contents = ReadField(file, 16, fileEnd);
  const Pos contentsEnd = contents.ok ? contents.end : fileEnd;
  Pos pos = contents.index;
  if (Word(file, pos) == sistype::ControllerChecksum) {
    Field f = ReadField(file, pos, contentsEnd);
    frame.controllerChecksum = Word(file, f.index);
    pos = f.next;
  }
  if (Word(file, pos) == sistype::DataChecksum) {
    Field f = ReadField(file, pos, contentsEnd);
    frame.dataChecksum = Word(file, f.index);
    pos = f.next;
  }
  Pos dataStart = 0;
  out.compressedPos = pos;
  if (Word(file, pos) == sistype::Compressed) {
    Field f = ReadField(file, pos, fileEnd);
    frame.hasCompressedController = true;
    frame.controllerAlgorithm = Word(file, f.index);
    frame.controllerCompressedSize = std::max<Pos>(f.length - 12, 0);
    frame.controllerUncompressedSize = ReadLE(file, f.index + 4, 8);
    dataStart = f.index + 12;
    if (!f.ok) pkg.problems.push_back({Problem::Kind::Damaged, "controller", pos, 0});
    pos = f.next;
    dataFieldPos = pos;
  } else {
    pkg.problems.push_back({Problem::Kind::Damaged, "controller", pos, 0});
  }

  frame.controllerOffset = out.dataStart = dataStart;
  return out;
}

// Inflates the controller the frame describes into `controller`; false when there is none
// to read (what went wrong is among the package's problems).
bool InflateController(std::span<const std::uint8_t> bytes, Package& pkg, Pos compressedPos, Bytes& controller) {
  const model::Frame& frame = *pkg.frame;
  bool haveController = false;
  // The controller is read into a buffer of its own, which the package keeps.
  const std::uint64_t declared = frame.controllerUncompressedSize;
  // Room up front spares the copies of a growing buffer (which would hold the old and the
  // new buffer at once). A declared size is a claim, and a claim must not cost memory: the
  // room is reserved only within the controller ceiling, and pages that the stream never
  // fills are never touched.
  const std::uint64_t declared32 = declared & 0xFFFFFFFFu;
  try {
    if (declared32 <= ControllerCeiling(bytes.size())) controller.reserve(static_cast<std::size_t>(declared32));
  } catch (const std::bad_alloc&) {
  }
  bool noMemory = false;
  std::uint64_t produced = 0;
  int status = ReadControllerBytes(bytes, frame, AppendTo(controller, noMemory), &produced);
  if (noMemory) status = zstatus::MemError;
  if (status == kControllerTooLarge) {
    pkg.problems.push_back({Problem::Kind::Damaged,
                            "controller of " + std::to_string(declared & 0xFFFFFFFFu) + " bytes (more than the " +
                                std::to_string(ControllerCeiling(bytes.size())) +
                                " bytes a package of this size may have)",
                            compressedPos, 0});
  } else if (status != zstatus::Ok) {
    Bytes().swap(controller);
    pkg.problems.push_back({Problem::Kind::Inflate, "controller", compressedPos, status});
  } else {
    haveController = true;
    const bool stored =
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(frame.controllerCompressedSize)) == declared;
    if (!stored && produced < (declared & 0xFFFFFFFFu)) {
      // The stream ends before the size its frame declares: what it holds is read.
      pkg.problems.push_back({Problem::Kind::Damaged,
                              "the controller's declared size (it inflates to " + std::to_string(produced) +
                                  " of " + std::to_string(declared & 0xFFFFFFFFu) + " bytes)",
                              compressedPos, 0});
    }
  }
  return haveController;
}

}  // namespace

model::Package ParsePackage(std::span<const std::uint8_t> bytes, const std::string& name) {
  const ByteView file(bytes);
  Package pkg;
  pkg.generation = model::Generation::Sis9;
  pkg.name = FileBaseName(name);
  pkg.stub = Word(file, 0) == sistype::Controller && file.HasRange(0, 4);

  bool haveController = pkg.stub;
  Bytes controller;
  Pos dataFieldPos = -1;
  if (!pkg.stub) {
    std::uint32_t uid1 = 0;
    if (!ReadU32(file, 0, uid1) || uid1 != kUid1) {
      pkg.problems.push_back({Problem::Kind::NotAPackage, "package", 0, 0});
      return pkg;
    }
    const FrameRead frame = ReadFrame(file, pkg);
    dataFieldPos = frame.dataFieldPos;
    haveController = InflateController(bytes, pkg, frame.compressedPos, controller);
  }
  if (!haveController) return pkg;

  const ByteView ctl = pkg.stub ? ByteView(bytes) : ByteView(controller);
  if (Word(ctl, 0) == sistype::Controller && ctl.HasRange(0, 8)) {
    Field field = ReadField(ctl, 0, ctl.Size());
    const Pos end = field.ok ? field.end : ctl.Size();
    if (!field.ok) pkg.problems.push_back({Problem::Kind::Damaged, "controller", 0, 0});
    ControllerParser parser(ctl, pkg.problems);
    parser.ReadController(field.index, end, pkg);
  }
  if (!pkg.stub) pkg.controller = std::make_shared<const Bytes>(std::move(controller));
  if (!pkg.controllerRead) return pkg;

  SetUnits(pkg, 1);
  if (!pkg.stub && dataFieldPos >= 0) {
    const bool cut = ReadData(file, dataFieldPos, pkg);
    ResolvePackage(pkg.data, pkg, cut ? file.Size() : -1);
  }
  return pkg;
}

int ReadControllerBytes(std::span<const std::uint8_t> bytes, const model::Frame& frame, const InflateSink& sink,
                        std::uint64_t* produced) {
  const ByteView file(bytes);
  const std::uint64_t declared = frame.controllerUncompressedSize;
  const std::uint64_t declared32 = declared & 0xFFFFFFFFu;
  const std::int64_t compressedSize = frame.controllerCompressedSize;
  const Pos dataStart = frame.controllerOffset;
  std::uint64_t given = 0;
  if (produced) *produced = 0;
  // The controller is stored deflated unless its two sizes agree.
  const bool stored = static_cast<std::uint64_t>(static_cast<std::uint32_t>(compressedSize)) == declared;
  std::size_t len = 0;
  if (dataStart >= 0 && dataStart < file.Size() && compressedSize > 0)
    len = static_cast<std::size_t>(std::min<Pos>(compressedSize, file.Size() - dataStart));
  // A size deflate cannot give is corrupt data; a possible one beyond what real controllers
  // need (kilobytes to a few megabytes) is not read at all.
  if (!stored && declared > MaxInflatedSize(len)) return zstatus::DataError;
  if (declared32 > ControllerCeiling(static_cast<std::uint64_t>(file.Size()))) return kControllerTooLarge;
  if (stored) {
    const Pos from = std::max<Pos>(dataStart, 0);
    const Pos to = std::min<Pos>(AddPos(dataStart, static_cast<Pos>(declared32)), file.Size());
    if (declared32 > 0 && to > from) {
      if (!sink(file.Ptr(from), static_cast<std::size_t>(to - from))) return zstatus::Stopped;
      given = static_cast<std::uint64_t>(to - from);
    }
    if (produced) *produced = given;
    return zstatus::Ok;
  }
  // The controller is the declared size taken as 32 bits: what the stream gives beyond it is
  // inflated (the stream must still be sound) but not handed on. A stream that gives less
  // is handed on as it is: a declared size is a claim, never padded to.
  const int status = InflateTo(len ? file.Ptr(dataStart) : nullptr, len, declared,
                               [&](const std::uint8_t* data, std::size_t size) {
                                 const std::uint64_t room = declared32 > given ? declared32 - given : 0;
                                 const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(size, room));
                                 given += n;
                                 return n == 0 || sink(data, n);
                               });
  if (produced) *produced = given;
  return status;
}

}  // namespace tarvik::sis9
