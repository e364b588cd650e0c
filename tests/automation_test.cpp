// The shared object in process against the (redirected) registry: construction, the settings
// cache and write-through, identity, safety and startup options; refused writes: e2e_faults_test.
#include <windows.h>
#include <objsafe.h>

#include <iterator>
#include <memory>
#include <string>

#include "automation/zelk_helper.h"
#include "gtest/gtest.h"
#include "platform/unique_resource.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

constexpr char kSettings[] = "Software\\Zelk";
const HRESULT kNoKey = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

using FlagPut = HRESULT (STDMETHODCALLTYPE ZelkHelper::*)(VARIANT_BOOL);
using FlagGet = HRESULT (STDMETHODCALLTYPE ZelkHelper::*)(VARIANT_BOOL*);
const struct Flag { const char* name; FlagPut put; FlagGet get; } kFlags[] = {
    {"AutoShow", &ZelkHelper::put_AutoShow, &ZelkHelper::get_AutoShow},
    {"PlaySound", &ZelkHelper::put_PlaySound, &ZelkHelper::get_PlaySound},
    {"ProtectLocal", &ZelkHelper::put_ProtectLocal, &ZelkHelper::get_ProtectLocal},
    {"ProtectHttps", &ZelkHelper::put_ProtectHttps, &ZelkHelper::get_ProtectHttps},
    {"LogPopup", &ZelkHelper::put_LogPopup, &ZelkHelper::get_LogPopup},
    {"CheckSoftPopup", &ZelkHelper::put_CheckSoftPopup, &ZelkHelper::get_CheckSoftPopup},
};

class AutomationTest : public ::testing::Test {
 protected:
  // The object, built on the values registration writes.
  void SetUp() override {
    sandbox_.CreateSettingsKey();
    for (const Flag& flag : kFlags) {
      sandbox_.SetDword(kSettings, flag.name, std::string(flag.name) != "CheckSoftPopup");
    }
    sandbox_.SetDword(kSettings, "TotalPopups", 0);
    sandbox_.SetString(kSettings, "SoundFile", "");
    ASSERT_EQ(S_OK, Build());
  }
  HRESULT Build() {
    helper_ = std::make_unique<ZelkHelper>(&module_);
    return helper_->Load();
  }
  // What a member gives back through its last parameter; the call must succeed.
  template <typename T, typename... Params, typename... Args>
  T Out(HRESULT (STDMETHODCALLTYPE ZelkHelper::*member)(Params...), Args... args) {
    T value = 0x5555;
    EXPECT_EQ(S_OK, (helper_.get()->*member)(args..., &value));
    return value;
  }
  VARIANT_BOOL Get(FlagGet getter) { return Out<VARIANT_BOOL>(getter); }
  long Total() { return Out<long>(&ZelkHelper::get_TotalPopups); }
  long Option(long window) { return Out<long>(&ZelkHelper::GetStartupOption, window); }

  testing::RegistrySandbox sandbox_;
  testing::TestModule module_;
  std::unique_ptr<ZelkHelper> helper_;
};

TEST_F(AutomationTest, LoadReadsNonZeroAsTrueAndMissingOrWrongTypedValuesAsZero) {
  sandbox_.SetDword(kSettings, "TotalPopups", 12);
  sandbox_.SetDword(kSettings, "AutoShow", 7);          // entered by hand
  sandbox_.DeleteValue(kSettings, "PlaySound");         // registration's default would be 1
  sandbox_.SetString(kSettings, "ProtectLocal", "1");  // wrong type counts as missing
  ASSERT_EQ(S_OK, Build());
  const VARIANT_BOOL expected[] = {VARIANT_TRUE, VARIANT_FALSE, VARIANT_FALSE,
                                   VARIANT_TRUE, VARIANT_TRUE,  VARIANT_FALSE};
  for (size_t i = 0; i < std::size(kFlags); ++i) EXPECT_EQ(expected[i], Get(kFlags[i].get)) << i;
  EXPECT_EQ(12, Total());
  EXPECT_EQ(1, Option(42));  // the fallback is 1, never the stored 7 or -1
  UniqueBstr sound;
  ASSERT_EQ(S_OK, helper_->get_SoundFile(sound.put()));
  ASSERT_NE(nullptr, sound.get());
  EXPECT_EQ(0u, SysStringLen(sound.get()));
}

TEST_F(AutomationTest, MissingSettingsKeyFailsConstructionAndEveryPut) {
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeA(sandbox_.root(), kSettings));
  EXPECT_EQ(kNoKey, Build());
  EXPECT_EQ(kNoKey, helper_->put_AutoShow(VARIANT_TRUE));
  EXPECT_EQ(VARIANT_FALSE, Get(&ZelkHelper::get_AutoShow));
  EXPECT_EQ(kNoKey, helper_->IncrementTotalPopups(5));
  EXPECT_EQ(0, Total());
  EXPECT_FALSE(sandbox_.KeyExists(kSettings));
}

TEST_F(AutomationTest, AnyNonZeroVariantBoolIsTrueAndStoredExactly) {
  for (const Flag& flag : kFlags) {
    for (VARIANT_BOOL put : {5, 0}) {
      SCOPED_TRACE(flag.name);
      EXPECT_EQ(S_OK, (helper_.get()->*flag.put)(put));
      EXPECT_EQ(put ? 1u : 0u, sandbox_.ReadDword(kSettings, flag.name));
      EXPECT_EQ(put ? VARIANT_TRUE : VARIANT_FALSE, Get(flag.get));
    }
  }
}

TEST_F(AutomationTest, IncrementWrapsAroundAndAcceptsNegativeCounts) {
  for (long count : {3, 3, -20}) EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(count));
  EXPECT_EQ(-14, Total());
  EXPECT_EQ(static_cast<DWORD>(-14), sandbox_.ReadDword(kSettings, "TotalPopups"));
  // The cache is the base of every increment: a hand edit is overwritten.
  sandbox_.SetDword(kSettings, "TotalPopups", 1000);
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(1));
  EXPECT_EQ(static_cast<DWORD>(-13), sandbox_.ReadDword(kSettings, "TotalPopups"));

  sandbox_.SetDword(kSettings, "TotalPopups", 2147483647);
  ASSERT_EQ(S_OK, Build());
  EXPECT_EQ(S_OK, helper_->IncrementTotalPopups(1));
  EXPECT_EQ(-2147483647L - 1, Total());
  EXPECT_EQ(0x80000000u, sandbox_.ReadDword(kSettings, "TotalPopups"));
}

TEST_F(AutomationTest, SoundFileRoundTripsAndRefusesWhatCannotBeReadBack) {
  const std::wstring longest(259, L'a'), too_long(260, L'b');
  EXPECT_EQ(S_OK, helper_->put_SoundFile(UniqueBstr(SysAllocString(longest.c_str())).get()));
  EXPECT_EQ(E_INVALIDARG,
            helper_->put_SoundFile(UniqueBstr(SysAllocString(too_long.c_str())).get()));
  EXPECT_EQ(std::string(259, 'a') + '\0', sandbox_.ReadBytes(kSettings, "SoundFile"));

  ASSERT_EQ(S_OK, Build());  // a fresh object (a restart) reads back exactly what the put kept
  UniqueBstr read_back;
  ASSERT_EQ(S_OK, helper_->get_SoundFile(read_back.put()));
  EXPECT_EQ(longest, std::wstring(read_back.get(), SysStringLen(read_back.get())));

  EXPECT_EQ(S_OK, helper_->put_SoundFile(nullptr));  // stores a single NUL byte
  EXPECT_EQ(std::string(1, '\0'), sandbox_.ReadBytes(kSettings, "SoundFile"));
}

TEST_F(AutomationTest, NullOutPointersAndANullSourceAreRefused) {
  EXPECT_EQ(E_POINTER, helper_->get_SoundFile(nullptr));
  EXPECT_EQ(E_POINTER, helper_->IsUrlProtected(nullptr, nullptr));
  UniqueBstr popup(SysAllocString(L"http://a/"));
  EXPECT_EQ(E_INVALIDARG, helper_->LogPopUrl(popup.get(), nullptr));  // a pop-up needs a source
}

TEST_F(AutomationTest, InterfacesShareOneIdentityAndCountAsServerLocks) {
  // Every interface but IObjectSafety is the object itself; IObjectSafety leads back to it.
  const IID* const iid[] = {&IID_IUnknown, &IID_IDispatch, &IID_IZelkHelper, &IID_IObjectSafety};
  ComPtr<IUnknown> refs[5];
  for (int i = 0; i < 4; ++i) ASSERT_EQ(S_OK, helper_->QueryInterface(*iid[i], refs[i].put_void()));
  ASSERT_EQ(S_OK, refs[3]->QueryInterface(IID_IUnknown, refs[4].put_void()));
  for (int i = 1; i < 5; ++i) EXPECT_EQ(i != 3, refs[i].get() == refs[0].get()) << i;
  EXPECT_EQ(5, module_.locks());
  UINT count = 0;
  EXPECT_EQ(S_OK, helper_->GetTypeInfoCount(&count));
  EXPECT_EQ(1u, count);

  void* missing = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, helper_->QueryInterface(IID_ISupportErrorInfo, &missing));
  EXPECT_EQ(nullptr, missing);
  for (ComPtr<IUnknown>& reference : refs) reference.reset();
  EXPECT_EQ(0, module_.locks());
}

TEST_F(AutomationTest, SafetyOptionsAreOneValueForTheWholeObject) {
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IObjectSafety, safety.put_void()));
  // Each row sets options through one interface, then reads them through another.
  const struct { REFIID set_on; DWORD mask, options; HRESULT set; REFIID get_on;
                 HRESULT get; DWORD supported, enabled; } steps[] = {
      {IID_IDispatch, 0, 0, S_OK, IID_IDispatch, S_OK, 1, 0},
      {IID_IDispatch, 1, 1, S_OK, IID_IZelkHelper, S_OK, 1, 1},
      {IID_IDispatch, 2, 0, E_FAIL, IID_IDispatch, S_OK, 1, 1},
      {IID_IDispatch, 3, 0, E_FAIL, IID_IUnknown, S_OK, 1, 1},
      {IID_ISupportErrorInfo, 1, 0, E_NOINTERFACE, IID_ISupportErrorInfo, E_NOINTERFACE, 0, 0},
      {IID_IZelkHelper, 1, 0, S_OK, IID_IDispatch, S_OK, 1, 0},
  };
  for (const auto& step : steps) {
    DWORD supported = 0xdeadbeef, enabled = 0xdeadbeef;
    EXPECT_EQ(step.set, safety->SetInterfaceSafetyOptions(step.set_on, step.mask, step.options));
    EXPECT_EQ(step.get, safety->GetInterfaceSafetyOptions(step.get_on, &supported, &enabled));
    EXPECT_EQ(step.supported, supported);
    EXPECT_EQ(step.enabled, enabled) << step.mask;
  }
  DWORD enabled = 0;
  EXPECT_EQ(E_POINTER, safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled));
}

// Kept per session and handle: two sessions' windows may share a handle value.
TEST_F(AutomationTest, StartupOptionsAreTakenOncePerSessionWithAutoShowFallback) {
  EXPECT_EQ(S_OK, helper_->put_AutoShow(VARIANT_FALSE));
  const DWORD sets[][3] = {{1, 1, 5}, {1, 1, 7}, {1, DWORD(-1), DWORD(-1)}, {1, 0, 3}, {2, 1, 9}};
  for (const auto& set : sets) {
    module_.callerSession = set[0];
    EXPECT_EQ(S_OK, helper_->SetStartupOption(long(set[1]), long(set[2])));
  }
  EXPECT_EQ(E_POINTER, helper_->GetStartupOption(1, nullptr));  // takes nothing
  const long takes[][3] = {{2, 0, 0}, {1, 1, 7}, {1, 1, 0}, {2, 1, 9},
                           {2, 1, 0}, {1, 0, 3}, {1, -1, -1}};
  for (const auto& take : takes) {
    module_.callerSession = DWORD(take[0]);
    EXPECT_EQ(take[2], Option(take[1])) << take[0] << " " << take[1];
  }
  // A caller whose session is unknown can neither leave nor take an option.
  module_.callerSessionStatus = E_ACCESSDENIED;
  long option = 0x5555;
  EXPECT_EQ(E_ACCESSDENIED, helper_->SetStartupOption(4, 4));
  EXPECT_EQ(E_ACCESSDENIED, helper_->GetStartupOption(4, &option));
  EXPECT_EQ(0x5555, option);
  module_.callerSessionStatus = S_OK;
  EXPECT_EQ(S_OK, helper_->put_AutoShow(VARIANT_TRUE));
  EXPECT_EQ(1, Option(4));
}

}  // namespace
}  // namespace zelk
