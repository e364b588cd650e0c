#include "poplog/pop_log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/unique_resource.h"
#include "poplog/log_row.h"
#include "tests/registry_sandbox.h"

namespace zelk {
namespace {

// --- Isolation -----------------------------------------------------------------

// The registry is the sandbox's (HKEY_LOCAL_MACHINE redirected per test); the
// log file lives in a fresh folder under the temporary folder, removed with
// what it holds.
class TempFolder {
 public:
  void SetUp() {
    static int counter = 0;
    char temp[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof(temp), temp);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, sizeof(temp));
    path_ = std::string(temp) + "zelk_pop_log_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(GetTickCount()) + "_" + std::to_string(++counter);
    ASSERT_TRUE(CreateDirectoryA(path_.c_str(), nullptr)) << GetLastError();
  }

  void TearDown() {
    if (path_.empty()) return;
    RemoveContents(path_);
    RemoveDirectoryA(path_.c_str());
  }

  const std::string& path() const { return path_; }

 private:
  static void RemoveContents(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = folder + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveContents(child);
        RemoveDirectoryA(child.c_str());
      } else {
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }

  std::string path_;
};

// --- Expected rows -------------------------------------------------------------

SYSTEMTIME MorningOf7March2004() {
  SYSTEMTIME time = {};
  time.wYear = 2004;
  time.wMonth = 3;
  time.wDayOfWeek = 0;
  time.wDay = 7;
  time.wHour = 9;
  time.wMinute = 5;
  time.wSecond = 30;
  return time;
}

const std::string kPop = "http://pop.example/ad";
const std::string kSrc = "http://src.example/page";

// Rows as stored in the file: text mode turns each LF into CR LF.
const std::string kTwoLinkRow =
    "<TR><TD><font size=2><A href='http://pop.example/ad' target=_blank>http://pop.example/ad"
    "</A></font></TD><TD><font size=2><A href='http://src.example/page' target=_blank>"
    "http://src.example/page</A></font></TD><TD><font size=2>2004-03-07 09:05</font></TD>"
    "</TR>\r\n";
const std::string kSourceOnlyRow =
    "<TR><TD><font size=2>?{/font></TD><TD><font size=2><A href='http://src.example/page' "
    "target=_blank>http://src.example/page</A></font></TD><TD><font size=2>2004-03-07 09:05"
    "</font></TD></TR>\r\n";
const std::string kNoLinkRow =
    "<TR><TD><font size=2>?{/font></TD><TD><font size=2>?{/font></TD><TD><font size=2>"
    "2004-03-07 09:05</font></TD></TR>\r\n";
const std::string kLimit =
    "<TR><TD colspan=3 align=center><font size=2>Log count limit reached. Please clear the "
    "log.</font></TD></TR>";
const std::string kEmptyLog =
    "<TR><TD colspan=3 align=center><font size=2>No logs avaliable.</font></TD></TR>";

std::string WithLfLineEnds(std::string text) {
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
  return text;
}

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
const HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);

// --- Fixture -------------------------------------------------------------------

constexpr const char kSettings[] = "Software\\Zelk";

class PopLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(folder_.SetUp());
    ASSERT_NO_FATAL_FAILURE(sandbox_.CreateSettingsKey());
    log_path_ = folder_.path() + "\\Zelk.log";
    SetDword("LogPopup", 1);
    SetDword("LogCount", 0);
    SetString("LogFile", log_path_);
  }

  void TearDown() override { folder_.TearDown(); }

  void SetDword(const char* name, DWORD value) { sandbox_.SetDword(kSettings, name, value); }
  void SetString(const char* name, const std::string& value, DWORD type = REG_SZ) {
    sandbox_.SetString(kSettings, name, value, type);
  }
  void DeleteValue(const char* name) { sandbox_.DeleteValue(kSettings, name); }

  // The stored count; a count that is not a 4-byte REG_DWORD fails the test.
  DWORD Count() {
    DWORD type = REG_NONE;
    std::string data;
    EXPECT_TRUE(sandbox_.Read(kSettings, "LogCount", &type, &data));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, data.size());
    return sandbox_.ReadDword(kSettings, "LogCount");
  }

  void RemoveSettingsKey() {
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kSettings));
  }

  bool LogExists() const { return GetFileAttributesA(log_path_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  // The file's bytes as stored, line ends untranslated.
  std::string LogBytes() const {
    UniqueStdioFile file(std::fopen(log_path_.c_str(), "rb"));
    EXPECT_TRUE(file) << "no log file at " << log_path_;
    if (!file) return std::string();
    std::string bytes;
    char chunk[4096];
    size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0) bytes.append(chunk, read);
    return bytes;
  }

  void WriteLogBytes(const std::string& bytes) const {
    UniqueStdioFile file(std::fopen(log_path_.c_str(), "wb"));
    ASSERT_TRUE(file);
    ASSERT_EQ(bytes.size(), std::fwrite(bytes.data(), 1, bytes.size(), file.get()));
  }

  HRESULT Append(const std::string* pop, const std::string& src) {
    return AppendPopupEntry(pop, src, MorningOf7March2004());
  }

  // ReadLog's status with its text; the text starts as a marker so that an
  // untouched output shows.
  HRESULT Read(std::string* text) {
    *text = "untouched";
    return ReadLog(text);
  }

  testing::RegistrySandbox sandbox_;
  TempFolder folder_;
  std::string log_path_;
};

// --- Appending -------------------------------------------------------------------

TEST_F(PopLogTest, AppendsTwoLinkRowWithCrLfAndRaisesTheCount) {
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_EQ(kTwoLinkRow, LogBytes());
  EXPECT_EQ(1u, Count());
}

TEST_F(PopLogTest, AppendsRowsInCallOrder) {
  const std::string empty;
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_EQ(S_OK, Append(nullptr, kSrc));
  EXPECT_EQ(S_OK, Append(&kPop, empty));
  EXPECT_EQ(kTwoLinkRow + kSourceOnlyRow + kNoLinkRow, LogBytes());
  EXPECT_EQ(3u, Count());
}

TEST_F(PopLogTest, AbsentPopUrlGivesSourceOnlyRow) {
  EXPECT_EQ(S_OK, Append(nullptr, kSrc));
  EXPECT_EQ(kSourceOnlyRow, LogBytes());
}

TEST_F(PopLogTest, EmptySourceUrlGivesNoLinkRow) {
  EXPECT_EQ(S_OK, Append(&kPop, std::string()));
  EXPECT_EQ(kNoLinkRow, LogBytes());
}

TEST_F(PopLogTest, EveryKnownSchemeCanBeALink) {
  const std::vector<std::string> urls = {
      "ftp://f.example/a",   "gopher://g.example/", "http://h.example/",
      "HTTPS://s.example/",  "file:///C:/a.htm",    "news:comp.lang",
      "mailto:a@b.example",  "socks://p.example:1080/",
  };
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    SetDword("LogCount", 0);
    DeleteFileA(log_path_.c_str());
    ASSERT_EQ(S_OK, Append(&url, url));
    const std::string bytes = LogBytes();
    EXPECT_EQ(0u, bytes.find("<TR><TD><font size=2><A href='" + url + "' target=_blank>"));
    EXPECT_NE(std::string::npos,
              bytes.find("</TD><TD><font size=2><A href='" + url + "' target=_blank>"));
  }
}

TEST_F(PopLogTest, UrlsWithUnknownSchemesAreNeverLinks) {
  const std::vector<std::string> scripts = {
      "javascript:alert(document.cookie)",
      "JavaScript:void(0)",
      "vbscript:msgbox(1)",
      "data:text/html,<script>alert(1)</script>",
      "about:blank",
      "res://ieframe.dll/",
  };
  for (const std::string& script : scripts) {
    SCOPED_TRACE(script);
    DeleteFileA(log_path_.c_str());
    ASSERT_EQ(S_OK, Append(&script, kSrc));
    EXPECT_EQ(kSourceOnlyRow, LogBytes());
    DeleteFileA(log_path_.c_str());
    ASSERT_EQ(S_OK, Append(&kPop, script));
    EXPECT_EQ(kNoLinkRow, LogBytes());
  }
}

TEST_F(PopLogTest, HostileUrlStaysOnOneEscapedLine) {
  const std::string src = "http://evil.example/'\r\n</TD>\x1a<script>";
  ASSERT_EQ(S_OK, Append(nullptr, src));
  ASSERT_EQ(S_OK, Append(nullptr, kSrc));
  const std::string escaped = "http://evil.example/&#39;&#13;&#10;&lt;/TD&gt;&#26;&lt;script&gt;";
  const std::string shown = "http://evil.example/&#39;&#13;&#10;&lt;/TD&gt;&#26;&lt;s...";
  const std::string hostile_row =
      "<TR><TD><font size=2>?{/font></TD><TD><font size=2><A href='" + escaped +
      "' target=_blank>" + shown +
      "</A></font></TD><TD><font size=2>2004-03-07 09:05</font></TD></TR>\r\n";
  EXPECT_EQ(hostile_row + kSourceOnlyRow, LogBytes());
  // Read back in text mode, nothing of the second row is lost to the Ctrl-Z.
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(WithLfLineEnds(hostile_row + kSourceOnlyRow), text);
}

TEST_F(PopLogTest, AnsiBytesAreWrittenAsTheyAre) {
  const std::string src = "http://caf\xE9.example/\xE0";
  ASSERT_EQ(S_OK, Append(nullptr, src));
  EXPECT_NE(std::string::npos, LogBytes().find("<A href='" + src + "' target=_blank>" + src + "</A>"));
}

TEST_F(PopLogTest, CurrentLocalTimeIsUsedWithoutAGivenTime) {
  SYSTEMTIME before;
  GetLocalTime(&before);
  ASSERT_EQ(S_OK, AppendPopupEntry(nullptr, kSrc));
  SYSTEMTIME after;
  GetLocalTime(&after);
  const auto stamp = [](const SYSTEMTIME& time) {
    char text[64];
    std::snprintf(text, sizeof(text), "<TD><font size=2>%04d-%02d-%02d %02d:%02d</font>",
                  time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute);
    return std::string(text);
  };
  const std::string bytes = LogBytes();
  EXPECT_TRUE(bytes.find(stamp(before)) != std::string::npos ||
              bytes.find(stamp(after)) != std::string::npos)
      << bytes;
}

// --- Switch and count limit -----------------------------------------------------------

TEST_F(PopLogTest, LoggingOffWritesNothing) {
  SetDword("LogPopup", 0);
  SetDword("LogCount", 5);
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(5u, Count());
}

TEST_F(PopLogTest, AnyNonZeroLogPopupSwitchesLoggingOn) {
  SetDword("LogPopup", 7);
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_EQ(kTwoLinkRow, LogBytes());
}

TEST_F(PopLogTest, Records2001EntriesThenTheLimitRowThenNothingUntilCleared) {
  for (DWORD call = 1; call <= 2003; ++call) {
    ASSERT_EQ(S_OK, Append(nullptr, kSrc)) << "call " << call;
    ASSERT_EQ(call <= 2001 ? call : 2001u, Count()) << "call " << call;
  }
  std::string expected;
  for (int row = 0; row < 2001; ++row) expected += kSourceOnlyRow;
  expected += kLimit;
  EXPECT_EQ(expected, LogBytes());

  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(0u, Count());
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_EQ(kTwoLinkRow, LogBytes());
  EXPECT_EQ(1u, Count());
}

TEST_F(PopLogTest, EntryThatPassesTheLimitIsFollowedDirectlyByTheLimitRow) {
  SetDword("LogCount", 2000);
  EXPECT_EQ(S_OK, Append(&kPop, kSrc));
  EXPECT_EQ(kTwoLinkRow + kLimit, LogBytes());
  EXPECT_EQ(2001u, Count());
}

TEST_F(PopLogTest, FullLogIgnoresEveryCallForAnyCountAboveTheLimit) {
  for (DWORD count : {2001u, 2002u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(count);
    SetDword("LogCount", count);
    EXPECT_EQ(S_OK, Append(&kPop, kSrc));
    EXPECT_FALSE(LogExists());
    EXPECT_EQ(count, Count());
  }
}

TEST_F(PopLogTest, CountResetWithoutClearingContinuesOnTheLimitRowsLine) {
  SetDword("LogCount", 2000);
  ASSERT_EQ(S_OK, Append(&kPop, kSrc));
  SetDword("LogCount", 0);
  ASSERT_EQ(S_OK, Append(nullptr, kSrc));
  EXPECT_EQ(kTwoLinkRow + kLimit + kSourceOnlyRow, LogBytes());
  EXPECT_EQ(1u, Count());
}

// --- Settings that cannot be used ----------------------------------------------------

TEST_F(PopLogTest, MissingOrMistypedLogPopupFailsAndWritesNothing) {
  SetString("LogPopup", "1");
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE), Append(&kPop, kSrc));
  DeleteValue("LogPopup");
  EXPECT_EQ(kNotFound, Append(&kPop, kSrc));
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(0u, Count());
}

TEST_F(PopLogTest, MissingOrMistypedLogCountFailsAndWritesNothing) {
  SetString("LogCount", "0");
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE), Append(&kPop, kSrc));
  DeleteValue("LogCount");
  EXPECT_EQ(kNotFound, Append(&kPop, kSrc));
  EXPECT_FALSE(LogExists());
}

struct BadLogFileCase {
  const char* name;
  DWORD type;
  std::string data;  // written with its NUL
  HRESULT expected;
};

TEST_F(PopLogTest, UnusableLogFileValueFailsEveryOperation) {
  const std::vector<BadLogFileCase> cases = {
      {"expandable string", REG_EXPAND_SZ, "%TEMP%\\Zelk.log",
       HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE)},
      {"binary", REG_BINARY, "C:\\Zelk.log", HRESULT_FROM_WIN32(ERROR_INVALID_DATATYPE)},
      {"260 characters", REG_SZ, "C:\\" + std::string(257, 'z'), HRESULT_FROM_WIN32(ERROR_MORE_DATA)},
  };
  for (const BadLogFileCase& test : cases) {
    SCOPED_TRACE(test.name);
    SetString("LogFile", test.data, test.type);
    SetDword("LogCount", 7);
    EXPECT_EQ(test.expected, Append(&kPop, kSrc));
    EXPECT_EQ(7u, Count());
    std::string text;
    EXPECT_EQ(test.expected, Read(&text));
    EXPECT_EQ("untouched", text);
    EXPECT_EQ(test.expected, ClearLog());
    EXPECT_EQ(7u, Count());
  }
  DeleteValue("LogFile");
  EXPECT_EQ(kNotFound, Append(&kPop, kSrc));
  EXPECT_EQ(kNotFound, ClearLog());
  EXPECT_EQ(7u, Count());
}

TEST_F(PopLogTest, LogFileValueOf259CharactersIsUsed) {
  const std::string path = folder_.path() + "\\missing\\" +
                           std::string(259 - folder_.path().size() - 9, 'z');
  ASSERT_EQ(259u, path.size());
  SetString("LogFile", path);
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(kEmptyLog, text);
  EXPECT_EQ(S_OK, ClearLog());
}

TEST_F(PopLogTest, MissingSettingsKeyFailsEveryOperation) {
  RemoveSettingsKey();
  EXPECT_EQ(kNotFound, Append(&kPop, kSrc));
  std::string text;
  EXPECT_EQ(kNotFound, Read(&text));
  EXPECT_EQ("untouched", text);
  EXPECT_EQ(kNotFound, ClearLog());
  EXPECT_FALSE(LogExists());
}

// --- Files that cannot be used ---------------------------------------------------------

TEST_F(PopLogTest, LogInAMissingFolder) {
  log_path_ = folder_.path() + "\\missing\\Zelk.log";
  SetString("LogFile", log_path_);
  SetDword("LogCount", 3);
  EXPECT_EQ(kPathNotFound, Append(&kPop, kSrc));
  EXPECT_EQ(3u, Count());
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(kEmptyLog, text);
  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_EQ(0u, Count());
}

TEST_F(PopLogTest, LogPathNamingAFolder) {
  SetString("LogFile", folder_.path());
  SetDword("LogCount", 3);
  const HRESULT status = Append(&kPop, kSrc);
  EXPECT_TRUE(FAILED(status)) << std::hex << status;
  EXPECT_EQ(3u, Count());
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(kEmptyLog, text);
  const HRESULT cleared = ClearLog();
  EXPECT_TRUE(FAILED(cleared)) << std::hex << cleared;
  EXPECT_EQ(3u, Count());
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder_.path().c_str()));
}

TEST_F(PopLogTest, EmptyLogFilePathFailsToAppend) {
  SetString("LogFile", "");
  const HRESULT status = Append(&kPop, kSrc);
  EXPECT_TRUE(FAILED(status)) << std::hex << status;
  EXPECT_EQ(0u, Count());
}

// --- Reading -------------------------------------------------------------------------------

TEST_F(PopLogTest, MissingFileReadsAsTheEmptyLogRow) {
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(kEmptyLog, text);
}

TEST_F(PopLogTest, EmptyFileReadsAsEmptyText) {
  WriteLogBytes("");
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ("", text);
}

TEST_F(PopLogTest, AppendedRowsReadBackWithLfLineEnds) {
  ASSERT_EQ(S_OK, Append(&kPop, kSrc));
  ASSERT_EQ(S_OK, Append(nullptr, kSrc));
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(WithLfLineEnds(kTwoLinkRow + kSourceOnlyRow), text);
  EXPECT_EQ(std::string::npos, text.find('\r'));
}

struct ReadCase {
  const char* name;
  std::string stored;
  std::string expected;
};

TEST_F(PopLogTest, ReadsTheFileAsTextModeDoes) {
  const std::vector<ReadCase> cases = {
      {"crlf", "a\r\nb\r\n", "a\nb\n"},
      {"bare lf", "a\nb", "a\nb"},
      {"ctrl-z ends the text", "a\r\nb\x1a" "c\r\n", "a\nb"},
      {"nul ends the text", std::string("ab\0cd", 5), "ab"},
      {"ansi bytes", "caf\xE9\r\n", "caf\xE9\n"},
      {"no line end", kLimit, kLimit},
  };
  for (const ReadCase& test : cases) {
    SCOPED_TRACE(test.name);
    WriteLogBytes(test.stored);
    std::string text;
    EXPECT_EQ(S_OK, Read(&text));
    EXPECT_EQ(test.expected, text);
  }
}

TEST_F(PopLogTest, LargeLogIsReadWhole) {
  std::string stored;
  while (stored.size() < 300000) stored += kTwoLinkRow;
  WriteLogBytes(stored);
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(WithLfLineEnds(stored), text);
}

TEST_F(PopLogTest, ReadingNeedsNoLogPopupOrLogCount) {
  WriteLogBytes("row\r\n");
  DeleteValue("LogPopup");
  DeleteValue("LogCount");
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ("row\n", text);
}

// --- Clearing ------------------------------------------------------------------------------

TEST_F(PopLogTest, ClearDeletesTheFileAndResetsTheCount) {
  ASSERT_EQ(S_OK, Append(&kPop, kSrc));
  SetDword("LogCount", 2001);
  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(0u, Count());
  std::string text;
  EXPECT_EQ(S_OK, Read(&text));
  EXPECT_EQ(kEmptyLog, text);
}

TEST_F(PopLogTest, ClearWithoutAFileSucceedsAndResetsTheCount) {
  SetDword("LogCount", 9);
  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_EQ(0u, Count());
}

TEST_F(PopLogTest, ClearCreatesAMissingCount) {
  DeleteValue("LogCount");
  EXPECT_EQ(S_OK, ClearLog());
  EXPECT_EQ(0u, Count());
}

TEST_F(PopLogTest, ClearLeavesAFileThatIsInUse) {
  ASSERT_EQ(S_OK, Append(&kPop, kSrc));
  // Opened without delete sharing, the file cannot be deleted.
  UniqueFileHandle holder(CreateFileA(log_path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), ClearLog());
  EXPECT_EQ(1u, Count());
  holder.reset();
  EXPECT_EQ(kTwoLinkRow, LogBytes());
}

TEST_F(PopLogTest, AppendToAFileThatIsLockedFailsWithoutCounting) {
  WriteLogBytes("");
  UniqueFileHandle holder(CreateFileA(log_path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), Append(&kPop, kSrc));
  EXPECT_EQ(0u, Count());
  holder.reset();
  EXPECT_EQ("", LogBytes());
}

}  // namespace
}  // namespace zelk
