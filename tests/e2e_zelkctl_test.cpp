// zelkctl against the registered server: each command with its exit code, bad input and
// the exported page. The test checks the registry, where the server writes its settings.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "gtest/gtest.h"
#include "tests/hardening_e2e.h"
#include "tests/policy_values.h"

namespace zelk {
namespace {

using namespace zelk::testing;

struct ToolRun {
  std::string line, out, err;  // out and err with LF line ends
  DWORD exit_code = 0xdeadbeef;
  std::string out_bytes;  // out as written
};

std::ostream& operator<<(std::ostream& stream, const ToolRun& run) {
  return stream << run.line << " -> " << run.exit_code << "\n" << run.out << "---\n" << run.err;
}

std::string FileBytes(const std::string& path, std::ios::openmode mode = std::ios::binary) {
  std::ifstream file(path, mode);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// cmd takes the output to files, read in text mode (CR LF as LF), and feeds
// `input` to standard input. No argument may hold a double quote, a percent
// sign or a caret, or end with a backslash.
ToolRun RunTool(const std::vector<std::string>& arguments, const std::string& input = "") {
  ToolRun run;
  run.line = "\"" + TestFolder() + "zelkctl.exe\"";
  for (const std::string& argument : arguments) run.line += " \"" + argument + "\"";
  const std::string out = TestFolder() + "zelkctl_out.txt", err = TestFolder() + "zelkctl_err.txt",
                    in = TestFolder() + "zelkctl_in.txt";
  std::ofstream(in, std::ios::binary) << input;
  // Now and then Wine's cmd fails to start a program it started a moment before, with
  // its code 9009 ("not recognized"); zelkctl itself never exits with 9009.
  constexpr DWORD kCmdCouldNotStart = 9009;
  run.exit_code = kCmdCouldNotStart;
  for (int attempt = 0; attempt < 3 && run.exit_code == kCmdCouldNotStart; ++attempt) {
    run.exit_code = RunAndWait("cmd /c \"" + run.line + " <\"" + in + "\" >\"" + out +
                               "\" 2>\"" + err + "\"\"");
  }
  run.out = FileBytes(out, std::ios::in);
  run.out_bytes = FileBytes(out);
  run.err = FileBytes(err, std::ios::in);
  for (const std::string& path : {out, err, in}) DeleteFileA(path.c_str());
  return run;
}

// The output of a run that must succeed.
std::string Out(const std::vector<std::string>& arguments, const std::string& input = "") {
  const ToolRun run = RunTool(arguments, input);
  EXPECT_EQ(0u, run.exit_code) << run;
  return run.out;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string Field(const std::string& out, const std::string& name) {  // "Name  value" lines
  const size_t at = ("\n" + out).find("\n" + name + "  ");
  if (at == std::string::npos) return "(no line " + name + ")";
  const size_t value = out.find_first_not_of(' ', at + name.size());
  return out.substr(value, out.find('\n', value) - value);
}

// Each suite starts with an empty safe list and log, logging on, and puts back
// the settings, list and log it found once its server has quit.
class ZelkctlTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { state_ = std::make_unique<ServerStateSnapshot>(); }
  static void TearDownTestSuite() { state_.reset(); }
  void SetUp() override { ASSERT_EQ(S_OK, CreateServerObject(&helper_)); }

  static inline std::unique_ptr<ServerStateSnapshot> state_;
  ScopedComInitializer com_;
  ComPtr<IZelkHelper> helper_;
};

// Usage errors, failures and help say why, each on its own stream.
TEST_F(ZelkctlTest, ExitCodesAndWhatTheySay) {
  const std::tuple<std::vector<std::string>, DWORD, std::string> cases[] = {
      {{"frobnicate"}, 1, "unknown command \"frobnicate\""},
      {{"get"}, 1, "get: missing operand"},
      {{"set", "NoSuchSetting", "on"}, 1, "unknown setting \"NoSuchSetting\""},
      {{"set", "CheckSoftPopup", "maybe"}, 1, "on/off, true/false or 1/0"},
      {{"protect", "everything", "http://a.zelkctl.test/"}, 1, "a page, a site or a domain"},
      {{"log", "burn"}, 1, "unknown log subcommand \"burn\""},
      {{"count", "add", "2147483648"}, 1, "whole number"},
      {{"check", "zelkctl.test"}, 2, "IsUrlProtected failed: 0x80070057 "},  // no scheme
      {{"protect", "page", "u@v@zelkctl.test"}, 2, "ProtectPage failed: 0x80070057 "},
      {{"log", "export", TestFolder() + "no such folder\\page.html"}, 2, "failed: 0x80070003 "},
      {{"list", "bogus"}, 1, "\"bogus\" is neither --urls nor a list subcommand"},
      {{"list", "import", "--force", "x.txt"}, 1, "unknown option \"--force\""},
      {{"list", "import", "--replace"}, 1, "FILE is missing after the options"},
      {{"list", "import", TestFolder() + "no such file.txt"}, 2, "failed: 0x80070002 "},
      {{"--help"}, 0, "0 success, 1 usage error, 2 failure"},
      {{"log", "export", "--help"}, 0, "usage: zelkctl log export FILE\n\nWrites"},
  };
  const DWORD total = ReadSettingDword("TotalPopups");
  for (const auto& [arguments, exit_code, says] : cases) {
    const ToolRun run = RunTool(arguments);
    EXPECT_EQ(exit_code, run.exit_code) << run;
    EXPECT_NE(0u, Count(exit_code ? run.err : run.out, says)) << says << "\n" << run;
    EXPECT_EQ("", exit_code ? run.out : run.err) << run;
  }
  EXPECT_EQ(total, ReadSettingDword("TotalPopups"));
  EXPECT_EQ(15u, Count(Out({"help"}), "\n  "));  // a line for each command
}

// Any letter case, each spelling of on and off, an empty operand, both signs,
// each entry type, and a URL without a scheme taken as http://.
TEST_F(ZelkctlTest, CommandsSayWhatTheyDid) {
  const long total = static_cast<long>(ReadSettingDword("TotalPopups"));
  const std::pair<std::vector<std::string>, std::string> runs[] = {
      {{"set", "checksoftpopup", "TRUE"}, "CheckSoftPopup  on\n"},
      {{"set", "CheckSoftPopup", "Off"}, "CheckSoftPopup  off\n"},
      {{"set", "CheckSoftPopup", "1"}, "CheckSoftPopup  on\n"},
      {{"get", "CHECKSOFTPOPUP"}, "on\n"},
      {{"set", "SoundFile", ""}, "SoundFile\n"},
      {{"set", "SoundFile", "C:\\pop up.wav"}, "SoundFile  C:\\pop up.wav\n"},
      {{"count", "add", "5"}, "TotalPopups  " + std::to_string(total + 5) + "\n"},
      {{"count", "add", "-2"}, "TotalPopups  " + std::to_string(total + 3) + "\n"},
      {{"protect", "PAGE", "ctl-a.test/p"}, "protected as a page: ctl-a.test/p\n"},
      {{"protect", "site", "http://ctl-b.test/"}, "protected as a site: http://ctl-b.test/\n"},
      {{"protect", "domain", "http://ctl-c.test/"}, "protected as a domain: http://ctl-c.test/\n"},
      {{"check", "http://ctl-a.test/p?q=1"}, "1 protected by a page entry\n"},
      {{"check", "http://ctl-b.test/a/b"}, "2 protected by a site entry\n"},
      {{"check", "http://x.ctl-c.test/x"}, "4 protected by a domain entry\n"},
      {{"unprotect", "http://ctl-a.test/p"},
       "no safe-list entry covers http://ctl-a.test/p any more\n"},
      {{"check", "http://ctl-a.test/p"}, "0 not protected\n"},
  };
  for (const auto& [arguments, says] : runs) EXPECT_EQ(says, Out(arguments));
  EXPECT_EQ(1u, ReadSettingDword("CheckSoftPopup"));
  const std::string status = Out({"status"});
  EXPECT_EQ("per user (no service registered)", Field(status, "Server")) << status;
  EXPECT_EQ(std::to_string(total + 3), Field(status, "TotalPopups")) << status;
  EXPECT_EQ(std::to_string(Count(Out({"list"}), "\n")), Field(status, "SafeList entries"));
}

// Letters beyond ASCII that the ANSI code page holds: the server's narrow text keeps them.
std::wstring NonAsciiLetters() {
  std::wstring letters;
  for (wchar_t letter : std::wstring(L"\u00e9\u00fc\u00f1\u65e5\u672c")) {
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, &letter, 1, nullptr, 0, nullptr, &lossy);
    if (!lossy) letters.push_back(letter);
  }
  return letters;
}

// Three entries, the last one passing the count limit, shown and exported.
TEST_F(ZelkctlTest, LogAddShowExportAndClear) {
  EXPECT_EQ(S_OK, helper_->ClearLogs());
  WriteSettingDwordForTest("LogCount", 1998);
  const std::string hostile = "http://a.zelkctl.test/?q=<script>&x='1'";
  Out({"log", "add", hostile, "http://src.zelkctl.test/"});
  Out({"log", "add", "javascript:alert(1)", "no source"});
  EXPECT_EQ(S_OK, helper_->LogPopUrl(Bstr(L"http://caf\u00e9.zelkctl.test/").get(),
                                     Bstr(L"http://src.zelkctl.test/").get()));
  const std::string shown = Out({"log", "show"});
  EXPECT_EQ(5u, Count(shown, "\n")) << shown;  // the header, 3 entries and the limit
  EXPECT_EQ(1u, Count(shown, "\n" + hostile + "  http://src.zelkctl.test/ ")) << shown;
  EXPECT_EQ(1u, Count(shown, "\nLog count limit reached. Please clear the log.\n")) << shown;
  EXPECT_EQ("3", Field(Out({"status"}), "Log entries"));

  // No script and no javascript: link in the page: browser_log_page reads it in a browser.
  const std::string page_path = TestFolder() + "zelkctl_export_test.html";
  EXPECT_EQ("3 log entries written to " + page_path + "\n", Out({"log", "export", page_path}));
  const std::string page = FileBytes(page_path);
  DeleteFileA(page_path.c_str());
  EXPECT_EQ(0u, page.find("<!DOCTYPE html>\n<html")) << page;
  EXPECT_EQ(1u, Count(page, "<meta charset=\"utf-8\">")) << page;
  EXPECT_EQ(page.size() - 8, page.rfind("</html>\n")) << page;
  EXPECT_EQ(5u, Count(page, "<tr>")) << page;
  EXPECT_TRUE(NonAsciiLetters().find(L'\u00e9') == std::wstring::npos ||  // else not logged
              Count(page, "href=\"http://caf\xC3\xA9.zelkctl.test/\"") == 1) << page;
  Out({"log", "clear"});
  EXPECT_EQ("0", Field(Out({"status"}), "Log entries"));
}

// An account that may read the settings but not change them: a change fails
// with access denied and one more line, saying what would give the access.
TEST_F(ZelkctlTest, ReadsButExplainsARefusedChange) {
  const std::string needs = "needs write access to HKLM\\Software\\Zelk";
  const std::string grant = "; the per-user server writes with your rights: run zelkctl from an "
                            "elevated prompt, or install the package, whose service makes changes "
                            "for every user\n";
  const std::tuple<std::vector<std::string>, DWORD, std::string> cases[] = {
      {{"get", "AutoShow"}, 0, ""},
      {{"set", "AutoShow", "on"}, 2, needs + grant},
      {{"log", "add", "http://a.privilege.test/", "http://b.privilege.test/"}, 2,
       needs + " and to the log file" + grant},
  };
  ReadOnlyKeys read_only({kSettingsPath});
  for (const auto& [arguments, exit_code, says] : cases) {
    const ToolRun run = RunTool(arguments);
    EXPECT_EQ(exit_code, run.exit_code) << run;
    EXPECT_EQ(exit_code != 0, Count(run.err, " failed: 0x80070005 ") == 1) << run;
    const size_t last = exit_code ? run.err.size() - std::min(run.err.size(), says.size()) : 0;
    EXPECT_EQ(says, run.err.substr(last)) << run;
  }
}

// A 64-bit zelkctl against a 32-bit server, whose class and store are in the 32-bit view:
// the entries' types come from that view. Takes the i686 build's server of the same tree.
// What the server applies and every value it ignores, each with its reason; managed settings
// and entries marked as such in status and list, and refused by set.
TEST_F(ZelkctlTest, PolicyShowsWhatAppliesAndEveryIgnoredValueWithItsReason) {
  auto ascii = [](const std::wstring& text) { return std::string(text.begin(), text.end()); };
  std::vector<PolicyValue> values = IgnoredValues();
  values.push_back(Dword(L"ProtectLocal", 0));
  values.push_back(Text(L"SafeList\\10", L"site http://managed.test/"));
  ApplyPolicy(values);
  const ToolRun run = RunTool({"policy"});
  EXPECT_EQ(1u, run.exit_code) << run;
  for (const PolicyValue& value : IgnoredValues()) {
    EXPECT_EQ(1u, Count(run.out, "\n  " + ascii(value.path) + ": " + ascii(value.reason))) << run;
  }
  const std::string managed = "SafeList\\10  site http://managed.test/\n";
  EXPECT_NE(0u, Count(run.out, "\n  " + managed)) << run;
  EXPECT_EQ("off  (managed by policy)", Field(Out({"status"}), "ProtectLocal"));
  EXPECT_NE(0u, Count(Out({"list"}), "\npolicy " + managed));
  const ToolRun set = RunTool({"set", "protectlocal", "on"});
  EXPECT_TRUE(set.exit_code == 2 && Count(set.err, "managed by machine policy")) << set;
  ApplyPolicy({});
  EXPECT_EQ("not configured", Field(Out({"policy"}), "  ProtectLocal"));
}

TEST_F(ZelkctlTest, ListReadsTheViewOfTheRegisteredServer) {
  const std::string built = TestFolder() + "..\\..\\i686\\bin\\ZelkAdmin.exe";
  if (sizeof(void*) == 4 || GetFileAttributesA(built.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "needs a 64-bit zelkctl and the 32-bit server at " << built;
  }
  const std::string server32 = TestFolder() + "i686\\ZelkAdmin.exe";  // its log stays here
  CreateDirectoryA((TestFolder() + "i686").c_str(), nullptr);
  ASSERT_TRUE(CopyFileA(built.c_str(), server32.c_str(), FALSE));
  helper_.reset();
  WaitForNoServer();
  for (const std::string& run : {ServerPath() + " /UnregServer", server32 + " /RegServer"}) {
    ASSERT_EQ(0u, RunAndWait(run)) << run;
  }
  Out({"protect", "site", "http://view.zelkctl.test/"});
  EXPECT_EQ("site http://view.zelkctl.test/\n", Out({"list"}));
  WaitForNoServer();
  EXPECT_EQ(0u, RunAndWait(server32 + " /UnregServer"));
  EXPECT_EQ(0u, RunAndWait(ServerPath() + " /RegServer"));
  UniqueHkey software32;  // the 32-bit settings, which survive unregistration, go too
  ASSERT_EQ(0, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                             software32.put()));
  EXPECT_EQ(0, RegDeleteTreeW(software32.get(), L"Zelk"));
  EXPECT_TRUE(DeleteFileA(server32.c_str()) && RemoveDirectoryA((TestFolder() + "i686").c_str()));
}

// --- The safe list with types: list, export, import --------------------------------

// zelkctl's redirected output is in the ANSI code page; its files are UTF-8.
std::string Encoded(UINT code_page, const std::wstring& text) {
  std::string bytes(text.size() * 4, '\0');
  bytes.resize(WideCharToMultiByte(code_page, 0, text.data(), text.size(), &bytes[0],
                                   bytes.size(), nullptr, nullptr));
  return bytes;
}

// Each test starts with an empty safe list: an empty file imported with --replace.
class ZelkctlListTest : public ZelkctlTest {
 protected:
  void SetUp() override {
    ZelkctlTest::SetUp();
    Out({"list", "import", "--replace", "-"});
    ASSERT_EQ("", Out({"list"}));
  }
  ~ZelkctlListTest() override { DeleteFileA(file_.c_str()); }

  const std::string file_ = TestFolder() + "zelkctl_list.txt";
};

// Pages, sites and domains in turn, each of a domain of its own so that none covers
// another, every tenth with letters beyond ASCII; the import reads a byte order mark,
// comments, blanks and CR LF, and the export writes the plain form, to a file and to -;
// the same lines in UTF-16 of either byte order replace the list with itself.
TEST_F(ZelkctlListTest, ThousandEntriesRoundTripWithTheirTypes) {
  const std::wstring letters = NonAsciiLetters();
  ASSERT_FALSE(letters.empty());
  const wchar_t* const words[] = {L"page", L"site", L"domain"};
  std::wstring listing;
  std::string input = "\xEF\xBB\xBF# generated\r\n\r\n";
  for (int index = 0; index < 1000; ++index) {
    const std::wstring extra = index % 10 == 0 ? letters : L"";
    const std::wstring line = std::wstring(words[index % 3]) + L" http://w.r" +
                              std::to_wstring(index) + extra + L".test/" +
                              (index % 3 == 0 ? L"p" + extra : L"");
    listing += line + L"\n";
    input += (index % 2 ? " \t" : "") + Encoded(CP_UTF8, line) + (index % 7 ? " " : "  # why") +
             "\r\n";
  }
  std::ofstream(file_, std::ios::binary) << input;
  const std::string exported = Encoded(CP_UTF8, L"# zelkctl safe list, 1000 entries\n" + listing);

  EXPECT_EQ(file_ + ": 1000 lines applied: 1000 added, 0 already covered, 0 replaced\n",
            Out({"list", "import", file_}));
  EXPECT_EQ("1000 entries written to " + file_ + "\n", Out({"list", "export", file_}));
  EXPECT_EQ(exported, FileBytes(file_));
  EXPECT_EQ(exported, RunTool({"list", "export", "-"}).out_bytes);
  for (const bool big_endian : {false, true}) {
    std::string utf16;
    for (const wchar_t c : L"\xFEFF" + listing) {
      const char bytes[] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
      utf16 += big_endian ? std::string{bytes[1], bytes[0]} : std::string(bytes, 2);
    }
    EXPECT_EQ("(standard input): 1000 lines applied: 0 added, 1000 already covered, 0 replaced\n",
              Out({"list", "import", "--replace", "-"}, utf16));
  }
  EXPECT_EQ(Encoded(CP_ACP, listing), Out({"list"}));
}

// The type comes from the subkey, as the server loads it: a value that is not
// one type shows as its number, anything but a REG_DWORD as a page. A backup
// leaves out, and tells, the entries an import cannot make again; --replace
// keeps them.
TEST_F(ZelkctlListTest, TypesShownAndABackupKeepsWhatItCannotRestore) {
  const std::tuple<std::string, DWORD, DWORD, std::string> rows[] = {
      {"http://zelkctl-ta.test/", REG_DWORD, 4, "domain"},
      {"http://zelkctl-tb.test/", REG_DWORD, 3, "type=3"},
      {"http://zelkctl-tc.test/", REG_DWORD, 0, "type=0"},
      {"http://zelkctl-td.test/", REG_SZ, 0, "page"},
      {"http://zelkctl-te.test/", REG_NONE, 0, "page"},  // no default value
  };
  std::string shown, urls;
  for (const auto& [url, value_type, value, word] : rows) {
    Out({"protect", "site", url});
    const std::string subkey = "Software\\Zelk\\SafeList\\" + url;
    EXPECT_EQ(ERROR_SUCCESS, value_type == REG_NONE
                                 ? RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, subkey.c_str(), nullptr)
                                 : RegSetKeyValueA(HKEY_LOCAL_MACHINE, subkey.c_str(), nullptr,
                                                   value_type, &value, sizeof(value)));
    shown += word + " " + url + "\n";
    urls += url + "\n";
  }
  EXPECT_EQ(shown, Out({"list"}));
  EXPECT_EQ(urls, Out({"list", "--urls"}));
  const std::string why = " is none of page (1), site (2) and domain (4), the only types the "
                          "server makes";
  const std::string kept = "  type=3 http://zelkctl-tb.test/ (could not be put back: its "
                           "stored type 3" + why + ")\n  type=0 http://zelkctl-tc.test/ (could "
                           "not be put back: its stored type 0" + why + ")\n";
  ToolRun run = RunTool({"list", "export", file_});
  EXPECT_EQ(1u, run.exit_code) << run;
  EXPECT_EQ("zelkctl: list export: entry 2 (type=3 http://zelkctl-tb.test/) cannot be restored: "
            "its stored type 3" + why + "\nzelkctl: list export: entry 3 (type=0 "
            "http://zelkctl-tc.test/) cannot be restored: its stored type 0" + why +
            "\nzelkctl: list export: 2 entries left out, as told above\n", run.err);
  EXPECT_EQ("# zelkctl safe list, 3 entries\ndomain http://zelkctl-ta.test/\npage "
            "http://zelkctl-td.test/\npage http://zelkctl-te.test/\n", FileBytes(file_));
  run = RunTool({"list", "import", "--replace", file_});
  EXPECT_EQ(0u, run.exit_code) << run;
  EXPECT_EQ("zelkctl: list import: --replace leaves 2 entries that " + file_ +
            " does not hold in place:\n" + kept, run.err);
  EXPECT_EQ(2u, Count(Out({"list"}), "type="));
  for (const auto& row : rows) Out({"unprotect", std::get<0>(row)});  // the server holds sites
}

// Every bad line is reported with its number, the first 20 of them, and nothing
// changes, not even by the good lines around them or by --replace.
TEST_F(ZelkctlListTest, MalformedFileChangesNothing) {
  Out({"protect", "site", "http://kept.zelkctl-m.test/"});
  const std::string at = "http://a.zelkctl-m.test/";
  const std::pair<std::string, std::string> bad_lines[] = {
      {"pages " + at, "unknown entry type \"pages\"; a line is \"page URL\", \"site URL\" or "
                      "\"domain URL\""},
      {"site  # no URL", "no URL after \"site\""},
      {"domain http://\xFF.zelkctl-m.test/", "not UTF-8 text"},
      {"page " + at + "\x01", "the URL holds the control character \\x01"},
      {"page " + at + "a\\b", "the URL holds a '\\', which a registry name cannot"},
      {"page " + at + std::string(232, 'x'), "the URL is longer than 255 characters"},
      {"site " + at + "\xE0\xB8\x81", "the URL cannot be held in code page " +
                                        std::to_string(GetACP())},
      {"page u@v@zelkctl-m.test", "the server cannot store the URL: it is no URL, or with "
                                  "\"http://\" in front it is longer than 255 characters"},
      {"type=3 " + at, "\"type=3\" entries cannot be imported: the server makes only page, "
                       "site and domain entries"},
  };
  std::string file = "page http://ok.zelkctl-m.test/\n  # a comment\n", report;
  for (size_t number = 3; number <= 24; ++number) {
    const auto& [line, reason] = bad_lines[number < 12 ? number - 3 : 0];
    file += line + "\n";
    if (number <= 22) report += file_ + ":" + std::to_string(number) + ": " + reason + "\n";
  }
  std::ofstream(file_, std::ios::binary) << file;
  for (const char* option : {"--replace", "--dry-run"}) {
    const ToolRun run = RunTool({"list", "import", option, file_});
    EXPECT_EQ(1u, run.exit_code) << run;
    EXPECT_EQ(report + "zelkctl: list import: 22 lines not understood (the first 20 shown); "
              "nothing was changed\n", run.err);
  }
  EXPECT_EQ("site http://kept.zelkctl-m.test/\n", Out({"list"}));
}

// --replace removes what the file does not hold, with the same URL text and
// type; --dry-run tells it and changes nothing; a plain import adds, and
// replaces what overlaps.
TEST_F(ZelkctlListTest, ReplaceDryRunAndOverlap) {
  Out({"list", "import", "-"},
      "site http://keep.zelkctl-r.test/\npage http://drop.zelkctl-r.test/x\ndomain "
      "http://w.retype.test/\n");
  std::ofstream(file_, std::ios::binary) << "site http://keep.zelkctl-r.test/\n"
                                            "page http://w.retype.test/  # kiosk\n"
                                            "domain http://new.zelkctl-n.test/\n";
  const std::string before = Out({"list"});
  EXPECT_EQ(file_ + ": 3 entries (1 page, 1 site, 1 domain); --replace would first remove 2 "
            "entries it does not hold:\n  page http://drop.zelkctl-r.test/x\n  domain "
            "http://w.retype.test/\nnothing changed (dry run)\n",
            Out({"list", "import", "--dry-run", "--replace", file_}));
  EXPECT_EQ(file_ + ": 3 entries (1 page, 1 site, 1 domain); nothing changed (dry run)\n",
            Out({"list", "import", "--dry-run", file_}));
  EXPECT_EQ(before, Out({"list"}));

  EXPECT_EQ(file_ + ": 3 lines applied: 2 added, 1 already covered, 0 replaced; 2 entries not "
            "in the file removed first\n",
            Out({"list", "import", "--replace", file_}));
  EXPECT_EQ("site http://keep.zelkctl-r.test/\npage http://w.retype.test/\ndomain "
            "http://new.zelkctl-n.test/\n", Out({"list"}));
  EXPECT_EQ("(standard input): 1 line applied: 1 added, 0 already covered, 1 replaced\n",
            Out({"list", "import", "-"}, "site http://w.retype.test/other\n"));
}

// A change the registry refuses (a subkey the server has not loaded, that it may
// not write) stops the import at its line: the lines before it stay, and what
// --replace removed is put back.
TEST_F(ZelkctlListTest, ServerFailureStopsTheImportAndPutsBackWhatItRemoved) {
  Out({"protect", "domain", "http://gone.zelkctl-g.test/"});
  const std::wstring locked = L"Software\\Zelk\\SafeList\\http://three.zelkctl-f.test/a";
  ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, locked.c_str(), nullptr, REG_SZ,
                                           L"", sizeof(wchar_t)));
  std::ofstream(file_, std::ios::binary) << "page http://one.zelkctl-f.test/1\n"
                                            "site http://two.zelkctl-f.test/\n"
                                            "page http://three.zelkctl-f.test/a\n"
                                            "domain http://four.zelkctl-f.test/\n";
  auto read_only = std::make_unique<ReadOnlyKeys>(std::vector<const wchar_t*>{locked.c_str()});
  const ToolRun run = RunTool({"list", "import", "--replace", file_});
  read_only.reset();
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_LOCAL_MACHINE, locked.c_str()));
  EXPECT_EQ(2u, run.exit_code) << run;
  EXPECT_EQ(0u, run.err.find("zelkctl: list import: " + file_ +
                             ":3: ProtectPage failed: 0x80070005 ")) << run;
  EXPECT_NE(std::string::npos,
            run.err.find("\nzelkctl: 2 lines applied before it stay (2 added, 0 already "
                         "covered, 0 replaced); line 3 and the lines after it were not "
                         "applied; put back 1 of the 1 entry removed first\n")) << run;
  EXPECT_EQ("page http://one.zelkctl-f.test/1\nsite http://two.zelkctl-f.test/\n"
            "domain http://gone.zelkctl-g.test/\n", Out({"list"}));
}

}  // namespace
}  // namespace zelk
