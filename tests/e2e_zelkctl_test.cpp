// zelkctl against the registered server: each command with its exit code, bad
// input and the exported page. The server writes its settings through to the
// registry, where the test checks them. Each test puts back what it changed.
#include <windows.h>

#include <algorithm>
#include <fstream>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"

namespace zelk {
namespace {

using namespace zelk::testing;

struct ToolRun {
  std::string line, out, err;  // out and err with LF line ends
  DWORD exit_code = 0xdeadbeef;
};

std::ostream& operator<<(std::ostream& stream, const ToolRun& run) {
  return stream << run.line << " -> " << run.exit_code << "\n" << run.out << "---\n" << run.err;
}

std::string FileBytes(const std::string& path, std::ios::openmode mode = std::ios::binary) {
  std::ifstream file(path, mode);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// cmd takes the output to files, read in text mode (CR LF as LF). No argument
// may hold a double quote, a percent sign or a caret, or end with a backslash.
ToolRun RunTool(const std::vector<std::string>& arguments) {
  ToolRun run = {"\"" + TestFolder() + "zelkctl.exe\"", "", ""};
  for (const std::string& argument : arguments) run.line += " \"" + argument + "\"";
  const std::string out = TestFolder() + "zelkctl_out.txt", err = TestFolder() + "zelkctl_err.txt";
  run.exit_code = RunAndWait("cmd /c \"" + run.line + " >\"" + out + "\" 2>\"" + err + "\"\"");
  run.out = FileBytes(out, std::ios::in);
  run.err = FileBytes(err, std::ios::in);
  for (const std::string& path : {out, err}) DeleteFileA(path.c_str());
  return run;
}

std::string Out(const std::vector<std::string>& arguments) {  // of a run that must succeed
  const ToolRun run = RunTool(arguments);
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

class ZelkctlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(S_OK, CreateServerObject(&helper_)); }

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
  EXPECT_EQ(12u, Count(Out({"help"}), "\n  "));  // a line for each command
}

// Any letter case, each spelling of on and off, an empty operand, both signs.
TEST_F(ZelkctlTest, SetGetCountAddAndStatus) {
  const DWORD check_soft_popup = ReadSettingDword("CheckSoftPopup");
  const long total = static_cast<long>(ReadSettingDword("TotalPopups"));
  UniqueBstr sound;
  EXPECT_EQ(S_OK, helper_->get_SoundFile(sound.put()));
  EXPECT_EQ("CheckSoftPopup  on\n", Out({"set", "checksoftpopup", "TRUE"}));
  EXPECT_EQ("CheckSoftPopup  off\n", Out({"set", "CheckSoftPopup", "Off"}));
  EXPECT_EQ("CheckSoftPopup  on\n", Out({"set", "CheckSoftPopup", "1"}));
  EXPECT_EQ(1u, ReadSettingDword("CheckSoftPopup"));
  EXPECT_EQ("on\n", Out({"get", "CHECKSOFTPOPUP"}));
  EXPECT_EQ("SoundFile\n", Out({"set", "SoundFile", ""}));
  EXPECT_EQ("SoundFile  C:\\pop up.wav\n", Out({"set", "SoundFile", "C:\\pop up.wav"}));
  EXPECT_EQ("TotalPopups  " + std::to_string(total + 5) + "\n", Out({"count", "add", "5"}));
  EXPECT_EQ("TotalPopups  " + std::to_string(total + 3) + "\n", Out({"count", "add", "-2"}));
  const std::string status = Out({"status"});
  EXPECT_EQ(std::to_string(total + 3), Field(status, "TotalPopups")) << status;

  EXPECT_EQ(S_OK, helper_->put_CheckSoftPopup(check_soft_popup ? VARIANT_TRUE : VARIANT_FALSE));
  EXPECT_EQ(S_OK, helper_->put_SoundFile(sound.get()));
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(-3));
}

TEST_F(ZelkctlTest, ProtectCheckListAndUnprotect) {
  Out({"protect", "PAGE", "page.zelkctl-a.test/p"});  // no scheme: http:// is assumed
  Out({"protect", "site", "http://site.zelkctl-b.test/"});
  Out({"protect", "domain", "http://www.zelkctl-c.test/"});
  EXPECT_EQ("1 protected by a page entry\n", Out({"check", "http://page.zelkctl-a.test/p?q=1"}));
  EXPECT_EQ("2 protected by a site entry\n", Out({"check", "http://site.zelkctl-b.test/a/b"}));
  EXPECT_EQ("4 protected by a domain entry\n", Out({"check", "http://other.zelkctl-c.test/x"}));
  const std::string list = Out({"list"});
  EXPECT_EQ(1u, Count("\n" + list, "\nhttp://page.zelkctl-a.test/p\n")) << list;
  EXPECT_EQ(std::to_string(Count(list, "\n")), Field(Out({"status"}), "SafeList entries"));
  Out({"unprotect", "http://page.zelkctl-a.test/p"});
  EXPECT_EQ("0 not protected\n", Out({"check", "http://page.zelkctl-a.test/p"}));

  EXPECT_EQ(S_OK, helper_->UnprotectUrl(Bstr(L"http://site.zelkctl-b.test/").get()));
  EXPECT_EQ(S_OK, helper_->UnprotectUrl(Bstr(L"http://www.zelkctl-c.test/").get()));
}

// Three entries, the last one passing the count limit, shown and exported.
TEST_F(ZelkctlTest, LogAddShowExportAndClear) {
  const DWORD log_popup = ReadSettingDword("LogPopup"), log_count = ReadSettingDword("LogCount");
  DWORD type = 0;
  std::string log_path;
  ASSERT_TRUE(ReadSetting("LogFile", &type, &log_path));
  log_path = log_path.c_str();  // up to the stored NUL
  const bool log_existed = GetFileAttributesA(log_path.c_str()) != INVALID_FILE_ATTRIBUTES;
  const std::string saved_log = FileBytes(log_path);
  EXPECT_EQ(S_OK, helper_->put_LogPopup(VARIANT_TRUE));
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

  const std::string page_path = TestFolder() + "zelkctl_export_test.html";
  EXPECT_EQ("3 log entries written to " + page_path + "\n", Out({"log", "export", page_path}));
  const std::string page = FileBytes(page_path);
  DeleteFileA(page_path.c_str());
  EXPECT_EQ(0u, page.find("<!DOCTYPE html>\n<html")) << page;
  EXPECT_EQ(1u, Count(page, "<meta charset=\"utf-8\">")) << page;
  EXPECT_EQ(page.size() - 8, page.rfind("</html>\n")) << page;
  EXPECT_EQ(5u, Count(page, "<tr>")) << page;
  EXPECT_EQ(0u, Count(page, "<script") + Count(page, "href=\"javascript")) << page;
  BOOL lossy = FALSE;  // the server's log holds the code page's characters only
  WideCharToMultiByte(CP_ACP, 0, L"\u00e9", 1, nullptr, 0, nullptr, &lossy);
  EXPECT_TRUE(lossy || Count(page, "href=\"http://caf\xC3\xA9.zelkctl.test/\"") == 1) << page;

  Out({"log", "clear"});
  EXPECT_EQ("0", Field(Out({"status"}), "Log entries"));

  if (log_existed) std::ofstream(log_path, std::ios::binary) << saved_log;
  WriteSettingDwordForTest("LogCount", log_count);
  EXPECT_EQ(S_OK, helper_->put_LogPopup(log_popup ? VARIANT_TRUE : VARIANT_FALSE));
}

}  // namespace
}  // namespace zelk
