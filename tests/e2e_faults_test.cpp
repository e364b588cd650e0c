// Faults while a client is connected: each must reach it as a failure status with nothing
// changed, and calls by name work again once the type library is back. The tests share one
// snapshot and run in this order; the kill comes last. A log held open or read-only:
// pop_log_test (the members return its status unchanged, as the refused registry writes show).
#include <windows.h>

#include "tests/hardening_e2e.h"

namespace zelk {
namespace {

using namespace zelk::testing;

class FaultsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { snapshot_ = new ServerStateSnapshot(); }
  static void TearDownTestSuite() { delete snapshot_; }
  void SetUp() override { ASSERT_EQ(S_OK, CreateServerObject(&helper_)); }
  HRESULT Log() { return helper_->LogPopUrl(nullptr, Bstr(L"http://faults.test/").get()); }

  static inline ServerStateSnapshot* snapshot_ = nullptr;
  ScopedComInitializer com_;
  ComPtr<IZelkHelper> helper_;
};

// Dispatch by name goes through the registered type library; the interface itself does not.
TEST_F(FaultsTest, CallsByNameFailWhileTheTypeLibraryIsUnregisteredThenGetThePublishedIds) {
  const std::string narrow_folder = TestFolder();
  std::wstring folder(narrow_folder.begin(), narrow_folder.end()), path = folder + L"ZelkAdmin.exe";
  ComPtr<ITypeLib> library;
  TLIBATTR* lib = nullptr;
  ASSERT_EQ(S_OK, LoadTypeLib(path.c_str(), library.put()));
  ASSERT_EQ(S_OK, library->GetLibAttr(&lib));
  // Unregistered as /UnregServer does, registered again as /RegServer does.
  ASSERT_EQ(S_OK, UnRegisterTypeLib(lib->guid, lib->wMajorVerNum, lib->wMinorVerNum, lib->lcid,
                                    lib->syskind));
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"TotalPopups")};
  DISPID id = 0;
  ComPtr<ITypeInfo> type_info;
  ScopedVariant result;
  DISPPARAMS none = {};
  const HRESULT by_name[] = {
      helper_->GetIDsOfNames(IID_NULL, names, 1, 0, &id),
      helper_->GetTypeInfo(0, 0, type_info.put()),
      helper_->Invoke(13, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.Receive(), nullptr,
                      nullptr)};  // TotalPopups
  long total = 0;
  EXPECT_EQ(S_OK, helper_->get_TotalPopups(&total)) << "the interface needs no type library";
  ASSERT_EQ(S_OK, RegisterTypeLib(library.get(), &path[0], &folder[0]));
  library->ReleaseTLibAttr(lib);
  for (HRESULT status : by_name) EXPECT_EQ(TYPE_E_LIBNOTREGISTERED, status);

  // The failure was not kept. Any case, through the type information; one id for a
  // property's get and put; an argument name after its member.
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
    EXPECT_TRUE(test.status != S_OK || (test.ids[0] == ids[0] && test.ids[1] == ids[1]))
        << test.names[0] << ": " << ids[0] << ", " << ids[1];
  }
  ComPtr<ITypeInfo> fifth;  // the index is not looked at
  ASSERT_EQ(S_OK, helper_->GetTypeInfo(0, LOCALE_USER_DEFAULT, type_info.put()));
  ASSERT_EQ(S_OK, helper_->GetTypeInfo(5, LOCALE_USER_DEFAULT, fifth.put()));
  EXPECT_EQ(type_info.get(), fifth.get());
}

std::wstring Cache(IZelkHelper* helper) {
  VARIANT_BOOL flag = 0;
  UniqueBstr sound;
  long total = 0;
  std::vector<std::wstring> list = {L"?"};
  helper->get_AutoShow(&flag);
  helper->get_SoundFile(sound.put());
  helper->get_TotalPopups(&total);
  SafeListProperty(helper, &list);
  std::wstring cache = std::to_wstring(flag) + L"," + std::to_wstring(total) + ToWide(sound.get());
  for (const std::wstring& key : list) cache += L" " + key;
  return cache;
}

TEST_F(FaultsTest, RefusedRegistryWritesFailWithTheCacheUnchanged) {
  UniqueBstr kept = Bstr(L"http://kept.faults.test/");
  ASSERT_EQ(S_OK, helper_->ProtectPage(kept.get()));
  const std::wstring cache = Cache(helper_.get());
  std::vector<HRESULT> refused;
  std::wstring cache_after;
  {
    ReadOnlyKeys read_only({kSettingsPath, kSafeListPath});
    refused = {helper_->put_AutoShow(cache[0] == L'0' ? VARIANT_TRUE : VARIANT_FALSE),
               helper_->put_SoundFile(Bstr(L"C:\\after.wav").get()),
               helper_->IncrementTotalPopups(5), Log(), helper_->ClearLogs(),
               helper_->ProtectSite(Bstr(L"http://new.test/").get()),
               helper_->UnprotectUrl(kept.get())};
    cache_after = Cache(helper_.get());
  }
  EXPECT_EQ(std::vector<HRESULT>(refused.size(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)), refused);
  EXPECT_EQ(cache, cache_after) << "the cache took what the registry refused";
  EXPECT_EQ(S_OK, helper_->UnprotectUrl(kept.get())) << "write access was not given back";
}

TEST_F(FaultsTest, KilledServerLosesNothingAcknowledgedAndANewOneStarts) {
  const DWORD total = ReadSettingDword("TotalPopups");
  const DWORD count = ReadSettingDword("LogCount");
  for (int call = 0; call < 100; ++call) {
    ASSERT_EQ(S_OK, helper_->IncrementTotalPopups(1));
    ASSERT_EQ(S_OK, Log());
  }
  UniqueHandle server(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, ServerProcessId()));
  ASSERT_TRUE(TerminateProcess(server.get(), 9));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(server.get(), 10000));
  long fresh_total = 0;
  EXPECT_TRUE(FAILED(helper_->get_TotalPopups(&fresh_total))) << "the session did not hear of it";
  HRESULT created = CreateServerObject(&helper_);  // releases the dead proxy first
  if (created == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)) {
    // Wine 8's RpcSs never notices that a registered local server died and keeps handing
    // out its class object; stopped, it restarts on demand, empty. Windows needs no help.
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE rpcss = OpenServiceA(manager, "RpcSs", SERVICE_STOP | SERVICE_QUERY_STATUS);
    SERVICE_STATUS state = {};
    ControlService(rpcss, SERVICE_CONTROL_STOP, &state);
    while (QueryServiceStatus(rpcss, &state) && state.dwCurrentState != SERVICE_STOPPED) Sleep(20);
    CloseServiceHandle(rpcss);
    CloseServiceHandle(manager);
    created = CreateServerObject(&helper_);
  }
  ASSERT_EQ(S_OK, created);
  EXPECT_EQ(S_OK, helper_->get_TotalPopups(&fresh_total));
  EXPECT_EQ(static_cast<long>(total + 100), fresh_total);
  EXPECT_EQ(count + 100, ReadSettingDword("LogCount"));
  EXPECT_EQ(count + 100, LogRows(snapshot_->log_path()));
}

}  // namespace
}  // namespace zelk
