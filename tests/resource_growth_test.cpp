// The shared object in process, driven through every member for 100,000
// calls: the process's handle count and memory must not grow. A server runs
// for days on one object; whatever a call leaves behind (a key, a file, a
// string, an interface reference) adds up.
//
// The registry is the sandbox's; the log file lives in the temporary folder.
#include <windows.h>
#include <objsafe.h>

#include <cstdio>
#include <memory>
#include <string>

#include "automation/zelk_helper.h"
#include "gtest/gtest.h"
#include "platform/unique_resource.h"
#include "tests/hardening_resources.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

using testing::MeasureResourceUse;
using testing::RegistrySandbox;
using testing::ResourceUse;
using testing::TestModule;

constexpr char kSettings[] = "Software\\Zelk";
constexpr int kWarmUpCalls = 10000;
constexpr int kMeasuredCalls = 100000;
// A leak of one small block per thousand calls stays below these; anything
// a call itself leaves behind does not.
constexpr size_t kHeapGrowthLimitBytes = 64 * 1024;
constexpr size_t kCommittedGrowthLimitBytes = 1024 * 1024;

constexpr const wchar_t* kUrls[] = {
    L"http://growth.test/a",
    L"http://www.growth.test/b?q=1",
    L"https://growth.test:8443/",
    L"growth.test/no-scheme",
    L"file:///C:/growth.htm",
    L"http://intranet/",
    L"about:blank",
    L"",
};
constexpr size_t kUrlCount = sizeof(kUrls) / sizeof(kUrls[0]);

UniqueBstr MakeBstr(const wchar_t* text) { return UniqueBstr(SysAllocString(text)); }

class ResourceGrowthTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.status()));
    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    log_path_ = std::string(temp) + "zelk_growth_" + std::to_string(GetCurrentProcessId()) + ".log";
    sandbox_.CreateSettingsKey();
    for (const char* name : {"AutoShow", "PlaySound", "ProtectLocal", "ProtectHttps", "LogPopup"}) {
      sandbox_.SetDword(kSettings, name, 1);
    }
    sandbox_.SetDword(kSettings, "CheckSoftPopup", 0);
    sandbox_.SetDword(kSettings, "TotalPopups", 0);
    sandbox_.SetDword(kSettings, "LogCount", 0);
    sandbox_.SetString(kSettings, "SoundFile", "");
    sandbox_.SetString(kSettings, "LogFile", log_path_);
    helper_ = std::make_unique<ZelkHelper>(&module_);
    ASSERT_EQ(S_OK, helper_->Load());
  }

  void TearDown() override {
    helper_.reset();
    DeleteFileA(log_path_.c_str());
  }

  // One call of the mix, chosen by the call's number so that every member
  // comes round again and again, failures included.
  void Call(int number);
  void CallSafeList(int number);
  void CallSettings(int number);
  void CallLog(int number);
  void CallByName(int number);
  void CallObjectSafety(int number);

  // Whether calls by name can reach the type library; decided once, in the
  // warm-up, so that the type information is loaded before measuring or never.
  bool by_name_ = false;
  RegistrySandbox sandbox_;
  testing::ScopedComInitializer com_;
  TestModule module_;
  std::unique_ptr<ZelkHelper> helper_;
  std::string log_path_;
  long unexpected_ = 0;
};

void ResourceGrowthTest::Call(int number) {
  switch (number % 5) {
    case 0:
      return CallSafeList(number / 5);
    case 1:
      return CallSettings(number / 5);
    case 2:
      return CallLog(number / 5);
    case 3:
      return by_name_ ? CallByName(number / 5) : CallSettings(number / 5 + 1);
    default:
      return CallObjectSafety(number / 5);
  }
}

void ResourceGrowthTest::CallSafeList(int number) {
  UniqueBstr url = MakeBstr(kUrls[number % kUrlCount]);
  long code = 0;
  switch (number % 7) {
    case 0:
      helper_->ProtectPage(url.get());
      break;
    case 1:
      helper_->ProtectSite(url.get());
      break;
    case 2:
      helper_->ProtectDomain(url.get());
      break;
    case 3:
      helper_->UnprotectUrl(url.get());
      break;
    case 4:
      helper_->IsUrlProtected(url.get(), &code);
      break;
    case 5:
      helper_->IsUrlProtected(nullptr, &code);
      break;
    default: {
      VARIANT list;
      VariantInit(&list);
      if (helper_->get_SafeList(&list) != S_OK) ++unexpected_;
      VariantClear(&list);
    }
  }
}

void ResourceGrowthTest::CallSettings(int number) {
  const VARIANT_BOOL flag = (number / 9) % 2 ? VARIANT_TRUE : VARIANT_FALSE;
  VARIANT_BOOL read = 0;
  long value = 0;
  HRESULT status = S_OK;
  switch (number % 9) {
    case 0:
      status = helper_->put_AutoShow(flag);
      break;
    case 1:
      status = helper_->get_PlaySound(&read);
      break;
    case 2:
      status = helper_->put_CheckSoftPopup(flag);
      break;
    case 3:
      status = helper_->IncrementTotalPopups(1);
      break;
    case 4:
      status = helper_->get_TotalPopups(&value);
      break;
    case 5: {
      UniqueBstr sound = MakeBstr(number % 2 ? L"C:\\growth\\sound.wav" : L"");
      status = helper_->put_SoundFile(sound.get());
      break;
    }
    case 6: {
      UniqueBstr sound;
      status = helper_->get_SoundFile(sound.put());
      break;
    }
    case 7:
      status = helper_->SetStartupOption(number % 64, number);
      break;
    default:
      status = helper_->GetStartupOption((number - 1) % 64, &value);
  }
  if (status != S_OK) ++unexpected_;
}

void ResourceGrowthTest::CallLog(int number) {
  UniqueBstr popup = MakeBstr(kUrls[number % kUrlCount]);
  UniqueBstr source = MakeBstr(L"http://source.growth.test/page");
  HRESULT status = S_OK;
  switch (number % 10) {
    case 0:
      status = helper_->ClearLogs();
      break;
    case 1: {
      UniqueBstr logs;
      status = helper_->get_Logs(logs.put());
      break;
    }
    case 2:
      // A refused call: no source URL.
      status = helper_->LogPopUrl(popup.get(), nullptr) == E_INVALIDARG ? S_OK : E_FAIL;
      break;
    default:
      status = helper_->LogPopUrl(number % 3 ? popup.get() : nullptr, source.get());
  }
  if (status != S_OK) ++unexpected_;
}

void ResourceGrowthTest::CallByName(int number) {
  const wchar_t* const kNames[] = {L"TotalPopups", L"protectpage", L"NoSuchMember"};
  LPOLESTR names[] = {const_cast<LPOLESTR>(kNames[number % 3])};
  DISPID id = DISPID_UNKNOWN;
  helper_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (id == DISPID_UNKNOWN) return;
  ScopedVariant argument;
  argument.get_mutable()->vt = VT_BSTR;
  argument.get_mutable()->bstrVal = SysAllocString(kUrls[number % kUrlCount]);
  DISPPARAMS parameters = {argument.get_mutable(), nullptr, 1, 0};
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  const bool is_get = id == 13;
  ScopedVariant result;
  EXCEPINFO exception = {};
  helper_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                  is_get ? DISPATCH_PROPERTYGET : DISPATCH_METHOD, is_get ? &none : &parameters,
                  result.get_mutable(), &exception, nullptr);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

void ResourceGrowthTest::CallObjectSafety(int number) {
  ComPtr<IObjectSafety> safety;
  if (helper_->QueryInterface(IID_IObjectSafety, safety.put_void()) != S_OK) {
    ++unexpected_;
    return;
  }
  DWORD supported = 0;
  DWORD enabled = 0;
  if (number % 2) {
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
  } else {
    safety->SetInterfaceSafetyOptions(IID_IZelkHelper, 1, number % 4 ? 1 : 0);
  }
  ComPtr<IUnknown> identity;
  if (safety->QueryInterface(IID_IUnknown, identity.put_void()) != S_OK) ++unexpected_;
}

std::string Describe(const ResourceUse& use) {
  return std::to_string(use.handles) + " handles, " + std::to_string(use.heap_bytes) +
         " heap bytes, " + std::to_string(use.committed_bytes) + " committed bytes";
}

TEST_F(ResourceGrowthTest, HundredThousandCallsLeaveNoHandleOrMemoryBehind) {
  LPOLESTR probe[] = {const_cast<LPOLESTR>(L"TotalPopups")};
  DISPID id = 0;
  by_name_ = helper_->GetIDsOfNames(IID_NULL, probe, 1, LOCALE_USER_DEFAULT, &id) == S_OK;

  for (int number = 0; number < kWarmUpCalls; ++number) Call(number);
  const ResourceUse before = MeasureResourceUse();
  for (int number = 0; number < kMeasuredCalls; ++number) Call(kWarmUpCalls + number);
  const ResourceUse after = MeasureResourceUse();

  EXPECT_EQ(0, unexpected_) << "calls that should have succeeded failed";
  EXPECT_LE(after.handles, before.handles)
      << "before: " << Describe(before) << "\nafter:  " << Describe(after);
  EXPECT_LE(after.heap_bytes, before.heap_bytes + kHeapGrowthLimitBytes)
      << "before: " << Describe(before) << "\nafter:  " << Describe(after);
  EXPECT_LE(after.committed_bytes, before.committed_bytes + kCommittedGrowthLimitBytes)
      << "before: " << Describe(before) << "\nafter:  " << Describe(after);
  // Every reference a call took (QueryInterface, by-name calls) was given back.
  EXPECT_EQ(0, module_.locks()) << "a reference was not given back";
  std::printf("[ figures  ] %d calls measured after %d warm-up calls%s; before: %s; after: %s\n",
              kMeasuredCalls, kWarmUpCalls,
              by_name_ ? "" : " (type library not registered: no calls by name)",
              Describe(before).c_str(), Describe(after).c_str());
}

}  // namespace
}  // namespace zelk
