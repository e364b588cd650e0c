#include "bench/server_bench.h"

#include <cstdio>

#include "bench/bench_entries.h"
#include "bench/helper_calls.h"
#include "bench/server_process.h"
#include "platform/status.h"
#include "platform/unique_resource.h"
#include "zelk_admin.h"

namespace zelk {
namespace bench {

namespace {

// A round trip costs tens of microseconds or more: batches of 20 ms.
constexpr BatchPlan kRoundTripPlan = {21, 20000.0, 1u << 16};
// Every start costs a server exit (about six seconds) first, and with the
// largest list a load of seconds or more, so the repetitions are few; the
// largest list's start for its round trips is its one start by COM.
constexpr unsigned kEmptyStartUps = 2;
constexpr unsigned kEmptyDirectStartUps = 2;
constexpr unsigned kLargestDirectStartUps = 1;

enum class Launch {
  kByCom,     // CoCreateInstance starts the server, as for a real client
  kDirectly,  // the benchmark starts it and waits until it is ready
};

// One client connection: its own apartment, as the browser component has,
// opened and closed around each server run so that nothing of a previous
// server's connection is reused.
class ServerSession {
 public:
  ServerSession() = default;
  ~ServerSession() {
    helper_.reset();
    if (comInitialized_) CoUninitialize();
  }
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // Creates the object out of process; `start_up_us` runs from the launch
  // (CoCreateInstance, or the benchmark's own) until the first call
  // (get_AutoShow) has returned.
  HRESULT Open(Launch launch, double* start_up_us) {
    ZELK_RETURN_IF_FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    comInitialized_ = true;
    Stopwatch watch;
    ZELK_RETURN_IF_FAILED(watch.Start());
    if (launch == Launch::kDirectly) {
      ZELK_RETURN_IF_FAILED(LaunchServerAndWaitReady(&process_));
    }
    const HRESULT created = CoCreateInstance(CLSID_ZelkHelper, nullptr, CLSCTX_LOCAL_SERVER,
                                             IID_IZelkHelper, helper_.put_void());
    if (FAILED(created)) {
      // How long COM waited tells a server too slow to start from one that failed.
      double waited_us = 0;
      ZELK_RETURN_IF_FAILED(watch.ElapsedMicroseconds(&waited_us));
      Progress("CoCreateInstance failed after %.1f s: 0x%08lX", waited_us / 1e6,
               static_cast<unsigned long>(created));
      return created;
    }
    ZELK_RETURN_IF_FAILED(ReadAutoShow(helper_.get()));
    ZELK_RETURN_IF_FAILED(watch.ElapsedMicroseconds(start_up_us));
    return launch == Launch::kDirectly ? ExpectOneServer() : S_OK;
  }

  // After COM gave up on a server that was still loading its list: waits
  // until that server is ready and connects to it. Left without a client, it
  // would wait for one for good.
  HRESULT AttachToLateServer() {
    ZELK_RETURN_IF_FAILED(WaitForServerReady());
    ZELK_RETURN_IF_FAILED(CoCreateInstance(CLSID_ZelkHelper, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IZelkHelper, helper_.put_void()));
    return ReadAutoShow(helper_.get());
  }

  IZelkHelper* helper() const { return helper_.get(); }

 private:
  // Had the server not published its class when it looked ready, COM would
  // have started a second one, and the time would include COM's polling.
  static HRESULT ExpectOneServer() {
    size_t servers = 0;
    ZELK_RETURN_IF_FAILED(CountServerProcesses(&servers));
    if (servers == 1) return S_OK;
    Progress("%u servers after a direct start",
                 static_cast<unsigned>(servers));
    return E_UNEXPECTED;
  }

  bool comInitialized_ = false;
  UniqueHandle process_;
  ComPtr<IZelkHelper> helper_;
};

HRESULT MeasureRoundTrips(IZelkHelper* helper, size_t entries, BenchResults* results) {
  UniqueBstr url(SysAllocString(kUnmatchedUrlWide));
  ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, url.get());
  BSTR query_url = url.get();
  Sample* empty_call = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->emptyCallRoundTrip, entries, &empty_call));
  Sample* query = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&results->queryRoundTrip, entries, &query));
  return MeasurePairPerCall(
      kRoundTripPlan, [helper]() { return ReadAutoShow(helper); },
      [helper, query_url]() { return AskUnprotectedUrl(helper, query_url); }, empty_call, query);
}

struct ServerRun {
  size_t entries;
  Launch launch;
  // Where the start-up goes; null when it is not counted.
  SizedSamples* startUps;
  bool roundTrips;
};

// One server run: start, check the list it loaded, measure, leave. Returns
// once the server has gone again.
HRESULT RunServerOnce(const ServerRun& run, BenchResults* results) {
  ZELK_RETURN_IF_FAILED(WaitForServerExit(true));
  {
    ServerSession session;
    double start_up_us = 0;
    const HRESULT opened = session.Open(run.launch, &start_up_us);
    if (FAILED(opened)) {
      // A server that COM gave up on may still serve once it has loaded.
      if (run.launch != Launch::kByCom || opened == kStoppedStatus) return opened;
      ZELK_RETURN_IF_FAILED(
          ContinueAfterFailure(opened, "start-up by CoCreateInstance", run.entries, results));
      ZELK_RETURN_IF_FAILED(session.AttachToLateServer());
      Progress("connected to the server once it was ready");
    }
    ZELK_RETURN_IF_FAILED(ExpectListed(session.helper(), run.entries));
    if (run.startUps != nullptr && SUCCEEDED(opened)) {
      Sample* sample = nullptr;
      ZELK_RETURN_IF_FAILED(SampleFor(run.startUps, run.entries, &sample));
      ZELK_RETURN_IF_FAILED(sample->Add(start_up_us));
    }
    if (run.roundTrips) {
      ZELK_RETURN_IF_FAILED(MeasureRoundTrips(session.helper(), run.entries, results));
    }
  }
  return WaitForServerExit(true);
}

HRESULT MeasureStartUps(size_t entries, Launch launch, unsigned starts, BenchResults* results) {
  const bool by_com = launch == Launch::kByCom;
  Progress("%u server starts with %u entries (%s)", starts,
               static_cast<unsigned>(entries), by_com ? "by CoCreateInstance" : "direct");
  SizedSamples* start_ups = by_com ? &results->startUp : &results->directStartUp;
  for (unsigned start = 0; start < starts; ++start) {
    ZELK_RETURN_IF_FAILED(RunServerOnce({entries, launch, start_ups, false}, results));
  }
  return S_OK;
}

}  // namespace

HRESULT RunServerAt(size_t entries, BenchResults* results) {
  Progress("server with %u entries", static_cast<unsigned>(entries));
  // The run's first start (the empty list, cold caches) is not counted as a
  // start-up; the largest list's is.
  SizedSamples* start_ups = entries == kLargestSize ? &results->startUp : nullptr;
  const HRESULT served = RunServerOnce({entries, Launch::kByCom, start_ups, true}, results);
  ZELK_RETURN_IF_FAILED(ContinueAfterFailure(served, "server", entries, results));
  // A server that could not serve this list will not start better with it.
  if (FAILED(served)) return S_OK;
  if (entries == 0) {
    ZELK_RETURN_IF_FAILED(
        ContinueAfterFailure(MeasureStartUps(entries, Launch::kByCom, kEmptyStartUps, results),
                             "start-up by CoCreateInstance", entries, results));
  }
  const unsigned direct = entries == 0              ? kEmptyDirectStartUps
                          : entries == kLargestSize ? kLargestDirectStartUps
                                                    : 0;
  if (direct == 0) return S_OK;
  return ContinueAfterFailure(MeasureStartUps(entries, Launch::kDirectly, direct, results),
                              "start-up launched directly", entries, results);
}

}  // namespace bench
}  // namespace zelk
