#include "poplog/log_row.h"

#include <cstdio>
#include <new>

namespace zelk {

namespace {

constexpr const char kRowStart[] = "<TR>";
constexpr const char kLinkCellStart[] = "<TD><font size=2><A href='";
constexpr const char kLinkCellMiddle[] = "' target=_blank>";
constexpr const char kLinkCellEnd[] = "</A></font></TD>";
// Stands in a cell in place of a link; its odd text is what readers of
// existing logs have always been given, so it is kept byte for byte.
constexpr const char kPlaceholderCell[] = "<TD><font size=2>?{/font></TD>";
constexpr const char kTimeCellStart[] = "<TD><font size=2>";
constexpr const char kRowEnd[] = "</font></TD></TR>\n";

// The named references for the characters that carry meaning in HTML; other
// escaped bytes get a numeric reference.
const char* NamedReference(unsigned char c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return nullptr;
  }
}

bool IsControlByte(unsigned char c) { return c < 0x20 || c == 0x7F; }

void AppendEscapedByte(unsigned char c, std::string* out) {
  if (const char* named = NamedReference(c)) {
    out->append(named);
  } else if (IsControlByte(c)) {
    char reference[8];
    std::snprintf(reference, sizeof(reference), "&#%u;", static_cast<unsigned>(c));
    out->append(reference);
  } else {
    out->push_back(static_cast<char>(c));
  }
}

void AppendEscaped(const std::string& text, std::string* out) {
  for (char c : text) AppendEscapedByte(static_cast<unsigned char>(c), out);
}

// Length of the character starting at `index`: a lead byte with a byte after it
// starts a double-byte character; a lead byte at the very end stands alone.
size_t CharLengthAt(const std::string& text, size_t index, LeadBytePredicate is_lead_byte) {
  const bool starts_pair = is_lead_byte(static_cast<unsigned char>(text[index])) &&
                           index + 1 < text.size();
  return starts_pair ? 2 : 1;
}

// Bytes of the longest run of whole characters from the start that fits in
// `limit` bytes.
size_t WholeCharPrefixLength(const std::string& text, size_t limit,
                             LeadBytePredicate is_lead_byte) {
  size_t length = 0;
  while (length < text.size()) {
    const size_t next = length + CharLengthAt(text, length, is_lead_byte);
    if (next > limit) break;
    length = next;
  }
  return length;
}

void AppendDisplayForm(const std::string& url, LeadBytePredicate is_lead_byte,
                       std::string* out) {
  if (url.size() <= kDisplayMaxBytes) {
    out->append(url);
    return;
  }
  out->append(url, 0, WholeCharPrefixLength(url, kDisplayKeptBytes, is_lead_byte));
  out->append(kDisplayEllipsis);
}

void AppendLinkCell(const std::string& url, LeadBytePredicate is_lead_byte, std::string* out) {
  std::string display;
  AppendDisplayForm(url, is_lead_byte, &display);
  out->append(kLinkCellStart);
  AppendEscaped(url, out);
  out->append(kLinkCellMiddle);
  AppendEscaped(display, out);
  out->append(kLinkCellEnd);
}

void AppendTimeCell(const LogTime& time, std::string* out) {
  // Room for five ints at their widest, separators and the NUL.
  char text[5 * 12 + 8];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d", time.year, time.month, time.day,
                time.hour, time.minute);
  out->append(kTimeCellStart);
  out->append(text);
}

bool IsLinkable(const RowUrl& url) { return url.text != nullptr && url.linkable; }

void AppendEntryRow(const RowUrl& pop_url, const RowUrl& src_url, const LogTime& time,
                    LeadBytePredicate is_lead_byte, std::string* out) {
  // Without a source link the row shows no link at all, even for a pop-up URL
  // that could be one.
  const bool src_link = IsLinkable(src_url);
  const bool pop_link = src_link && IsLinkable(pop_url);
  out->append(kRowStart);
  if (pop_link) {
    AppendLinkCell(*pop_url.text, is_lead_byte, out);
  } else {
    out->append(kPlaceholderCell);
  }
  if (src_link) {
    AppendLinkCell(*src_url.text, is_lead_byte, out);
  } else {
    out->append(kPlaceholderCell);
  }
  AppendTimeCell(time, out);
  out->append(kRowEnd);
}

}  // namespace

LogTime LogTimeFromSystemTime(const SYSTEMTIME& time) {
  return LogTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute};
}

HRESULT DisplayForm(const std::string& url, LeadBytePredicate is_lead_byte,
                    std::string* display) {
  try {
    std::string shown;
    AppendDisplayForm(url, is_lead_byte, &shown);
    display->swap(shown);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT EscapeHtml(const std::string& text, std::string* escaped) {
  try {
    std::string result;
    AppendEscaped(text, &result);
    escaped->swap(result);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT FormatEntryRow(const RowUrl& pop_url, const RowUrl& src_url, const LogTime& time,
                       LeadBytePredicate is_lead_byte, std::string* row) {
  try {
    std::string result;
    AppendEntryRow(pop_url, src_url, time, is_lead_byte, &result);
    row->swap(result);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace zelk
