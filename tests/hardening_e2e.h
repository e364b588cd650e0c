// For the hardening tests that drive the registered server: the list and the
// log as the registry and the file hold them; a snapshot of what tests change.
#pragma once

#include <windows.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e_support.h"

namespace zelk {
namespace testing {

constexpr wchar_t kSettingsPath[] = L"Software\\Zelk";
constexpr wchar_t kSafeListPath[] = L"Software\\Zelk\\SafeList";

inline DWORD ServerProcessId() { return GetProcessId(OpenServerProcess().get()); }

// The names of the SafeList key's subkeys, sorted.
inline std::vector<std::wstring> SafeListSubkeyNames() {
  std::vector<std::wstring> names;
  UniqueHkey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSafeListPath, 0, KEY_READ, key.put());
  wchar_t name[256];
  while (RegEnumKeyW(key.get(), names.size(), name, 256) == 0) names.emplace_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

// The entry type in a subkey's default value; 0 when there is none.
inline DWORD StoredEntryType(const std::wstring& name) {
  DWORD type = 0, size = sizeof(type);
  RegGetValueW(HKEY_LOCAL_MACHINE, (std::wstring(kSafeListPath) + L"\\" + name).c_str(), nullptr,
               RRF_RT_REG_DWORD, nullptr, &type, &size);
  return type;
}

// The SafeList property, sorted.
inline HRESULT SafeListProperty(IZelkHelper* helper, std::vector<std::wstring>* keys) {
  ScopedVariant list;
  const HRESULT status = helper->get_SafeList(list.Receive());
  if (FAILED(status)) return status;
  if (list.get().vt != (VT_ARRAY | VT_VARIANT)) return E_UNEXPECTED;
  const SAFEARRAY* array = list.get().parray;
  keys->clear();
  for (ULONG index = 0; index < array->rgsabound[0].cElements; ++index) {
    const VARIANT& element = static_cast<const VARIANT*>(array->pvData)[index];
    if (element.vt != VT_BSTR) return E_UNEXPECTED;
    keys->push_back(ToWide(element.bstrVal));
  }
  std::sort(keys->begin(), keys->end());
  return S_OK;
}

// The entry rows of a log file: one per line.
inline size_t LogRows(const std::string& path) {
  UniqueStdioFile file(std::fopen(path.c_str(), "rb"));
  size_t rows = 0;
  for (int c = 0; file && (c = std::fgetc(file.get())) != EOF;) rows += c == '\n' ? 1 : 0;
  return rows;
}

// Once no server runs, empties the list and the log and switches logging on, so
// that every entry and row afterwards is the test's. The destructor waits again
// (a server caches settings and list), then puts back Software\Zelk and the log.
class ServerStateSnapshot {
 public:
  ServerStateSnapshot() {
    WaitForNoServer();
    RegDeleteTreeW(HKEY_CURRENT_USER, kBackupPath);
    RegCreateKeyExW(HKEY_CURRENT_USER, kBackupPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    backup_.put(), nullptr);
    EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeW(HKEY_LOCAL_MACHINE, kSettingsPath, backup_.get()));
    DWORD type = 0;
    ReadSetting("LogFile", &type, &log_path_);
    log_path_.resize(std::strlen(log_path_.c_str()));
    log_existed_ = CopyFileA(log_path_.c_str(), (log_path_ + ".backup").c_str(), FALSE) != FALSE;
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSafeListPath));
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_LOCAL_MACHINE, kSafeListPath, UniqueHkey().put()));
    DeleteFileA(log_path_.c_str());
    WriteSettingDwordForTest("LogCount", 0);
    WriteSettingDwordForTest("LogPopup", 1);
  }
  ~ServerStateSnapshot() {
    WaitForNoServer(30000);
    UniqueHkey zelk;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsPath, 0, KEY_ALL_ACCESS, zelk.put());
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteTreeW(zelk.get(), nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCopyTreeW(backup_.get(), nullptr, zelk.get()));
    backup_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, kBackupPath);
    SetFileAttributesA(log_path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(log_path_.c_str());
    if (log_existed_) MoveFileA((log_path_ + ".backup").c_str(), log_path_.c_str());
  }
  const std::string& log_path() const { return log_path_; }

 private:
  static constexpr wchar_t kBackupPath[] = L"Software\\ZelkHardeningBackup";
  UniqueHkey backup_;
  std::string log_path_;
  bool log_existed_ = false;
};

// While it lives, everyone may read the given keys of HKEY_LOCAL_MACHINE and
// give their access lists back, and nothing else (Wine checks a key's list when
// the key is opened). Each key's own list is put back at the end.
class ReadOnlyKeys {
 public:
  explicit ReadOnlyKeys(const std::vector<const wchar_t*>& paths)
      : keys_(paths.size()), lists_(paths.size(), std::string(4096, '\0')) {
    PSECURITY_DESCRIPTOR read_only = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;0x60019;;;WD)", SDDL_REVISION_1, &read_only, nullptr));
    for (size_t index = 0; index < paths.size(); ++index) {
      DWORD size = static_cast<DWORD>(lists_[index].size());
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths[index], 0, READ_CONTROL | WRITE_DAC,
                    keys_[index].put());
      RegGetKeySecurity(keys_[index].get(), DACL_SECURITY_INFORMATION, &lists_[index][0], &size);
      EXPECT_EQ(0, RegSetKeySecurity(keys_[index].get(), DACL_SECURITY_INFORMATION, read_only));
    }
    LocalFree(read_only);
  }
  ~ReadOnlyKeys() {
    for (size_t index = 0; index < keys_.size(); ++index) {
      EXPECT_EQ(0, RegSetKeySecurity(keys_[index].get(), DACL_SECURITY_INFORMATION,
                                     &lists_[index][0]));
    }
  }

 private:
  std::vector<UniqueHkey> keys_;
  std::vector<std::string> lists_;  // each key's own security descriptor
};

}  // namespace testing
}  // namespace zelk
