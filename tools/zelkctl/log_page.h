// The exported log: a standalone HTML page that any browser opens from disk.
// The server's own row markup is never copied into it; every row is written
// anew from its parsed text, escaped, so that a URL recorded by a hostile page
// (or by an older server that escaped nothing) can only ever show as text.
#pragma once

#include <string>
#include <vector>

#include "tools/zelkctl/log_rows.h"

namespace zelk {
namespace ctl {

// The whole page, as wide text; the caller stores it as UTF-8, which the
// page declares.
std::wstring LogPage(const std::vector<LogRow>& rows);

// Escapes text for an HTML text node or a double- or single-quoted attribute.
std::wstring EscapeHtml(const std::wstring& text);

// True for the schemes a link may carry in the page: those of ordinary pages
// and files. Script, data and every unknown scheme are shown as text.
bool IsSafeLinkTarget(const std::wstring& url);

}  // namespace ctl
}  // namespace zelk
