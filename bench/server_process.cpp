#include "bench/server_process.h"

#include <tlhelp32.h>

#include <new>
#include <string>
#include <utility>

#include "bench/bench_clock.h"
#include "bench/bench_results.h"
#include "platform/registry_key.h"
#include "platform/status.h"
#include "platform/text.h"
#include "zelk_admin.h"

namespace zelk {
namespace bench {

namespace {

constexpr char kServerImageName[] = "ZelkAdmin.exe";
// Five seconds idle and one second of pause, after a load that may still be
// under way: a server whose start COM gave up on loads its list to the end
// first, and 100,000 entries have taken tens of seconds under a busy Wine.
constexpr DWORD kServerExitTimeoutMs = 180000;
constexpr DWORD kServerPollMs = 100;
constexpr DWORD kServerReadyTimeoutMs = 180000;
constexpr int kGuidTextCharacters = 39;
// A registration also sets the access list of every safe-list entry.
constexpr DWORD kRegistrationTimeoutMs = 300000;

// Calls `visit` with the id of every ZelkAdmin.exe process.
template <typename Visit>
HRESULT ForEachServerProcess(Visit visit) {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return StatusFromLastError();
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, kServerImageName) == 0) ZELK_RETURN_IF_FAILED(visit(entry));
  }
  return GetLastError() == ERROR_NO_MORE_FILES ? S_OK : StatusFromLastError();
}

// A running server, opened with `access`; an empty handle when none runs.
HRESULT OpenServerProcess(DWORD access, UniqueHandle* server) {
  return ForEachServerProcess([access, server](const PROCESSENTRY32& entry) {
    if (*server) return S_OK;
    server->reset(OpenProcess(access, FALSE, entry.th32ProcessID));
    // Gone between the snapshot and the open: look on.
    if (!*server && GetLastError() != ERROR_INVALID_PARAMETER) return StatusFromLastError();
    return S_OK;
  });
}

// The command COM runs for the class: LocalServer32 and " -Embedding".
HRESULT ReadServerCommand(std::string* command) {
  std::string path;
  ZELK_RETURN_IF_FAILED(ReadServerPath(&path));
  try {
    *command = "\"" + path + "\" -Embedding";
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT StartProcess(std::string command, UniqueHandle* process) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION created = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      nullptr, &startup, &created)) {
    return StatusFromLastError();
  }
  process->reset(created.hProcess);
  UniqueHandle thread(created.hThread);
  return S_OK;
}

HRESULT WaitUntilReady(const UniqueHandle& process) {
  switch (WaitForInputIdle(process.get(), kServerReadyTimeoutMs)) {
    case 0:
      return S_OK;
    case WAIT_TIMEOUT:
      return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    default:
      return StatusFromLastError();
  }
}

}  // namespace

HRESULT CountServerProcesses(size_t* count) {
  size_t found = 0;
  ZELK_RETURN_IF_FAILED(ForEachServerProcess([&found](const PROCESSENTRY32&) {
    ++found;
    return S_OK;
  }));
  *count = found;
  return S_OK;
}

HRESULT WaitForServerExit(bool interruptible) {
  const ULONGLONG deadline = GetTickCount64() + kServerExitTimeoutMs;
  for (;;) {
    UniqueHandle server;
    ZELK_RETURN_IF_FAILED(OpenServerProcess(SYNCHRONIZE, &server));
    if (!server) return S_OK;
    if (interruptible && StopRequested()) return kStoppedStatus;
    if (GetTickCount64() >= deadline) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    if (WaitForSingleObject(server.get(), kServerPollMs) == WAIT_FAILED) {
      return StatusFromLastError();
    }
  }
}

HRESULT WaitForServerReady() {
  UniqueHandle server;
  ZELK_RETURN_IF_FAILED(OpenServerProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, &server));
  if (!server) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  return WaitUntilReady(server);
}

HRESULT LaunchServerAndWaitReady(UniqueHandle* process) {
  std::string command;
  ZELK_RETURN_IF_FAILED(ReadServerCommand(&command));
  ZELK_RETURN_IF_FAILED(StartProcess(std::move(command), process));
  return WaitUntilReady(*process);
}

HRESULT ReadServerPath(std::string* path) {
  wchar_t clsid_text[kGuidTextCharacters];
  if (StringFromGUID2(CLSID_ZelkHelper, clsid_text, kGuidTextCharacters) == 0) return E_FAIL;
  std::string clsid;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(clsid_text, &clsid));
  try {
    const std::string key_path = "CLSID\\" + clsid + "\\LocalServer32";
    RegistryKey key;
    ZELK_RETURN_IF_FAILED(key.Open(HKEY_CLASSES_ROOT, key_path.c_str(), kReadAccess));
    return key.ReadString(nullptr, path);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT RunServerSwitch(const std::string& server_path, const char* switch_text) {
  UniqueHandle process;
  try {
    ZELK_RETURN_IF_FAILED(StartProcess("\"" + server_path + "\" " + switch_text, &process));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (WaitForSingleObject(process.get(), kRegistrationTimeoutMs) != WAIT_OBJECT_0) {
    return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  }
  DWORD exit_code = 0;
  if (!GetExitCodeProcess(process.get(), &exit_code)) return StatusFromLastError();
  // The registration runs exit with their HRESULT.
  const HRESULT status = static_cast<HRESULT>(exit_code);
  if (FAILED(status)) {
    Progress("ZelkAdmin.exe %s ended with 0x%08lX", switch_text,
             static_cast<unsigned long>(exit_code));
  }
  return status;
}

}  // namespace bench
}  // namespace zelk
