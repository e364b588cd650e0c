// Eight client processes (this executable, relaunched with --stress-client=N) make
// 10,000 mixed calls each against one server, checking every answer against their own
// model. Afterwards nothing may be lost: every increment counted, list and registry
// naming exactly the pages the clients left, one log row per logged call.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"
#include "tests/hardening_e2e.h"

namespace zelk {
namespace {

using namespace zelk::testing;

constexpr int kClients = 8;
using GetFlag = HRESULT(STDMETHODCALLTYPE IZelkHelper::*)(VARIANT_BOOL*);
using PutFlag = HRESULT(STDMETHODCALLTYPE IZelkHelper::*)(VARIANT_BOOL);
const std::pair<GetFlag, PutFlag> kFlags[] = {
    {&IZelkHelper::get_AutoShow, &IZelkHelper::put_AutoShow},
    {&IZelkHelper::get_PlaySound, &IZelkHelper::put_PlaySound},
    {&IZelkHelper::get_CheckSoftPopup, &IZelkHelper::put_CheckSoftPopup}};

// What the calls of the clients leave behind.
struct Outcome {
  long increments = 0, logs = 0;
  std::set<std::wstring> pages;
};

// The calls of one client, the same on every run. Without a helper, only adds
// what they leave behind to `outcome`; with one, also makes them and returns
// the number of failed calls and wrong answers.
int Play(int client, IZelkHelper* helper, Outcome* outcome) {
  uint32_t state = static_cast<uint32_t>(client);
  auto random = [&state](uint32_t bound) {
    return ((state = state * 1664525u + 1013904223u) >> 8) % bound;
  };
  std::map<long, long> options;  // left and not yet taken, by window
  long value = 0, last_total = 0;
  int call = 0, problems = 0;
  HRESULT status = S_OK;
  auto expect = [&](bool right, const char* what) {
    if (!right && ++problems <= 10) std::fprintf(stderr, "client %d, %d: %s\n", client, call, what);
  };
  for (; call < 10000; ++call) {
    const std::wstring page =
        L"http://stress-" + std::to_wstring(client) + L".test/" + std::to_wstring(random(32));
    UniqueBstr url = Bstr(page.c_str());
    const long window = (client + 1) * 1000 + static_cast<long>(random(64));
    const uint32_t pick = random(1000000000);
    VARIANT_BOOL flag = 0x5555;
    UniqueBstr sound;
    // Every 50th call logs: 1,600 rows in all, below the log's limit of 2,000.
    const uint32_t kind = call % 50 == 49 ? 8 : random(8);
    if (kind == 2) ++outcome->increments;
    if (kind == 3) outcome->pages.insert(page);
    if (kind == 4) outcome->pages.erase(page);
    if (kind == 8) ++outcome->logs;
    if (helper == nullptr) continue;
    switch (kind) {
      case 0:  // reads
        status = (helper->*kFlags[pick % 3].first)(&flag);
        expect(flag == VARIANT_TRUE || flag == VARIANT_FALSE, "a flag neither true nor false");
        if (SUCCEEDED(status)) status = helper->get_TotalPopups(&value);
        expect(value >= last_total, "TotalPopups went back");
        last_total = value;
        if (SUCCEEDED(status)) status = helper->get_SoundFile(sound.put());
        expect(ToWide(sound.get()).rfind(L"C:\\stress\\", 0) == 0, "a SoundFile no client put");
        break;
      case 1:  // writes
        status = (helper->*kFlags[pick % 3].second)(pick & 8 ? VARIANT_TRUE : VARIANT_FALSE);
        sound = Bstr((L"C:\\stress\\" + std::to_wstring(pick % 1000) + L".wav").c_str());
        if (SUCCEEDED(status)) status = helper->put_SoundFile(sound.get());
        break;
      case 2: status = helper->IncrementTotalPopups(1); break;
      case 3: status = helper->ProtectPage(url.get()); break;
      case 4: status = helper->UnprotectUrl(url.get()); break;
      case 5:
        status = helper->IsUrlProtected(url.get(), &value);
        expect(value == static_cast<long>(outcome->pages.count(page)), "IsUrlProtected is wrong");
        break;
      case 6:
        options[window] = 2 + static_cast<long>(pick);  // never the fallback, 0 or 1
        status = helper->SetStartupOption(window, options[window]);
        break;
      case 7:
        status = helper->GetStartupOption(window, &value);
        expect(options.count(window) ? value == options[window] : value == 0 || value == 1,
               "GetStartupOption did not give back what this client left");
        options.erase(window);
        break;
      default: status = helper->LogPopUrl(Bstr(L"http://popup.test/").get(), url.get());
    }
    expect(status == S_OK, "a call failed");
  }
  for (const auto& left : options) {
    status = helper->GetStartupOption(left.first, &value);
    expect(status == S_OK && value == left.second, "a startup option was lost");
  }
  return problems;
}

TEST(StressTest, EightClientsOfTenThousandCallsLoseNothing) {
  ScopedComInitializer com;
  ServerStateSnapshot snapshot;
  ComPtr<IZelkHelper> helper;  // keeps the server up while the clients come and go
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  ASSERT_EQ(S_OK, helper->put_SoundFile(Bstr(L"C:\\stress\\start.wav").get()));
  const long start_total = static_cast<long>(ReadSettingDword("TotalPopups"));
  const DWORD server_id = ServerProcessId();
  const std::string self = "\"" + TestFolder() + "e2e_stress_test.exe\"";
  UniqueHandle clients[kClients];
  HANDLE waits[kClients];
  for (int client = 0; client < kClients; ++client) {
    clients[client] = StartProcess(self + " --stress-client=" + std::to_string(client));
    ASSERT_TRUE(clients[client]);
    waits[client] = clients[client].get();
  }
  ASSERT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(kClients, waits, TRUE, 240000));
  Outcome expected;
  for (int client = 0; client < kClients; ++client) {
    DWORD problems = 1;
    GetExitCodeProcess(clients[client].get(), &problems);
    EXPECT_EQ(0u, problems) << "client " << client << ": failed calls or wrong answers";
    Play(client, nullptr, &expected);
  }

  long total = 0;
  ASSERT_EQ(S_OK, helper->get_TotalPopups(&total)) << "the server stopped answering";
  EXPECT_EQ(server_id, ServerProcessId());
  EXPECT_EQ(start_total + expected.increments, total);
  EXPECT_EQ(static_cast<DWORD>(total), ReadSettingDword("TotalPopups"));
  std::vector<std::wstring> listed;
  ASSERT_EQ(S_OK, SafeListProperty(helper.get(), &listed));
  EXPECT_EQ(std::vector<std::wstring>(expected.pages.begin(), expected.pages.end()), listed);
  EXPECT_EQ(listed, SafeListSubkeyNames());
  for (const std::wstring& key : listed) EXPECT_EQ(1u, StoredEntryType(key)) << key;
  EXPECT_EQ(static_cast<DWORD>(expected.logs), ReadSettingDword("LogCount"));
  EXPECT_EQ(static_cast<size_t>(expected.logs), LogRows(snapshot.log_path()));
}

}  // namespace
}  // namespace zelk

int main(int argc, char** argv) {
  if (argc == 2 && std::strncmp(argv[1], "--stress-client=", 16) == 0) {
    zelk::testing::ScopedComInitializer com;
    zelk::ComPtr<IZelkHelper> helper;
    zelk::Outcome unused;
    const HRESULT created = zelk::testing::CreateServerObject(&helper);
    return FAILED(created) ? 100 : zelk::Play(std::atoi(argv[1] + 16), helper.get(), &unused);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
