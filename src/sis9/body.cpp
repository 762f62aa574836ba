// The body of a controller: install blocks with their file descriptions, embedded
// controllers and condition blocks, walked in stored order.

#include <string>
#include <string_view>

#include "sis9/reader.hpp"
#include "store/tables.hpp"

namespace tarvik::sis9 {

namespace {

std::string ThreeDigits(int n) {
  std::string s = std::to_string(n);
  while (s.size() < 3) s.insert(s.begin(), '0');
  return s;
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Capability bit (0 = least significant) to its "cap" column number.
constexpr int kCapColumn[20] = {20, 15, 4, 18, 11, 13, 17, 12, 5, 16, 19, 14, 8, 3, 1, 6, 10, 2, 7, 9};

// Run options (VR bit masked off) that have a fixed text.
struct RunText {
  std::uint32_t options;
  const char* text;  // "%" stands for the MIME type in quotes
};
constexpr RunText kRunTexts[] = {
    {0x02, ", FR, RI"},          {0x14, ", FR, RR, RW"}, {0x16, ", FR, RB, RW"}, {0x22, ", FR, RI, RS"},
    {0x12, ", FR, RI, RW"},      {0x1A, ", FM, %, RW"},  {0x2A, ", FM, %, RS"},
};

std::string RunOptions(std::uint32_t options, const std::string& mime) {
  std::string out;
  for (const RunText& t : kRunTexts)
    if (t.options == options) {
      out = t.text;
      break;
    }
  if (out.empty()) {
    // Combinations without a fixed text are built from their bits.
    out = (options & 0x08) ? ", FM, %" : ", FR";
    switch (options & 0x06) {
      case 0x02: out += ", RI"; break;
      case 0x04: out += ", RR"; break;
      case 0x06: out += ", RB"; break;
      default: break;
    }
    if (options & 0x10) out += ", RW";
    if (options & 0x20) out += ", RS";
  }
  const auto at = out.find('%');
  if (at != std::string::npos) out.replace(at, 1, Quoted(mime));
  return out;
}

std::string TextOption(std::uint32_t options) {
  switch (options) {
    case 0x0400: return ", TS";
    case 0x0800: return ", TA";
    case 0x0000: return ", TC";
    case 0x1000: return ", TE";
    default: return {};
  }
}

}  // namespace

void Reader::ReadController(Pos infoPos, Pos limit, int parent) {
  if (Word(buf, infoPos) != sistype::Info) {
    Fail("package information", infoPos);
    return;
  }
  if (controllerDepth >= kMaxControllerDepth) {
    Fail("embedded package nested too deep", infoPos);
    return;
  }
  ++controllerDepth;
  const int id = static_cast<int>(packages.size());
  ++ordinal;
  ++depth;
  prevIndex = curIndex;
  ++curIndex;
  PackageRec rec;
  rec.parent = parent;
  rec.index = curIndex;
  rec.ordinal = ordinal;
  rec.depth = depth;
  packages.push_back(rec);
  dataIndexRows.push_back(0);
  AddLine(infoPos, "<<<+++" + ThreeDigits(depth), RowKind::Start, id);
  if (ordinal > 1) {
    texts = PackageTexts{};
    fileCounter = 0;
  }
  packageStack.push_back(id);

  Pos pos = infoPos;
  ReadPackageInfo(pos, limit, id);
  bool ended = false;
  while (pos + 8 <= limit) {
    Field f = ReadField(buf, pos, limit);
    if (!f.ok) {
      Fail("controller", pos);
      break;
    }
    if (f.type == sistype::InstallBlock) {
      ReadInstallBlock(f);
    } else if (f.type == sistype::DataIndex) {
      AddLine(f.start, "+++>>>" + ThreeDigits(depth), RowKind::End, id);
      PackageRec& r = packages[static_cast<std::size_t>(id)];
      r.endDepth = depth;
      r.dataIndex = Word(buf, f.index);
      r.hasDataIndex = true;
      if (r.dataIndex != 0) {
        Row& row = st.ListView5.Add(std::to_string(r.dataIndex));
        row.Set(1, std::to_string(curIndex));
        row.Set(2, std::to_string(lastInstallBlock));
        dataIndexRows[static_cast<std::size_t>(id)] = static_cast<int>(st.ListView5.Count());
      }
      ended = true;
      break;
    }
    pos = f.next;
  }
  if (!ended) Fail("end of package", pos);
  --depth;
  packageStack.pop_back();
  --controllerDepth;
}

void Reader::ReadInstallBlock(const Field& block) {
  // Install blocks nest through condition blocks and embedded packages; the whole nesting
  // is bounded, so that no package can exhaust the stack.
  if (blockNesting >= kMaxBlockDepth) {
    Fail("condition blocks nested too deep", block.start);
    return;
  }
  ++blockNesting;
  ReadBlockMembers(block);
  --blockNesting;
}

void Reader::ReadBlockMembers(const Field& block) {
  if (!block.ok) Fail("install block", block.start);
  lastInstallBlock = block.start;
  const Pos lim = block.ok ? block.end : block.next;
  const int pkg = packageStack.empty() ? 0 : packageStack.back();

  Field files = ReadField(buf, block.index, lim);
  if (files.type != sistype::Array) {
    Fail("install block", block.start);
    return;
  }
  for (Pos p = files.index + 4; p < files.end;) {
    Field e = ReadElement(buf, p, files.end);
    if (!e.ok) {
      Fail("file description", p);
      break;
    }
    FileDesc d = ParseFileDesc(buf, e.index, e.end);
    if (d.complete)
      ReadFile(d, block.start, pkg);
    else
      Fail("file description", e.start);
    p = e.next;
  }

  Field controllers = ReadField(buf, files.next, lim);
  if (controllers.type != sistype::Array) {
    Fail("install block", files.next);
    return;
  }
  for (Pos p = controllers.index + 4; p < controllers.end;) {
    Field e = ReadElement(buf, p, controllers.end);
    if (!e.ok) {
      Fail("embedded package", p);
      break;
    }
    ReadController(e.index, e.end, pkg);
    p = e.next;
  }

  Field ifs = ReadField(buf, controllers.next, lim);
  if (ifs.type != sistype::Array) {
    Fail("install block", controllers.next);
    return;
  }
  for (Pos p = ifs.index + 4; p < ifs.end;) {
    Field e = ReadElement(buf, p, ifs.end);
    if (!e.ok) {
      Fail("condition", p);
      break;
    }
    ReadIf(e);
    p = e.next;
  }
}

void Reader::ReadIf(const Field& element) {
  Field expr = ReadField(buf, element.index, element.end);
  if (expr.type != sistype::Expression || !expr.ok) {
    Fail("condition", element.start);
    return;
  }
  std::string cond = ReadCondition(expr.start, element.end);
  Field block = ReadField(buf, expr.next, element.end);
  AddLine(block.start, "If " + cond);
  if (block.type == sistype::InstallBlock)
    ReadInstallBlock(block);
  else
    Fail("install block", block.start);

  Field elseIfs = ReadField(buf, block.next, element.end);
  if (elseIfs.type == sistype::Array) {
    for (Pos p = elseIfs.index + 4; p < elseIfs.end;) {
      Field e = ReadElement(buf, p, elseIfs.end);
      if (!e.ok) {
        Fail("condition", p);
        break;
      }
      Field x = ReadField(buf, e.index, e.end);
      if (x.type == sistype::Expression && x.ok) {
        std::string c = ReadCondition(x.start, e.end);
        Field b = ReadField(buf, x.next, e.end);
        AddLine(b.start, "ElseIf " + c);
        if (b.type == sistype::InstallBlock)
          ReadInstallBlock(b);
        else
          Fail("install block", b.start);
      } else {
        Fail("condition", e.start);
      }
      p = e.next;
    }
  } else {
    Fail("condition", block.next);
  }
  AddLine(element.end - 4, "EndIf ");
}

void Reader::ReadFile(const FileDesc& d, Pos blockPos, int pkg) {
  const std::string& t = d.target;
  const bool textNamed = t.empty() && d.op == 4;
  const std::string textName =
      textNamed ? "TextFileIndex" + std::to_string(ordinal) + std::to_string(d.fileIndex) + ".txt" : std::string();
  const std::string_view afterDrive = t.size() > 3 ? std::string_view(t).substr(3) : std::string_view();
  std::string_view rest;
  if (!t.empty())
    rest = (t.size() >= 3 && t[1] == ':' && t[2] == '\\') ? afterDrive : std::string_view(t);
  else if (textNamed)
    rest = textName;
  const std::uint32_t options = d.options & ~0x8000u;

  // The line: the made-up source, "-", the target, then the options of the operation.
  std::string line;
  line.reserve(sourcePrefix.size() + 2 * t.size() + 32);
  std::size_t sourceEnd = 0;  // the source name is the line's first quoted text
  auto quoted = [&line](std::string_view a, std::string_view b = {}) {
    line += '"';
    line += a;
    line += b;
    line += '"';
  };
  switch (d.op) {
    case 2:
      quoted(sourcePrefix, afterDrive);
      sourceEnd = line.size() - 1;
      line += '-';
      quoted(t);
      line += RunOptions(options, d.mime);
      line += kCrLf;
      break;
    case 4:
      quoted(sourcePrefix, t.empty() ? std::string_view(textName) : afterDrive);
      sourceEnd = line.size() - 1;
      line += "-\"\", FT";
      line += TextOption(options);
      line += kCrLf;
      break;
    case 8:
      line += "\"\"-";
      quoted(t);
      line += ", FN";
      break;
    default:
      quoted(sourcePrefix, afterDrive);
      sourceEnd = line.size() - 1;
      line += '-';
      quoted(t);
      line += ", FF";
      break;
  }
  AddLine(blockPos, std::move(line));
  if (d.op != 8) AddFileRow(d, rest, blockPos, pkg, sourceEnd);
}

void Reader::AddFileRow(const FileDesc& d, std::string_view rest, Pos blockPos, int pkg, std::size_t sourceEnd) {
  Row& r = st.ListView1.Add(std::to_string(ordinal));
  r.Set(col9::Byte, std::to_string(blockPos));  // the last column first: the row is sized once
  std::string extract = extractPrefix;
  extract += rest;
  r.Set(col9::FileDataId, std::to_string(d.fileIndex));
  r.Set(col9::Source, sourceFolder + extract);
  r.Set(col9::Target, d.target);
  r.Set(col9::Offset, "");
  r.Set(col9::Compression, d.compressed == d.uncompressed ? "0" : "1");
  r.Set(col9::CompressByte, HexText(d.compressed, 16));
  r.Set(col9::UncompressByte, HexText(d.uncompressed, 16));
  r.Set(col9::ExtractPath, extract);
  r.Set(col9::Mime, d.mime);
  for (std::size_t i = 0; i < d.hashLength; ++i) r.Set(col9::Hash1 + i, HexText(d.hash[i], 2));
  if (d.caps != 0)
    for (int bit = 0; bit < 20; ++bit)
      if (d.caps & (1u << bit)) r.Set(col9::Cap1 + static_cast<std::size_t>(kCapColumn[bit]) - 1, "1");
  if (d.hashAlgorithm == 1) hashAlgorithm = "SHA-1 algorithm";
  r.Set(col9::HashAlgorithm, hashAlgorithm);
  fileRowPackage.push_back(pkg);
  fileRowIndex.push_back(d.fileIndex);
  fileRowLine.push_back(st.ListView7.Count());
  fileRowSourceEnd.push_back(sourceEnd);
}

}  // namespace tarvik::sis9
