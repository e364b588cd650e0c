#include "server/service_registration.h"

#include <aclapi.h>
#include <shlobj.h>
#include <winsvc.h>

#include <new>

#include "platform/registry_key.h"
#include "platform/settings_layout.h"
#include "platform/status.h"
#include "platform/unique_resource.h"
#include "server/registration.h"
#include "server/service_identity.h"

namespace zelk {

namespace {

// The settings key and everything below it (the SafeList tree): SYSTEM and
// administrators full control, the service read and write, users read. The
// service also needs DELETE, since removing a safe-list entry deletes its
// subkey (KEY_READ | KEY_WRITE | DELETE = 0x3001F). Protected, so that the
// read-only grant Users inherit from HKLM\Software is the only one they have.
HRESULT SettingsKeySddl(const std::wstring& service_sid, std::wstring* sddl) {
  try {
    *sddl = L"D:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;0x3001F;;;" + service_sid + L")(A;CI;KR;;;BU)";
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// The log folder and the files in it: SYSTEM, administrators and the service
// modify rights (0x1301BF), users read.
HRESULT LogFolderSddl(const std::wstring& service_sid, std::wstring* sddl) {
  try {
    *sddl = L"D:P(A;OICI;0x1301BF;;;SY)(A;OICI;0x1301BF;;;BA)(A;OICI;0x1301BF;;;" + service_sid +
            L")(A;OICI;FR;;;BU)";
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// The DACL an SDDL text describes; it lives in *descriptor's bytes.
HRESULT DaclFromSddl(const std::wstring& sddl, std::string* descriptor, PACL* dacl) {
  ZELK_RETURN_IF_FAILED(DescriptorFromSddl(sddl.c_str(), descriptor));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorDacl(&(*descriptor)[0], &present, dacl, &defaulted)) {
    return StatusFromLastError();
  }
  return present && *dacl != nullptr ? S_OK : E_INVALIDARG;
}

constexpr SECURITY_INFORMATION kProtectedDacl =
    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;

// SetSecurityInfo, unlike RegSetKeySecurity, carries the inheritable entries
// down to the SafeList entries that exist already. The key is opened as the
// server opens it, so this is the registry view the server uses.
HRESULT ProtectSettingsKey(const std::wstring& service_sid) {
  std::wstring sddl;
  ZELK_RETURN_IF_FAILED(SettingsKeySddl(service_sid, &sddl));
  std::string descriptor;
  PACL dacl = nullptr;
  ZELK_RETURN_IF_FAILED(DaclFromSddl(sddl, &descriptor, &dacl));
  RegistryKey key;
  ZELK_RETURN_IF_FAILED(
      key.Open(HKEY_LOCAL_MACHINE, kSettingsKeyPath, kReadAccess | READ_CONTROL | WRITE_DAC));
  const DWORD result =
      SetSecurityInfo(key.get(), SE_REGISTRY_KEY, kProtectedDacl, nullptr, nullptr, dacl, nullptr);
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(static_cast<LONG>(result));
}

HRESULT PrepareLogFolder(std::string folder, const std::wstring& service_sid) {
  if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    return StatusFromLastError();
  }
  std::wstring sddl;
  ZELK_RETURN_IF_FAILED(LogFolderSddl(service_sid, &sddl));
  std::string descriptor;
  PACL dacl = nullptr;
  ZELK_RETURN_IF_FAILED(DaclFromSddl(sddl, &descriptor, &dacl));
  const DWORD result = SetNamedSecurityInfoA(&folder[0], SE_FILE_OBJECT, kProtectedDacl, nullptr,
                                             nullptr, dacl, nullptr);
  return result == ERROR_SUCCESS ? S_OK : StatusFromWin32(static_cast<LONG>(result));
}

// An answer that says the service control manager does not know the
// configuration level at all. Windows knows both levels used here since
// Vista; Wine 8's answers ERROR_INVALID_LEVEL. The service then runs with the
// account's full token, which is all such a manager can do.
bool IsUnsupportedLevel(DWORD error) {
  return error == ERROR_INVALID_LEVEL || error == ERROR_CALL_NOT_IMPLEMENTED;
}

HRESULT ChangeServiceConfigLevel(SC_HANDLE service, DWORD level, void* information) {
  if (ChangeServiceConfig2W(service, level, information)) return S_OK;
  if (IsUnsupportedLevel(GetLastError())) return S_OK;
  return StatusFromLastError();
}

// The service's token gets its service SID (the one the access lists above
// name) and, of the account's privileges, only SeChangeNotifyPrivilege.
HRESULT ConfigureServiceToken(SC_HANDLE service) {
  SERVICE_SID_INFO sid_info = {SERVICE_SID_TYPE_UNRESTRICTED};
  ZELK_RETURN_IF_FAILED(
      ChangeServiceConfigLevel(service, SERVICE_CONFIG_SERVICE_SID_INFO, &sid_info));
  wchar_t privileges[] = L"SeChangeNotifyPrivilege\0";  // a list, ending with an empty name
  SERVICE_REQUIRED_PRIVILEGES_INFOW privilege_info = {privileges};
  return ChangeServiceConfigLevel(service, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO,
                                  &privilege_info);
}

// A registration before the service is installed leaves its configuration to
// a later run.
HRESULT ConfigureInstalledService() {
  UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return StatusFromLastError();
  UniqueServiceHandle service(OpenServiceW(manager.get(), kServiceName, SERVICE_CHANGE_CONFIG));
  if (!service) {
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? S_OK : StatusFromLastError();
  }
  return ConfigureServiceToken(service.get());
}

}  // namespace

HRESULT GetSharedLogPaths(std::string* folder, std::string* file) {
  char common_app_data[MAX_PATH];
  ZELK_RETURN_IF_FAILED(
      SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common_app_data));
  try {
    std::string log_folder = std::string(common_app_data) + "\\" + kLogFolderName;
    std::string log_file = log_folder + "\\" + kLogFileName;
    if (log_file.size() >= kRegistryStringBufferBytes) {
      return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    folder->swap(log_folder);
    file->swap(log_file);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT RunServiceRegistration() {
  std::string log_folder;
  std::string log_file;
  ZELK_RETURN_IF_FAILED(GetSharedLogPaths(&log_folder, &log_file));
  std::wstring service_sid;
  ZELK_RETURN_IF_FAILED(ServiceSidText(kServiceName, &service_sid));
  ZELK_RETURN_IF_FAILED(RegisterServer(log_file));
  ZELK_RETURN_IF_FAILED(ApplyServiceScript(true));
  ZELK_RETURN_IF_FAILED(ConfigureInstalledService());
  ZELK_RETURN_IF_FAILED(ProtectSettingsKey(service_sid));
  return PrepareLogFolder(log_folder, service_sid);
}

}  // namespace zelk
