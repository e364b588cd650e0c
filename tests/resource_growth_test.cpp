// The shared object in process, every member in turn for 100,000 calls: a server runs for
// days on one object, and whatever a call leaves behind (a key, a handle, a string) adds up.
#include <windows.h>
#include <objsafe.h>

#include "automation/zelk_helper.h"
#include "gtest/gtest.h"
#include "tests/hardening_resources.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

using namespace zelk;
using namespace zelk::testing;

static const wchar_t* const kUrls[] = {L"http://growth.test/a", L"https://growth.test:8443/?q",
                                       L"growth.test/no-scheme", L"file:///C:/growth.htm", L""};

TEST(ResourceGrowthTest, HundredThousandCallsLeaveNoHandleOrMemoryBehind) {
  RegistrySandbox sandbox;
  ScopedComInitializer com;
  TestModule module;
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string log_path = std::string(temp) + "zelk_growth.log";
  sandbox.CreateSettingsKey();
  sandbox.SetDword("Software\\Zelk", "LogPopup", 1);
  sandbox.SetDword("Software\\Zelk", "LogCount", 0);
  sandbox.SetString("Software\\Zelk", "LogFile", log_path);
  zelk::ZelkHelper helper(&module);
  ASSERT_EQ(S_OK, helper.Load());
  long failed = 0;  // calls that should have succeeded
  auto call = [&](int number) {
    UniqueBstr url(SysAllocString(kUrls[number % 5]));
    BSTR other = number & 16 ? url.get() : nullptr;
    long value = 0;
    UniqueBstr text;
    ScopedVariant result;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    HRESULT status = S_OK;
    switch (number % 16) {
      case 0: helper.ProtectPage(url.get()); break;  // refused for some of the URLs
      case 1: helper.ProtectSite(url.get()); break;
      case 2: helper.ProtectDomain(url.get()); break;
      case 3: helper.UnprotectUrl(url.get()); break;
      case 4: helper.IsUrlProtected(other, &value); break;
      case 5: status = helper.get_SafeList(result.Receive()); break;
      case 6: status = helper.put_AutoShow(number & 32 ? VARIANT_TRUE : VARIANT_FALSE); break;
      case 7: status = helper.IncrementTotalPopups(1); break;
      case 8: status = helper.put_SoundFile(other); break;
      case 9: status = helper.get_SoundFile(text.put()); break;
      case 10: status = helper.SetStartupOption(number % 64, number); break;
      case 11: status = helper.GetStartupOption((number + 5) % 64, &value); break;
      case 12: status = helper.LogPopUrl(other, url.get()); break;
      case 13: status = other ? helper.ClearLogs() : helper.get_Logs(text.put()); break;
      case 14:  // by DISPID, through the registered type library: TotalPopups
        status = helper.Invoke(13, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Receive(),
                               nullptr, nullptr);
        break;
      default: status = helper.QueryInterface(IID_IObjectSafety, ComPtr<IUnknown>().put_void());
    }
    failed += status != S_OK;
  };
  for (int number = 0; number < 10000; ++number) call(number);  // warm-up: caches fill
  const ResourceUse before = MeasureResourceUse();
  for (int number = 0; number < 100000; ++number) call(number);
  const ResourceUse after = MeasureResourceUse();
  DeleteFileA(log_path.c_str());
  EXPECT_EQ(0, failed);
  EXPECT_LE(after.handles, before.handles);
  EXPECT_LE(after.heap_bytes, before.heap_bytes + 64 * 1024);  // any leak per call exceeds it
  EXPECT_LE(after.committed_bytes, before.committed_bytes + 1024 * 1024);
  EXPECT_EQ(0, module.locks()) << "a reference was not given back";
}
