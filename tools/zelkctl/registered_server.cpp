#include "tools/zelkctl/registered_server.h"

#include <objbase.h>
#include <winsvc.h>

#include <utility>

#include "platform/status.h"
#include "platform/text.h"
#include "platform/unique_resource.h"
#include "zelk_admin.h"

namespace zelk {
namespace ctl {

namespace {

#ifdef _WIN64
constexpr REGSAM kOwnView = KEY_WOW64_64KEY;
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kOwnView = KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

// "CLSID\{65134986-...}" under HKEY_CLASSES_ROOT.
HRESULT ClassKeyPath(std::string* path) {
  wchar_t clsid[40];
  if (StringFromGUID2(CLSID_ZelkHelper, clsid, 40) == 0) return E_UNEXPECTED;
  std::string text;
  ZELK_RETURN_IF_FAILED(NarrowFromWide(clsid, &text));
  *path = "CLSID\\" + text;
  return S_OK;
}

HRESULT OpenClassKey(REGSAM view, RegistryKey* key) {
  std::string path;
  ZELK_RETURN_IF_FAILED(ClassKeyPath(&path));
  return key->Open(HKEY_CLASSES_ROOT, path.c_str(), kReadAccess | view);
}

// The service named by the class's AppID; empty when the AppID has no
// LocalService value, or the class no AppID.
HRESULT ReadLocalService(std::string* service) {
  std::string class_path;
  ZELK_RETURN_IF_FAILED(ClassKeyPath(&class_path));
  RegistryKey class_key;
  ZELK_RETURN_IF_FAILED(OpenServerKey(HKEY_CLASSES_ROOT, class_path.c_str(), &class_key));
  std::string app_id;
  HRESULT status = class_key.ReadString("AppID", &app_id);
  if (IsNotFound(status)) {
    service->clear();
    return S_OK;
  }
  ZELK_RETURN_IF_FAILED(status);
  RegistryKey app_key;
  status = OpenServerKey(HKEY_CLASSES_ROOT, ("AppID\\" + app_id).c_str(), &app_key);
  if (SUCCEEDED(status)) status = app_key.ReadString("LocalService", service);
  if (IsNotFound(status)) {
    service->clear();
    return S_OK;
  }
  return status;
}

// *installed false, and no state, when the manager knows no such service.
HRESULT QueryServiceState(const std::wstring& service, bool* installed, DWORD* state) {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return StatusFromLastError();
  UniqueServiceHandle handle(OpenServiceW(manager.get(), service.c_str(), SERVICE_QUERY_STATUS));
  if (!handle) {
    if (GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST) return StatusFromLastError();
    *installed = false;
    return S_OK;
  }
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(handle.get(), &status)) return StatusFromLastError();
  *installed = true;
  *state = status.dwCurrentState;
  return S_OK;
}

const wchar_t* StateWord(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return L"stopped";
    case SERVICE_START_PENDING: return L"starting";
    case SERVICE_STOP_PENDING: return L"stopping";
    case SERVICE_RUNNING: return L"running";
    case SERVICE_CONTINUE_PENDING: return L"continuing";
    case SERVICE_PAUSE_PENDING: return L"pausing";
    case SERVICE_PAUSED: return L"paused";
    default: return nullptr;
  }
}

}  // namespace

HRESULT RegisteredServerView(REGSAM* view) {
  for (const REGSAM candidate : {kOwnView, kOtherView}) {
    RegistryKey key;
    const HRESULT status = OpenClassKey(candidate, &key);
    if (SUCCEEDED(status)) {
      *view = candidate;
      return S_OK;
    }
    if (!IsNotFound(status)) return status;
  }
  return REGDB_E_CLASSNOTREG;
}

HRESULT OpenServerKey(HKEY root, const char* path, RegistryKey* key) {
  REGSAM view = 0;
  ZELK_RETURN_IF_FAILED(RegisteredServerView(&view));
  return key->Open(root, path, kReadAccess | view);
}

HRESULT QueryServerHosting(ServerHosting* hosting) {
  std::string narrow;
  ZELK_RETURN_IF_FAILED(ReadLocalService(&narrow));
  ServerHosting found;
  ZELK_RETURN_IF_FAILED(WideFromNarrow(narrow.data(), narrow.size(), &found.service));
  if (!found.service.empty()) {
    ZELK_RETURN_IF_FAILED(QueryServiceState(found.service, &found.installed, &found.state));
  }
  *hosting = std::move(found);
  return S_OK;
}

std::wstring HostingText(const ServerHosting& hosting) {
  if (hosting.service.empty()) return L"per user (no service registered)";
  std::wstring text = L"service " + hosting.service + L" (";
  if (!hosting.installed) return text + L"not installed)";
  const wchar_t* word = StateWord(hosting.state);
  return text + (word != nullptr ? word : L"state " + std::to_wstring(hosting.state)) + L")";
}

}  // namespace ctl
}  // namespace zelk
