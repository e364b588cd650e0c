// Who the machine-wide server is and who may reach it: the service's name, its
// service SID, the security descriptors of its AppID, and the process-wide
// COM security it runs with.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {

constexpr const wchar_t kServiceName[] = L"ZelkAdmin";

// The service SID ("S-1-5-80-...") of a service name, computed as the service
// control manager computes it: the SHA-1 of the upper-cased name in UTF-16LE,
// read as five 32-bit little-endian sub-authorities. Computed rather than
// looked up, because Wine knows no "NT SERVICE\" accounts. *sid is untouched
// on failure.
HRESULT ServiceSidText(const wchar_t* service_name, std::wstring* sid);

// The self-relative security descriptor an SDDL text describes, as bytes.
HRESULT DescriptorFromSddl(const wchar_t* sddl, std::string* descriptor);

// The AppID's LaunchPermission and AccessPermission: local interactive users,
// SYSTEM and administrators may launch and activate the server locally and
// call it; nobody has a remote right.
HRESULT LaunchPermissionDescriptor(std::string* descriptor);
HRESULT AccessPermissionDescriptor(std::string* descriptor);

// The service's process-wide COM security: callers authenticated with packet
// integrity at least, impersonated at identify level only, checked against
// the same access list as the AppID's AccessPermission. Call once, after the
// apartment is set up and before the class object is published.
HRESULT InitializeServiceCallSecurity();

}  // namespace zelk
