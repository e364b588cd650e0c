// The out-of-process half of the benchmark: round trips to the registered
// server and its start-up, with safe lists stored in the real
// HKLM\Software\Zelk\SafeList. The caller has engaged a SafeListGuard, so the
// list starts empty and only bench entries are added to it.
#pragma once

#include <windows.h>

#include "bench/bench_results.h"

namespace zelk {
namespace bench {

HRESULT RunServerBench(BenchResults* results);

}  // namespace bench
}  // namespace zelk
