#include "tools/zelkctl/log_page.h"

#include "tools/zelkctl/arguments.h"

namespace zelk {
namespace ctl {

namespace {

// No script may run in the page even if escaping were ever bypassed: the
// policy forbids every source but the page's own inline style.
constexpr wchar_t kPageStart[] =
    L"<!DOCTYPE html>\n"
    L"<html lang=\"en\">\n"
    L"<head>\n"
    L"<meta charset=\"utf-8\">\n"
    L"<meta http-equiv=\"Content-Security-Policy\" "
    L"content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
    L"<meta name=\"referrer\" content=\"no-referrer\">\n"
    L"<title>Blocked pop-ups</title>\n"
    L"<style>\n"
    L"body { font-family: sans-serif; margin: 1em; }\n"
    L"table { border-collapse: collapse; }\n"
    L"th, td { border: 1px solid #999; padding: 0.2em 0.6em; text-align: left; }\n"
    L"th { background: #e8e8e8; }\n"
    L"td { font-size: small; overflow-wrap: anywhere; }\n"
    L"td.message { text-align: center; font-style: italic; }\n"
    L"</style>\n"
    L"</head>\n"
    L"<body>\n"
    L"<h1>Blocked pop-ups</h1>\n";

constexpr wchar_t kTableStart[] =
    L"<table>\n"
    L"<thead>\n"
    L"<tr><th scope=\"col\">Pop-up URL</th><th scope=\"col\">Source URL</th>"
    L"<th scope=\"col\">Time</th></tr>\n"
    L"</thead>\n"
    L"<tbody>\n";

constexpr wchar_t kPageEnd[] =
    L"</tbody>\n"
    L"</table>\n"
    L"</body>\n"
    L"</html>\n";

constexpr const wchar_t* kSafeSchemes[] = {L"http", L"https", L"ftp", L"file", L"mailto", L"news"};

bool IsControl(wchar_t c) { return c < 0x20 || c == 0x7F; }

const wchar_t* NamedReference(wchar_t c) {
  switch (c) {
    case L'&': return L"&amp;";
    case L'<': return L"&lt;";
    case L'>': return L"&gt;";
    case L'"': return L"&quot;";
    case L'\'': return L"&#39;";
    default: return nullptr;
  }
}

void AppendUrlCell(const LoggedUrl& url, std::wstring* page) {
  page->append(L"<td>");
  if (url.present) {
    const std::wstring& shown = url.shown.empty() ? url.target : url.shown;
    if (IsSafeLinkTarget(url.target)) {
      page->append(L"<a href=\"" + EscapeHtml(url.target) + L"\" title=\"" +
                   EscapeHtml(url.target) + L"\" target=\"_blank\" rel=\"noopener noreferrer\">" +
                   EscapeHtml(shown) + L"</a>");
    } else {
      page->append(L"<span title=\"" + EscapeHtml(url.target) + L"\">" + EscapeHtml(shown) +
                   L"</span>");
    }
  }
  page->append(L"</td>");
}

void AppendEntryRow(const LogRow& row, std::wstring* page) {
  page->append(L"<tr>");
  AppendUrlCell(row.pop_up, page);
  AppendUrlCell(row.source, page);
  page->append(L"<td>" + EscapeHtml(row.time) + L"</td></tr>\n");
}

void AppendSpanningRow(const wchar_t* css_class, const std::wstring& text, std::wstring* page) {
  page->append(L"<tr><td class=\"");
  page->append(css_class);
  page->append(L"\" colspan=\"3\">" + EscapeHtml(text) + L"</td></tr>\n");
}

void AppendRow(const LogRow& row, std::wstring* page) {
  switch (row.kind) {
    case LogRowKind::kEntry: AppendEntryRow(row, page); break;
    case LogRowKind::kMessage: AppendSpanningRow(L"message", row.text, page); break;
    case LogRowKind::kUnreadable: AppendSpanningRow(L"unreadable", row.text, page); break;
  }
}

std::wstring EntrySummary(size_t entries) {
  return L"<p>" + std::to_wstring(entries) + (entries == 1 ? L" entry" : L" entries") + L".</p>\n";
}

}  // namespace

std::wstring EscapeHtml(const std::wstring& text) {
  std::wstring escaped;
  escaped.reserve(text.size() + text.size() / 8);
  for (wchar_t c : text) {
    if (const wchar_t* named = NamedReference(c)) {
      escaped.append(named);
    } else if (IsControl(c)) {
      escaped.append(L"&#" + std::to_wstring(static_cast<unsigned>(c)) + L";");
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

bool IsSafeLinkTarget(const std::wstring& url) {
  const size_t colon = url.find(L':');
  if (colon == std::wstring::npos) return false;
  const std::wstring scheme = url.substr(0, colon);
  for (const wchar_t* safe : kSafeSchemes) {
    if (EqualsIgnoringCase(scheme, safe)) return true;
  }
  return false;
}

std::wstring LogPage(const std::vector<LogRow>& rows) {
  std::wstring page = kPageStart;
  page.append(EntrySummary(CountEntries(rows)));
  page.append(kTableStart);
  for (const LogRow& row : rows) AppendRow(row, &page);
  if (rows.empty()) AppendSpanningRow(L"message", L"The log is empty.", &page);
  page.append(kPageEnd);
  return page;
}

}  // namespace ctl
}  // namespace zelk
