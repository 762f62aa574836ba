// Package information of one controller: SISInfo, options, languages, prerequisites,
// properties and the logo, written to the header list and as PKG header lines.

#include <string>
#include <vector>

#include "bytes/tables.hpp"
#include "sis9/reader.hpp"

namespace tarvik::sis9 {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string JoinQuoted(const std::vector<std::string>& items, const char* sep) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += sep;
    out += Quoted(items[i]);
  }
  return out;
}

// The strings of an array field (type, length, element type, then length + value each).
std::vector<std::string> ReadStrings(const FileBuffer& b, const Field& array) {
  std::vector<std::string> out;
  if (array.type != sistype::Array) return out;
  Pos p = array.index + 4;
  while (p < array.end) {
    Field e = ReadElement(b, p, array.end);
    if (!e.ok) break;
    out.push_back(GetText(b, e.index, e.length, true));
    p = e.next;
  }
  return out;
}

// Major, minor and build; with `star`, a word of all ones is written "*".
std::string VersionText(const FileBuffer& b, Pos index, bool star) {
  std::string out;
  for (int i = 0; i < 3; ++i) {
    const std::uint32_t w = Word(b, index + 4 * i);
    if (i) out += ", ";
    out += (star && w == 0xFFFFFFFFu) ? std::string("*") : SignedText(w);
  }
  return out;
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

// Finds the controller member of type `type` at `pos`, stepping over fields of unknown type.
bool SeekMember(const FileBuffer& b, Pos& pos, Pos limit, std::uint32_t type, Field& out) {
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

}  // namespace

FileDesc ParseFileDesc(const FileBuffer& b, Pos pos, Pos limit) {
  FileDesc d;
  Field target = ReadField(b, pos, limit);
  if (!target.ok || target.type != sistype::String) return d;
  d.target = FieldText(b, target);
  Field mime = ReadField(b, target.next, limit);
  if (!mime.ok || mime.type != sistype::String) return d;
  d.mime = FieldText(b, mime);
  Pos p = mime.next;
  Field f = ReadField(b, p, limit);
  if (f.ok && f.type == sistype::Capabilities) {
    d.caps = Word(b, f.index);
    p = f.next;
    f = ReadField(b, p, limit);
  }
  if (!f.ok || f.type != sistype::Hash) return d;
  d.hashAlgorithm = Word(b, f.index);
  Field blob = ReadField(b, f.index + 4, f.end);
  if (blob.ok && blob.length > 0) {
    d.hashLength = static_cast<std::size_t>(std::min<Pos>(blob.length, static_cast<Pos>(d.hash.size())));
    for (std::size_t i = 0; i < d.hashLength; ++i) d.hash[i] = b.At(blob.index + static_cast<Pos>(i));
  }
  p = f.next;
  if (p + 28 > limit) return d;
  d.op = Word(b, p);
  d.options = Word(b, p + 4);
  d.compressed = ReadLE(b, p + 8, 8);
  d.uncompressed = ReadLE(b, p + 16, 8);
  d.fileIndex = Word(b, p + 24);
  d.complete = true;
  return d;
}

void Reader::ReadPackageInfo(Pos& pos, Pos limit, int pkg) {
  Field info = ReadField(buf, pos, limit);
  if (!info.ok) Fail("package information", pos);
  const Pos il = info.ok ? info.end : limit;
  Pos p = info.index;

  // 1. Package UID.
  Field f = ReadField(buf, p, il);
  if (f.type != sistype::Uid) Fail("package UID", p);
  texts.uid = Hex8(buf, f.index);
  packages[static_cast<std::size_t>(pkg)].uidText = texts.uid;
  st.List1.Add("SIS UID: " + texts.uid);
  p = f.next;

  // 2. Vendor unique name.
  f = ReadField(buf, p, il);
  if (f.type != sistype::String) Fail("vendor name", p);
  texts.vendorUnique = ":" + Quoted(FieldText(buf, f));
  p = f.next;

  // 3. Package names.
  f = ReadField(buf, p, il);
  std::vector<std::string> names = ReadStrings(buf, f);
  if (f.type != sistype::Array) Fail("package names", p);
  texts.names = "#{" + JoinQuoted(names, ",") + "}, ";
  packages[static_cast<std::size_t>(pkg)].firstName = names.empty() ? std::string() : names.front();
  p = f.next;

  // 4. Vendor names.
  f = ReadField(buf, p, il);
  if (f.type != sistype::Array) Fail("vendor names", p);
  texts.vendors = "%{" + JoinQuoted(ReadStrings(buf, f), ",") + "}";
  p = f.next;

  // 5. Version.
  f = ReadField(buf, p, il);
  if (f.type != sistype::Version) Fail("version", p);
  texts.version = VersionText(buf, f.index, false);
  st.List1.Add("SIS Version: " + texts.version);
  p = f.next;

  // 6. Creation date and time.
  f = ReadField(buf, p, il);
  if (f.type != sistype::DateTime) Fail("creation time", p);
  {
    Field date = ReadField(buf, f.index, f.end);
    std::string dateText = std::to_string(buf.At(date.index + 3)) + "-" + std::to_string(buf.At(date.index + 2) + 1) +
                           "-" + std::to_string(ReadLE(buf, date.index, 2));
    st.List1.Add("SIS Date: " + dateText);
    AddLine(date.start, ";Date " + dateText);
    Field time = ReadField(buf, date.next, f.end);
    std::string timeText = std::to_string(buf.At(time.index)) + ":" + std::to_string(buf.At(time.index + 1)) + ":" +
                           std::to_string(buf.At(time.index + 2));
    st.List1.Add("SIS Time: " + timeText);
    AddLine(time.start, ";Time " + timeText);
  }
  p = f.end;

  // 7. Install type.
  const std::uint8_t type = p < il ? buf.At(p) : 0;
  ++p;
  switch (type) {
    case 1: texts.type = ",TYPE=SP"; break;
    case 2: texts.type = ",TYPE=PU"; break;
    case 3: texts.type = ",TYPE=PA"; break;
    case 4: texts.type = ",TYPE=PP"; break;
    default: texts.type = ",TYPE=SA"; break;
  }
  st.List1.Add("SIS Type: " + texts.type);

  // 8. Install flags: every set bit gives its option, in bit order (early packages have none).
  const std::uint8_t flags = p < il ? buf.At(p) : 0;
  static const char* const kFlagWords[] = {", SH", ", NR", ", RU", ", H"};
  for (int bit = 0; bit < 4; ++bit)
    if (flags & (1u << bit)) texts.options += kFlagWords[bit];
  st.List1.Add("SIS Install Flag: " + texts.options);

  pos = info.next;

  // 9-10. Supported options.
  texts.optionsLine.clear();
  if (SeekMember(buf, pos, limit, sistype::SupportedOptions, f)) {
    Field array = ReadField(buf, f.index, f.end);
    if (array.type == sistype::Array) {
      Pos q = array.index + 4;
      while (q < array.end) {
        Field e = ReadElement(buf, q, array.end);
        if (!e.ok) {
          Fail("options", q);
          break;
        }
        Field inner = ReadField(buf, e.index, e.end);
        texts.optionsLine += JoinQuoted(ReadStrings(buf, inner), ",") + "},{";
        q = e.next;
      }
    }
    if (!f.ok) Fail("options", f.start);
    pos = f.next;
  }
  if (!texts.optionsLine.empty()) {
    std::string line = texts.optionsLine + ")";
    const auto at = line.rfind(",{)");
    if (at != std::string::npos) line.replace(at, 3, ")");
    texts.optionsLine = "!({" + line;
  }

  // 11-12. Supported languages.
  std::vector<std::string> codes;
  if (SeekMember(buf, pos, limit, sistype::SupportedLanguages, f)) {
    Field array = ReadField(buf, f.index, f.end);
    Pos q = array.index + 4;
    while (array.type == sistype::Array && q < array.end) {
      Field e = ReadElement(buf, q, array.end);
      if (!e.ok) {
        Fail("languages", q);
        break;
      }
      std::string code = GetLanguage(std::to_string(Word(buf, e.index)));
      st.List1.Add("Language: " + LongLangTable(code));
      codes.push_back(code);
      q = e.next;
    }
    if (!f.ok) Fail("languages", f.start);
    pos = f.next;
  } else {
    Fail("languages", pos);
  }
  texts.languages = "&";
  for (std::size_t i = 0; i < codes.size(); ++i) texts.languages += (i ? ", " : "") + codes[i];

  // 13. Header rows.
  AddLine(pos, texts.languages);
  AddLine(pos, texts.names + "(0x" + texts.uid + ")," + texts.version + texts.options + texts.type);
  AddLine(pos, texts.vendorUnique);
  AddLine(pos, texts.vendors);

  // 14. Prerequisites: target devices, then dependencies, one line per member.
  if (SeekMember(buf, pos, limit, sistype::Prerequisites, f)) {
    Pos q = f.index;
    for (int list = 0; list < 2; ++list) {
      Field array = ReadField(buf, q, f.end);
      if (array.type != sistype::Array) {
        Fail("prerequisites", q);
        break;
      }
      Pos m = array.index + 4;
      while (m < array.end) {
        Field e = ReadElement(buf, m, array.end);
        if (!e.ok) {
          Fail("prerequisites", m);
          break;
        }
        Field uid = ReadField(buf, e.index, e.end);
        Field range = ReadField(buf, uid.next, e.end);
        std::string versions;
        Field nameArray = range;
        if (range.type == sistype::VersionRange) {
          Field from = ReadField(buf, range.index, range.end);
          versions = VersionText(buf, from.index, true);
          if (from.next < range.end) {
            Field to = ReadField(buf, from.next, range.end);
            if (to.type == sistype::Version) versions += "~" + VersionText(buf, to.index, true);
          }
          nameArray = ReadField(buf, range.next, e.end);
        }
        const std::string uidText = Hex8(buf, uid.index);
        std::string line = list == 0 ? "[0x" + uidText + "], " : "(0x" + uidText + "), ";
        line += versions + ", {" + JoinQuoted(ReadStrings(buf, nameArray), ", ") + "}";
        AddLine(e.start, line);
        m = e.next;
      }
      q = array.next;
    }
    if (!f.ok) Fail("prerequisites", f.start);
    pos = f.next;
  }

  // 15-16. Properties, then the options line.
  if (SeekMember(buf, pos, limit, sistype::Properties, f)) {
    Field array = ReadField(buf, f.index, f.end);
    std::vector<std::string> props;
    Pos q = array.index + 4;
    while (array.type == sistype::Array && q < array.end) {
      Field e = ReadElement(buf, q, array.end);
      if (!e.ok) {
        Fail("properties", q);
        break;
      }
      props.push_back(SignedText(Word(buf, e.index)) + "=" + SignedText(Word(buf, e.index + 4)));
      q = e.next;
    }
    if (!props.empty()) {
      std::string line = "+(";
      for (std::size_t i = 0; i < props.size(); ++i) line += (i ? ", " : "") + props[i];
      AddLine(f.start, line + ")");
    }
    if (!f.ok) Fail("properties", f.start);
    pos = f.next;
  }
  if (!texts.optionsLine.empty()) AddLine(pos, texts.optionsLine);

  // 17-21. Logo.
  Pos logoPos = pos;
  if (SeekMember(buf, logoPos, limit, sistype::Logo, f)) {
    pos = logoPos;
    Field desc = ReadField(buf, f.index, f.end);
    FileDesc d = ParseFileDesc(buf, desc.index, desc.ok ? desc.end : f.end);
    if (!d.complete) Fail("logo", f.start);
    if (d.hashAlgorithm == 1) hashAlgorithm = "SHA-1 algorithm";
    fileCounter = static_cast<int>(d.fileIndex);
    std::string ext = ".bmp";
    static const char* const kExt[][2] = {{"gif", ".gif"},   {"png", ".png"},   {"jpeg", ".jpeg"},
                                          {"jpg", ".jpg"},   {"wbmp", ".wbmp"}, {"bmp", ".bmp"},
                                          {"taga", ".taga"}, {"mbm", ".mbm"}};
    for (const auto& e : kExt)
      if (d.mime.find(e[0]) != std::string::npos) {
        ext = e[1];
        break;
      }
    // The logo is named like any other file; only an empty target needs a made-up name.
    std::string rest;
    if (d.target.empty())
      rest = "LogoFileIndex" + std::to_string(ordinal) + std::to_string(d.fileIndex) + ext;
    else if (d.target.size() >= 3 && d.target.compare(1, 2, ":\\") == 0)
      rest = d.target.substr(3);
    else
      rest = d.target;
    const std::string source = sourcePrefix + rest;
    AddLine(f.start, "=" + Quoted(source) + ", " + Quoted(d.mime) + "," + Quoted(d.target));
    if (d.op != 8) AddFileRow(d, rest, f.start, pkg, 2 + source.size());
    pos = f.next;
  }
}

}  // namespace tarvik::sis9
