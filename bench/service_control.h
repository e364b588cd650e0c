// The ZelkAdmin service, through the service control manager, as the
// benchmark uses it: installed as the package installs it (own process,
// demand start, NT AUTHORITY\LocalService), stopped to make the next
// activation a cold one, and deleted again.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {
namespace bench {

enum class ServiceState { kAbsent, kStopped, kRunning, kChanging };

// The command line the service runs `server_path` with: quoted, " -Service".
HRESULT ServiceCommandFor(const std::string& server_path, std::wstring* command);

// The service's state and, when it exists, its command line. Outputs are
// untouched on failure.
HRESULT QueryServerService(ServiceState* state, std::wstring* command);

// Creates the service with `command`. HRESULT_FROM_WIN32(ERROR_SERVICE_EXISTS)
// when there is one already.
HRESULT InstallServerService(const std::wstring& command);

// Asks a running service to stop, waits until it reports SERVICE_STOPPED and
// until no ZelkAdmin.exe process is left (WaitForServerExit). S_OK at once
// when the service is absent or stopped and no server runs.
HRESULT StopServerService();

// StopServerService, then deletes the service. S_OK when there is none.
HRESULT DeleteServerService();

}  // namespace bench
}  // namespace zelk
