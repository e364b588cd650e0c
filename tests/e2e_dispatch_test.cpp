// Dispatch by name through the registered type library, in process: the name
// cache, the fall-through to the type information's own lookup, Invoke, and a
// library that cannot be loaded.
#include <windows.h>

#include <memory>

#include "automation/type_info_holder.h"
#include "automation/zelk_helper.h"
#include "gtest/gtest.h"
#include "tests/registry_sandbox.h"
#include "tests/test_module.h"

namespace zelk {
namespace {

using testing::RegistrySandbox;
using testing::TestModule;

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.CreateSettingsKey();
    sandbox_.SetDword("Software\\Zelk", "AutoShow", 1);
    helper_ = std::make_unique<ZelkHelper>(&module_);
    ASSERT_EQ(S_OK, helper_->Load());
  }
  DISPID IdOf(const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0x5555;
    EXPECT_EQ(S_OK, helper_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << name;
    return id;
  }

  RegistrySandbox sandbox_;
  testing::ScopedComInitializer com_;
  TestModule module_;
  std::unique_ptr<ZelkHelper> helper_;
};

TEST_F(DispatchTest, NamesResolveToTheirPublishedIds) {
  EXPECT_EQ(21, IdOf(L"LogPopUrl"));
  EXPECT_EQ(21, IdOf(L"logpopurl"));  // any case, through the type information
  EXPECT_EQ(10, IdOf(L"AutoShow"));   // one id for the get and the put
  EXPECT_EQ(1, IdOf(L"IsUrlProtected"));
  EXPECT_EQ(27, IdOf(L"CheckSoftPopup"));

  LPOLESTR with_argument[] = {const_cast<LPOLESTR>(L"LogPopUrl"), const_cast<LPOLESTR>(L"PopUrl")};
  DISPID ids[2] = {0x5555, 0x5555};
  EXPECT_EQ(S_OK, helper_->GetIDsOfNames(IID_NULL, with_argument, 2, LOCALE_USER_DEFAULT, ids));
  EXPECT_EQ(21, ids[0]);
  EXPECT_EQ(0, ids[1]);

  LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
  DISPID id = 0;
  EXPECT_EQ(DISP_E_UNKNOWNNAME, helper_->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id));

  ComPtr<ITypeInfo> first, fifth;
  ASSERT_EQ(S_OK, helper_->GetTypeInfo(0, LOCALE_USER_DEFAULT, first.put()));
  ASSERT_EQ(S_OK, helper_->GetTypeInfo(5, LOCALE_USER_DEFAULT, fifth.put()));
  EXPECT_EQ(first.get(), fifth.get());

  DISPID untouched = 0x5555;
  EXPECT_EQ(S_OK, helper_->GetIDsOfNames(IID_NULL, unknown, 0, LOCALE_USER_DEFAULT, &untouched));
  EXPECT_EQ(0x5555, untouched);
}

TEST_F(DispatchTest, InvokeReachesTheMembers) {
  DISPPARAMS no_arguments = {nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(S_OK, helper_->Invoke(10, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                  &no_arguments, &result, nullptr, nullptr));
  EXPECT_EQ(VT_BOOL, result.vt);
  EXPECT_EQ(VARIANT_TRUE, result.boolVal);

  // A method's failure comes back as an exception whose code is the status.
  VARIANT arguments[2];
  VariantInit(&arguments[0]);
  VariantInit(&arguments[1]);
  arguments[0].vt = VT_BSTR;  // SrcUrl, last argument first
  arguments[0].bstrVal = nullptr;
  arguments[1].vt = VT_BSTR;
  arguments[1].bstrVal = nullptr;
  DISPPARAMS log_call = {arguments, nullptr, 2, 0};
  EXCEPINFO exception = {};
  EXPECT_EQ(DISP_E_EXCEPTION, helper_->Invoke(21, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                              &log_call, nullptr, &exception, nullptr));
  EXPECT_EQ(E_INVALIDARG, exception.scode);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);

  EXPECT_EQ(DISP_E_MEMBERNOTFOUND, helper_->Invoke(99, IID_NULL, LOCALE_USER_DEFAULT,
                                                   DISPATCH_METHOD, &no_arguments, nullptr,
                                                   nullptr, nullptr));
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
