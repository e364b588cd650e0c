// Hostile text at every member taking a string, from a client process through the marshaller:
// each call must return a status, and what is stored must be the narrow form of the text or
// nothing. Also run under code page 932 (e2e_hostile_input_test_cp932); the server inherits it.
#include <windows.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "tests/hardening_e2e.h"

using namespace zelk;
using namespace zelk::testing;

// What protecting a text stores: its narrow form, that with "http://" in front, or nothing
// (also when the code page cannot hold the text).
enum Stored { kAsGiven, kWithPrefix, kRefused };
struct Input { std::string label; std::wstring text; Stored stored; bool is_null = false; };

std::vector<Input> Inputs() {
  const std::wstring url = L"http://hostile.test/";
  std::vector<Input> inputs = {
      {"null", L"", kWithPrefix, true}, {"empty", L"", kWithPrefix},
      {"1 MB", url + std::wstring(1 << 20, L'x'), kRefused},
      {"embedded NUL", url + std::wstring(L"kept\0dropped", 12), kAsGiven},
      {"lone lead surrogate at the end", url + L"\xD800", kAsGiven},
      // Look-alikes of URL delimiters, in a code page without them, must not become them.
      {"fullwidth solidus", url + L"a\uFF0Fb", kAsGiven},
      {"fullwidth colon before a port", L"http://hostile.test\uFF1A81/", kAsGiven},
      {"backslash", url + L"a\\b", kRefused}, {"byte order mark", L"\uFEFF" + url, kWithPrefix},
      {"key of 256 characters", url + std::wstring(236, L'k'), kRefused},
      {"255 double-byte-wide characters", url + std::wstring(235, L'\u8868'), kAsGiven},
      {"markup", url + L"'\"><script>&amp;%s%n", kAsGiven},
      {"double-byte characters ending in 0x5C", url + L"\u8868\u30BD\u80FD\uFF71", kAsGiven}};
  for (wchar_t c = 1; c < 0xA0; c = c == 0x1F ? 0x7F : c + 1) {
    inputs.push_back({"control " + std::to_string(c), url + c + L"q", kAsGiven});
  }
  return inputs;
}

// Up to the first NUL, in the ANSI code page, characters it lacks as '?', never a look-alike.
std::string Narrow(BSTR text) {
  std::string narrow(4 * SysStringLen(text) + 1, '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, -1, &narrow[0], narrow.size(), 0, 0);
  return narrow.c_str();
}

std::wstring Wide(const std::string& narrow) {
  std::wstring wide(narrow.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, narrow.data(), narrow.size(), &wide[0], wide.size()));
  return wide;
}

// A log row no text can break out of: no quote, angle bracket or control character in a cell.
const std::wregex kRow(LR"(<TR>(<TD><font size=2>(\?\{/font>|<A href='[^<>'"\x00-\x1f\x7f]*')"
                       LR"( target=_blank>[^<>'"\x00-\x1f\x7f]*</A></font>)</TD>){2})"
                       LR"(<TD><font size=2>[-: 0-9]{16}</font></TD></TR>)");

TEST(HostileInputTest, EveryStringMemberStoresTheNarrowFormOrNothing) {
  if (std::getenv("LC_ALL") && std::string(std::getenv("LC_ALL")).rfind("ja_JP", 0) == 0 &&
      GetACP() != 932) {
    GTEST_SKIP() << "code page " << GetACP() << ", not 932: the ja_JP.UTF-8 locale is missing";
  }
  ScopedComInitializer com;
  ServerStateSnapshot snapshot;
  ComPtr<IZelkHelper> helper;
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  UniqueBstr plain = Bstr(L"http://plain.hostile.test/");
  DWORD rows = 0;
  std::string sound;
  for (const Input& input : Inputs()) {
    SCOPED_TRACE(input.label);
    UniqueBstr text(input.is_null ? nullptr
                                  : SysAllocStringLen(input.text.data(), input.text.size()));
    const std::string narrow = Narrow(text.get());
    // A text whose narrow form reads back differently is refused, not stored with '?'.
    const bool held = input.is_null || Wide(narrow) == std::wstring(text.get());
    const Stored expected = held ? input.stored : kRefused;
    const std::wstring key = Wide(expected == kWithPrefix ? "http://" + narrow : narrow);
    for (DWORD type = 1; type <= 4; type *= 2) {
      const HRESULT status = type == 1   ? helper->ProtectPage(text.get())
                             : type == 2 ? helper->ProtectSite(text.get())
                                         : helper->ProtectDomain(text.get());
      std::vector<std::wstring> keys;
      ASSERT_EQ(S_OK, SafeListProperty(helper.get(), &keys));
      ASSERT_EQ(SafeListSubkeyNames(), keys) << "list and registry parted";
      EXPECT_EQ(expected == kRefused ? E_INVALIDARG : S_OK, status) << type;
      ASSERT_EQ(expected == kRefused ? std::vector<std::wstring>() : std::vector{key}, keys);
      if (expected == kRefused) continue;
      EXPECT_EQ(type, StoredEntryType(key));
      // Asking and removing add no "http://".
      const HRESULT found = expected == kAsGiven ? S_OK : E_INVALIDARG;
      long code = -1;
      EXPECT_EQ(found, helper->IsUrlProtected(text.get(), &code));
      EXPECT_TRUE(found != S_OK || code == static_cast<long>(type)) << code;
      EXPECT_EQ(found, helper->UnprotectUrl(text.get()));
      EXPECT_EQ(found == S_OK, SafeListSubkeyNames().empty());
      EXPECT_EQ(S_OK, helper->UnprotectUrl(Bstr(key.c_str()).get()));
    }
    // A sound file is stored whole, up to 259 bytes, or refused with the old one kept.
    const HRESULT put = helper->put_SoundFile(text.get());
    EXPECT_EQ(narrow.size() <= 259 ? S_OK : E_INVALIDARG, put);
    if (put == S_OK) sound = narrow;
    UniqueBstr read_back;
    DWORD type = 0;
    std::string stored;
    EXPECT_EQ(S_OK, helper->get_SoundFile(read_back.put()));
    EXPECT_EQ(Wide(sound), ToWide(read_back.get()));
    EXPECT_TRUE(ReadSetting("SoundFile", &type, &stored));
    EXPECT_EQ(sound, stored.c_str()) << "cache and registry parted";
    for (BSTR source : {plain.get(), text.get()}) {
      const HRESULT status = helper->LogPopUrl(text.get(), source);
      EXPECT_EQ(source ? S_OK : E_INVALIDARG, status);
      rows += status == S_OK ? 1 : 0;
    }
    EXPECT_EQ(rows, ReadSettingDword("LogCount"));
    LPOLESTR names[] = {text.get()};
    DISPID id = 0;
    EXPECT_TRUE(input.is_null ||
                helper->GetIDsOfNames(IID_NULL, names, 1, 0, &id) == DISP_E_UNKNOWNNAME);
  }
  UniqueBstr logs;  // the log file as it is
  ASSERT_EQ(S_OK, helper->get_Logs(logs.put()));
  std::wistringstream shown_rows(ToWide(logs.get()));
  DWORD shown = 0;
  // Long rows hold nothing but 'x': spared the recursive matcher's stack.
  for (std::wstring row; std::getline(shown_rows, row); ++shown) {
    EXPECT_TRUE(row.size() > 4096 || std::regex_match(row, kRow)) << "row " << shown;
  }
  EXPECT_EQ(rows, shown);
}

// Names the server must read back after a restart exactly as the registry holds them:
// one of 144 characters that is longer in bytes than 255 under a double-byte code page,
// and one made by hand that the code page cannot hold, listed by its narrow form.
TEST(HostileInputTest, SafeListNamesSurviveARestartAndLeaveWhenUnprotected) {
  ScopedComInitializer com;
  ServerStateSnapshot snapshot;
  const std::wstring long_name = L"http://a.test/" + std::wstring(130, L'\xff41');
  const std::wstring foreign_name = L"http://f.test/\x0e01";  // Thai: in neither 1252 nor 932
  const DWORD site = 2;
  const std::wstring foreign_path = std::wstring(kSafeListPath) + L"\\" + foreign_name;
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, foreign_path.c_str(), nullptr,
                                           REG_DWORD, &site, sizeof(site)));
  const std::wstring foreign_listed = Wide(Narrow(Bstr(foreign_name.c_str()).get()));
  // Only a code page that holds the long name stores it (932 does, 1252 does not).
  const std::wstring long_listed = Wide(Narrow(Bstr(long_name.c_str()).get()));
  const bool long_held = long_listed == long_name;
  const std::vector<std::wstring> listed =  // sorted
      long_held ? std::vector{long_listed, foreign_listed} : std::vector{foreign_listed};
  for (int run = 0; run < 3; ++run) {  // protect, restart and unprotect, restart
    SCOPED_TRACE(run);
    ComPtr<IZelkHelper> helper;
    ASSERT_EQ(S_OK, CreateServerObject(&helper));
    std::vector<std::wstring> keys;
    ASSERT_EQ(S_OK, SafeListProperty(helper.get(), &keys));
    if (run == 0) {
      ASSERT_EQ(long_held ? S_OK : E_INVALIDARG, helper->ProtectPage(Bstr(long_name.c_str()).get()));
    } else if (run == 1) {
      EXPECT_EQ(listed, keys);
      long code = 0;
      EXPECT_EQ(S_OK, helper->IsUrlProtected(Bstr(foreign_listed.c_str()).get(), &code));
      EXPECT_EQ(2, code);
      for (const std::wstring& key : listed) {
        EXPECT_EQ(S_OK, helper->UnprotectUrl(Bstr(key.c_str()).get()));
      }
      EXPECT_EQ(std::vector<std::wstring>(), SafeListSubkeyNames());
    } else {
      EXPECT_EQ(std::vector<std::wstring>(), keys) << "an entry came back";
    }
    helper.reset();
    WaitForNoServer();
  }
}
