#include "bench/bench_entries.h"

#include <cstdio>
#include <new>
#include <vector>

#include "bench/bench_clock.h"
#include "platform/registry_key.h"
#include "platform/status.h"
#include "policy/policy.h"
#include "safelist/entry_line.h"

namespace zelk {
namespace bench {

namespace {

constexpr EntryType kTypeCycle[] = {kPage, kSite, kDomain};
constexpr size_t kFirstManagedBenchEntry = kMaxBenchEntries - kMaxManagedEntries;
constexpr REGSAM kPolicyWriteAccess = kReadWriteAccess | KEY_WOW64_64KEY;
constexpr size_t kStopCheckInterval = 256;

// Names of the SafeList subkeys that the benchmark made.
HRESULT ListBenchKeys(const RegistryKey& list_key, std::vector<std::string>* names) {
  DWORD count = 0;
  DWORD longest = 0;
  ZELK_RETURN_IF_FAILED(list_key.QuerySubkeyInfo(&count, &longest));
  try {
    for (DWORD index = 0; index < count; ++index) {
      std::string name;
      const HRESULT status = list_key.EnumSubkey(index, &name);
      if (status == HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS)) break;
      ZELK_RETURN_IF_FAILED(status);
      if (IsBenchKey(name)) names->push_back(std::move(name));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT WriteEntry(const RegistryKey& list_key, size_t index) {
  BenchEntry entry;
  try {
    entry = BenchEntryAt(index);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  RegistryKey subkey;
  ZELK_RETURN_IF_FAILED(subkey.Create(list_key.get(), entry.key.c_str(), kReadWriteAccess));
  return subkey.WriteDword(nullptr, entry.type);
}

// The value of managed entry `index`, in wide text as Group Policy writes it.
HRESULT WriteManagedEntry(const RegistryKey& list_key, size_t index) {
  const BenchEntry entry = BenchEntryAt(kFirstManagedBenchEntry + index);
  const std::wstring name = std::to_wstring(index + 1);
  const std::wstring line = std::wstring(EntryTypeWord(entry.type)) + L" " +
                            std::wstring(entry.key.begin(), entry.key.end());
  const LONG result = RegSetValueExW(list_key.get(), name.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(line.c_str()),
                                     static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)));
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(result);
}

}  // namespace

BenchEntry BenchEntryAt(size_t index) {
  char host_number[16];
  std::snprintf(host_number, sizeof(host_number), "%05u", static_cast<unsigned>(index));
  const EntryType type = kTypeCycle[index % 3];
  std::string key = std::string(kBenchKeyPrefix) + host_number + ".example/";
  // A page entry needs a path, or it would be the same text as a site entry.
  if (type == kPage) key += "docs/page.html";
  return BenchEntry{std::move(key), type};
}

bool IsBenchKey(const std::string& key) { return key.rfind(kBenchKeyPrefix, 0) == 0; }

HRESULT WriteBenchEntries(size_t first, size_t end) {
  if (end > kMaxBenchEntries) return E_INVALIDARG;
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess));
  for (size_t index = first; index < end; ++index) {
    if (index % kStopCheckInterval == 0 && StopRequested()) return kStoppedStatus;
    ZELK_RETURN_IF_FAILED(WriteEntry(list_key, index));
  }
  return S_OK;
}

HRESULT RemoveBenchEntries() {
  RegistryKey list_key;
  const HRESULT open_status =
      list_key.Open(HKEY_LOCAL_MACHINE, kSafeListKeyPath, kReadWriteAccess);
  if (IsNotFound(open_status)) return S_OK;
  ZELK_RETURN_IF_FAILED(open_status);
  // Names first, deletions after: deleting while enumerating would shift the
  // indexes under the enumeration.
  std::vector<std::string> names;
  ZELK_RETURN_IF_FAILED(ListBenchKeys(list_key, &names));
  HRESULT first_failure = S_OK;
  for (const std::string& name : names) {
    const HRESULT status = list_key.DeleteSubkey(name.c_str());
    if (FAILED(status) && !IsNotFound(status) && SUCCEEDED(first_failure)) first_failure = status;
  }
  return first_failure;
}

HRESULT WriteManagedEntries(size_t first, size_t end) {
  if (end > kMaxManagedEntries) return E_INVALIDARG;
  RegistryKey list_key;
  ZELK_RETURN_IF_FAILED(list_key.Create(
      HKEY_LOCAL_MACHINE, (std::string(kPolicyKeyPath) + "\\" + policy::kSafeListKey).c_str(),
      kPolicyWriteAccess));
  try {
    for (size_t index = first; index < end; ++index) {
      if (index % kStopCheckInterval == 0 && StopRequested()) return kStoppedStatus;
      ZELK_RETURN_IF_FAILED(WriteManagedEntry(list_key, index));
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

std::wstring PageCoveredByManagedEntry(size_t index, EntryType* type) {
  BenchEntry entry = BenchEntryAt(kFirstManagedBenchEntry + index);
  *type = entry.type;
  // A site or domain entry covers the page its host's page entry would name.
  if (entry.type != kPage) entry.key += "docs/page.html";
  return std::wstring(entry.key.begin(), entry.key.end());
}

HRESULT RemovePolicyKey() {
  RegistryKey policies;
  const HRESULT open_status =
      policies.Open(HKEY_LOCAL_MACHINE, "Software\\Policies", kPolicyWriteAccess);
  if (IsNotFound(open_status)) return S_OK;
  ZELK_RETURN_IF_FAILED(open_status);
  const LONG result = RegDeleteTreeA(policies.get(), "Zelk");
  return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND ? S_OK
                                                                   : StatusFromWin32(result);
}

}  // namespace bench
}  // namespace zelk
