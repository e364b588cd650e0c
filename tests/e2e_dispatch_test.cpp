// Dispatch by name through the registered type library, in process: the name
// cache, the fall-through to the type information's own lookup, and a library
// that cannot be loaded. Invoke, and a member's status in its exception: the
// script clients (late_bound.js checks the exception's number).
#include <windows.h>

#include <memory>

#include "automation/type_info_holder.h"
#include "automation/zelk_helper.h"
#include "gtest/gtest.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.CreateSettingsKey();
    sandbox_.SetDword("Software\\Zelk", "AutoShow", 1);
    helper_ = std::make_unique<ZelkHelper>(&module_);
    ASSERT_EQ(S_OK, helper_->Load());
  }

  testing::RegistrySandbox sandbox_;
  testing::ScopedComInitializer com_;
  testing::TestModule module_;
  std::unique_ptr<ZelkHelper> helper_;
};

TEST_F(DispatchTest, NamesResolveToTheirPublishedIds) {
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
    EXPECT_EQ(test.status, helper_->GetIDsOfNames(IID_NULL, const_cast<LPOLESTR*>(test.names),
                                                  test.count, LOCALE_USER_DEFAULT, ids));
    if (test.status != S_OK) continue;
    EXPECT_EQ(test.ids[0], ids[0]) << test.names[0];
    EXPECT_EQ(test.ids[1], ids[1]) << test.names[0];
  }
  ComPtr<ITypeInfo> first, fifth;
  ASSERT_EQ(S_OK, helper_->GetTypeInfo(0, LOCALE_USER_DEFAULT, first.put()));
  ASSERT_EQ(S_OK, helper_->GetTypeInfo(5, LOCALE_USER_DEFAULT, fifth.put()));
  EXPECT_EQ(first.get(), fifth.get());
}

TEST_F(DispatchTest, UnloadableLibraryFailsWithTheLoadersStatus) {
  // A holder for a library id nobody registered stands for an unregistered library.
  const GUID kUnregistered = {0x0badf00d, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};
  TypeInfoHolder holder(IID_IZelkHelper, kUnregistered, 1, 0);
  ITypeInfo* type_info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, holder.GetTypeInfo(&module_, 0, &type_info));
  EXPECT_EQ(nullptr, type_info);
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"AutoShow")};
  DISPID id = 0;
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, holder.GetIDsOfNames(&module_, names, 1, 0, &id));
  DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(TYPE_E_LIBNOTREGISTERED,
            holder.Invoke(&module_, static_cast<IZelkHelper*>(helper_.get()), 10, 0,
                          DISPATCH_PROPERTYGET, &no_arguments, nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace zelk
