// Redirects HKEY_LOCAL_MACHINE of the test process to a fresh scratch key, so
// that tests of registry code never see each other's values or the machine's.
// Covers only this process: tests that launch the server clean up real keys.
#pragma once

#include <windows.h>

#include <string>

#include "gtest/gtest.h"
#include "platform/unique_resource.h"

namespace zelk {
namespace testing {

class RegistrySandbox {
 public:
  RegistrySandbox() {
    static LONG counter = 0;
    path_ = "Software\\ZelkTest\\" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(InterlockedIncrement(&counter));
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, root_.put(), nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegOverridePredefKey(HKEY_LOCAL_MACHINE, root_.get()));
  }
  ~RegistrySandbox() {
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    root_.reset();
    RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
  }

  // The scratch key that stands in for HKEY_LOCAL_MACHINE.
  HKEY root() const { return root_.get(); }

  // Creates HKLM\Software\Zelk and its SafeList subkey, as registration does.
  void CreateSettingsKey() const {
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root(), "Software\\Zelk\\SafeList", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, UniqueHkey().put(), nullptr));
  }

  void SetDword(const char* subkey, const char* name, DWORD value) const {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueA(root(), subkey, name, REG_DWORD, &value, sizeof(value)));
  }
  void SetString(const char* subkey, const char* name, const std::string& value,
                 DWORD type = REG_SZ) const {
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueA(root(), subkey, name, type, value.c_str(),
                                             static_cast<DWORD>(value.size() + 1)));
  }
  void DeleteValue(const char* subkey, const char* name) const {
    RegDeleteKeyValueA(root(), subkey, name);
  }

  // The bytes of a REG_SZ value of the scratch tree, terminator included; "(absent)" if none.
  std::string ReadBytes(const char* subkey, const char* name) const {
    char data[1024];
    DWORD size = sizeof(data);
    const DWORD flags = RRF_RT_REG_SZ | RRF_NOEXPAND;  // an expandable string is not one
    return RegGetValueA(root(), subkey, name, flags, nullptr, data, &size) == ERROR_SUCCESS
               ? std::string(data, size)
               : "(absent)";
  }
  DWORD ReadDword(const char* subkey, const char* name) const {  // fails unless a REG_DWORD
    DWORD value = 0xdeadbeef, size = sizeof(value);
    EXPECT_EQ(ERROR_SUCCESS,
              RegGetValueA(root(), subkey, name, RRF_RT_REG_DWORD, nullptr, &value, &size)) << name;
    return value;
  }
  bool KeyExists(const char* subkey) const {
    return RegOpenKeyExA(root(), subkey, 0, KEY_READ, UniqueHkey().put()) == ERROR_SUCCESS;
  }

 private:
  std::string path_;
  UniqueHkey root_;  // not copyable, so neither is the sandbox
};

}  // namespace testing
}  // namespace zelk
