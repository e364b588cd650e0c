// The server host in process: the registration switches and the class object (across
// processes COM's proxy answers LockServer and refuses aggregation itself). The idle
// shutdown is seen from client processes (e2e_lifetime_test).
#include <windows.h>

#include "gtest/gtest.h"
#include "server/class_factory.h"
#include "server/command_line.h"
#include "server/service_identity.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

constexpr CommandLineAction kRun = CommandLineAction::kRunServer;
constexpr CommandLineAction kReg = CommandLineAction::kRegister;
constexpr CommandLineAction kUnreg = CommandLineAction::kUnregister;
constexpr CommandLineAction kService = CommandLineAction::kRunService;
constexpr CommandLineAction kRegService = CommandLineAction::kRegisterService;

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
      // The service's ImagePath switch runs the server unless a registration switch is present.
      {"\"C:\\P F\\Z.exe\" -Service", kService}, {"Z.exe -Service /RegServer", kReg},
      {"Z.exe /RegService", kRegService},  {"Z.exe -ServiceX", kRun},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(test.expected, ScanCommandLine(test.command_line)) << "[" << test.command_line << "]";
  }
}

// Windows' own value for the TrustedInstaller service, and this service's.
TEST(ServiceIdentityTest, ServiceSidIsTheOneWindowsComputes) {
  const struct { const wchar_t* name; const wchar_t* sid; } cases[] = {
      {L"TrustedInstaller", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
      {L"zelkadmin", L"S-1-5-80-3426209821-866800424-1824726854-1588033009-2740332617"},
  };
  for (const auto& test : cases) {
    std::wstring sid;
    ASSERT_EQ(S_OK, ServiceSidText(test.name, &sid));
    EXPECT_EQ(test.sid, sid);
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

}  // namespace
}  // namespace zelk
