// Safe-list and pop-up log members of the shared object: convert at the edge,
// then hand narrow text to the safe list and the log.
#include <new>
#include <optional>

#include "automation/zelk_helper.h"
#include "platform/status.h"
#include "platform/text.h"
#include "poplog/pop_log.h"

namespace zelk {

// --- Safe list -----------------------------------------------------------------

STDMETHODIMP ZelkHelper::IsUrlProtected(BSTR bstrUrl, long* pVal) {
  if (pVal == nullptr) return E_POINTER;
  // The most frequent call of all: no heap use for a URL of ordinary length.
  StackNarrow url;
  ZELK_RETURN_IF_FAILED(url.Assign(bstrUrl));
  const bool protect_local = EffectiveFlag(kManagedProtectLocal, settings_.protectLocal) != 0;
  const bool protect_https = EffectiveFlag(kManagedProtectHttps, settings_.protectHttps) != 0;
  return safeList.IsProtected(url.c_str(), protect_local, protect_https, &policy_.blockList(),
                              &policy_.managedList(), pVal);
}

HRESULT ZelkHelper::CheckSafeListUnlocked() {
  return PolicyInForce().lockSafeList ? E_ACCESSDENIED : S_OK;
}

STDMETHODIMP ZelkHelper::UnprotectUrl(BSTR bstrUrl) {
  ZELK_RETURN_IF_FAILED(CheckSafeListUnlocked());
  std::string url;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(bstrUrl, &url));
  return safeList.Unprotect(url);
}

HRESULT ZelkHelper::Protect(BSTR bstrUrl, EntryType type) {
  ZELK_RETURN_IF_FAILED(CheckSafeListUnlocked());
  std::string url;
  bool exact = false;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(bstrUrl, &url, &exact));
  // A character the code page cannot hold would be stored as its default
  // character: "/страница" as "/????????", whose first '?' starts the query,
  // so the entry would protect another page than the one asked for.
  if (!exact) return E_INVALIDARG;
  return safeList.Protect(url, type);
}

STDMETHODIMP ZelkHelper::ProtectPage(BSTR bstrUrl) { return Protect(bstrUrl, kPage); }
STDMETHODIMP ZelkHelper::ProtectSite(BSTR bstrUrl) { return Protect(bstrUrl, kSite); }
STDMETHODIMP ZelkHelper::ProtectDomain(BSTR bstrUrl) { return Protect(bstrUrl, kDomain); }

STDMETHODIMP ZelkHelper::get_SafeList(VARIANT* pVal) {
  if (pVal == nullptr) return E_POINTER;
  VariantInit(pVal);
  UniqueSafeArray array(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(safeList.size())));
  if (!array) return E_FAIL;
  LONG index = 0;
  ZELK_RETURN_IF_FAILED(safeList.ForEachEntry([&](const std::string& key, uint32_t) {
    ScopedVariant element;
    UniqueBstr text;
    ZELK_RETURN_IF_FAILED(BstrFromNarrow(key, &text));
    element.get_mutable()->vt = VT_BSTR;
    element.get_mutable()->bstrVal = text.release();
    ZELK_RETURN_IF_FAILED(SafeArrayPutElement(array.get(), &index, element.get_mutable()));
    ++index;
    return S_OK;
  }));
  // Handed over only when complete: a client never sees a half-filled list.
  pVal->vt = VT_ARRAY | VT_VARIANT;
  pVal->parray = array.release();
  return S_OK;
}

// --- Pop-up log --------------------------------------------------------------------

STDMETHODIMP ZelkHelper::LogPopUrl(BSTR PopUrl, BSTR SrcUrl) {
  if (SrcUrl == nullptr) return E_INVALIDARG;
  // Policy's switch outranks the user's either way; without one the log
  // reads the user's own at each call.
  const std::optional<int32_t>& managed = PolicyInForce().flags[kManagedLogPopup];
  if (managed && *managed == 0) return S_OK;
  const LogSwitch logging = managed ? LogSwitch::kManagedOn : LogSwitch::kStoredSetting;
  std::string source;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(SrcUrl, &source));
  if (PopUrl == nullptr) return AppendPopupEntry(nullptr, source, logging);
  std::string popup;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(PopUrl, &popup));
  return AppendPopupEntry(&popup, source, logging);
}

STDMETHODIMP ZelkHelper::get_Logs(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  std::string text;
  ZELK_RETURN_IF_FAILED(ReadLog(&text));
  UniqueBstr logs;
  ZELK_RETURN_IF_FAILED(BstrFromNarrow(text, &logs));
  *pVal = logs.release();
  return S_OK;
}

STDMETHODIMP ZelkHelper::ClearLogs() { return ClearLog(); }

}  // namespace zelk
