// Hostile text at every member that takes a string, sent by a client process
// through the marshaller as a web page could make the browser side send it: a
// null string, an empty one, a megabyte, an embedded NUL, every control
// character, unpaired surrogates, characters the code page lacks (including
// the fullwidth look-alikes of URL delimiters) and double-byte text. Every
// call must come back with a status, and what is stored afterwards must be
// what the rules say (the narrow form of the text) or nothing at all.
//
// The test runs twice: in the default code page, and once more under a
// double-byte ANSI code page (ctest entry e2e_hostile_input_test_cp932, with
// a Japanese locale; Wine takes the code page from it). The server inherits
// the locale from this client, which starts it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"
#include "tests/hardening_e2e.h"

namespace zelk {
namespace {

using namespace zelk::testing;

constexpr DWORD kCallLimitMs = 60000;
constexpr size_t kMegabyte = 1u << 20;
constexpr size_t kMaxSoundFileBytes = 259;
constexpr wchar_t kPlainUrl[] = L"http://plain.hostile.test/";

// --- The rules, from the client's side -----------------------------------------

// The narrow form: the text up to its first NUL in the ANSI code page, every
// character the code page lacks as its default character, never a look-alike.
// Client and server share the code page: the server inherits this locale.
std::string NarrowForm(const std::wstring* text) {
  if (text == nullptr || text->c_str()[0] == L'\0') return std::string();
  const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text->c_str(), -1, nullptr, 0,
                                       nullptr, nullptr);
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text->c_str(), -1, &narrow[0], size, nullptr,
                      nullptr);
  narrow.resize(static_cast<size_t>(size) - 1);
  return narrow;
}

std::wstring Widened(const std::string& narrow) {
  if (narrow.empty()) return std::wstring();
  const int size =
      MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), &wide[0], size);
  return wide;
}

// What a protect operation makes of an input.
enum class Stored {
  kAsGiven,     // the narrow form decomposes and is stored as the key
  kWithPrefix,  // it decomposes only with "http://" in front
  kRefused,     // E_INVALIDARG: it does not decompose, or could not be one subkey
};

struct HostileInput {
  std::string label;
  bool is_null;
  std::wstring text;  // may hold NULs; passed with its full length
  Stored stored;
};

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof(text), "U+%04X", value);
  return text;
}

std::vector<HostileInput> BuildHostileInputs() {
  std::vector<HostileInput> inputs;
  auto add = [&](const std::string& label, const std::wstring& text, Stored stored) {
    inputs.push_back(HostileInput{label, false, text, stored});
  };
  inputs.push_back(HostileInput{"null string", true, std::wstring(), Stored::kWithPrefix});
  add("empty string", L"", Stored::kWithPrefix);
  add("1 MB of text", L"http://hostile.test/" + std::wstring(kMegabyte, L'x'), Stored::kRefused);
  add("1 MB without a scheme", std::wstring(kMegabyte, L'y'), Stored::kRefused);
  add("embedded NUL", std::wstring(L"http://hostile.test/kept\0dropped", 32), Stored::kAsGiven);
  add("NUL first", std::wstring(L"\0http://hostile.test/", 21), Stored::kWithPrefix);
  for (unsigned c = 1; c < 0xA0; ++c) {
    if (c >= 0x20 && c < 0x7F) continue;
    add("control " + Hex(c),
        L"http://hostile.test/p" + std::wstring(1, static_cast<wchar_t>(c)) + L"q",
        Stored::kAsGiven);
  }
  add("tab in the host", L"http://hos\ttile.test/", Stored::kAsGiven);
  add("CR LF in the path", L"http://hostile.test/a\r\nb", Stored::kAsGiven);
  add("lone lead surrogate at the end", L"http://hostile.test/\xD800", Stored::kAsGiven);
  add("lone trail surrogate", L"http://hostile.test/\xDC00x", Stored::kAsGiven);
  add("surrogates reversed", L"http://hostile.test/\xDC00\xD800", Stored::kAsGiven);
  add("lone surrogate in the host", L"http://hostile\xD83D.test/", Stored::kAsGiven);
  add("surrogate pair", L"http://hostile.test/\xD83D\xDE00", Stored::kAsGiven);
  // Characters that a code page without them would turn into URL delimiters
  // if it used look-alikes: '/', '\', ':', '@', '#', '/'.
  add("fullwidth solidus", L"http://hostile.test/a\uFF0Fb", Stored::kAsGiven);
  add("fullwidth reverse solidus", L"http://hostile.test/a\uFF3Cb", Stored::kAsGiven);
  add("fullwidth colon before a port", L"http://hostile.test\uFF1A81/p", Stored::kAsGiven);
  add("fullwidth commercial at", L"http://evil.test\uFF20hostile.test/", Stored::kAsGiven);
  add("fullwidth number sign", L"http://hostile.test/a\uFF03b", Stored::kAsGiven);
  add("division slash", L"http://hostile.test/a\u2215b", Stored::kAsGiven);
  add("a with macron", L"http://hostile.test/\u0101", Stored::kAsGiven);
  add("a with grave", L"http://hostile.test/\u00E0", Stored::kAsGiven);
  add("no-break space", L"http://hostile.test/a\u00A0b", Stored::kAsGiven);
  add("CJK ideograph", L"http://hostile.test/\u4E00", Stored::kAsGiven);
  add("replacement character", L"http://hostile.test/\uFFFD", Stored::kAsGiven);
  add("byte order mark", L"\uFEFFhttp://hostile.test/", Stored::kWithPrefix);
  add("right-to-left override", L"http://hostile.test/\u202Egnp.exe", Stored::kAsGiven);
  add("zero-width space", L"http://hostile.test/\u200B", Stored::kAsGiven);
  add("backslash", L"http://hostile.test/a\\b", Stored::kRefused);
  add("trailing backslash", L"http://hostile.test/a\\", Stored::kRefused);
  add("key of 255 characters", L"http://hostile.test/" + std::wstring(235, L'k'), Stored::kAsGiven);
  add("key of 256 characters", L"http://hostile.test/" + std::wstring(236, L'k'), Stored::kRefused);
  add("255 double-byte-wide characters", L"http://hostile.test/" + std::wstring(235, L'\u8868'),
      Stored::kAsGiven);
  add("markup", L"http://hostile.test/'\"><script>alert(1)</script>&amp;", Stored::kAsGiven);
  add("format directives", L"http://hostile.test/%s%n%x%%", Stored::kAsGiven);
  add("double-byte path", L"http://hostile.test/\u8868", Stored::kAsGiven);
  add("double-byte characters ending in 0x5C", L"http://hostile.test/\u30BD\u80FD",
      Stored::kAsGiven);
  add("double-byte host", L"http://\u65E5\u672C\u8A9E.test/\u30D1\u30B9", Stored::kAsGiven);
  add("halfwidth katakana", L"http://hostile.test/\uFF71\uFF72", Stored::kAsGiven);
  return inputs;
}

// The key a protect operation stores for an input the rules accept.
std::wstring ExpectedKey(const HostileInput& input) {
  const std::string narrow = NarrowForm(input.is_null ? nullptr : &input.text);
  return Widened(input.stored == Stored::kWithPrefix ? "http://" + narrow : narrow);
}

// The SoundFile value as the registry holds it, up to its NUL.
std::wstring StoredSoundFile() {
  for (const RegistryValue& value : ReadValues(HKEY_LOCAL_MACHINE, kSettingsPath)) {
    if (value.name == L"SoundFile" && value.type == REG_SZ) {
      const std::wstring text(reinterpret_cast<const wchar_t*>(value.data.data()),
                              value.data.size() / sizeof(wchar_t));
      return std::wstring(text.c_str());
    }
  }
  return L"<no SoundFile>";
}

UniqueBstr ToBstr(const HostileInput& input) {
  if (input.is_null) return UniqueBstr();
  return UniqueBstr(SysAllocStringLen(input.text.data(), static_cast<UINT>(input.text.size())));
}

// --- The log as its reader sees it ------------------------------------------------

// True when `text` is ours to show: no character that could end an attribute
// or a cell, and no control character.
bool IsInertText(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c == L'<' || c == L'>' || c == L'\'' || c == L'"' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

// Consumes `expected` at `*at`; false when the row does not continue so.
bool Take(const std::wstring& row, size_t* at, const wchar_t* expected) {
  const std::wstring piece(expected);
  if (row.compare(*at, piece.size(), piece) != 0) return false;
  *at += piece.size();
  return true;
}

// One cell: the placeholder, or a link whose target and text stay inert.
bool TakeUrlCell(const std::wstring& row, size_t* at) {
  if (Take(row, at, L"<TD><font size=2>?{/font></TD>")) return true;
  if (!Take(row, at, L"<TD><font size=2><A href='")) return false;
  const size_t target_end = row.find(L"' target=_blank>", *at);
  if (target_end == std::wstring::npos || !IsInertText(row.substr(*at, target_end - *at))) {
    return false;
  }
  *at = target_end;
  if (!Take(row, at, L"' target=_blank>")) return false;
  const size_t shown_end = row.find(L"</A></font></TD>", *at);
  if (shown_end == std::wstring::npos || !IsInertText(row.substr(*at, shown_end - *at))) {
    return false;
  }
  *at = shown_end;
  return Take(row, at, L"</A></font></TD>");
}

// A local time as a row shows it, "2004-03-07 09:05": a digit for each 'd'.
bool IsRowTime(const std::wstring& text) {
  const std::wstring pattern = L"dddd-dd-dd dd:dd";
  if (text.size() != pattern.size()) return false;
  for (size_t index = 0; index < pattern.size(); ++index) {
    const bool digit = text[index] >= L'0' && text[index] <= L'9';
    if (pattern[index] == L'd' ? !digit : text[index] != pattern[index]) return false;
  }
  return true;
}

// An entry row: two URL cells and the time, nothing before or after.
bool IsWellFormedRow(const std::wstring& row) {
  size_t at = 0;
  if (!Take(row, &at, L"<TR>") || !TakeUrlCell(row, &at) || !TakeUrlCell(row, &at)) return false;
  if (!Take(row, &at, L"<TD><font size=2>")) return false;
  const size_t time_end = row.find(L"</font></TD></TR>", at);
  if (time_end == std::wstring::npos || !IsRowTime(row.substr(at, time_end - at))) return false;
  at = time_end;
  return Take(row, &at, L"</font></TD></TR>") && at == row.size();
}

std::vector<std::wstring> SplitRows(const std::wstring& logs) {
  std::vector<std::wstring> rows;
  size_t start = 0;
  for (size_t end = logs.find(L'\n'); end != std::wstring::npos; end = logs.find(L'\n', start)) {
    rows.push_back(logs.substr(start, end - start));
    start = end + 1;
  }
  if (start < logs.size()) rows.push_back(logs.substr(start));
  return rows;
}

// The ctest entry e2e_hostile_input_test_cp932 asks for a Japanese locale.
bool JapaneseLocaleRequested() {
  for (const char* name : {"LC_ALL", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && std::string(value).rfind("ja_JP", 0) == 0) return true;
  }
  return false;
}

// --- Fixture ------------------------------------------------------------------------

// One server session for the whole suite: waiting for a server to go takes
// six seconds, and every test leaves the list empty again.
class HostileInputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    com_ = new ScopedComInitializer();
    WaitForNoServer();
    snapshot_ = new ServerStateSnapshot();
    EmptyListAndLog(snapshot_->log_path());
    session_ = new ComPtr<IZelkHelper>();
    session_status_ = CreateServerObject(session_);
    server_id_ = ServerProcessId();
    // Protection by the local and https settings would hide what the list says.
    if (SUCCEEDED(session_status_)) session_status_ = (*session_)->put_ProtectLocal(VARIANT_FALSE);
    if (SUCCEEDED(session_status_)) session_status_ = (*session_)->put_ProtectHttps(VARIANT_FALSE);
  }

  static void TearDownTestSuite() {
    if (*session_) {
      long total = 0;
      EXPECT_EQ(S_OK, (*session_)->get_TotalPopups(&total)) << "the server stopped answering";
      EXPECT_EQ(server_id_, ServerProcessId()) << "the server process was replaced";
    }
    delete session_;
    std::printf("[ figures  ] %ld calls carried a hostile text, code page %u\n", hostile_calls_,
                GetACP());
    snapshot_->Restore();
    delete snapshot_;
    delete com_;
  }

  void SetUp() override {
    if (JapaneseLocaleRequested() && GetACP() != 932) {
      GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932: the ja_JP.UTF-8 "
                   << "locale is missing (scripts/setup.sh generates it)";
    }
    ASSERT_TRUE(SUCCEEDED(com_->status()));
    ASSERT_EQ(S_OK, session_status_) << "no server session";
    helper_ = session_->get();
  }

  // The list as the server reports it; it must name exactly the subkeys there are.
  std::vector<std::wstring> ListInStep(const std::string& context) {
    std::vector<std::wstring> keys;
    EXPECT_EQ(S_OK, SafeListProperty(helper_, &keys)) << context;
    EXPECT_EQ(SafeListSubkeyNames(), Sorted(keys)) << context << ": list and registry parted";
    return keys;
  }

  HRESULT Protect(DWORD type, BSTR url) {
    switch (type) {
      case 1:
        return helper_->ProtectPage(url);
      case 2:
        return helper_->ProtectSite(url);
      default:
        return helper_->ProtectDomain(url);
    }
  }

  void ProtectCheckAndRemove(const HostileInput& input, DWORD type);

  // Brackets the calls that carry a hostile text, so that a hang is named
  // and the calls are counted.
  void Calling(const char* label, long calls) {
    hostile_calls_ += calls;
    watchdog_.Enter(label);
  }
  void Answered() { watchdog_.Leave(); }

  static ScopedComInitializer* com_;
  static ServerStateSnapshot* snapshot_;
  static ComPtr<IZelkHelper>* session_;
  static HRESULT session_status_;
  static DWORD server_id_;
  static long hostile_calls_;
  IZelkHelper* helper_ = nullptr;
  HangWatchdog watchdog_{kCallLimitMs};
};

ScopedComInitializer* HostileInputTest::com_ = nullptr;
ServerStateSnapshot* HostileInputTest::snapshot_ = nullptr;
ComPtr<IZelkHelper>* HostileInputTest::session_ = nullptr;
HRESULT HostileInputTest::session_status_ = E_FAIL;
DWORD HostileInputTest::server_id_ = 0;
long HostileInputTest::hostile_calls_ = 0;

void HostileInputTest::ProtectCheckAndRemove(const HostileInput& input, DWORD type) {
  const std::string context = input.label + " as entry type " + std::to_string(type);
  UniqueBstr url = ToBstr(input);
  Calling(context.c_str(), 1);
  const HRESULT protected_status = Protect(type, url.get());
  Answered();
  std::vector<std::wstring> keys = ListInStep(context);
  if (input.stored == Stored::kRefused) {
    EXPECT_EQ(E_INVALIDARG, protected_status) << context;
    EXPECT_TRUE(keys.empty()) << context << ": a refused text left an entry";
    return;
  }
  ASSERT_EQ(S_OK, protected_status) << context;
  const std::wstring key = ExpectedKey(input);
  ASSERT_EQ(std::vector<std::wstring>{key}, keys) << context;
  EXPECT_EQ(type, StoredEntryType(key)) << context;

  long code = -1;
  Calling(context.c_str(), 2);
  const HRESULT asked = helper_->IsUrlProtected(url.get(), &code);
  const HRESULT removed = helper_->UnprotectUrl(url.get());
  Answered();
  if (input.stored == Stored::kAsGiven) {
    EXPECT_EQ(S_OK, asked) << context;
    EXPECT_EQ(static_cast<long>(type), code) << context;
    EXPECT_EQ(S_OK, removed) << context;
  } else {
    // No "http://" is added when asking or removing.
    EXPECT_EQ(E_INVALIDARG, asked) << context;
    EXPECT_EQ(E_INVALIDARG, removed) << context;
    EXPECT_EQ(S_OK, helper_->UnprotectUrl(Bstr(key.c_str()).get())) << context;
  }
  EXPECT_TRUE(ListInStep(context).empty()) << context << ": the entry was not removed";
}

// --- Tests --------------------------------------------------------------------------

TEST_F(HostileInputTest, ProtectOperationsStoreTheNarrowFormOrNothing) {
  const std::vector<HostileInput> inputs = BuildHostileInputs();
  for (const HostileInput& input : inputs) {
    for (DWORD type : {1u, 2u, 4u}) {
      ProtectCheckAndRemove(input, type);
      if (HasFatalFailure()) return;
    }
  }
  std::printf(
      "[ figures  ] %zu hostile inputs, each protected as page, site and domain, asked "
      "about and removed\n",
      inputs.size());
}

TEST_F(HostileInputTest, SoundFileHoldsTheNarrowFormOrKeepsItsValue) {
  const std::vector<HostileInput> inputs = BuildHostileInputs();
  std::wstring current = L"C:\\sounds\\before.wav";
  ASSERT_EQ(S_OK, helper_->put_SoundFile(Bstr(current.c_str()).get()));
  for (const HostileInput& input : inputs) {
    const std::string narrow = NarrowForm(input.is_null ? nullptr : &input.text);
    UniqueBstr text = ToBstr(input);
    Calling(input.label.c_str(), 1);
    const HRESULT status = helper_->put_SoundFile(text.get());
    Answered();
    if (narrow.size() <= kMaxSoundFileBytes) {
      EXPECT_EQ(S_OK, status) << input.label;
      current = Widened(narrow);
    } else {
      EXPECT_EQ(E_INVALIDARG, status) << input.label;
    }
    UniqueBstr read_back;
    ASSERT_EQ(S_OK, helper_->get_SoundFile(read_back.put())) << input.label;
    EXPECT_EQ(current, ToWide(read_back.get())) << input.label;
    EXPECT_EQ(current, StoredSoundFile()) << input.label << ": cache and registry parted";
  }
}

TEST_F(HostileInputTest, EveryLogCallAddsOneWellFormedRowOrNothing) {
  const std::vector<HostileInput> inputs = BuildHostileInputs();
  UniqueBstr plain = Bstr(kPlainUrl);
  DWORD expected_rows = ReadSettingDword("LogCount");
  for (const HostileInput& input : inputs) {
    UniqueBstr text = ToBstr(input);
    const std::pair<BSTR, BSTR> calls[] = {
        {text.get(), plain.get()}, {plain.get(), text.get()}, {text.get(), text.get()}};
    for (const auto& call : calls) {
      Calling(input.label.c_str(), 1);
      const HRESULT status = helper_->LogPopUrl(call.first, call.second);
      Answered();
      if (call.second == nullptr) {
        EXPECT_EQ(E_INVALIDARG, status) << input.label << ": a missing source URL";
      } else {
        EXPECT_EQ(S_OK, status) << input.label;
        if (SUCCEEDED(status)) ++expected_rows;
      }
      EXPECT_EQ(expected_rows, ReadSettingDword("LogCount")) << input.label;
    }
  }
  EXPECT_EQ(expected_rows, CountLogRows(ReadFileBytes(snapshot_->log_path())));
  UniqueBstr logs;
  ASSERT_EQ(S_OK, helper_->get_Logs(logs.put()));
  const std::vector<std::wstring> rows = SplitRows(ToWide(logs.get()));
  ASSERT_EQ(expected_rows, rows.size());
  for (size_t index = 0; index < rows.size(); ++index) {
    EXPECT_TRUE(IsWellFormedRow(rows[index]))
        << "row " << index << ": " << ::testing::PrintToString(rows[index]);
  }
  // Quotes and brackets of a URL reach the reader as references, in place.
  UniqueBstr markup = Bstr(L"http://hostile.test/'\"><b>");
  ASSERT_EQ(S_OK, helper_->LogPopUrl(markup.get(), plain.get()));
  ASSERT_EQ(S_OK, helper_->get_Logs(logs.put()));
  EXPECT_NE(std::wstring::npos,
            ToWide(logs.get()).find(L"href='http://hostile.test/&#39;&quot;&gt;&lt;b&gt;' "));
}

TEST_F(HostileInputTest, NamesThatNameNoMemberAreRefused) {
  for (const HostileInput& input : BuildHostileInputs()) {
    if (input.is_null) continue;  // the marshaller refuses a null name itself
    UniqueBstr text = ToBstr(input);
    LPOLESTR names[] = {text.get()};
    DISPID id = 0;
    Calling(input.label.c_str(), 1);
    EXPECT_EQ(DISP_E_UNKNOWNNAME,
              helper_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))
        << input.label;
    Answered();
  }
  LPOLESTR member[] = {const_cast<LPOLESTR>(L"ProtectPage")};
  DISPID id = 0;
  EXPECT_EQ(S_OK, helper_->GetIDsOfNames(IID_NULL, member, 1, LOCALE_USER_DEFAULT, &id));
  EXPECT_EQ(3, id);
}

// --- Under a double-byte code page ------------------------------------------------

TEST_F(HostileInputTest, DoubleByteTextUnderCodePage932) {
  if (!JapaneseLocaleRequested()) {
    GTEST_SKIP() << "runs in the ctest entry e2e_hostile_input_test_cp932 (Japanese locale)";
  }
  ASSERT_EQ(932u, GetACP());
  // The server converts with 932 too: it started from this client. (A music
  // file, in Japanese.)
  const std::wstring sound = L"C:\\\u97F3\u697D.wav";
  ASSERT_EQ(S_OK, helper_->put_SoundFile(Bstr(sound.c_str()).get()));
  ASSERT_EQ(sound, StoredSoundFile()) << "the server does not convert with code page 932";

  // 0x5C is the trail byte of these characters, not a separator: each key is
  // one subkey, and the registry shows the characters themselves.
  const wchar_t* const kTrail5C[] = {L"http://hostile.test/\u8868",
                                     L"http://hostile.test/\u30BD\u80FD",
                                     L"http://\u8868.test/\u5341"};
  for (const wchar_t* url : kTrail5C) {
    ASSERT_EQ(S_OK, helper_->ProtectPage(Bstr(url).get())) << ::testing::PrintToString(url);
    EXPECT_EQ(std::vector<std::wstring>{url}, ListInStep("0x5C trail byte"));
    EXPECT_EQ(1u, StoredEntryType(url));
    long code = 0;
    EXPECT_EQ(S_OK, helper_->IsUrlProtected(Bstr(url).get(), &code));
    EXPECT_EQ(1, code);
    EXPECT_EQ(S_OK, helper_->UnprotectUrl(Bstr(url).get()));
    EXPECT_TRUE(ListInStep("0x5C trail byte").empty());
  }

  // A shown URL is cut at a whole character: 20 double-byte characters after
  // "http://a.test/" make 54 bytes, cut to 31 bytes, which would split one.
  const std::wstring long_url = L"http://a.test/" + std::wstring(20, L'\u8868');
  ASSERT_EQ(S_OK, helper_->LogPopUrl(Bstr(long_url.c_str()).get(), Bstr(kPlainUrl).get()));
  UniqueBstr logs;
  ASSERT_EQ(S_OK, helper_->get_Logs(logs.put()));
  const std::wstring shown = L">http://a.test/" + std::wstring(8, L'\u8868') + L"...</A>";
  EXPECT_NE(std::wstring::npos, ToWide(logs.get()).find(shown))
      << ::testing::PrintToString(ToWide(logs.get()));
}

}  // namespace
}  // namespace zelk
