#include "server/service_host.h"

#include <winsvc.h>

#include "platform/status.h"
#include "server/server_module.h"
#include "server/service_identity.h"

namespace zelk {

namespace {

// The status of a run whose apartment could not be set up, as the process
// entry reports it.
constexpr HRESULT kInitFailedStatus = static_cast<HRESULT>(-1);
// Publishing the class object loads the whole safe list first.
constexpr DWORD kStartWaitHintMs = 30000;
constexpr DWORD kStopWaitHintMs = kExitPauseMs + 4000;

// ServiceMain and the control handler get no context of this program's
// choosing, and the process hosts one service: its state lives here. The
// handler runs on the dispatcher's thread, the run on the service's thread;
// `lock` orders their reports, so that nothing follows SERVICE_STOPPED.
struct ServiceState {
  SRWLOCK lock = SRWLOCK_INIT;
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status = {SERVICE_WIN32_OWN_PROCESS, 0, 0, NO_ERROR, 0, 0, 0};
  DWORD serverThreadId = 0;
  HRESULT runStatus = S_OK;
};
ServiceState service;

class ServiceLock {
 public:
  ServiceLock() { AcquireSRWLockExclusive(&service.lock); }
  ~ServiceLock() { ReleaseSRWLockExclusive(&service.lock); }
  ServiceLock(const ServiceLock&) = delete;
  ServiceLock& operator=(const ServiceLock&) = delete;
};

// A Win32 status travels as itself; any other failure as a service-specific
// code, so that `sc query` shows the run's status either way.
void SetExitCode(HRESULT status, SERVICE_STATUS* report) {
  report->dwWin32ExitCode = NO_ERROR;
  report->dwServiceSpecificExitCode = 0;
  if (SUCCEEDED(status)) return;
  if (HRESULT_FACILITY(status) == FACILITY_WIN32) {
    report->dwWin32ExitCode = HRESULT_CODE(status);
  } else {
    report->dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    report->dwServiceSpecificExitCode = static_cast<DWORD>(status);
  }
}

// Call with the lock held.
void ReportLocked(DWORD state, DWORD wait_hint_ms) {
  SERVICE_STATUS& report = service.status;
  const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
  report.dwCurrentState = state;
  report.dwControlsAccepted =
      state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  report.dwCheckPoint = pending ? report.dwCheckPoint + 1 : 0;
  report.dwWaitHint = pending ? wait_hint_ms : 0;
  // Nothing is left to tell if the manager refuses a report.
  SetServiceStatus(service.handle, &report);
}

void ReportRunning(void* /*data*/) {
  ServiceLock lock;
  ReportLocked(SERVICE_RUNNING, 0);
}

void ReportStopped(HRESULT status) {
  ServiceLock lock;
  SetExitCode(status, &service.status);
  ReportLocked(SERVICE_STOPPED, 0);
}

// STOP and SHUTDOWN end the run as the idle monitor does, with WM_QUIT to the
// thread that runs the message loop: the class object is revoked, then the
// process exits. Accepted only while running, so the loop's thread exists.
void BeginStop() {
  ServiceLock lock;
  if (service.status.dwCurrentState != SERVICE_RUNNING) return;
  ReportLocked(SERVICE_STOP_PENDING, kStopWaitHintMs);
  PostThreadMessageA(service.serverThreadId, WM_QUIT, 0, 0);
}

DWORD WINAPI HandleControl(DWORD control, DWORD /*event*/, void* /*event_data*/, void* /*context*/) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      BeginStop();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// The module posts its quit message to the thread that constructs it, so it
// is made here, on the service's thread, not on the dispatcher's.
HRESULT RunServer() {
  ServerModule module(CallerSessions::kFromToken);
  if (module.init_failed()) return kInitFailedStatus;
  ZELK_RETURN_IF_FAILED(InitializeServiceCallSecurity());
  {
    ServiceLock lock;
    service.serverThreadId = GetCurrentThreadId();
  }
  return module.RunServer(ReportRunning, nullptr);
}

void WINAPI ServiceMain(DWORD /*argument_count*/, LPWSTR* /*arguments*/) {
  service.handle = RegisterServiceCtrlHandlerExW(kServiceName, HandleControl, nullptr);
  if (service.handle == nullptr) {
    service.runStatus = StatusFromLastError();
    return;
  }
  {
    ServiceLock lock;
    ReportLocked(SERVICE_START_PENDING, kStartWaitHintMs);
  }
  service.runStatus = RunServer();
  ReportStopped(service.runStatus);
}

}  // namespace

bool RunAsService(HRESULT* status) {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(kServiceName), ServiceMain},
                                  {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) return false;
    *status = StatusFromLastError();
    return true;
  }
  *status = service.runStatus;
  return true;
}

}  // namespace zelk
