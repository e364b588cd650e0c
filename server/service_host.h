// The server hosted in an own-process Windows service: the same server run as
// a start by COM, with its state reported to the service control manager.
#pragma once

#include <windows.h>

namespace zelk {

// Connects to the service control manager and runs the service until it
// stops; *status is then the run's status (the exit code). Returns false, with
// *status untouched, when the process was not started as a service (there is
// no service controller to connect to): the caller then runs as usual.
bool RunAsService(HRESULT* status);

}  // namespace zelk
