// log show, log export, log clear and log add: the pop-up log.
#include <algorithm>
#include <array>

#include "platform/status.h"
#include "platform/text.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/log_page.h"
#include "tools/zelkctl/utf8_file.h"

namespace zelk {
namespace ctl {

namespace {

using TableLine = std::array<std::wstring, 3>;

const TableLine kHeader = {L"Pop-up URL", L"Source URL", L"Time"};

std::wstring CellText(const LoggedUrl& url) { return url.present ? Visible(url.target) : L"-"; }

// The lines of the plain-text table: the header, then one per entry row.
std::vector<TableLine> EntryLines(const std::vector<LogRow>& rows) {
  std::vector<TableLine> lines{kHeader};
  for (const LogRow& row : rows) {
    if (row.kind != LogRowKind::kEntry) continue;
    lines.push_back({CellText(row.pop_up), CellText(row.source), Visible(row.time)});
  }
  return lines;
}

std::wstring Padded(const std::wstring& text, size_t width) {
  return text + std::wstring(width + 2 - std::min(width, text.size()), L' ');
}

// Pop-up and source URL padded to their column's width; the time is last and
// needs none.
std::wstring FormatTable(const std::vector<TableLine>& lines) {
  size_t pop_width = 0, source_width = 0;
  for (const TableLine& line : lines) {
    pop_width = std::max(pop_width, line[0].size());
    source_width = std::max(source_width, line[1].size());
  }
  std::wstring table;
  for (const TableLine& line : lines) {
    table += Padded(line[0], pop_width) + Padded(line[1], source_width) + line[2] + L"\n";
  }
  return table;
}

// Message rows (the count limit, no log file) and rows that are no entry the
// tool can read, each on a line of its own after the table.
std::wstring OtherRows(const std::vector<LogRow>& rows) {
  std::wstring text;
  for (const LogRow& row : rows) {
    if (row.kind == LogRowKind::kMessage) text += Visible(row.text) + L"\n";
    if (row.kind == LogRowKind::kUnreadable)
      text += L"unreadable row: " + Visible(row.text) + L"\n";
  }
  return text;
}

bool HasEntryRow(const std::vector<LogRow>& rows) {
  return std::any_of(rows.begin(), rows.end(),
                     [](const LogRow& row) { return row.kind == LogRowKind::kEntry; });
}

std::wstring ShownLog(const std::vector<LogRow>& rows) {
  if (rows.empty()) return L"The log is empty.\n";
  const std::wstring table = HasEntryRow(rows) ? FormatTable(EntryLines(rows)) : std::wstring();
  return table + OtherRows(rows);
}

std::wstring EntryCount(size_t count) {
  return std::to_wstring(count) + (count == 1 ? L" log entry" : L" log entries");
}

}  // namespace

HRESULT FetchLogRows(IZelkHelper* helper, std::vector<LogRow>* rows) {
  UniqueBstr logs;
  ZELK_RETURN_IF_FAILED(helper->get_Logs(logs.put()));
  const std::wstring text =
      logs ? std::wstring(logs.get(), SysStringLen(logs.get())) : std::wstring();
  *rows = ParseLogRows(text);
  return S_OK;
}

int RunLogShow(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  std::vector<LogRow> rows;
  const HRESULT status = FetchLogRows(helper, &rows);
  if (FAILED(status)) return call.Failure(L"Logs get", status);
  call.console().Out(ShownLog(rows));
  return kExitSuccess;
}

int RunLogExport(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  std::vector<LogRow> rows;
  HRESULT status = FetchLogRows(helper, &rows);
  if (FAILED(status)) return call.Failure(L"Logs get", status);
  status = WriteUtf8File(call.operand(0), LogPage(rows));
  if (FAILED(status)) return call.Failure(L"writing " + Visible(call.operand(0)), status);
  call.console().Out(EntryCount(CountEntries(rows)) + L" written to " + Visible(call.operand(0)) +
                     L"\n");
  return kExitSuccess;
}

int RunLogClear(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  const HRESULT status = helper->ClearLogs();
  if (FAILED(status)) return call.Failure(L"ClearLogs", status);
  call.console().Out(L"log cleared\n");
  return kExitSuccess;
}

int RunLogAdd(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  UniqueBstr pop_up, source;
  HRESULT status = BstrFromWide(call.operand(0), &pop_up);
  if (SUCCEEDED(status)) status = BstrFromWide(call.operand(1), &source);
  if (FAILED(status)) return call.Failure(L"preparing the URLs", status);
  status = helper->LogPopUrl(pop_up.get(), source.get());
  if (FAILED(status)) return call.Failure(L"LogPopUrl", status);
  call.console().Out(L"pop-up passed to the log\n");
  return kExitSuccess;
}

}  // namespace ctl
}  // namespace zelk
