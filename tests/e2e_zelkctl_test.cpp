// zelkctl against the registered server: every command, its exit codes (0
// success, 1 usage error, 2 failure reported by the server or the system),
// and bad input. The tool runs as its own process with its output captured;
// the test holds its own client reference to the same shared object, to set
// the scene and to check what the tool did. Every test puts back the
// settings, the counter, the safe list and the log it touched.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"

namespace zelk {
namespace {

using namespace zelk::testing;

// --- Running the tool ------------------------------------------------------------------

struct ToolRun {
  DWORD exit_code = 0xdeadbeef;
  std::string out;  // line ends as LF
  std::string err;
};

std::string ToolPath() { return TestFolder() + "zelkctl.exe"; }

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::string QuoteArgument(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  for (size_t index = 0;; ++index) {
    size_t backslashes = 0;
    while (index < argument.size() && argument[index] == '\\') {
      ++index;
      ++backslashes;
    }
    if (index == argument.size()) {
      quoted.append(backslashes * 2, '\\');
      break;
    }
    if (argument[index] == '"') {
      quoted.append(backslashes * 2 + 1, '\\');
    } else {
      quoted.append(backslashes, '\\');
    }
    quoted.push_back(argument[index]);
  }
  quoted.push_back('"');
  return quoted;
}

std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// Reads a pipe to its end (the child closed it or exited).
void ReadToEnd(HANDLE pipe, std::string* text) {
  char buffer[4096];
  DWORD read = 0;
  while (ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    text->append(buffer, read);
  }
}

struct Pipe {
  UniqueHandle read;
  UniqueHandle write;  // inherited by the child
};

bool MakeOutputPipe(Pipe* pipe) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inheritable, 0)) return false;
  pipe->read.reset(read);
  pipe->write.reset(write);
  return SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0) != FALSE;
}

ToolRun RunTool(const std::vector<std::string>& arguments) {
  ToolRun run;
  std::string command_line = QuoteArgument(ToolPath());
  for (const std::string& argument : arguments) command_line += " " + QuoteArgument(argument);
  Pipe out, err;
  if (!MakeOutputPipe(&out) || !MakeOutputPipe(&err)) {
    ADD_FAILURE() << "cannot create pipes: " << GetLastError();
    return run;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out.write.get();
  startup.hStdError = err.write.get();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command_line << ": " << GetLastError();
    return run;
  }
  UniqueHandle process_handle(process.hProcess);
  UniqueHandle thread_handle(process.hThread);
  // Only the child holds the write ends now, so the reads end when it does.
  out.write.reset();
  err.write.reset();
  std::thread err_reader(ReadToEnd, err.read.get(), &run.err);
  ReadToEnd(out.read.get(), &run.out);
  if (WaitForSingleObject(process_handle.get(), 60000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << command_line << " did not end";
    TerminateProcess(process_handle.get(), 0xdead);
  }
  err_reader.join();
  GetExitCodeProcess(process_handle.get(), &run.exit_code);
  run.out = WithoutCarriageReturns(run.out);
  run.err = WithoutCarriageReturns(run.err);
  return run;
}

std::string Describe(const std::vector<std::string>& arguments, const ToolRun& run) {
  std::string text = "zelkctl";
  for (const std::string& argument : arguments) text += " [" + argument.substr(0, 80) + "]";
  return text + "\n--- exit " + std::to_string(run.exit_code) + "\n--- stdout\n" + run.out +
         "--- stderr\n" + run.err;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// "Name  value" lines of status and set, as a map.
std::map<std::string, std::string> NameValueLines(const std::string& text) {
  std::map<std::string, std::string> values;
  for (const std::string& line : Lines(text)) {
    const size_t gap = line.find("  ");
    if (gap == std::string::npos) {
      values[line] = "";
      continue;
    }
    values[line.substr(0, gap)] = line.substr(line.find_first_not_of(' ', gap));
  }
  return values;
}

// The system's text for a status, as FormatMessage gives it to this process.
std::string SystemText(DWORD code) {
  char buffer[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, buffer, sizeof(buffer), nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// --- The server's state, through the test's own client ---------------------------------

using FlagGetter = decltype(&IZelkHelper::get_AutoShow);
using FlagPutter = decltype(&IZelkHelper::put_AutoShow);

struct Flag {
  const char* name;
  FlagGetter get;
  FlagPutter put;
};

const Flag kFlags[] = {
    {"AutoShow", &IZelkHelper::get_AutoShow, &IZelkHelper::put_AutoShow},
    {"PlaySound", &IZelkHelper::get_PlaySound, &IZelkHelper::put_PlaySound},
    {"ProtectLocal", &IZelkHelper::get_ProtectLocal, &IZelkHelper::put_ProtectLocal},
    {"ProtectHttps", &IZelkHelper::get_ProtectHttps, &IZelkHelper::put_ProtectHttps},
    {"LogPopup", &IZelkHelper::get_LogPopup, &IZelkHelper::put_LogPopup},
    {"CheckSoftPopup", &IZelkHelper::get_CheckSoftPopup, &IZelkHelper::put_CheckSoftPopup},
};

const char* const kCommandSynopses[] = {
    "status",
    "get NAME",
    "set NAME VALUE",
    "check URL",
    "protect page|site|domain URL",
    "unprotect URL",
    "list",
    "log show",
    "log export FILE",
    "log clear",
    "log add POPUP_URL SOURCE_URL",
    "count add N",
};

// Rows as the server writes them.
std::string EntryRow(const std::string& pop_cell, const std::string& src_cell,
                     const std::string& time) {
  return "<TR>" + pop_cell + src_cell + "<TD><font size=2>" + time + "</font></TD></TR>";
}
std::string LinkCell(const std::string& target, const std::string& shown) {
  return "<TD><font size=2><A href='" + target + "' target=_blank>" + shown + "</A></font></TD>";
}
const char kPlaceholderCell[] = "<TD><font size=2>?{/font></TD>";
const char kLimitRow[] =
    "<TR><TD colspan=3 align=center><font size=2>Log count limit reached. "
    "Please clear the log.</font></TD></TR>";

class ZelkctlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.status()));
    ASSERT_EQ(S_OK, CreateServerObject(&helper_));
    SaveSettings();
    SaveLog();
  }

  void TearDown() override {
    for (const std::string& url : protected_urls_) {
      EXPECT_EQ(S_OK, helper_->UnprotectUrl(Bstr(Wide(url).c_str()).get())) << url;
    }
    RestoreSettings();
    RestoreLog();
    helper_.reset();
  }

  static std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());  // ASCII only
  }

  bool FlagValue(const Flag& flag) {
    VARIANT_BOOL value = 0x5555;
    EXPECT_EQ(S_OK, (helper_.get()->*flag.get)(&value));
    return value != VARIANT_FALSE;
  }
  void SetFlag(const Flag& flag, bool on) {
    EXPECT_EQ(S_OK, (helper_.get()->*flag.put)(on ? VARIANT_TRUE : VARIANT_FALSE));
  }
  const Flag& FlagNamed(const std::string& name) {
    for (const Flag& flag : kFlags) {
      if (name == flag.name) return flag;
    }
    ADD_FAILURE() << "no flag " << name;
    return kFlags[0];
  }
  std::wstring SoundFile() {
    UniqueBstr value;
    EXPECT_EQ(S_OK, helper_->get_SoundFile(value.put()));
    return ToWide(value.get());
  }
  long TotalPopups() {
    long total = -1;
    EXPECT_EQ(S_OK, helper_->get_TotalPopups(&total));
    return total;
  }
  std::vector<std::wstring> SafeList() {
    ScopedVariant list;
    std::vector<std::wstring> keys;
    EXPECT_EQ(S_OK, helper_->get_SafeList(list.Receive()));
    if (list.get().vt != (VT_ARRAY | VT_VARIANT)) return keys;
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(list.get().parray, 1, &lower);
    SafeArrayGetUBound(list.get().parray, 1, &upper);
    for (LONG index = lower; index <= upper; ++index) {
      ScopedVariant element;
      EXPECT_EQ(S_OK, SafeArrayGetElement(list.get().parray, &index, element.get_mutable()));
      keys.push_back(ToWide(element.get().bstrVal));
    }
    return keys;
  }
  long ProtectionCode(const std::string& url) {
    long code = -1;
    EXPECT_EQ(S_OK, helper_->IsUrlProtected(Bstr(Wide(url).c_str()).get(), &code)) << url;
    return code;
  }
  // Remembered, so TearDown takes it off the safe list again.
  void WillProtect(const std::string& url) { protected_urls_.push_back(url); }

  void LogThroughServer(const std::wstring& pop_up, const std::wstring& source) {
    EXPECT_EQ(S_OK, helper_->LogPopUrl(Bstr(pop_up.c_str()).get(), Bstr(source.c_str()).get()));
  }
  // Replaces the log file with `rows`, as a server (or an older one) left it.
  void WriteLogFile(const std::string& rows) {
    std::ofstream file(log_path_, std::ios::binary | std::ios::trunc);
    file << rows;
    ASSERT_TRUE(file.good()) << log_path_;
  }
  void StartEmptyLog() {
    SetFlag(FlagNamed("LogPopup"), true);
    helper_->ClearLogs();  // fails only when there was no file
    WriteSettingDwordForTest("LogCount", 0);
  }

  ComPtr<IZelkHelper> helper_;
  std::string log_path_;

 private:
  void SaveSettings() {
    for (const Flag& flag : kFlags) saved_flags_.push_back(FlagValue(flag));
    saved_sound_file_ = SoundFile();
    saved_total_ = TotalPopups();
  }
  void RestoreSettings() {
    for (size_t index = 0; index < saved_flags_.size(); ++index) {
      SetFlag(kFlags[index], saved_flags_[index]);
    }
    EXPECT_EQ(S_OK, helper_->put_SoundFile(Bstr(saved_sound_file_.c_str()).get()));
    EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(saved_total_ - TotalPopups()));
  }
  void SaveLog() {
    DWORD type = 0;
    std::string path;
    ASSERT_TRUE(ReadSetting("LogFile", &type, &path));
    log_path_ = path.c_str();  // up to the stored NUL
    saved_log_count_ = ReadSettingDword("LogCount");
    std::ifstream file(log_path_, std::ios::binary);
    log_existed_ = file.is_open();
    if (log_existed_) saved_log_.assign(std::istreambuf_iterator<char>(file), {});
  }
  void RestoreLog() {
    helper_->ClearLogs();
    if (log_existed_) WriteLogFile(saved_log_);
    WriteSettingDwordForTest("LogCount", saved_log_count_);
  }

  ScopedComInitializer com_;
  std::vector<bool> saved_flags_;
  std::wstring saved_sound_file_;
  long saved_total_ = 0;
  std::vector<std::string> protected_urls_;
  bool log_existed_ = false;
  std::string saved_log_;
  DWORD saved_log_count_ = 0;
};

// --- Usage errors and help -------------------------------------------------------------

struct UsageCase {
  std::vector<std::string> arguments;
  const char* complaint;  // part of what stderr must say
};

const std::string kLongNumber = "2147483648";

TEST_F(ZelkctlTest, UsageErrorsExitWithOneSayWhyAndChangeNothing) {
  const UsageCase cases[] = {
      {{}, "no command given"},
      {{"frobnicate"}, "unknown command \"frobnicate\""},
      {{"help", "frobnicate"}, "unknown command \"frobnicate\""},
      {{"get"}, "missing operand"},
      {{"get", "NoSuchSetting"}, "unknown setting \"NoSuchSetting\""},
      {{"get", "AutoShow", "extra"}, "too many operands"},
      {{"set", "NoSuchSetting", "on"}, "unknown setting \"NoSuchSetting\""},
      {{"set", "AutoShow"}, "missing operand"},
      {{"set", "AutoShow", "maybe"}, "on/off, true/false or 1/0"},
      {{"set", "AutoShow", ""}, "on/off, true/false or 1/0"},
      {{"set", "LogPopup", "2"}, "on/off, true/false or 1/0"},
      {{"set", "TotalPopups", "5"}, "count add"},
      {{"check"}, "missing operand"},
      {{"check", "http://a.zelkctl.test/", "http://b.zelkctl.test/"}, "too many operands"},
      {{"protect", "http://a.zelkctl.test/"}, "missing operand"},
      {{"protect", "everything", "http://a.zelkctl.test/"}, "a page, a site or a domain"},
      {{"unprotect"}, "missing operand"},
      {{"list", "extra"}, "too many operands"},
      {{"status", "extra"}, "too many operands"},
      {{"log"}, "missing subcommand"},
      {{"log", "burn"}, "unknown log subcommand \"burn\""},
      {{"log", "export"}, "missing operand"},
      {{"log", "add", "http://a.zelkctl.test/"}, "missing operand"},
      {{"count"}, "missing subcommand"},
      {{"count", "add"}, "missing operand"},
      {{"count", "add", "many"}, "whole number"},
      {{"count", "add", kLongNumber}, "whole number"},
      {{"count", "add", "1.5"}, "whole number"},
      {{"count", "add", " 1"}, "whole number"},
      {{"count", "add", "-"}, "whole number"},
      {{"count", "add", ""}, "whole number"},
  };
  const long total = TotalPopups();
  const size_t list_size = SafeList().size();
  std::vector<bool> flags;
  for (const Flag& flag : kFlags) flags.push_back(FlagValue(flag));

  for (const UsageCase& test : cases) {
    const ToolRun run = RunTool(test.arguments);
    EXPECT_EQ(1u, run.exit_code) << Describe(test.arguments, run);
    EXPECT_TRUE(Contains(run.err, test.complaint)) << Describe(test.arguments, run);
    EXPECT_TRUE(Contains(run.err, "zelkctl")) << Describe(test.arguments, run);
    EXPECT_EQ("", run.out) << Describe(test.arguments, run);
  }
  EXPECT_EQ(total, TotalPopups());
  EXPECT_EQ(list_size, SafeList().size());
  for (size_t index = 0; index < flags.size(); ++index) {
    EXPECT_EQ(flags[index], FlagValue(kFlags[index])) << kFlags[index].name;
  }
}

TEST_F(ZelkctlTest, HelpForTheWholeToolListsEveryCommand) {
  for (const char* request : {"--help", "-h", "/?", "help"}) {
    const ToolRun run = RunTool({request});
    EXPECT_EQ(0u, run.exit_code) << Describe({request}, run);
    EXPECT_EQ("", run.err);
    for (const char* synopsis : kCommandSynopses) {
      EXPECT_TRUE(Contains(run.out, std::string("  ") + synopsis + " ")) << run.out;
    }
    EXPECT_TRUE(Contains(run.out, "0 success, 1 usage error, 2 failure")) << run.out;
  }
}

// The words that select a command: its synopsis up to the first operand
// (upper case, or a choice of keywords).
std::vector<std::string> CommandWordsOf(const std::string& synopsis) {
  std::vector<std::string> words;
  std::istringstream stream(synopsis);
  for (std::string word; stream >> word;) {
    if (word.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ|") != std::string::npos) break;
    words.push_back(word);
  }
  return words;
}

TEST_F(ZelkctlTest, EveryCommandHasItsOwnHelp) {
  for (const char* synopsis : kCommandSynopses) {
    const std::vector<std::string> words = CommandWordsOf(synopsis);
    std::vector<std::string> asked = words;
    asked.push_back("--help");
    std::vector<std::string> through_help = {"help"};
    through_help.insert(through_help.end(), words.begin(), words.end());
    for (const auto& arguments : {asked, through_help}) {
      const ToolRun run = RunTool(arguments);
      EXPECT_EQ(0u, run.exit_code) << Describe(arguments, run);
      EXPECT_EQ(0u, run.out.find(std::string("usage: zelkctl ") + synopsis + "\n"))
          << Describe(arguments, run);
      EXPECT_GT(Lines(run.out).size(), 2u) << "help says more than its usage line: " << run.out;
    }
  }
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"log", "--help"}, std::vector<std::string>{"help", "log"}}) {
    const ToolRun group = RunTool(arguments);
    EXPECT_EQ(0u, group.exit_code) << Describe(arguments, group);
    for (const char* synopsis : {"log show", "log export FILE", "log clear"}) {
      EXPECT_TRUE(Contains(group.out, synopsis)) << Describe(arguments, group);
    }
    EXPECT_FALSE(Contains(group.out, "count add")) << group.out;
  }
}

// --- Settings and the counter ----------------------------------------------------------

TEST_F(ZelkctlTest, EveryFlagIsSetAndShownInAnyLetterCase) {
  for (const Flag& flag : kFlags) {
    std::string lower = flag.name;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    for (bool on : {!FlagValue(flag), FlagValue(flag)}) {  // a change, then back
      const std::vector<std::string> set = {"set", lower, on ? "on" : "off"};
      const ToolRun run = RunTool(set);
      ASSERT_EQ(0u, run.exit_code) << Describe(set, run);
      EXPECT_EQ(on, FlagValue(flag)) << flag.name;
      EXPECT_EQ((on ? "on" : "off"), NameValueLines(run.out)[flag.name]) << run.out;
      const ToolRun get = RunTool({"get", flag.name});
      EXPECT_EQ(0u, get.exit_code);
      EXPECT_EQ(std::string(on ? "on" : "off") + "\n", get.out) << flag.name;
    }
  }
}

TEST_F(ZelkctlTest, FlagValuesAreReadInEverySpelling) {
  const struct {
    const char* spelling;
    bool on;
  } cases[] = {{"on", true},     {"off", false}, {"ON", true},     {"Off", false}, {"true", true},
               {"false", false}, {"TRUE", true}, {"False", false}, {"1", true},    {"0", false}};
  const Flag& flag = FlagNamed("CheckSoftPopup");
  for (const auto& test : cases) {
    SetFlag(flag, !test.on);
    const ToolRun run = RunTool({"set", "CheckSoftPopup", test.spelling});
    EXPECT_EQ(0u, run.exit_code) << test.spelling << "\n" << run.err;
    EXPECT_EQ(test.on, FlagValue(flag)) << test.spelling;
  }
}

TEST_F(ZelkctlTest, SoundFileTakesAPathAndAnEmptyOneClearsIt) {
  const std::string path = "C:\\Sounds\\pop up \"blocked\".wav";
  ToolRun run = RunTool({"set", "SoundFile", path});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(Wide(path), SoundFile());
  run = RunTool({"get", "soundfile"});
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_EQ(path + "\n", run.out);

  run = RunTool({"set", "SoundFile", ""});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(L"", SoundFile());
  run = RunTool({"get", "SoundFile"});
  EXPECT_EQ("\n", run.out);
}

TEST_F(ZelkctlTest, CountAddRaisesAndLowersTheCounter) {
  const long before = TotalPopups();
  ToolRun run = RunTool({"get", "TotalPopups"});
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_EQ(std::to_string(before) + "\n", run.out);

  run = RunTool({"count", "add", "5"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(before + 5, TotalPopups());
  EXPECT_EQ(std::to_string(before + 5), NameValueLines(run.out)["TotalPopups"]);

  run = RunTool({"count", "add", "-5"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(before, TotalPopups());
  run = RunTool({"count", "add", "+0"});
  EXPECT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(before, TotalPopups());
}

TEST_F(ZelkctlTest, StatusShowsEverySettingTheCounterAndBothSizes) {
  SetFlag(FlagNamed("AutoShow"), false);
  SetFlag(FlagNamed("CheckSoftPopup"), true);
  ASSERT_EQ(S_OK, helper_->put_SoundFile(Bstr(L"C:\\status.wav").get()));
  WillProtect("http://status.zelkctl-s.test/");
  ASSERT_EQ(S_OK, helper_->ProtectSite(Bstr(L"http://status.zelkctl-s.test/").get()));
  // Four entries: the limit row between the third and the fourth is no entry,
  // and the fourth follows it on the same line, as after a registration.
  WriteLogFile(
      EntryRow(LinkCell("http://p.test/", "http://p.test/"),
               LinkCell("http://s.test/", "http://s.test/"), "2004-03-07 09:05") +
      "\r\n" +
      EntryRow(kPlaceholderCell, LinkCell("http://s.test/", "http://s.test/"), "2004-03-07 09:06") +
      "\r\n" + EntryRow(kPlaceholderCell, kPlaceholderCell, "2004-03-07 09:07") + "\r\n" +
      kLimitRow + EntryRow(kPlaceholderCell, kPlaceholderCell, "2004-03-08 10:00") + "\r\n");

  const ToolRun run = RunTool({"status"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  auto values = NameValueLines(run.out);
  for (const Flag& flag : kFlags) {
    EXPECT_EQ(FlagValue(flag) ? "on" : "off", values[flag.name]) << flag.name << "\n" << run.out;
  }
  EXPECT_EQ("off", values["AutoShow"]);
  EXPECT_EQ("on", values["CheckSoftPopup"]);
  EXPECT_EQ("C:\\status.wav", values["SoundFile"]);
  EXPECT_EQ(std::to_string(TotalPopups()), values["TotalPopups"]);
  EXPECT_EQ(std::to_string(SafeList().size()), values["SafeList entries"]);
  EXPECT_EQ("4", values["Log entries"]) << run.out;
}

// --- The safe list ---------------------------------------------------------------------

TEST_F(ZelkctlTest, CheckGivesEveryProtectionCodeWithItsMeaning) {
  SetFlag(FlagNamed("ProtectLocal"), true);
  SetFlag(FlagNamed("ProtectHttps"), true);
  const struct {
    const char* kind;
    const char* url;
  } entries[] = {{"page", "http://page.zelkctl-a.test/p"},
                 {"site", "http://site.zelkctl-b.test/"},
                 {"domain", "http://www.zelkctl-c.test/"}};
  for (const auto& entry : entries) {
    WillProtect(entry.url);
    const ToolRun run = RunTool({"protect", entry.kind, entry.url});
    ASSERT_EQ(0u, run.exit_code) << run.err;
  }
  const struct {
    const char* url;
    const char* answer;
  } cases[] = {
      {"http://page.zelkctl-a.test/p?q=1", "1 protected by a page entry"},
      {"http://site.zelkctl-b.test/any/page", "2 protected by a site entry"},
      {"http://other.zelkctl-c.test/x", "4 protected by a domain entry"},
      {"http://intranet/", "8 local page (ProtectLocal is on)"},
      {"https://nothing.zelkctl-d.test/", "16 secure page (ProtectHttps is on)"},
      {"http://nothing.zelkctl-d.test/", "0 not protected"},
      {"http://page.zelkctl-a.test/other", "0 not protected"},
  };
  for (const auto& test : cases) {
    const ToolRun run = RunTool({"check", test.url});
    EXPECT_EQ(0u, run.exit_code) << Describe({"check", test.url}, run);
    EXPECT_EQ(std::string(test.answer) + "\n", run.out) << test.url;
    EXPECT_EQ(std::to_string(ProtectionCode(test.url)) + " ",
              run.out.substr(0, run.out.find(' ') + 1))
        << "the server's own answer for " << test.url;
  }
}

TEST_F(ZelkctlTest, ProtectListAndUnprotectRoundTrip) {
  WillProtect("http://zelkctl-e.test/x");
  // No scheme: the server stores it with http:// in front.
  ToolRun run = RunTool({"protect", "PAGE", "zelkctl-e.test/x"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  const auto keys = SafeList();
  ASSERT_NE(keys.end(), std::find(keys.begin(), keys.end(), L"http://zelkctl-e.test/x"));

  run = RunTool({"list"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  const auto lines = Lines(run.out);
  EXPECT_EQ(keys.size(), lines.size()) << run.out;
  EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), "http://zelkctl-e.test/x"))
      << run.out;
  EXPECT_EQ(1, ProtectionCode("http://zelkctl-e.test/x"));

  run = RunTool({"unprotect", "http://zelkctl-e.test/x"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(0, ProtectionCode("http://zelkctl-e.test/x"));
  run = RunTool({"list"});
  EXPECT_FALSE(Contains(run.out, "zelkctl-e.test")) << run.out;
}

TEST_F(ZelkctlTest, AUrlThatDoesNotDecomposeFailsWithTheServerStatusAndItsText) {
  const std::string long_url = "http://a.zelkctl.test/" + std::string(30000, 'x');
  const std::vector<std::vector<std::string>> cases = {
      {"check", "zelkctl.test"},
      {"check", ""},
      {"check", long_url},
      {"unprotect", "zelkctl.test/x"},
      {"protect", "page", "u@v@zelkctl.test"},
      {"protect", "domain", long_url},
  };
  const size_t list_size = SafeList().size();
  const std::string message = SystemText(ERROR_INVALID_PARAMETER);
  for (const auto& arguments : cases) {
    const ToolRun run = RunTool(arguments);
    EXPECT_EQ(2u, run.exit_code) << Describe(arguments, run);
    EXPECT_TRUE(Contains(run.err, "0x80070057")) << Describe(arguments, run);
    if (!message.empty()) {
      EXPECT_TRUE(Contains(run.err, message)) << message << "\n" << Describe(arguments, run);
    }
    EXPECT_EQ("", run.out) << Describe(arguments, run);
  }
  EXPECT_EQ(list_size, SafeList().size());
}

// --- The log ---------------------------------------------------------------------------

// The column at which the source URL starts on a line of the log table.
size_t SourceColumn(const std::string& line, const std::string& source) {
  return line.find("  " + source) + 2;
}

TEST_F(ZelkctlTest, LogShowPrintsEachEntryOnOneLineWithItsUrlsUnescaped) {
  StartEmptyLog();
  const struct {
    const wchar_t* pop_up;
    const wchar_t* source;
    const char* pop_up_shown;
    const char* source_shown;
  } cases[] = {
      {L"http://a.zelkctl.test/?q=<b>&x='1'\"2\"", L"http://src.zelkctl.test/",
       "http://a.zelkctl.test/?q=<b>&x='1'\"2\"", "http://src.zelkctl.test/"},
      {L"javascript:alert(1)", L"http://src.zelkctl.test/&amp;", "-",
       "http://src.zelkctl.test/&amp;"},
      {L"http://a.zelkctl.test/tab\there", L"http://src.zelkctl.test/line\nbreak",
       "http://a.zelkctl.test/tab\\x09here", "http://src.zelkctl.test/line\\x0Abreak"},
      {L"http://a.zelkctl.test/", L"no source", "-", "-"},
  };
  for (const auto& test : cases) LogThroughServer(test.pop_up, test.source);

  const ToolRun run = RunTool({"log", "show"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(std::size(cases) + 1, lines.size()) << run.out;
  const size_t column = SourceColumn(lines[0], "Source URL");
  EXPECT_EQ(0u, lines[0].find("Pop-up URL  ")) << lines[0];
  for (size_t index = 0; index < std::size(cases); ++index) {
    const std::string& line = lines[index + 1];
    EXPECT_EQ(0u, line.find(std::string(cases[index].pop_up_shown) + "  ")) << line;
    EXPECT_EQ(column, SourceColumn(line, cases[index].source_shown)) << run.out;
  }
}

TEST_F(ZelkctlTest, LogShowReadsRowsAnOlderServerWroteAndTheLimitRow) {
  // Unescaped URLs, as a server that escaped nothing wrote them, beside the
  // references of an escaping one.
  WriteLogFile(
      EntryRow(LinkCell("http://old.zelkctl.test/it's&x=1", "http://old.zelkctl.test/it's&x=1"),
               LinkCell("http://s.zelkctl.test/?a=&#60;&amp;&#x3E;", "short"), "2004-03-07 09:05") +
      "\r\n" + kLimitRow +
      EntryRow(kPlaceholderCell, LinkCell("http://s.zelkctl.test/b", "b"), "2004-03-08 10:00") +
      "\r\n" + "<TR><TD>not a row this tool knows</TD></TR>\r\n");
  const ToolRun run = RunTool({"log", "show"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(5u, lines.size()) << run.out;
  EXPECT_EQ(0u, lines[1].find("http://old.zelkctl.test/it's&x=1  ")) << run.out;
  EXPECT_TRUE(Contains(lines[1], "  http://s.zelkctl.test/?a=<&>  2004-03-07 09:05")) << run.out;
  EXPECT_EQ(0u, lines[2].find("-  ")) << run.out;
  EXPECT_TRUE(Contains(lines[2], "  http://s.zelkctl.test/b  ")) << run.out;
  EXPECT_EQ("Log count limit reached. Please clear the log.", lines[3]);
  EXPECT_EQ("unreadable row: not a row this tool knows", lines[4]);

  const ToolRun status = RunTool({"status"});
  EXPECT_EQ("3", NameValueLines(status.out)["Log entries"]) << status.out;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), ::tolower);
  return text;
}

TEST_F(ZelkctlTest, LogExportWritesAStandalonePageWithOneRowPerEntry) {
  WriteLogFile(
      EntryRow(LinkCell("javascript:alert(1)", "<script>alert(2)</script>"),
               LinkCell("http://s.zelkctl.test/' onmouseover='alert(3)", "x"), "2004-03-07 09:05") +
      "\r\n" +
      EntryRow(kPlaceholderCell, LinkCell("http://s.zelkctl.test/", "s"), "2004-03-07 09:06") +
      "\r\n" + kLimitRow);
  // Logged through the server too, with a character outside ASCII when the
  // code page of the server's log can hold it.
  SetFlag(FlagNamed("LogPopup"), true);
  WriteSettingDwordForTest("LogCount", 0);
  const std::wstring accented = L"http://caf\u00e9.zelkctl.test/";
  char narrow[64] = {};
  BOOL lossy = FALSE;
  const bool code_page_holds_it = WideCharToMultiByte(CP_ACP, 0, accented.c_str(), -1, narrow,
                                                      sizeof(narrow), nullptr, &lossy) > 0 &&
                                  !lossy;
  LogThroughServer(accented, L"http://s.zelkctl.test/");

  const std::string page_path = TestFolder() + "zelkctl_export_test.html";
  DeleteFileA(page_path.c_str());
  const ToolRun run = RunTool({"log", "export", page_path});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ("3 log entries written to " + page_path + "\n", run.out);
  const std::string page = ReadFileBytes(page_path);
  DeleteFileA(page_path.c_str());

  EXPECT_EQ(0u, page.find("<!DOCTYPE html>\n<html")) << page;
  EXPECT_TRUE(Contains(page, "<meta charset=\"utf-8\">"));
  EXPECT_TRUE(Contains(page, "<title>"));
  EXPECT_EQ(page.size() - 8, page.rfind("</html>\n"));
  EXPECT_EQ(1u, Occurrences(page, "<thead>"));
  EXPECT_EQ(3u, Occurrences(page, "<th "));
  // Three entry rows of three cells and the limit message, below the header.
  const std::string body = page.substr(page.find("<tbody>"));
  EXPECT_EQ(4u, Occurrences(body, "<tr>")) << body;
  EXPECT_EQ(1u, Occurrences(body, "colspan=\"3\">Log count limit reached.")) << body;

  const std::string lower = Lower(page);
  EXPECT_FALSE(Contains(lower, "<script")) << page;
  EXPECT_FALSE(Contains(lower, "href=\"javascript")) << page;
  EXPECT_FALSE(Contains(lower, "' onmouseover='")) << page;
  EXPECT_TRUE(Contains(page, "&lt;script&gt;alert(2)&lt;/script&gt;")) << page;
  EXPECT_TRUE(Contains(page, "href=\"http://s.zelkctl.test/&#39; onmouseover=&#39;alert(3)\""))
      << page;
  if (code_page_holds_it) {
    EXPECT_TRUE(Contains(page, "href=\"http://caf\xC3\xA9.zelkctl.test/\"")) << page;
  }
}

TEST_F(ZelkctlTest, LogExportIntoAMissingFolderFailsWithTheSystemStatus) {
  const std::vector<std::string> arguments = {"log", "export",
                                              TestFolder() + "no such folder\\page.html"};
  const ToolRun run = RunTool(arguments);
  EXPECT_EQ(2u, run.exit_code) << Describe(arguments, run);
  EXPECT_TRUE(Contains(run.err, "0x80070003")) << run.err;
  const std::string message = SystemText(ERROR_PATH_NOT_FOUND);
  if (!message.empty()) {
    EXPECT_TRUE(Contains(run.err, message)) << run.err;
  }
}

TEST_F(ZelkctlTest, LogAddRecordsAndLogClearEmptiesTheLog) {
  StartEmptyLog();
  ToolRun run = RunTool({"log", "add", "http://pop.zelkctl.test/", "http://src.zelkctl.test/"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(1u, ReadSettingDword("LogCount"));
  run = RunTool({"log", "show"});
  EXPECT_TRUE(Contains(run.out, "http://pop.zelkctl.test/  http://src.zelkctl.test/  ")) << run.out;

  run = RunTool({"log", "clear"});
  ASSERT_EQ(0u, run.exit_code) << run.err;
  EXPECT_EQ(0u, ReadSettingDword("LogCount"));
  run = RunTool({"status"});
  EXPECT_EQ("0", NameValueLines(run.out)["Log entries"]) << run.out;
  run = RunTool({"log", "show"});
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_FALSE(Contains(run.out, "Pop-up URL")) << run.out;
}

}  // namespace
}  // namespace zelk
