#include "bench/helper_calls.h"

#include <cstdio>

#include "platform/status.h"
#include "platform/unique_resource.h"
#include "safelist/safe_list.h"

namespace zelk {
namespace bench {

HRESULT ReadAutoShow(IZelkHelper* helper) {
  VARIANT_BOOL value = 1;
  ZELK_RETURN_IF_FAILED(helper->get_AutoShow(&value));
  return (value == VARIANT_TRUE || value == VARIANT_FALSE) ? S_OK : E_UNEXPECTED;
}

HRESULT ExpectProtectionCode(IZelkHelper* helper, BSTR url, long expected) {
  long code = -1;
  ZELK_RETURN_IF_FAILED(helper->IsUrlProtected(url, &code));
  return code == expected ? S_OK : E_UNEXPECTED;
}

HRESULT AskUnprotectedUrl(IZelkHelper* helper, BSTR url) {
  return ExpectProtectionCode(helper, url, kNotProtected);
}

HRESULT ProtectThenUnprotect(IZelkHelper* helper, BSTR url) {
  ZELK_RETURN_IF_FAILED(helper->ProtectPage(url));
  return helper->UnprotectUrl(url);
}

HRESULT CheckProtectThenUnprotect(IZelkHelper* helper, BSTR url) {
  ZELK_RETURN_IF_FAILED(ExpectProtectionCode(helper, url, kNotProtected));
  ZELK_RETURN_IF_FAILED(helper->ProtectPage(url));
  ZELK_RETURN_IF_FAILED(ExpectProtectionCode(helper, url, kProtectedByPage));
  ZELK_RETURN_IF_FAILED(helper->UnprotectUrl(url));
  return ExpectProtectionCode(helper, url, kNotProtected);
}

HRESULT CountListed(IZelkHelper* helper, size_t* count) {
  ScopedVariant list;
  ZELK_RETURN_IF_FAILED(helper->get_SafeList(list.get_mutable()));
  if (list.get().vt != (VT_ARRAY | VT_VARIANT) || list.get().parray == nullptr) {
    return E_UNEXPECTED;
  }
  LONG lower = 0;
  LONG upper = 0;
  ZELK_RETURN_IF_FAILED(SafeArrayGetLBound(list.get().parray, 1, &lower));
  ZELK_RETURN_IF_FAILED(SafeArrayGetUBound(list.get().parray, 1, &upper));
  *count = static_cast<size_t>(upper - lower + 1);
  return S_OK;
}

HRESULT ExpectListed(IZelkHelper* helper, size_t expected) {
  size_t count = 0;
  ZELK_RETURN_IF_FAILED(CountListed(helper, &count));
  if (count == expected) return S_OK;
  std::fprintf(stderr, "zelk_bench: the object holds %u safe-list entries, %u expected\n",
               static_cast<unsigned>(count), static_cast<unsigned>(expected));
  return E_UNEXPECTED;
}

}  // namespace bench
}  // namespace zelk
