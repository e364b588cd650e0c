// Dispatch by name through the registered type library, in process: the name
// cache and the fall-through to the type information's own lookup. Invoke, and
// a member's status in its exception: the script clients (late_bound.js checks
// the exception's number); an unregistered library: e2e_faults_test.
#include <windows.h>

#include "automation/zelk_helper.h"
#include "gtest/gtest.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

TEST(DispatchTest, NamesResolveToTheirPublishedIds) {
  testing::RegistrySandbox sandbox;
  testing::ScopedComInitializer com;
  testing::TestModule module;
  sandbox.CreateSettingsKey();
  ZelkHelper helper(&module);
  ASSERT_EQ(S_OK, helper.Load());
  // Any case, through the type information; one id for a property's get and put;
  // an argument name after its member; ids beyond the names asked for untouched.
  const DISPID kU = 0x5555;
  const struct { const wchar_t* names[2]; UINT count; HRESULT status; DISPID ids[2]; } cases[] = {
      {{L"LogPopUrl"}, 1, S_OK, {21, kU}},      {{L"logpopurl"}, 1, S_OK, {21, kU}},
      {{L"AutoShow"}, 1, S_OK, {10, kU}},       {{L"IsUrlProtected"}, 1, S_OK, {1, kU}},
      {{L"CheckSoftPopup"}, 1, S_OK, {27, kU}}, {{L"LogPopUrl", L"PopUrl"}, 2, S_OK, {21, 0}},
      {{L"NoSuchMember"}, 0, S_OK, {kU, kU}},   {{L"NoSuchMember"}, 1, DISP_E_UNKNOWNNAME, {}},
  };
  for (const auto& test : cases) {
    DISPID ids[2] = {kU, kU};
    EXPECT_EQ(test.status, helper.GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(test.names),
                                                  test.count, LOCALE_USER_DEFAULT, ids));
    if (test.status != S_OK) continue;
    EXPECT_EQ(test.ids[0], ids[0]) << test.names[0];
    EXPECT_EQ(test.ids[1], ids[1]) << test.names[0];
  }
  ComPtr<ITypeInfo> first, fifth;
  ASSERT_EQ(S_OK, helper.GetTypeInfo(0, LOCALE_USER_DEFAULT, first.put()));
  ASSERT_EQ(S_OK, helper.GetTypeInfo(5, LOCALE_USER_DEFAULT, fifth.put()));
  EXPECT_EQ(first.get(), fifth.get());
}

}  // namespace
}  // namespace zelk
