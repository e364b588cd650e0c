// Support for the hardening tests that drive the registered server from
// client processes: a snapshot of everything they may change (the settings
// values, the SafeList tree, the log file), restored once the server has gone;
// the list and the log as the registry and the file hold them; a watchdog that
// turns a hung call into a failure; and the Wine-specific recovery after a
// server process has been killed.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/unique_resource.h"
#include "tests/e2e_support.h"

namespace zelk {
namespace testing {

constexpr wchar_t kSettingsPath[] = L"Software\\Zelk";
constexpr wchar_t kSafeListPath[] = L"Software\\Zelk\\SafeList";

// --- Platform ----------------------------------------------------------------

inline bool IsRunningOnWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The statuses a client gets from a proxy whose server process has gone.
inline bool IsDisconnection(HRESULT status) {
  switch (static_cast<unsigned long>(status)) {
    case 0x800706BAul:  // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BEul:  // RPC_S_CALL_FAILED
    case 0x800706BFul:  // RPC_S_CALL_FAILED_DNE
    case 0x80010007ul:  // RPC_E_SERVER_DIED
    case 0x80010012ul:  // RPC_E_SERVER_DIED_DNE
    case 0x80010108ul:  // RPC_E_DISCONNECTED
    case 0x800401FDul:  // CO_E_OBJNOTCONNECTED
      return true;
    default:
      return false;
  }
}

// The process id of the running server, 0 when none runs.
inline DWORD ServerProcessId() {
  UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, "ZelkAdmin.exe") == 0) return entry.th32ProcessID;
  }
  return 0;
}

// Wine 8 keeps the class registrations of local servers in its RpcSs service
// and never notices that a registering process died: after a server was
// killed, every creation is handed the dead server's class object and fails
// with RPC_S_SERVER_UNAVAILABLE at once. Stopping the service drops that
// table; the next COM call that needs the service starts it again, empty, and
// the creation after it starts a fresh server. Only for Wine: on Windows the
// service cannot be stopped and needs no help.
inline HRESULT StopWineRpcss() {
  if (!IsRunningOnWine()) return E_NOTIMPL;
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) return HRESULT_FROM_WIN32(GetLastError());
  SC_HANDLE service = OpenServiceA(manager, "RpcSs", SERVICE_STOP | SERVICE_QUERY_STATUS);
  HRESULT status = service != nullptr ? S_OK : HRESULT_FROM_WIN32(GetLastError());
  if (SUCCEEDED(status)) {
    SERVICE_STATUS state = {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &state)) {
      status = HRESULT_FROM_WIN32(GetLastError());
    }
    const DWORD started = GetTickCount();
    while (SUCCEEDED(status) && QueryServiceStatus(service, &state) &&
           state.dwCurrentState != SERVICE_STOPPED && GetTickCount() - started < 10000) {
      Sleep(20);
    }
    if (SUCCEEDED(status) && state.dwCurrentState != SERVICE_STOPPED) status = E_FAIL;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return status;
}

// --- Registry ----------------------------------------------------------------

struct RegistryValue {
  std::wstring name;
  DWORD type = REG_NONE;
  std::string data;
  bool operator==(const RegistryValue& other) const {
    return name == other.name && type == other.type && data == other.data;
  }
};

// Every value of a key, through the wide functions, so that names and texts
// come back exactly whatever the code page of the writer was.
inline std::vector<RegistryValue> ReadValues(HKEY root, const wchar_t* path) {
  std::vector<RegistryValue> values;
  UniqueHkey key;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[16384];
    DWORD name_length = 16384;
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS) {
      break;
    }
    RegistryValue value;
    value.name.assign(name, name_length);
    value.type = type;
    value.data.assign(size, '\0');
    name_length = 16384;
    RegEnumValueW(key.get(), index, name, &name_length, nullptr, &type,
                  size ? reinterpret_cast<BYTE*>(&value.data[0]) : nullptr, &size);
    value.data.resize(size);
    values.push_back(value);
  }
  return values;
}

// Makes a key hold exactly `values`: others are deleted, these rewritten.
inline void WriteValues(HKEY root, const wchar_t* path, const std::vector<RegistryValue>& values) {
  UniqueHkey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           key.put(), nullptr));
  for (const RegistryValue& present : ReadValues(root, path)) {
    const bool kept = std::any_of(values.begin(), values.end(), [&](const RegistryValue& value) {
      return value.name == present.name;
    });
    if (!kept) RegDeleteValueW(key.get(), present.name.c_str());
  }
  for (const RegistryValue& value : values) {
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0,
                             value.type, reinterpret_cast<const BYTE*>(value.data.data()),
                             static_cast<DWORD>(value.data.size())));
  }
}

// The names of the SafeList key's subkeys, sorted.
inline std::vector<std::wstring> SafeListSubkeyNames() {
  std::vector<std::wstring> names;
  UniqueHkey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSafeListPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return names;
  }
  for (DWORD index = 0;; ++index) {
    wchar_t name[1024];
    DWORD length = 1024;
    if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The entry type stored in a subkey's default value; 0 when there is none.
inline DWORD StoredEntryType(const std::wstring& name) {
  const std::wstring path = std::wstring(kSafeListPath) + L"\\" + name;
  DWORD type = 0;
  DWORD size = sizeof(type);
  if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, RRF_RT_REG_DWORD, nullptr, &type,
                   &size) != ERROR_SUCCESS) {
    return 0;
  }
  return type;
}

// --- The list and the log as the server reports them ---------------------------

inline HRESULT SafeListProperty(IZelkHelper* helper, std::vector<std::wstring>* keys) {
  ScopedVariant list;
  const HRESULT status = helper->get_SafeList(list.Receive());
  if (FAILED(status)) return status;
  if (list.get().vt != (VT_ARRAY | VT_VARIANT) || list.get().parray == nullptr) return E_UNEXPECTED;
  SAFEARRAY* array = list.get().parray;
  LONG lower = 0;
  LONG upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);
  keys->clear();
  for (LONG index = lower; index <= upper; ++index) {
    ScopedVariant element;
    if (FAILED(SafeArrayGetElement(array, &index, element.get_mutable()))) return E_UNEXPECTED;
    if (element.get().vt != VT_BSTR) return E_UNEXPECTED;
    keys->push_back(ToWide(element.get().bstrVal));
  }
  return S_OK;
}

inline std::vector<std::wstring> Sorted(std::vector<std::wstring> texts) {
  std::sort(texts.begin(), texts.end());
  return texts;
}

inline std::string LogFilePath() {
  DWORD type = 0;
  std::string data;
  if (!ReadSetting("LogFile", &type, &data) || type != REG_SZ) return std::string();
  return std::string(data.c_str());
}

// A file's bytes; `exists` tells a missing file from an empty one.
inline std::string ReadFileBytes(const std::string& path, bool* exists = nullptr) {
  UniqueStdioFile file(std::fopen(path.c_str(), "rb"));
  if (exists != nullptr) *exists = static_cast<bool>(file);
  std::string bytes;
  if (!file) return bytes;
  char buffer[65536];
  size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) bytes.append(buffer, read);
  return bytes;
}

inline bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  UniqueStdioFile file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  return CloseStdioFile(&file) == 0;
}

// The entry rows of a log file: one per CR LF line end.
inline size_t CountLogRows(const std::string& bytes) {
  size_t rows = 0;
  for (size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 2)) {
    ++rows;
  }
  return rows;
}

// --- Snapshot of what the tests change ------------------------------------------

// Taken while no server runs; Restore() waits until none runs again (a server
// caches the settings and the list), then puts back the settings values, the
// SafeList tree (subkeys and their types) and the log file as they were.
class ServerStateSnapshot {
 public:
  ServerStateSnapshot() {
    settings_ = ReadValues(HKEY_LOCAL_MACHINE, kSettingsPath);
    for (const std::wstring& name : SafeListSubkeyNames()) {
      const std::wstring path = std::wstring(kSafeListPath) + L"\\" + name;
      list_.push_back(ListEntry{name, ReadValues(HKEY_LOCAL_MACHINE, path.c_str())});
    }
    log_path_ = LogFilePath();
    log_bytes_ = ReadFileBytes(log_path_, &log_existed_);
  }

  void Restore() const {
    WaitForNoServer(30000);
    WriteValues(HKEY_LOCAL_MACHINE, kSettingsPath, settings_);
    RestoreList();
    RestoreLog();
  }

  const std::string& log_path() const { return log_path_; }

 private:
  struct ListEntry {
    std::wstring name;
    std::vector<RegistryValue> values;
  };

  void RestoreList() const {
    UniqueHkey list;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSafeListPath, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, list.put(), nullptr));
    for (const std::wstring& name : SafeListSubkeyNames()) {
      const bool kept = std::any_of(list_.begin(), list_.end(),
                                    [&](const ListEntry& entry) { return entry.name == name; });
      if (!kept) {
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(list.get(), name.c_str()));
      }
    }
    for (const ListEntry& entry : list_) {
      const std::wstring path = std::wstring(kSafeListPath) + L"\\" + entry.name;
      WriteValues(HKEY_LOCAL_MACHINE, path.c_str(), entry.values);
    }
  }

  void RestoreLog() const {
    if (log_path_.empty()) return;
    SetFileAttributesA(log_path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (log_existed_) {
      EXPECT_TRUE(WriteFileBytes(log_path_, log_bytes_)) << log_path_;
    } else {
      DeleteFileA(log_path_.c_str());
    }
  }

  std::vector<RegistryValue> settings_;
  std::vector<ListEntry> list_;
  std::string log_path_;
  std::string log_bytes_;
  bool log_existed_ = false;
};

// Empties the SafeList tree and the log and switches logging on, so that every
// entry and row afterwards is one the test made. Only while no server runs:
// a running one would not see it. The snapshot puts everything back.
inline void EmptyListAndLog(const std::string& log_path) {
  UniqueHkey list;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSafeListPath, 0, KEY_ALL_ACCESS, list.put()));
  for (const std::wstring& name : SafeListSubkeyNames()) {
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(list.get(), name.c_str()));
  }
  DeleteFileA(log_path.c_str());
  WriteSettingDwordForTest("LogCount", 0);
  WriteSettingDwordForTest("LogPopup", 1);
}

// --- Hang detection ----------------------------------------------------------------

// A call into the server that never returns would leave the test waiting for
// its time limit without saying where. The watchdog names the call and ends
// the process instead.
class HangWatchdog {
 public:
  explicit HangWatchdog(DWORD limit_ms) : limit_ms_(limit_ms) {
    stop_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_.reset(CreateThread(nullptr, 0, &HangWatchdog::Run, this, 0, nullptr));
  }
  ~HangWatchdog() {
    SetEvent(stop_.get());
    WaitForSingleObject(thread_.get(), INFINITE);
  }
  HangWatchdog(const HangWatchdog&) = delete;
  HangWatchdog& operator=(const HangWatchdog&) = delete;

  // Names the call about to be made; the label must outlive the call.
  void Enter(const char* label) {
    // The time first: the watchdog never sees a new label with an old time.
    entered_ms_.store(GetTickCount());
    label_.store(label);
  }
  void Leave() { label_.store(nullptr); }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* watchdog = static_cast<HangWatchdog*>(self);
    while (WaitForSingleObject(watchdog->stop_.get(), 500) == WAIT_TIMEOUT) {
      const char* label = watchdog->label_.load();
      if (label != nullptr && GetTickCount() - watchdog->entered_ms_.load() > watchdog->limit_ms_) {
        std::fprintf(stderr, "HANG: no answer within %lu ms to %s\n",
                     static_cast<unsigned long>(watchdog->limit_ms_), label);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
      }
    }
    return 0;
  }

  const DWORD limit_ms_;
  std::atomic<const char*> label_{nullptr};
  std::atomic<DWORD> entered_ms_{0};
  UniqueHandle stop_;
  UniqueHandle thread_;
};

}  // namespace testing
}  // namespace zelk
