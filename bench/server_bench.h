// The out-of-process half of the benchmark: round trips to the registered
// server and its cold start, per user and through the service, with the safe
// list stored in the real HKLM\Software\Zelk\SafeList. The caller has
// engaged a SafeListGuard, so the list holds bench entries only, and a
// HostingGuard, which switches the registration.
#pragma once

#include <windows.h>

#include <cstddef>

#include "bench/bench_results.h"
#include "bench/registry_state.h"

namespace zelk {
namespace bench {

// Round trips to a per-user server that loaded the list as it is now,
// `entries` bench entries (one of kStepSizes, called in their order); at the
// empty and the largest list, its direct start-up too. At kHostingSizes, the
// registration is switched to the service and back half-way, for round trips
// and cold first answers through either hosting. A measurement that fails is
// noted in `results` and the run goes on; a failure to register per user
// again ends it.
HRESULT RunServerAt(size_t entries, HostingGuard* hosting, BenchResults* results);

}  // namespace bench
}  // namespace zelk
