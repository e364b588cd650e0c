#include "tools/zelkctl/typed_safe_list.h"

#include "platform/registry_key.h"
#include "platform/settings_layout.h"
#include "platform/status.h"
#include "safelist/entry_line.h"
#include "safelist/safe_list.h"
#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/registered_server.h"

namespace zelk {
namespace ctl {

namespace {

constexpr DWORD kPageType = kPage;

const EntryKind kEntryKinds[] = {
    {kPage, L"ProtectPage", &IZelkHelper::ProtectPage},
    {kSite, L"ProtectSite", &IZelkHelper::ProtectSite},
    {kDomain, L"ProtectDomain", &IZelkHelper::ProtectDomain},
};

// The type stored in the default value of the SafeList subkey named
// `key_text`. The name is given as wide text so that it reaches the registry
// unchanged by any code page.
HRESULT ReadStoredType(HKEY list_key, const std::wstring& key_text, DWORD* type) {
  DWORD value = 0;
  DWORD value_type = REG_NONE;
  DWORD size = sizeof(value);
  const LONG result = RegGetValueW(list_key, key_text.c_str(), nullptr, RRF_RT_ANY | RRF_NOEXPAND,
                                   &value_type, &value, &size);
  // No subkey, no default value, or one longer than a DWORD: a page to the server.
  if (result == ERROR_FILE_NOT_FOUND || result == ERROR_MORE_DATA) {
    *type = kPageType;
    return S_OK;
  }
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  *type = value_type == REG_DWORD && size == sizeof(value) ? value : kPageType;
  return S_OK;
}

}  // namespace

const EntryKind* EntryKindNamed(const std::wstring& word) {
  return EntryKindOfType(EntryTypeNamed(word));
}

const EntryKind* EntryKindOfType(DWORD type) {
  for (const EntryKind& kind : kEntryKinds) {
    if (kind.type == type) return &kind;
  }
  return nullptr;
}

HRESULT FetchTypedSafeList(IZelkHelper* helper, std::vector<TypedEntry>* entries) {
  std::vector<std::wstring> keys;
  ZELK_RETURN_IF_FAILED(FetchSafeList(helper, &keys));
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(OpenServerKey(HKEY_LOCAL_MACHINE, kSafeListKeyPath, &list_key));
  std::vector<TypedEntry> typed;
  typed.reserve(keys.size());
  for (std::wstring& key : keys) {
    DWORD type = kPageType;
    ZELK_RETURN_IF_FAILED(ReadStoredType(list_key.get(), key, &type));
    typed.push_back({std::move(key), type});
  }
  entries->swap(typed);
  return S_OK;
}

}  // namespace ctl
}  // namespace zelk
