#pragma once

// Writers of small, exact compound files and BIFF records, so that tests (and the benchmark
// generator) can make any .xls workbook, healthy or broken, record by record.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cellverter::testing_support {

inline std::string Le16(uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)};
}
inline std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
inline std::string Le64(uint64_t v) {
  return Le32(static_cast<uint32_t>(v)) + Le32(static_cast<uint32_t>(v >> 32));
}
inline std::string F64(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  return Le64(bits);
}
inline void Put32(std::string& bytes, size_t offset, uint32_t v) {
  bytes.replace(offset, 4, Le32(v));
}

// ---------------------------------------------------------------------------------------
// Compound file (MS-CFB) writer.

struct CompoundLayout {
  std::string bytes;
  uint32_t sectorSize = 512;
  std::vector<uint32_t> fatSectors;
  std::vector<uint32_t> difatSectors;
  uint32_t directorySector = 0;
  std::vector<uint32_t> streamStart;  // per stream: first (mini) sector
  std::vector<bool> streamMini;

  uint64_t SectorOffset(uint32_t sector) const { return (uint64_t{sector} + 1) * sectorSize; }
  // File offset of FAT entry `sector`.
  uint64_t FatEntryOffset(uint32_t sector) const {
    const uint32_t perSector = sectorSize / 4;
    return SectorOffset(fatSectors[sector / perSector]) + (sector % perSector) * 4;
  }
  void SetFatEntry(uint32_t sector, uint32_t value) { Put32(bytes, FatEntryOffset(sector), value); }
};

constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;

// Writes root-level streams. Streams under 4096 bytes go to the mini stream unless
// `allowMini` is false. `sectorShift` 9 gives version 3 (512-byte sectors), 12 version 4.
inline CompoundLayout WriteCompoundFile(
    const std::vector<std::pair<std::string, std::string>>& streams, int sectorShift = 9,
    bool allowMini = true) {
  CompoundLayout out;
  const uint32_t ss = 1u << sectorShift;
  out.sectorSize = ss;
  const uint32_t perSector = ss / 4;
  auto sectorsFor = [&](uint64_t size) { return static_cast<uint32_t>((size + ss - 1) / ss); };

  // The mini stream.
  std::string miniStream;
  std::vector<uint32_t> miniFat;
  std::vector<uint32_t> regularSectors(streams.size(), 0);
  for (const auto& [name, data] : streams) {
    const bool mini = allowMini && data.size() < 4096;
    out.streamMini.push_back(mini);
    if (mini && !data.empty()) {
      const uint32_t first = static_cast<uint32_t>(miniStream.size() / 64);
      const uint32_t count = static_cast<uint32_t>((data.size() + 63) / 64);
      for (uint32_t i = 0; i < count; ++i)
        miniFat.push_back(i + 1 < count ? first + i + 1 : kEndOfChain);
      miniStream += data;
      miniStream.resize((miniStream.size() + 63) / 64 * 64, '\0');
      out.streamStart.push_back(first);
    } else {
      out.streamStart.push_back(kEndOfChain);
    }
  }
  const uint32_t directorySectors = sectorsFor((streams.size() + 1) * 128);
  const uint32_t miniFatSectors = sectorsFor(miniFat.size() * 4);
  const uint32_t miniStreamSectors = sectorsFor(miniStream.size());
  uint32_t content = directorySectors + miniFatSectors + miniStreamSectors;
  for (size_t i = 0; i < streams.size(); ++i) {
    if (!out.streamMini[i]) content += sectorsFor(streams[i].second.size());
  }
  uint32_t fatCount = 1, difatCount = 0;
  for (;;) {
    difatCount = fatCount > 109 ? (fatCount - 109 + perSector - 2) / (perSector - 1) : 0;
    if (uint64_t{fatCount} * perSector >= fatCount + difatCount + content) break;
    ++fatCount;
  }
  const uint32_t total = fatCount + difatCount + content;
  std::vector<uint32_t> fat(uint64_t{fatCount} * perSector, kFreeSector);
  uint32_t next = 0;
  auto chain = [&](uint32_t count) {
    const uint32_t first = count ? next : kEndOfChain;
    for (uint32_t i = 0; i < count; ++i, ++next) fat[next] = i + 1 < count ? next + 1 : kEndOfChain;
    return first;
  };
  for (uint32_t i = 0; i < fatCount; ++i, ++next) {
    out.fatSectors.push_back(next);
    fat[next] = 0xFFFFFFFD;
  }
  for (uint32_t i = 0; i < difatCount; ++i, ++next) {
    out.difatSectors.push_back(next);
    fat[next] = 0xFFFFFFFC;
  }
  out.directorySector = chain(directorySectors);
  const uint32_t miniFatStart = chain(miniFatSectors);
  const uint32_t miniStreamStart = chain(miniStreamSectors);
  for (size_t i = 0; i < streams.size(); ++i) {
    if (!out.streamMini[i]) {
      regularSectors[i] = chain(sectorsFor(streams[i].second.size()));
      out.streamStart[i] = regularSectors[i];
    }
  }

  std::string header = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(16, '\0');
  header += Le16(0x3E) + Le16(sectorShift == 9 ? 3 : 4) + Le16(0xFFFE) + Le16(sectorShift) +
            Le16(6) + std::string(6, '\0');
  header += Le32(sectorShift == 9 ? 0 : directorySectors) + Le32(fatCount) +
            Le32(out.directorySector) + Le32(0) + Le32(4096);
  header += Le32(miniFatSectors ? miniFatStart : kEndOfChain) + Le32(miniFatSectors);
  header += Le32(difatCount ? out.difatSectors[0] : kEndOfChain) + Le32(difatCount);
  for (uint32_t i = 0; i < 109; ++i) header += Le32(i < fatCount ? out.fatSectors[i] : kFreeSector);
  header.resize(ss, '\0');

  std::string body(uint64_t{total} * ss, '\0');
  auto sectorData = [&](uint32_t s) { return body.data() + uint64_t{s} * ss; };
  for (uint32_t i = 0; i < fatCount; ++i) {
    for (uint32_t k = 0; k < perSector; ++k) {
      std::memcpy(sectorData(out.fatSectors[i]) + 4 * k, Le32(fat[i * perSector + k]).data(), 4);
    }
  }
  for (uint32_t d = 0; d < difatCount; ++d) {
    for (uint32_t k = 0; k + 1 < perSector; ++k) {
      const uint32_t index = 109 + d * (perSector - 1) + k;
      std::memcpy(sectorData(out.difatSectors[d]) + 4 * k,
                  Le32(index < fatCount ? out.fatSectors[index] : kFreeSector).data(), 4);
    }
    const uint32_t following = d + 1 < difatCount ? out.difatSectors[d + 1] : kEndOfChain;
    std::memcpy(sectorData(out.difatSectors[d]) + ss - 4, Le32(following).data(), 4);
  }
  auto entry = [&](const std::string& name, uint8_t type, uint32_t right, uint32_t child,
                   uint32_t start, uint64_t size) {
    std::string e;
    for (char c : name) e += Le16(static_cast<uint8_t>(c));
    e += Le16(0);
    e.resize(64, '\0');
    e += Le16(static_cast<uint32_t>(name.size() + 1) * 2);
    e += static_cast<char>(type);
    e += '\1';  // black
    e += Le32(kFreeSector) + Le32(right) + Le32(child) + std::string(16 + 4 + 16, '\0');
    e += Le32(start) + Le64(size);
    return e;
  };
  std::string directory =
      entry("Root Entry", 5, kFreeSector, streams.empty() ? kFreeSector : 1,
            miniStreamSectors ? miniStreamStart : kEndOfChain, miniStream.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    const uint32_t right = i + 1 < streams.size() ? static_cast<uint32_t>(i + 2) : kFreeSector;
    directory += entry(streams[i].first, 2, right, kFreeSector,
                       streams[i].second.empty() ? kEndOfChain : out.streamStart[i],
                       streams[i].second.size());
  }
  while (directory.size() < uint64_t{directorySectors} * ss) {
    directory += std::string(64 + 2 + 2, '\0') + Le32(kFreeSector) + Le32(kFreeSector) +
                 Le32(kFreeSector) + std::string(128 - 80, '\0');
  }
  std::memcpy(sectorData(out.directorySector), directory.data(), directory.size());
  for (size_t i = 0; i < miniFat.size(); ++i) {
    std::memcpy(sectorData(miniFatStart) + 4 * i, Le32(miniFat[i]).data(), 4);
  }
  for (size_t i = miniFat.size(); i < uint64_t{miniFatSectors} * perSector; ++i) {
    std::memcpy(sectorData(miniFatStart) + 4 * i, Le32(kFreeSector).data(), 4);
  }
  if (!miniStream.empty())
    std::memcpy(sectorData(miniStreamStart), miniStream.data(), miniStream.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    if (!out.streamMini[i] && !streams[i].second.empty()) {
      std::memcpy(sectorData(regularSectors[i]), streams[i].second.data(),
                  streams[i].second.size());
    }
  }
  out.bytes = header + body;
  return out;
}

// ---------------------------------------------------------------------------------------
// BIFF records.

inline std::string Record(uint16_t type, const std::string& data) {
  return Le16(type) + Le16(static_cast<uint32_t>(data.size())) + data;
}

// BIFF8 string bodies: "compressed" (one byte per character, Latin-1) or UTF-16LE.
inline std::string Compressed(std::string_view latin1) {
  return Le16(static_cast<uint32_t>(latin1.size())) + '\0' + std::string(latin1);
}
inline std::string Utf16(std::u16string_view text) {
  std::string s = Le16(static_cast<uint32_t>(text.size())) + '\1';
  for (char16_t c : text) s += Le16(c);
  return s;
}

inline std::string Bof(uint16_t substream, bool biff8 = true) {
  return Record(0x0809, Le16(biff8 ? 0x0600 : 0x0500) + Le16(substream) +
                            (biff8 ? Le16(0x0DBB) + Le16(0x07CC) + Le32(0) + Le32(0x06)
                                   : Le16(0x0DBB) + Le16(0x07CC)));
}
inline std::string Eof() { return Record(0x000A, ""); }
inline std::string Xf(uint16_t format) {
  return Record(0x00E0, Le16(0) + Le16(format) + std::string(16, '\0'));
}
inline std::string Format8(uint16_t id, std::string_view code) {
  return Record(0x041E, Le16(id) + Compressed(code));
}
inline std::string CellHead(uint16_t row, uint16_t col, uint16_t xf) {
  return Le16(row) + Le16(col) + Le16(xf);
}
inline std::string Number(uint16_t row, uint16_t col, double v, uint16_t xf = 0) {
  return Record(0x0203, CellHead(row, col, xf) + F64(v));
}
inline std::string Rk(uint16_t row, uint16_t col, uint32_t rk, uint16_t xf = 0) {
  return Record(0x027E, CellHead(row, col, xf) + Le32(rk));
}
inline std::string LabelSst(uint16_t row, uint16_t col, uint32_t index, uint16_t xf = 0) {
  return Record(0x00FD, CellHead(row, col, xf) + Le32(index));
}
inline std::string Blank(uint16_t row, uint16_t col, uint16_t xf = 15) {
  return Record(0x0201, CellHead(row, col, xf));
}
inline std::string BoolErr(uint16_t row, uint16_t col, uint8_t value, bool error, uint16_t xf = 0) {
  return Record(0x0205,
                CellHead(row, col, xf) + static_cast<char>(value) + static_cast<char>(error));
}
// A FORMULA record with an 8-byte cached result and the formula "=1".
inline std::string Formula(uint16_t row, uint16_t col, const std::string& result, uint16_t xf = 0) {
  return Record(0x0006,
                CellHead(row, col, xf) + result + Le16(0) + Le32(0) + Le16(3) + "\x1E\x01\x00");
}
inline std::string FormulaSpecial(uint8_t kind, uint8_t value) {
  return std::string{static_cast<char>(kind), 0, static_cast<char>(value), 0, 0, 0, '\xFF', '\xFF'};
}
inline std::string WsBool(bool dialog) { return Record(0x0081, Le16(dialog ? 0x04D1 : 0x04C1)); }

// A workbook stream: globals (BOF, `globals`, one BOUNDSHEET per sheet, EOF), then each
// sheet's substream (BOF of its kind, its records, EOF).
struct SheetSpec {
  uint8_t sheetType = 0;        // BOUNDSHEET dt: 0 worksheet/dialog, 1 macro, 2 chart, 6 module
  uint16_t substream = 0x0010;  // BOF dt: 0x10 worksheet/dialog, 0x20 chart, 0x40 macro
  uint8_t hidden = 0;
  std::string records;        // between BOF and EOF
  std::string name{"Sheet"};  // Latin-1 in BIFF8, the code page's bytes in BIFF5
  std::u16string wideName{};  // BIFF8: when given, the name is written as UTF-16 instead
};

// `afterList`: globals records written after the sheet list, before the globals' EOF.
inline std::string WorkbookStream(const std::string& globals, const std::vector<SheetSpec>& sheets,
                                  bool biff8 = true, const std::string& afterList = "") {
  std::string head = Bof(0x0005, biff8) + globals;
  auto boundSheet = [&](const SheetSpec& sheet, uint32_t offset) {
    const std::string& name = sheet.name;
    std::string nameField = static_cast<char>(name.size()) + name;
    if (biff8 && !sheet.wideName.empty()) {
      // ShortXLUnicodeString: a 1-byte count.
      nameField = static_cast<char>(sheet.wideName.size()) + Utf16(sheet.wideName).substr(2);
    } else if (biff8) {
      nameField = static_cast<char>(name.size()) + std::string(1, '\0') + name;
    }
    return Record(0x0085, Le32(offset) + static_cast<char>(sheet.hidden) +
                              static_cast<char>(sheet.sheetType) + nameField);
  };
  uint32_t globalsSize = static_cast<uint32_t>(head.size() + afterList.size() + Eof().size());
  for (const SheetSpec& sheet : sheets)
    globalsSize += static_cast<uint32_t>(boundSheet(sheet, 0).size());
  std::string body;
  std::string list;
  for (const SheetSpec& sheet : sheets) {
    list += boundSheet(sheet, globalsSize + static_cast<uint32_t>(body.size()));
    body += Bof(sheet.substream, biff8) + sheet.records + Eof();
  }
  return head + list + afterList + Eof() + body;
}

// SST with every string in one record.
inline std::string Sst(const std::vector<std::string>& bodies) {
  std::string data =
      Le32(static_cast<uint32_t>(bodies.size())) + Le32(static_cast<uint32_t>(bodies.size()));
  for (const std::string& body : bodies) data += body;
  return Record(0x00FC, data);
}

}  // namespace cellverter::testing_support
