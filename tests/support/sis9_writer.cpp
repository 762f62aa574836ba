#include "support/sis9_writer.hpp"

#include <openssl/sha.h>

#include <stdexcept>

#include "bytes/encoding.hpp"
#include "bytes/inflate.hpp"

namespace tarvik::test::sis9w {

// ---------------------------------------------------------------------------------------
// Expressions.

Expr Num(std::int32_t v) { return Expr{NUMBER, v, {}, {}, {}}; }
Expr Var(std::int32_t attribute) { return Expr{VARIABLE, attribute, {}, {}, {}}; }
Expr Lang() { return Var(0x1000); }
Expr Option(std::int32_t n) { return Expr{OPTION, n, {}, {}, {}}; }
Expr Exists(const std::string& path) { return Expr{EXISTS, 0, path, {}, {}}; }
Expr Str(const std::string& s) { return Expr{STRING, 0, s, {}, {}}; }
Expr Package(std::uint32_t uid) { return Expr{PACKAGE, 0, {}, {Num(static_cast<std::int32_t>(uid))}, {}}; }
Expr AppProp(std::uint32_t uid, std::int32_t key) {
  return Expr{APPPROP, 0, {}, {Num(static_cast<std::int32_t>(uid)), Num(key)}, {}};
}
Expr Not(Expr a) { return Expr{NOT, 0, {}, {std::move(a)}, {}}; }
Expr Bin(std::uint32_t op, Expr a, Expr b) { return Expr{op, 0, {}, {std::move(a), std::move(b)}, {}}; }
Expr And(Expr a, Expr b) { return Bin(AND, std::move(a), std::move(b)); }
Expr Or(Expr a, Expr b) { return Bin(OR, std::move(a), std::move(b)); }
Expr Eq(Expr a, Expr b) { return Bin(EQ, std::move(a), std::move(b)); }
Expr Else() { return Not(Num(0)); }

// ---------------------------------------------------------------------------------------
// Byte helpers.

namespace {

void U8(Bytes& out, std::uint32_t v) { out.push_back(static_cast<std::uint8_t>(v)); }
void U16(Bytes& out, std::uint32_t v) {
  U8(out, v);
  U8(out, v >> 8);
}
void U32(Bytes& out, std::uint32_t v) {
  U16(out, v & 0xFFFF);
  U16(out, v >> 16);
}
void U64(Bytes& out, std::uint64_t v) {
  U32(out, static_cast<std::uint32_t>(v));
  U32(out, static_cast<std::uint32_t>(v >> 32));
}
void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }
void Pad(Bytes& out) {
  while (out.size() % 4) out.push_back(0);
}

Bytes Element(const Bytes& value) {
  Bytes out;
  U32(out, static_cast<std::uint32_t>(value.size()));
  Append(out, value);
  Pad(out);
  return out;
}

Bytes ArrayField(std::uint32_t elementType, const std::vector<Bytes>& values) {
  Bytes v;
  U32(v, elementType);
  for (const Bytes& e : values) Append(v, Element(e));
  return FieldBytes(0x02, v);
}

Bytes Utf16(const std::string& s) {
  std::string u = Utf8ToUtf16Le(s);
  return Bytes(u.begin(), u.end());
}

Bytes StringField(const std::string& s) { return FieldBytes(0x01, Utf16(s)); }

Bytes StringArray(const std::vector<std::string>& items) {
  std::vector<Bytes> values;
  for (const std::string& s : items) values.push_back(Utf16(s));
  return ArrayField(0x01, values);
}

Bytes VersionField(const Version& v) {
  Bytes b;
  U32(b, static_cast<std::uint32_t>(v.major));
  U32(b, static_cast<std::uint32_t>(v.minor));
  U32(b, static_cast<std::uint32_t>(v.build));
  return FieldBytes(0x04, b);
}

Bytes U32Field(std::uint32_t type, std::uint32_t v) {
  Bytes b;
  U32(b, v);
  return FieldBytes(type, b);
}

std::uint16_t Crc16(const Bytes& data) {
  std::uint16_t crc = 0;
  for (std::uint8_t byte : data) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int i = 0; i < 8; ++i) crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021) : static_cast<std::uint16_t>(crc << 1);
  }
  return crc;
}

Bytes ExprField(const Expr& e) {
  if (e.raw) return *e.raw;
  Bytes v;
  U32(v, e.op);
  U32(v, static_cast<std::uint32_t>(e.value));
  if (e.text) Append(v, StringField(*e.text));
  for (const Expr& o : e.operands) Append(v, ExprField(o));
  return FieldBytes(0x1D, v);
}

// One data unit per controller, holding its files by index.
struct Unit {
  std::vector<const File*> files;
};

class Builder {
 public:
  // Gives every controller its data unit and data index, and every file its index and
  // stored bytes.
  void Prepare(Controller& c, std::uint32_t parentUnit) {
    const auto unit = static_cast<std::uint32_t>(units_.size());
    units_.emplace_back();
    if (!c.dataIndex) c.dataIndex = unit - parentUnit;
    if (c.logo) AddFile(*c.logo, unit);
    PrepareBlock(c.files, c.embedded, c.ifs, unit);
    std::vector<If> none;
    PrepareBlock(c.filesAfterChains, c.embeddedAfterChains, none, unit);
  }

  Bytes ControllerValue(const Controller& c) const {
    Bytes v;
    // SISInfo.
    Bytes info;
    Append(info, U32Field(0x09, c.uid));
    Append(info, StringField(c.vendorUnique));
    Append(info, StringArray(c.names));
    Append(info, StringArray(c.vendors));
    Append(info, VersionField(c.version));
    Bytes date, time, dt;
    U16(date, static_cast<std::uint32_t>(c.year));
    U8(date, static_cast<std::uint32_t>(c.month0));
    U8(date, static_cast<std::uint32_t>(c.day));
    U8(time, static_cast<std::uint32_t>(c.hour));
    U8(time, static_cast<std::uint32_t>(c.minute));
    U8(time, static_cast<std::uint32_t>(c.second));
    Append(dt, FieldBytes(0x06, date));
    Append(dt, FieldBytes(0x07, time));
    Append(info, FieldBytes(0x08, dt));
    U8(info, c.type);
    if (c.flags) U8(info, *c.flags);
    Append(v, FieldBytes(0x0E, info));
    // Options.
    std::vector<Bytes> options;
    for (const auto& names : c.options) options.push_back(StringArray(names));
    Append(v, FieldBytes(0x10, ArrayField(0x21, options)));
    // Languages.
    std::vector<Bytes> langs;
    for (std::uint32_t l : c.languages) {
      Bytes b;
      U32(b, l);
      langs.push_back(b);
    }
    Append(v, FieldBytes(0x0F, ArrayField(0x0B, langs)));
    // Prerequisites.
    Bytes pre;
    Append(pre, ArrayField(0x12, Dependencies(c.targets)));
    Append(pre, ArrayField(0x12, Dependencies(c.dependencies)));
    Append(v, FieldBytes(0x11, pre));
    // Properties.
    std::vector<Bytes> props;
    for (const auto& [key, value] : c.properties) {
      Bytes b;
      U32(b, static_cast<std::uint32_t>(key));
      U32(b, static_cast<std::uint32_t>(value));
      props.push_back(b);
    }
    Append(v, FieldBytes(0x13, ArrayField(0x14, props)));
    if (c.logo) Append(v, FieldBytes(0x17, FieldBytes(0x18, Description(*c.logo))));
    Append(v, Block(c.files, c.embedded, c.ifs));
    for (int i = 0; i < c.signatureChains; ++i) Append(v, SignatureChain(i));
    for (const Chain& chain : c.chains) Append(v, GivenChain(chain));
    if (!c.filesAfterChains.empty() || !c.embeddedAfterChains.empty())
      Append(v, Block(c.filesAfterChains, c.embeddedAfterChains, {}));
    Append(v, U32Field(0x28, c.dataIndex.value_or(0)));
    return v;
  }

  Bytes DataField() const {
    std::vector<Bytes> units;
    for (const Unit& u : units_) {
      std::vector<Bytes> files;
      for (const File* f : u.files) {
        Bytes comp;
        if (f) {
          U32(comp, f->deflate ? 1 : 0);
          U64(comp, f->data.size());
          Append(comp, f->stored);
        } else {
          U32(comp, 0);
          U64(comp, 0);
        }
        files.push_back(FieldBytes(0x03, comp));
      }
      units.push_back(ArrayField(0x20, files));
    }
    return FieldBytes(0x1E, ArrayField(0x1F, units));
  }

 private:
  void AddFile(File& f, std::uint32_t unit) {
    if (f.op == 8) {
      f.index = f.fileIndex.value_or(0);
      return;
    }
    auto& files = units_[unit].files;
    f.index = f.fileIndex.value_or(static_cast<std::uint32_t>(files.size()));
    if (files.size() <= f.index) files.resize(f.index + 1, nullptr);
    files[f.index] = &f;
    if (f.deflate) {
      if (Compress(f.data.data(), f.data.size(), f.stored) != 0) throw std::runtime_error("deflate failed");
    } else {
      f.stored = f.data;
    }
  }

  void PrepareBlock(std::vector<File>& files, std::vector<Controller>& embedded, std::vector<If>& ifs,
                    std::uint32_t unit) {
    for (File& f : files) AddFile(f, unit);
    for (Controller& c : embedded) Prepare(c, unit);
    for (If& i : ifs) {
      PrepareBlock(i.files, i.embedded, i.ifs, unit);
      for (ElseIf& e : i.elseIfs) PrepareBlock(e.files, e.embedded, e.ifs, unit);
    }
  }

  static std::vector<Bytes> Dependencies(const std::vector<Dependency>& deps) {
    std::vector<Bytes> out;
    for (const Dependency& d : deps) {
      Bytes v;
      Append(v, U32Field(0x09, d.uid));
      Bytes range = VersionField(d.from);
      if (d.to) Append(range, VersionField(*d.to));
      Append(v, FieldBytes(0x05, range));
      Append(v, StringArray(d.names));
      out.push_back(v);
    }
    return out;
  }

  static Bytes Description(const File& f) {
    Bytes v;
    Append(v, StringField(f.target));
    Append(v, StringField(f.mime));
    if (f.caps) Append(v, U32Field(0x29, *f.caps));
    Bytes hash;
    U32(hash, f.hashAlgorithm);
    Bytes digest;
    if (f.hash) {
      digest = *f.hash;
    } else if (f.op != 8) {
      digest.resize(SHA_DIGEST_LENGTH);
      SHA1(f.data.data(), f.data.size(), digest.data());
    }
    Append(hash, FieldBytes(0x25, digest));
    Append(v, FieldBytes(0x19, hash));
    U32(v, f.op);
    U32(v, f.options);
    U64(v, f.op == 8 ? 0 : f.stored.size());
    U64(v, f.op == 8 ? 0 : f.data.size());
    U32(v, f.index);
    return v;
  }

  Bytes Block(const std::vector<File>& files, const std::vector<Controller>& embedded,
              const std::vector<If>& ifs) const {
    std::vector<Bytes> descs, ctrls, ifValues;
    for (const File& f : files) descs.push_back(Description(f));
    for (const Controller& c : embedded) ctrls.push_back(ControllerValue(c));
    for (const If& i : ifs) {
      Bytes v;
      Append(v, ExprField(i.cond));
      Append(v, Block(i.files, i.embedded, i.ifs));
      std::vector<Bytes> elseIfs;
      for (const ElseIf& e : i.elseIfs) {
        Bytes ev;
        Append(ev, ExprField(e.cond));
        Append(ev, Block(e.files, e.embedded, e.ifs));
        elseIfs.push_back(ev);
      }
      Append(v, ArrayField(0x1B, elseIfs));
      ifValues.push_back(v);
    }
    Bytes v;
    Append(v, ArrayField(0x18, descs));
    Append(v, ArrayField(0x0D, ctrls));
    Append(v, ArrayField(0x1A, ifValues));
    return FieldBytes(0x1C, v);
  }

  // A signature chain whose blobs hold words that look like records of the body.
  static Bytes SignatureChain(int n) {
    Bytes blob;
    for (std::uint32_t w : {0x1Au, 0x20u, 0x1Du, 0x10u, 0x1Cu, 0x0Eu, 0x0Cu, 0x09u, 0x28u, 0x04u})
      U32(blob, w + static_cast<std::uint32_t>(n));
    Bytes sig;
    Append(sig, FieldBytes(0x26, StringField("1.2.840.113549.1.1.5")));
    Append(sig, FieldBytes(0x25, blob));
    Bytes v;
    Append(v, ArrayField(0x24, {sig}));
    Append(v, FieldBytes(0x16, FieldBytes(0x25, blob)));
    return FieldBytes(0x27, v);
  }

  static Bytes GivenChain(const Chain& chain) {
    Bytes sig;
    Append(sig, FieldBytes(0x26, StringField(chain.oid)));
    Bytes blobField = FieldBytes(0x25, chain.signature);
    if (chain.signatureLength) {
      const std::uint32_t n = *chain.signatureLength;
      for (int i = 0; i < 4; ++i) blobField[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (8 * i));
    }
    Append(sig, blobField);
    Bytes certs;
    for (const Bytes& c : chain.certificates) Append(certs, c);
    Bytes v;
    Append(v, ArrayField(0x24, {sig}));
    Append(v, FieldBytes(0x16, FieldBytes(0x25, certs)));
    return FieldBytes(0x27, v);
  }

  std::vector<Unit> units_;
};

}  // namespace

Bytes FieldBytes(std::uint32_t type, const Bytes& value) {
  Bytes out;
  out.reserve(value.size() + 12);
  U32(out, type);
  U32(out, static_cast<std::uint32_t>(value.size()));
  Append(out, value);
  Pad(out);
  return out;
}

Bytes Build(const Controller& mainIn, const PackageOptions& options) { return Build(mainIn, options, {}); }

Bytes Build(const Controller& mainIn, const ControllerStream& stream) { return Build(mainIn, PackageOptions{}, stream); }

Bytes Build(const Controller& mainIn, const PackageOptions& options, const ControllerStream& stream) {
  Controller main = mainIn;
  Builder b;
  b.Prepare(main, 0);
  Bytes controller = FieldBytes(0x0D, b.ControllerValue(main));
  if (options.stub) return controller;
  controller.resize(controller.size() + stream.zeros, 0);

  Bytes payload;
  if (options.deflateController) {
    if (Compress(controller.data(), controller.size(), payload) != 0) throw std::runtime_error("deflate failed");
  } else {
    payload = controller;
  }
  Bytes comp;
  U32(comp, options.deflateController ? 1 : 0);
  U64(comp, stream.declaredSize.value_or(controller.size()));
  Append(comp, payload);
  const Bytes compressedField = FieldBytes(0x03, comp);
  const Bytes dataField = options.noData ? FieldBytes(0x1E, ArrayField(0x1F, {})) : b.DataField();

  Bytes contents;
  Bytes ck;
  U16(ck, Crc16(compressedField));
  Append(contents, FieldBytes(0x22, ck));
  ck.clear();
  U16(ck, Crc16(dataField));
  Append(contents, FieldBytes(0x23, ck));
  Append(contents, compressedField);
  Append(contents, dataField);

  Bytes out;
  U32(out, 0x10201A7A);
  U32(out, 0);
  U32(out, main.uid);
  // UID checksum: CRC of the even bytes of the three UIDs in the low half, odd ones high.
  Bytes even, odd;
  for (int i = 0; i < 12; ++i) (i % 2 ? odd : even).push_back(out[static_cast<std::size_t>(i)]);
  U32(out, static_cast<std::uint32_t>(Crc16(even)) | (static_cast<std::uint32_t>(Crc16(odd)) << 16));
  Append(out, FieldBytes(0x0C, contents));
  return out;
}

File TextFile(const std::string& target, const std::string& content, bool deflate) {
  File f;
  f.target = target;
  f.data.assign(content.begin(), content.end());
  f.deflate = deflate;
  return f;
}

Bytes MakeDemoPackage() {
  Controller child;
  child.uid = 0xE0DE0002;
  child.names = {"Demo Helper", "Aide de démo"};
  child.vendors = {"Tarvik Samples", "Exemples Tarvik"};
  child.vendorUnique = "Tarvik Samples";
  child.languages = {1, 2};
  child.version = {1, 1, 0};
  child.year = 2008;
  child.month0 = 4;
  child.day = 17;
  child.hour = 10;
  child.minute = 30;
  child.second = 0;
  child.files = {TextFile("!:\\data\\demo\\helper.txt", "The helper package's only file.\n")};

  Controller main;
  main.uid = 0xE0DE0001;
  main.names = {"Tarvik Demo", "Démo Tarvik"};
  main.vendors = {"Tarvik Samples", "Exemples Tarvik"};
  main.vendorUnique = "Tarvik Samples";
  main.languages = {1, 2};
  main.version = {1, 2, 3};
  main.year = 2008;
  main.month0 = 4;
  main.day = 17;
  main.hour = 10;
  main.minute = 30;
  main.second = 15;
  main.targets = {Dependency{0x101F7961, {0, 0, 0}, {}, {"Series60ProductID", "Series60ProductID"}}};
  std::string readme;
  for (int i = 0; i < 20; ++i) readme += "Tarvik demo package: every line of this file is the same.\n";
  main.files = {TextFile("!:\\data\\demo\\readme.txt", readme, true),
                TextFile("!:\\data\\demo\\settings.ini", "[demo]\nvalue=1\n")};
  File notice = TextFile("", "Thank you for trying the Tarvik demo package.\n");
  notice.op = 4;
  notice.options = 0x0400;
  main.files.push_back(notice);
  main.embedded = {child};
  If lang;
  lang.cond = Eq(Lang(), Num(1));
  lang.files = {TextFile("!:\\data\\demo\\hello.txt", "Hello\n")};
  ElseIf other;
  other.cond = Else();
  other.files = {TextFile("!:\\data\\demo\\hello.txt", "Bonjour\n")};
  lang.elseIfs = {other};
  main.ifs = {lang};
  return Build(main);
}

Bytes MakeManyFiles(std::size_t count, std::size_t fileSize, bool deflate) {
  Controller main;
  main.uid = 0xE0BE0001;
  main.names = {"Many Files"};
  main.files.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    File f;
    f.target = "!:\\data\\many\\file" + std::to_string(i) + ".txt";
    f.data.assign(fileSize, static_cast<std::uint8_t>('a' + i % 26));
    f.deflate = deflate;
    main.files.push_back(std::move(f));
  }
  return Build(main);
}

}  // namespace tarvik::test::sis9w
