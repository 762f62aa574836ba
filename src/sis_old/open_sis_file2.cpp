// Pre-9.x packages: the generation test, the header, languages, component names,
// requisites and capabilities, the head of the PKG script, and the joining of head and body.

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "bytes/encoding.hpp"
#include "bytes/tables.hpp"
#include "platform/platform.hpp"
#include "sis9/sis9.hpp"
#include "sis_old/old_context.hpp"
#include "sis_old/old_text.hpp"
#include "sis_old/sis_old.hpp"

namespace tarvik::sis_old {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::int32_t kMaxLanguages = 200;

// Header field offsets.
enum : Pos {
  kUid1 = 0, kUid2 = 4, kUid3 = 8, kLangCount = 18, kRecordCount = 20, kReqCount = 22,
  kCapCount = 30, kInstallerVersion = 32, kOptions = 36, kType = 38, kMajor = 40, kMinor = 42,
  kVariant = 44, kLangOffset = 48, kRecordOffset = 52, kReqOffset = 56, kNameOffset = 64,
  kCapOffset = 72,
};

std::string OptionWords(const std::string& hex4) {
  if (hex4 == "0001") return "IUNICODE";
  if (hex4 == "0011") return "SHUTDOWNAPPS";
  if (hex4 == "0019") return "SHUTDOWNAPPS, NOCOMPRESS";
  if (hex4 == "0009") return "NOCOMPRESS";
  return {};
}

std::string TypeWord(const std::string& hex4) {
  if (hex4 == "0000") return "TYPE=SISAPP";
  if (hex4 == "0001") return "TYPE=SISSYSTEM";
  if (hex4 == "0002") return "TYPE=SISOPTION";
  if (hex4 == "0003") return "TYPE=SISCONFIG";
  if (hex4 == "0004") return "TYPE=SISPATCH";
  return {};
}

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

std::string JoinQuoted(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i) out += ", ";
    out += Quote(names[i]);
  }
  return out;
}

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// N names of a (lengths, offsets) block, in list order (the file's last name first).
std::vector<std::string> NameList(OldContext& ctx, Pos block) {
  const std::int32_t n = ctx.languages;
  std::vector<std::string> names(static_cast<std::size_t>(n));
  for (std::int32_t k = 1; k <= n; ++k) {
    names[static_cast<std::size_t>(n - k)] =
        ctx.Text(block + 4 * (k - 1), block + 4 * static_cast<Pos>(n) + 4 * (k - 1), ctx.wide);
  }
  return names;
}

std::string ReadPackage(OldContext& ctx, std::int64_t fileLength) {
  App& app = ctx.app;
  const FileBuffer& buf = ctx.buffer;
  ctx.textBudget = 32 * fileLength + (16 << 20);

  // UID 1, the release mark and its text.
  const std::string uid1 = "0x" + GetData2(buf, kUid1, 4, true);
  const std::string uid2Text = GetData2(buf, kUid2, 4, true);
  if (uid2Text == "1000006D") {
    ctx.releaseText = kReleaseOld;
  } else if (uid2Text == "10003A12") {
    ctx.releaseText = kRelease6;
  } else {
    ctx.releaseText.clear();
    app.ui.MsgBox(kUnknownVersion, msg::Exclamation, kProgramName);
  }
  const std::string major = NumText(ctx.U16(kMajor));
  const std::string minor = NumText(ctx.U16(kMinor));
  const std::string variant = NumText(ctx.U32(kVariant));
  const std::uint32_t recordCount = ctx.U16(kRecordCount);
  ctx.languages = ctx.U16(kLangCount);
  const std::uint16_t options = ctx.U16(kOptions);
  const std::string optionWords = OptionWords(GetData2(buf, kOptions, 2, true));
  const std::string typeWord = TypeWord(GetData2(buf, kType, 2, true));

  app.state.dataMark = static_cast<std::int32_t>(recordCount);
  app.state.formatMarker = 0;

  // Names are 16-bit only with IUNICODE; the record layout follows the release.
  ctx.wide = (options & 0x0001) != 0;
  ctx.release6Layout = Release6Layout(buf);

  // Language table.
  if (ctx.languages > kMaxLanguages) throw InternalError("too many languages");
  const Pos langOffset = ctx.U32(kLangOffset);
  for (std::int32_t i = 1; i <= ctx.languages; ++i) {
    const std::uint16_t number = ctx.U16(langOffset + 2 * static_cast<Pos>(ctx.languages - i));
    std::string code = GetLanguage(NumText(number));
    ctx.longNames.push_back(LongLangTable(code));
    ctx.langCodes.push_back(std::move(code));
  }

  // Requisites: the first of the file is listed last.
  struct Requisite {
    std::string uid, major, minor, variant;
    std::vector<std::string> names;
  };
  const std::uint32_t reqCount = ctx.U16(kReqCount);
  const Pos reqSize = 12 + 8 * static_cast<Pos>(ctx.languages);
  Pos req = ctx.U32(kReqOffset);
  std::vector<Requisite> requisites;
  for (std::uint32_t r = 0; r < reqCount; ++r, req += reqSize) {
    Requisite q;
    q.uid = GetData2(buf, static_cast<std::int32_t>(req), 4, true);
    q.major = NumText(ctx.U16(req + 4));
    q.minor = NumText(ctx.U16(req + 6));
    q.variant = NumText(ctx.U32(req + 8));
    q.names = NameList(ctx, req + 12);
    requisites.push_back(std::move(q));
    if (!buf.HasRange(req, reqSize)) break;  // the rest would read as nothing at all
  }

  // Component names.
  const std::vector<std::string> names = NameList(ctx, ctx.U32(kNameOffset));

  // Capabilities: (key, value) pairs one after the other.
  const std::uint32_t capCount = ctx.U16(kCapCount);
  std::string capLine;
  if (capCount != 0) {
    const Pos caps = ctx.U32(kCapOffset);
    capLine = "+(";
    for (std::uint32_t k = 0; k < capCount; ++k) {
      const Pos pair = caps + 8 * static_cast<Pos>(k);
      const std::uint32_t key = ctx.U32(pair);
      if (key > 0x7FFFFFFFu) throw InternalError("capability key does not fit");
      const std::int32_t value = static_cast<std::int32_t>(ctx.U32(pair + 4));
      if (k) capLine += ", ";
      capLine += std::to_string(key) + "=" + std::to_string(value);
    }
    capLine += ")";
  }

  // Head of the script.
  std::string head = std::string(kHeadBanner) + kCrLf + kCrLf;
  head += "&";
  for (std::size_t i = 0; i < ctx.langCodes.size(); ++i) {
    if (i) head += ", ";
    head += ctx.langCodes[i];
  }
  head += kCrLf;
  head += "#{";
  if (!names.empty()) head += JoinQuoted(names) + "}, (";
  head += uid1 + "), " + major + ", " + minor + ", " + variant + ", " + optionWords + ", " + typeWord;
  head += kCrLf;
  for (auto it = requisites.rbegin(); it != requisites.rend(); ++it) {
    head += "(0x" + it->uid + "), " + it->major + ", " + it->minor + ", " + it->variant + ", {" +
            JoinQuoted(it->names) + "}" + kCrLf;
  }
  if (!capLine.empty()) head += capLine + kCrLf;

  // Body: the records, then the rows last first.
  WalkRecords(ctx, ctx.U32(kRecordOffset), recordCount);
  const auto& rows = app.stores.ListView3.Rows();
  std::size_t total = head.size();
  for (const Row& row : rows) total += row.Text().size() + 2;
  std::string text;
  text.reserve(total);
  text += head;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    text += it->Text();
    text += kCrLf;
  }
  return text;
}

}  // namespace

bool Release6Layout(const FileBuffer& buffer) {
  return ReadLE(buffer, kUid2, 4) == kUidRelease6 || ReadLE(buffer, kInstallerVersion, 4) >= 200;
}

bool FilesAreDeflated(const FileBuffer& buffer) {
  return Release6Layout(buffer) && (ReadLE(buffer, kOptions, 2) & 0x0008) == 0;
}

std::string Hex8(std::uint32_t value) { return "0x" + HexText(value, 8); }

std::string DropChars(const std::string& text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t c = 0; c < count && i < text.size(); ++c) NextUtf8(text, i);
  return text.substr(i);
}

std::string OldContext::TextAt(std::int32_t off, std::int32_t len, bool wideText) {
  // Only the bytes inside the buffer can contribute.
  textBudget -= std::min<Pos>(len < 0 ? 0 : len, buffer.Size());
  if (textBudget < 0) throw InternalError("decoded text exceeds what the package can hold");
  return GetText2(buffer, off, len, wideText);
}

std::string GetText2(const FileBuffer& buffer, std::int32_t offset, std::int32_t length, bool wide) {
  return DecodeText(buffer, offset, length, wide);
}

std::string OpenSISFile2(App& app) {
  Stores& st = app.stores;
  st.ListView2.Clear();
  st.ListView3.Clear();
  st.ListView4.Clear();
  OldContext ctx(app);
  {
    const std::string name = BaseName(app.state.currentFile);
    ctx.baseName = Trim(name.substr(0, name.find('.')));
  }

  const std::optional<std::int64_t> length = fsys::FileLength(app.state.currentFile);
  if (!length || *length == 0) return {};
  app.state.packageLength = *length;

  try {
    if (app.buffer.Size() != *length) OpenBinary(app.buffer, app.state.currentFile);
    if (GetData2(app.buffer, kUid3, 4, true) != "10000419") {
      return sis9::OpenSISFile3(app, app.state.currentFile);
    }
    return ReadPackage(ctx, *length);
  } catch (const std::exception&) {
    app.ui.MsgBox(kInternalError, msg::Critical, kProgramName);
    return {};
  }
}

}  // namespace tarvik::sis_old
