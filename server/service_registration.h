// The machine-wide registration (/RegService), run by the package as
// LocalSystem once the service is installed: everything /RegServer writes,
// plus activation through the service, the service's identity, the access
// lists that leave the service the only writer of the store, and the log in
// the common application data folder.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {

constexpr const char kLogFolderName[] = "Zelk";

// The machine-wide log folder, <CommonAppData>\Zelk, and the log file in it.
// Fails with HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE) when the file's
// path is longer than a registry string this program can read back.
HRESULT GetSharedLogPaths(std::string* folder, std::string* file);

// The whole run of /RegService. Without the service installed it registers
// all the rest and leaves the service's configuration alone.
HRESULT RunServiceRegistration();

}  // namespace zelk
