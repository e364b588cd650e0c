// Process entry of ZelkAdmin.exe: register, unregister, or serve clients.
// The exit code is the run's status, or -1 when the process could not set up
// its apartment.
#include <windows.h>

#include "server/command_line.h"
#include "server/registration.h"
#include "server/server_module.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*arguments*/,
                   int /*show*/) {
  // The module lives for the whole entry, so its termination callbacks run
  // before any process-wide static they refer to is destroyed.
  zelk::ServerModule module;
  if (module.init_failed()) return -1;

  switch (zelk::ScanCommandLine(GetCommandLineA())) {
    case zelk::CommandLineAction::kRegister:
      return zelk::RunRegistration();
    case zelk::CommandLineAction::kUnregister:
      return zelk::RunUnregistration();
    case zelk::CommandLineAction::kRunServer:
      break;
  }
  return module.RunServer();
}
