#include "writer/package_parts.hpp"

#include <fstream>
#include <iterator>

#include "bytes/field_reader.hpp"
#include "bytes/inflate.hpp"
#include "sis9/parser.hpp"
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

std::string SplitPackage(const Bytes& file, PackageParts& parts) {
  const model::Package p = sis9::ParsePackage(file, "package");
  if (p.generation != model::Generation::Sis9 || !p.controllerRead) return "not a readable Symbian 9.x package";
  parts.uid = p.uid;
  parts.stub = p.stub;
  if (p.stub) return SplitMembers(file, parts);
  if (!p.frame) return "the package has no frame";
  parts.controllerAlgorithm = p.frame->controllerAlgorithm;
  Bytes controller;
  if (sis9::ReadControllerBytes(file, *p.frame, [&](const std::uint8_t* d, std::size_t n) {
        controller.insert(controller.end(), d, d + n);
        return true;
      }) != zstatus::Ok)
    return "the controller cannot be inflated";
  const std::string why = SplitMembers(controller, parts);
  if (!why.empty()) return why;
  RawField contents;
  if (!ReadRawField(file, 16, file.size(), contents) || contents.type != sistype::Contents) return "no package contents";
  const std::size_t end = contents.value + static_cast<std::size_t>(contents.length);
  RawField f;
  for (std::size_t at = contents.value; at < end && ReadRawField(file, at, end, f); at = f.next) {
    const auto whole = [&] { return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(f.next)); };
    if (f.type == sistype::DataChecksum) parts.dataChecksumField = whole();
    if (f.type == sistype::Data) parts.dataField = whole();
  }
  return parts.dataField.empty() ? "the package has no data section" : std::string();
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

std::string WriteWhole(const std::string& path, const Bytes& bytes, unsigned mode) {
  Output out(path, mode);
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
