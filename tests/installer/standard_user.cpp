// standard_user COMMAND...: runs COMMAND as a standard user would, with a token
// whose Administrators group is deny-only, and exits with its exit code (or
// with the status of the step that failed, which is negative). The child
// inherits this process's streams.
#include <windows.h>

#include "platform/status.h"
#include "platform/unique_resource.h"

namespace {

// What follows this program's own name, quoted or not, on the command line.
wchar_t* CommandAfterProgram() {
  wchar_t* text = GetCommandLineW();
  const wchar_t end = *text == L'"' ? *text++ : L' ';
  while (*text != L'\0' && *text++ != end) {
  }
  while (*text == L' ') ++text;
  return text;
}

}  // namespace

int main() {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) {
    return zelk::StatusFromLastError();
  }
  const zelk::UniqueHandle token(own);
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(administrators);
  SID_AND_ATTRIBUTES deny_only = {administrators, 0};
  HANDLE restricted = nullptr;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
      !CreateRestrictedToken(token.get(), 0, 1, &deny_only, 0, nullptr, 0, nullptr, &restricted)) {
    return zelk::StatusFromLastError();
  }
  const zelk::UniqueHandle restricted_token(restricted);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessAsUserW(restricted_token.get(), nullptr, CommandAfterProgram(), nullptr, nullptr,
                            TRUE, 0, nullptr, nullptr, &startup, &process)) {
    return zelk::StatusFromLastError();
  }
  const zelk::UniqueHandle child(process.hProcess);
  CloseHandle(process.hThread);
  DWORD code = 0;
  if (WaitForSingleObject(child.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(child.get(), &code)) {
    return zelk::StatusFromLastError();
  }
  return static_cast<int>(code);
}
