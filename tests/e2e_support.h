// Support for tests that drive the registered server as its clients do: from
// another process, through COM activation of the LocalServer32.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/unique_resource.h"
#include "tests/test_module.h"
#include "zelk_admin.h"

namespace zelk {
namespace testing {

// The folder of this test executable, with its trailing backslash; the server
// is built beside the tests.
inline std::string TestFolder() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

inline std::string ServerPath() { return TestFolder() + "ZelkAdmin.exe"; }

// Starts a command line; the process, invalid (and a failure) when it cannot start.
// Under load Wine now and then fails a CreateProcess with ERROR_INTERNAL_ERROR that
// succeeds a moment later: a start is tried three times.
inline UniqueHandle StartProcess(const std::string& command_line) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 3; ++attempt, Sleep(200)) {
    std::string mutable_line = command_line;
    if (CreateProcessA(nullptr, &mutable_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      error = ERROR_SUCCESS;
      break;
    }
    error = GetLastError();
  }
  if (error != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot start " << command_line << ": " << error;
    return UniqueHandle();
  }
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

// Runs a command line to its end; returns its exit code (0xdeadbeef on failure
// to start or a time-out).
inline DWORD RunAndWait(const std::string& command_line, DWORD timeout_ms = 60000) {
  UniqueHandle process = StartProcess(command_line);
  DWORD exit_code = 0xdeadbeef;
  if (process && WaitForSingleObject(process.get(), timeout_ms) != WAIT_OBJECT_0) {
    ADD_FAILURE() << command_line << " did not end";
    TerminateProcess(process.get(), 1);
  } else if (process) {
    GetExitCodeProcess(process.get(), &exit_code);
  }
  return exit_code;
}

// The running server process, opened for waiting; invalid when none runs.
inline UniqueHandle OpenServerProcess() {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) {
    snapshot.release();
    return UniqueHandle();
  }
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, "ZelkAdmin.exe") == 0) {
      return UniqueHandle(
          OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID));
    }
  }
  return UniqueHandle();
}

// Waits until no server process is left (a previous test's server idles out).
inline void WaitForNoServer(DWORD timeout_ms = 15000) {
  for (UniqueHandle server = OpenServerProcess(); server; server = OpenServerProcess()) {
    if (WaitForSingleObject(server.get(), timeout_ms) != WAIT_OBJECT_0) {
      ADD_FAILURE() << "a server process did not end";
      return;
    }
  }
}

inline HRESULT CreateServerObject(ComPtr<IZelkHelper>* helper) {
  return CoCreateInstance(CLSID_ZelkHelper, nullptr, CLSCTX_LOCAL_SERVER, IID_IZelkHelper,
                          helper->put_void());
}

inline UniqueBstr Bstr(const wchar_t* text) { return UniqueBstr(SysAllocString(text)); }

inline std::wstring ToWide(BSTR text) {
  return text == nullptr ? std::wstring() : std::wstring(text, SysStringLen(text));
}

// Reads a value of the real HKEY_LOCAL_MACHINE\Software\Zelk; one over 1,024 bytes fails.
inline bool ReadSetting(const char* name, DWORD* type, std::string* data) {
  char buffer[1024];
  DWORD size = sizeof(buffer);
  const bool read = RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Zelk", name,
                                 RRF_RT_ANY | RRF_NOEXPAND, type, buffer, &size) == ERROR_SUCCESS;
  if (read) data->assign(buffer, size);
  return read;
}

inline DWORD ReadSettingDword(const char* name) {
  DWORD value = 0, size = sizeof(value);
  return RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Zelk", name, RRF_RT_REG_DWORD, nullptr, &value,
                      &size) == ERROR_SUCCESS ? value : 0xdeadbeef;
}

inline void WriteSettingDwordForTest(const char* name, DWORD value) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Zelk", name, REG_DWORD,
                                           &value, sizeof(value)));
}

}  // namespace testing
}  // namespace zelk
