// The server host in process: the registration switches, the class object and
// the idle shutdown. Across processes the class object's proxy answers
// LockServer itself, so LockServer and the idle monitor's timing rules are
// pinned here, with a short idle period.
#include <windows.h>

#include "gtest/gtest.h"
#include "server/class_factory.h"
#include "server/command_line.h"
#include "server/server_module.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

constexpr CommandLineAction kRun = CommandLineAction::kRunServer;
constexpr CommandLineAction kReg = CommandLineAction::kRegister;
constexpr CommandLineAction kUnreg = CommandLineAction::kUnregister;

// The whole command line, program path included, as the process entry reads it.
TEST(CommandLineTest, LeftmostExactSwitchDecides) {
  const struct { const char* command_line; CommandLineAction expected; } cases[] = {
      {"ZelkAdmin.exe /RegServer", kReg},       {"ZelkAdmin.exe -regserver", kReg},
      {"ZelkAdmin.exe /REGSERVER", kReg},       {"ZelkAdmin.exe /UnregServer", kUnreg},
      {"ZelkAdmin.exe -UNREGSERVER", kUnreg},   {"ZelkAdmin.exe /RegServer\tmore", kReg},
      {"ZelkAdmin.exe /RegServer more", kReg},  {"ZelkAdmin.exe /RegServerX", kRun},
      {"ZelkAdmin.exe /RegServe", kRun},        {"ZelkAdmin.exe \"/RegServer\"", kRun},
      {"", kRun},                               {"ZelkAdmin.exe -Embedding", kRun},
      {"C:\\a-b\\c/d\\ZelkAdmin.exe", kRun},    {"ZelkAdmin.exe /", kRun},
      {"C:\\x-RegServer\\ZelkAdmin.exe", kRun},  // a backslash is not a terminator
      {"ZelkAdmin.exe /UnregServer /RegServer", kUnreg},
      {"ZelkAdmin.exe /RegServer /UnregServer", kReg},
      {"ZelkAdmin.exe //RegServer", kReg},  // the first '/' starts an empty candidate
      {"ZelkAdmin.exe /Embedding /RegServerX -unregserver", kUnreg},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(test.expected, ScanCommandLine(test.command_line)) << "[" << test.command_line << "]";
  }
}

ComPtr<IClassFactory> MakeFactory(testing::TestModule* module) {
  SingletonClassFactory* raw = nullptr;
  EXPECT_EQ(S_OK, SingletonClassFactory::Create(module, &raw));
  ComPtr<IClassFactory> factory;
  factory.attach(raw);
  return factory;
}

TEST(ClassFactoryTest, HandsOutOneObjectOrTheFailedLoadAndRefusesAggregation) {
  testing::RegistrySandbox sandbox;
  testing::TestModule module;
  void* object = reinterpret_cast<void*>(1);
  ComPtr<IClassFactory> factory = MakeFactory(&module);  // no settings key: the load fails
  ASSERT_TRUE(factory);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
            factory->CreateInstance(nullptr, IID_IUnknown, &object));
  EXPECT_EQ(nullptr, object);

  sandbox.CreateSettingsKey();
  factory = MakeFactory(&module);
  ASSERT_TRUE(factory);
  EXPECT_EQ(0, module.locks());  // the class object alone keeps nothing alive
  ComPtr<IUnknown> first, second;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, first.put_void()));
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IDispatch, second.put_void()));
  EXPECT_EQ(static_cast<void*>(first.get()), static_cast<void*>(second.get()));
  EXPECT_EQ(2, module.locks());
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(first.get(), IID_IUnknown, &object));
  EXPECT_EQ(nullptr, object);
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));
  EXPECT_EQ(S_OK, factory->LockServer(TRUE));
  EXPECT_EQ(3, module.locks());
  EXPECT_EQ(S_OK, factory->LockServer(FALSE));
  first.reset();
  second.reset();
  EXPECT_EQ(0, module.locks());
}

// Runs a ServerModule with a short idle period on its own thread (the module's
// apartment is the thread that builds it), holding one lock as a first client.
// Once the thread has ended the module is gone: a test stops touching it then.
class ServerThread {
 public:
  static constexpr DWORD kIdleMs = 400;

  ServerThread() { WaitForSingleObject(built_.get(), 10000); }
  ~ServerThread() {
    if (module_ != nullptr && !Finished(0)) module_->Unlock();
    Finished(10000);
  }
  ServerModule* module() { return module_; }
  bool Finished(DWORD ms) { return WaitForSingleObject(thread_.get(), ms) == WAIT_OBJECT_0; }
  HRESULT status() const { return status_; }

 private:
  static DWORD WINAPI Run(void* self) {
    auto* server = static_cast<ServerThread*>(self);
    ServerModule module;
    module.set_timings(kIdleMs, 0);
    module.Lock();
    server->module_ = &module;
    SetEvent(server->built_.get());
    server->status_ = module.RunServer();
    return 0;
  }

  UniqueHandle built_{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  ServerModule* volatile module_ = nullptr;
  volatile HRESULT status_ = E_PENDING;
  UniqueHandle thread_{CreateThread(nullptr, 0, &ServerThread::Run, this, 0, nullptr)};
};

TEST(IdleShutdownTest, QuitsOneIdlePeriodAfterTheLastUnlockUnlessLockedAgain) {
  testing::RegistrySandbox sandbox;
  sandbox.CreateSettingsKey();
  ServerThread server;
  ASSERT_NE(nullptr, server.module());
  ASSERT_FALSE(server.Finished(2 * ServerThread::kIdleMs)) << "quit while a lock was held";
  server.module()->Unlock();
  Sleep(ServerThread::kIdleMs / 4);
  server.module()->Lock();  // as LockServer(TRUE) does, during the idle period
  ASSERT_FALSE(server.Finished(4 * ServerThread::kIdleMs)) << "quit while a lock was held";
  const DWORD released = GetTickCount();
  server.module()->Unlock();
  ASSERT_TRUE(server.Finished(10000));
  EXPECT_GE(GetTickCount() - released, ServerThread::kIdleMs - 50);
  EXPECT_EQ(S_OK, server.status());
}

}  // namespace
}  // namespace zelk
