#include "support/sis_old_writer.hpp"

#include <zlib.h>

#include <stdexcept>

#include "bytes/encoding.hpp"

namespace tarvik::test {

namespace oldx {
OldExpr Cmp(std::uint32_t op, OldExpr a, OldExpr b) {
  OldExpr e;
  e.type = op;
  e.kids = {std::move(a), std::move(b)};
  return e;
}
OldExpr Eq(OldExpr a, OldExpr b) { return Cmp(0, std::move(a), std::move(b)); }
OldExpr Ne(OldExpr a, OldExpr b) { return Cmp(1, std::move(a), std::move(b)); }
OldExpr And(OldExpr a, OldExpr b) { return Cmp(6, std::move(a), std::move(b)); }
OldExpr Or(OldExpr a, OldExpr b) { return Cmp(7, std::move(a), std::move(b)); }
OldExpr Not(OldExpr a) {
  OldExpr e;
  e.type = 11;
  e.kids = {std::move(a)};
  return e;
}
OldExpr Exists(std::string path) {
  OldExpr e;
  e.type = 8;
  e.kids = {Str(std::move(path))};
  return e;
}
OldExpr DevCap(std::uint32_t value) {
  OldExpr e;
  e.type = 9;
  e.kids = {Num(value)};
  return e;
}
OldExpr AppCap(std::uint32_t uid, std::uint32_t capability) {
  OldExpr e;
  e.type = 10;
  e.kids = {Num(uid), Num(capability)};
  return e;
}
OldExpr Str(std::string text) {
  OldExpr e;
  e.type = 12;
  e.text = std::move(text);
  return e;
}
OldExpr Var(std::uint32_t number) {
  OldExpr e;
  e.type = 13;
  e.value = number;
  return e;
}
OldExpr Num(std::uint32_t value) {
  OldExpr e;
  e.type = 14;
  e.value = value;
  return e;
}
}  // namespace oldx

OldRecord OldFile(std::string source, std::string dest, std::string data, std::uint32_t type, std::uint32_t details) {
  OldRecord r;
  r.kind = 0;
  r.fileType = type;
  r.details = details;
  r.source = std::move(source);
  r.dest = std::move(dest);
  r.data = {std::move(data)};
  return r;
}

OldRecord OldLangFile(std::string source, std::string dest, std::vector<std::string> data, std::uint32_t type) {
  OldRecord r;
  r.kind = 1;
  r.fileType = type;
  r.source = std::move(source);
  r.dest = std::move(dest);
  r.data = std::move(data);
  return r;
}

OldRecord OldIf(OldExpr e) {
  OldRecord r;
  r.kind = 3;
  r.expr = std::move(e);
  return r;
}
OldRecord OldElseIf(OldExpr e) {
  OldRecord r;
  r.kind = 4;
  r.expr = std::move(e);
  return r;
}
OldRecord OldElse() {
  OldRecord r;
  r.kind = 5;
  return r;
}
OldRecord OldEndIf() {
  OldRecord r;
  r.kind = 6;
  return r;
}
OldRecord OldOptions(std::vector<std::vector<std::string>> options) {
  OldRecord r;
  r.kind = 2;
  r.options = std::move(options);
  return r;
}

namespace {

class Writer {
 public:
  explicit Writer(const OldPackage& pkg) : pkg_(pkg) {}

  Bytes Build(OldLayout& layout) {
    const bool r6 = pkg_.Release6Layout();
    const std::size_t n = pkg_.languageCount ? *pkg_.languageCount : pkg_.languages.size();
    const std::size_t headerSize = r6 ? 100 : 68;
    out_.assign(headerSize, 0);
    Put32At(0, pkg_.uid1);
    Put32At(4, pkg_.uid2);
    Put32At(8, pkg_.uid3);
    Put16At(18, static_cast<std::uint16_t>(n));
    Put16At(20, pkg_.recordCount ? *pkg_.recordCount : static_cast<std::uint16_t>(pkg_.records.size()));
    Put16At(22, static_cast<std::uint16_t>(pkg_.requisites.size()));
    Put16At(28, '!');
    Put16At(30, static_cast<std::uint16_t>(pkg_.capabilities.size()));
    Put32At(32, pkg_.installerVersion);
    Put16At(36, pkg_.options);
    Put16At(38, pkg_.type);
    Put16At(40, pkg_.major);
    Put16At(42, pkg_.minor);
    Put32At(44, pkg_.variant);

    Put32At(48, static_cast<std::uint32_t>(out_.size()));
    for (std::uint16_t lang : pkg_.languages) Put16(lang);

    Put32At(52, static_cast<std::uint32_t>(out_.size()));
    for (const OldRecord& rec : pkg_.records) {
      layout.recordOffsets.push_back(out_.size());
      layout.dataOffsets.emplace_back();
      layout.storedLengths.emplace_back();
      Record(rec, r6, n, layout);
    }

    Put32At(56, static_cast<std::uint32_t>(out_.size()));
    for (const OldRequisite& req : pkg_.requisites) {
      Put32(req.uid);
      Put16(req.major);
      Put16(req.minor);
      Put32(req.variant);
      TextBlock(req.names);
    }

    Put32At(64, static_cast<std::uint32_t>(out_.size()));
    TextBlock(pkg_.names);

    if (r6) {
      Put32At(72, static_cast<std::uint32_t>(out_.size()));
      for (const auto& [key, value] : pkg_.capabilities) {
        Put32(key);
        Put32(value);
      }
    }

    // Texts and data, then the pointers to them.
    for (const Deferred& d : deferred_) {
      const std::size_t at = out_.size();
      out_.insert(out_.end(), d.bytes.begin(), d.bytes.end());
      if (d.lengthField != kNone) Put32At(d.lengthField, static_cast<std::uint32_t>(d.bytes.size()));
      Put32At(d.offsetField, static_cast<std::uint32_t>(at));
      if (d.dataSlot) layout.dataOffsets[d.recordIndex][d.entry] = at;
    }
    return out_;
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  struct Deferred {
    std::size_t lengthField = kNone;
    std::size_t offsetField = 0;
    Bytes bytes;
    bool dataSlot = false;
    std::size_t recordIndex = 0, entry = 0;
  };

  void Put16(std::uint16_t v) {
    out_.push_back(static_cast<std::uint8_t>(v));
    out_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void Put32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Put16At(std::size_t at, std::uint16_t v) {
    out_[at] = static_cast<std::uint8_t>(v);
    out_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void Put32At(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }

  Bytes Encode(const std::string& utf8, bool wide) const {
    std::string s = wide ? Utf8ToUtf16Le(utf8) : Utf8ToCp1252(utf8);
    return Bytes(s.begin(), s.end());
  }

  // A text whose length and offset words are at the given positions.
  void DeferText(std::size_t lengthField, std::size_t offsetField, const std::string& text, bool wide) {
    Deferred d;
    d.lengthField = lengthField;
    d.offsetField = offsetField;
    d.bytes = Encode(text, wide);
    deferred_.push_back(std::move(d));
  }

  // N lengths then N offsets, one text per language.
  void TextBlock(const std::vector<std::string>& texts) {
    const std::size_t lengths = out_.size();
    for (std::size_t i = 0; i < texts.size(); ++i) Put32(0);
    const std::size_t offsets = out_.size();
    for (std::size_t i = 0; i < texts.size(); ++i) Put32(0);
    for (std::size_t i = 0; i < texts.size(); ++i) DeferText(lengths + 4 * i, offsets + 4 * i, texts[i], pkg_.Unicode());
  }

  void Expr(const OldExpr& e) {
    Put32(e.type);
    switch (e.type) {
      case 12: {
        const std::size_t at = out_.size();
        Put32(0);
        Put32(0);
        DeferText(at, at + 4, e.text, pkg_.Unicode());
        return;
      }
      case 13:
      case 14:
        Put32(e.value);
        Put32(e.unused);
        return;
      default:
        for (const OldExpr& k : e.kids) Expr(k);
    }
  }

  void Record(const OldRecord& rec, bool r6, std::size_t n, OldLayout& layout) {
    if (rec.raw) {
      out_.insert(out_.end(), rec.raw->begin(), rec.raw->end());
      return;
    }
    Put32(rec.kind);
    switch (rec.kind) {
      case 0:
      case 1: {
        Put32(rec.fileType);
        Put32(rec.details);
        const std::size_t names = out_.size();
        for (int i = 0; i < 4; ++i) Put32(0);
        DeferText(names, names + 4, rec.source, pkg_.Unicode());
        DeferText(names + 8, names + 12, rec.dest, pkg_.Unicode());
        const std::size_t entries = rec.data.size();
        const std::size_t lengths = out_.size();
        for (std::size_t i = 0; i < entries; ++i) Put32(0);
        const std::size_t offsets = out_.size();
        for (std::size_t i = 0; i < entries; ++i) Put32(0);
        const bool compress = r6 && (pkg_.options & 0x0008) == 0;
        for (std::size_t i = 0; i < entries; ++i) {
          Deferred d;
          d.offsetField = offsets + 4 * i;
          d.lengthField = lengths + 4 * i;
          d.bytes = compress ? Deflate(rec.data[i]) : Bytes(rec.data[i].begin(), rec.data[i].end());
          d.dataSlot = true;
          d.recordIndex = layout.recordOffsets.size() - 1;
          d.entry = i;
          layout.dataOffsets.back().push_back(0);
          layout.storedLengths.back().push_back(d.bytes.size());
          deferred_.push_back(std::move(d));
        }
        if (r6) {
          for (std::size_t i = 0; i < entries; ++i) Put32(static_cast<std::uint32_t>(rec.data[i].size()));
          const std::size_t mime = out_.size();
          Put32(0);
          Put32(0);
          if (!rec.mime.empty()) {
            Deferred d;
            d.lengthField = mime;
            d.offsetField = mime + 4;
            d.bytes = Bytes(rec.mime.begin(), rec.mime.end());
            deferred_.push_back(std::move(d));
          }
        }
        return;
      }
      case 2: {
        Put32(static_cast<std::uint32_t>(rec.options.size()));
        for (const auto& names : rec.options) TextBlock(names);
        for (int i = 0; i < 4; ++i) Put32(0xFFFFFFFF);
        return;
      }
      case 3:
      case 4: {
        const std::size_t sizeField = out_.size();
        Put32(0);
        const std::size_t start = out_.size();
        if (rec.expr) Expr(*rec.expr);
        Put32At(sizeField, static_cast<std::uint32_t>(out_.size() - start));
        return;
      }
      default:
        (void)n;
        return;
    }
  }

  static Bytes Deflate(const std::string& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
      throw std::runtime_error("compress2 failed");
    }
    out.resize(size);
    return out;
  }

  const OldPackage& pkg_;
  Bytes out_;
  std::vector<Deferred> deferred_;
};

}  // namespace

Bytes BuildOldSis(const OldPackage& pkg, OldLayout& layout) { return Writer(pkg).Build(layout); }

Bytes BuildOldSis(const OldPackage& pkg) {
  OldLayout layout;
  return BuildOldSis(pkg, layout);
}

}  // namespace tarvik::test
