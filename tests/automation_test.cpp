// The shared object in process, against the real (redirected) registry:
// construction, the settings cache and its write-through, identity, safety
// options and startup options.
#include <windows.h>
#include <aclapi.h>
#include <objsafe.h>

#include <memory>

#include "automation/zelk_helper.h"
#include "gtest/gtest.h"
#include "platform/unique_resource.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

using testing::RegistrySandbox;
using testing::TestModule;

constexpr char kSettings[] = "Software\\Zelk";
const DWORD kSentinel = 0xdeadbeef;

class AutomationTest : public ::testing::Test {
 protected:
  void WriteRegistrationDefaults() {
    sandbox_.CreateSettingsKey();
    for (const char* name : {"AutoShow", "PlaySound", "ProtectLocal", "ProtectHttps", "LogPopup"}) {
      sandbox_.SetDword(kSettings, name, 1);
    }
    sandbox_.SetDword(kSettings, "TotalPopups", 0);
    sandbox_.SetDword(kSettings, "CheckSoftPopup", 0);
    sandbox_.SetString(kSettings, "SoundFile", "");
  }
  HRESULT Build() {
    helper_ = std::make_unique<ZelkHelper>(&module_);
    return helper_->Load();
  }
  VARIANT_BOOL Get(HRESULT (STDMETHODCALLTYPE ZelkHelper::*getter)(VARIANT_BOOL*)) {
    VARIANT_BOOL value = 0x5555;
    EXPECT_EQ(S_OK, (helper_.get()->*getter)(&value));
    return value;
  }

  RegistrySandbox sandbox_;
  TestModule module_;
  std::unique_ptr<ZelkHelper> helper_;
};

TEST_F(AutomationTest, LoadsRegistrationDefaults) {
  WriteRegistrationDefaults();
  ASSERT_EQ(S_OK, Build());
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_AutoShow));
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_PlaySound));
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_ProtectLocal));
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_ProtectHttps));
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_LogPopup));
  EXPECT_EQ(VARIANT_FALSE, Get(&ZelkHelper::get_CheckSoftPopup));
  long total = 77;
  EXPECT_EQ(S_OK, helper_->get_TotalPopups(&total));
  EXPECT_EQ(0, total);
  UniqueBstr sound;
  ASSERT_EQ(S_OK, helper_->get_SoundFile(sound.put()));
  ASSERT_NE(nullptr, sound.get());
  EXPECT_EQ(0u, SysStringLen(sound.get()));
}

TEST_F(AutomationTest, MissingValuesLoadAsZeroNotAsDefaults) {
  WriteRegistrationDefaults();
  sandbox_.DeleteValue(kSettings, "AutoShow");
  sandbox_.DeleteValue(kSettings, "CheckSoftPopup");
  sandbox_.SetString(kSettings, "PlaySound", "1");  // wrong type counts as missing
  ASSERT_EQ(S_OK, Build());
  EXPECT_EQ(VARIANT_FALSE, Get(&ZelkHelper::get_AutoShow));
  EXPECT_EQ(VARIANT_FALSE, Get(&ZelkHelper::get_PlaySound));
  EXPECT_EQ(VARIANT_FALSE, Get(&ZelkHelper::get_CheckSoftPopup));
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_LogPopup));
}

TEST_F(AutomationTest, MissingSettingsKeyFailsConstructionWithRegistryStatus) {
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), Build());
  EXPECT_EQ(VARIANT_FALSE, Get(&ZelkHelper::get_AutoShow));
  // A put cannot open the key either: it fails with the registry's status and
  // leaves the cache as it was.
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), helper_->put_AutoShow(VARIANT_TRUE));
  EXPECT_EQ(VARIANT_FALSE, Get(&ZelkHelper::get_AutoShow));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), helper_->IncrementTotalPopups(5));
  long total = 1;
  helper_->get_TotalPopups(&total);
  EXPECT_EQ(0, total);
  EXPECT_FALSE(sandbox_.KeyExists(kSettings));
}

// Grants everyone read access only, as for an account that may not write to
// HKEY_LOCAL_MACHINE.
void MakeReadOnly(HKEY root, const char* path) {
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key));
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
  EXPLICIT_ACCESSA access = {};
  access.grfAccessPermissions = KEY_READ;
  access.grfAccessMode = SET_ACCESS;
  access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  access.Trustee.ptstrName = static_cast<LPSTR>(everyone);
  PACL acl = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, SetEntriesInAclA(1, &access, nullptr, &acl));
  EXPECT_EQ(ERROR_SUCCESS, SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, acl, nullptr));
  LocalFree(acl);
  FreeSid(everyone);
  RegCloseKey(key);
}

TEST_F(AutomationTest, WithoutWriteAccessPutsFailAndTheCacheKeepsItsValues) {
  WriteRegistrationDefaults();
  sandbox_.SetDword(kSettings, "TotalPopups", 41);
  MakeReadOnly(sandbox_.root(), kSettings);
  ASSERT_EQ(S_OK, Build());  // reading is all construction needs
  const HRESULT denied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  EXPECT_EQ(denied, helper_->put_AutoShow(VARIANT_FALSE));
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_AutoShow));
  EXPECT_EQ(denied, helper_->IncrementTotalPopups(1));
  long total = 0;
  helper_->get_TotalPopups(&total);
  EXPECT_EQ(41, total);
  UniqueBstr sound(SysAllocString(L"C:\\a.wav"));
  EXPECT_EQ(denied, helper_->put_SoundFile(sound.get()));
  UniqueBstr read_back;
  ASSERT_EQ(S_OK, helper_->get_SoundFile(read_back.put()));
  EXPECT_EQ(0u, SysStringLen(read_back.get()));
  EXPECT_EQ(1u, sandbox_.ReadDword(kSettings, "AutoShow"));
  EXPECT_EQ(41u, sandbox_.ReadDword(kSettings, "TotalPopups"));
}

TEST_F(AutomationTest, HandEnteredFlagReadsTrueAndIsStoredAsOneAfterPut) {
  WriteRegistrationDefaults();
  sandbox_.SetDword(kSettings, "AutoShow", 7);
  ASSERT_EQ(S_OK, Build());
  EXPECT_EQ(VARIANT_TRUE, Get(&ZelkHelper::get_AutoShow));
  long option = 0;
  EXPECT_EQ(S_OK, helper_->GetStartupOption(42, &option));
  EXPECT_EQ(1, option);  // the fallback is 1, never the stored 7 or -1
  EXPECT_EQ(S_OK, helper_->put_AutoShow(VARIANT_TRUE));
  EXPECT_EQ(1u, sandbox_.ReadDword(kSettings, "AutoShow"));
}

TEST_F(AutomationTest, AnyNonZeroVariantBoolIsTrueAndStoredExactly) {
  WriteRegistrationDefaults();
  ASSERT_EQ(S_OK, Build());
  struct FlagCase {
    const char* name;
    HRESULT (STDMETHODCALLTYPE ZelkHelper::*put)(VARIANT_BOOL);
    HRESULT (STDMETHODCALLTYPE ZelkHelper::*get)(VARIANT_BOOL*);
  };
  const FlagCase flags[] = {
      {"AutoShow", &ZelkHelper::put_AutoShow, &ZelkHelper::get_AutoShow},
      {"PlaySound", &ZelkHelper::put_PlaySound, &ZelkHelper::get_PlaySound},
      {"ProtectLocal", &ZelkHelper::put_ProtectLocal, &ZelkHelper::get_ProtectLocal},
      {"ProtectHttps", &ZelkHelper::put_ProtectHttps, &ZelkHelper::get_ProtectHttps},
      {"LogPopup", &ZelkHelper::put_LogPopup, &ZelkHelper::get_LogPopup},
      {"CheckSoftPopup", &ZelkHelper::put_CheckSoftPopup, &ZelkHelper::get_CheckSoftPopup},
  };
  for (const FlagCase& flag : flags) {
    SCOPED_TRACE(flag.name);
    EXPECT_EQ(S_OK, (helper_.get()->*flag.put)(5));
    EXPECT_EQ(1u, sandbox_.ReadDword(kSettings, flag.name));
    EXPECT_EQ(VARIANT_TRUE, Get(flag.get));
    EXPECT_EQ(S_OK, (helper_.get()->*flag.put)(VARIANT_FALSE));
    EXPECT_EQ(0u, sandbox_.ReadDword(kSettings, flag.name));
    EXPECT_EQ(VARIANT_FALSE, Get(flag.get));
  }
}

TEST_F(AutomationTest, IncrementWrapsAroundAndAcceptsNegativeCounts) {
  WriteRegistrationDefaults();
  sandbox_.SetDword(kSettings, "TotalPopups", 10);
  ASSERT_EQ(S_OK, Build());
  long total = 0;
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(3));
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(3));
  helper_->get_TotalPopups(&total);
  EXPECT_EQ(16, total);
  EXPECT_EQ(16u, sandbox_.ReadDword(kSettings, "TotalPopups"));
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(-20));
  helper_->get_TotalPopups(&total);
  EXPECT_EQ(-4, total);
  EXPECT_EQ(static_cast<DWORD>(-4), sandbox_.ReadDword(kSettings, "TotalPopups"));

  // The cache is the base of every increment: a hand edit is overwritten.
  sandbox_.SetDword(kSettings, "TotalPopups", 1000);
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(1));
  EXPECT_EQ(static_cast<DWORD>(-3), sandbox_.ReadDword(kSettings, "TotalPopups"));

  sandbox_.SetDword(kSettings, "TotalPopups", 2147483647);
  ASSERT_EQ(S_OK, Build());
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(1));
  helper_->get_TotalPopups(&total);
  EXPECT_EQ(-2147483647L - 1, total);
  EXPECT_EQ(0x80000000u, sandbox_.ReadDword(kSettings, "TotalPopups"));
}


TEST_F(AutomationTest, SoundFileRoundTripsAndRefusesWhatCannotBeReadBack) {
  WriteRegistrationDefaults();
  ASSERT_EQ(S_OK, Build());
  std::wstring longest(259, L'a');
  UniqueBstr path(SysAllocString(longest.c_str()));
  EXPECT_EQ(S_OK, helper_->put_SoundFile(path.get()));

  std::wstring too_long(260, L'b');
  UniqueBstr long_path(SysAllocString(too_long.c_str()));
  EXPECT_EQ(E_INVALIDARG, helper_->put_SoundFile(long_path.get()));
  DWORD type = 0;
  std::string stored;
  ASSERT_TRUE(sandbox_.Read(kSettings, "SoundFile", &type, &stored));
  EXPECT_EQ(std::string(259, 'a') + '\0', stored);

  // A fresh object (a restart) reads back exactly what the put kept.
  ZelkHelper reloaded(&module_);
  ASSERT_EQ(S_OK, reloaded.Load());
  UniqueBstr read_back;
  ASSERT_EQ(S_OK, reloaded.get_SoundFile(read_back.put()));
  EXPECT_EQ(longest, std::wstring(read_back.get(), SysStringLen(read_back.get())));

  // A null string stores a single NUL byte.
  EXPECT_EQ(S_OK, helper_->put_SoundFile(nullptr));
  ASSERT_TRUE(sandbox_.Read(kSettings, "SoundFile", &type, &stored));
  EXPECT_EQ(std::string(1, '\0'), stored);
}

TEST_F(AutomationTest, NullOutPointersAreRefused) {
  WriteRegistrationDefaults();
  ASSERT_EQ(S_OK, Build());
  EXPECT_EQ(E_POINTER, helper_->get_SoundFile(nullptr));
  EXPECT_EQ(E_POINTER, helper_->IsUrlProtected(nullptr, nullptr));
  // A startup option is not consumed by a call that cannot return it.
  EXPECT_EQ(S_OK, helper_->SetStartupOption(9, 5));
  EXPECT_EQ(E_POINTER, helper_->GetStartupOption(9, nullptr));
  long option = 0;
  EXPECT_EQ(S_OK, helper_->GetStartupOption(9, &option));
  EXPECT_EQ(5, option);
}

TEST_F(AutomationTest, InterfacesShareOneIdentityAndCountAsServerLocks) {
  WriteRegistrationDefaults();
  ASSERT_EQ(S_OK, Build());
  ComPtr<IUnknown> unknown;
  ComPtr<IDispatch> dispatch;
  ComPtr<IZelkHelper> dual;
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IUnknown, unknown.put_void()));
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IDispatch, dispatch.put_void()));
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IZelkHelper, dual.put_void()));
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IObjectSafety, safety.put_void()));
  EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(dispatch.get()));
  EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(dual.get()));
  EXPECT_NE(static_cast<void*>(unknown.get()), static_cast<void*>(safety.get()));
  ComPtr<IUnknown> from_safety;
  ASSERT_EQ(S_OK, safety->QueryInterface(IID_IUnknown, from_safety.put_void()));
  EXPECT_EQ(unknown.get(), from_safety.get());
  EXPECT_EQ(5, module_.locks());
  UINT count = 0;
  EXPECT_EQ(S_OK, helper_->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);

  void* missing = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, helper_->QueryInterface(IID_ISupportErrorInfo, &missing));
  EXPECT_EQ(nullptr, missing);
  unknown.reset();
  dispatch.reset();
  dual.reset();
  safety.reset();
  from_safety.reset();
  EXPECT_EQ(0, module_.locks());
}

TEST_F(AutomationTest, SafetyOptionsAreOneValueForTheWholeObject) {
  WriteRegistrationDefaults();
  ASSERT_EQ(S_OK, Build());
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IObjectSafety, safety.put_void()));
  DWORD supported = kSentinel, enabled = kSentinel;
  EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
  EXPECT_EQ(1u, supported);
  EXPECT_EQ(0u, enabled);

  EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1));
  EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IZelkHelper, &supported, &enabled));
  EXPECT_EQ(1u, enabled);

  EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 2, 0));
  EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 0));
  EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
  EXPECT_EQ(1u, enabled);

  supported = enabled = kSentinel;
  EXPECT_EQ(E_NOINTERFACE,
            safety->GetInterfaceSafetyOptions(IID_ISupportErrorInfo, &supported, &enabled));
  EXPECT_EQ(0u, supported);
  EXPECT_EQ(0u, enabled);
  EXPECT_EQ(E_NOINTERFACE, safety->SetInterfaceSafetyOptions(IID_ISupportErrorInfo, 1, 0));
  EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
  EXPECT_EQ(S_OK, safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0));
  EXPECT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
  EXPECT_EQ(0u, enabled);
}

TEST_F(AutomationTest, StartupOptionsAreTakenOnceWithAutoShowFallback) {
  WriteRegistrationDefaults();
  sandbox_.SetDword(kSettings, "AutoShow", 0);
  ASSERT_EQ(S_OK, Build());
  long option = 99;
  EXPECT_EQ(S_OK, helper_->GetStartupOption(1, &option));
  EXPECT_EQ(0, option);

  EXPECT_EQ(S_OK, helper_->SetStartupOption(1, 5));
  EXPECT_EQ(S_OK, helper_->SetStartupOption(1, 7));
  EXPECT_EQ(S_OK, helper_->SetStartupOption(-1, -1));
  EXPECT_EQ(S_OK, helper_->SetStartupOption(0, 3));
  EXPECT_EQ(S_OK, helper_->GetStartupOption(1, &option));
  EXPECT_EQ(7, option);
  EXPECT_EQ(S_OK, helper_->GetStartupOption(1, &option));
  EXPECT_EQ(0, option);
  EXPECT_EQ(S_OK, helper_->GetStartupOption(0, &option));
  EXPECT_EQ(3, option);
  EXPECT_EQ(S_OK, helper_->GetStartupOption(-1, &option));
  EXPECT_EQ(-1, option);

  EXPECT_EQ(S_OK, helper_->put_AutoShow(VARIANT_TRUE));
  EXPECT_EQ(S_OK, helper_->GetStartupOption(-1, &option));
  EXPECT_EQ(1, option);
}

}  // namespace
}  // namespace zelk
