// Output of the tool. Text is composed as wide strings with '\n' line ends; a
// console receives it as Unicode, a pipe or file as text in the ANSI code
// page with CR LF line ends, as every console program's redirected output.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {
namespace ctl {

class Console {
 public:
  Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  void Out(const std::wstring& text);
  void Err(const std::wstring& text);
  // Writes bytes to standard output as they are, for a file's content that
  // must arrive unchanged in a pipe or file.
  void OutBytes(const std::string& bytes);

  // True when standard output is a console, where a line can be redrawn.
  bool out_is_console() const;

  // True once any write has failed (a closed pipe, a full disk): the command
  // then cannot claim success.
  bool failed() const { return failed_; }

 private:
  void Write(HANDLE handle, const std::wstring& text);
  bool WriteRedirected(HANDLE handle, const std::wstring& text);

  HANDLE out_;
  HANDLE err_;
  bool failed_ = false;
};

// Text from the server made safe to print: every control character (C0, DEL
// and C1) is shown as \xNN, so that a logged URL can neither break a line of
// a table nor send escape sequences to a terminal.
std::wstring Visible(const std::wstring& text);

// "0x" and eight upper-case hexadecimal digits.
std::wstring HexStatus(HRESULT status);

// The system's message text for a status, on one line; for a status made from
// a Win32 error, the message of that error when the status itself has none.
std::wstring SystemMessage(HRESULT status);

// The line that follows the report of a change the server refused with
// E_ACCESSDENIED: what the change needs write access to, and what gives it:
// for the service (`by_service`), a repair of the installation, which puts
// back the access lists of its store; for the per-user server, which writes
// with its user's rights, an elevated prompt or the package. `operation` is
// the failed member as reported ("AutoShow put", "ProtectPage"). Empty for
// any other failure, reads and local files included.
std::wstring RefusedChangeAdvice(const std::wstring& operation, HRESULT status, bool by_service);

// Writes the out-of-memory report without allocating: the last resort when
// nothing else can be formatted.
void ReportOutOfMemory();

}  // namespace ctl
}  // namespace zelk
