// What zelkctl learns about the registered server from the registry and the
// service control manager rather than through the interface: the registry
// view that holds its registration and its data, and how it is hosted.
//
// On 64-bit Windows a 32-bit server has its class registration and its
// settings key in the 32-bit view (WOW6432Node), whatever the bitness of the
// program that reads them: every registry read of zelkctl goes through
// OpenServerKey, in the view of the server that COM activates.
#pragma once

#include <windows.h>

#include <string>

#include "platform/registry_key.h"

namespace zelk {
namespace ctl {

// The view (KEY_WOW64_64KEY or KEY_WOW64_32KEY) whose HKEY_CLASSES_ROOT holds
// the ZelkHelper class: this program's own view first, as COM activates a
// server of its client's bitness when both are registered, then the other.
// On 32-bit Windows both name the one view. REGDB_E_CLASSNOTREG when neither
// holds the class; *view is untouched on failure.
HRESULT RegisteredServerView(REGSAM* view);

// Opens `path` under `root` (HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT) for
// reading, in the registered server's view.
HRESULT OpenServerKey(HKEY root, const char* path, RegistryKey* key);

struct ServerHosting {
  // The service named by the class's AppID (its LocalService value); empty
  // for a per-user server, which COM starts from LocalServer32.
  std::wstring service;
  bool installed = false;  // the service control manager knows the service
  DWORD state = 0;         // SERVICE_STOPPED ... SERVICE_PAUSED, when installed
};

// How the registered server is hosted. *hosting is untouched on failure.
HRESULT QueryServerHosting(ServerHosting* hosting);

// The hosting as "zelkctl status" shows it:
//   "service ZelkAdmin (running)", "service ZelkAdmin (not installed)",
//   "per user (no service registered)".
std::wstring HostingText(const ServerHosting& hosting);

}  // namespace ctl
}  // namespace zelk
