#include "bench/service_control.h"

#include <winsvc.h>

#include <new>
#include <vector>

#include "bench/server_process.h"
#include "platform/status.h"
#include "platform/text.h"
#include "platform/unique_resource.h"
#include "server/service_identity.h"

namespace zelk {
namespace bench {

namespace {

constexpr wchar_t kServiceAccount[] = L"NT AUTHORITY\\LocalService";
constexpr wchar_t kServiceSwitch[] = L" -Service";
// A stop that arrives while the server loads a large list takes effect once
// the load is done: as long as WaitForServerExit allows for a load.
constexpr DWORD kServiceStopTimeoutMs = 180000;
constexpr DWORD kServiceStopPollMs = 100;

HRESULT OpenManager(DWORD access, UniqueServiceHandle* manager) {
  manager->reset(OpenSCManagerW(nullptr, nullptr, access));
  return *manager ? S_OK : StatusFromLastError();
}

// The service opened with `access`; an empty handle when it does not exist.
HRESULT OpenServerService(DWORD access, UniqueServiceHandle* service) {
  UniqueServiceHandle manager;
  ZELK_RETURN_IF_FAILED(OpenManager(SC_MANAGER_CONNECT, &manager));
  service->reset(OpenServiceW(manager.get(), kServiceName, access));
  if (*service || GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return S_OK;
  return StatusFromLastError();
}

HRESULT ReadServiceCommand(SC_HANDLE service, std::wstring* command) {
  DWORD needed = 0;
  if (QueryServiceConfigW(service, nullptr, 0, &needed) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return StatusFromLastError();
  }
  try {
    // Whole QUERY_SERVICE_CONFIGW elements keep the structure aligned.
    std::vector<QUERY_SERVICE_CONFIGW> buffer(needed / sizeof(QUERY_SERVICE_CONFIGW) + 1);
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(QUERY_SERVICE_CONFIGW));
    if (!QueryServiceConfigW(service, buffer.data(), size, &needed)) return StatusFromLastError();
    const wchar_t* path = buffer[0].lpBinaryPathName;
    command->assign(path != nullptr ? path : L"");
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

ServiceState StateFromStatus(DWORD current_state) {
  switch (current_state) {
    case SERVICE_STOPPED:
      return ServiceState::kStopped;
    case SERVICE_RUNNING:
      return ServiceState::kRunning;
    default:
      return ServiceState::kChanging;
  }
}

HRESULT AskToStop(SC_HANDLE service) {
  SERVICE_STATUS status = {};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) return S_OK;
  const DWORD error = GetLastError();
  // Stopped meanwhile (its idle exit), or still starting: the caller looks again.
  if (error == ERROR_SERVICE_NOT_ACTIVE || error == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) return S_OK;
  return StatusFromWin32(static_cast<LONG>(error));
}

// A service still starting is asked again once it runs.
HRESULT StopUntilStopped(SC_HANDLE service) {
  const ULONGLONG deadline = GetTickCount64() + kServiceStopTimeoutMs;
  for (;;) {
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status)) return StatusFromLastError();
    if (status.dwCurrentState == SERVICE_STOPPED) return S_OK;
    if (status.dwCurrentState == SERVICE_RUNNING) ZELK_RETURN_IF_FAILED(AskToStop(service));
    if (GetTickCount64() >= deadline) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    Sleep(kServiceStopPollMs);
  }
}

}  // namespace

HRESULT ServiceCommandFor(const std::string& server_path, std::wstring* command) {
  std::wstring path;
  ZELK_RETURN_IF_FAILED(WideFromNarrow(server_path.data(), server_path.size(), &path));
  try {
    *command = L"\"" + path + L"\"" + kServiceSwitch;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT QueryServerService(ServiceState* state, std::wstring* command) {
  UniqueServiceHandle service;
  ZELK_RETURN_IF_FAILED(OpenServerService(SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS, &service));
  if (!service) {
    *state = ServiceState::kAbsent;
    return S_OK;
  }
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(service.get(), &status)) return StatusFromLastError();
  ZELK_RETURN_IF_FAILED(ReadServiceCommand(service.get(), command));
  *state = StateFromStatus(status.dwCurrentState);
  return S_OK;
}

HRESULT InstallServerService(const std::wstring& command) {
  UniqueServiceHandle manager;
  ZELK_RETURN_IF_FAILED(OpenManager(SC_MANAGER_CREATE_SERVICE, &manager));
  UniqueServiceHandle service(CreateServiceW(
      manager.get(), kServiceName, kServiceName, SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
      SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr, nullptr,
      kServiceAccount, L""));
  return service ? S_OK : StatusFromLastError();
}

HRESULT StopServerService() {
  UniqueServiceHandle service;
  ZELK_RETURN_IF_FAILED(OpenServerService(SERVICE_STOP | SERVICE_QUERY_STATUS, &service));
  if (service) ZELK_RETURN_IF_FAILED(StopUntilStopped(service.get()));
  // SERVICE_STOPPED comes just before the process leaves.
  return WaitForServerExit(false);
}

HRESULT DeleteServerService() {
  ZELK_RETURN_IF_FAILED(StopServerService());
  UniqueServiceHandle service;
  ZELK_RETURN_IF_FAILED(OpenServerService(DELETE, &service));
  if (!service) return S_OK;
  return DeleteService(service.get()) ? S_OK : StatusFromLastError();
}

}  // namespace bench
}  // namespace zelk
