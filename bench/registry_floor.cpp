#include "bench/registry_floor.h"

#include <new>
#include <vector>

#include "platform/registry_key.h"
#include "platform/settings_layout.h"
#include "platform/status.h"

namespace zelk {
namespace bench {

namespace {

// The four calls, bare: an owning key type would add nothing to measure, so
// the subkey is closed by hand, and checked like the rest.
HRESULT ReadSubkeyBare(HKEY list, DWORD index, wchar_t* name, DWORD name_capacity) {
  DWORD length = name_capacity;
  LONG result = RegEnumKeyExW(list, index, name, &length, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  HKEY subkey = nullptr;
  result = RegOpenKeyExW(list, name, 0, KEY_READ, &subkey);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof(value);
  const LONG read =
      RegQueryValueExW(subkey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  const LONG closed = RegCloseKey(subkey);
  if (read != ERROR_SUCCESS) return StatusFromWin32(read);
  if (closed != ERROR_SUCCESS) return StatusFromWin32(closed);
  // The benchmark wrote every entry's type; anything else is not its list.
  return type == REG_DWORD && size == sizeof(value) ? S_OK : E_UNEXPECTED;
}

}  // namespace

HRESULT ReadListBare(size_t* read) {
  RegistryKey list;
  ZELK_RETURN_IF_FAILED(list.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadAccess));
  DWORD count = 0;
  DWORD longest = 0;
  const LONG result = RegQueryInfoKeyW(list.get(), nullptr, nullptr, nullptr, &count, &longest,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) return StatusFromWin32(result);
  std::vector<wchar_t> name;
  try {
    name.resize(static_cast<size_t>(longest) + 1);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  for (DWORD index = 0; index < count; ++index) {
    ZELK_RETURN_IF_FAILED(
        ReadSubkeyBare(list.get(), index, name.data(), static_cast<DWORD>(name.size())));
  }
  *read = count;
  return S_OK;
}

}  // namespace bench
}  // namespace zelk
