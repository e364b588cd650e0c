// The class object and the idle shutdown, in process. Across processes the
// class object's proxy answers LockServer itself, so LockServer and the idle
// monitor's timing rules are pinned here, with a short idle period.
#include <windows.h>

#include "gtest/gtest.h"
#include "server/class_factory.h"
#include "server/server_module.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

using testing::RegistrySandbox;
using testing::TestModule;

class ClassFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox_.CreateSettingsKey(); }
  RegistrySandbox sandbox_;
  TestModule module_;
};

TEST_F(ClassFactoryTest, HandsOutOneObjectAndRefusesAggregation) {
  SingletonClassFactory* raw = nullptr;
  ASSERT_EQ(S_OK, SingletonClassFactory::Create(&module_, &raw));
  ComPtr<IClassFactory> factory;
  factory.attach(raw);
  EXPECT_EQ(0, module_.locks());  // the class object alone keeps nothing alive

  ComPtr<IUnknown> first, second;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, first.put_void()));
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, second.put_void()));
  EXPECT_EQ(static_cast<void*>(first.get()), static_cast<void*>(second.get()));
  EXPECT_EQ(2, module_.locks());

  void* aggregated = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(first.get(), IID_IUnknown, &aggregated));
  EXPECT_EQ(nullptr, aggregated);
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));

  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(3, module_.locks());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  first.reset();
  second.reset();
  EXPECT_EQ(0, module_.locks());
}

TEST_F(ClassFactoryTest, FailedLoadIsWhatEveryCreationReturns) {
  RegDeleteTreeA(sandbox_.root(), "Software\\Zelk");
  SingletonClassFactory* raw = nullptr;
  ASSERT_EQ(S_OK, SingletonClassFactory::Create(&module_, &raw));
  ComPtr<IClassFactory> factory;
  factory.attach(raw);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            factory->CreateInstance(nullptr, IID_IUnknown, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(0, module_.locks());
}

// Runs a ServerModule on its own thread (the module's apartment is the thread
// that builds it) with a short idle period.
class ServerThread {
 public:
  static constexpr DWORD kIdleMs = 400;

  ServerThread() {
    built_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    thread_.reset(CreateThread(nullptr, 0, &ServerThread::Run, this, 0, nullptr));
    WaitForSingleObject(built_.get(), 10000);
  }
  ~ServerThread() {
    if (module_ != nullptr && !Finished(0)) {
      module_->Unlock();
      Finished(10000);
    }
  }
  ServerModule* module() { return module_; }
  bool Finished(DWORD wait_ms) { return WaitForSingleObject(thread_.get(), wait_ms) == WAIT_OBJECT_0; }
  HRESULT status() const { return status_; }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* server = static_cast<ServerThread*>(self);
    ServerModule module;
    module.set_timings(kIdleMs, 0);
    server->module_ = &module;
    // A first client, so that the monitor has a drop to zero to wait for.
    module.Lock();
    SetEvent(server->built_.get());
    server->status_ = module.RunServer();
    return 0;
  }

  UniqueHandle built_, thread_;
  ServerModule* volatile module_ = nullptr;
  volatile HRESULT status_ = E_PENDING;
};

class IdleShutdownTest : public ::testing::Test {
 protected:
  void SetUp() override { sandbox_.CreateSettingsKey(); }
  RegistrySandbox sandbox_;
};

TEST_F(IdleShutdownTest, QuitsOneIdlePeriodAfterTheLastUnlock) {
  ServerThread server;
  ASSERT_NE(nullptr, server.module());
  EXPECT_FALSE(server.Finished(2 * ServerThread::kIdleMs)) << "quit while a lock was held";
  const DWORD released = GetTickCount();
  server.module()->Unlock();
  ASSERT_TRUE(server.Finished(10000));
  EXPECT_GE(GetTickCount() - released, ServerThread::kIdleMs - 50);
  EXPECT_EQ(S_OK, server.status());
}

TEST_F(IdleShutdownTest, ALockTakenDuringTheIdlePeriodKeepsItRunning) {
  ServerThread server;
  ASSERT_NE(nullptr, server.module());
  server.module()->Unlock();
  Sleep(ServerThread::kIdleMs / 4);
  server.module()->Lock();  // as LockServer(TRUE) does
  EXPECT_FALSE(server.Finished(4 * ServerThread::kIdleMs));
  // Released again: a fresh idle period, then the quit.
  const DWORD released = GetTickCount();
  server.module()->Unlock();
  ASSERT_TRUE(server.Finished(10000));
  EXPECT_GE(GetTickCount() - released, ServerThread::kIdleMs - 50);
}

}  // namespace
}  // namespace zelk
