// Process entry of ZelkAdmin.exe: register, unregister, or serve clients,
// started by COM or as the service. The exit code is the run's status, or -1
// when the process could not set up its apartment.
#include <windows.h>

#include "server/command_line.h"
#include "server/registration.h"
#include "server/server_module.h"
#include "server/service_host.h"
#include "server/service_registration.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*arguments*/,
                   int /*show*/) {
  const zelk::CommandLineAction action = zelk::ScanCommandLine(GetCommandLineA());
  // Before this thread has an apartment: the service's own thread runs the
  // server. Started by hand with the switch, the process serves as usual.
  if (action == zelk::CommandLineAction::kRunService) {
    HRESULT status = S_OK;
    if (zelk::RunAsService(&status)) return status;
  }

  // The module lives for the whole entry, so its termination callbacks run
  // before any process-wide static they refer to is destroyed. Started by COM
  // for one user, the server serves that user's session only.
  zelk::ServerModule module(zelk::CallerSessions::kOne);
  if (module.init_failed()) return -1;

  switch (action) {
    case zelk::CommandLineAction::kRegister:
      return zelk::RunRegistration();
    case zelk::CommandLineAction::kRegisterService:
      return zelk::RunServiceRegistration();
    case zelk::CommandLineAction::kUnregister:
      return zelk::RunUnregistration();
    case zelk::CommandLineAction::kRunServer:
    case zelk::CommandLineAction::kRunService:
      break;
  }
  return module.RunServer();
}
