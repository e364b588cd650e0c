// Reading the pop-up log as the server hands it out: HTML table rows, one per
// blocked pop-up, plus message rows (the count limit, an unreadable log file)
// that span the whole table. The tool never shows or re-emits that markup as
// it is; it takes the rows apart and works on their text.
#pragma once

#include <string>
#include <vector>

namespace zelk {
namespace ctl {

// One URL cell of an entry row.
struct LoggedUrl {
  bool present = false;  // false: the row holds no link for this URL
  std::wstring target;   // the whole URL, from the link target
  std::wstring shown;    // the text the row shows for it (long URLs are cut)
};

enum class LogRowKind {
  kEntry,       // a blocked pop-up: two URL cells and the time
  kMessage,     // a row spanning the table: the count limit, no log file
  kUnreadable,  // neither: kept as plain text so that no entry goes missing
};

struct LogRow {
  LogRowKind kind = LogRowKind::kUnreadable;
  LoggedUrl pop_up;
  LoggedUrl source;
  std::wstring time;
  std::wstring text;  // message and unreadable rows: their text without markup
};

// Splits the log's text into its rows. Rows start at "<TR>" rather than at a
// line break: the limit row has no line end, so an entry recorded after the
// count was reset follows it on the same line. Character references are
// resolved in every text.
std::vector<LogRow> ParseLogRows(const std::wstring& logs);

// Rows that stand for blocked pop-ups: every row but the message rows.
size_t CountEntries(const std::vector<LogRow>& rows);

// Resolves &amp; &lt; &gt; &quot; &apos; and numeric references (&#NN;
// &#xHH;); anything else, including a malformed reference, stays as it is.
std::wstring UnescapeHtml(const std::wstring& text);

}  // namespace ctl
}  // namespace zelk
