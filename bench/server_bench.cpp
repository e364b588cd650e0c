#include "bench/server_bench.h"

#include <cstdio>

#include "bench/bench_entries.h"
#include "bench/helper_calls.h"
#include "bench/server_process.h"
#include "bench/service_control.h"
#include "platform/status.h"
#include "platform/unique_resource.h"
#include "zelk_admin.h"

namespace zelk {
namespace bench {

namespace {

// A round trip costs tens of microseconds or more: batches of 20 ms.
constexpr BatchPlan kRoundTripPlan = {21, 20000.0, 1u << 16};
// Each cold answer per user costs a server exit (about six seconds) first,
// through the service a stop; with the largest list a load of seconds or more
// besides. So the repetitions are few: kColdAnswers for each hosting at each
// of kHostingSizes. Every start also serves round trips.
constexpr unsigned kColdAnswers = 2;
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

  // Creates the object out of process; `first_answer_us` runs from the
  // launch (CoCreateInstance, or the benchmark's own) until the first call,
  // IsUrlProtected of the unmatched URL, has returned.
  HRESULT Open(Launch launch, double* first_answer_us) {
    queryUrl_.reset(SysAllocString(kUnmatchedUrlWide));
    ZELK_RETURN_IF_NULL(E_OUTOFMEMORY, queryUrl_.get());
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
    ZELK_RETURN_IF_FAILED(AskUnprotectedUrl(helper_.get(), queryUrl_.get()));
    return watch.ElapsedMicroseconds(first_answer_us);
  }

  // After COM gave up on a server that was still loading its list: waits
  // until that server is ready and connects to it. Left without a client, it
  // would wait for one for good.
  HRESULT AttachToLateServer() {
    ZELK_RETURN_IF_FAILED(WaitForServerReady());
    ZELK_RETURN_IF_FAILED(CoCreateInstance(CLSID_ZelkHelper, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IZelkHelper, helper_.put_void()));
    return AskUnprotectedUrl(helper_.get(), queryUrl_.get());
  }

  IZelkHelper* helper() const { return helper_.get(); }
  BSTR query_url() const { return queryUrl_.get(); }

 private:
  bool comInitialized_ = false;
  UniqueBstr queryUrl_;
  UniqueHandle process_;
  ComPtr<IZelkHelper> helper_;
};

// One server process serves, and it is the service's exactly when `hosting`
// says so: a direct start that looked ready before its class was published
// would have made COM start a second server, and a service that failed to
// start would have let Wine fall back to LocalServer32.
HRESULT ExpectHostedAs(Hosting hosting) {
  size_t servers = 0;
  ZELK_RETURN_IF_FAILED(CountServerProcesses(&servers));
  ServiceState state = ServiceState::kAbsent;
  std::wstring command;
  ZELK_RETURN_IF_FAILED(QueryServerService(&state, &command));
  const bool service_serves = state == ServiceState::kRunning;
  if (servers == 1 && service_serves == (hosting == Hosting::kService)) return S_OK;
  Progress("%u server processes, the service %s, expected one server %s",
           static_cast<unsigned>(servers), service_serves ? "running" : "not running",
           hosting == Hosting::kService ? "in the service" : "per user");
  return E_UNEXPECTED;
}

// No server runs afterwards: a service is stopped, a per-user server is left
// to its idle exit.
HRESULT EndServer(Hosting hosting) {
  if (hosting == Hosting::kService) ZELK_RETURN_IF_FAILED(StopServerService());
  return WaitForServerExit(true);
}

HRESULT MeasureRoundTrips(ServerSession& session, size_t entries, HostedSamples* samples) {
  IZelkHelper* helper = session.helper();
  BSTR query_url = session.query_url();
  Sample* empty_call = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&samples->emptyCallRoundTrip, entries, &empty_call));
  Sample* query = nullptr;
  ZELK_RETURN_IF_FAILED(SampleFor(&samples->queryRoundTrip, entries, &query));
  return MeasurePairPerCall(
      kRoundTripPlan, [helper]() { return ReadAutoShow(helper); },
      [helper, query_url]() { return AskUnprotectedUrl(helper, query_url); }, empty_call, query);
}

struct ServerRun {
  size_t entries;
  Launch launch;
  Hosting hosting;
  // Where the first answer goes; null when it is not counted.
  SizedSamples* firstAnswers;
  // Where the round trips go; null for none.
  HostedSamples* roundTrips;
};

// One server run from cold: start, check the list it loaded and who serves,
// measure, leave. Returns once the server has gone again.
HRESULT RunServerOnce(const ServerRun& run, BenchResults* results) {
  ZELK_RETURN_IF_FAILED(EndServer(run.hosting));
  {
    ServerSession session;
    double first_answer_us = 0;
    const HRESULT opened = session.Open(run.launch, &first_answer_us);
    if (FAILED(opened)) {
      // A server that COM gave up on may still serve once it has loaded.
      if (run.launch != Launch::kByCom || opened == kStoppedStatus) return opened;
      ZELK_RETURN_IF_FAILED(
          ContinueAfterFailure(opened, "cold first answer", run.entries, results));
      ZELK_RETURN_IF_FAILED(session.AttachToLateServer());
      Progress("connected to the server once it was ready");
    }
    ZELK_RETURN_IF_FAILED(ExpectHostedAs(run.hosting));
    ZELK_RETURN_IF_FAILED(ExpectListed(session.helper(), run.entries));
    if (run.firstAnswers != nullptr && SUCCEEDED(opened)) {
      Sample* sample = nullptr;
      ZELK_RETURN_IF_FAILED(SampleFor(run.firstAnswers, run.entries, &sample));
      ZELK_RETURN_IF_FAILED(sample->Add(first_answer_us));
    }
    if (run.roundTrips != nullptr) {
      ZELK_RETURN_IF_FAILED(MeasureRoundTrips(session, run.entries, run.roundTrips));
    }
  }
  return EndServer(run.hosting);
}

const char* HostingName(Hosting hosting) {
  return hosting == Hosting::kService ? "through the service" : "per user";
}

// `starts` cold starts through `hosting`, each timed to its first answer
// (at kHostingSizes; the first one only when `count_first`) and then used
// for round trips.
HRESULT RunHostedStarts(size_t entries, Hosting hosting, unsigned starts, bool count_first,
                        BenchResults* results) {
  HostedSamples* samples = hosting == Hosting::kService ? &results->service : &results->perUser;
  SizedSamples* first_answers = IsHostingSize(entries) ? &samples->coldFirstAnswer : nullptr;
  Progress("%u server start%s with %u entries (%s)", starts, starts == 1 ? "" : "s",
           static_cast<unsigned>(entries), HostingName(hosting));
  for (unsigned start = 0; start < starts; ++start) {
    const bool counted = start > 0 || count_first;
    ZELK_RETURN_IF_FAILED(RunServerOnce(
        {entries, Launch::kByCom, hosting, counted ? first_answers : nullptr, samples}, results));
  }
  return S_OK;
}

HRESULT MeasureDirectStartUps(size_t entries, unsigned starts, BenchResults* results) {
  if (starts == 0) return S_OK;
  Progress("%u direct server start%s with %u entries", starts, starts == 1 ? "" : "s",
           static_cast<unsigned>(entries));
  for (unsigned start = 0; start < starts; ++start) {
    ZELK_RETURN_IF_FAILED(RunServerOnce(
        {entries, Launch::kDirectly, Hosting::kPerUser, &results->directStartUp, nullptr},
        results));
  }
  return S_OK;
}

// The service half of a size. Only a failed switch back ends the run: the
// per-user figures that follow would go through the service.
HRESULT RunServiceAt(size_t entries, HostingGuard* hosting, BenchResults* results) {
  const HRESULT switched = hosting->Use(Hosting::kService);
  const HRESULT served = SUCCEEDED(switched)
                             ? RunHostedStarts(entries, Hosting::kService, kColdAnswers, true,
                                               results)
                             : switched;
  ZELK_RETURN_IF_FAILED(ContinueAfterFailure(served, "the service", entries, results));
  return hosting->Use(Hosting::kPerUser);
}

// Per user, then through the service, then per user again: the service's
// round trips sit between the per-user ones, so that a drift in the
// machine's load falls on both alike. The run's very first start (per user,
// the empty list, cold caches) is not counted.
HRESULT RunHostingsAt(size_t entries, HostingGuard* hosting, BenchResults* results) {
  const bool run_start = entries == 0;
  ZELK_RETURN_IF_FAILED(ContinueAfterFailure(
      RunHostedStarts(entries, Hosting::kPerUser, 1, !run_start, results), "server", entries,
      results));
  ZELK_RETURN_IF_FAILED(RunServiceAt(entries, hosting, results));
  const unsigned more = run_start ? kColdAnswers : kColdAnswers - 1;
  return ContinueAfterFailure(RunHostedStarts(entries, Hosting::kPerUser, more, true, results),
                              "server", entries, results);
}

}  // namespace

HRESULT RunServerAt(size_t entries, HostingGuard* hosting, BenchResults* results) {
  if (IsHostingSize(entries)) {
    ZELK_RETURN_IF_FAILED(RunHostingsAt(entries, hosting, results));
  } else {
    ZELK_RETURN_IF_FAILED(
        ContinueAfterFailure(RunHostedStarts(entries, Hosting::kPerUser, 1, false, results),
                             "server", entries, results));
  }
  const unsigned direct = entries == 0              ? kEmptyDirectStartUps
                          : entries == kLargestSize ? kLargestDirectStartUps
                                                    : 0;
  return ContinueAfterFailure(MeasureDirectStartUps(entries, direct, results),
                              "start-up launched directly", entries, results);
}

}  // namespace bench
}  // namespace zelk
