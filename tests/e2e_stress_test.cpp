// Many clients at once against one registered server: eight client processes
// (this executable, relaunched with --stress-client=N) each make 10,000 mixed
// calls: settings gets and puts, IncrementTotalPopups(1), protect and
// unprotect of their own pages, IsUrlProtected, LogPopUrl with logging on,
// and startup options on their own window numbers. Each client checks every
// answer against its own model of what it did; afterwards the test checks
// that nothing was lost: the counter holds every increment, the list and the
// registry name the same entries (exactly those the clients left), the log
// holds one row per logged call and the count says so, the cache and the
// registry agree, and no startup option was lost or left behind.
#include <windows.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"
#include "tests/hardening_e2e.h"

namespace zelk {
namespace stress {

using namespace zelk::testing;

constexpr int kClientCount = 8;
constexpr int kCallsPerClient = 10000;
// Every 50th call logs: 200 rows per client, 1,600 in all, below the log's
// count limit of 2,000.
constexpr int kLogEvery = 50;
constexpr int kPagesPerClient = 32;
constexpr int kWindowsPerClient = 64;
constexpr DWORD kClientsLimitMs = 240000;
constexpr wchar_t kSoundFolder[] = L"C:\\stress\\";

std::wstring PageUrl(int client, int page) {
  return L"http://stress-" + std::to_wstring(client) + L".test/page-" + std::to_wstring(page);
}

long WindowNumber(int client, int window) { return (client + 1) * 1000 + window; }

// --- The client process ----------------------------------------------------------

// A small deterministic generator, so that a failing run can be repeated.
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 1u) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t Below(uint32_t bound) { return Next() % bound; }

 private:
  uint32_t state_;
};

class StressClient {
 public:
  StressClient(int number, IZelkHelper* helper)
      : number_(number), helper_(helper), random_(static_cast<uint32_t>(number) + 1) {}

  void Run() {
    for (int call = 0; call < kCallsPerClient; ++call) {
      if (call % kLogEvery == kLogEvery - 1) {
        LogOne(call);
      } else {
        MixedCall();
      }
    }
    TakeEveryWaitingOption();
  }

  bool WriteReport(const std::string& path) const;

 private:
  void Problem(const std::string& what) {
    if (problems_.size() < 20) problems_.push_back(what);
    ++problem_count_;
  }
  void Expect(HRESULT status, const char* member) {
    ++calls_;
    if (status != S_OK) {
      char text[16];
      std::snprintf(text, sizeof(text), "0x%08lx", static_cast<unsigned long>(status));
      Problem(std::string(member) + " returned " + text);
    }
  }

  void MixedCall() {
    const uint32_t kind = random_.Below(100);
    if (kind < 12) return GetSetting();
    if (kind < 20) return PutSetting();
    if (kind < 32) return Increment();
    if (kind < 47) return ProtectPage();
    if (kind < 57) return UnprotectPage();
    if (kind < 72) return AskAboutPage();
    if (kind < 86) return LeaveOption();
    return TakeOption();
  }

  void CheckBool(VARIANT_BOOL value, const char* member) {
    if (value != VARIANT_TRUE && value != VARIANT_FALSE) {
      Problem(std::string(member) + " gave " + std::to_string(value));
    }
  }

  void GetSetting();
  void PutSetting();
  void Increment();
  void ProtectPage();
  void UnprotectPage();
  void AskAboutPage();
  void LeaveOption();
  void TakeOption();
  void TakeEveryWaitingOption();
  void LogOne(int call);

  const int number_;
  IZelkHelper* const helper_;
  Random random_;
  long calls_ = 0;
  long increments_ = 0;
  long logs_ = 0;
  long options_taken_ = 0;
  long last_total_ = LONG_MIN;
  std::set<int> protected_pages_;
  std::map<long, long> waiting_options_;
  std::vector<std::string> problems_;
  long problem_count_ = 0;
};

void StressClient::GetSetting() {
  VARIANT_BOOL flag = 0x5555;
  switch (random_.Below(9)) {
    case 0:
      Expect(helper_->get_AutoShow(&flag), "get_AutoShow");
      break;
    case 1:
      Expect(helper_->get_PlaySound(&flag), "get_PlaySound");
      break;
    case 2:
      Expect(helper_->get_ProtectLocal(&flag), "get_ProtectLocal");
      break;
    case 3:
      Expect(helper_->get_ProtectHttps(&flag), "get_ProtectHttps");
      break;
    case 4:
      Expect(helper_->get_CheckSoftPopup(&flag), "get_CheckSoftPopup");
      break;
    case 5:
      Expect(helper_->get_LogPopup(&flag), "get_LogPopup");
      if (flag != VARIANT_TRUE) Problem("logging was switched off");
      return;
    case 6: {
      long total = 0;
      Expect(helper_->get_TotalPopups(&total), "get_TotalPopups");
      // Every client only ever adds 1, so the counter never goes back.
      if (total < last_total_) Problem("TotalPopups went back from " + std::to_string(last_total_));
      last_total_ = total;
      return;
    }
    default: {
      UniqueBstr sound;
      Expect(helper_->get_SoundFile(sound.put()), "get_SoundFile");
      if (ToWide(sound.get()).compare(0, wcslen(kSoundFolder), kSoundFolder) != 0) {
        Problem("SoundFile is not one that a client put");
      }
      return;
    }
  }
  CheckBool(flag, "a flag get");
}

void StressClient::PutSetting() {
  const VARIANT_BOOL flag = random_.Below(2) ? VARIANT_TRUE : VARIANT_FALSE;
  switch (random_.Below(4)) {
    case 0:
      return Expect(helper_->put_AutoShow(flag), "put_AutoShow");
    case 1:
      return Expect(helper_->put_PlaySound(flag), "put_PlaySound");
    case 2:
      return Expect(helper_->put_CheckSoftPopup(flag), "put_CheckSoftPopup");
    default: {
      const std::wstring sound = std::wstring(kSoundFolder) + L"client-" +
                                 std::to_wstring(number_) + L"-" +
                                 std::to_wstring(random_.Below(1000)) + L".wav";
      return Expect(helper_->put_SoundFile(Bstr(sound.c_str()).get()), "put_SoundFile");
    }
  }
}

void StressClient::Increment() {
  const HRESULT status = helper_->IncrementTotalPopups(1);
  Expect(status, "IncrementTotalPopups");
  if (status == S_OK) ++increments_;
}

void StressClient::ProtectPage() {
  const int page = static_cast<int>(random_.Below(kPagesPerClient));
  const HRESULT status = helper_->ProtectPage(Bstr(PageUrl(number_, page).c_str()).get());
  Expect(status, "ProtectPage");
  if (status == S_OK) protected_pages_.insert(page);
}

void StressClient::UnprotectPage() {
  const int page = static_cast<int>(random_.Below(kPagesPerClient));
  const HRESULT status = helper_->UnprotectUrl(Bstr(PageUrl(number_, page).c_str()).get());
  Expect(status, "UnprotectUrl");
  if (status == S_OK) protected_pages_.erase(page);
}

void StressClient::AskAboutPage() {
  const int page = static_cast<int>(random_.Below(kPagesPerClient));
  long code = -1;
  Expect(helper_->IsUrlProtected(Bstr(PageUrl(number_, page).c_str()).get(), &code),
         "IsUrlProtected");
  const long expected = protected_pages_.count(page) ? 1 : 0;
  if (code != expected) {
    Problem("IsUrlProtected of page " + std::to_string(page) + " gave " + std::to_string(code));
  }
}

void StressClient::LeaveOption() {
  const long window = WindowNumber(number_, static_cast<int>(random_.Below(kWindowsPerClient)));
  // Options from 2 up cannot be mistaken for the fallback of 0 or 1.
  const long option = 2 + static_cast<long>(random_.Below(1000000000));
  const HRESULT status = helper_->SetStartupOption(window, option);
  Expect(status, "SetStartupOption");
  if (status == S_OK) waiting_options_[window] = option;
}

void StressClient::TakeOption() {
  const long window = WindowNumber(number_, static_cast<int>(random_.Below(kWindowsPerClient)));
  long option = -1;
  Expect(helper_->GetStartupOption(window, &option), "GetStartupOption");
  auto waiting = waiting_options_.find(window);
  if (waiting == waiting_options_.end()) {
    if (option != 0 && option != 1) Problem("an option appeared for a window that had none");
    return;
  }
  if (option != waiting->second) Problem("window " + std::to_string(window) + " lost its option");
  waiting_options_.erase(waiting);
  ++options_taken_;
}

void StressClient::TakeEveryWaitingOption() {
  for (const auto& waiting : waiting_options_) {
    long option = -1;
    Expect(helper_->GetStartupOption(waiting.first, &option), "GetStartupOption");
    if (option != waiting.second) {
      Problem("window " + std::to_string(waiting.first) + " lost its option at the end");
    }
    ++options_taken_;
  }
  waiting_options_.clear();
}

void StressClient::LogOne(int call) {
  const std::wstring popup =
      L"http://popup-" + std::to_wstring(number_) + L".test/" + std::to_wstring(call);
  const HRESULT status =
      helper_->LogPopUrl(Bstr(popup.c_str()).get(), Bstr(PageUrl(number_, 0).c_str()).get());
  Expect(status, "LogPopUrl");
  if (status == S_OK) ++logs_;
}

// One "name value" pair per line, then one line per page left protected and
// per problem seen.
bool StressClient::WriteReport(const std::string& path) const {
  UniqueStdioFile file(std::fopen(path.c_str(), "w"));
  if (!file) return false;
  std::fprintf(file.get(), "calls %ld\nincrements %ld\nlogs %ld\noptions %ld\nproblems %ld\n",
               calls_, increments_, logs_, options_taken_, problem_count_);
  for (int page : protected_pages_) std::fprintf(file.get(), "page %d\n", page);
  for (const std::string& problem : problems_) {
    std::fprintf(file.get(), "problem %s\n", problem.c_str());
  }
  return CloseStdioFile(&file) == 0;
}

int RunClient(int number, const std::string& report_path) {
  ScopedComInitializer com;
  if (FAILED(com.status())) return 2;
  ComPtr<IZelkHelper> helper;
  if (FAILED(CreateServerObject(&helper))) return 3;
  StressClient client(number, helper.get());
  client.Run();
  helper.reset();
  return client.WriteReport(report_path) ? 0 : 4;
}

// --- The test ---------------------------------------------------------------------

struct ClientReport {
  long calls = 0;
  long increments = 0;
  long logs = 0;
  long options = 0;
  long problems = -1;
  std::vector<int> pages;
  std::string problem_text;
};

bool ReadReport(const std::string& path, ClientReport* report) {
  UniqueStdioFile file(std::fopen(path.c_str(), "r"));
  if (!file) return false;
  char line[1024];
  while (std::fgets(line, sizeof(line), file.get()) != nullptr) {
    long value = 0;
    if (std::sscanf(line, "calls %ld", &value) == 1) report->calls = value;
    if (std::sscanf(line, "increments %ld", &value) == 1) report->increments = value;
    if (std::sscanf(line, "logs %ld", &value) == 1) report->logs = value;
    if (std::sscanf(line, "options %ld", &value) == 1) report->options = value;
    if (std::sscanf(line, "problems %ld", &value) == 1) report->problems = value;
    if (std::sscanf(line, "page %ld", &value) == 1) {
      report->pages.push_back(static_cast<int>(value));
    }
    if (std::strncmp(line, "problem ", 8) == 0) report->problem_text += line + 8;
  }
  return true;
}

std::string ReportPath(int client) {
  char folder[MAX_PATH];
  const DWORD length = GetTempPathA(MAX_PATH, folder);
  return std::string(folder, length) + "zelk_stress_" + std::to_string(GetCurrentProcessId()) +
         "_" + std::to_string(client) + ".txt";
}

UniqueHandle LaunchClient(int client) {
  char executable[MAX_PATH];
  GetModuleFileNameA(nullptr, executable, MAX_PATH);
  std::string command = std::string("\"") + executable +
                        "\" --stress-client=" + std::to_string(client) +
                        " \"--stress-report=" + ReportPath(client) + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    ADD_FAILURE() << "cannot start client " << client << ": " << GetLastError();
    return UniqueHandle();
  }
  UniqueHandle thread(process.hThread);
  return UniqueHandle(process.hProcess);
}

VARIANT_BOOL RegistryFlag(const char* name) {
  return ReadSettingDword(name) != 0 ? VARIANT_TRUE : VARIANT_FALSE;
}

class StressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.status()));
    WaitForNoServer();
    snapshot_ = std::make_unique<ServerStateSnapshot>();
    EmptyListAndLog(snapshot_->log_path());
    // This session keeps the server up while the clients come and go.
    ASSERT_EQ(S_OK, CreateServerObject(&helper_));
    ASSERT_EQ(S_OK, helper_->put_SoundFile(Bstr(L"C:\\stress\\start.wav").get()));
    ASSERT_EQ(S_OK, helper_->get_TotalPopups(&start_total_));
    server_id_ = ServerProcessId();
  }

  void TearDown() override {
    helper_.reset();
    if (snapshot_) snapshot_->Restore();
  }

  ScopedComInitializer com_;
  std::unique_ptr<ServerStateSnapshot> snapshot_;
  ComPtr<IZelkHelper> helper_;
  long start_total_ = 0;
  DWORD server_id_ = 0;
};

TEST_F(StressTest, EightClientsOfTenThousandCallsLoseNothing) {
  const DWORD started = GetTickCount();
  std::vector<UniqueHandle> clients;
  for (int client = 0; client < kClientCount; ++client) clients.push_back(LaunchClient(client));
  ClientReport total;
  std::set<std::wstring> expected_list;
  for (int client = 0; client < kClientCount; ++client) {
    ASSERT_TRUE(clients[client]) << "client " << client;
    const DWORD elapsed = GetTickCount() - started;
    ASSERT_EQ(WAIT_OBJECT_0,
              WaitForSingleObject(clients[client].get(),
                                  elapsed < kClientsLimitMs ? kClientsLimitMs - elapsed : 0))
        << "client " << client << " did not finish";
    DWORD exit_code = 1;
    GetExitCodeProcess(clients[client].get(), &exit_code);
    EXPECT_EQ(0u, exit_code) << "client " << client;
    ClientReport report;
    const std::string path = ReportPath(client);
    ASSERT_TRUE(ReadReport(path, &report)) << "client " << client << " left no report";
    DeleteFileA(path.c_str());
    EXPECT_EQ(0, report.problems) << "client " << client << ":\n" << report.problem_text;
    EXPECT_GE(report.calls, kCallsPerClient) << "client " << client;
    total.calls += report.calls;
    total.increments += report.increments;
    total.logs += report.logs;
    total.options += report.options;
    for (int page : report.pages) expected_list.insert(PageUrl(client, page));
  }
  const DWORD elapsed_ms = GetTickCount() - started;

  // Still answering, and still the same server.
  long total_popups = 0;
  ASSERT_EQ(S_OK, helper_->get_TotalPopups(&total_popups));
  EXPECT_EQ(server_id_, ServerProcessId());

  // Every increment counted, in the cache and in the registry.
  EXPECT_EQ(start_total_ + total.increments, total_popups);
  EXPECT_EQ(static_cast<DWORD>(total_popups), ReadSettingDword("TotalPopups"));

  // The list, the registry and the clients' own records name the same pages.
  std::vector<std::wstring> listed;
  ASSERT_EQ(S_OK, SafeListProperty(helper_.get(), &listed));
  const std::vector<std::wstring> expected(expected_list.begin(), expected_list.end());
  EXPECT_EQ(expected, Sorted(listed));
  EXPECT_EQ(expected, SafeListSubkeyNames());
  for (const std::wstring& key : SafeListSubkeyNames()) EXPECT_EQ(1u, StoredEntryType(key));

  // One row per logged call, and the count says so.
  EXPECT_LT(total.logs, 2000);
  EXPECT_EQ(static_cast<DWORD>(total.logs), ReadSettingDword("LogCount"));
  EXPECT_EQ(static_cast<size_t>(total.logs), CountLogRows(ReadFileBytes(snapshot_->log_path())));

  // What the cache answers is what the registry holds.
  VARIANT_BOOL flag = 0;
  ASSERT_EQ(S_OK, helper_->get_AutoShow(&flag));
  EXPECT_EQ(RegistryFlag("AutoShow"), flag);
  ASSERT_EQ(S_OK, helper_->get_PlaySound(&flag));
  EXPECT_EQ(RegistryFlag("PlaySound"), flag);
  ASSERT_EQ(S_OK, helper_->get_CheckSoftPopup(&flag));
  EXPECT_EQ(RegistryFlag("CheckSoftPopup"), flag);
  UniqueBstr sound;
  ASSERT_EQ(S_OK, helper_->get_SoundFile(sound.put()));
  DWORD type = 0;
  std::string stored_sound;
  ASSERT_TRUE(ReadSetting("SoundFile", &type, &stored_sound));
  const std::wstring cached_sound = ToWide(sound.get());  // ASCII: put by the clients
  EXPECT_EQ(std::string(cached_sound.begin(), cached_sound.end()),
            std::string(stored_sound.c_str()));

  // Every option was taken by the client that left it; none is left behind.
  for (int client = 0; client < kClientCount; ++client) {
    for (int window = 0; window < kWindowsPerClient; ++window) {
      long option = -1;
      ASSERT_EQ(S_OK, helper_->GetStartupOption(WindowNumber(client, window), &option));
      EXPECT_TRUE(option == 0 || option == 1) << "window " << WindowNumber(client, window);
    }
  }

  std::printf(
      "[ figures  ] %d clients, %ld calls in %lu ms: %ld increments, %ld log rows, "
      "%ld startup options, %zu pages left protected; nothing lost\n",
      kClientCount, total.calls, static_cast<unsigned long>(elapsed_ms), total.increments,
      total.logs, total.options, expected.size());
}

}  // namespace stress
}  // namespace zelk

// The test executable doubles as the stress client: with --stress-client=N it
// runs client N and reports to the file named by --stress-report=PATH.
int main(int argc, char** argv) {
  int client = -1;
  std::string report;
  for (int index = 1; index < argc; ++index) {
    if (std::strncmp(argv[index], "--stress-client=", 16) == 0) {
      client = std::atoi(argv[index] + 16);
    }
    if (std::strncmp(argv[index], "--stress-report=", 16) == 0) report = argv[index] + 16;
  }
  if (client >= 0) return zelk::stress::RunClient(client, report);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
