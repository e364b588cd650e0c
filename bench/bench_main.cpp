// zelk_bench: what an IsUrlProtected round trip to the registered server
// costs against an empty call, how the in-process costs of IsUrlProtected and
// of ProtectPage + UnprotectUrl grow with the safe list, how the load compares
// with the bare registry loop under it, the heap an entry takes, what a
// large list adds to the server's start-up, what 10,000 managed entries of
// machine policy add to IsUrlProtected, and the first answer after a cold
// start and a round trip through the ZelkAdmin service against the per-user
// server. Prints one table and the summary lines, or with --summary only those.
//
// The list grows through kStepSizes; each size's entries are written once and
// measured in process, then through the per-user server and, at
// kHostingSizes, through the service (installed for the run, the
// registration switched to it and back). It leaves the registry as it found
// it: the user's safe-list entries are set aside for the run and put back, its
// own entries and machine policy removed, the server registered per user
// again and the service deleted, also after a failure or Ctrl+C (and, after a
// killed run, by the next run).
//
// Usage: zelk_bench [--summary]   (the server must be registered per user, by
// an administrator, and not running)
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "bench/bench_clock.h"
#include "bench/bench_entries.h"
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

HRESULT RunSteps(HostingGuard* hosting, BenchResults* results) {
  InProcessBench in_process;
  size_t stored = 0;
  for (const size_t size : kStepSizes) {
    Progress("writing entries %u to %u", static_cast<unsigned>(stored),
                 static_cast<unsigned>(size));
    ZELK_RETURN_IF_FAILED(WriteBenchEntries(stored, size));
    stored = size;
    ZELK_RETURN_IF_FAILED(in_process.MeasureAt(size, results));
    ZELK_RETURN_IF_FAILED(RunServerAt(size, hosting, results));
  }
  return S_OK;
}

HRESULT RunBenchmark(BenchResults* results) {
  ScratchRoot scratch_root;
  // A server that is running now may hold another list in memory.
  ZELK_RETURN_IF_FAILED(WaitForServerExit(true));
  SafeListGuard guard;
  PolicyGuard policy;
  HostingGuard hosting;
  const HRESULT status = [&]() {
    ZELK_RETURN_IF_FAILED(hosting.Engage());
    ZELK_RETURN_IF_FAILED(policy.Engage());
    ZELK_RETURN_IF_FAILED(guard.Engage());
    return RunSteps(&hosting, results);
  }();
  Progress("registering the server per user again");
  const HRESULT hosting_status = hosting.Restore();
  // Leave no server behind: whoever runs this next may stop the Wine
  // session, and a killed server leaves its class registered.
  const HRESULT exit_status = WaitForServerExit(false);
  Progress("removing the bench entries");
  const HRESULT restore_status = guard.Restore();
  const HRESULT policy_status = policy.Restore();
  if (FAILED(status)) return status;
  if (FAILED(hosting_status)) return hosting_status;
  if (FAILED(policy_status)) return policy_status;
  return FAILED(restore_status) ? restore_status : exit_status;
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
  if (status == HRESULT_FROM_WIN32(ERROR_SERVICE_EXISTS)) {
    return "a ZelkAdmin service of another server is installed (the benchmark needs the "
           "prefix to itself)";
  }
  if (status == HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS)) {
    return "machine policy is set (HKLM\\Software\\Policies\\Zelk; the benchmark needs the "
           "prefix to itself)";
  }
  if (status == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    return "a key is missing (is the server registered?)";
  }
  return "failed";
}

// Exit codes: 0 everything measured, 2 some figures n/a, 1 the run failed.
int Main(bool summary_only) {
  if (!SetConsoleCtrlHandler(OnConsoleControl, TRUE)) {
    Progress("no Ctrl+C handler (%lu); the run goes on", GetLastError());
  }
  BenchResults results;
  const HRESULT status = RunBenchmark(&results);
  if (summary_only) {
    PrintSummary(results, stdout);
  } else {
    PrintReport(results, stdout);
  }
  if (FAILED(status)) {
    Progress("%s: 0x%08lX", DescribeFailure(status),
                 static_cast<unsigned long>(status));
    return 1;
  }
  return results.incomplete ? 2 : 0;
}

}  // namespace
}  // namespace bench
}  // namespace zelk

int main(int argc, char** argv) {
  const bool summary_only = argc == 2 && std::strcmp(argv[1], "--summary") == 0;
  if (argc > 1 && !summary_only) {
    std::fprintf(stderr, "usage: zelk_bench [--summary]\n");
    return 1;
  }
  return zelk::bench::Main(summary_only);
}
