// The pop-up log: its rows as pure text (any code page's lead-byte rule), and the log file
// and count against the (redirected) registry. Every byte's escape is pinned, so a hostile
// URL can add no markup or line end (across the server: e2e_hostile_input_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/unique_resource.h"
#include "poplog/log_row.h"
#include "poplog/pop_log.h"
#include "tests/registry_sandbox.h"

namespace zelk {
namespace {

constexpr const char kKey[] = "Software\\Zelk";

// Fixed lead-byte rules, so the cut is tested the same whatever the machine's code page.
bool NoLeadBytes(unsigned char) { return false; }
bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

std::string Link(const std::string& target, const std::string& shown) {
  return "<TD><font size=2><A href='" + target + "' target=_blank>" + shown + "</A></font></TD>";
}
std::string Link(const std::string& url) { return Link(url, url); }
const std::string kPop = "ftp://pop.example/ad", kSrc = "http://src.example/page";
const std::string kNoLink = "<TD><font size=2>?{/font></TD>";
const std::string kTime = "<TD><font size=2>2004-03-07 09:05</font></TD></TR>\n";
// Rows as stored: text mode turns each LF into CR LF.
const std::string kStoredTime = "<TD><font size=2>2004-03-07 09:05</font></TD></TR>\r\n";
const std::string kTwoLinkRow = "<TR>" + Link(kPop) + Link(kSrc) + kStoredTime;
const std::string kSourceOnlyRow = "<TR>" + kNoLink + Link(kSrc) + kStoredTime;
const std::string kNoLinkRow = "<TR>" + kNoLink + kNoLink + kStoredTime;
const std::string kLimit = "<TR><TD colspan=3 align=center><font size=2>Log count limit reached. "
                           "Please clear the log.</font></TD></TR>";
const std::string kEmptyLog =
    "<TR><TD colspan=3 align=center><font size=2>No logs avaliable.</font></TD></TR>";

// The shown text is cut by the row's lead-byte rule before escaping; the target stays whole.
TEST(LogRowTest, ShownTextIsCutAfter34BytesOnACharacterBoundary) {
  const std::string a29(29, 'a'), a30(30, 'a'), kana = "\x82\xA0", tail = kana + "tail";
  std::string pairs;  // lead-range trail bytes: only stepping from the start finds the characters
  for (int i = 0; i < 20; ++i) pairs += "\x82\x82";
  const struct { std::string url; LeadBytePredicate lead; std::string shown; } cases[] = {
      {a30 + "&yyy", NoLeadBytes, a30 + "&amp;yyy"},  // 34 bytes: whole, though longer escaped
      {a30 + "&yyyy", NoLeadBytes, a30 + "&amp;..."},  // 35 bytes: 31 kept
      {a29 + tail, Cp932Lead, a29 + kana + "..."}, {a30 + tail, Cp932Lead, a30 + "..."},
      {a30 + tail, NoLeadBytes, a30 + "\x82..."}, {pairs, Cp932Lead, pairs.substr(0, 30) + "..."},
      {"a" + pairs, Cp932Lead, "a" + pairs.substr(0, 30) + "..."},
      {pairs.substr(0, 34), Cp932Lead, pairs.substr(0, 34)},
      {std::string(34, 'b') + "\x82", Cp932Lead, std::string(31, 'b') + "..."},
  };
  for (const auto& c : cases) {
    std::string target, row;
    ASSERT_EQ(S_OK, EscapeHtml(c.url, &target));
    EXPECT_EQ(S_OK, FormatEntryRow({nullptr, false}, {&c.url, true}, {2004, 3, 7, 9, 5}, c.lead,
                                   &row));
    EXPECT_EQ("<TR>" + kNoLink + Link(target, c.shown) + kTime, row);
  }
}

TEST(LogRowTest, EscapesMarkupAndControlBytesOnly) {
  std::string escaped;
  ASSERT_EQ(S_OK, EscapeHtml("&<>\"'&amp;\x82<\x80\xFF", &escaped));
  EXPECT_EQ("&amp;&lt;&gt;&quot;&#39;&amp;amp;\x82&lt;\x80\xFF", escaped);
  for (int c = 0; c < 256; ++c) {
    if (std::string("&<>\"'").find(static_cast<char>(c)) != std::string::npos) continue;
    ASSERT_EQ(S_OK, EscapeHtml(std::string(1, static_cast<char>(c)), &escaped));
    EXPECT_EQ(c < 0x20 || c == 0x7F ? "&#" + std::to_string(c) + ";"
                                    : std::string(1, static_cast<char>(c)), escaped);
  }
}

class PopLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    log_ = std::string(temp) + "zelk_pop_log_" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(log_.c_str());
    ASSERT_NO_FATAL_FAILURE(sandbox_.CreateSettingsKey());
    Set("LogPopup", 1);
    Set("LogCount", 0);
    sandbox_.SetString(kKey, "LogFile", log_);
  }
  void TearDown() override { DeleteFileA(log_.c_str()); }

  void Set(const char* name, DWORD value) { sandbox_.SetDword(kKey, name, value); }
  DWORD Count() { return sandbox_.ReadDword(kKey, "LogCount"); }  // fails unless a REG_DWORD
  std::string Bytes() {
    std::ifstream file(log_, std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "(no file)";
  }
  HRESULT Append(const std::string* pop, const std::string& src) {
    return AppendPopupEntry(pop, src, SYSTEMTIME{2004, 3, 0, 7, 9, 5, 30, 0});
  }

  testing::RegistrySandbox sandbox_;
  std::string log_;
};

// Only a known scheme becomes a link: script schemes decompose but must not.
TEST_F(PopLogTest, AppendsOneRowPerCallWhileLogPopupIsNotZero) {
  Set("LogPopup", 0);
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_EQ("(no file)", Bytes());
  EXPECT_EQ(0u, Count());
  Set("LogPopup", 7);
  const std::string js = "JavaScript:alert(1)", *no_pop = nullptr;
  for (const std::string* pop : {&kPop, no_pop, &js}) ASSERT_EQ(S_OK, Append(pop, kSrc));
  for (const std::string& src : {std::string(), js}) ASSERT_EQ(S_OK, Append(&kPop, src));
  EXPECT_EQ(kTwoLinkRow + kSourceOnlyRow + kSourceOnlyRow + kNoLinkRow + kNoLinkRow, Bytes());
  EXPECT_EQ(5u, Count());
}

TEST_F(PopLogTest, ReadsTextUpToANulAndRowsWithLfLineEndsEachHostileUrlOnOneLine) {
  std::string text;  // a NUL ends the text, and an empty file reads as empty text
  for (const std::string& stored : {std::string("ab\0cd", 5), std::string()}) {
    std::ofstream(log_, std::ios::binary) << stored;
    EXPECT_EQ(S_OK, ReadLog(&text));
    EXPECT_EQ(stored.c_str(), text);
  }
  ASSERT_EQ(S_OK, Append(nullptr, "http://evil.example/'\r\n</TD>\x1a<script>"));
  ASSERT_EQ(S_OK, Append(nullptr, kSrc));
  std::string stored =
      "<TR>" + kNoLink + "<TD><font size=2><A href='http://evil.example/&#39;&#13;&#10;&lt;/TD&gt;"
      "&#26;&lt;script&gt;' target=_blank>http://evil.example/&#39;&#13;&#10;&lt;/TD&gt;&#26;&lt;"
      "s...</A></font></TD>" + kStoredTime + kSourceOnlyRow;
  EXPECT_EQ(stored, Bytes());
  EXPECT_EQ(S_OK, ReadLog(&text));  // text mode: no row is lost to the escaped Ctrl-Z
  stored.erase(std::remove(stored.begin(), stored.end(), '\r'), stored.end());
  EXPECT_EQ(stored, text);
}

// 2001 entries (count 0 to 2000), the limit row with no line end, then nothing until cleared.
TEST_F(PopLogTest, CountLimitEndsTheLogUntilCleared) {
  Set("LogCount", 1998);
  for (DWORD count : {1999u, 2000u, 2001u, 2001u}) {
    ASSERT_EQ(S_OK, Append(nullptr, kSrc));
    EXPECT_EQ(count, Count());
  }
  EXPECT_EQ(kSourceOnlyRow + kSourceOnlyRow + kSourceOnlyRow + kLimit, Bytes());
  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_EQ(kTwoLinkRow, Bytes());
}

TEST_F(PopLogTest, UnusableSettingsFailEveryCallAndChangeNothing) {
  const struct { DWORD type; std::string path; HRESULT expected; } cases[] = {
      {REG_EXPAND_SZ, "%TEMP%\\Zelk.log", HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE)},
      {REG_SZ, "C:\\" + std::string(257, 'z'), HRESULT_FROM_WIN32(ERROR_MORE_DATA)},  // 260
      {REG_NONE, "no settings key", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
  };
  Set("LogCount", 7);
  for (const auto& test : cases) {
    if (test.type != REG_NONE) sandbox_.SetString(kKey, "LogFile", test.path, test.type);
    else ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kKey));
    std::string text = "untouched";
    EXPECT_EQ(test.expected, Append(&kPop, kSrc)) << test.path;
    EXPECT_EQ(test.expected, ReadLog(&text));
    EXPECT_EQ("untouched", text);
    EXPECT_EQ(test.expected, ClearLog());
    if (test.type != REG_NONE) { EXPECT_EQ(7u, Count()); }
  }
}

// A 259-character path is used whole: here it names a file in a folder that does not exist.
TEST_F(PopLogTest, LogOf259CharactersInAMissingFolderReadsAsTheEmptyLogRowAndClears) {
  sandbox_.SetString(kKey, "LogFile", (log_ + "_missing\\").append(259 - log_.size() - 9, 'z'));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), Append(&kPop, kSrc));
  sandbox_.DeleteValue(kKey, "LogPopup");  // neither reading nor clearing needs these
  sandbox_.DeleteValue(kKey, "LogCount");
  std::string text;
  EXPECT_EQ(S_OK, ReadLog(&text));
  EXPECT_EQ(kEmptyLog, text);
  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_EQ(0u, Count());
}

// A file held open by another program fails an append and a clear, a read-only file a
// clear, keeping rows and count.
TEST_F(PopLogTest, ClearDeletesTheFileAndResetsTheCountUnlessTheFileIsHeldOpenOrReadOnly) {
  ASSERT_EQ(S_OK, Append(&kPop, kSrc));
  UniqueFileHandle held(CreateFileA(log_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0));
  ASSERT_TRUE(held);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), Append(&kPop, kSrc));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), ClearLog());
  held.reset();
  ASSERT_TRUE(SetFileAttributesA(log_.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), ClearLog());
  SetFileAttributesA(log_.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(1u, Count());
  EXPECT_EQ(kTwoLinkRow, Bytes());
  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_EQ("(no file)", Bytes());
  EXPECT_EQ(0u, Count());
  EXPECT_EQ(S_OK, ClearLog());  // again, with no file
}

}  // namespace
}  // namespace zelk
