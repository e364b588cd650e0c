#include "bench/bench_entries.h"

#include <cstdio>
#include <new>
#include <vector>

#include "bench/bench_clock.h"
#include "platform/registry_key.h"
#include "platform/status.h"

namespace zelk {
namespace bench {

namespace {

constexpr EntryType kTypeCycle[] = {kPage, kSite, kDomain};
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

}  // namespace bench
}  // namespace zelk
