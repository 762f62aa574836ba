// Entry of the 9.x reader: the file frame, the controller stage and the final bookkeeping.

#include <algorithm>
#include <ctime>

#include "bytes/inflate.hpp"
#include "platform/platform.hpp"
#include "sis9/reader.hpp"
#include "sis9/sis9.hpp"

namespace tarvik::sis9 {

namespace {

// Shows the message that belongs to a zlib failure; false when there was one.
bool ReportInflate(App& app, int status) {
  const char* text = nullptr;
  if (status == zstatus::BufError) text = "Extraction Error: Buffer to small";
  if (status == zstatus::MemError) text = "Extraction Error: Insufficient memory";
  if (status == zstatus::DataError) text = "Extraction Error: Input file corrupted  ";
  if (!text) return true;
  app.ui.MsgBox(text, msg::Exclamation, kTitle);
  return false;
}

// Inflates `compressed` bytes of the buffer that begin at 1-based `offset1`. The declared
// size is checked before anything is allocated (Uncompress refuses impossible sizes).
int InflateRange(const FileBuffer& b, std::int64_t offset1, std::int64_t compressed, std::uint64_t declared,
                 Bytes& out) {
  const Pos start = offset1 - 1;
  std::size_t len = 0;
  if (start >= 0 && start < b.Size() && compressed > 0)
    len = static_cast<std::size_t>(std::min<Pos>(compressed, b.Size() - start));
  const std::uint8_t* src = len ? b.Ptr(start) : nullptr;
  static const std::uint8_t kEmpty = 0;
  return Uncompress(src ? src : &kEmpty, len, declared, out);
}

// The "\"-ending rule: a folder name gets a running number of three digits.
std::string NumberedName(App& app, std::string name) {
  if (!name.empty() && (name.back() == '\\' || name.back() == '/')) {
    ++app.state.nameCounter;
    std::string n = std::to_string(app.state.nameCounter);
    while (n.size() < 3) n.insert(n.begin(), '0');
    name += n;
  }
  return name;
}

// Bytes [start, start + len) of the buffer that lie inside it.
Bytes CutRange(const FileBuffer& b, Pos start, Pos len) {
  Bytes out;
  if (len <= 0) return out;
  const Pos from = std::max<Pos>(start, 0);
  const Pos to = std::min<Pos>(AddPos(start, len), b.Size());
  if (to > from) out.assign(b.data.begin() + from, b.data.begin() + to);
  return out;
}

// Name of the PKG scratch file, made from the time of day.
std::string ScratchName() {
  std::time_t now = std::time(nullptr);
  std::tm tmv{};
  localtime_r(&now, &tmv);
  std::string text = std::to_string(tmv.tm_sec * 22) + HexText(static_cast<std::uint64_t>(tmv.tm_hour * tmv.tm_min * 128));
  return NumText(HexToDouble(text));
}

}  // namespace

std::int32_t XExtractData(App& app, std::string fname, std::int64_t CompressByte, std::int64_t UncompressByte,
                          std::int64_t OffsetByte) {
  if (fname.empty() || CompressByte == 0) return 0;
  fname = NumberedName(app, std::move(fname));
  Bytes out;
  const int status = InflateRange(app.buffer, OffsetByte, CompressByte,
                                  static_cast<std::uint64_t>(std::max<std::int64_t>(UncompressByte, 0)), out);
  if (!ReportInflate(app, status)) return 0;
  out.resize(static_cast<std::size_t>(std::max<std::int64_t>(UncompressByte, 0)), 0);
  if (!fsys::WriteFileAtomic(fname, out.data(), out.size())) return 0;
  if (!app.state.stopExtraction) ++app.state.extractedCount;
  return 1;
}

bool XCutFile(App& app, std::string DestFile, std::int64_t ByteOffset, std::int64_t ByteLength) {
  if (ByteLength <= 0 || DestFile.empty()) return false;
  DestFile = NumberedName(app, std::move(DestFile));
  Bytes out = CutRange(app.buffer, ByteOffset - 1, ByteLength);
  return fsys::WriteFileAtomic(DestFile, out.data(), out.size());
}

// ---------------------------------------------------------------------------------------
// Field helpers.

std::uint32_t Word(const FileBuffer& b, Pos pos) { return static_cast<std::uint32_t>(ReadLE(b, pos, 4)); }

std::string Hex8(const FileBuffer& b, Pos pos) { return HexText(Word(b, pos), 8); }

std::string SignedText(std::uint32_t word) { return std::to_string(static_cast<std::int32_t>(word)); }

std::string FieldText(const FileBuffer& b, const Field& f) {
  if (!f.ok || f.length <= 0) return {};
  return GetText(b, f.index, f.length, true);
}

// ---------------------------------------------------------------------------------------
// The reader.

Reader::Reader(App& a, std::string name) : app(a), buf(a.buffer), st(a.stores), fname(std::move(name)) {
  std::string base = BaseName(fname);
  const auto dot = base.rfind('.');
  packageFolder = dot == std::string::npos ? base : base.substr(0, dot);
  sourceFolder = app.state.defaultSourceFolder;
  if (sourceFolder.empty() || (sourceFolder.back() != '\\' && sourceFolder.back() != '/')) sourceFolder += '\\';
  sourcePrefix = sourceFolder + "bin\\" + kTag + "\\";
  extractPrefix = "bin\\" + packageFolder + "\\" + kTag + "\\";
}

void Reader::AddLine(Pos byte, std::string line, RowKind kind, int pkg) {
  Row& r = st.ListView7.Add(std::to_string(byte));
  r.Set(1, std::move(line));
  rowKinds.push_back(kind);
  rowPackages.push_back(pkg);
}

void Reader::Fail(std::string what, Pos where) {
  errors.push_back(std::move(what) + " at " + std::to_string(where));
}

std::string Reader::Run() {
  // Frame stage.
  st.ListView1.Clear();
  st.ListView6.Clear();
  st.List1.Clear();
  st.ListView7.Clear();

  const std::optional<std::string> tempDir = app.TempDir();
  std::string brimondTemp;
  if (tempDir) {
    brimondTemp = JoinPath(*tempDir, "Brimond");
    fsys::CreateFolder(brimondTemp);
  }
  const std::string controllerFile = brimondTemp.empty() ? std::string() : JoinPath(brimondTemp, "tmp.bin");

  isStub = Word(buf, 0) == sistype::Controller && buf.HasRange(0, 4);
  Bytes controller;  // the unpacked controller, swapped into the buffer while it is read
  bool haveController = false;

  if (!isStub) {
    std::uint32_t uid1 = 0;
    if (!ReadU32(buf, 0, uid1) || uid1 != 0x10201A7Au) {
      app.ui.MsgBox("This is not the valid SIS file!", msg::Critical, kTitle);
      // Nothing of this file can be extracted: the file table is empty, and so is the mark.
      app.state.dataMark = 0;
      app.state.stub = false;
      return {};
    }
    st.List1.Add("UID1: " + Hex8(buf, 0));
    st.List1.Add("UID2: " + Hex8(buf, 4));
    st.List1.Add("UID3: " + Hex8(buf, 8));
    st.List1.Add("UID Checksum: " + Hex8(buf, 12));

    const Pos fileEnd = buf.Size();
    Field contents = ReadField(buf, 16, fileEnd);
    const Pos contentsEnd = contents.ok ? contents.end : fileEnd;
    Pos pos = contents.index;
    if (Word(buf, pos) == sistype::ControllerChecksum) {
      Field f = ReadField(buf, pos, contentsEnd);
      st.List1.Add("SIS Controller Checksum: " + Hex8(buf, f.index));
      pos = f.next;
    }
    if (Word(buf, pos) == sistype::DataChecksum) {
      Field f = ReadField(buf, pos, contentsEnd);
      st.List1.Add("SIS Data Checksum: " + Hex8(buf, f.index));
      pos = f.next;
    }
    std::int64_t compressedSize = 0;
    std::uint64_t uncompressed64 = 0;
    Pos dataStart = 0;
    if (Word(buf, pos) == sistype::Compressed) {
      Field f = ReadField(buf, pos, fileEnd);
      st.List1.Add("SISController Compression Algorithm: " + Hex8(buf, f.index));
      compressedSize = std::max<Pos>(f.length - 12, 0);
      dataStart = f.index + 12;
      uncompressed64 = ReadLE(buf, f.index + 4, 8);
      st.List1.Add("SISController UnCompressed Data Size: " + HexText(uncompressed64 & 0xFFFFFFFFu));
      st.List1.Add("SISController Compress Data Size: " + HexText(static_cast<std::uint64_t>(compressedSize)));
      if (!f.ok) Fail("controller", pos);
      pos = f.next;
      dataFieldPos = pos;
    } else {
      Fail("controller", pos);
    }

    if (!controllerFile.empty()) fsys::DeleteFile(controllerFile);
    const std::uint64_t uncompressed32 = uncompressed64 & 0xFFFFFFFFu;
    if (static_cast<std::uint64_t>(static_cast<std::uint32_t>(compressedSize)) != uncompressed64) {
      texts.options = ", IU";
      const int status = InflateRange(buf, dataStart + 1, compressedSize, uncompressed64, controller);
      if (ReportInflate(app, status)) {
        controller.resize(static_cast<std::size_t>(uncompressed32), 0);
        haveController = true;
      }
    } else {
      texts.options = ", NC";
      controller = CutRange(buf, dataStart, static_cast<Pos>(uncompressed32));
      haveController = true;
    }
    if (haveController && !controllerFile.empty())
      fsys::WriteFileAtomic(controllerFile, controller.data(), controller.size());
  }

  // Controller stage.
  if (!app.state.pkgScratchFile.empty()) fsys::DeleteFile(app.state.pkgScratchFile);
  app.state.pkgScratchFile = brimondTemp.empty() ? std::string() : JoinPath(brimondTemp, ScratchName());
  if (haveController) buf.data.swap(controller);  // the package waits in `controller`

  st.ListView5.Clear();
  st.ListView1.Clear();
  ordinal = depth = curIndex = prevIndex = 0;
  fileCounter = 0;

  if (Word(buf, 0) == sistype::Controller && buf.HasRange(0, 8)) {
    Field ctl = ReadField(buf, 0, buf.Size());
    controllerEnd = ctl.ok ? ctl.end : buf.Size();
    if (!ctl.ok) Fail("controller", 0);
    ReadController(ctl.index, controllerEnd, -1);
  }

  std::string script;
  if (curIndex >= 1) {
    script = Assemble();
    if (!app.state.pkgScratchFile.empty()) fsys::WriteFileAtomic(app.state.pkgScratchFile, script);
  }

  if (haveController) buf.data.swap(controller);  // the package file again
  if (!isStub && curIndex >= 1) FillDataOffsets();

  // Final bookkeeping.
  app.state.currentFile = fname;
  app.state.dataMark = static_cast<std::int32_t>(st.ListView1.Count());
  app.state.stub = isStub;
  app.state.formatMarker = 1;
  if (isStub) app.ui.MsgBox("This is a stub sis file which contains no file inside", msg::Information, kTitle);
  if (!errors.empty()) {
    std::string text = std::string(kProgramName) + " Damaged package data: could not read ";
    const std::size_t shown = std::min<std::size_t>(errors.size(), 5);
    for (std::size_t i = 0; i < shown; ++i) text += (i ? "; " : "") + errors[i];
    if (errors.size() > shown) text += "; and " + std::to_string(errors.size() - shown) + " more";
    app.ui.MsgBox(text, msg::Plain, kProgramName);
  }
  return script;
}

std::string OpenSISFile3(App& app, const std::string& fname) {
  app.state.openedFile = fname;
  app.state.currentFile = fname;
  Reader reader(app, fname);
  std::string script = reader.Run();
  app.state.formatMarker = 1;
  return script;
}

}  // namespace tarvik::sis9
