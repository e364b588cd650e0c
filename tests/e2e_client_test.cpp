// A compiled client of the registered server, through the marshalled dual
// interface: settings written through, the safe list, the log, identity and
// safety options across the process boundary.
#include <windows.h>
#include <objsafe.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/e2e_support.h"

namespace zelk {
namespace {

using namespace zelk::testing;

class ServerClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.status()));
    ASSERT_EQ(S_OK, CreateServerObject(&helper_));
  }

  ScopedComInitializer com_;
  ComPtr<IZelkHelper> helper_;
};

TEST_F(ServerClientTest, SettingsAreWrittenThroughToTheRegistry) {
  VARIANT_BOOL saved = 0;
  ASSERT_EQ(S_OK, helper_->get_CheckSoftPopup(&saved));
  ASSERT_EQ(S_OK, helper_->put_CheckSoftPopup(123));
  EXPECT_EQ(1u, ReadSettingDword("CheckSoftPopup"));
  VARIANT_BOOL value = 0;
  ASSERT_EQ(S_OK, helper_->get_CheckSoftPopup(&value));
  EXPECT_EQ(VARIANT_TRUE, value);
  ASSERT_EQ(S_OK, helper_->put_CheckSoftPopup(saved));

  long total = 0;
  ASSERT_EQ(S_OK, helper_->get_TotalPopups(&total));
  ASSERT_EQ(S_OK, helper_->IncrementTotalPopups(2));
  EXPECT_EQ(static_cast<DWORD>(total + 2), ReadSettingDword("TotalPopups"));
  ASSERT_EQ(S_OK, helper_->IncrementTotalPopups(-2));

}

TEST_F(ServerClientTest, LogRowsAreAppendedReadAndCleared) {
  VARIANT_BOOL logging = 0;
  ASSERT_EQ(S_OK, helper_->get_LogPopup(&logging));
  ASSERT_EQ(S_OK, helper_->put_LogPopup(VARIANT_TRUE));
  ASSERT_EQ(S_OK, helper_->ClearLogs());
  EXPECT_EQ(0u, ReadSettingDword("LogCount"));

  UniqueBstr logs;
  ASSERT_EQ(S_OK, helper_->get_Logs(logs.put()));
  EXPECT_EQ(L"<TR><TD colspan=3 align=center><font size=2>No logs avaliable.</font></TD></TR>",
            ToWide(logs.get()));

  UniqueBstr popup = Bstr(L"http://popup.e2e.test/a-rather-long-path/page.html");
  UniqueBstr source = Bstr(L"http://source.e2e.test/");
  ASSERT_EQ(S_OK, helper_->LogPopUrl(popup.get(), source.get()));
  ASSERT_EQ(S_OK, helper_->LogPopUrl(nullptr, source.get()));
  EXPECT_EQ(E_INVALIDARG, helper_->LogPopUrl(popup.get(), nullptr));
  EXPECT_EQ(2u, ReadSettingDword("LogCount"));

  ASSERT_EQ(S_OK, helper_->get_Logs(logs.put()));
  const std::wstring text = ToWide(logs.get());
  EXPECT_NE(std::wstring::npos,
            text.find(L"<A href='http://popup.e2e.test/a-rather-long-path/page.html' target=_blank>"
                      L"http://popup.e2e.test/a-rather-...</A>"));
  EXPECT_NE(std::wstring::npos, text.find(L"<TR><TD><font size=2>?{/font></TD><TD><font size=2><A "
                                          L"href='http://source.e2e.test/'"));
  EXPECT_EQ(std::wstring::npos, text.find(L'\r'));
  EXPECT_EQ(2, std::count(text.begin(), text.end(), L'\n'));

  ASSERT_EQ(S_OK, helper_->ClearLogs());
  EXPECT_EQ(0u, ReadSettingDword("LogCount"));
  ASSERT_EQ(S_OK, helper_->put_LogPopup(logging));
}

TEST_F(ServerClientTest, IdentityAndSafetyOptionsCrossTheProcessBoundary) {
  ComPtr<IUnknown> identity;
  ComPtr<IObjectSafety> safety;
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IUnknown, identity.put_void()));
  ASSERT_EQ(S_OK, helper_->QueryInterface(IID_IObjectSafety, safety.put_void()));
  ComPtr<IUnknown> from_safety;
  ASSERT_EQ(S_OK, safety->QueryInterface(IID_IUnknown, from_safety.put_void()));
  EXPECT_EQ(identity.get(), from_safety.get());
  ComPtr<IUnknown> missing;
  EXPECT_EQ(E_NOINTERFACE, helper_->QueryInterface(IID_ISupportErrorInfo, missing.put_void()));

  DWORD supported = 0, enabled = 0;
  ASSERT_EQ(S_OK, safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled));
  EXPECT_EQ(1u, supported);
  EXPECT_EQ(E_FAIL, safety->SetInterfaceSafetyOptions(IID_IDispatch, 2, 2));
}

}  // namespace
}  // namespace zelk
