// The registered server's lifetime, seen from client processes: one shared
// object, and an exit about six seconds (five idle, one pause) after the last
// client leaves, never while another client holds it.
#include <windows.h>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"

namespace zelk {
namespace {

using namespace zelk::testing;

class ServerLifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.status()));
    WaitForNoServer();
  }
  ScopedComInitializer com_;
};

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

DWORD SecondsSince(DWORD start_ticks) { return (GetTickCount() - start_ticks) / 1000; }

TEST_F(ServerLifetimeTest, EveryCreationGetsTheOneSharedObject) {
  ComPtr<IZelkHelper> first, second;
  ASSERT_EQ(S_OK, CreateServerObject(&first));
  ASSERT_EQ(S_OK, CreateServerObject(&second));
  ComPtr<IUnknown> first_identity, second_identity;
  ASSERT_EQ(S_OK, first->QueryInterface(IID_IUnknown, first_identity.put_void()));
  ASSERT_EQ(S_OK, second->QueryInterface(IID_IUnknown, second_identity.put_void()));
  EXPECT_EQ(first_identity.get(), second_identity.get());

  // State left by one client is seen by a client in another apartment.
  ASSERT_EQ(S_OK, first->SetStartupOption(4711, 1234));
  SecondClient other;
  ASSERT_EQ(S_OK, other.status());
  EXPECT_EQ(1234, other.option());

  ComPtr<IUnknown> aggregated;
  ComPtr<IUnknown> outer;
  first->QueryInterface(IID_IUnknown, outer.put_void());
  EXPECT_EQ(CLASS_E_NOAGGREGATION, CoCreateInstance(CLSID_ZelkHelper, outer.get(), CLSCTX_LOCAL_SERVER,
                                                    IID_IUnknown, aggregated.put_void()));
}

TEST_F(ServerLifetimeTest, ExitsAboutSixSecondsAfterTheLastRelease) {
  ComPtr<IZelkHelper> helper;
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  long total = 0;
  ASSERT_EQ(S_OK, helper->get_TotalPopups(&total));
  UniqueHandle server = OpenServerProcess();
  ASSERT_TRUE(server);
  helper.reset();
  const DWORD released = GetTickCount();
  ASSERT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 4500)) << "quit before its idle period";
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.get(), 6000));
  const DWORD elapsed_ms = GetTickCount() - released;
  EXPECT_GE(elapsed_ms, 5500u);
  EXPECT_LE(elapsed_ms, 9000u);
  DWORD exit_code = 1;
  GetExitCodeProcess(server.get(), &exit_code);
  EXPECT_EQ(0u, exit_code);
}

TEST_F(ServerLifetimeTest, StaysWhileASecondClientHoldsIt) {
  ComPtr<IZelkHelper> helper;
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  UniqueHandle server = OpenServerProcess();
  ASSERT_TRUE(server);
  SecondClient other;
  ASSERT_EQ(S_OK, other.status());
  helper.reset();
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 8000));
  other.Leave();
  const DWORD released = GetTickCount();
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.get(), 10000));
  EXPECT_GE(SecondsSince(released), 5u);
}

TEST_F(ServerLifetimeTest, AClientArrivingDuringTheIdlePeriodPostponesTheExit) {
  ComPtr<IZelkHelper> helper;
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  UniqueHandle server = OpenServerProcess();
  ASSERT_TRUE(server);
  helper.reset();
  Sleep(3000);
  ASSERT_EQ(S_OK, CreateServerObject(&helper));
  // The first idle period ends while the new client is connected.
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 4000));
  helper.reset();
  const DWORD released = GetTickCount();
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.get(), 10000));
  EXPECT_GE(SecondsSince(released), 5u);
}

}  // namespace
}  // namespace zelk
