// The tool's command line: its arguments as wide text, and the readers for the
// values an administrator types (flags, counts, help requests).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace zelk {
namespace ctl {

// The process's arguments after the program name, split by the same rules as
// every other Windows program. S_OK or the failure of the split.
HRESULT ReadProcessArguments(std::vector<std::wstring>* arguments);

// Compares with ASCII letters folded, so that names and keywords match in any
// letter case whatever the user's locale.
bool EqualsIgnoringCase(const std::wstring& text, const wchar_t* keyword);

// --help, -h, -? and /? all ask for help.
bool IsHelpRequest(const std::wstring& argument);

// on/off, true/false and 1/0, in any letter case.
bool ParseFlag(const std::wstring& text, bool* value);

// A decimal number with an optional sign that fits a signed 32-bit long;
// nothing else (no blanks, no trailing text).
bool ParseLong(const std::wstring& text, long* value);

}  // namespace ctl
}  // namespace zelk
