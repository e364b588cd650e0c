// check, protect, unprotect and list: the safe list.
#include "platform/status.h"
#include "platform/text.h"
#include "safelist/entry_line.h"
#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/safe_list_file.h"
#include "tools/zelkctl/typed_safe_list.h"

namespace zelk {
namespace ctl {

namespace {

struct ProtectionMeaning {
  long code;
  const wchar_t* meaning;
};

const ProtectionMeaning kProtectionMeanings[] = {
    {0, L"not protected"},
    {1, L"protected by a page entry"},
    {2, L"protected by a site entry"},
    {4, L"protected by a domain entry"},
    {8, L"local page (ProtectLocal is on)"},
    {16, L"secure page (ProtectHttps is on)"},
};

constexpr wchar_t kUrlWithScheme[] =
    L"the URL does not decompose; give it in full, with its scheme: http://www.example.com/";
constexpr wchar_t kUrlEvenWithHttp[] =
    L"the URL does not decompose, not even with http:// before it";

std::wstring MeaningOf(long code) {
  for (const ProtectionMeaning& entry : kProtectionMeanings) {
    if (entry.code == code) return entry.meaning;
  }
  return L"unknown protection code";
}

const wchar_t* HintFor(HRESULT status, const wchar_t* invalid_url_hint) {
  return status == E_INVALIDARG ? invalid_url_hint : nullptr;
}

// The SafeList property holds a one-dimensional array of VARIANTs, each a
// BSTR; anything else is not what the interface promises.
HRESULT KeysFromArray(SAFEARRAY* array, std::vector<std::wstring>* keys) {
  if (array == nullptr || SafeArrayGetDim(array) != 1) return E_UNEXPECTED;
  LONG lower = 0, upper = -1;
  ZELK_RETURN_IF_FAILED(SafeArrayGetLBound(array, 1, &lower));
  ZELK_RETURN_IF_FAILED(SafeArrayGetUBound(array, 1, &upper));
  std::vector<std::wstring> result;
  for (LONG index = lower; index <= upper; ++index) {
    ScopedVariant element;
    ZELK_RETURN_IF_FAILED(SafeArrayGetElement(array, &index, element.get_mutable()));
    if (element.get().vt != VT_BSTR) return E_UNEXPECTED;
    BSTR key = element.get().bstrVal;
    result.emplace_back(key == nullptr ? std::wstring() : std::wstring(key, SysStringLen(key)));
  }
  keys->swap(result);
  return S_OK;
}

HRESULT ListingOfUrls(IZelkHelper* helper, std::wstring* listing) {
  std::vector<std::wstring> keys;
  ZELK_RETURN_IF_FAILED(FetchSafeList(helper, &keys));
  for (const std::wstring& key : keys) *listing += Visible(key) + L"\n";
  return S_OK;
}

// The user's entries, then those of machine policy, each on a line that
// starts with "policy": they are not the user's, and a list import refuses
// them rather than copy a blocked URL into the user's list.
HRESULT ListingWithTypes(IZelkHelper* helper, std::wstring* listing) {
  std::vector<TypedEntry> entries;
  ZELK_RETURN_IF_FAILED(FetchTypedSafeList(helper, &entries));
  Policy policy;
  ZELK_RETURN_IF_FAILED(ReadMachinePolicy(&policy));
  for (const TypedEntry& entry : entries) *listing += Visible(EntryLine(entry)) + L"\n";
  for (const ManagedEntry& entry : policy.safeList) {
    *listing += L"policy " + ManagedEntryLine(L"SafeList", entry) + L"\n";
  }
  for (const ManagedEntry& entry : policy.blockList) {
    *listing += L"policy " + ManagedEntryLine(L"BlockList", entry) + L"\n";
  }
  return S_OK;
}

}  // namespace

HRESULT FetchSafeList(IZelkHelper* helper, std::vector<std::wstring>* keys) {
  ScopedVariant list;
  ZELK_RETURN_IF_FAILED(helper->get_SafeList(list.Receive()));
  if (list.get().vt != (VT_ARRAY | VT_VARIANT)) return E_UNEXPECTED;
  return KeysFromArray(list.get().parray, keys);
}

int RunCheck(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  UniqueBstr url;
  HRESULT status = BstrFromWide(call.operand(0), &url);
  if (FAILED(status)) return call.Failure(L"preparing the URL", status);
  long code = 0;
  status = helper->IsUrlProtected(url.get(), &code);
  if (FAILED(status))
    return call.Failure(L"IsUrlProtected", status, HintFor(status, kUrlWithScheme));
  call.console().Out(std::to_wstring(code) + L" " + MeaningOf(code) + L"\n");
  return kExitSuccess;
}

int RunProtect(Invocation& call) {
  const EntryKind* kind = EntryKindNamed(call.operand(0));
  if (kind == nullptr) {
    return call.UsageError(L"protect a page, a site or a domain, not \"" +
                           Visible(call.operand(0)) + L"\"");
  }
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  UniqueBstr url;
  HRESULT status = BstrFromWide(call.operand(1), &url);
  if (FAILED(status)) return call.Failure(L"preparing the URL", status);
  status = (helper->*kind->protect)(url.get());
  if (FAILED(status)) return call.Failure(kind->member, status, HintFor(status, kUrlEvenWithHttp));
  call.console().Out(L"protected as a " + std::wstring(EntryTypeWord(kind->type)) + L": " +
                     Visible(call.operand(1)) + L"\n");
  return kExitSuccess;
}

int RunUnprotect(Invocation& call) {
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  UniqueBstr url;
  HRESULT status = BstrFromWide(call.operand(0), &url);
  if (FAILED(status)) return call.Failure(L"preparing the URL", status);
  status = helper->UnprotectUrl(url.get());
  if (FAILED(status)) return call.Failure(L"UnprotectUrl", status, HintFor(status, kUrlWithScheme));
  call.console().Out(L"no safe-list entry covers " + Visible(call.operand(0)) + L" any more\n");
  return kExitSuccess;
}

int RunList(Invocation& call) {
  const bool urls_only = call.operand_count() == 1;
  if (urls_only && !EqualsIgnoringCase(call.operand(0), L"--urls")) {
    return call.UsageError(L"\"" + Visible(call.operand(0)) +
                           L"\" is neither --urls nor a list subcommand (export, import)");
  }
  IZelkHelper* helper = call.Connect();
  if (helper == nullptr) return kExitFailure;
  std::wstring listing;
  const HRESULT status =
      urls_only ? ListingOfUrls(helper, &listing) : ListingWithTypes(helper, &listing);
  if (FAILED(status)) return call.Failure(L"reading the safe list", status);
  call.console().Out(listing);
  return kExitSuccess;
}

}  // namespace ctl
}  // namespace zelk
