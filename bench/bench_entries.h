// The safe-list entries the benchmark stores, and the URL it asks about.
//
// Entry i protects a page, a site or a domain in turn (i % 3), each on its own
// host "www.zelkbenchNNNNN.example", so no two entries share a host or a
// domain. Every key text starts with kBenchKeyPrefix: that is how the
// benchmark recognises its own subkeys, also those left by a run that died.
//
// The writers work on HKEY_LOCAL_MACHINE\Software\Zelk\SafeList as this
// process sees it: the real key, or a scratch key while HKEY_LOCAL_MACHINE is
// redirected.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "safelist/safe_list.h"

namespace zelk {
namespace bench {

constexpr char kBenchKeyPrefix[] = "http://www.zelkbench";
constexpr size_t kMaxBenchEntries = 100000;

// An http URL on port 80 that matches no entry, so a query walks the whole
// list. Its host and domain have the entries' lengths and prefix, so every
// comparison reads a dozen characters instead of stopping at the length.
constexpr wchar_t kUnmatchedUrlWide[] =
    L"http://www.zelkbench-miss.example/docs/page.html?from=bench";

// A page on a host of its own that the benchmark protects and unprotects
// again. It starts with kBenchKeyPrefix, so a run that dies between the two
// leaves a subkey that the next run removes.
constexpr wchar_t kProtectedUrlWide[] = L"http://www.zelkbench-protect.example/docs/page.html";

struct BenchEntry {
  std::string key;
  EntryType type;
};

// Entry `index` (< kMaxBenchEntries). May throw std::bad_alloc.
BenchEntry BenchEntryAt(size_t index);

bool IsBenchKey(const std::string& key);

// Stores entries [first, end) as subkeys with their type as REG_DWORD
// default value. Stops early with kStoppedStatus on Ctrl+C.
HRESULT WriteBenchEntries(size_t first, size_t end);

// Deletes every subkey whose name is a bench key text. Also runs after a
// failure, so it keeps going past a subkey it cannot delete and reports the
// first failure at the end. S_OK when the SafeList key does not exist.
HRESULT RemoveBenchEntries();

// Managed entries: values "1", "2", ... of HKLM\Software\Policies\Zelk\SafeList
// (64-bit view), value n the line "page URL", "site URL" or "domain URL" of
// one of the last kMaxManagedEntries bench entries, which the user's list
// holds only at its largest size. Stores managed entries [first, end).
constexpr size_t kMaxManagedEntries = 10000;
HRESULT WriteManagedEntries(size_t first, size_t end);

// A page that managed entry `index` covers, and the code it answers with.
// May throw std::bad_alloc.
std::wstring PageCoveredByManagedEntry(size_t index, EntryType* type);

// Deletes HKLM\Software\Policies\Zelk. S_OK when it does not exist.
HRESULT RemovePolicyKey();

}  // namespace bench
}  // namespace zelk
