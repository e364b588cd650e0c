// The in-process half of the benchmark: URL decomposition, and the object's
// IsUrlProtected and load without the transport, on a redirected
// HKEY_LOCAL_MACHINE. Run it while no COM apartment is open in this process.
#pragma once

#include <windows.h>

#include "bench/bench_results.h"

namespace zelk {
namespace bench {

HRESULT RunInProcessBench(BenchResults* results);

}  // namespace bench
}  // namespace zelk
