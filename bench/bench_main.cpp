// zelk_bench: what an IsUrlProtected round trip to the registered server
// costs against an empty call, how the in-process cost grows with the safe
// list, and what a large list adds to the server's start-up. Prints one table.
//
// It leaves the registry as it found it: the user's safe-list entries are set
// aside for the run and put back, its own entries and scratch keys removed,
// also after a failure or Ctrl+C (and, after a killed run, by the next run).
//
// Usage: zelk_bench        (the server must be registered and not running)
#include <windows.h>

#include <cstdio>

#include "bench/bench_clock.h"
#include "bench/bench_results.h"
#include "bench/in_process_bench.h"
#include "bench/registry_state.h"
#include "bench/server_bench.h"
#include "bench/server_process.h"
#include "platform/status.h"

namespace zelk {
namespace bench {
namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The measuring loops notice and unwind through the registry restore.
  RequestStop();
  return TRUE;
}

HRESULT RunAgainstServer(BenchResults* results) {
  // A server that is running now may hold another list in memory.
  ZELK_RETURN_IF_FAILED(WaitForServerExit(true));
  SafeListGuard guard;
  const HRESULT status = [&]() {
    ZELK_RETURN_IF_FAILED(guard.Engage());
    return RunServerBench(results);
  }();
  // Leave no server behind: whoever runs this next may stop the Wine
  // session, and a killed server leaves its class registered.
  const HRESULT exit_status = WaitForServerExit(false);
  const HRESULT restore_status = guard.Restore();
  if (FAILED(status)) return status;
  return FAILED(restore_status) ? restore_status : exit_status;
}

HRESULT RunBenchmark(BenchResults* results) {
  ScratchRoot scratch_root;
  // In process first: it redirects HKEY_LOCAL_MACHINE, which COM must not see.
  ZELK_RETURN_IF_FAILED(RunInProcessBench(results));
  return RunAgainstServer(results);
}

const char* DescribeFailure(HRESULT status) {
  if (status == kStoppedStatus) return "interrupted";
  if (status == HRESULT_FROM_WIN32(ERROR_TIMEOUT)) {
    // A client that died holding a reference keeps its server alive.
    return "a ZelkAdmin server did not exit (another client holds it; one left by a killed "
           "client stays until scripts/wine-prefix.sh stop)";
  }
  if (status == REGDB_E_CLASSNOTREG) {
    return "the server is not registered (ZelkAdmin.exe /RegServer)";
  }
  if (status == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    return "a key is missing (is the server registered?)";
  }
  return "failed";
}

int Main() {
  if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
    std::fprintf(stderr, "zelk_bench: no Ctrl+C handler (%lu); the run goes on\n", GetLastError());
  }
  BenchResults results;
  const HRESULT status = RunBenchmark(&results);
  PrintReport(results, stdout);
  if (FAILED(status)) {
    std::fprintf(stderr, "zelk_bench: %s: 0x%08lX\n", DescribeFailure(status),
                 static_cast<unsigned long>(status));
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace bench
}  // namespace zelk

int main() { return zelk::bench::Main(); }
