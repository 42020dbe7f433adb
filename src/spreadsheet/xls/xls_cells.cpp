#include "spreadsheet/xls/xls_cells.h"

#include <algorithm>
#include <utility>

#include "platform/little_endian.h"

namespace cellverter::biff {
namespace {

// A new cell at the end of `out`, empty: its value is set in place, so that a text is copied
// once, from the record into the cell.
CellValue& AddCell(std::vector<SheetCell>& out, uint32_t column, uint16_t style) {
  SheetCell& cell = out.emplace_back();
  cell.column = column;
  cell.styleIndex = style;
  return cell.value;
}

}  // namespace

void CellDecoder::Rewind() {
  finished_ = false;
  pending_.clear();
  pendingRow_ = 0;
  nextIndex_ = 0;
  depth_ = sheet_.SheetDepth();
  reader_.Seek(sheet_.SheetOffset(), true);
}

// The next record of the worksheet that holds cells (sequential mode); false at its end.
bool CellDecoder::NextCellRecord() {
  while (!finished_ && reader_.Next()) {
    const uint16_t type = reader_.type();
    if (IsBof(type)) {
      ++depth_;
    } else if (type == kEof) {
      if (--depth_ == 0) finished_ = true;
    } else if (depth_ == 1 &&
               (IsCellRecord(type) || (oldCells_ != 0 && IsOldBiffCellRecord(type, oldCells_)))) {
      return true;
    }
  }
  finished_ = true;
  return false;
}

bool CellDecoder::ReadRow(SheetRow& row) {
  const std::vector<CellRecordPosition>& order = sheet_.Order();
  row.cells.clear();
  if (!pending_.empty()) {
    row.row = pendingRow_;
    row.cells.swap(pending_);
  }
  for (;;) {
    if (order.empty()) {
      if (!NextCellRecord()) break;
    } else {
      if (nextIndex_ >= order.size()) break;
      reader_.Seek(order[nextIndex_++].offset, false);
      reader_.Next();
    }
    const uint32_t recordRow = LoadLe16(reader_.data().data()) + 1;
    if (!row.cells.empty() && recordRow != row.row) {
      pendingRow_ = recordRow;
      DecodeCells(pending_);
      break;
    }
    row.row = recordRow;
    DecodeCells(row.cells);
  }
  if (row.cells.empty()) return false;
  auto byColumn = [](const SheetCell& a, const SheetCell& b) { return a.column < b.column; };
  if (!std::is_sorted(row.cells.begin(), row.cells.end(), byColumn)) {
    std::stable_sort(row.cells.begin(), row.cells.end(), byColumn);
  }
  // A column written twice keeps its last record.
  auto write = row.cells.begin();
  for (auto read = row.cells.begin(); read != row.cells.end(); ++read) {
    if (write != row.cells.begin() && (write - 1)->column == read->column) {
      *(write - 1) = std::move(*read);
    } else {
      if (write != read) *write = std::move(*read);
      ++write;
    }
  }
  row.cells.erase(write, row.cells.end());
  return true;
}

// The cells of the current record, appended to `out`.
void CellDecoder::DecodeCells(std::vector<SheetCell>& out) {
  const uint16_t type = reader_.type();
  const std::string_view data = reader_.data();
  const char* p = data.data();
  const uint32_t column = LoadLe16(p + 2) + 1u;
  // Read before anything else: a formula's text result moves the reader on.
  const uint16_t xf = data.size() >= 6 ? LoadLe16(p + 4) : 0;
  auto need = [&](size_t size) {
    if (data.size() < size) ThrowDamaged("a cell record is too short");
  };
  switch (type) {
    case kNumber:
      need(14);
      AddCell(out, column, xf) = CellValue::Number(F64(p + 6));
      break;
    case kRk:
      need(10);
      AddCell(out, column, xf) = CellValue::Number(RkValue(LoadLe32(p + 6)));
      break;
    case kMulRk: {
      const uint32_t last = MulLastColumn(type, data) + 1;
      for (uint32_t c = column, at = 4; c <= last; ++c, at += 6) {
        AddCell(out, c, LoadLe16(p + at)) = CellValue::Number(RkValue(LoadLe32(p + at + 2)));
      }
      break;
    }
    case kBlank:
      need(6);
      AddCell(out, column, xf);
      break;
    case kMulBlank: {
      const uint32_t last = MulLastColumn(type, data) + 1;
      for (uint32_t c = column, at = 4; c <= last; ++c, at += 2) AddCell(out, c, LoadLe16(p + at));
      break;
    }
    case kLabelSst: {
      need(10);
      const uint32_t index = LoadLe32(p + 6);
      CellValue& value = AddCell(out, column, xf);
      if (index >= globals_.SharedStringCount()) {
        // Excel and LibreOffice show such a cell empty.
        repairs_.Note(kMissingSharedStringRepair);
        break;
      }
      value.kind = CellValue::Kind::String;
      value.text = globals_.SharedString(index);
      break;
    }
    case kLabel:
    case kRString: {
      need(8);
      CellValue& value = AddCell(out, column, xf);
      value.kind = CellValue::Kind::String;
      ReadCellString(data.substr(6), value.text);
      break;
    }
    case kBoolErr:
      need(8);
      AddCell(out, column, xf) = p[7] ? CellValue::ErrorCode(ErrorText(static_cast<uint8_t>(p[6])))
                                      : CellValue::Boolean(p[6] != 0);
      break;
    case kFormula:
      if (biff2_) {
        DecodeOldBiffCell(out);
        break;
      }
      [[fallthrough]];
    case kFormulaBiff4:
      need(14);
      FormulaResult(p + 6, AddCell(out, column, xf));
      break;
    default:
      if (oldCells_ != 0) DecodeOldBiffCell(out);
      break;
  }
}

// A BIFF2 cell record: row, column, the 3-byte cell attributes, then the value. The second
// attribute byte holds the position of the cell's number format, which is its style index.
// Or a BIFF3 formula, which is BIFF4's.
void CellDecoder::DecodeOldBiffCell(std::vector<SheetCell>& out) {
  const uint16_t type = reader_.type();
  const std::string_view data = reader_.data();
  const char* p = data.data();
  auto need = [&](size_t size) {
    if (data.size() < size) ThrowDamaged("a cell record is too short");
  };
  if (type == kFormulaBiff3) {
    need(14);
    const uint16_t xf = LoadLe16(p + 4);
    FormulaResult(p + 6, AddCell(out, LoadLe16(p + 2) + 1u, xf));
    return;
  }
  need(7);
  const uint32_t column = LoadLe16(p + 2) + 1u;
  const uint16_t format = static_cast<uint8_t>(p[5]) & 0x3F;
  CellValue value;
  switch (type) {
    case kBlankBiff2:
      value = CellValue::Empty();
      break;
    case kIntegerBiff2:
      need(9);
      value = CellValue::Number(LoadLe16(p + 7));
      break;
    case kNumberBiff2:
      need(15);
      value = CellValue::Number(F64(p + 7));
      break;
    case kLabelBiff2: {
      need(8);
      const size_t count = static_cast<uint8_t>(p[7]);
      need(8 + count);
      std::string text;
      globals_.CodePage().Append(p + 8, count, text);
      value = CellValue::String(std::move(text));
      break;
    }
    case kBoolErrBiff2:
      need(9);
      value = p[8] ? CellValue::ErrorCode(ErrorText(static_cast<uint8_t>(p[7])))
                   : CellValue::Boolean(p[7] != 0);
      break;
    case kFormula:
      need(15);
      FormulaResult(p + 7, value);
      break;
    default:
      return;
  }
  out.push_back(SheetCell{column, format, std::move(value)});
}

// The text of LABEL / RSTRING (a short XLUnicodeString in BIFF8, code page text before),
// appended to `text`.
void CellDecoder::ReadCellString(std::string_view data, std::string& text) {
  if (globals_.Biff8()) {
    if (ReadBiff8StringInRecord(data, false, text) > 0) return;
    string_.Clear();
    string_.Append(data);
    ReadBiff8String(string_, false, text);
  } else {
    if (data.size() < 2) ThrowDamaged("a text cell is too short");
    const size_t count = LoadLe16(data.data());
    if (data.size() < 2 + count) ThrowDamaged("a text cell is too short");
    globals_.CodePage().Append(data.data() + 2, count, text);
  }
}

// The cached result of a FORMULA record (MS-XLS 2.5.133 FormulaValue). A text result is in
// the STRING record that follows the formula and its shared-formula/array records.
// Into `out`, an empty value.
void CellDecoder::FormulaResult(const char* value, CellValue& out) {
  if (static_cast<uint8_t>(value[6]) != 0xFF || static_cast<uint8_t>(value[7]) != 0xFF) {
    out = CellValue::Number(F64(value));
    return;
  }
  switch (value[0]) {
    case 0:
      out.kind = CellValue::Kind::String;
      FollowingString(out.text);
      break;
    case 1:
      out = CellValue::Boolean(value[2] != 0);
      break;
    case 2:
      out = CellValue::ErrorCode(ErrorText(static_cast<uint8_t>(value[2])));
      break;
    default:
      out.kind = CellValue::Kind::String;
      break;
  }
}

// Appended to `text`.
void CellDecoder::FollowingString(std::string& text) {
  while (reader_.Next()) {
    const uint16_t type = reader_.type();
    if (type == kShrFmla || type == kArray || type == kTable || (biff2_ && type == kArrayBiff2)) {
      continue;
    }
    if (type != kString && !(biff2_ && type == kStringBiff2)) {
      reader_.Unread();
      break;
    }
    if (globals_.Biff8()) {
      string_.Clear();
      string_.Append(reader_.data());
      while (reader_.Next()) {
        if (reader_.type() != kContinue) {
          reader_.Unread();
          break;
        }
        string_.Append(reader_.data());
      }
      ReadBiff8String(string_, false, text);
    } else {
      // A byte string: BIFF2's length is a byte, later versions' two.
      const std::string_view data = reader_.data();
      const size_t width = type == kStringBiff2 ? 1 : 2;
      const size_t count = data.size() < width ? 0
                           : width == 1        ? static_cast<uint8_t>(data[0])
                                               : LoadLe16(data.data());
      if (data.size() < width || data.size() < width + count) {
        ThrowDamaged("a formula's text is cut off");
      }
      globals_.CodePage().Append(data.data() + width, count, text);
    }
    return;
  }
}

}  // namespace cellverter::biff
