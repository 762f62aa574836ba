#include "writer/package_parts.hpp"

#include <fstream>
#include <iterator>

#include "bytes/field_reader.hpp"
#include "bytes/inflate.hpp"
#include "writer/output.hpp"

namespace tarvik::writer::detail {

namespace {

constexpr std::uint32_t kSisUid1 = 0x10201A7A;

// Finds the members of `controller` (a whole controller field at 0).
std::string SplitMembers(const Bytes& controller, PackageParts& parts) {
  RawField field;
  if (!ReadRawField(controller, 0, controller.size(), field) || field.type != sistype::Controller)
    return "the controller cannot be read";
  parts.members.assign(controller.begin() + static_cast<std::ptrdiff_t>(field.value),
                       controller.begin() + static_cast<std::ptrdiff_t>(field.value + field.length));
  bool sawIndex = false;
  RawField m;
  for (std::size_t at = 0; at < parts.members.size(); at = m.next) {
    if (!ReadRawField(parts.members, at, parts.members.size(), m)) return "the controller is damaged";
    if (m.type == sistype::SignatureCertificateChain) {
      parts.lastChainAt = at;
      parts.lastChainEnd = m.next;
      ++parts.chains;
    }
    sawIndex = m.type == sistype::DataIndex;
    if (sawIndex) parts.dataIndexAt = at;
  }
  return sawIndex ? std::string() : "the controller does not end with its data index";
}

}  // namespace

namespace {

// Largest controller read: real ones are kilobytes to a few megabytes.
constexpr std::uint64_t kMaxController = std::uint64_t{128} << 20;

std::string ReadController(const Bytes& file, const RawField& f, PackageFrame& frame) {
  if (f.length < 12) return "the controller field is too short";
  frame.controllerAlgorithm = Word(file, f.value);
  const std::uint64_t size = Word(file, f.value + 4) | static_cast<std::uint64_t>(Word(file, f.value + 8)) << 32;
  const std::uint8_t* payload = file.data() + f.value + 12;
  const std::size_t length = static_cast<std::size_t>(f.length - 12);
  if (size > kMaxController) return "the controller is larger than any real one";
  if (frame.controllerAlgorithm == 0) {
    if (size > length) return "the controller is cut short";
    frame.controller.assign(payload, payload + size);
  } else if (Uncompress(payload, length, size, frame.controller) != zstatus::Ok) {
    return "the controller cannot be inflated";
  }
  return {};
}

// The package UID from the controller's package information.
std::string ReadUid(PackageFrame& frame) {
  RawField controller, info, uid;
  const Bytes& c = frame.controller;
  if (!ReadRawField(c, 0, c.size(), controller) || controller.type != sistype::Controller ||
      !ReadRawField(c, controller.value, controller.value + controller.length, info) || info.type != sistype::Info ||
      !ReadRawField(c, info.value, info.value + info.length, uid) || uid.type != sistype::Uid || uid.length < 4)
    return "the controller has no package information";
  frame.uid = Word(c, uid.value);
  return {};
}

}  // namespace

std::string ReadFrame(const Bytes& file, PackageFrame& frame) {
  if (file.size() >= 8 && Word(file, 0) == sistype::Controller) {
    frame.stub = true;
    frame.controller = file;
    return ReadUid(frame);
  }
  RawField contents;
  if (file.size() < 16 || Word(file, 0) != kSisUid1 || !ReadRawField(file, 16, file.size(), contents) ||
      contents.type != sistype::Contents)
    return "not a readable Symbian 9.x package";
  const std::size_t end = contents.value + static_cast<std::size_t>(contents.length);
  RawField f;
  for (std::size_t at = contents.value; at < end && ReadRawField(file, at, end, f); at = f.next) {
    const auto whole = [&] { return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(f.next)); };
    if (f.type == sistype::DataChecksum) frame.dataChecksumField = whole();
    if (f.type == sistype::Data) frame.dataField = whole(), frame.dataFieldAt = at;
    if (f.type == sistype::Compressed && frame.controller.empty()) {
      const std::string why = ReadController(file, f, frame);
      if (!why.empty()) return why;
    }
  }
  if (frame.controller.empty()) return "the package has no controller";
  if (frame.dataField.empty()) return "the package has no data section";
  return ReadUid(frame);
}

std::string SplitPackage(const Bytes& file, PackageParts& parts) {
  PackageFrame frame;
  const std::string why = ReadFrame(file, frame);
  if (!why.empty()) return why;
  parts.uid = frame.uid;
  parts.stub = frame.stub;
  parts.controllerAlgorithm = frame.controllerAlgorithm;
  parts.dataField = std::move(frame.dataField);
  parts.dataChecksumField = std::move(frame.dataChecksumField);
  return SplitMembers(frame.controller, parts);
}

Bytes JoinPackage(const PackageParts& parts, std::string& error) {
  Bytes controller;
  PutField(controller, sistype::Controller, parts.members);
  if (parts.stub) return controller;
  Bytes payload;
  const bool deflated = parts.controllerAlgorithm == 1;
  if (deflated && Compress(controller.data(), controller.size(), payload) != 0) {
    error = "cannot deflate the controller";
    return {};
  }
  const Bytes& body = deflated ? payload : controller;
  Bytes compressed;
  PutFieldHeader(compressed, sistype::Compressed, 12 + body.size());
  PutU32(compressed, deflated ? 1 : 0);
  PutU64(compressed, controller.size());
  compressed.insert(compressed.end(), body.begin(), body.end());
  PutPadding(compressed);
  Bytes dataChecksum = parts.dataChecksumField;
  if (dataChecksum.empty()) {
    PutFieldHeader(dataChecksum, sistype::DataChecksum, 2);
    PutU32(dataChecksum, Crc16(parts.dataField.data(), parts.dataField.size()));
  }
  Bytes out;
  PutU32(out, kSisUid1);
  PutU32(out, 0);
  PutU32(out, parts.uid);
  PutU32(out, UidChecksum(kSisUid1, 0, parts.uid));
  PutFieldHeader(out, sistype::Contents, 12 + dataChecksum.size() + compressed.size() + parts.dataField.size());
  PutFieldHeader(out, sistype::ControllerChecksum, 2);
  PutU32(out, Crc16(compressed.data(), compressed.size()));
  out.insert(out.end(), dataChecksum.begin(), dataChecksum.end());
  out.insert(out.end(), compressed.begin(), compressed.end());
  out.insert(out.end(), parts.dataField.begin(), parts.dataField.end());
  return out;
}

std::string WriteWhole(const std::string& path, const Bytes& bytes, unsigned mode,
                       const std::function<void(const std::string& path, bool made)>& tempFile) {
  Output out(path, mode, tempFile);
  out.Put(bytes);
  if (!out.Commit()) return "cannot write " + path + ": " + out.error();
  return {};
}

Bytes ReadFileBytes(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return {};
  }
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tarvik::writer::detail
