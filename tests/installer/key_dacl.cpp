// key_dacl SDDL: gives the settings key the access list of an SDDL string, so
// that the installer tests can make registration fail the way a locked-down
// machine would. The exit code is the status (0 for success).
#include <windows.h>

#include <sddl.h>

#include "platform/registry_key.h"
#include "platform/settings_layout.h"
#include "platform/status.h"

int main(int argc, char** argv) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (argc != 2 || !ConvertStringSecurityDescriptorToSecurityDescriptorA(argv[1], SDDL_REVISION_1,
                                                                         &descriptor, nullptr)) {
    return E_INVALIDARG;
  }
  zelk::RegistryKey key;
  HRESULT status = key.Open(HKEY_LOCAL_MACHINE, zelk::kSettingsKeyPath, READ_CONTROL | WRITE_DAC);
  if (SUCCEEDED(status)) {
    const LONG result = RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor);
    if (result != ERROR_SUCCESS) status = zelk::StatusFromWin32(result);
  }
  LocalFree(descriptor);
  return status;
}
