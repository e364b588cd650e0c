// The server as a process: finding it, waiting for it to leave, starting it
// the way COM does, without COM's polling, and running its registrations.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "platform/unique_resource.h"

namespace zelk {
namespace bench {

// The ZelkAdmin.exe processes of this Wine session (or Windows session).
HRESULT CountServerProcesses(size_t* count);

// Waits until no ZelkAdmin.exe process is left: the server loads the safe
// list only when it starts, and leaves about six seconds after its last
// client. `interruptible`: give up at Ctrl+C (kStoppedStatus).
// HRESULT_FROM_WIN32(ERROR_TIMEOUT) when a server is still there.
HRESULT WaitForServerExit(bool interruptible);

// Waits until the running server first waits for messages, which it does
// only once its class object is published. ERROR_NOT_FOUND when no server
// runs.
HRESULT WaitForServerReady();

// Starts the registered server as COM would (its LocalServer32 command with
// " -Embedding") and waits until its main thread first waits for messages,
// which it does only once its class object is published. Under Wine,
// CoCreateInstance looks for a starting server's class only once a second;
// this shows what the server itself takes.
HRESULT LaunchServerAndWaitReady(UniqueHandle* process);

// The registered server's executable: the class's LocalServer32 value.
HRESULT ReadServerPath(std::string* path);

// Runs the server at `server_path` with one registration switch
// ("/RegServer", "/RegService", "/UnregServer") and waits until it is done;
// its exit code is the status.
HRESULT RunServerSwitch(const std::string& server_path, const char* switch_text);

}  // namespace bench
}  // namespace zelk
