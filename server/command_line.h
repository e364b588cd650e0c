// The registration switches of the command line.
#pragma once

namespace zelk {

enum class CommandLineAction { kRunServer, kRegister, kUnregister };

// The position just after the first character of `text` that is one of
// `delimiters`, stepping a double-byte character as one; null when none.
const char* FindNextSwitch(const char* text, const char* delimiters);

// True when the switch text starts with `word` (ignoring letter case) followed
// by the end of the text, a space or a tab.
bool SwitchEquals(const char* switch_text, const char* word);

// Scans the whole command line, program path included: every '-' or '/' starts
// a candidate, and the leftmost "RegServer" or "UnregServer" decides.
//   "app.exe /RegServer"            -> kRegister
//   "app.exe -unregserver /regserver" -> kUnregister
//   "app.exe /RegServerX"           -> kRunServer
//   "app.exe \"/RegServer\""        -> kRunServer (the quote follows the word)
CommandLineAction ScanCommandLine(const char* command_line);

}  // namespace zelk
