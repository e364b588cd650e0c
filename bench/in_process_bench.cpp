#include "bench/in_process_bench.h"

#include <cstdio>
#include <iterator>
#include <new>
#include <utility>

#include "bench/bench_entries.h"
#include "bench/helper_calls.h"
#include "bench/registry_floor.h"
#include "safelist/safe_list.h"
#include "platform/status.h"
#include "platform/unique_resource.h"
#include "tests/hardening_resources.h"

namespace zelk {
namespace bench {

namespace {

// Calls of a microsecond or more: batches of a few milliseconds.
constexpr BatchPlan kQueryPlan = {15, 5000.0, 1u << 22};
// Each pair writes and deletes a subkey; at the largest size one pair may
// take a large part of a second, so the repetitions are fewer.
constexpr BatchPlan kProtectPlan = {9, 20000.0, 1u << 12};
constexpr unsigned kLoadRepetitions = 3;

// Heap in use in this process, in blocks any heap has handed out.
HRESULT HeapInUse(size_t* bytes) {
  try {
    *bytes = zelk::testing::MeasureResourceUse().heap_bytes;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// A new object loaded from the registry: how long its Load took and, when
// `heap` is given, the heap it holds afterwards (the object, its settings and
// its list). The previous object goes first, so that two large lists are
// never held at once.
HRESULT LoadNewHelper(ModuleServices* module, std::unique_ptr<ZelkHelper>* helper,
                      double* load_us, size_t* heap) {
  helper->reset();
  size_t before = 0;
  if (heap != nullptr) ZELK_RETURN_IF_FAILED(HeapInUse(&before));
  helper->reset(new (std::nothrow) ZelkHelper(module));
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, helper->get());
  Stopwatch watch;
  ZELK_RETURN_IF_FAILED(watch.Start());
  const HRESULT status = (*helper)->Load();
  ZELK_RETURN_IF_FAILED(watch.ElapsedMicroseconds(load_us));
  if (FAILED(status)) {
    helper->reset();
    return status;
  }
  if (heap == nullptr) return S_OK;
  size_t after = 0;
  ZELK_RETURN_IF_FAILED(HeapInUse(&after));
  *heap = after - before;
  return S_OK;
}

HRESULT RecordHeap(size_t entries, size_t heap_bytes, BenchResults* results) {
  size_t key_text = 0;
  try {
    for (size_t index = 0; index < entries; ++index) key_text += BenchEntryAt(index).key.size() + 1;
    results->objectHeap.push_back(ObjectHeap{entries, heap_bytes, key_text});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT TimeBareRegistryLoop(size_t entries, BenchResults* results) {
  Stopwatch watch;
  ZELK_RETURN_IF_FAILED(watch.Start());
  size_t read = 0;
  ZELK_RETURN_IF_FAILED(ReadListBare(&read));
  double elapsed = 0;
  ZELK_RETURN_IF_FAILED(watch.ElapsedMicroseconds(&elapsed));
  if (read != entries) return E_UNEXPECTED;
  Sample* sample = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->registryFloor, entries, &sample));
  return sample->Add(elapsed);
}

// Loads the stored list a few times, keeping the last object, and records
// the heap of the last load. At the largest size each load follows a pass of
// the bare registry loop, so that the two share the machine's load.
HRESULT LoadRepeatedly(ModuleServices* module, size_t entries,
                       std::unique_ptr<ZelkHelper>* helper, BenchResults* results) {
  const bool with_floor = entries == kLargestSize;
  HRESULT load_status = S_OK;
  for (unsigned repetition = 0; repetition < kLoadRepetitions; ++repetition) {
    if (StopRequested()) return kStoppedStatus;
    if (with_floor) {
      ZELK_RETURN_IF_FAILED(
          ContinueAfterFailure(TimeBareRegistryLoop(entries, results),
                               "in process: bare registry loop", entries, results));
    }
    // A load that failed once is not tried again; the floor still is.
    if (FAILED(load_status)) continue;
    const bool last = repetition + 1 == kLoadRepetitions;
    double load_us = 0;
    size_t heap = 0;
    load_status = LoadNewHelper(module, helper, &load_us, last ? &heap : nullptr);
    if (FAILED(load_status)) continue;
    Sample* load = nullptr;
    ZELK_RETURN_IF_FAILED(SampleFor(&results->inProcessLoad, entries, &load));
    ZELK_RETURN_IF_FAILED(load->Add(load_us));
    if (last) ZELK_RETURN_IF_FAILED(RecordHeap(entries, heap, results));
  }
  if (SUCCEEDED(load_status)) load_status = ExpectListed(helper->get(), entries);
  if (FAILED(load_status)) helper->reset();
  return load_status;
}

HRESULT MeasureQuery(IZelkHelper* helper, size_t entries, BSTR url, BenchResults* results) {
  Sample* query = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->inProcessQuery, entries, &query));
  return MeasurePerCall(kQueryPlan, [helper, url]() { return AskUnprotectedUrl(helper, url); },
                        query);
}

HRESULT MeasureQueryPair(IZelkHelper* smaller, size_t smaller_entries, IZelkHelper* larger,
                         size_t larger_entries, BSTR url, BenchResults* results) {
  Sample* smaller_query = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->inProcessQuery, smaller_entries, &smaller_query));
  Sample* larger_query = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->inProcessQuery, larger_entries, &larger_query));
  return MeasurePairPerCall(
      kQueryPlan, [smaller, url]() { return AskUnprotectedUrl(smaller, url); },
      [larger, url]() { return AskUnprotectedUrl(larger, url); }, smaller_query, larger_query);
}

// IsUrlProtected of the page that managed entry `index` covers is `covered`
// ? its code : not protected. May throw std::bad_alloc.
HRESULT ExpectManagedEntry(IZelkHelper* helper, size_t index, bool covered) {
  EntryType type = kPage;
  UniqueBstr page(SysAllocString(PageCoveredByManagedEntry(index, &type).c_str()));
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, page.get());
  const long expected = covered ? static_cast<long>(type) : kNotProtected;
  return ExpectProtectionCode(helper, page.get(), expected);
}

// Until the object answers by exactly `entries` managed entries: the change
// reaches it within kPolicyRecheckMs.
HRESULT WaitUntilManagedEntriesApply(IZelkHelper* helper, size_t entries) {
  constexpr unsigned kAttempts = 40;
  constexpr DWORD kPauseMs = 50;
  for (unsigned attempt = 1;; ++attempt) {
    HRESULT status = S_OK;
    try {
      status = ExpectManagedEntry(helper, entries - 1, true);
      if (SUCCEEDED(status) && entries < kMaxManagedEntries) {
        status = ExpectManagedEntry(helper, entries, false);
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    if (status != E_UNEXPECTED || attempt == kAttempts) return status;
    Sleep(kPauseMs);
  }
}

// The managed entries grow through kManagedSizes under the same object, a
// few rounds: the cost of a call moves by half with where a reload happens
// to put the lists in memory, at any size, so one round would compare two
// layouts. The policy key goes again at the end, so that the object is
// timed later without it.
HRESULT MeasureManagedQueries(IZelkHelper* helper, BSTR url, BenchResults* results) {
  constexpr unsigned kRounds = 3;
  HRESULT status = S_OK;
  size_t written = 0;
  for (size_t step = 0; step < kRounds * std::size(kManagedSizes); ++step) {
    const size_t size = kManagedSizes[step % std::size(kManagedSizes)];
    if (size < written) {
      status = RemovePolicyKey();
      if (FAILED(status)) break;
      written = 0;
    }
    status = WriteManagedEntries(written, size);
    if (FAILED(status)) break;
    written = size;
    status = WaitUntilManagedEntriesApply(helper, size);
    if (FAILED(status)) break;
    Sample* query = nullptr;
    status = SampleFor(&results->managedQuery, size, &query);
    if (FAILED(status)) break;
    status = MeasurePerCall(kQueryPlan, [helper, url]() { return AskUnprotectedUrl(helper, url); },
                            query);
    if (FAILED(status)) break;
  }
  const HRESULT removed = RemovePolicyKey();
  return FAILED(status) ? status : removed;
}

HRESULT MeasureProtect(IZelkHelper* helper, size_t entries, BenchResults* results) {
  UniqueBstr url(SysAllocString(kProtectedUrlWide));
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, url.get());
  BSTR page = url.get();
  ZELK_RETURN_IF_FAILED(CheckProtectThenUnprotect(helper, page));
  Sample* sample = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->protectUnprotect, entries, &sample));
  ZELK_RETURN_IF_FAILED(MeasurePerCall(
      kProtectPlan, [helper, page]() { return ProtectThenUnprotect(helper, page); }, sample));
  return ExpectListed(helper, entries);
}

}  // namespace

HRESULT InProcessBench::MeasureAt(size_t entries, BenchResults* results) {
  Progress("in process with %u entries",
               static_cast<unsigned>(entries));
  std::unique_ptr<ZelkHelper> helper;
  ZELK_RETURN_IF_FAILED(ContinueAfterFailure(LoadRepeatedly(&module_, entries, &helper, results),
                                             "in process: Load", entries, results));
  // The empty list is loaded only for the heap it leaves.
  if (entries == 0) return S_OK;
  if (helper) {
    ZELK_RETURN_IF_FAILED(
        ContinueAfterFailure(MeasureProtect(helper.get(), entries, results),
                             "in process: ProtectPage + UnprotectUrl", entries, results));
  }
  return ContinueAfterFailure(MeasureQueries(entries, std::move(helper), results),
                              "in process: IsUrlProtected", entries, results);
}

// The smallest list's object waits for the largest; the middle size is
// timed alone.
HRESULT InProcessBench::MeasureQueries(size_t entries, std::unique_ptr<ZelkHelper> helper,
                                       BenchResults* results) {
  UniqueBstr url(SysAllocString(kUnmatchedUrlWide));
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, url.get());
  if (entries == kSmallestSize) {
    if (helper) {
      ZELK_RETURN_IF_FAILED(
          ContinueAfterFailure(MeasureManagedQueries(helper.get(), url.get(), results),
                               "in process: IsUrlProtected under managed entries", entries,
                               results));
    }
    smallest_ = std::move(helper);
    return S_OK;
  }
  if (entries != kLargestSize) {
    return helper ? MeasureQuery(helper.get(), entries, url.get(), results) : S_OK;
  }
  const std::unique_ptr<ZelkHelper> smallest = std::move(smallest_);
  if (smallest && helper) {
    return MeasureQueryPair(smallest.get(), kSmallestSize, helper.get(), entries, url.get(),
                            results);
  }
  if (smallest) {
    ZELK_RETURN_IF_FAILED(MeasureQuery(smallest.get(), kSmallestSize, url.get(), results));
  }
  if (helper) ZELK_RETURN_IF_FAILED(MeasureQuery(helper.get(), entries, url.get(), results));
  return S_OK;
}

}  // namespace bench
}  // namespace zelk
