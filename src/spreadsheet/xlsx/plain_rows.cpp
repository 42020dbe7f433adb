#include "spreadsheet/xlsx/plain_rows.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "spreadsheet/xlsx/xml_scanner.h"

namespace cellverter {
namespace {

// The bytes that end a name: '=' 0x3D, '>' 0x3E, '/' 0x2F and the blanks; letters lie above.
inline bool EndsName(char c) {
  return static_cast<unsigned char>(c) <= '>' &&
         (c == '=' || c == '>' || c == '/' || IsXmlBlank(c));
}

// The bytes that end a plain value or make it not plain: '<', '&', '\r'.
constexpr auto kValueStops = [] {
  std::array<bool, 256> stops{};
  stops['<'] = stops['&'] = stops['\r'] = true;
  return stops;
}();

// Every '&' starts one of the five predefined entities, which the general scanner resolves
// without fail.
bool PredefinedEntitiesOnly(std::string_view text) {
  for (size_t i = text.find('&'); i != std::string_view::npos; i = text.find('&', i + 1)) {
    const std::string_view rest = text.substr(i + 1);
    if (!rest.starts_with("amp;") && !rest.starts_with("lt;") && !rest.starts_with("gt;") &&
        !rest.starts_with("quot;") && !rest.starts_with("apos;")) {
      return false;
    }
  }
  return true;
}

class RowScanner {
 public:
  RowScanner(std::string_view bytes, size_t maxValue, size_t maxCells)
      : begin_(bytes.data()),
        p_(bytes.data()),
        end_(bytes.data() + bytes.size()),
        maxValue_(maxValue),
        maxCells_(maxCells) {}

  PlainRowScan Scan(PlainRow& row, size_t& length) {
    switch (Row(row)) {
      case kOk:
        length = static_cast<size_t>(p_ - begin_);
        return PlainRowScan::kRow;
      case kMore:
        return PlainRowScan::kMore;
      case kNo:
        break;
    }
    return PlainRowScan::kNotPlain;
  }

 private:
  enum Status : uint8_t { kOk, kMore, kNo };

  Status Row(PlainRow& row);
  Status Cell(PlainCell& cell);

  Status SkipBlanks() {
    while (p_ < end_ && IsXmlBlank(*p_)) ++p_;
    return p_ == end_ ? kMore : kOk;
  }

  // At '<': the tag's name and whether it is an end tag; moves past the name.
  Status TagName(std::string_view& name, bool& closing) {
    if (*p_ != '<') return kNo;  // text that is not blank
    const char* q = p_ + 1;
    if (q == end_) return kMore;
    closing = *q == '/';
    if (closing) ++q;
    const char* const start = q;
    while (q < end_ && !IsXmlBlank(*q) && *q != '>' && *q != '/') ++q;
    if (q == end_) return kMore;
    name = std::string_view(start, static_cast<size_t>(q - start));
    p_ = q;
    return kOk;
  }

  // After the name of an end tag.
  Status EndOfEndTag() {
    if (SkipBlanks() == kMore) return kMore;
    if (*p_ != '>') return kNo;
    ++p_;
    return kOk;
  }

  // The next tag, blanks before it skipped, is the end tag `name`.
  Status EndTag(std::string_view name) {
    if (SkipBlanks() == kMore) return kMore;
    std::string_view found;
    bool closing = false;
    if (const Status s = TagName(found, closing); s != kOk) return s;
    if (!closing || found != name) return kNo;
    return EndOfEndTag();
  }

  // Moves past `text` when the bytes go on with it. Tags are short: the comparison of a
  // literal compiles to a load or two.
  bool Literal(std::string_view text) {
    if (static_cast<size_t>(end_ - p_) < text.size() ||
        std::memcmp(p_, text.data(), text.size()) != 0) {
      return false;
    }
    p_ += text.size();
    return true;
  }

  // The text up to the next '<'.
  Status Text(std::string_view& text) {
    const void* lt = std::memchr(p_, '<', static_cast<size_t>(end_ - p_));
    if (lt == nullptr) return kMore;
    text = std::string_view(p_, static_cast<size_t>(static_cast<const char*>(lt) - p_));
    p_ = static_cast<const char*>(lt);
    return kOk;
  }

  // The text of an element whose start tag was read, and its end tag `endTag` ("</v>"): a
  // value the general scanner would hand out unchanged. Values are short: one loop over their
  // bytes beats a search for the '<' and another for what needs decoding.
  Status ValueAndEnd(std::string_view endTag, std::string_view& value) {
    const char* q = p_;
    while (q < end_ && !kValueStops[static_cast<unsigned char>(*q)]) ++q;
    if (q == end_) return kMore;
    if (*q != '<') return kNo;
    value = std::string_view(p_, static_cast<size_t>(q - p_));
    if (value.size() > maxValue_) return kNo;
    p_ = q;
    if (Literal(endTag)) return kOk;
    return EndTag(endTag.substr(2, endTag.size() - 3));
  }

  // After the name of a start tag: its attributes, each given to `take(name, value)`, up to
  // '>' or "/>" (`empty`), with the general scanner's rules.
  template <typename Take>
  Status Attributes(bool& empty, Take take) {
    for (;;) {
      if (SkipBlanks() == kMore) return kMore;
      if (*p_ == '>') {
        ++p_;
        empty = false;
        return kOk;
      }
      if (*p_ == '/') {
        if (p_ + 1 == end_) return kMore;
        if (p_[1] != '>') return kNo;
        p_ += 2;
        empty = true;
        return kOk;
      }
      const char* const nameStart = p_;
      while (p_ < end_ && !EndsName(*p_)) ++p_;
      const std::string_view name(nameStart, static_cast<size_t>(p_ - nameStart));
      if (SkipBlanks() == kMore) return kMore;
      if (*p_ != '=' || name.empty()) return kNo;
      ++p_;
      if (SkipBlanks() == kMore) return kMore;
      const char quote = *p_;
      if (quote != '"' && quote != '\'') return kNo;
      const char* const valueStart = p_ + 1;
      const char* valueEnd = valueStart;
      while (valueEnd < end_ && *valueEnd != quote) ++valueEnd;
      if (valueEnd == end_) return kMore;
      if (IsNamespaceDeclaration(name)) return kNo;
      take(name, std::string_view(valueStart, static_cast<size_t>(valueEnd - valueStart)));
      p_ = valueEnd + 1;
      if (p_ < end_ && !IsXmlBlank(*p_) && *p_ != '>' && *p_ != '/') return kNo;
    }
  }

  // A cell's attributes in the shape nearly every writer gives them: r, s and t, each as
  // name="value", one blank between them, up to '>' or "/>". What Attributes would take from
  // those bytes, for a fraction of its work; false, with nothing read and nothing taken, for
  // anything else, which Attributes then reads from the same place.
  bool CommonCellAttributes(PlainCell& cell, bool& empty) {
    // Starts and sizes apart, not string_views: a view stored as two words and loaded back
    // as one cannot be forwarded from the store, which stalled the scan at every cell.
    const char* starts[3] = {};
    size_t sizes[3] = {};
    bool seen[3] = {};
    for (const char* q = p_;;) {
      if (end_ - q < 4 || q[1] != '=' || q[2] != '"') return false;
      const int which = q[0] == 'r' ? 0 : q[0] == 's' ? 1 : q[0] == 't' ? 2 : -1;
      if (which < 0) return false;
      const char* const start = q + 3;
      const char* stop = start;
      while (stop < end_ && *stop != '"') ++stop;
      if (end_ - stop < 2) return false;  // the closing quote and the byte after it
      if (!seen[which]) {  // the first of each, as the general scanner's lookup takes it
        starts[which] = start;
        sizes[which] = static_cast<size_t>(stop - start);
        seen[which] = true;
      }
      q = stop + 1;
      if (*q == ' ') {
        ++q;
      } else if (*q == '>') {
        p_ = q + 1;
        empty = false;
        break;
      } else if (*q == '/' && end_ - q >= 2 && q[1] == '>') {
        p_ = q + 2;
        empty = true;
        break;
      } else {
        return false;
      }
    }
    cell.ref = std::string_view(starts[0], sizes[0]);
    cell.style = std::string_view(starts[1], sizes[1]);
    cell.type = std::string_view(starts[2], sizes[2]);
    return true;
  }

  static void Ignore(std::string_view, std::string_view) {}

  const char* const begin_;
  const char* p_;
  const char* const end_;
  const size_t maxValue_;
  const size_t maxCells_;
};

// Takes the first `key` attribute only, as the general scanner's lookup does.
inline void TakeFirst(std::string_view name, std::string_view key, std::string_view value,
                      std::string_view& to, bool& seen) {
  if (!seen && name == key) {
    to = value;
    seen = true;
  }
}

RowScanner::Status RowScanner::Row(PlainRow& row) {
  row.number = row.hidden = row.customFormat = row.customHeight = {};
  row.used = 0;
  if (SkipBlanks() == kMore) return kMore;
  std::string_view name;
  bool closing = false;
  if (const Status s = TagName(name, closing); s != kOk) return s;
  if (closing || name != "row") return kNo;
  bool seen[4] = {};
  bool empty = false;
  const Status attributes = Attributes(empty, [&](std::string_view n, std::string_view v) {
    if (n.size() == 1) {
      TakeFirst(n, "r", v, row.number, seen[0]);
    } else {
      TakeFirst(n, "hidden", v, row.hidden, seen[1]);
      TakeFirst(n, "customFormat", v, row.customFormat, seen[2]);
      TakeFirst(n, "customHeight", v, row.customHeight, seen[3]);
    }
  });
  if (attributes != kOk || empty) return attributes;
  for (;;) {
    if (SkipBlanks() == kMore) return kMore;
    if (Literal("</row>")) return kOk;
    if (!Literal("<c ")) {
      if (const Status s = TagName(name, closing); s != kOk) return s;
      if (closing) {
        if (name != "row") return kNo;
        return EndOfEndTag();
      }
      if (name != "c") return kNo;
    }
    if (row.used == maxCells_) return kNo;
    if (row.used == row.cells.size()) row.cells.emplace_back();
    PlainCell& cell = row.cells[row.used++];
    cell = PlainCell();
    bool cellEmpty = false;
    if (!CommonCellAttributes(cell, cellEmpty)) {
      bool seenCell[3] = {};
      const Status s = Attributes(cellEmpty, [&](std::string_view n, std::string_view v) {
        if (n.size() != 1) return;
        TakeFirst(n, "r", v, cell.ref, seenCell[0]);
        TakeFirst(n, "s", v, cell.style, seenCell[1]);
        TakeFirst(n, "t", v, cell.type, seenCell[2]);
      });
      if (s != kOk) return s;
    }
    if (!cellEmpty) {
      if (const Status c = Cell(cell); c != kOk) return c;
    }
  }
}

// The children of <c> up to its end tag: <f>, <v> and <is> holding one <t>.
RowScanner::Status RowScanner::Cell(PlainCell& cell) {
  for (;;) {
    if (SkipBlanks() == kMore) return kMore;
    if (Literal("</c>")) return kOk;
    if (Literal("<v>")) {
      cell.hasValue = true;
      if (const Status s = ValueAndEnd("</v>", cell.value); s != kOk) return s;
      continue;
    }
    std::string_view name;
    bool closing = false;
    if (const Status s = TagName(name, closing); s != kOk) return s;
    if (closing) {
      if (name != "c") return kNo;
      return EndOfEndTag();
    }
    bool empty = false;
    if (name == "v") {
      if (const Status s = Attributes(empty, Ignore); s != kOk) return s;
      // Each <v> replaces what the cell held.
      cell.hasValue = true;
      cell.value = {};
      if (!empty) {
        if (const Status s = ValueAndEnd("</v>", cell.value); s != kOk) return s;
      }
    } else if (name == "f") {
      if (const Status s = Attributes(empty, Ignore); s != kOk) return s;
      cell.hasFormula = true;
      if (!empty) {
        std::string_view formula;
        if (const Status s = Text(formula); s != kOk) return s;
        if (!PredefinedEntitiesOnly(formula)) return kNo;
        if (const Status s = EndTag("f"); s != kOk) return s;
      }
    } else if (name == "is") {
      if (const Status s = Attributes(empty, Ignore); s != kOk) return s;
      if (empty) continue;
      if (SkipBlanks() == kMore) return kMore;
      if (const Status s = TagName(name, closing); s != kOk) return s;
      if (closing) {
        if (name != "is") return kNo;
        if (const Status s = EndOfEndTag(); s != kOk) return s;
        continue;
      }
      // A <t> after a value adds to it: rare enough to leave to the general scanner.
      if (name != "t" || cell.hasValue) return kNo;
      if (const Status s = Attributes(empty, Ignore); s != kOk) return s;
      cell.hasValue = true;
      cell.value = {};
      if (!empty) {
        if (const Status s = ValueAndEnd("</t>", cell.value); s != kOk) return s;
      }
      if (const Status s = EndTag("is"); s != kOk) return s;
    } else {
      return kNo;
    }
  }
}

}  // namespace

PlainRowScan ScanPlainRow(std::string_view bytes, PlainRow& row, size_t& length, size_t maxValue,
                          size_t maxCells) {
  return RowScanner(bytes, maxValue, maxCells).Scan(row, length);
}

void PlainRowsAhead::Keep(const PlainRow& scanned, uint64_t offset, size_t length,
                          const char* start, Block& block) {
  auto at = [start](std::string_view view) {
    return view.data() == nullptr ? 0 : static_cast<uint32_t>(view.data() - start);
  };
  constexpr size_t kMaxAttribute = UINT16_MAX;
  for (size_t i = 0; i < scanned.used; ++i) {
    const PlainCell& c = scanned.cells[i];
    if (c.ref.size() > kMaxAttribute || c.style.size() > kMaxAttribute ||
        c.type.size() > kMaxAttribute) {
      return;
    }
  }
  Row row;
  row.offset = offset;
  row.length = static_cast<uint32_t>(length);
  row.firstCell = static_cast<uint32_t>(block.cells.size());
  row.cellCount = static_cast<uint32_t>(scanned.used);
  auto span = [&at](std::string_view view) {
    return Span{at(view), static_cast<uint32_t>(view.size())};
  };
  row.number = span(scanned.number);
  row.hidden = span(scanned.hidden);
  row.customFormat = span(scanned.customFormat);
  row.customHeight = span(scanned.customHeight);
  block.rows.push_back(row);
  for (size_t i = 0; i < scanned.used; ++i) {
    const PlainCell& c = scanned.cells[i];
    block.cells.push_back(
        Cell{at(c.ref), at(c.style), at(c.type), at(c.value), static_cast<uint32_t>(c.value.size()),
             static_cast<uint16_t>(c.ref.size()), static_cast<uint16_t>(c.style.size()),
             static_cast<uint16_t>(c.type.size()), c.hasValue, c.hasFormula});
  }
}

void PlainRowsAhead::Observe(uint64_t offset, std::string_view chunk,
                             const std::atomic<bool>& readerWaits) noexcept {
  if (stopped_.load(std::memory_order_relaxed)) return;
  try {
    std::shared_ptr<Block> block;
    {
      std::lock_guard lock(mutex_);
      if (!spare_.empty()) {
        block = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (block == nullptr) block = std::make_shared<Block>();
    block->rows.clear();
    block->cells.clear();
    block->begin = offset;
    block->end = offset + chunk.size();
    // As many cells as the chunk before held: no vector doubled past its need.
    block->cells.reserve(lastCells_ + lastCells_ / 16);
    // The rows begin at "<row"; a row cut by the chunk's end is left to the reader.
    for (size_t at = chunk.find("<row"); at != std::string_view::npos;) {
      // The reader has caught up: it scans the rest of the chunk itself, beside the inflating
      // of the next one, rather than wait for this thread to.
      if (readerWaits.load(std::memory_order_relaxed)) break;
      size_t length = 0;
      const PlainRowScan scan =
          ScanPlainRow(chunk.substr(at), scratch_, length, maxValue_, maxCells_);
      if (scan == PlainRowScan::kMore) break;
      if (scan == PlainRowScan::kNotPlain) {
        at = chunk.find("<row", at + 1);
        continue;
      }
      // What a chunk's rows keep stays within the chunk's size; the rest is the reader's.
      const size_t kept = (block->rows.size() + 1) * sizeof(Row) +
                          (block->cells.size() + scratch_.used) * sizeof(Cell);
      if (kept > chunk.size()) break;
      Keep(scratch_, offset + at, length, chunk.data() + at, *block);
      at += length;
    }
    lastCells_ = block->cells.size();
    std::lock_guard lock(mutex_);
    blocks_.push_back(std::move(block));
    if (blocks_.size() > kBlocks) {
      Recycle(blocks_.front());
      blocks_.pop_front();
    }
  } catch (...) {
    // Out of memory: the reader scans these rows itself.
  }
}

void PlainRowsAhead::Recycle(std::shared_ptr<Block>& block) {
  // Another holder (the deque, or the reader's current block) keeps it: the last one recycles.
  if (block.use_count() == 1 && spare_.size() < kBlocks) spare_.push_back(std::move(block));
  block = nullptr;
}

bool PlainRowsAhead::Take(uint64_t offset, std::string_view bytes, PlainRow& row, size_t& length) {
  if (current_ == nullptr || offset < current_->begin || offset >= current_->end) {
    std::lock_guard lock(mutex_);
    Recycle(current_);
    // The reader only goes forward: the blocks before its offset are done with.
    while (!blocks_.empty() && blocks_.front()->end <= offset) {
      Recycle(blocks_.front());
      blocks_.pop_front();
    }
    if (blocks_.empty() || offset < blocks_.front()->begin) return false;
    current_ = blocks_.front();
    next_ = 0;
  }
  const std::vector<Row>& rows = current_->rows;
  // The reader takes the rows in turn: the one after the last taken is looked at first.
  auto found = rows.begin() + static_cast<ptrdiff_t>(std::min(next_, rows.size()));
  if (found == rows.end() || found->offset != offset) {
    found = std::lower_bound(rows.begin(), rows.end(), offset,
                             [](const Row& r, uint64_t at) { return r.offset < at; });
  }
  if (found == rows.end() || found->offset != offset || found->length > bytes.size()) return false;
  next_ = static_cast<size_t>(found - rows.begin()) + 1;
  // Every span lies within the row's `length` bytes, which `bytes` holds: no check each.
  auto view = [&bytes](uint32_t at, uint32_t size) {
    return std::string_view(bytes.data() + at, size);
  };
  row.number = view(found->number.at, found->number.size);
  row.hidden = view(found->hidden.at, found->hidden.size);
  row.customFormat = view(found->customFormat.at, found->customFormat.size);
  row.customHeight = view(found->customHeight.at, found->customHeight.size);
  row.used = found->cellCount;
  if (row.cells.size() < row.used) row.cells.resize(row.used);
  for (size_t i = 0; i < row.used; ++i) {
    const Cell& c = current_->cells[found->firstCell + i];
    row.cells[i] = PlainCell{view(c.refAt, c.refSize),
                             view(c.styleAt, c.styleSize),
                             view(c.typeAt, c.typeSize),
                             view(c.valueAt, c.valueSize),
                             c.hasValue,
                             c.hasFormula};
  }
  length = found->length;
  return true;
}

}  // namespace cellverter
