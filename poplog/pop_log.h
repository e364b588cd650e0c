// The pop-up log: a text file of HTML table rows, one per blocked pop-up, kept
// at the path in the settings key's LogFile value and bounded by its LogCount.
//
// Each operation opens the settings key and the file itself and closes both
// before it returns; nothing is cached between calls, so the LogPopup value
// in the registry decides at every call whether anything is recorded. Text is
// narrow (ANSI code page); the automation layer converts at the interface.
#pragma once

#include <windows.h>

#include <string>

namespace zelk {

// Records one blocked pop-up at the current local time: appends its entry row
// (and, for the entry that passes the count limit, the limit row) and then
// writes the incremented count back. S_OK without touching anything when
// logging is off or the log is full. pop_url is nullptr when the client passed
// no pop-up URL. A failure to open, write or close the file, or to write the
// count, is returned as a failure; the count is only raised after the row is
// safely written.
// Where the LogPopup switch comes from: the settings key, or machine policy,
// which has it on whatever the key holds.
enum class LogSwitch { kStoredSetting, kManagedOn };

HRESULT AppendPopupEntry(const std::string* pop_url, const std::string& src_url,
                         LogSwitch logging = LogSwitch::kStoredSetting);

// The same, at the given local time.
HRESULT AppendPopupEntry(const std::string* pop_url, const std::string& src_url,
                         const SYSTEMTIME& local_time,
                         LogSwitch logging = LogSwitch::kStoredSetting);

// The log as the client sees it: the file's text as read in text mode (line
// ends as LF, the text ends at a Ctrl-Z or at the first NUL), or the
// empty-log row when the file cannot be opened. *text is untouched on failure.
HRESULT ReadLog(std::string* text);

// Deletes the file and resets the count. A file that does not exist counts as
// deleted. A file that cannot be deleted (held open by another program,
// read-only) fails the call with nothing changed, so the count keeps matching
// the rows in the file.
HRESULT ClearLog();

}  // namespace zelk
