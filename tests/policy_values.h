// Policy values as Group Policy writes them under HKLM\Software\Policies\Zelk (64-bit
// view), and a table of values the server must ignore, each with the start of its reason.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "policy/live_policy.h"

namespace zelk {
namespace testing {

// A value by its path under the policy key ("SafeList\\1"): a REG_DWORD holds `number`, any
// other type the UTF-16 bytes of `text` with a NUL; `reason` starts why it is ignored.
struct PolicyValue {
  std::wstring path;
  DWORD type;
  DWORD number;
  std::wstring text;
  const wchar_t* reason = nullptr;
};

inline PolicyValue Dword(const wchar_t* path, DWORD number) { return {path, REG_DWORD, number, L""}; }
inline PolicyValue Text(const wchar_t* path, const std::wstring& text) { return {path, REG_SZ, 0, text}; }

// Replaces the whole policy key with `values`, as Group Policy does; none removes the key. Returns
// once a running server's next call sees the change.
inline void ApplyPolicy(const std::vector<PolicyValue>& values) {
  HKEY policies = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Policies", 0, nullptr, 0,
                                           KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &policies, nullptr));
  RegDeleteTreeW(policies, L"Zelk");
  for (const PolicyValue& value : values) {
    const size_t split = value.path.rfind(L'\\');
    const std::wstring key = split == std::wstring::npos ? L"Zelk" : L"Zelk\\" + value.path.substr(0, split);
    const bool dword = value.type == REG_DWORD;
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeyValueW(policies, key.c_str(), value.path.substr(split + 1).c_str(),
                                             value.type, dword ? static_cast<const void*>(&value.number)
                                                               : value.text.c_str(),
                                             dword ? 4 : (value.text.size() + 1) * sizeof(wchar_t)));
  }
  RegCloseKey(policies);
  Sleep(static_cast<DWORD>(kPolicyRecheckMs) + 50);
}

// One of every kind of value that is not applied. U+0D05 is in no ANSI code page.
inline std::vector<PolicyValue> IgnoredValues() {
  const std::wstring url = L"http://bad.test/";
  return {
      {L"AutoShow", REG_SZ, 0, L"1", L"wrong type: REG_SZ where the policy is a REG_DWORD"},
      {L"PlaySound", REG_DWORD, 2, L"", L"the value is 2; the policy is 0 or 1"},
      {L"ProtectHttps", REG_BINARY, 0, L"x", L"wrong type: REG_BINARY"},
      {L"LockSafeList", REG_DWORD, 7, L"", L"the value is 7"},
      {L"SoundFile", REG_SZ, 0, L"C:\\" + std::wstring(257, L's'), L"the text is longer than 259"},
      {L"NoSuchPolicy", REG_DWORD, 1, L"", L"no policy has this name"},
      {L"SafeList\\1", REG_DWORD, 1, L"", L"wrong type: REG_DWORD of 4 bytes where the policy is a REG_SZ"},
      {L"SafeList\\2", REG_SZ, 0, L"pages " + url, L"unknown entry type \"pages\""},
      {L"SafeList\\3", REG_SZ, 0, L"type=3 " + url, L"\"type=3\" entries cannot be imported"},
      {L"SafeList\\4", REG_SZ, 0, L"page", L"no URL after \"page\""},
      {L"SafeList\\5", REG_SZ, 0, L"  # a comment", L"no entry"},
      {L"SafeList\\6", REG_SZ, 0, L"page " + url + L"a\\b", L"the URL holds a '\\'"},
      {L"SafeList\\7", REG_SZ, 0, L"site " + url + std::wstring(240, L'x'), L"the URL is longer than 255"},
      {L"SafeList\\8", REG_SZ, 0, L"page " + url + L"\u0D05", L"the URL cannot be held in code page"},
      {L"SafeList\\9", REG_EXPAND_SZ, 0, L"page %HOST%", L"wrong type: REG_EXPAND_SZ"},
      {L"BlockList\\1", REG_SZ, 0, L"page " + url + L"\x01", L"the URL holds the control character \\x01"},
      {L"BlockList\\2", REG_SZ, 0, L"domain " + std::wstring(250, L'a'), L"the server cannot store the URL"},
      {L"BlockList\\first", REG_SZ, 0, L"page " + url, L"a list value is named by its number"},
  };
}

}  // namespace testing
}  // namespace zelk
