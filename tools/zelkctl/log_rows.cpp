#include "tools/zelkctl/log_rows.h"

namespace zelk {
namespace ctl {

namespace {

// The server's row markup, byte for byte; the URLs in between are escaped, so
// none of these can occur inside a URL of a row the server wrote.
constexpr wchar_t kRowStart[] = L"<TR>";
constexpr wchar_t kMessageCellStart[] = L"<TD colspan=3";
constexpr wchar_t kCellStart[] = L"<TD><font size=2>";
constexpr wchar_t kPlaceholderCell[] = L"?{/font></TD>";
constexpr wchar_t kLinkStart[] = L"<A href='";
constexpr wchar_t kLinkMiddle[] = L"' target=_blank>";
constexpr wchar_t kLinkEnd[] = L"</A></font></TD>";
constexpr wchar_t kLastCellEnd[] = L"</font></TD></TR>";

// Longest reference we resolve, "&#x10FFFF;" without its '&' and ';'.
constexpr size_t kLongestReferenceName = 8;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

std::wstring Trimmed(const std::wstring& text) {
  size_t first = 0;
  while (first < text.size() && IsBlank(text[first])) ++first;
  size_t last = text.size();
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

// Walks one row's markup from left to right.
class RowReader {
 public:
  explicit RowReader(const std::wstring& row) : row_(row) {}

  // Consumes `expected` when the row continues with it.
  bool Skip(const wchar_t* expected) {
    const std::wstring token(expected);
    if (row_.compare(position_, token.size(), token) != 0) return false;
    position_ += token.size();
    return true;
  }

  // The text up to the next `delimiter`; consumes both.
  bool ReadUntil(const wchar_t* delimiter, std::wstring* text) {
    const std::wstring token(delimiter);
    const size_t end = row_.find(token, position_);
    if (end == std::wstring::npos) return false;
    *text = row_.substr(position_, end - position_);
    position_ = end + token.size();
    return true;
  }

  bool AtEnd() const { return position_ == row_.size(); }

 private:
  const std::wstring& row_;
  size_t position_ = 0;
};

bool ReadUrlCell(RowReader* reader, LoggedUrl* url) {
  if (!reader->Skip(kCellStart)) return false;
  if (reader->Skip(kPlaceholderCell)) {
    *url = LoggedUrl();
    return true;
  }
  std::wstring target, shown;
  if (!reader->Skip(kLinkStart) || !reader->ReadUntil(kLinkMiddle, &target) ||
      !reader->ReadUntil(kLinkEnd, &shown)) {
    return false;
  }
  url->present = true;
  url->target = UnescapeHtml(target);
  url->shown = UnescapeHtml(shown);
  return true;
}

bool ReadEntry(const std::wstring& row, LogRow* entry) {
  RowReader reader(row);
  std::wstring time;
  if (!ReadUrlCell(&reader, &entry->pop_up) || !ReadUrlCell(&reader, &entry->source) ||
      !reader.Skip(kCellStart) || !reader.ReadUntil(kLastCellEnd, &time) || !reader.AtEnd()) {
    return false;
  }
  entry->time = UnescapeHtml(time);
  entry->kind = LogRowKind::kEntry;
  return true;
}

// The row's text with every tag dropped, references resolved.
std::wstring PlainText(const std::wstring& markup) {
  std::wstring text;
  bool in_tag = false;
  for (wchar_t c : markup) {
    if (c == L'<') {
      in_tag = true;
    } else if (c == L'>' && in_tag) {
      in_tag = false;
    } else if (!in_tag) {
      text.push_back(c);
    }
  }
  return Trimmed(UnescapeHtml(text));
}

LogRow TextRow(LogRowKind kind, const std::wstring& markup) {
  LogRow row;
  row.kind = kind;
  row.text = PlainText(markup);
  return row;
}

// `row` is one row's markup after its "<TR>", without surrounding blanks.
LogRow ParseRow(const std::wstring& row) {
  if (row.compare(0, std::wstring(kMessageCellStart).size(), kMessageCellStart) == 0) {
    return TextRow(LogRowKind::kMessage, row);
  }
  LogRow entry;
  if (ReadEntry(row, &entry)) return entry;
  return TextRow(LogRowKind::kUnreadable, row);
}

void AppendCodePoint(unsigned long code_point, std::wstring* text) {
  if (code_point < 0x10000) {
    text->push_back(static_cast<wchar_t>(code_point));
    return;
  }
  code_point -= 0x10000;
  text->push_back(static_cast<wchar_t>(0xD800 + (code_point >> 10)));
  text->push_back(static_cast<wchar_t>(0xDC00 + (code_point & 0x3FF)));
}

int DigitValue(wchar_t c, unsigned base) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (base == 16 && c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (base == 16 && c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// "#NN" or "#xHH": a Unicode scalar value other than NUL.
bool ReadNumericReference(const std::wstring& name, unsigned long* code_point) {
  if (name.size() < 2 || name[0] != L'#') return false;
  const bool hex = name[1] == L'x' || name[1] == L'X';
  const unsigned base = hex ? 16 : 10;
  const size_t first = hex ? 2 : 1;
  if (first >= name.size()) return false;
  unsigned long value = 0;
  for (size_t index = first; index < name.size(); ++index) {
    const int digit = DigitValue(name[index], base);
    if (digit < 0) return false;
    value = value * base + static_cast<unsigned long>(digit);
    if (value > 0x10FFFF) return false;
  }
  if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return false;
  *code_point = value;
  return true;
}

bool AppendReference(const std::wstring& name, std::wstring* text) {
  static const struct {
    const wchar_t* name;
    wchar_t character;
  } kNamed[] = {{L"amp", L'&'}, {L"lt", L'<'}, {L"gt", L'>'}, {L"quot", L'"'}, {L"apos", L'\''}};
  for (const auto& named : kNamed) {
    if (name == named.name) {
      text->push_back(named.character);
      return true;
    }
  }
  unsigned long code_point = 0;
  if (!ReadNumericReference(name, &code_point)) return false;
  AppendCodePoint(code_point, text);
  return true;
}

}  // namespace

std::vector<LogRow> ParseLogRows(const std::wstring& logs) {
  std::vector<LogRow> rows;
  const std::wstring row_start(kRowStart);
  size_t start = logs.find(row_start);
  // Text before the first row is no row the server writes, but it is shown
  // rather than dropped.
  const std::wstring leading = Trimmed(logs.substr(0, start));
  if (!leading.empty()) rows.push_back(TextRow(LogRowKind::kUnreadable, leading));
  while (start != std::wstring::npos) {
    const size_t body = start + row_start.size();
    const size_t next = logs.find(row_start, body);
    const size_t length = next == std::wstring::npos ? std::wstring::npos : next - body;
    rows.push_back(ParseRow(Trimmed(logs.substr(body, length))));
    start = next;
  }
  return rows;
}

size_t CountEntries(const std::vector<LogRow>& rows) {
  size_t count = 0;
  for (const LogRow& row : rows) {
    if (row.kind != LogRowKind::kMessage) ++count;
  }
  return count;
}

std::wstring UnescapeHtml(const std::wstring& text) {
  std::wstring plain;
  plain.reserve(text.size());
  size_t index = 0;
  while (index < text.size()) {
    if (text[index] == L'&') {
      const size_t end = text.find(L';', index + 1);
      if (end != std::wstring::npos && end - index - 1 <= kLongestReferenceName &&
          AppendReference(text.substr(index + 1, end - index - 1), &plain)) {
        index = end + 1;
        continue;
      }
    }
    plain.push_back(text[index]);
    ++index;
  }
  return plain;
}

}  // namespace ctl
}  // namespace zelk
