#include "tools/zelkctl/console.h"

#include <algorithm>

#include "platform/text.h"
#include "safelist/entry_line.h"
#include "tools/zelkctl/local_memory.h"

namespace zelk {
namespace ctl {

namespace {

constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";

// The members that change what the server keeps, by how the failed
// operation's name ends, and what each needs write access to.
struct ServerChange {
  const wchar_t* operation_end;
  const wchar_t* needs;
};

constexpr wchar_t kSettingsKey[] = L"HKLM\\Software\\Zelk";
constexpr wchar_t kSettingsKeyAndLogFile[] = L"HKLM\\Software\\Zelk and to the log file";

const ServerChange kServerChanges[] = {
    {L" put", kSettingsKey},
    {L"IncrementTotalPopups", kSettingsKey},
    {L"ProtectPage", kSettingsKey},
    {L"ProtectSite", kSettingsKey},
    {L"ProtectDomain", kSettingsKey},
    {L"UnprotectUrl", kSettingsKey},
    {L"ClearLogs", kSettingsKeyAndLogFile},
    {L"LogPopUrl", kSettingsKeyAndLogFile},
};

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return GetConsoleMode(handle, &mode) != FALSE;
}

bool WriteConsoleText(HANDLE handle, const std::wstring& text) {
  size_t offset = 0;
  while (offset < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - offset, 8192));
    DWORD written = 0;
    if (!WriteConsoleW(handle, text.data() + offset, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    offset += written;
  }
  return true;
}

bool WriteBytes(HANDLE handle, const std::string& bytes) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - offset, 65536));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + offset, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    offset += written;
  }
  return true;
}

std::wstring WithCrLf(const std::wstring& text) {
  std::wstring converted;
  converted.reserve(text.size() + text.size() / 16);
  for (wchar_t c : text) {
    if (c == L'\n') converted.push_back(L'\r');
    converted.push_back(c);
  }
  return converted;
}

// The message FormatMessage has for `code`, trailing line breaks and blanks
// removed; empty when it has none.
std::wstring MessageFor(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  UniqueLocalMemory owner(buffer);
  if (length == 0 || buffer == nullptr) return std::wstring();
  std::wstring text(buffer, length);
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  const size_t end = text.find_last_not_of(L' ');
  text.erase(end == std::wstring::npos ? 0 : end + 1);
  return text;
}

}  // namespace

Console::Console() : out_(GetStdHandle(STD_OUTPUT_HANDLE)), err_(GetStdHandle(STD_ERROR_HANDLE)) {}

void Console::Out(const std::wstring& text) { Write(out_, text); }
void Console::Err(const std::wstring& text) { Write(err_, text); }

void Console::OutBytes(const std::string& bytes) {
  if (!WriteBytes(out_, bytes)) failed_ = true;
}

bool Console::out_is_console() const { return IsConsole(out_); }

void Console::Write(HANDLE handle, const std::wstring& text) {
  if (text.empty()) return;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    failed_ = true;
    return;
  }
  const bool written =
      IsConsole(handle) ? WriteConsoleText(handle, text) : WriteRedirected(handle, text);
  if (!written) failed_ = true;
}

bool Console::WriteRedirected(HANDLE handle, const std::wstring& text) {
  std::string narrow;
  if (FAILED(NarrowFromWide(WithCrLf(text).c_str(), &narrow))) return false;
  return WriteBytes(handle, narrow);
}

std::wstring Visible(const std::wstring& text) { return VisibleText(text); }

std::wstring HexStatus(HRESULT status) {
  const unsigned long value = static_cast<unsigned long>(status);
  std::wstring text = L"0x";
  for (int shift = 28; shift >= 0; shift -= 4) text.push_back(kHexDigits[(value >> shift) & 0xF]);
  return text;
}

std::wstring SystemMessage(HRESULT status) {
  std::wstring text = MessageFor(static_cast<DWORD>(status));
  if (text.empty() && HRESULT_FACILITY(status) == FACILITY_WIN32) {
    text = MessageFor(static_cast<DWORD>(HRESULT_CODE(status)));
  }
  if (text.empty()) text = L"(the system has no message text for this status)";
  return text;
}

std::wstring RefusedChangeAdvice(const std::wstring& operation, HRESULT status, bool by_service) {
  if (status != E_ACCESSDENIED) return std::wstring();
  for (const ServerChange& change : kServerChanges) {
    if (!EndsWith(operation, change.operation_end)) continue;
    const std::wstring needs = L"zelkctl: this change needs write access to " +
                               std::wstring(change.needs);
    if (by_service) {
      return needs + L" for the ZelkAdmin service; repair the installation, which puts back "
                     L"the access it needs\n";
    }
    return needs + L"; the per-user server writes with your rights: run zelkctl from an "
                   L"elevated prompt, or install the package, whose service makes changes for "
                   L"every user\n";
  }
  return std::wstring();
}

void ReportOutOfMemory() {
  static const char kReport[] = "zelkctl: out of memory (0x8007000E)\r\n";
  DWORD written = 0;
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  // Nothing is left to report a failure of this last write to.
  if (!WriteFile(err, kReport, sizeof(kReport) - 1, &written, nullptr)) return;
}

}  // namespace ctl
}  // namespace zelk
