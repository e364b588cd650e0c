// The rows of the pop-up log file: pure text formatting, no registry and no
// file access, so that every byte a row can hold is testable on its own.
//
// A row is narrow text in the ANSI code page. Every URL is HTML-escaped where
// it appears (link target and shown text), so that no URL can close the
// attribute it stands in, open markup of its own, break the row over several
// lines or end the text early when the file is read back in text mode.
#pragma once

#include <windows.h>

#include <string>

#include "safelist/url_parts.h"

namespace zelk {

// An entry is recorded only while the stored count is at most this; the entry
// that raises the count above it is followed by the limit row.
constexpr DWORD kLogCountLimit = 2000;

// A URL longer than kDisplayMaxBytes is shown as at most kDisplayKeptBytes of
// it followed by kDisplayEllipsis. Both limits count bytes of the unescaped
// narrow text.
constexpr size_t kDisplayMaxBytes = 34;
constexpr size_t kDisplayKeptBytes = 31;
constexpr const char kDisplayEllipsis[] = "...";

// Appended right after the entry row that passes the count limit; it has no
// line end of its own.
constexpr const char kLimitRow[] =
    "<TR><TD colspan=3 align=center><font size=2>Log count limit reached. "
    "Please clear the log.</font></TD></TR>";

// Never stored: the text returned when the log file cannot be opened. The
// spelling is part of what clients have always received.
constexpr const char kEmptyLogRow[] =
    "<TR><TD colspan=3 align=center><font size=2>No logs avaliable.</font></TD></TR>";

// Local date and time of an entry, to the minute.
struct LogTime {
  int year;
  int month;
  int day;
  int hour;
  int minute;
};

LogTime LogTimeFromSystemTime(const SYSTEMTIME& time);

// One URL of an entry as the row sees it. `linkable` says whether it may be
// written as a link: it decomposes and its scheme is a known one.
struct RowUrl {
  const std::string* text;  // nullptr: the client passed no URL
  bool linkable;
};

// The shown text of a URL, unescaped: the whole URL when it is at most
// kDisplayMaxBytes long, else its longest prefix of whole characters within
// kDisplayKeptBytes followed by kDisplayEllipsis. S_OK or E_OUTOFMEMORY;
// *display is untouched on failure.
HRESULT DisplayForm(const std::string& url, LeadBytePredicate is_lead_byte,
                    std::string* display);

// Replaces & < > " ' and every control byte (below 0x20, and 0x7F) by a
// character reference; bytes from 0x80 up are code-page text and stay. Works
// byte by byte: no trail byte of a double-byte code page is in that set, and a
// stray lead byte can then never swallow a quote or bracket of the text.
// S_OK or E_OUTOFMEMORY; *escaped is untouched on failure.
HRESULT EscapeHtml(const std::string& text, std::string* escaped);

// The entry row, with its line end: two links when both URLs are linkable,
// only the source link when the source is linkable but the pop-up URL is
// absent or not, and no link at all when the source is not linkable.
// S_OK or E_OUTOFMEMORY; *row is untouched on failure.
HRESULT FormatEntryRow(const RowUrl& pop_url, const RowUrl& src_url, const LogTime& time,
                       LeadBytePredicate is_lead_byte, std::string* row);

}  // namespace zelk
