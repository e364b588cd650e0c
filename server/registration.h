// Self-registration: the two registry scripts carried as resources, the type
// library carried as TYPELIB 1, and the program's own registration hooks
// (default settings, log file).
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace zelk {

constexpr UINT kAppIdScriptResource = 101;
constexpr UINT kClassScriptResource = 102;
// The AppID values that hand activation to the service: only the machine-wide
// registration writes them, every unregistration removes them.
constexpr UINT kServiceScriptResource = 103;
constexpr const wchar_t kAppId[] = L"{324BEFAA-7245-4174-9D20-261A99027712}";
constexpr const char kLogFileName[] = "Zelk.log";

using Replacements = std::vector<std::pair<std::wstring, std::wstring>>;

// The running executable's full path. Fails with the last error's status, or
// with HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) when it does not fit in
// MAX_PATH; *path is untouched on failure.
HRESULT GetModulePath(std::string* path);

// The log file's default path: the executable's folder and "Zelk.log". Fails
// with HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE) when that is longer than
// a registry string this program can read back (259 bytes).
HRESULT GetDefaultLogFilePath(std::string* path);

// Runs one "REGISTRY" resource of the executable in either direction, with the
// caller's replacements followed by APPID and Module.
HRESULT ApplyScript(UINT resource_id, bool register_mode, const Replacements& extra);

HRESULT RegisterTypeLibrary();
HRESULT UnregisterTypeLibrary();

// Runs the service script (the AppID's LocalService and its launch and access
// permissions) in either direction.
HRESULT ApplyServiceScript(bool register_mode);

// What every registration does: the AppID, the class, the type library, and
// the default settings with `log_file_path` as the LogFile value.
HRESULT RegisterServer(const std::string& log_file_path);

// The whole runs of /RegServer and /UnregServer.
HRESULT RunRegistration();
HRESULT RunUnregistration();

}  // namespace zelk
