// The out-of-process half of the benchmark: round trips to the registered
// server and its start-up, with the safe list stored in the real
// HKLM\Software\Zelk\SafeList. The caller has engaged a SafeListGuard, so the
// list holds bench entries only.
#pragma once

#include <windows.h>

#include <cstddef>

#include "bench/bench_results.h"

namespace zelk {
namespace bench {

// Round trips to a server that loaded the list as it is now, `entries` bench
// entries (one of kStepSizes, called in their order); at the empty and the
// largest list, the server's start-up too. A measurement that fails is noted
// in `results` and the run goes on.
HRESULT RunServerAt(size_t entries, BenchResults* results);

}  // namespace bench
}  // namespace zelk
