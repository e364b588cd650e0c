// The one shared automation object of the server. Every client holds the same
// object; its AddRef and Release are locks on the hosting module, so a client's
// release never destroys it. The owner (the class object) builds it, calls
// Load() once, and destroys it at server exit.
#pragma once

#include <windows.h>
#include <objsafe.h>

#include "automation/module_services.h"
#include "automation/settings_store.h"
#include "automation/startup_options.h"
#include "policy/live_policy.h"
#include "safelist/safe_list.h"
#include "zelk_admin.h"

namespace zelk {

class ZelkHelper final : public IZelkHelper {
 public:
  explicit ZelkHelper(ModuleServices* module);
  ~ZelkHelper() = default;
  ZelkHelper(const ZelkHelper&) = delete;
  ZelkHelper& operator=(const ZelkHelper&) = delete;

  // The loading step of construction: reads the settings, the safe list and
  // the machine policy, which stays live.
  // Its status is what every creation of the object returns if it failed.
  HRESULT Load();

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID locale, ITypeInfo** type_info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT name_count, LCID locale,
                             DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* bad_argument) override;

  // IZelkHelper: safe list
  STDMETHODIMP IsUrlProtected(BSTR bstrUrl, long* pVal) override;
  STDMETHODIMP UnprotectUrl(BSTR bstrUrl) override;
  STDMETHODIMP ProtectPage(BSTR bstrUrl) override;
  STDMETHODIMP ProtectSite(BSTR bstrUrl) override;
  STDMETHODIMP ProtectDomain(BSTR bstrUrl) override;
  STDMETHODIMP get_SafeList(VARIANT* pVal) override;

  // IZelkHelper: settings
  STDMETHODIMP get_AutoShow(VARIANT_BOOL* pVal) override;
  STDMETHODIMP put_AutoShow(VARIANT_BOOL value) override;
  STDMETHODIMP get_PlaySound(VARIANT_BOOL* pVal) override;
  STDMETHODIMP put_PlaySound(VARIANT_BOOL value) override;
  STDMETHODIMP get_SoundFile(BSTR* pVal) override;
  STDMETHODIMP put_SoundFile(BSTR value) override;
  STDMETHODIMP get_TotalPopups(long* pVal) override;
  STDMETHODIMP IncrementTotalPopups(long Count) override;
  STDMETHODIMP get_ProtectLocal(VARIANT_BOOL* pVal) override;
  STDMETHODIMP put_ProtectLocal(VARIANT_BOOL value) override;
  STDMETHODIMP get_ProtectHttps(VARIANT_BOOL* pVal) override;
  STDMETHODIMP put_ProtectHttps(VARIANT_BOOL value) override;
  STDMETHODIMP get_LogPopup(VARIANT_BOOL* pVal) override;
  STDMETHODIMP put_LogPopup(VARIANT_BOOL value) override;
  STDMETHODIMP get_CheckSoftPopup(VARIANT_BOOL* pVal) override;
  STDMETHODIMP put_CheckSoftPopup(VARIANT_BOOL value) override;

  // IZelkHelper: pop-up log
  STDMETHODIMP LogPopUrl(BSTR PopUrl, BSTR SrcUrl) override;
  STDMETHODIMP get_Logs(BSTR* pVal) override;
  STDMETHODIMP ClearLogs() override;

  // IZelkHelper: startup options
  STDMETHODIMP SetStartupOption(long hWnd, long StartupOption) override;
  STDMETHODIMP GetStartupOption(long hWnd, long* pStartupOption) override;

 private:
  // The object's second interface pointer; shares the object's identity and
  // its one set of enabled options.
  class ObjectSafety : public IObjectSafety {
   public:
    explicit ObjectSafety(ZelkHelper* owner) : owner_(owner) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* supported,
                                           DWORD* enabled) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD option_set_mask,
                                           DWORD enabled_options) override;

   private:
    ZelkHelper* owner_;
  };

  // The policy in force for this call: read again if its key changed.
  const Policy& PolicyInForce();
  // A flag's value: the policy's when it manages the flag, else the user's.
  int32_t EffectiveFlag(ManagedFlag flag, int32_t field);
  HRESULT GetFlag(ManagedFlag flag, int32_t field, VARIANT_BOOL* pVal);
  // E_ACCESSDENIED, changing nothing, while policy manages the flag.
  HRESULT PutFlag(ManagedFlag flag, int32_t* field, VARIANT_BOOL value);
  // E_ACCESSDENIED while policy locks the safe list.
  HRESULT CheckSafeListUnlocked();
  HRESULT Protect(BSTR bstrUrl, EntryType type);
  // Confirms that the object answers to `riid`; the safety options concern
  // only interfaces that the object has.
  HRESULT SupportsInterface(REFIID riid);

  ModuleServices* const module_;
  ObjectSafety objectSafety_;
  DWORD enabledSafetyOptions_ = 0;
  Settings settings_;
  SafeList safeList;
  StartupOptions startupOptions;
  LivePolicy policy_;
};

}  // namespace zelk
