// Identity, IDispatch and IObjectSafety of the shared object, and its
// construction. The members of IZelkHelper live in the *_members.cpp files.
#include "automation/zelk_helper.h"

#include "automation/type_info_holder.h"
#include "platform/status.h"

namespace zelk {

namespace {

// The only safety option the object supports.
constexpr DWORD kSupportedSafetyOptions = INTERFACESAFE_FOR_UNTRUSTED_CALLER;

}  // namespace

ZelkHelper::ZelkHelper(ModuleServices* module) : module_(module), objectSafety_(this) {}

HRESULT ZelkHelper::Load() {
  ZELK_RETURN_IF_FAILED(LoadSettings(&settings_));
  ZELK_RETURN_IF_FAILED(safeList.Load());
  return policy_.Start();
}

const Policy& ZelkHelper::PolicyInForce() {
  policy_.Refresh();
  return policy_.policy();
}

// --- IUnknown ------------------------------------------------------------------

STDMETHODIMP ZelkHelper::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  // IUnknown answers with the dual interface: that pointer is the identity.
  if (IsEqualIID(riid, IID_IZelkHelper) || IsEqualIID(riid, IID_IUnknown) ||
      IsEqualIID(riid, IID_IDispatch)) {
    *object = static_cast<IZelkHelper*>(this);
  } else if (IsEqualIID(riid, IID_IObjectSafety)) {
    *object = static_cast<IObjectSafety*>(&objectSafety_);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) ZelkHelper::AddRef() { return module_->Lock(); }
STDMETHODIMP_(ULONG) ZelkHelper::Release() { return module_->Unlock(); }

// --- IDispatch -----------------------------------------------------------------

STDMETHODIMP ZelkHelper::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP ZelkHelper::GetTypeInfo(UINT /*index*/, LCID locale, ITypeInfo** type_info) {
  return ZelkHelperTypeInfo().GetTypeInfo(module_, locale, type_info);
}

STDMETHODIMP ZelkHelper::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* names, UINT name_count,
                                       LCID locale, DISPID* ids) {
  return ZelkHelperTypeInfo().GetIDsOfNames(module_, names, name_count, locale, ids);
}

STDMETHODIMP ZelkHelper::Invoke(DISPID id, REFIID /*riid*/, LCID locale, WORD flags,
                                DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                UINT* bad_argument) {
  return ZelkHelperTypeInfo().Invoke(module_, static_cast<IZelkHelper*>(this), id, locale,
                                     flags, params, result, exception, bad_argument);
}

// --- IObjectSafety ---------------------------------------------------------------

HRESULT ZelkHelper::SupportsInterface(REFIID riid) {
  void* object = nullptr;
  HRESULT status = QueryInterface(riid, &object);
  if (SUCCEEDED(status)) static_cast<IUnknown*>(object)->Release();
  return status;
}

STDMETHODIMP ZelkHelper::ObjectSafety::QueryInterface(REFIID riid, void** object) {
  return owner_->QueryInterface(riid, object);
}
STDMETHODIMP_(ULONG) ZelkHelper::ObjectSafety::AddRef() { return owner_->AddRef(); }
STDMETHODIMP_(ULONG) ZelkHelper::ObjectSafety::Release() { return owner_->Release(); }

STDMETHODIMP ZelkHelper::ObjectSafety::GetInterfaceSafetyOptions(REFIID riid, DWORD* supported,
                                                                 DWORD* enabled) {
  if (supported == nullptr || enabled == nullptr) return E_POINTER;
  HRESULT status = owner_->SupportsInterface(riid);
  if (FAILED(status)) {
    *supported = 0;
    *enabled = 0;
    return status;
  }
  *supported = kSupportedSafetyOptions;
  *enabled = owner_->enabledSafetyOptions_;
  return S_OK;
}

STDMETHODIMP ZelkHelper::ObjectSafety::SetInterfaceSafetyOptions(REFIID riid,
                                                                 DWORD option_set_mask,
                                                                 DWORD enabled_options) {
  if (FAILED(owner_->SupportsInterface(riid))) return E_NOINTERFACE;
  if ((option_set_mask & ~kSupportedSafetyOptions) != 0) return E_FAIL;
  DWORD& options = owner_->enabledSafetyOptions_;
  options = (options & ~option_set_mask) | (option_set_mask & enabled_options);
  return S_OK;
}

}  // namespace zelk
