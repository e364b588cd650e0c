#include "bench/in_process_bench.h"

#include <cstdio>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "automation/module_services.h"
#include "automation/zelk_helper.h"
#include "bench/bench_entries.h"
#include "bench/helper_calls.h"
#include "bench/registry_state.h"
#include "platform/status.h"
#include "platform/text.h"
#include "platform/unique_resource.h"
#include "safelist/url_parts.h"
#include "tests/test_module.h"

namespace zelk {
namespace bench {

namespace {

// Calls of a microsecond or less: batches of a few milliseconds.
constexpr BatchPlan kInProcessPlan = {15, 5000.0, 1u << 22};
constexpr unsigned kLoadRepetitions = 3;

// Hosts the object in this process, as the server module does in the server.
using BenchModule = zelk::testing::TestModule;

HRESULT MeasureDecompose(Sample* sample) {
  // Several kilobytes of fixed parts: one record, reused by every call.
  std::unique_ptr<UrlParts> parts(new (std::nothrow) UrlParts());
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, parts);
  auto decompose = [&parts]() { return parts->Decompose(kUnmatchedUrl, IsLeadByte) ? S_OK : E_UNEXPECTED; };
  return MeasurePerCall(kInProcessPlan, decompose, sample);
}

// A new object loaded from the (redirected) registry, and how long Load took.
HRESULT LoadNewHelper(BenchModule* module, std::unique_ptr<ZelkHelper>* helper,
                      double* load_us) {
  helper->reset(new (std::nothrow) ZelkHelper(module));
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, helper->get());
  Stopwatch watch;
  ZELK_RETURN_IF_FAILED(watch.Start());
  ZELK_RETURN_IF_FAILED((*helper)->Load());
  return watch.ElapsedMicroseconds(load_us);
}

// Loads the stored list a few times (keeping the last object), then times
// its IsUrlProtected.
HRESULT MeasureAtSize(BenchModule* module, size_t entries, BSTR url, BenchResults* results) {
  std::unique_ptr<ZelkHelper> helper;
  for (unsigned repetition = 0; repetition < kLoadRepetitions; ++repetition) {
    if (StopRequested()) return kStoppedStatus;
    double load_us = 0;
    ZELK_RETURN_IF_FAILED(LoadNewHelper(module, &helper, &load_us));
    Sample* load = nullptr;
    ZELK_RETURN_IF_FAILED(SampleFor(&results->inProcessLoad, entries, &load));
    ZELK_RETURN_IF_FAILED(load->Add(load_us));
  }
  ZELK_RETURN_IF_FAILED(ExpectListed(helper.get(), entries));
  IZelkHelper* object = helper.get();
  auto ask = [object, url]() { return AskUnprotectedUrl(object, url); };
  Sample* query = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->inProcessQuery, entries, &query));
  return MeasurePerCall(kInProcessPlan, ask, query);
}

HRESULT MeasureEverySize(BenchResults* results) {
  UniqueBstr url(SysAllocString(kUnmatchedUrlWide));
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, url.get());
  BenchModule module;
  size_t stored = 0;
  for (const size_t size : kInProcessSizes) {
    ZELK_RETURN_IF_FAILED(WriteBenchEntries(stored, size));
    stored = size;
    ZELK_RETURN_IF_FAILED(MeasureAtSize(&module, size, url.get(), results));
  }
  return S_OK;
}

}  // namespace

HRESULT RunInProcessBench(BenchResults* results) {
  std::printf("zelk_bench: in process (HKEY_LOCAL_MACHINE redirected to a scratch key)\n");
  ZELK_RETURN_IF_FAILED(MeasureDecompose(&results->decompose));
  HklmRedirect redirect;
  ZELK_RETURN_IF_FAILED(redirect.Begin());
  return MeasureEverySize(results);
}

}  // namespace bench
}  // namespace zelk
