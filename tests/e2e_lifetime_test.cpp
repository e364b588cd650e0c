// The registered server's lifetime, seen from client processes: one shared
// object, and an exit about six seconds (five idle, one pause) after the last
// client leaves, never while another client holds it. Aggregation is refused
// by the class object (server_host_test): across processes COM's proxy
// refuses it before the server hears of it.
#include <windows.h>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"

namespace zelk {
namespace {

using namespace zelk::testing;

// A second client: its own apartment on its own thread, so its reference is
// separate from the first client's proxy.
class SecondClient {
 public:
  SecondClient() {
    ready_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    quit_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_.reset(CreateThread(nullptr, 0, &SecondClient::Run, this, 0, nullptr));
    WaitForSingleObject(ready_.get(), 30000);
  }
  ~SecondClient() { Leave(); }
  HRESULT status() const { return status_; }
  long option() const { return option_; }
  void Leave() {
    if (!thread_) return;
    SetEvent(quit_.get());
    WaitForSingleObject(thread_.get(), 30000);
    thread_.reset();
  }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* client = static_cast<SecondClient*>(self);
    ScopedComInitializer com(COINIT_MULTITHREADED);
    ComPtr<IZelkHelper> helper;
    client->status_ = CreateServerObject(&helper);
    if (SUCCEEDED(client->status_)) client->status_ = helper->GetStartupOption(4711, &client->option_);
    SetEvent(client->ready_.get());
    WaitForSingleObject(client->quit_.get(), INFINITE);
    return 0;
  }

  UniqueHandle ready_, quit_, thread_;
  HRESULT status_ = E_FAIL;
  long option_ = 0;
};

TEST(ServerLifetimeTest, OneSharedObjectThatQuitsSixSecondsAfterItsLastClient) {
  ScopedComInitializer com;
  WaitForNoServer();
  ComPtr<IZelkHelper> helper, again;
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  UniqueHandle server = OpenServerProcess();
  ASSERT_TRUE(server);
  // A client arriving during the idle period postpones the exit past its end.
  helper.reset();
  Sleep(3000);
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 4000)) << "quit with a client";

  // Every creation gets the one object, whose state a client in another apartment sees.
  ASSERT_EQ(S_OK, CreateServerObject(&again));
  ComPtr<IUnknown> first_identity, second_identity;
  ASSERT_EQ(S_OK, helper->QueryInterface(IID_IUnknown, first_identity.put_void()));
  ASSERT_EQ(S_OK, again->QueryInterface(IID_IUnknown, second_identity.put_void()));
  EXPECT_EQ(first_identity.get(), second_identity.get());
  ASSERT_EQ(S_OK, helper->SetStartupOption(4711, 1234));
  SecondClient other;
  ASSERT_EQ(S_OK, other.status());
  EXPECT_EQ(1234, other.option());

  // The first client leaves: the server stays for the second.
  for (ComPtr<IUnknown>* reference : {&first_identity, &second_identity}) reference->reset();
  helper.reset();
  again.reset();
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 8000)) << "quit with a client";
  other.Leave();
  const DWORD released = GetTickCount();
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.get(), 10000));
  const DWORD elapsed_ms = GetTickCount() - released;
  EXPECT_GE(elapsed_ms, 5500u);
  EXPECT_LE(elapsed_ms, 9000u);
  DWORD exit_code = 1;
  GetExitCodeProcess(server.get(), &exit_code);
  EXPECT_EQ(0u, exit_code);
}

}  // namespace
}  // namespace zelk
