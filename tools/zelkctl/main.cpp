// zelkctl: the administrator's command-line tool for ZelkAdmin. It drives the
// server through IZelkHelper like any other client, out of process.
#include <windows.h>

#include <exception>
#include <new>
#include <string>
#include <vector>

#include "tools/zelkctl/arguments.h"
#include "tools/zelkctl/commands.h"
#include "tools/zelkctl/console.h"
#include "tools/zelkctl/server_session.h"

namespace zelk {
namespace ctl {
namespace {

int Run() {
  Console console;
  std::vector<std::wstring> arguments;
  const HRESULT status = ReadProcessArguments(&arguments);
  if (FAILED(status)) {
    console.Err(L"zelkctl: reading the command line failed: " + HexStatus(status) + L" " +
                SystemMessage(status) + L"\n");
    return kExitFailure;
  }
  int exit_code = kExitFailure;
  {
    // Closed before the exit code is settled: the server connection is
    // released here, and nothing more is written after it.
    ServerSession server;
    exit_code = RunCommandLine(arguments, &console, &server);
  }
  // Output that did not arrive cannot count as success.
  return console.failed() && exit_code == kExitSuccess ? kExitFailure : exit_code;
}

}  // namespace
}  // namespace ctl
}  // namespace zelk

int main() {
  try {
    return zelk::ctl::Run();
  } catch (const std::bad_alloc&) {
    zelk::ctl::ReportOutOfMemory();
  } catch (const std::exception&) {
    // Only the standard library throws here, and only for sizes past what
    // memory holds; report it as the out-of-memory it is.
    zelk::ctl::ReportOutOfMemory();
  }
  return zelk::ctl::kExitFailure;
}
