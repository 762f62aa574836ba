#include "project/project.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>

#include "bytes/encoding.hpp"
#include "bytes/inflate.hpp"
#include "platform/platform.hpp"

namespace tarvik::project {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kMaxDirValue = 0xFFFF;
constexpr std::size_t kMaxCode = 255 - kShift;  // 235: the shifted code must fit in a byte

// The time of day, as the system writes it.
std::string TimeOfDay() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::array<char, 32> buf{};
  const std::size_t n = std::strftime(buf.data(), buf.size(), "%X", &local);
  return std::string(buf.data(), n);
}

std::string InvalidFileMessage(const std::string& path) {
  return "Error openning file, " + path + kCrLf + "Invalid Brimond Session File.";
}

std::string SaveFailedMessage(const std::string& path) { return "Error while saving " + path; }

// The `length` characters of `text` from the 1-based position `start`, clipped to the text;
// a start before the text gives nothing.
std::string_view Mid(std::string_view text, std::uint64_t start, std::uint64_t length) {
  if (start < 1 || start > text.size()) return {};
  return text.substr(static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(std::min<std::uint64_t>(length, text.size())));
}

std::string_view MidToEnd(std::string_view text, std::uint64_t start) {
  if (start < 1 || start > text.size()) return {};
  return text.substr(static_cast<std::size_t>(start) - 1);
}

// The value of hexadecimal digits; 0 for text that is not all digits.
std::uint64_t HexOr0(std::string_view text) { return HexValue(text).value_or(0); }

std::string U4(std::size_t value) { return HexText(value, 4); }

std::string CodePointText(char32_t cp) {
  std::string hex = HexText(static_cast<std::uint64_t>(cp));
  while (hex.size() < 4) hex.insert(hex.begin(), '0');
  return "U+" + hex;
}

}  // namespace

std::optional<std::string> BuildRecordText(bool sis9, std::string_view carriedText,
                                           std::string_view timeText, std::string_view pkgText) {
  const std::array<std::string_view, 6> items = {
      kItemUnnamed, sis9 ? kItem9 : kItemPre9, kItemMaker, kItemUnnamed, carriedText, timeText};
  std::string text = kRecordMagic;
  std::size_t pos = kFirstItemPos;
  for (const auto& item : items) {
    if (item.size() > kMaxDirValue || pos > kMaxDirValue) return std::nullopt;
    text += U4(item.size()) + U4(pos);
    pos += item.size();
  }
  for (const auto& item : items) text += item;
  text += pkgText;
  return text;
}

Bytes EncodePayload(std::string_view recordText) {
  Bytes out(recordText.size() * 2, 0);
  for (std::size_t k = 0; k < recordText.size(); ++k)
    out[2 * k] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(recordText[k]) + kShift);
  return out;
}

std::optional<char32_t> FirstUnsavableChar(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const char32_t cp = NextUtf8(text, i);
    const auto code = UnicodeToCp1252(cp);
    if (!code || *code > kMaxCode) return cp;
  }
  return std::nullopt;
}

std::optional<Failure> SaveProject(const std::string& fileName, const std::string& projectText,
                                   const std::string& carriedText, bool sis9) {
  // Every character must survive the trip: refuse, naming the first that cannot.
  for (const std::string* part : {&carriedText, &projectText}) {
    if (const auto bad = FirstUnsavableChar(*part)) {
      std::string shown;
      AppendUtf8(shown, *bad);
      return Failure{SaveFailedMessage(fileName) + kCrLf + "The character \"" + shown + "\" (" + CodePointText(*bad) +
                     ") cannot be stored in a Brimond Session File."};
    }
  }
  const auto record =
      BuildRecordText(sis9, Utf8ToCp1252(carriedText), TimeOfDay(), Utf8ToCp1252(projectText));
  // The directory and the header have fixed widths for their numbers.
  if (!record || record->size() * 2 > 0xFFFFFFFFu)
    return Failure{SaveFailedMessage(fileName) + kCrLf + "The text is too long for a Brimond Session File."};
  const Bytes payload = EncodePayload(*record);
  Bytes packed;
  const int status = Compress(payload.data(), payload.size(), packed);
  if (status == zstatus::BufError) return Failure{"Buffer too small", true};
  if (status == zstatus::MemError) return Failure{"Insufficient memory", true};
  if (status != zstatus::Ok) return Failure{SaveFailedMessage(fileName)};
  std::string file = std::string(kSessionMagic) + HexText(payload.size(), 8) + (sis9 ? "1" : "0");
  file.append(reinterpret_cast<const char*>(packed.data()), packed.size());
  if (!fsys::WriteFileAtomic(fileName, file)) return Failure{SaveFailedMessage(fileName)};
  return std::nullopt;
}

Session OpenProject(std::span<const std::uint8_t> file, const std::string& path,
                    const std::function<void()>& pulse) {
  Session session;
  // The header text: the first 12 bytes without their zero bytes.
  std::string header;
  for (std::size_t i = 0; i < file.size() && i < kHeaderSize; ++i)
    if (file[i] != 0) header += static_cast<char>(file[i]);
  if (EndsWithNoCase(path, ".qsd") && ToUpper(header.substr(0, 3)) != kSessionMagic) {
    session.error = InvalidFileMessage(path);
    return session;
  }
  const std::uint64_t size = HexOr0(header.size() > 3 ? header.substr(3, 8) : std::string());
  const std::uint64_t kind = HexOr0(header.size() > 11 ? header.substr(11, 1) : std::string());
  session.sis9 = kind != 0;
  if (file.size() <= kHeaderSize || size == 0) {
    // Nothing to decompress: not a session this program can read.
    session.error = InvalidFileMessage(path);
    return session;
  }

  const std::uint64_t n = size;
  const std::string expected = std::to_string(size);
  Bytes payload;
  const int status = Uncompress(file.data() + kHeaderSize, file.size() - kHeaderSize, n, payload);
  if (status != zstatus::Ok) {
    if (status == zstatus::MemError)
      session.error = "Internal Error: Insufficient memory, expected memory allocate " + expected;
    else if (status == zstatus::BufError)
      session.error = "Internal Error: Buffer too small, expected memory allocate " + expected;
    else
      session.error = "Error to open file: Input file corrupted, expected file size " + expected;
    return session;
  }

  // Decode: zero bytes are skipped, every other byte is a character code + 20.
  // A long decode lets the window handle its events now and then.
  constexpr std::size_t kEventsEvery = 1u << 20;
  std::string record;
  record.reserve(payload.size() / 2);
  for (std::size_t i = 0; i < payload.size(); ++i) {
    if (pulse && i % kEventsEvery == kEventsEvery - 1) pulse();
    const std::uint8_t b = payload[i];
    if (b == 0) continue;
    if (b < kShift) {
      session.error = InvalidFileMessage(path);
      return session;
    }
    record += static_cast<char>(b - kShift);
  }

  const std::string_view rec(record);
  const std::uint64_t firstPos = HexOr0(Mid(rec, 18, 4));
  if (ToLower(Mid(rec, 1, 7)) != "brimond" || firstPos != kFirstItemPos) {
    session.error = InvalidFileMessage(path);
    return session;
  }
  auto entryLength = [&](int k) { return HexOr0(Mid(rec, 14 + 8 * (k - 1), 4)); };
  auto entryPos = [&](int k) { return HexOr0(Mid(rec, 18 + 8 * (k - 1), 4)); };
  session.carriedText = Cp1252ToUtf8(Mid(rec, entryPos(5), entryLength(5)));
  session.pkgText = Cp1252ToUtf8(MidToEnd(rec, entryPos(6) + entryLength(6)));
  return session;
}

bool SaveText(const std::string& fileName, std::string_view text) {
  std::optional<char32_t> bad;
  std::string bytes = Utf8ToCp1252(text, &bad);
  if (bad) {
    // Not every character fits the code page: UTF-16LE with its byte-order mark loses none.
    bytes = "\xFF\xFE" + Utf8ToUtf16Le(text);
  }
  return fsys::WriteFileAtomic(fileName, bytes);
}

}  // namespace tarvik::project
