// The server host in process: the registration switches, the class object (across processes
// COM's proxy answers LockServer and refuses aggregation itself) and the idle shutdown, with
// a short idle period.
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

// The whole command line, program path included, as the process entry reads it; the
// empty candidate of "//RegServer" is passed over.
TEST(CommandLineTest, LeftmostExactSwitchDecides) {
  const struct { const char* command_line; CommandLineAction expected; } cases[] = {
      {"Z.exe /RegServer", kReg},     {"Z.exe -regserver", kReg},     {"Z.exe /REGSERVER", kReg},
      {"Z.exe /UnregServer", kUnreg}, {"Z.exe -UNREGSERVER", kUnreg}, {"Z.exe /RegServer x", kReg},
      {"Z.exe /RegServer\tx", kReg},  {"Z.exe /RegServerX", kRun},    {"Z.exe /RegServe", kRun},
      {"Z.exe \"/RegServer\"", kRun}, {"", kRun},                     {"Z.exe -Embedding", kRun},
      {"C:\\a-b\\c/d\\Z.exe", kRun},  {"Z.exe /", kRun},              {"Z.exe //RegServer", kReg},
      {"C:\\x-RegServer\\Z.exe", kRun},  // a backslash is not a terminator
      {"Z.exe /UnregServer /RegServer", kUnreg},  {"Z.exe /RegServer /UnregServer", kReg},
      {"Z.exe /Embedding /RegServerX -unregserver", kUnreg},
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

constexpr DWORD kIdleMs = 400;  // the server's idle period in this test

// The first client of a server module, on its own thread: it holds its lock for two idle
// periods, lets go, locks again within the idle period (as LockServer(TRUE) does), holds
// that lock for four more and lets go for good, noting when.
struct IdleClient {
  static DWORD WINAPI Run(void* self) {
    auto* client = static_cast<IdleClient*>(self);
    Sleep(2 * kIdleMs);
    client->module->Unlock();
    Sleep(kIdleMs / 4);
    client->module->Lock();
    Sleep(4 * kIdleMs);
    client->released = GetTickCount();
    client->module->Unlock();
    return 0;
  }
  ServerModule* module;
  volatile DWORD released;
};

TEST(IdleShutdownTest, QuitsOneIdlePeriodAfterTheLastUnlockUnlessLockedAgain) {
  testing::RegistrySandbox sandbox;
  sandbox.CreateSettingsKey();
  ServerModule module;  // this thread is its apartment, and runs it
  module.set_timings(kIdleMs, 0);
  module.Lock();
  IdleClient client = {&module, 0};
  UniqueHandle thread(CreateThread(nullptr, 0, &IdleClient::Run, &client, 0, nullptr));
  ASSERT_TRUE(thread);
  EXPECT_EQ(S_OK, module.RunServer());
  const DWORD quit = GetTickCount(), released = client.released;
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 10000));
  ASSERT_NE(0u, released) << "quit while a lock was held";
  EXPECT_GE(quit - released, kIdleMs - 50);
}

}  // namespace
}  // namespace zelk
